// Text helpers for HTTP headers: case-insensitive search, copying one value
// out of a header, base64 both ways, lower-case hex and in-place replacement.
// Nothing here allocates; every routine that writes into a caller's buffer
// whose fill depends on outside input (a proxy's challenge, a replacement
// that grows the text) is told the buffer's size and refuses to pass it.
// Letter case is folded for ASCII only, the way HTTP header names compare.
#include "strutil.h"

#include <cstring>

#include "log.h"

static const char kSrc[] = "src/strutil";

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789abcdef";

// Decoding table: 0..63 for alphabet characters, kPad for '=', kStop otherwise.
constexpr int8_t kPad = -2;
constexpr int8_t kStop = -1;

struct decode_table {
  int8_t v[256];
  constexpr decode_table() : v() {
    for (int i = 0; i < 256; i++) v[i] = kStop;
    for (int i = 0; i < 64; i++) v[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
    v[static_cast<uint8_t>('=')] = kPad;
  }
};
constexpr decode_table kDecode;

inline unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// True when the n bytes at a and b are equal ignoring ASCII case; stops at
// the first difference, so a shorter terminated `a` is never read past.
bool same_folded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

const char* search_folded(const char* text, size_t text_len, const char* word) {
  size_t n = strlen(word);
  if (n > text_len) return nullptr;
  for (size_t i = 0; i + n <= text_len; i++)
    if (same_folded(text + i, word, n)) return text + i;
  return nullptr;
}

}  // namespace

const char* strutil_strcasestr(const char* text, const char* word) {
  return search_folded(text, strlen(text), word);
}

const char* strutil_strncasestr(const char* text, int32_t length, const char* word) {
  if (length < 0) length = 0;
  return search_folded(text, static_cast<size_t>(length), word);
}

void strutil_copy_word(char* dst, const char* src, int32_t size) {
  if (size < 1) return;
  const char* begin = src;
  const char* end;
  if (src[0] == '"') {
    begin = src + 1;
    end = strchr(begin, '"');
    if (!end) {
      log(LOG_WARN, kSrc, "missing terminating quote");
      end = begin + strlen(begin);
    }
  } else if (src[0] == '\0') {
    end = src;
  } else {
    end = strchr(src + 1, ' ');
    if (!end) end = src + strlen(src);
  }
  size_t n = static_cast<size_t>(end - begin);
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  memcpy(dst, begin, n);
  dst[n] = '\0';
}

int strutil_auth_param(char* dst, int32_t size, const char* text, const char* name) {
  size_t name_len = strlen(name);
  bool quoted = false;
  const char* found = nullptr;
  for (const char* p = text; *p; p++) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted) continue;
    bool at_start = p == text || p[-1] == ' ' || p[-1] == '\t' || p[-1] == ',';
    if (at_start && same_folded(p, name, name_len)) {
      found = p + name_len;
      break;
    }
  }
  if (!found) return 0;

  const char* begin = found;
  const char* end;
  if (*found == '"') {
    begin = found + 1;
    end = strchr(begin, '"');
    if (!end) {
      log(LOG_WARN, kSrc, "missing terminating quote");
      end = begin + strlen(begin);
    }
  } else {
    end = begin + strcspn(begin, " \t,\r\n");
  }
  size_t n = static_cast<size_t>(end - begin);
  if (size < 1 || n > static_cast<size_t>(size - 1)) {
    log(LOG_ERROR, kSrc, "%s value of %zu characters is longer than %d", name, n, size < 1 ? 0 : size - 1);
    return -1;
  }
  for (size_t i = 0; i < n; i++) {
    if (begin[i] == '\r' || begin[i] == '\n' || begin[i] == '"') {
      log(LOG_ERROR, kSrc, "%s value holds a line break or quote", name);
      return -1;
    }
  }
  memcpy(dst, begin, n);
  dst[n] = '\0';
  return 1;
}

