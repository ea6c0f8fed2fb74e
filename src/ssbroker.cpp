// The broker table. Records come from a small item pool and are keyed by
// code in a string-keyed hash set; nothing is removed before fini, so a
// record handed out stays valid for the life of the model. The 18 built-in
// brokers carry fixed ids the codec writes as one byte; the reverse look-up
// of an id is a plain array, since only those ids are ever written.
#include "ssbroker.h"

#include <cstring>

#include "chash.h"
#include "log.h"
#include "mmark.h"
#include "pool.h"

static const char kSrc[] = "src/ssbroker";

namespace {

constexpr int kBrokersPerPage = 50;
constexpr uint32_t kBrokerHashExpected = 47;

// Indexed by id.
constexpr const char* kBuiltinCodes[kBrokerBuiltins] = {
    "AACA", "ABNA", "ASBA", "CITW", "DBLW", "DEUA", "ESAW", "FNZW", "FORD",
    "GLEW", "GRSD", "GSJA", "HHGC", "MAQA", "MENW", "NZXR", "UBSA", "WJMW",
};

// Module state.
struct ssbroker_state {
  bool started;
  pool records;
  chash codes;  // ss_broker records keyed by code
};

ssbroker_state g;

}  // namespace

int ssbroker_init(void) {
  ssbroker_fini();
  if (mmark_init() != 0) return -1;
  if (pool_init(&g.records, kBrokersPerPage, sizeof(ss_broker)) != 0) {
    log(LOG_WARN, kSrc, "can't init broker pool");
    mmark_fini();
    return -1;
  }
  if (chash_init(&g.codes, kBrokerHashExpected) != 0) {
    log(LOG_WARN, kSrc, "can't init broker hash");
    pool_destroy(&g.records);
    mmark_fini();
    return -1;
  }
  g.started = true;
  for (int32_t id = 0; id < kBrokerBuiltins; id++) {
    ss_broker* b = ssbroker_add(kBuiltinCodes[id]);
    if (b == nullptr) {
      ssbroker_fini();
      return -1;
    }
    b->id = id;
  }
  return 0;
}

void ssbroker_fini(void) {
  if (!g.started) return;
  mmark_fini();
  chash_free(&g.codes);
  pool_destroy(&g.records);
  g.started = false;
}

ss_broker* ssbroker_add(const char* code) {
  if (!g.started || code == nullptr) {
    log(LOG_ERROR, kSrc, "can't add broker %s", code ? code : "(null)");
    return nullptr;
  }
  if (ss_broker* b = ssbroker_find(code)) return b;
  // Codes come from the market data: one that does not fit the record would
  // be stored cut short under a key that never matches it again.
  if (strlen(code) > kBrokerCodeMax) {
    log(LOG_ERROR, kSrc, "can't add broker %s: longer than %d characters", code, kBrokerCodeMax);
    return nullptr;
  }
  ss_broker* b = static_cast<ss_broker*>(pool_alloc(&g.records));
  if (b == nullptr) {
    log(LOG_ERROR, kSrc, "can't add broker %s", code);
    return nullptr;
  }
  memset(b, 0, sizeof *b);
  strcpy(b->code, code);
  b->id = -1;
  if (chash_add(&g.codes, b) != 0) {
    pool_free(&g.records, b);
    log(LOG_ERROR, kSrc, "can't add broker %s", code);
    return nullptr;
  }
  return b;
}

ss_broker* ssbroker_find(const char* code) {
  if (!g.started || code == nullptr) return nullptr;
  return static_cast<ss_broker*>(chash_find(&g.codes, code));
}

int32_t ssbroker_id(const char* code) {
  const ss_broker* b = ssbroker_find(code);
  return b ? b->id : -1;
}

const char* ssbroker_code(int32_t id) { return id >= 0 && id < kBrokerBuiltins ? kBuiltinCodes[id] : nullptr; }
