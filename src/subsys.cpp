// The side channel: blocks for the terminal's subsystems cross from the io
// thread to the user-interface thread through an incoming buffer under a lock.
//
// The io thread appends; the user-interface thread swaps the whole incoming
// buffer into its working buffer under the lock and walks the blocks without
// it. The pending flag is read without the lock first, so an idle tick costs
// one atomic load; it is an atomic because both threads touch it.
//
// Threads and locks: `lock` guards `incoming` and `pending` only; `working`
// and the registry belong to the user-interface thread.
#include "subsys.h"

#include <atomic>
#include <cstring>

#include "aes.h"
#include "dalloc.h"
#include "decode.h"
#include "encode.h"
#include "growbuf.h"
#include "log.h"
#include "plat.h"
#include "sha256.h"

static const char kSrc[] = "src/subsys";

namespace {

constexpr int32_t kBufferStep = 8192;
constexpr int32_t kKeyBlockBytes = 124;  // seven 16-byte pieces, one of 8, one of 4
constexpr int32_t kBlockHeadMax = 15;    // three vints
constexpr uint32_t kFlagKey = 0;   // the payload is the subsystem's key
constexpr uint32_t kFlagLast = 1;  // the last block of the subsystem

// The pieces the built-in key is hashed from, in this order.
constexpr uint8_t kKeyPieces16[7][16] = {
    {0x41, 0x6d, 0x62, 0x69, 0x74, 0x20, 0x73, 0x69, 0x64, 0x65, 0x20, 0x63, 0x68, 0x61, 0x6e, 0x6e},
    {0x9e, 0x37, 0x79, 0xb9, 0x7f, 0x4a, 0x7c, 0x15, 0xf3, 0x9c, 0xc0, 0x60, 0x5c, 0xed, 0xc8, 0x34},
    {0x10, 0x82, 0x27, 0x6b, 0xf3, 0xa2, 0x72, 0x51, 0xe6, 0x10, 0xb7, 0xae, 0x88, 0x29, 0x44, 0x4f},
    {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c},
    {0x6a, 0x09, 0xe6, 0x67, 0xbb, 0x67, 0xae, 0x85, 0x3c, 0x6e, 0xf3, 0x72, 0xa5, 0x4f, 0xf5, 0x3a},
    {0x51, 0x0e, 0x52, 0x7f, 0x9b, 0x05, 0x68, 0x8c, 0x1f, 0x83, 0xd9, 0xab, 0x5b, 0xe0, 0xcd, 0x19},
    {0xc3, 0xd2, 0xe1, 0xf0, 0x76, 0x54, 0x32, 0x10, 0xfe, 0xdc, 0xba, 0x98, 0x01, 0x23, 0x45, 0x67},
};
constexpr uint8_t kKeyPiece8[8] = {0x65, 0x6c, 0x20, 0x6b, 0x65, 0x79, 0x20, 0x31};
constexpr uint8_t kKeyPiece4[4] = {0x0b, 0xad, 0xf0, 0x0d};
static_assert(sizeof kKeyPieces16 + sizeof kKeyPiece8 + sizeof kKeyPiece4 == kKeyBlockBytes);

}  // namespace

// Module state.
static struct {
  plat_slot lock = -1;
  growbuf incoming;  // io thread appends, under lock
  growbuf working;   // user-interface thread
  std::atomic<bool> pending{false};
  bool started = false;
  subsys_record* registry = nullptr;  // most recently used first
  uint8_t key[kSubsysKeyBytes] = {};
} S;

int subsys_init(void) {
  uint8_t* block = static_cast<uint8_t*>(dalloc_alloc(kKeyBlockBytes));
  int32_t at = 0;
  for (const auto& piece : kKeyPieces16) {
    memcpy(block + at, piece, sizeof piece);
    at += static_cast<int32_t>(sizeof piece);
  }
  memcpy(block + at, kKeyPiece8, sizeof kKeyPiece8);
  at += static_cast<int32_t>(sizeof kKeyPiece8);
  memcpy(block + at, kKeyPiece4, sizeof kKeyPiece4);
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, block, kKeyBlockBytes);
  sha256_final(&ctx, S.key);
  plat_random_bytes(block, kKeyBlockBytes);  // the assembled block does not linger
  dalloc_free(block);

  S.registry = nullptr;
  S.pending.store(false);
  S.lock = plat_mutex_create();
  if (S.lock < 0) return -1;
  if (growbuf_init(&S.incoming, kBufferStep, kBufferStep) < 0 || growbuf_init(&S.working, kBufferStep, kBufferStep) < 0) {
    subsys_fini();
    return -1;
  }
  S.started = true;
  return 0;
}

