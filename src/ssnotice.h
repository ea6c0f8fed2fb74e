// Exchange notices: small typed records (names, aliases, capital, option
// details, constituents, dilutions, sectors, withdrawn news, history dates,
// stale cached data) applied to the model; those with a sequence number are
// kept newest first in their exchange's notice list.
//
// Runs on the io thread under the core lock. A notice whose text does not
// parse is refused whole: the model is left exactly as it was.
#pragma once
#include <cstdint>

#include "ssmodel.h"

constexpr int32_t kNoticePoolPage = 1000;
constexpr int32_t kNoticeTextMax = 255;
constexpr uint32_t kNoticeNoExchange = 4;  // names no exchange: nothing applies

struct ss_notice {
  int32_t sequence;
  uint32_t type;
  uint32_t exchange;
  char code[kCodeSize];
  const char* text;  // a copy this module owns, or null
  ss_notice* newer;
  ss_notice* older;
};

// The cached data of one instrument that a notice says is stale: bits of
// the forget hook's `what`.
enum : uint32_t {
  kNoticeForgetPrevdayTrades = 0x01,  // a stock's previous days' trades
  kNoticeForgetPrevdayStock = 0x02,   // a stock's previous days' events
  kNoticeForgetPrevdayIndex = 0x04,   // an index's previous days
  kNoticeForgetStockHistory = 0x08,
  kNoticeForgetIndexHistory = 0x10,
  kNoticeForgetNewsHistory = 0x20,  // an issuer's news history
};

// What a notice asks of the client, installed by the client at start-up
// (the model calls nothing above it): the io thread's own requests for a
// stock's or an issuer's history again, and forgetting the cached data of
// the instrument with that exchange and code (which need not be in the
// model). Any may be null.
struct ssnotice_hooks {
  int (*stock_history)(ss_stock* stock);
  int (*issuer_history)(ss_issuer* issuer);
  void (*forget_cache)(uint32_t exchange, const char* code, uint32_t what);
};
void ssnotice_set_hooks(const ssnotice_hooks* hooks);

int ssnotice_init(void);  // -1 after "can't alloc notice pool"
void ssnotice_fini(void);
// 0 applied (or nothing to do), -1 after an ERROR line: a malformed text, or
// an exchange index other than 4 without an exchange.
int ssnotice_apply(int32_t sequence, uint32_t type, uint32_t exchange, const char* code, const char* text);
// The online flag: notices that drop data apply only once the client is online.
int ssnotice_pending(void);
void ssnotice_set_pending(int on);
