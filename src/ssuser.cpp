// The signed-on user: identity, flags, permitted exchanges and the stored
// configuration. The identity words are relaxed atomics, read from every
// thread, and the permitted exchanges are derived from the exchange bits on
// read, so no reader sees a half-made set. The configuration is guarded by the
// user lock, made at init (never lazily, where two threads could race to make
// it), and every reader gets a copy of its own: the io thread may replace or
// drop the stored copy at any time without freeing what a reader still holds.
#include "ssuser.h"

#include <atomic>
#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "ssmodel.h"

static const char kSrc[] = "src/ssuser";

namespace {

constexpr uint32_t kSignedOutId = 1;
constexpr uint32_t kAsxBit = 0x1;
constexpr uint32_t kNzxBit = 0x2;
constexpr uint32_t kAxoBit = 0x4;
// The configuration comes from the server and from the user's own saves; a
// length past this is refused before anything is allocated.
constexpr int32_t kConfigMax = 64 * 1024 * 1024;

// Module state. The identity words are atomics (see the top of the file);
// the configuration fields are read and written only under `lock`.
struct user_state {
  std::atomic<uint32_t> id{kSignedOutId};
  std::atomic<uint32_t> flags{0};
  std::atomic<uint32_t> exchanges{0};
  plat_slot lock = -1;
  char* config = nullptr;  // NUL-terminated, length + 1 bytes
  int32_t length = 0;
  uint32_t version = 0;
};

user_state U;

// The exchange bit of each exchange index; GLB has none.
constexpr uint32_t kExchangeBits[kExchanges] = {kAsxBit, kNzxBit, 0, kAxoBit};

// Whether a guard of the user lock holds it; false after an ERROR line when
// the lock was never made or could not be taken.
bool locked(const plat_lock_guard& guard) {
  if (guard.held()) return true;
  log(LOG_ERROR, kSrc, "%s", U.lock < 0 ? "user lock not made" : "can't take user lock");
  return false;
}

}  // namespace

int ssuser_init(void) {
  if (U.lock >= 0) return 0;
  U.lock = plat_mutex_create();
  if (U.lock < 0) {
    log(LOG_ERROR, kSrc, "can't make user lock");
    return -1;
  }
  return 0;
}

void ssuser_fini(void) {
  if (U.lock >= 0) {
    ssuser_clear_config(nullptr);
    plat_mutex_destroy(U.lock);
    U.lock = -1;
  }
  U.id.store(kSignedOutId, std::memory_order_relaxed);
  U.flags.store(0, std::memory_order_relaxed);
  U.exchanges.store(0, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Identity and permissions

void ssuser_set(uint32_t id, uint32_t flags, uint32_t exchange_bits) {
  U.id.store(id, std::memory_order_relaxed);
  U.flags.store(flags, std::memory_order_relaxed);
  U.exchanges.store(exchange_bits, std::memory_order_relaxed);
}

uint32_t ssuser_id(void) { return U.id.load(std::memory_order_relaxed); }
int ssuser_is(uint32_t id) { return ssuser_id() == id; }
uint32_t ssuser_flags(void) { return U.flags.load(std::memory_order_relaxed); }
uint32_t ssuser_has_flag(uint32_t mask) { return ssuser_flags() & mask; }
uint32_t ssuser_exchange_mask(uint32_t mask) { return mask & U.exchanges.load(std::memory_order_relaxed); }

int ssuser_exchange_permitted(int32_t index) {
  if (index < 0 || index >= kExchanges) return 0;
  return (U.exchanges.load(std::memory_order_relaxed) & kExchangeBits[index]) != 0;
}

int ssuser_permitted_count(void) {
  uint32_t bits = U.exchanges.load(std::memory_order_relaxed);
  int n = 0;
  for (uint32_t b : kExchangeBits) n += (bits & b) != 0;
  return n;
}

int ssuser_multi_exchange(void) { return ssuser_permitted_count() > 1; }

int ssuser_can_see(const instr* in) {
  if (!in || !in->exchange) return 0;
  int32_t index = (int32_t)in->exchange->index;
  return ssuser_exchange_permitted(index) || (index == kExchangeGlb && in->kind == kKindIndex);
}

// ---------------------------------------------------------------------------
// Configuration

int ssuser_store_config(const void* data, int32_t length) {
  if (length < 0 || length > kConfigMax || (!data && length > 0)) {
    log(LOG_ERROR, kSrc, "can't alloc %lldb for user config", (long long)length + 1);
    return -1;
  }
  char* copy = static_cast<char*>(dalloc_alloc(length + 1));
  if (length > 0) memcpy(copy, data, (size_t)length);
  copy[length] = '\0';
  char* old = nullptr;
  {
    plat_lock_guard guard(U.lock);
    if (!locked(guard)) {
      dalloc_free(copy);
      return -1;
    }
    old = U.config;
    U.config = copy;
    U.length = length;
    U.version++;
  }
  if (old) dalloc_free(old);
  return 0;
}

char* ssuser_get_config(int32_t* length) {
  if (length) *length = 0;
  plat_lock_guard guard(U.lock);
  if (!locked(guard) || !U.config) return nullptr;
  char* copy = static_cast<char*>(dalloc_alloc(U.length + 1));
  memcpy(copy, U.config, (size_t)U.length + 1);
  if (length) *length = U.length;
  return copy;
}

void ssuser_clear_config(char* blob) {
  char* drop = blob;
  {
    plat_lock_guard guard(U.lock);
    if (locked(guard)) {
      if (!blob || blob == U.config) {
        drop = U.config;
        U.config = nullptr;
        U.length = 0;
      }
      U.version++;
    }
  }
  if (drop) dalloc_free(drop);
}

int ssuser_has_config(void) {
  plat_lock_guard guard(U.lock);
  return locked(guard) && U.config && U.length > 0;
}

uint32_t ssuser_config_version(void) {
  plat_lock_guard guard(U.lock);
  return locked(guard) ? U.version : 0;
}