void strutil_base64_encode(char* dst, const void* data, int32_t length) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  int32_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    *dst++ = kBase64Alphabet[(v >> 18) & 63];
    *dst++ = kBase64Alphabet[(v >> 12) & 63];
    *dst++ = kBase64Alphabet[(v >> 6) & 63];
    *dst++ = kBase64Alphabet[v & 63];
  }
  int32_t rest = length - i;
  if (rest > 0) {
    uint32_t v = uint32_t{in[i]} << 16;
    if (rest == 2) v |= uint32_t{in[i + 1]} << 8;
    *dst++ = kBase64Alphabet[(v >> 18) & 63];
    *dst++ = kBase64Alphabet[(v >> 12) & 63];
    *dst++ = rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    *dst++ = '=';
  }
  *dst = '\0';
}

int32_t strutil_base64_decode(void* dst, int32_t cap, const char* text) {
  uint8_t* out = static_cast<uint8_t*>(dst);
  int32_t produced = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (;;) {
    uint32_t v = 0;
    int chars = 0;  // characters of this group read, padding included
    int pads = 0;
    while (chars < 4) {
      int8_t d = kDecode.v[*p];
      // A NUL and every character outside the alphabet map to kStop; a
      // group may not start with padding.
      if (d == kStop || (d == kPad && chars == 0)) break;
      v = (v << 6) | static_cast<uint32_t>(d == kPad ? 0 : d);
      if (d == kPad) pads++;
      chars++;
      p++;
    }
    // A short final group (no padding) still carries whole bytes.
    int count = chars == 4 ? 3 - pads : (chars >= 2 ? chars - 1 - pads : 0);
    if (chars < 4) v <<= 6 * (4 - chars);
    if (count > 0) {
      if (count > cap - produced) {
        log(LOG_ERROR, kSrc, "base64 text decodes to more than %d bytes", cap);
        return -1;
      }
      out[produced++] = static_cast<uint8_t>(v >> 16);
      if (count > 1) out[produced++] = static_cast<uint8_t>(v >> 8);
      if (count > 2) out[produced++] = static_cast<uint8_t>(v);
    }
    if (chars < 4 || pads > 0) break;
  }
  return produced;
}

void strutil_hex_encode(char* dst, const void* data, int32_t length) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  for (int32_t i = 0; i < length; i++) {
    *dst++ = kHexDigits[in[i] >> 4];
    *dst++ = kHexDigits[in[i] & 15];
  }
  *dst = '\0';
}

int32_t strutil_replace_all(char* text, int32_t cap, const char* from, const char* to) {
  size_t from_len = strlen(from);
  size_t to_len = strlen(to);
  if (from_len == 0 || strstr(to, from)) {
    log(LOG_ERROR, kSrc, "can't replace \"%s\" with \"%s\"", from, to);
    return -1;
  }
  if (cap < 1) return -1;
  size_t len = strnlen(text, static_cast<size_t>(cap));
  if (len == static_cast<size_t>(cap)) {
    log(LOG_ERROR, kSrc, "text to replace in is not terminated within %d bytes", cap);
    return -1;
  }
  int32_t count = 0;
  // Searching from the start after every replacement is O(n) per step; the
  // texts this serves are a few hundred bytes, and a replacement may join
  // with the text before it to form a new occurrence, which this catches.
  for (char* at = strstr(text, from); at; at = strstr(text, from)) {
    size_t new_len = len - from_len + to_len;
    if (new_len >= static_cast<size_t>(cap)) {
      log(LOG_ERROR, kSrc, "replacing \"%s\" with \"%s\" needs more than %d bytes", from, to, cap);
      return -1;
    }
    size_t tail = len - static_cast<size_t>(at - text) - from_len + 1;  // with the NUL
    memmove(at + to_len, at + from_len, tail);
    memcpy(at, to, to_len);
    len = new_len;
    count++;
  }
  return count;
}
