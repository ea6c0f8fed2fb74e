// Quote-basis and trade-condition codes. Both are constant tables of one-bit
// masks with an ASX and an NZX abbreviation per row; the text builders walk a
// table in row order and pick the column per exchange. A condition bit may
// appear in two rows (one per exchange column), so lookups by bit take the
// first row that has a code in the exchange's own column.
//
// Every text builder counts what it needs before it writes, and never writes
// past its buffer: a text that does not fit gives null rather than a cut list.
#include "sscodes.h"

#include <atomic>
#include <cstring>
#include <initializer_list>

#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/sscodes";

namespace {

constexpr uint64_t kBlockTradeBit = 0x100000000000000ull;
constexpr int kBlockTradeRow = 61;
constexpr int kAbbrevChars = 3;  // two letters and a space

// Module state: the once-only "missed" warnings and the two shared buffers.
struct sscodes_state {
  std::atomic<bool> missed[kQuoteBasisRows];
  char quote_basis_names[kQuoteBasisNamesSize];
  char condition_text[kConditionTextSize];
};

sscodes_state S;

const sscodes_row kQuoteBasis[kQuoteBasisRows] = {
    {"XD", nullptr, "Ex Dividend", 0x1ull},
    {"NR", nullptr, "Notice Received", 0x2ull},
    {"IN", nullptr, "Interest Only", 0x4ull},
    {"SH", nullptr, "Short Sell Allowed", 0x8ull},
    {"NL", nullptr, "Notice Late", 0x10ull},
    {"NS", nullptr, "Under Offer of Takeover", 0x20ull},
    {"RE", nullptr, "Reconstructed", 0x40ull},
    {"RP", nullptr, "Rollover Pending", 0x80ull},
    {"RC", nullptr, "Rollover Complete", 0x100ull},
    {"XI", nullptr, "Ex Interest", 0x200ull},
    {"CD", nullptr, "Cum Dividend Stock", 0x400ull},
    {"XE", nullptr, "Ex Entitlement", 0x800ull},
    {"XR", nullptr, "Ex Rights Issue", 0x1000ull},
    {"CT", nullptr, "Conditional Trading", 0x2000ull},
    {"RD", nullptr, "Currently Under Reconstruction", 0x4000ull},
    {"PU", nullptr, "Protection Unavailable", 0x8000ull},
    {"CB", nullptr, "Cum Bonus", 0x10000ull},
    {"CC", nullptr, "Cum Capital Return", 0x20000ull},
    {"CE", nullptr, "Cum Entitlement", 0x40000ull},
    {"CF", nullptr, "Cum Takeover Offer", 0x80000ull},
    {"CI", nullptr, "Cum Interest", 0x100000ull},
    {"CL", nullptr, "Call Due", 0x200000ull},
    {"CP", nullptr, "Call Paid", 0x400000ull},
    {"CZ", nullptr, "Cum Priority", 0x800000ull},
    {nullptr, "CZ", "Cum Non Pro-rata Balance", 0x400000000000ull},
    {nullptr, "CM", "Cum Premium Return", 0x1000000ull},
    {"CQ", nullptr, "Cum Equal Access Buyback", 0x2000000ull},
    {"CR", nullptr, "Cum Rights", 0x4000000ull},
    {"PA", nullptr, "Protection Available", 0x8000000ull},
    {"NX", nullptr, "New Ex Interest", 0x10000000ull},
    {"XB", nullptr, "Ex Bonus Issue", 0x20000000ull},
    {"XC", nullptr, "Ex Return of Capital", 0x40000000ull},
    {"XF", nullptr, "Ex Takeover Offer", 0x80000000ull},
    {nullptr, "XM", "Ex Return of Premium", 0x100000000ull},
    {"XQ", nullptr, "Ex Equal Access Buyback", 0x200000000ull},
    {"XZ", nullptr, "Ex Priority", 0x400000000ull},
    {nullptr, "XZ", "Ex Non Pro-rata Balance", 0x800000000000ull},
    {nullptr, "DD", "Delay Delivery", 0x800000000ull},
    {nullptr, "PP", "Par Value Pending", 0x1000000000ull},
    {nullptr, "RP", "Reconstruction Pending", 0x2000000000ull},
    {nullptr, "XO", "Ex Right of Conversion", 0x4000000000ull},
    {nullptr, "XX", "Subject to Escalation", 0x8000000000ull},
    {"RA", nullptr, "Receiver Appointed", 0x10000000000ull},
    {nullptr, "CO", "Cum Right of Conversion", 0x20000000000ull},
    {"TH", nullptr, "Trading Halt", 0x40000000000ull},
    {"S1", nullptr, "1 tenth Price Step", 0x80000000000ull},
    {"SD", nullptr, "Special Distribution", 0x100000000000ull},
    {"HD", nullptr, "High Denomination", 0x200000000000ull},
    {nullptr, "AX", "NZAX Market Instrument", 0x1000000000000ull},
    {nullptr, "NF", "Non Clearing House Settled", 0x2000000000000ull},
    {"UA", nullptr, "Under Adjustment", 0x4000000000000ull},
    {nullptr, "NS", "Non Standard Listing", 0x8000000000000ull},
    {nullptr, "NP", "Notice Pending", 0x10000000000000ull},
    {nullptr, "CC", "Cum Capital Change", 0x20000000000000ull},
    {nullptr, "XC", "Ex Capital Change", 0x40000000000000ull},
};

const sscodes_row kConditions[kConditionRows] = {
    {"XT", nullptr, "Crossed", 0x1ull},
    {"BC", "SP", "Preferenced Block Trade", 0x2ull},
    {"SX", nullptr, "Portfolio Special Crossing", 0x4ull},
    {"EC", nullptr, "Exercise Call", 0x8ull},
    {"xx", nullptr, "Fixed Interest", 0x10ull},
    {"SP", "OL", "Block Special Crossing", 0x20ull},
    {"BW", nullptr, "Buy and Write", 0x40ull},
    {"LT", "LT", "Late Reported", 0x80ull},
    {"SM", nullptr, "Self-Managed Super Fund", 0x100ull},
    {nullptr, "IN", "International", 0x100ull},
    {"OS", nullptr, "Overseas", 0x200ull},
    {"BR", nullptr, "Broker Preferenced", 0x400ull},
    {nullptr, "OL", "Small Market Trade", 0x400ull},
    {"EP", nullptr, "Exercise Put", 0x800ull},
    {nullptr, "PF", "Portfolio Marriage", 0x1000ull},
    {"ST", nullptr, "Price Stabilisation", 0x2000ull},
    {"BP", nullptr, "Booking Purposes", 0x4000ull},
    {"DR", nullptr, "Direct Reporting", 0x8000ull},
    {"SA", nullptr, "Lesser Special Crossing", 0x10000ull},
    {"FD", nullptr, "Forward Delivery", 0x20000ull},
    {"PS", nullptr, "Prompt Sale", 0x40000ull},
    {"PR", nullptr, "Prompt Rebook", 0x80000ull},
    {"IB", nullptr, "Index Portfolio Replicating Special", 0x100000ull},
    {"BK", nullptr, "Buy Back", 0x200000ull},
    {"LN", nullptr, "Loan", 0x400000ull},
    {"ON", nullptr, "Overnight", 0x800000ull},
    {"MC", nullptr, "Market-on-Close", 0x1000000ull},
    {nullptr, "WA", "VWAP Trade", 0x1000000ull},
    {"LR", nullptr, "Loan Return", 0x2000000ull},
    {"SH", "SS", "Short Sale", 0x4000000ull},
    {"OR", nullptr, "Overseas Resident", 0x8000000ull},
    {"BV", nullptr, "Book Value", 0x10000000ull},
    {"MI", nullptr, "Market Info", 0x20000000ull},
    {"SP", nullptr, "Special Crossing Trade", 0x40000000ull},
    {nullptr, "SP", "Off market", 0x40000000ull},
    {"L", nullptr, "Permitted Post Trading", 0x10000000000ull},
    {"M", nullptr, "Permitted Pre Trading", 0x20000000000ull},
    {"CP", nullptr, "Centre Point Preferenced Matched", 0x80000000ull},
    {nullptr, "XX", "Extra Ordinary", 0x80000000ull},
    {"BB", nullptr, "Bulletin Board", 0x100000000ull},
    {"CM", nullptr, "CM Combo", 0x200000000ull},
    {"CT", nullptr, "Combo Crossing", 0x400000000ull},
    {"EQ", nullptr, "Equity/Option Combo", 0x800000000ull},
    {"GL", nullptr, "Non Screen Traded Government Instrument", 0x1000000000ull},
    {"PT", "PT", "Put-Through Special Crossing", 0x2000000000ull},
    {"TM", nullptr, "Tailor Made Combo", 0x4000000000ull},
    {"WH", nullptr, "Non Screen Traded Wholesale Instrument", 0x8000000000ull},
    {"L1", nullptr, "Late Book Squaring", 0x40000000000ull},
    {"L2", nullptr, "Late Hedging", 0x80000000000ull},
    {"L3", "LA", "Late Order Completion", 0x100000000000ull},
    {"L4", nullptr, "Late Error Rectification", 0x200000000000ull},
    {"L5", nullptr, "Late Put Through", 0x400000000000ull},
    {"CX", nullptr, "Centre Point", 0x800000000000ull},
    {"QB", nullptr, "Quote Board", 0x1000000000000ull},
    {"VM", nullptr, "Volume Match", 0x2000000000000ull},
    {"ET", nullptr, "ETF Special Trade", 0x4000000000000ull},
    {"P1", nullptr, "Put Through Special Crossing >= T2", 0x8000000000000ull},
    {"P2", nullptr, "Put Through Special Crossing >= T3 < T2", 0x10000000000000ull},
    {"S1", nullptr, "Special Crossing >= T1", 0x20000000000000ull},
    {"S2", nullptr, "Special Crossing >= T2 < T1", 0x40000000000000ull},
    {"S3", nullptr, "Special Crossing >= T3 < T2", 0x80000000000000ull},
    {"B", "BT", "Block Trade", 0x100000000000000ull},
    {nullptr, "EP", "Exchange for Physical", 0x200000000000000ull},
    {nullptr, "ES", "Exchange for Swap", 0x400000000000000ull},
    {"NX", nullptr, "NBBO Crossing", 0x800000000000000ull},
    {"E", nullptr, "Out of Hours Trade", 0x1000000000000000ull},
    {"P", nullptr, "Large Portfolio Trade", 0x2000000000000000ull},
    {"T", nullptr, "Large Principle Transaction", 0x4000000000000000ull},
    {"OC", nullptr, "OTC Contingent", 0x8000000000000000ull},
};

// Quote-basis rows for which NZX uses its own column; every other row, on
// every exchange, uses the ASX column.
constexpr uint64_t nzx_rows(std::initializer_list<int> rows) {
  uint64_t set = 0;
  for (int r : rows) set |= 1ull << r;
  return set;
}
constexpr uint64_t kNzxOwnRows =
    nzx_rows({24, 25, 33, 36, 37, 38, 39, 40, 41, 43, 48, 49, 51, 52, 53, 54});

const char* quote_basis_abbrev(int32_t exchange, int row) {
  if (exchange == kExchangeNzx && (kNzxOwnRows >> row & 1)) return kQuoteBasis[row].nzx;
  return kQuoteBasis[row].asx;
}

const char* exchange_label(int32_t exchange) {
  const char* name = ssmodel_exchange_name(exchange);
  return name ? name : "?";
}

void warn_missed(int32_t exchange, uint64_t mask, int row) {
  if (S.missed[row].exchange(true, std::memory_order_relaxed)) return;
  const sscodes_row& r = kQuoteBasis[row];
  log(LOG_WARN, kSrc, "missed %s %llx (i=%d, qb=%llx, a=%s, n=%s)", exchange_label(exchange),
      (unsigned long long)mask, row, (unsigned long long)r.mask, r.asx ? r.asx : "null",
      r.nzx ? r.nzx : "null");
}

// The column a condition code is taken from: NZX's own for NZX, the ASX
// column for the others.
const char* condition_column(int32_t exchange, const sscodes_row& r) {
  return exchange == kExchangeNzx ? r.nzx : r.asx;
}

// The code written into a condition text: as the column has it, except that
// ASX and AXO show the block-trade row as "BT".
const char* condition_text_code(int32_t exchange, int row) {
  if (row == kBlockTradeRow && (exchange == kExchangeAsx || exchange == kExchangeAxo)) return "BT";
  return condition_column(exchange, kConditions[row]);
}

// Ends a list of codes written from `buf` up to `p`, each followed by a
// space: the last space becomes the terminator, or the text is empty.
char* end_list(char* buf, char* p) {
  if (p == buf)
    buf[0] = '\0';
  else
    p[-1] = '\0';
  return buf;
}

// The first condition row for `bit` with a code in the exchange's own column.
const sscodes_row* condition_row(int32_t exchange, uint64_t bit) {
  for (const sscodes_row& r : kConditions) {
    const char* code = condition_column(exchange, r);
    if (r.mask == bit && code && code[0]) return &r;
  }
  return nullptr;
}

}  // namespace

