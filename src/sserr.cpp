// Server error reports: the last error the server sent or the io layer met,
// which decides reconnecting and the message the user sees, and the marking
// of a refused data request as "loaded, nothing there".
//
// Marking a refused request loaded (and clearing its requested bit) is what
// stops a window from waiting for data that will not come and from asking
// again; the change bit tells the window so. The code and sub-code are
// atomics because both threads read them without a lock.
#include "sserr.h"

#include <atomic>

#include "log.h"
#include "ssmodel.h"
#include "ssnotify.h"

static const char kSrc[] = "src/sserr";

static struct {
  std::atomic<int32_t> code{0};
  std::atomic<uint32_t> sub_code{0};
} S;

namespace {

enum class Target { Stock, Index, Issuer, StockDay, IndexDay };

// What a failed request kind marks: the record, bits set and cleared, and the
// change bit recorded on the instrument.
struct Refusal {
  uint32_t kind;
  Target target;
  uint32_t set;
  uint32_t clear;
  uint32_t change;
};

constexpr Refusal kRefusals[] = {
    {20, Target::Stock, 0x18, 0x1800, 0x8000},      {60, Target::Stock, 0x18, 0x1800, 0x8000},
    {61, Target::Stock, 0x18, 0x1800, 0x8000},      {21, Target::Index, 0x10, 0x1000, 0x8000},
    {30, Target::Stock, 0x20, 0x2000, 0x20000},     {31, Target::Index, 0x20, 0x2000, 0x20000},
    {32, Target::Issuer, 0x20, 0x2000, 0x40000},    {50, Target::Stock, 0x8, 0x800, 0x8000},
    {51, Target::Stock, 0x8, 0x800, 0x8000},        {62, Target::StockDay, 0x10, 0x1000, 0x10000},
    {63, Target::StockDay, 0x8, 0x800, 0x10000},    {70, Target::IndexDay, 0x10, 0x1000, 0x10000},
};

constexpr uint32_t kFirstRefusalKind = 20;
constexpr uint32_t kLastRefusalKind = 70;

// The day record of the date, without creating one.
ss_day* find_day(instr* in, ss_time date) {
  for (ss_day* d = in->days.head; d; d = d->next)
    if ((d->date >> 17) == (date >> 17)) return d;
  return nullptr;
}

void mark_refused(uint32_t kind, uint32_t exchange, const char* code_text, ss_time date) {
  const Refusal* r = nullptr;
  for (const Refusal& row : kRefusals)
    if (row.kind == kind) r = &row;
  // The exchange index came off the wire: only 0..3 name an exchange.
  if (!r || exchange >= static_cast<uint32_t>(kExchanges) || !code_text) return;
  ss_exchange* ex = ssmodel_exchange(static_cast<int32_t>(exchange));
  if (!ex) return;
  instr* in = nullptr;
  switch (r->target) {
    case Target::Stock:
    case Target::StockDay:
      in = ssmodel_find_stock(ex, code_text);
      break;
    case Target::Index:
    case Target::IndexDay:
      in = ssmodel_find_index(ex, code_text);
      break;
    case Target::Issuer:
      in = ssmodel_find_issuer(ex, code_text);
      break;
  }
  if (!in) return;
  uint32_t* flags = &in->flags;
  if (r->target == Target::StockDay || r->target == Target::IndexDay) {
    ss_day* day = date ? find_day(in, date) : nullptr;
    if (!day) return;
    flags = &day->flags;
  }
  *flags = (*flags | r->set) & ~r->clear;
  ssnotify_record(in, r->change, nullptr);
}

}  // namespace

void sserr_report(int32_t code, uint32_t sub_code, uint32_t exchange, const char* code_text, ss_time date) {
  S.code.store(code);
  if (code != kSserrRequestQuiet) {
    char day[16];
    sstime_format_date_into(day, date);
    log(LOG_WARN, kSrc, "error #%d: %u %u %s %s", code, sub_code, exchange, code_text ? code_text : "", day);
  }
  if (code == kSserrLinkLost && sub_code != 0) S.sub_code.store(sub_code);
  if ((code == kSserrRequestFailed || code == kSserrRequestQuiet) && sub_code >= kFirstRefusalKind &&
      sub_code <= kLastRefusalKind)
    mark_refused(sub_code, exchange, code_text, date);
  ssnotify_record_global(kSserrGlobalChange);
}

void sserr_clear(void) {
  S.code.store(0);
  S.sub_code.store(0);
}

int32_t sserr_last_code(void) { return S.code.load(); }

uint32_t sserr_sub_code(void) { return S.sub_code.load(); }

int sserr_is_specific(int32_t code) {
  switch (code) {
    case kSserrUnknownUser:
    case kSserrBadPassword:
    case kSserrTryAgain:
    case kSserrResubscribe:
    case kSserrLoginDisabled:
    case kSserrUpdateRequired:
    case kSserrNoServer:
    case kSserrNoProxy:
    case kSserrProxyAuth:
      return 1;
    default:
      return 0;
  }
}
