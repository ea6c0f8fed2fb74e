// Recovery data: what the program knows of each exchange's stream, kept in
// "RECOVERY2" (Temp folder) across a restart the server asked for, so the
// restarted program resumes the streams instead of loading them again.
//
// The file is the codec's own: a prefix of positions and signatures, then
// per exchange a run of ordinary protocol messages (select, reset, params,
// state) and the exchange's summary, then the global values; applying it is
// decoding those messages as if the server had sent them. This module needs
// only the engine, so the fuzz target builds it alone.
#include "startup/recovery.h"

#include "dalloc.h"
#include "decglobal.h"
#include "decode.h"
#include "decsum.h"
#include "encode.h"
#include "enchdr.h"
#include "encsum.h"
#include "growbuf.h"
#include "localdata.h"
#include "log.h"
#include "ssmodel.h"
#include "ssproto.h"

namespace {
constexpr char kSrc[] = "src/startup/recovery";
constexpr char kFileName[] = "RECOVERY2";
constexpr int32_t kBufStep = 64 * 1024;
constexpr uint32_t kPrefixRoom = 40;
constexpr uint32_t kRunRoom = 64;
constexpr int kEntryBytes = 9;  // index byte, signature, position
// Exchange 2 (the global one) has no run of its own: its values travel as
// the global summary.
constexpr int32_t kRunExchanges[] = {0, 1, 3};
// Message types of an exchange's run.
constexpr uint32_t kMsgSelect = 51;
constexpr uint32_t kMsgDate = 54;
constexpr uint32_t kMsgReset = 160;
constexpr uint32_t kMsgParams = 55;
constexpr uint32_t kMsgState = 191;
// Instruments with this bit keep their request bits across a recovery.
constexpr uint32_t kKeptFlag = 0x400000;
constexpr uint32_t kClearedFlags = kInRequestBits | kInRequestedBits;

// Frees the growable buffer at the end of a scope.
struct growbuf_guard {
  growbuf* gb;
  ~growbuf_guard() { growbuf_free(gb); }
};

// The messages of an exchange's run into room reserved before.
int32_t write_run(uint8_t* out, ss_exchange* ex) {
  int32_t n = 0;
  n += enchdr_encode_exchange(out + n, kMsgSelect, -1, nullptr);
  n += encode_byte(out + n, ex->index);
  // The restarted program reads the run before it signs on, so the run
  // carries what sign-on would tell first: the clock and whether the
  // exchange's depth carries brokers (its summary is written that way).
  n += enchdr_encode_exchange(out + n, kMsgDate, -1, nullptr);
  n += encode_byte(out + n, ex->index);
  n += encode_uint32(out + n, ex->date);
  n += encode_uint32(out + n, ssmodel_exchange_now(ex));
  n += encode_vint(out + n, static_cast<uint32_t>(ex->offset));
  n += encode_byte(out + n, (ex->flags & kExBrokers) ? 1 : 0);
  n += enchdr_encode_exchange(out + n, kMsgReset, -1, nullptr);
  n += encode_uint32(out + n, ex->date);
  n += encode_uint32(out + n, ex->cur_time);
  n += encode_vint(out + n, static_cast<uint32_t>(ex->offset));
  n += enchdr_encode_exchange(out + n, kMsgParams, -1, nullptr);
  n += encode_byte(out + n, ex->index);
  n += encode_code(out + n, ex->cur_code);
  n += encode_uint32(out + n, ex->cur_time);
  n += enchdr_encode_exchange(out + n, kMsgState, -1, nullptr);
  n += encode_byte(out + n, ex->state);
  return n;
}

void clear_instrument_flags(chash* t, uint32_t keep_mask) {
  for (uint64_t k = 0; k < t->count; k++) {
    instr* in = static_cast<instr*>(t->sorted[k]);
    if (!(in->flags & keep_mask)) in->flags &= ~kClearedFlags;
  }
}
}  // namespace

