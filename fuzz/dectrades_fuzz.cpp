// Runs the trade list readers over arbitrary bytes against a fixture
// exchange. The first byte picks the reader (one group, all trades, recent
// trades, a cancellation) and brokers; the rest is the list. Checks:
//  - the result is -1, 0 or a byte count no larger than what was available;
//  - a group that is cut short or bad adds no trade and leaves the running
//    price and time as they were; a group read with r bytes is incomplete
//    with r - 1;
//  - a list that fails sets none of the stock's loaded bits;
//  - recording and the stock's loading bit are as they were after every list;
//  - a whole list read is written again by the trade writer and reads back
//    into a second stock to the same trades;
//  - the cancellation reader never moves the stock's first price.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_model.h"
#include "dectrades.h"
#include "enctrades.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "sstime.h"

namespace {

ss_exchange* g_ex;
ss_stock* g_a;
ss_stock* g_b;
growbuf g_out;
const ss_time kDate = sstime_pack_date(14, 3, 2014);

bool start() {
  // Exchange 3: its trade conditions are kept as they are read.
  if (!(g_ex = fuzz_start_model(3)) || growbuf_init(&g_out, 0, 65536) < 0) return false;
  ssmodel_set_date(g_ex, kDate);
  g_a = ssmodel_add_stock(g_ex, "BHP");
  g_b = ssmodel_add_stock(g_ex, "RIO");
  return g_a && g_b;
}

std::string trades_text(const ss_stock* s) {
  std::string t;
  for (const ss_trade* x = s->trades.head; x; x = x->next) {
    t += std::to_string(x->time) + " " + std::to_string(x->price) + " " + std::to_string(x->volume) + " " +
         std::to_string(x->bits);
    if (const ss_trade_detail* d = x->detail) {
      t += " " + std::to_string(d->second_value) + " " + std::to_string(d->date);
      if (d->buyer) t += std::string(" ") + reinterpret_cast<const ss_broker*>(uintptr_t(d->buyer))->code;
      if (d->seller) t += std::string(" ") + reinterpret_cast<const ss_broker*>(uintptr_t(d->seller))->code;
    }
    t += ";";
  }
  return t;
}

void fresh(ss_stock* s) {
  ssevent_free_events(s);
  ssmodel_free_trades(s);
  s->flags = 0;
  s->last = 1000;
  s->first_price = 990;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int reader = data[0] & 3;
  const bool brokers = data[0] & 4;
  const uint8_t* in = data + 1;
  const int32_t n = int32_t(size - 1);
  fuzz_set_brokers(g_ex, brokers);
  fresh(g_a);
  const uint32_t ex_flags = g_ex->flags;
  switch (reader) {
    case 0: {
      uint32_t ref = 1000;
      ss_time run = kDate;
      const int r = dectrades_decode_one(in, n, g_a, &ref, &run, brokers, 0);
      CHECK(r >= -1 && r <= n);
      if (r <= 0) {
        CHECK(g_a->trades.count == 0 && ref == 1000 && run == kDate);
        break;
      }
      const uint32_t added = g_a->trades.count;
      fresh(g_a);
      uint32_t ref2 = 1000;
      ss_time run2 = kDate;
      CHECK(dectrades_decode_one(in, r - 1, g_a, &ref2, &run2, brokers, 0) == -1);
      CHECK(g_a->trades.count == 0);
      CHECK(dectrades_decode_one(in, r, g_a, &ref2, &run2, brokers, 0) == r);
      CHECK(g_a->trades.count == added && ref2 == ref && run2 == run);
      break;
    }
    case 1:
    case 2: {
      const int r = reader == 1 ? dectrades_decode_all(g_a, in, n) : dectrades_decode_recent(g_a, in, n);
      CHECK(r == n || r == -1);
      CHECK(g_ex->flags == ex_flags && !(g_a->flags & kInLoading));
      if (r < 0) {
        CHECK(!(g_a->flags & (kRqRecentLoaded | kRqTradesLoaded)));
        break;
      }
      growbuf_reset(&g_out);
      if (enctrades_encode_stock(&g_out, g_a, g_a->last, kDate) < 0) break;  // a value no field carries
      fresh(g_b);
      CHECK(dectrades_decode_all(g_b, g_out.data, g_out.len) == g_out.len);
      CHECK(trades_text(g_a) == trades_text(g_b));
      break;
    }
    default: {
      const int r = dectrades_decode_amend(g_a, kDate + 40000, in, n, (data[0] & 8) ? 6 : 3);
      CHECK(r >= -1 && r <= n);
      CHECK(g_a->first_price == 990);
      break;
    }
  }
  return 0;
}