void subsys_fini(void) {
  if (S.lock >= 0) plat_mutex_destroy(S.lock);
  S.lock = -1;
  growbuf_free(&S.incoming);
  growbuf_free(&S.working);
  S.pending.store(false);
  S.registry = nullptr;
  S.started = false;
}

const uint8_t* subsys_builtin_key(void) { return S.key; }

int subsys_queue_block(uint32_t number, uint32_t flag, const void* payload, int32_t n) {
  if (!S.started || n < 0 || n > kSubsysPayloadMax) return -1;
  uint8_t head[kBlockHeadMax];
  int32_t h = encode_vint(head, number);
  h += encode_vint(head + h, flag);
  h += encode_vint(head + h, static_cast<uint32_t>(n));
  plat_lock_guard g(S.lock);
  if (S.incoming.len + h + n > kSubsysQueuedMax) return -1;
  const int32_t mark = S.incoming.len;
  if (growbuf_append(&S.incoming, head, static_cast<uint32_t>(h)) < 0 ||
      (n > 0 && growbuf_append(&S.incoming, payload, static_cast<uint32_t>(n)) < 0)) {
    growbuf_truncate(&S.incoming, mark);
    return -1;
  }
  S.pending.store(true, std::memory_order_release);
  return 0;
}

namespace {

// Deciphers n bytes (a multiple of 16) block by block with a 32-byte key.
bool decipher(const uint8_t* key, const uint8_t* in, int32_t n, uint8_t* out) {
  if (n % 16 != 0) return false;
  aes_schedule ks;
  const int rounds = aes_set_decrypt_key(&ks, key, 256);
  if (rounds < 0) return false;
  for (int32_t i = 0; i < n; i += 16) aes_decrypt_block(&ks, rounds, in + i, out + i);
  return true;
}

void unregister(subsys_record* s) {
  for (subsys_record** link = &S.registry; *link; link = &(*link)->next)
    if (*link == s) {
      *link = s->next;
      return;
    }
}

// One block for a registered subsystem. Flag 0 carries the subsystem's key
// under the built-in key; other flags carry a payload under the subsystem's
// key, and flag 1 also ends the registration.
void hand_over(subsys_record* s, uint32_t flag, const uint8_t* payload, int32_t n) {
  static uint8_t plain[kSubsysPayloadMax];
  if (flag == kFlagKey) {
    if (n < kSubsysKeyBytes || !decipher(S.key, payload, kSubsysKeyBytes, s->key))
      log(LOG_ERROR, kSrc, "bad key for subsys #%d", static_cast<int>(s->number));
    return;
  }
  if (!decipher(s->key, payload, n, plain)) {
    log(LOG_ERROR, kSrc, "bad %db payload for subsys #%d", n, static_cast<int>(s->number));
    return;
  }
  if (s->callback) s->callback(s, flag, plain, n);
  if (flag == kFlagLast) unregister(s);
}

}  // namespace

subsys_record* subsys_find(uint32_t number) {
  for (subsys_record** link = &S.registry; *link; link = &(*link)->next) {
    subsys_record* s = *link;
    if (s->number != number) continue;
    *link = s->next;
    s->next = S.registry;
    S.registry = s;
    return s;
  }
  return nullptr;
}

void subsys_register(subsys_record* s) {
  s->next = S.registry;
  S.registry = s;
}

int subsys_deliver(void) {
  if (!S.pending.load(std::memory_order_acquire)) return 0;
  {
    plat_lock_guard g(S.lock);
    growbuf_truncate(&S.working, 0);
    growbuf_copy(&S.working, &S.incoming);
    growbuf_truncate(&S.incoming, 0);
    S.pending.store(false, std::memory_order_relaxed);
  }
  const uint8_t* p = S.working.data;
  int32_t left = S.working.len;
  while (left > 0) {
    uint32_t number, flag, n;
    int32_t used = 0;
    int r = decode_vint(p, left, &number);
    if (r > 0) {
      used += r;
      r = decode_vint(p + used, left - used, &flag);
    }
    if (r > 0) {
      used += r;
      r = decode_vint(p + used, left - used, &n);
    }
    if (r > 0) {
      used += r;
      if (n > static_cast<uint32_t>(kSubsysPayloadMax)) r = -1;
      else if (static_cast<int64_t>(n) > left - used) r = 0;
    }
    if (r <= 0) {
      if (r < 0) log(LOG_ERROR, kSrc, "failed");
      growbuf_truncate(&S.working, 0);
      return r;
    }
    subsys_record* s = subsys_find(number);
    if (!s)
      log(LOG_ERROR, kSrc, "can't find subsys #%d", static_cast<int>(number));
    else
      hand_over(s, flag, p + used, static_cast<int32_t>(n));
    used += static_cast<int32_t>(n);
    p += used;
    left -= used;
  }
  growbuf_truncate(&S.working, 0);
  return 0;
}
