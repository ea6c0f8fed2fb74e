// Runs the history readers over arbitrary bytes. The first byte picks the
// reader and a running state; the rest is the record. Checks:
//  - a day reader returns -1, 0 or a byte count no larger than what was
//    available; 0 and -1 leave the running state as it was; a day read with
//    n bytes reads the same with exactly n and is incomplete with n - 1;
//  - a day read, written again by the writer from the same state (when the
//    writer takes it), reads back to the same point;
//  - a whole record leaves the history array in strictly ascending date
//    order within its capacity, with no day of volume 0 and none before the
//    history-from date, and a news list in (time, number) order.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "dechist.h"
#include "enchist.h"
#include "model_fuzz.h"
#include "sstime.h"

namespace {

ss_exchange* g_ex;
const ss_time kFrom = sstime_pack_date(3, 2, 2014);

bool start() { return model_fuzz_start() && (g_ex = ssmodel_exchange(0)) != nullptr; }

bool same_state(const dechist_state& a, const dechist_state& b) { return memcmp(&a, &b, sizeof a) == 0; }

void day_checks(bool index, const dechist_state& start_state, const uint8_t* in, int32_t n) {
  dechist_state st = start_state;
  ss_stock_point sp;
  ss_index_point ip;
  auto read = [&](dechist_state* s, int32_t len) {
    return index ? dechist_decode_index_day(s, in, len, &ip) : dechist_decode_stock_day(s, in, len, &sp);
  };
  const int r = read(&st, n);
  CHECK(r >= -1 && r <= n);
  if (r <= 0) {
    CHECK(same_state(st, start_state));
    return;
  }
  const dechist_state after = st;
  const ss_stock_point sp1 = sp;
  const ss_index_point ip1 = ip;
  dechist_state again = start_state;
  CHECK(read(&again, r) == r && same_state(again, after));
  again = start_state;
  CHECK(read(&again, r - 1) == -1 && same_state(again, start_state));

  // Written again from the same state, the day reads back the same.
  enchist_state ws = {start_state.prev_date, start_state.prev_close, start_state.ref};
  uint8_t out[kEnchistStockDayMax];
  const int w = index ? enchist_encode_index_day(&ws, out, &ip1) : enchist_encode_stock_day(&ws, out, &sp1);
  if (w < 0) return;
  CHECK(w <= kEnchistStockDayMax);
  dechist_state back = start_state;
  if (index) {
    CHECK(dechist_decode_index_day(&back, out, w, &ip) == w);
    CHECK(memcmp(&ip, &ip1, sizeof ip) == 0);
  } else {
    CHECK(dechist_decode_stock_day(&back, out, w, &sp) == w);
    CHECK(memcmp(&sp, &sp1, sizeof sp) == 0);
  }
}

template <class H>
void check_array(const H* h, bool stock) {
  if (!h) return;
  CHECK(h->count <= h->capacity);
  for (uint32_t i = 0; i < h->count; i++) {
    CHECK(h->points[i].date >= kFrom);
    if (i) CHECK(h->points[i - 1].date < h->points[i].date);
    if constexpr (sizeof(h->points[0]) == sizeof(ss_stock_point))
      if (stock) CHECK(h->points[i].volume != 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int form = data[0] % 5;
  const uint8_t* in = data + 1;
  const int32_t n = int32_t(size - 1);
  if (form < 2) {
    // A running state picked by the high bits: none, or a Friday with a close.
    const dechist_state st = (data[0] & 0x80) ? dechist_state{sstime_pack_date(7, 2, 2014), 123450, 123450}
                                              : dechist_state{};
    day_checks(form == 1, st, in, n);
    return 0;
  }
  ss_stock* s = ssmodel_get_stock(g_ex, "BHP");
  ss_index* x = ssmodel_get_index(g_ex, "XJO");
  ss_issuer* is = ssmodel_get_issuer(g_ex, "BHP");
  CHECK(s && x && is);
  ssmodel_free_history(s);
  ssmodel_free_index_history(x);
  ssmodel_free_news_list(is);
  for (instr* i : {static_cast<instr*>(s), static_cast<instr*>(x), static_cast<instr*>(is)})
    ssmodel_set_history_from(i, kFrom);
  int r;
  switch (form) {
    case 2:
      r = dechist_decode_stock(s, in, n, 1);
      check_array(s->history, true);
      break;
    case 3:
      r = dechist_decode_index(x, in, n, 1);
      check_array(x->history, false);
      break;
    default: {
      r = dechist_decode_news(is, in, n, 1);
      uint32_t count = 0;
      for (const ss_news* p = is->news.head; p; p = p->next, count++) {
        CHECK(p->time >= kFrom);
        if (p->prev) CHECK(p->prev->time < p->time || (p->prev->time == p->time && p->prev->number < p->number));
      }
      CHECK(count == is->news.count);
    }
  }
  CHECK(r == 0 || r == -1);
  return 0;
}
