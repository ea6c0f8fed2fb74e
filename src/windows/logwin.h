// The log window: a bin holding a terminal into which a 100 ms timer
// replays the program's in-memory log, the newest 100 messages at most,
// each line with its time and first word in white and the rest in its
// level's colour. Main thread only.
#pragma once

#include <cstdint>
#include <ctime>

#include "windows/content.h"

struct terminal;

constexpr int64_t kLogwinTickMs = 100;
constexpr uint32_t kLogwinLines = 100;
constexpr int kLogwinLineBuf = 1024;

struct logwin : content {
  terminal *term;
  uint64_t shown_count;  // the log count already printed; 0 nothing yet
  int32_t timer;         // -1 none
};

typeid_t logwin_type();
widget *logwin_new(widget *parent);
// The timer's body: prints what the log gained since the last call.
// Always 1 (the timer keeps running).
int logwin_print(void *arg, uint32_t n, int64_t elapsed_ms, float elapsed_seconds);
// One message as the timer prints it: a new line, the time and first word
// in white, the rest in the level's colour, then the colour reset. The line
// is cut at 1024 bytes (only what was written is sent).
void logwin_print_line(logwin *lw, time_t when, int level, const char *text);
// Whether a log window was ever opened in this process.
int logwin_was_opened(void);
// The colour sequence of a log level.
const char *logwin_level_colour(int level);
// Test seam: every byte run the window sends its terminal, and every
// clear, is also reported here (null: nothing is reported).
struct logwin_recorder {
  void (*send)(const char *bytes, int n);
  void (*clear)(void);
};
void logwin_set_recorder(const logwin_recorder *r);