const sscodes_row* sscodes_quote_basis_table(void) { return kQuoteBasis; }
const sscodes_row* sscodes_condition_table(void) { return kConditions; }

char* sscodes_quote_basis_text(char* buf, uint32_t* size, int32_t exchange, uint64_t mask) {
  if (!buf || !size) return nullptr;
  uint32_t cap = *size;
  // Signed on purpose: a buffer of fewer than 3 bytes has no room at all.
  int64_t room = (int64_t)cap - kAbbrevChars;
  uint32_t count = 0;
  char* p = buf;
  for (int i = 0; i < kQuoteBasisRows; i++) {
    if (!(mask & kQuoteBasis[i].mask)) continue;
    const char* abbrev = quote_basis_abbrev(exchange, i);
    if (!abbrev) {
      warn_missed(exchange, mask, i);
      continue;
    }
    if ((int64_t)count < room) {
      p[0] = abbrev[0];
      p[1] = abbrev[1];
      p[2] = ' ';
      p += kAbbrevChars;
    }
    count += kAbbrevChars;
  }
  *size = count;
  if (count >= cap) return nullptr;
  return end_list(buf, p);
}

const char* sscodes_quote_basis_names(int32_t exchange, uint64_t mask) {
  uint32_t size = sizeof S.quote_basis_names;
  return sscodes_quote_basis_text(S.quote_basis_names, &size, exchange, mask);
}

