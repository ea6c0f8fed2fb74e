// Small text routines shared by the HTTP transport and proxy authentication:
// case-insensitive search, header value copies, base64, hex and replace-all.
// All work on NUL-terminated byte strings in caller-owned buffers.
#pragma once
#include <cstdint>

// First position of `word` in `text`, ignoring ASCII letter case; null when
// absent or when the word is longer than the text. An empty word matches at 0.
const char* strutil_strcasestr(const char* text, const char* word);
// The same over the first `length` bytes of `text`, which need not be
// terminated; those bytes are compared as they are, NULs included.
const char* strutil_strncasestr(const char* text, int32_t length, const char* word);

// Copies one value into `dst` of `size` bytes (size >= 1): a source starting
// with '"' gives what follows up to the next '"' (to the end, with a WARN, when
// there is none); otherwise up to the first space after the first character.
// Longer values are cut to size - 1 characters; the copy is always terminated.
void strutil_copy_word(char* dst, const char* src, int32_t size);

// Finds parameter `name` (including its '=', e.g. "realm=") in the parameter
// list of an HTTP authentication challenge, ignoring case, only at the start
// of a parameter and never inside a quoted value. Its value (quoted: up to the
// closing quote; else up to a blank or comma) goes into `dst` of `size` bytes.
// Returns 1 when copied, 0 when the parameter is absent (dst untouched), -1
// after a log line when the value does not fit or holds CR, LF or '"'.
int strutil_auth_param(char* dst, int32_t size, const char* text, const char* name);

// Standard base64 (RFC 4648 alphabet, '=' padding) of `length` bytes,
// terminated. `dst` needs strutil_base64_size(length) bytes.
void strutil_base64_encode(char* dst, const void* data, int32_t length);
constexpr int32_t strutil_base64_size(int32_t length) { return (length + 2) / 3 * 4 + 1; }
// Decodes base64 text into at most `cap` bytes, stopping at the end of the
// text, at a character outside the alphabet and '=', or after a padded group.
// A final group of two or three characters without padding still gives its
// one or two bytes. Returns the bytes produced, or -1 (logged) when they would
// exceed `cap`.
int32_t strutil_base64_decode(void* dst, int32_t cap, const char* text);

// Two lower-case hex digits per byte, high nibble first, terminated
// (2 * length + 1 bytes).
void strutil_hex_encode(char* dst, const void* data, int32_t length);

// Replaces every occurrence of `from` (not empty) in `text` with `to`, in
// place, searching again from the start after each replacement. `cap` is the
// size of the buffer holding `text`. Returns the number of replacements, or
// -1 (logged) when the grown text would not fit (text is then left with the
// replacements made so far) or when `to` contains `from`, which would never end.
int32_t strutil_replace_all(char* text, int32_t cap, const char* from, const char* to);