int recovery_encode(growbuf* gb) {
  uint8_t* p = growbuf_reserve(gb, kPrefixRoom);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't alloc space for recovery");
    return -1;
  }
  int32_t n = encode_byte(p, kExchanges);
  for (int32_t i = 0; i < kExchanges; i++) {
    n += encode_byte(p + n, static_cast<uint32_t>(i));
    n += encode_uint32(p + n, ssmodel_exchange_signature(i));
    n += encode_uint32(p + n, ssproto_exchange_position(i));
  }
  growbuf_commit(gb, static_cast<uint32_t>(n));
  for (int32_t i : kRunExchanges) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) continue;
    uint8_t* r = growbuf_reserve(gb, kRunRoom);
    if (!r || growbuf_commit(gb, static_cast<uint32_t>(write_run(r, ex))) < 0 ||
        encsum_encode_stock(gb, ex, decsum_options()) < 0) {
      log(LOG_ERROR, kSrc, "failed writing %s recovery", ssmodel_exchange_name(i));
      return -1;
    }
  }
  if (encglobal_encode(gb) < 0) {
    log(LOG_ERROR, kSrc, "failed encoding global summary");
    return -1;
  }
  return 0;
}

int recovery_write(void) {
  growbuf gb = {};
  if (growbuf_init(&gb, kBufStep, kBufStep) < 0) {
    log(LOG_ERROR, kSrc, "can't create recoevery growbuf");
    return -1;
  }
  growbuf_guard guard{&gb};
  if (recovery_encode(&gb) < 0) return -1;
  // localdata_write goes through a temporary file renamed over the old one,
  // so a write cut short never leaves half a file for the next start.
  if (localdata_write(LOCALDATA_TEMP, kFileName, gb.data, static_cast<uint32_t>(gb.len)) < 0) {
    log(LOG_ERROR, kSrc, "can't write recovery");
    return -1;
  }
  log(LOG_INFO, kSrc, "wrote %db recovery", gb.len);
  return 0;
}

int recovery_decode(const uint8_t* data, int32_t n) {
  uint32_t signatures[kExchanges] = {0, 0, 0, 0};
  uint32_t positions[kExchanges] = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
  bool ok = n >= 1;
  int32_t at = 1;
  if (ok) {
    // The count comes from the file: every entry it announces must be there.
    const int32_t count = data[0];
    if (count * kEntryBytes > n - at) ok = false;
    for (int32_t e = 0; ok && e < count; e++, at += kEntryBytes) {
      const uint8_t index = data[at];
      if (index >= kExchanges) continue;
      decode_uint32(data + at + 1, 4, &signatures[index]);
      decode_uint32(data + at + 5, 4, &positions[index]);
    }
  }
  if (ok && at < n) {
    ssproto_current_guard current;
    const int used = ssproto_decode_saved(data + at, n - at);
    // A message cut off at the end is damage too, not a wait for more.
    ok = used == n - at;
  }
  if (!ok) {
    log(LOG_ERROR, kSrc, "failed to decode recovery");
    ssproto_reset_positions();
    ssmodel_reset_all(1);
    return -1;
  }
  for (int32_t i = 0; i < kExchanges; i++) {
    ssproto_set_exchange_position(i, positions[i]);
    ssmodel_set_signature(i, signatures[i]);
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) continue;
    for (chash* t : {&ex->stocks, &ex->indices, &ex->issuers}) clear_instrument_flags(t, kKeptFlag);
  }
  if (ss_exchange* ex = ssmodel_exchange(3))
    for (chash* t : {&ex->stocks, &ex->indices, &ex->issuers}) clear_instrument_flags(t, 0);
  return 0;
}

int recovery_apply(void) {
  void* data = nullptr;
  uint32_t n = 0;
  if (localdata_read(LOCALDATA_TEMP, kFileName, &data, &n) < 0 || !data) {
    log(LOG_WARN, kSrc, "no recovery information");
    return 0;
  }
  // Gone before it is read, so that it is applied at most once even when
  // applying it brings the program down.
  localdata_remove(LOCALDATA_TEMP, kFileName);
  log(LOG_INFO, kSrc, "applying %db recovery data", static_cast<int>(n));
  recovery_decode(static_cast<const uint8_t*>(data), static_cast<int32_t>(n));
  dalloc_free(data);
  return 0;
}
