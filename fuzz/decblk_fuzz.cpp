// Runs the block readers over arbitrary bytes and checks the reader contract:
//  - the result is -1, 0 or a byte count no larger than what was available;
//  - the measuring read agrees with the decoding read on the block's size,
//    and on 0 (incomplete);
//  - 0 and -1 leave the output buffer's length and contents as they were;
//  - a block read with n bytes reads the same with exactly n available and
//    is incomplete with n - 1;
//  - the shared and the per-call inflate stream give the same payload;
//  - the same for encrypted blocks (with a fixed test key);
//  - the input itself, framed (and sealed) by the writers, reads back whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dalloc.h"
#include "decblk.h"
#include "encblk.h"
#include "log.h"
#include "plat.h"

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

constexpr char kKeep[] = "keep";
constexpr uint32_t kKeepLen = 4;

growbuf g_a, g_b, g_c;

// Started on the first input rather than by a static initializer, so that no
// module's static state is used before it has been constructed.
bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  uint8_t key[32];
  for (int i = 0; i < 32; i++) key[i] = uint8_t(0xA5 ^ i);
  encblk_set_key(key);
  return codec_init() == 0 && growbuf_init(&g_a, 0, 65536) == 0 && growbuf_init(&g_b, 0, 65536) == 0 &&
         growbuf_init(&g_c, 0, 65536) == 0;
}

void prime(growbuf* gb) {
  growbuf_reset(gb);
  growbuf_append(gb, kKeep, kKeepLen);
}

bool untouched(const growbuf* gb) { return gb->len == int32_t(kKeepLen) && memcmp(gb->data, kKeep, kKeepLen) == 0; }

bool same_payload(const growbuf* a, const growbuf* b) {
  return a->len == b->len && memcmp(a->data, b->data, size_t(a->len)) == 0;
}

typedef int (*reader_fn)(const uint8_t*, int32_t, growbuf*);

int read_encrypted0(const uint8_t* in, int32_t n, growbuf* gb) { return decblk_read_encrypted(0, in, n, gb); }

// One reader over the input, with the contract checks above.
void check_reader(reader_fn read, reader_fn other, const uint8_t* data, int32_t n) {
  const int measured = read(data, n, nullptr);
  prime(&g_a);
  const int r = read(data, n, &g_a);
  CHECK(r >= -1 && r <= n);
  if (r <= 0) {
    CHECK(untouched(&g_a));
    if (measured == 0) CHECK(r == 0);
    if (r == 0) CHECK(measured == 0);
    return;
  }
  CHECK(measured == r);
  prime(&g_b);
  CHECK(read(data, r, &g_b) == r);
  CHECK(same_payload(&g_a, &g_b));
  prime(&g_b);
  CHECK(read(data, r - 1, &g_b) == 0);
  CHECK(untouched(&g_b));
  if (other) {
    prime(&g_b);
    CHECK(other(data, n, &g_b) == r);
    CHECK(same_payload(&g_a, &g_b));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  const int32_t n = int32_t(size);
  check_reader(decblk_read, decblk_inflate, data, n);
  check_reader(read_encrypted0, nullptr, data, n);

  // The input as a payload: framed with the shared and a fresh stream, and
  // sealed with and without its digest, it reads back whole.
  growbuf_reset(&g_c);
  CHECK(encblk_frame_shared(&g_c, data, n) == 0);
  const int32_t framed = g_c.len;
  CHECK(encblk_write(&g_c, data, n) == 0);
  CHECK(g_c.len == 2 * framed);
  CHECK(memcmp(g_c.data, g_c.data + framed, size_t(framed)) == 0);
  prime(&g_a);
  CHECK(decblk_read(g_c.data, g_c.len, &g_a) == framed);
  CHECK(g_a.len == int32_t(kKeepLen) + n && memcmp(g_a.data + kKeepLen, data, size) == 0);
  for (int check = 0; check < 2; check++) {
    growbuf_reset(&g_c);
    CHECK(encblk_write_encrypted(1, &g_c, data, n, check) == 0);
    prime(&g_a);
    CHECK(decblk_read_encrypted(0, g_c.data, g_c.len, &g_a) == g_c.len);
    CHECK(g_a.len == int32_t(kKeepLen) + n && memcmp(g_a.data + kKeepLen, data, size) == 0);
  }
  return 0;
}
