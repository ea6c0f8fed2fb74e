// Feeds arbitrary bytes to the order-priority and firm-order readers, in the
// extended model (where records are kept and orders written). The first byte
// picks the entry and the exchange: a priority block, or a firm-order block
// stored for one stock and applied at the fill of it or of another. Checks:
//  - the priority reader returns -1, 0 or a byte count no larger than given;
//  - a stored block is dropped by the next fill whatever it held;
//  - nothing grows from input to input: every waiting record is freed after
//    each input (the queue and the stocks' lists end empty).
#include <cstdint>

#include "model_fuzz.h"
#include "sspriority.h"

namespace {

const char* const kStocks[] = {"ABC", "BHP", "CBA"};

// Each stock with a bid of two levels (2 and 1 orders) and an offer of one.
bool start() {
  if (!model_fuzz_start(kTerminalModelOptions | kOptExtended)) return false;
  for (int i = 0; i < kExchanges; i++)
    for (const char* c : kStocks) {
      ss_stock* s = ssmodel_add_stock(ssmodel_exchange(i), c);
      if (!s) return false;
      const int shape[2][2] = {{2, 1}, {1, 0}};
      for (int side = 0; side < 2; side++) {
        ss_depth_level** link = &s->levels[side];
        for (int n : shape[side]) {
          if (!n) continue;
          ss_depth_level* l = ssmodel_new_depth_level(100 - uint32_t(n));
          ss_depth_order* o = nullptr;
          for (int k = 0; k < n; k++) o = ssmodel_new_depth_order(10, 0, l, o);
          l->orders = o;
          *link = l;
          link = &l->next;
        }
      }
    }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  CHECK(started);
  if (size < 1 || size > (1u << 16)) return 0;
  ss_exchange* ex = ssmodel_exchange(data[0] & 3);
  ss_stock* bhp = ssmodel_find_stock(ex, "BHP");
  const uint8_t* p = data + 1;
  const int32_t n = static_cast<int32_t>(size - 1);
  switch ((data[0] >> 2) & 3) {
    case 0:
    case 1: {
      const int r = sspriority_decode(ex, p, n);
      CHECK(r >= -1 && r <= n);
      break;
    }
    default: {
      ss_stock* fill = (data[0] & 0x10) ? ssmodel_find_stock(ex, "CBA") : bhp;
      if (sspriority_store_firm(bhp, p, n) == 0) CHECK(sspriority_firm_stock() == bhp);
      const int r = sspriority_apply_firm(fill);
      CHECK(r == 0 || r == -1);
      CHECK(sspriority_firm_stock() == nullptr);
      break;
    }
  }
  for (int i = 0; i < kExchanges; i++) {
    ss_exchange* x = ssmodel_exchange(i);
    sspriority_clear_exchange(x);
    for (const char* c : kStocks) sspriority_clear(ssmodel_find_stock(x, c));
  }
  CHECK(sspriority_queued() == 0);
  return 0;
}
