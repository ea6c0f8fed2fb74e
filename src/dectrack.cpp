// Track records: the day's price track of one instrument as a summary entry
// carries it. The points are told from the exchange's pre-open time and from
// the previous close (stocks) or the first value (indices); a point cut short
// ends reading quietly, since the length in front already says where the
// next entry starts.
#include "dectrack.h"

#include "decguard.h"
#include "decode.h"
#include "log.h"
#include "ssclient.h"  // the request bits of instruments
#include "sstrack.h"

static const char kSrc[] = "src/dectrack";

namespace {

// The vint length and where the points are; 0 while not all present, -1
// when the length passes what the caller can ever give.
int read_length(const uint8_t* data, int32_t n, int32_t* head, int32_t* length) {
  uint32_t len;
  int r = decode_vint(data, n, &len);
  if (r <= 0) return r;
  if (len > static_cast<uint32_t>(INT32_MAX - r)) {
    log(LOG_ERROR, kSrc, "track of %u bytes", len);
    return -1;
  }
  *head = r;
  *length = static_cast<int32_t>(len);
  return n - r < static_cast<int32_t>(len) ? 0 : 1;
}

}  // namespace

int dectrack_decode_stock(const uint8_t* data, int32_t n, ss_stock* stock) {
  int32_t head, len;
  int r = read_length(data, n, &head, &len);
  if (r <= 0) return r;
  if (len == 0) return head;
  decguard_ref_date when(ssmodel_exchange_preopen_time(stock->exchange));
  const uint8_t* p = data + head;
  int32_t at = 0;
  uint32_t ref = stock->close;
  while (at < len) {
    ss_time t;
    uint32_t price;
    int a = decode_time_delta(p + at, len - at, &t);
    if (a == 0) break;
    if (a < 0) return -1;
    int b = decode_price(p + at + a, len - at - a, &price, &ref);
    if (b == 0) break;
    if (b < 0) {
      log(LOG_ERROR, kSrc, "failed");
      return -1;
    }
    at += a + b;
    sstrack_track_stock(stock, t, price);
  }
  return head + len;
}

int dectrack_decode_index(const uint8_t* data, int32_t n, ss_index* index) {
  int32_t head, len;
  int r = read_length(data, n, &head, &len);
  if (r <= 0) return r;
  if (len == 0) return head;
  decguard_ref_date when(ssmodel_exchange_preopen_time(index->exchange));
  const uint8_t* p = data + head;
  int32_t at = 0;
  uint32_t value = 0;
  bool first = true;
  while (at < len) {
    ss_time t;
    int a = decode_time_delta(p + at, len - at, &t);
    if (a == 0) break;
    if (a < 0) return -1;
    int b;
    if (first) {
      b = decode_index(p + at + a, len - at - a, &value);
    } else {
      int32_t change;
      b = decode_index_change(p + at + a, len - at - a, &change);
      if (b > 0) value = static_cast<uint32_t>(static_cast<int64_t>(value) + change);
    }
    if (b == 0) break;
    if (b < 0) {
      log(LOG_ERROR, kSrc, "failed");
      return -1;
    }
    at += a + b;
    first = false;
    sstrack_track_index(index, t, value);
    ssmodel_add_index_tick(index, static_cast<int32_t>(t), value);
  }
  // The whole day's ticks are in: today's index events need not be asked for.
  if (at == len) index->flags |= kRqEventsLoaded;
  return head + len;
}
