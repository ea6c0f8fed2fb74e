// Runs the depth list reader over arbitrary bytes against a fixture exchange
// with one stock whose side already holds a book. The first byte picks the
// side, the level limit (none, 5, 10), brokers and the level-totals layout;
// the rest is the list. Checks:
//  - the result is -1, 0 or a byte count no larger than what was available;
//  - 0 and -1 leave the side as it was (levels, orders, volumes, brokers);
//  - a list read with r bytes is incomplete with r - 1;
//  - a list read is written again by the depth writer with the same limit
//    and reads back into a second stock to the same side.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_model.h"
#include "decdepth.h"
#include "encdepth.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssbroker.h"
#include "ssevent.h"
#include "ssmodel.h"

namespace {

ss_exchange* g_ex;
ss_stock* g_a;
ss_stock* g_b;
growbuf g_out;
const int32_t kLimits[] = {0, kDepthSummaryLevels, kDepthPartialLevels, 0};

bool start() {
  if (!(g_ex = fuzz_start_model(0)) || growbuf_init(&g_out, 0, 65536) < 0) return false;
  g_a = ssmodel_add_stock(g_ex, "BHP");
  g_b = ssmodel_add_stock(g_ex, "RIO");
  return g_a && g_b;
}

// The stock as the input's first byte wants it, with a small book.
void prepare(ss_stock* s, int side, bool brokers, bool totals) {
  ssevent_clear_depth(s, 0, 2);
  s->flags = totals ? kInOutOfOrder : 0;
  s->close = 1000;
  for (uint32_t p : {1010u, 1000u}) ssevent_apply_depth_summary(s, 0, side, p, 100, 1, brokers && !totals ? "UBS" : nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int side = data[0] & 1;
  const int32_t limit = kLimits[(data[0] >> 1) & 3];
  const bool brokers = data[0] & 8;
  const bool totals = data[0] & 16;
  const uint8_t* in = data + 1;
  const int32_t n = int32_t(size - 1);
  fuzz_set_brokers(g_ex, brokers);
  prepare(g_a, side, brokers, totals);
  const std::string before = fuzz_side_text(g_a, side);
  const int r = decdepth_decode_levels(g_a, side, in, n, limit);
  CHECK(r >= -1 && r <= n);
  if (r <= 0) {
    CHECK(before == fuzz_side_text(g_a, side));
  } else {
    const std::string got = fuzz_side_text(g_a, side);
    prepare(g_a, side, brokers, totals);
    CHECK(decdepth_decode_levels(g_a, side, in, r - 1, limit) == 0);
    CHECK(before == fuzz_side_text(g_a, side));
    CHECK(decdepth_decode_levels(g_a, side, in, r, limit) == r);
    CHECK(got == fuzz_side_text(g_a, side));
    growbuf_reset(&g_out);
    // Levels of more orders than a count carries, or values no field
    // carries, cannot be written; everything else reads back whole.
    if (encdepth_encode_levels(&g_out, g_a, side, limit) > 0) {
      prepare(g_b, side, brokers, totals);
      CHECK(decdepth_decode_levels(g_b, side, g_out.data, g_out.len, limit) == g_out.len);
      CHECK(got == fuzz_side_text(g_b, side));
    }
  }
  return 0;
}
