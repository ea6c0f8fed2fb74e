// Runs the order queue reader over arbitrary bytes against a fixture
// exchange with one stock whose side already holds a book. The first byte
// picks the side, the protocol version of the data (1: no order times),
// brokers and the level-totals layout; the rest is the queue. Checks:
//  - the result is -1, 0 or exactly the bytes given (a queue runs to the end);
//  - 0 and -1 leave the side and the stock's flags as they were;
//  - a queue read holds the orders the reader counted, in price order (level
//    totals that name a price twice keep the later entry);
//  - the readers' running reference time is as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_model.h"
#include "decode.h"
#include "decqueue.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssbroker.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "sstime.h"

namespace {

ss_exchange* g_ex;
ss_stock* g_a;

bool start() {
  if (!(g_ex = fuzz_start_model(0))) return false;
  ssmodel_set_date(g_ex, sstime_pack_date(14, 3, 2014));
  g_a = ssmodel_add_stock(g_ex, "BHP");
  return g_a != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int side = data[0] & 1;
  const int32_t version = (data[0] & 2) ? 1 : 6;
  const bool brokers = data[0] & 4;
  const bool totals = data[0] & 8;
  const uint8_t* in = data + 1;
  const int32_t n = int32_t(size - 1);
  fuzz_set_brokers(g_ex, brokers);
  ssevent_clear_depth(g_a, 0, 2);
  g_a->flags = totals ? kInOutOfOrder : 0;
  g_a->close = 1000;
  ssevent_apply_depth_summary(g_a, 0, side, 1000, 100, 1, brokers && !totals ? "UBS" : nullptr);
  const std::string before = fuzz_side_text(g_a, side);
  const uint32_t flags = g_a->flags;
  const ss_time ref = sstime_pack(0, 0, 9, 1, 1, 2001);
  decode_set_ref_date(ref);
  uint32_t orders = 0;
  const int r = decqueue_decode(g_a, side, in, n, version, &orders);
  CHECK(r == -1 || r == 0 || r == n);
  CHECK(decode_ref_date() == ref);
  if (r < 0 || (r == 0 && n > 0)) {  // an empty record is a whole queue of no orders
    CHECK(before == fuzz_side_text(g_a, side));
    CHECK(flags == g_a->flags);
    return 0;
  }
  uint64_t counted = 0;
  const ss_depth_level* prev = nullptr;
  for (const ss_depth_level* l = g_a->levels[side]; l; prev = l, l = l->next) {
    counted += l->count;
    if (prev) CHECK(side ? prev->price < l->price : prev->price > l->price);
  }
  if (counted > UINT32_MAX) counted = UINT32_MAX;  // the reader's count saturates
  CHECK(totals ? counted <= orders : counted == orders);
  return 0;
}
