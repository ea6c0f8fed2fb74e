// Runs the record-header readers over arbitrary bytes against a small model
// (two exchanges with the same current stocks, indices and speeds: one read
// from, one written with). The first byte picks the form and the current
// code; the rest is the header. Checks:
//  - the result is -1, 0 or a byte count no larger than what was available;
//  - 0 and -1 leave the exchange (current code, current time, highest time,
//    speed counts) and the stock's stream time as they were;
//  - the timed entry reads every timed header as the full reader does;
//  - a header read with n bytes reads the same with exactly n available and
//    is incomplete with n - 1;
//  - a header read, written again by the writer from the same state, reads
//    back to the same type, code and time;
//  - a run block's payload is the block's.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "dalloc.h"
#include "dechdr.h"
#include "encblk.h"
#include "enchdr.h"
#include "log.h"
#include "plat.h"
#include "ssmodel.h"
#include "sstime.h"

#include "../tests/support/testmodel.h"  // the terminal's model configuration

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

const char* const kStocks[] = {"ABC", "ABD", "ABE", "BHP", "CBA", "NAB", "Q1", "Q2", "Q3", "WBC", "WES", "ZZZ"};
const char* const kIndices[] = {"XAO", "XJO", "XKO"};
const char* const kStarts[] = {"", "ABC", "ABE", "BAA", "XJO", "WES", "ZZZ", "Q2"};

ss_exchange* g_ex[2];
ss_stock* g_stock;
growbuf g_out;
const ss_time kStart = sstime_pack(0, 0, 10, 14, 3, 2014);

// Started on the first input rather than by a static initializer, so that no
// module's static state is used before it has been constructed.
bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  if (ssmodel_init(kTerminalModelOptions) < 0 || codec_init() < 0 || growbuf_init(&g_out, 0, 65536) < 0) return false;
  for (int i = 0; i < 2; i++) {
    if (!(g_ex[i] = ssmodel_new_exchange(i, kTerminalExchangeFlags))) return false;
    for (const char* c : kStocks) {
      ss_stock* s = ssmodel_add_stock(g_ex[i], c);
      if (!s) return false;
      ssmodel_stock_make_current(s);
    }
    for (const char* c : kIndices) {
      ss_index* x = ssmodel_add_index(g_ex[i], c);
      if (!x) return false;
      ssmodel_link_index_current(x);
    }
    for (const char* c : {"WBC", "ABC", "Q2", "BHP"}) dechdr_add_stock_speed(ssmodel_find_stock(g_ex[i], c));
    for (const char* c : {"XJO", "XAO"}) dechdr_add_index_speed(ssmodel_find_index(g_ex[i], c));
  }
  g_stock = ssmodel_find_stock(g_ex[0], "NAB");
  return true;
}

struct Snap {
  char code[kCodeSize];
  ss_time cur, high, stream;
  uint32_t speeds, index_speeds;
};

Snap snap(const ss_exchange* ex) {
  Snap s;
  memcpy(s.code, ex->cur_code, kCodeSize);
  s.cur = ex->cur_time;
  s.high = ex->high_time;
  s.stream = g_stock->stream_time;
  s.speeds = ex->speed_count;
  s.index_speeds = ex->index_speed_count;
  return s;
}

bool same(const Snap& a, const Snap& b) {
  return strcmp(a.code, b.code) == 0 && a.cur == b.cur && a.high == b.high && a.stream == b.stream &&
         a.speeds == b.speeds && a.index_speeds == b.index_speeds;
}

void set_state(ss_exchange* ex, const char* code) {
  strcpy(ex->cur_code, code);
  ex->cur_time = kStart;
  ex->high_time = kStart;
  g_stock->stream_time = kStart;
}

struct Read {
  int r;
  uint32_t type;
  ss_time time;
  char code[kCodeSize];
  int32_t speed;
};

// form: 0 timed, 1 stepped, 2 stock stream, 3 run block.
Read read(int form, const uint8_t* in, int32_t n, ss_exchange* ex) {
  Read out{};
  switch (form) {
    case 0:
    case 1:
      out.r = dechdr_decode_exchange_header(in, n, ex, form, &out.type, &out.time, out.code, &out.speed);
      break;
    case 2:
      out.r = dechdr_decode_stock_header(in, n, g_stock, &out.type, &out.time);
      break;
    default:
      growbuf_reset(&g_out);
      out.r = dechdr_decode_run(in, n, ex, &g_out, &out.time);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int form = data[0] & 3;
  const char* start = kStarts[(data[0] >> 2) & 7];
  const uint8_t* in = data + 1;
  const int32_t n = int32_t(size - 1);
  ss_exchange* ex = g_ex[0];

  set_state(ex, start);
  const Snap before = snap(ex);
  const Read got = read(form, in, n, ex);
  CHECK(got.r >= -1 && got.r <= n);
  if (form == 0) {
    // The timed entry, which reads the commonest form inline before it falls
    // back on the full reader, agrees with the full reader byte for byte.
    const Snap full = snap(ex);
    set_state(ex, start);
    Read entry{};
    entry.r = dechdr_decode_timed(in, n, ex, &entry.type, &entry.time, entry.code, &entry.speed);
    CHECK(entry.r == got.r);
    if (got.r > 0)
      CHECK(entry.type == got.type && entry.time == got.time && entry.speed == got.speed &&
            memcmp(entry.code, got.code, kCodeSize) == 0);
    CHECK(same(full, snap(ex)) && memcmp(full.code, ex->cur_code, kCodeSize) == 0);
  }
  if (got.r <= 0) {
    CHECK(same(before, snap(ex)));
    return 0;
  }
  const Snap after = snap(ex);
  set_state(ex, start);
  const Read exact = read(form, in, got.r, ex);
  CHECK(exact.r == got.r && exact.type == got.type && exact.time == got.time && strcmp(exact.code, got.code) == 0);
  CHECK(same(after, snap(ex)));
  set_state(ex, start);
  CHECK(read(form, in, got.r - 1, ex).r == 0);
  CHECK(same(before, snap(ex)));
  if (form == 3) return 0;

  // Written again from the same state on the writer's exchange, the header
  // reads back the same. Types the writer refuses (0 from a type byte) and
  // codes it cannot pack are skipped, and so is an empty full code: the
  // writer tells "no instrument" as the current one.
  ss_exchange* wx = g_ex[1];
  uint8_t h[kHeaderRoom];
  int w;
  set_state(wx, start);
  if (form == 2) {
    ss_stock* ws = ssmodel_find_stock(wx, "NAB");
    ws->stream_time = kStart;
    w = enchdr_encode_stock_header(h, ws, got.type, got.time);
    if (w < 0) return 0;
    CHECK(w <= kHeaderRoom);
    set_state(ex, start);
    const Read back = read(2, h, w, ex);
    CHECK(back.r == w && back.type == got.type && back.time == got.time);
    return 0;
  }
  if (!got.code[0]) return 0;
  if (form == 0)
    w = enchdr_encode_timed(h, wx, got.type, got.time, got.code, got.speed);
  else
    w = enchdr_encode_stepped(h, wx, got.type, got.code, got.speed);
  if (w < 0) return 0;
  CHECK(w <= kHeaderRoom);
  set_state(ex, start);
  const Read back = read(form, h, w, ex);
  CHECK(back.r == w && back.type == got.type && back.time == got.time && strcmp(back.code, got.code) == 0);
  return 0;
}
