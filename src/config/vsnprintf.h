// The printf of configuration text: the program's own value types (booleans,
// packed times, rectangles, exchanges, instruments) written so that the
// configuration parser reads each back as one word.
#pragma once
#include <cstdarg>
#include <cstdint>

// Formats into buf (size bytes, NUL included). Returns the characters
// written without the NUL, or -1 (logged) when the text and its NUL do not
// fit or the format is bad. A size below 1 is returned as it is and nothing
// is written. Conversions: %% %d %x %f %s %b %Ld %Lu %D %S %T %R %E %I.
int config_vsnprintf(char* buf, int32_t size, const char* fmt, va_list ap);
int config_snprintf(char* buf, int32_t size, const char* fmt, ...);
// The length config_vsnprintf would write given unlimited room, or -1 when
// the format is bad. The measuring pass of the line writer.
int32_t config_vmeasure(const char* fmt, va_list ap);
