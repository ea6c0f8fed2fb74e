// Scratch strings: four 65536-byte buffers that formatting code borrows for
// the length of one call, and the joined title and text of an alert.
#pragma once

constexpr int kStrbufCount = 4;
constexpr int kStrbufSize = 65536;

// 0, or -1 after ERROR "can't alloc %db strbuf #%d".
int strbuf_init(void);
// Buffer i (0-3); no check.
char *strbuf_get(int i);
void strbuf_fini(void);
// "title\n\ntext", or the one given, or ""; a static 4096-byte buffer.
const char *text_join(const char *title, const char *text);