const char* sscodes_quote_basis_name(int32_t exchange, uint64_t bit) {
  (void)exchange;  // the names are the same on every exchange
  for (const sscodes_row& r : kQuoteBasis)
    if (r.mask == bit) return r.name;
  log(LOG_WARN, kSrc, "unknown quote basis %llx", (unsigned long long)bit);
  return nullptr;
}

const char* sscodes_condition_text(int32_t exchange, uint64_t mask) {
  // A one-letter code takes two characters with its space, a two-letter code
  // three; a code is written only while it and its space still fit.
  constexpr uint32_t kLimit1 = kConditionTextSize - 1;
  constexpr uint32_t kLimit2 = kConditionTextSize - 2;
  char* buf = S.condition_text;
  char* p = buf;
  uint32_t count = 0;
  for (int i = 0; i < kConditionRows; i++) {
    if (!(mask & kConditions[i].mask)) continue;
    const char* code = condition_text_code(exchange, i);
    if (!code || !code[0]) continue;
    size_t len = strlen(code);
    if (count < (len == 1 ? kLimit1 : kLimit2)) {
      memcpy(p, code, len);
      p[len] = ' ';
      p += len + 1;
    }
    count += (uint32_t)len + 1;
  }
  if (count > (uint32_t)kConditionTextSize) return nullptr;
  return end_list(buf, p);
}

const char* sscodes_condition_name(int32_t exchange, uint64_t bit) {
  if (exchange == kExchangeNzx) {
    if (bit == 0x2000000000ull) return "Put-Through";
    if (bit == 0x20ull) return "Small Market Trade";
    if (bit == 0x2ull) return "Off Market";
  }
  if (const sscodes_row* r = condition_row(exchange, bit)) return r->name;
  log(LOG_WARN, kSrc, "unknown cond code %llx", (unsigned long long)bit);
  return nullptr;
}

const char* sscodes_condition_code(int32_t exchange, uint64_t bit) {
  if (bit == kBlockTradeBit && (exchange == kExchangeAsx || exchange == kExchangeAxo)) return "BT";
  const sscodes_row* r = condition_row(exchange, bit);
  return r ? condition_column(exchange, *r) : nullptr;
}
