// Feeds arbitrary bytes to the protocol decoder against a small model (four
// exchanges, a few stocks). The first byte picks the entry: the live stream,
// a saved stream, the saved stream of one stock, or a run with stepped
// headers; the rest is the stream. Checks:
//  - the result is -1 or a byte count no larger than what was given;
//  - when the live or saved loop stops early, the bytes left over are an
//    incomplete message: decoding them again uses nothing (0) and leaves the
//    current exchange and every exchange's header state as they were;
//  - nothing grows from input to input: protocol state is reset before
//    each, the in-memory log is off, and a client that was signed off is
//    started afresh.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_client.h"
#include "sserr.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstime.h"

namespace {

const char* const kStocks[] = {"ABC", "BHP", "CBA", "NAB", "WBC"};
ss_stock* g_stock;

// The client with its model, and a few current stocks on every exchange.
bool start_client() {
  if (!fuzz_start_client()) return false;
  for (int i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) return false;
    for (const char* c : kStocks) {
      ss_stock* s = ssmodel_add_stock(ex, c);
      if (!s) return false;
      ssmodel_stock_make_current(s);
    }
  }
  g_stock = ssmodel_find_stock(ssmodel_exchange(0), "BHP");
  return g_stock != nullptr;
}

// Set up on the first input rather than at static initialisation, so the
// engine's own statics are all in place first.
bool start() { return fuzz_start_runtime() && start_client(); }

struct Snap {
  ss_exchange* current;
  char code[kExchanges][kCodeSize];
  ss_time cur[kExchanges], high[kExchanges];
  uint32_t speeds[kExchanges];
  ss_time stream;
};

Snap snap() {
  Snap s;
  memset(&s, 0, sizeof s);
  s.current = ssproto_current_exchange();
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* ex = ssmodel_exchange(i);
    memcpy(s.code[i], ex->cur_code, kCodeSize);
    s.cur[i] = ex->cur_time;
    s.high[i] = ex->high_time;
    s.speeds[i] = ex->speed_count;
  }
  s.stream = g_stock->stream_time;
  return s;
}

bool same(const Snap& a, const Snap& b) {
  if (a.current != b.current || a.stream != b.stream) return false;
  for (int i = 0; i < kExchanges; i++)
    if (memcmp(a.code[i], b.code[i], kCodeSize) != 0 || a.cur[i] != b.cur[i] || a.high[i] != b.high[i] ||
        a.speeds[i] != b.speeds[i])
      return false;
  return true;
}

int decode(int mode, const uint8_t* p, int32_t n) {
  switch (mode) {
    case 0: return ssproto_decode(p, n);
    case 1: return ssproto_decode_saved(p, n);
    case 2: return ssproto_decode_saved_for(g_stock, p, n);
    default: return ssproto_decode_run(p, n, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  FUZZ_CHECK(started);
  if (size < 1 || size > (1u << 20)) return 0;
  const int mode = data[0] & 3;
  const uint8_t* p = data + 1;
  const int32_t n = static_cast<int32_t>(size - 1);

  ssproto_reset_counters();
  ssproto_reset_positions();
  sserr_clear();
  ssclient_set_dropped(0);

  const int r = decode(mode, p, n);
  FUZZ_CHECK(r >= -1 && r <= n);
  if (r >= 0 && r < n && mode != 3) {
    const Snap before = snap();
    FUZZ_CHECK(decode(mode, p + r, n - r) == 0);
    FUZZ_CHECK(same(before, snap()));
  }
  ssnotify_deliver();
  // A message that signed the client off leaves it aborting for good: start
  // a fresh client so later inputs reach every path again.
  if (ssclient_abort_requested()) {
    ssclient_fini();
    FUZZ_CHECK(start_client());
  }
  return 0;
}
