// Program-update records. Every name the server sends here ends up naming a
// file, so it is checked as such before it is returned: nothing the server
// sends can name a file outside the update's own directory.
#include "decupdate.h"

#include "decblk.h"
#include "decode.h"
#include "log.h"
#include "strutil.h"

static const char kSrc[] = "src/decupdate";

namespace {

// A string into dst (size bytes with the terminator): bytes used, 0, or -1.
int read_text(const uint8_t* data, int32_t n, char* dst, int32_t size) {
  int32_t got = size;
  const int r = decode_string(data, n, dst, &got);
  if (r < 0) log(LOG_ERROR, kSrc, "failed");
  return r;
}

int read_name(const uint8_t* data, int32_t n, char* dst, int32_t size) {
  const int r = read_text(data, n, dst, size);
  if (r > 0 && !strutil_is_safe_name(dst)) {
    log(LOG_ERROR, kSrc, "bad file name in update");
    return -1;
  }
  return r;
}

}  // namespace

int decupdate_decode_version(const uint8_t* data, int32_t n, char version[kUpdateVersionSize]) {
  return read_name(data, n, version, kUpdateVersionSize);
}

int decupdate_decode_store(const uint8_t* data, int32_t n, char file[kUpdateFileSize], uint32_t* buffer) {
  const int r = read_name(data, n, file, kUpdateFileSize);
  if (r <= 0) return r;
  const int b = decode_vint(data + r, n - r, buffer);
  if (b < 0) log(LOG_ERROR, kSrc, "failed");
  return b <= 0 ? b : r + b;
}

int decupdate_decode_write(const uint8_t* data, int32_t n, char text[kUpdateTextSize]) {
  return read_text(data, n, text, kUpdateTextSize);
}

int decupdate_decode_test(const uint8_t* data, int32_t n, char name[kUpdateTestSize], growbuf* gb) {
  const int r = read_name(data, n, name, kUpdateTestSize);
  if (r <= 0) return r;
  const int32_t before = gb->len;
  const int b = decblk_inflate(data + r, n - r, gb);
  if (b <= 0) return b;
  log(LOG_INFO, kSrc, "received %db test", gb->len - before);
  return r + b;
}

int decupdate_decode_test_delta(const uint8_t* data, int32_t n, char name[kUpdateTestSize], const uint8_t** delta,
                                int32_t* length) {
  const int r = read_name(data, n, name, kUpdateTestSize);
  if (r <= 0) return r;
  uint32_t len;
  const int h = decode_vint(data + r, n - r, &len);
  if (h <= 0) return h;
  if (len > static_cast<uint32_t>(INT32_MAX - r - h)) {
    log(LOG_ERROR, kSrc, "failed");
    return -1;
  }
  if (n - r - h < static_cast<int32_t>(len)) return 0;
  *delta = data + r + h;
  *length = static_cast<int32_t>(len);
  log(LOG_INFO, kSrc, "received %db test delta", *length);
  return r + h + static_cast<int32_t>(len);
}
