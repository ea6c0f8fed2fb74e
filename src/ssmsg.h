// The client's one-line status text, shown by the login box and the status
// page; set from either thread, read by the user-interface thread.
#pragma once
#include <cstdint>

constexpr int kSsmsgTextMax = 256;  // characters kept; buffers hold one more

// Creates the msg lock and empties the text; -1 after an ERROR line.
int ssmsg_init(void);
void ssmsg_fini(void);
// Sets the text (cut to 256 characters); a changed text is logged at INFO.
void ssmsg_set(const char* text);
void ssmsg_setf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Copies the text into out, which holds at least 257 bytes.
void ssmsg_get(char* out);
