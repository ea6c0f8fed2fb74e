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
#include <cstdlib>
#include <cstring>

#include "dalloc.h"
#include "dechdr.h"
#include "decsum.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

constexpr int kRestartEvery = 2000;
const char* const kStocks[] = {"ABC", "BHP", "CBA", "NAB", "WBC"};
const char* const kIndices[] = {"XAO", "XJO"};
const ss_time kDate = sstime_pack_date(12, 3, 2014);

int no_sleep(int32_t) { return 0; }

bool start_client() {
  if (ssclient_init(0, 12, 0x112) < 0) return false;
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(no_sleep);
  return true;
}

// Exchange 0 at its date with the fixed stocks and indices holding speeds.
ss_exchange* prepare() {
  ss_exchange* ex = ssmodel_exchange(0);
  ssmodel_reset_exchange_keep_date(ex, kDate);
  for (const char* c : kStocks) dechdr_add_stock_speed(ssmodel_get_stock(ex, c));
  for (const char* c : kIndices) dechdr_add_index_speed(ssmodel_get_index(ex, c));
  return ex;
}

bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  dalloc_init();
  ssio_set_default_host("");
  return start_client();
}

void check_speeds(const ss_exchange* ex) {
  CHECK(ex->speed_count <= kStockSpeeds);
  CHECK(ex->index_speed_count <= kIndexSpeeds);
  for (uint32_t i = 0; i < ex->speed_count; i++) CHECK(ex->speeds[i] && ex->speeds[i]->speed == int32_t(i));
  for (uint32_t i = 0; i < ex->index_speed_count; i++)
    CHECK(ex->index_speeds[i] && ex->index_speeds[i]->speed == int32_t(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = start();
  static int inputs = 0;
  CHECK(ready);
  if (size < 1) return 0;
  if (++inputs % kRestartEvery == 0) {
    ssclient_fini();
    CHECK(start_client());
  }
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
  CHECK(r == 0 || r == -1);
  check_speeds(ex);
  return 0;
}
