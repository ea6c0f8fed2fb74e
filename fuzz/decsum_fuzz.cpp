// Runs the summary readers over arbitrary payloads against a small model
// (exchange 0 with a few stocks and indices that hold speeds). The first byte
// picks the reader; the rest is the payload. Checks:
//  - every reader answers 0 or -1;
//  - the speed tables stay consistent: every stock and index at position i
//    has speed i, and the counts stay within the tables;
//  - the depth-only table a list leaves behind is used or freed without a
//    leak (ASan), and nothing reads past the payload (ASan).
// The exchange is reset after every input and the client started afresh now
// and then, so the model does not grow from input to input.
#include <cstdint>

#include "dechdr.h"
#include "decsum.h"
#include "fuzz_client.h"
#include "ssmodel.h"

namespace {

constexpr int kRestartEvery = 2000;
const char* const kStocks[] = {"ABC", "BHP", "CBA", "NAB", "WBC"};
const char* const kIndices[] = {"XAO", "XJO"};
const ss_time kDate = sstime_pack_date(12, 3, 2014);

// Exchange 0 at its date with the fixed stocks and indices holding speeds.
ss_exchange* prepare() {
  ss_exchange* ex = ssmodel_exchange(0);
  ssmodel_reset_exchange_keep_date(ex, kDate);
  for (const char* c : kStocks) dechdr_add_stock_speed(ssmodel_get_stock(ex, c));
  for (const char* c : kIndices) dechdr_add_index_speed(ssmodel_get_index(ex, c));
  return ex;
}

void check_speeds(const ss_exchange* ex) {
  FUZZ_CHECK(ex->speed_count <= kStockSpeeds);
  FUZZ_CHECK(ex->index_speed_count <= kIndexSpeeds);
  for (uint32_t i = 0; i < ex->speed_count; i++) FUZZ_CHECK(ex->speeds[i] && ex->speeds[i]->speed == int32_t(i));
  for (uint32_t i = 0; i < ex->index_speed_count; i++)
    FUZZ_CHECK(ex->index_speeds[i] && ex->index_speeds[i]->speed == int32_t(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FUZZ_CHECK(fuzz_ready());
  if (size < 1) return 0;
  FUZZ_CHECK(fuzz_restart_every(kRestartEvery));
  ss_exchange* ex = prepare();
  const uint8_t* p = data + 1;
  const int32_t n = int32_t(size - 1);
  int r;
  switch (data[0] % 10) {
    case 0: r = decsum_decode_index(ex, p, n); break;
    case 1: r = decsum_decode_stock(ex, p, n); break;
    case 2: r = decsum_decode_depth_only(ex, p, n, 0); break;
    case 3: r = decsum_decode_depth_only(ex, p, n, 1); break;
    case 4: r = decsum_decode_open_balance(ex, p, n); break;
    case 5: r = decsum_decode_quote_bases(ex, p, n); break;
    case 6: r = decsum_decode_stock_states(ex, p, n); break;
    case 7: r = decsum_decode_resume_times(ex, p, n); break;
    case 8: r = decsum_decode_auction_info(ex, p, n); break;
    default: r = decsum_decode_news(ex, p, n); break;
  }
  FUZZ_CHECK(r == 0 || r == -1);
  check_speeds(ex);
  return 0;
}
