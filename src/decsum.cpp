// Summary reader: the codec's readers of the exchange snapshot messages, which
// the protocol dispatcher calls with each unpacked payload.
//
// Minimal version: replaced when the summary records are built. It holds only
// the start and stop the model's life cycle calls.
#include "decsum.h"

#include "decnews.h"
#include "log.h"
#include "ssevent.h"
#include "ssmodel.h"

static const char kSrc[] = "src/decsum";

// Minimal version: replaced when the summary records are built.
int decsum_init(void) { return 0; }

// Minimal version: replaced when the summary records are built.
void decsum_fini(void) {}

// Minimal version: replaced when the summary records are built. Items are
// added as news events; delivery is not held for older issuers. "Today" is
// the exchange's date once it is known.
int decsum_decode_news(ss_exchange* ex, const uint8_t* data, int32_t n) {
  const ss_time today = ex->date ? ex->date : ssmodel_exchange_now(ex);
  const ss_time cutoff = sstime_add_months(today & ~kSstimeSecondsMask, -1);
  int32_t used = 0;
  while (used < n) {
    char code[kCodeSize];
    uint32_t number, codes[kNewsCodes], flags;
    ss_time time;
    char headline[kNewsHeadlineRead];
    int r = decnews_decode_summary(code, &number, &time, codes, &flags, headline, data + used, n - used);
    if (r <= 0) {
      log(LOG_ERROR, kSrc, "unable to decode news summary");
      log(LOG_ERROR, kSrc, "can't decode news");
      return -1;
    }
    used += r;
    if (time < cutoff) continue;
    ss_issuer* is = ssmodel_get_issuer(ex, code);
    if (!is) {
      log(LOG_WARN, kSrc, "can't add %s %s", ex->name, code);
      continue;
    }
    ssevent_add_news(is, number, time, codes, flags, headline);
  }
  ssmodel_exchange_set_flags(ex, kExNewsSummary);
  return 0;
}
