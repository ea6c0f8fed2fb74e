// Enumerations stored in configuration text by name: value to name for
// writing, name to value for reading. Each row may carry a legacy name (an
// older form, mostly the old number) that reading still accepts.
#pragma once
#include <cstdint>

// Each _name gives the row's name, or null (logged) for a value without a
// row. Each _parse gives the value, or -1 (logged) for a text that matches
// no row, exactly and case-sensitively.
const char* enum_window_role_name(int32_t value);
int32_t enum_window_role_parse(const char* text);
const char* enum_docwin_role_name(int32_t value);
int32_t enum_docwin_role_parse(const char* text);
const char* enum_window_state_name(int32_t value);
int32_t enum_window_state_parse(const char* text);
const char* enum_ticker_show_type_name(int32_t value);
int32_t enum_ticker_show_type_parse(const char* text);
const char* enum_rsswin_detail_name(int32_t value);
int32_t enum_rsswin_detail_parse(const char* text);

// A window role's name for writing: "none" for a value without a row, so a
// written line never carries a missing name.
const char* enum_window_role_text(int32_t value);
// Window state -1 is "closed", so the parse result cannot also mean failure:
// this form returns 0 with the state in *value, or -1 (logged).
int enum_window_state_lookup(const char* text, int32_t* value);
