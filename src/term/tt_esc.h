// The VT100 and ANSI escape sequences that reach a terminal session, applied
// to its screen. User-interface thread only.
#pragma once
#include <cstdint>

#include "term/tt_screen.h"

constexpr int kTtMaxParams = 8;
constexpr int kTtParamMax = 16383;  // digit runs saturate here
constexpr int kTtOscMax = 4096;     // a longer operating-system command is dropped

// `bytes` are the bytes after an ESC, `count` how many there are. Returns how
// many of them the sequence used (the caller skips the ESC and that many), or
// 0 when it needs more bytes than there are (or count < 1).
int tt_interpret(tt_session *s, const uint8_t *bytes, int count);
