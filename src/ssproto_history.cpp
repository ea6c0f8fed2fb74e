// History and news messages: the daily history of a stock (110) or an index
// (111), the news history of an issuer (120), one news item of today (121)
// and an exchange's news summary list (122).
//
// The history and summary replies arrive as blocks; their inflated bytes
// are applied with the record readers and, when they came live and undated
// (summaries: live at any date), written to the data cache as they are, so
// that the cache replays exactly what the server sent.
#include <cstdint>

#include "decblk.h"
#include "dechist.h"
#include "decnews.h"
#include "decsum.h"
#include "log.h"
#include "sscache.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace {

constexpr uint32_t kAddedStockFlags = 31;  // request bits of a stock a reply adds
constexpr int kHistoryCounter = 5;         // counter pair of the history replies
constexpr uint32_t kChangeNewsToday = 0x80000;

// Change recording off for the length of a scope, then on again.
class recording_off {
 public:
  recording_off() { ssnotify_set_enabled(0); }
  ~recording_off() { ssnotify_set_enabled(1); }
  recording_off(const recording_off&) = delete;
  recording_off& operator=(const recording_off&) = delete;
};

// The instrument a history reply is about, found or added; null after an
// ERROR line.
instr* history_instrument(ssproto_msg* m, ss_exchange* ex, const char* code) {
  instr* in = nullptr;
  switch (m->type) {
    case 110:
      if (m->given) return m->given;
      if (ss_stock* s = ssmodel_find_stock(ex, code)) return s;
      if (ss_stock* s = ssmodel_add_stock(ex, code)) {
        s->flags = kAddedStockFlags;
        return s;
      }
      break;
    case 111:
      in = ssmodel_find_index(ex, code);
      if (!in) in = ssmodel_add_index(ex, code);
      break;
    default:
      in = ssmodel_find_issuer(ex, code);
      if (!in) in = ssmodel_add_issuer(ex, code);
      break;
  }
  if (!in) log(LOG_ERROR, kSrc, "can't add %s to %s", code, ex->name);
  return in;
}

}  // namespace

namespace ssproto_handlers {

// A block field: inflated with a stream of its own into the emptied work
// buffer of the message's nesting level.
int inflate_block(ssproto_msg* m, growbuf** out) {
  growbuf* gb = ssproto_work_buffer(m->nesting);
  if (!gb) return -1;
  growbuf_truncate(gb, 0);
  int r = decblk_inflate(m->data + m->used, m->avail - m->used, gb);
  if (r > 0) m->used += r;
  *out = gb;
  return r;
}


// 110, 111, 120: exchange, code, date, block.
int do_history(ssproto_msg* m) {
  uint8_t index;
  char code[kCodeSize];
  ss_time date;
  growbuf* gb = nullptr;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_code(m, code));
  PROTO_FIELD(ssproto_read_date(m, &date));
  PROTO_FIELD(inflate_block(m, &gb));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  instr* in = history_instrument(m, ex, code);
  if (!in) return PROTO_FAIL();
  log(LOG_INFO, kSrc, "history %s %db", in->code, gb->len);
  int r;
  if (m->type == 110)
    r = dechist_decode_stock(static_cast<ss_stock*>(in), gb->data, gb->len, 1);
  else if (m->type == 111)
    r = dechist_decode_index(static_cast<ss_index*>(in), gb->data, gb->len, 1);
  else
    r = dechist_decode_news(in, gb->data, gb->len, 1);
  if (r < 0) {
    log(LOG_ERROR, kSrc, "can't decode %s history", in->code);
    if (m->type == 120) return PROTO_FAIL();
    return ssproto_used(m);
  }
  ssnotify_record(in, m->type == 120 ? kChangeNewsList : kChangeHistory, nullptr);
  if (!ssproto_replaying() && m->nesting == 0 && date == 0) {
    if (m->type == 110)
      sscache_save_stock_history(static_cast<ss_stock*>(in), gb->data, gb->len);
    else if (m->type == 111)
      sscache_save_index_history(static_cast<ss_index*>(in), gb->data, gb->len);
    else
      sscache_save_news_history(in, gb->data, gb->len);
  }
  ssproto_add_counter(kHistoryCounter, 1, static_cast<uint32_t>(m->used));
  return ssproto_used(m);
}

// 121: one news item of today about the header's issuer.
int do_news_today(ssproto_msg* m) {
  if (!P.current) {
    log(LOG_ERROR, kSrc, "exchange is null when looking for %s", m->code);
    return PROTO_FAIL();
  }
  uint32_t number, codes[kNewsCodes], flags;
  ss_time time;
  char headline[kNewsHeadlineRead];
  int r = decnews_decode_summary(nullptr, &number, &time, codes, &flags, headline, m->data + m->used,
                                 m->avail - m->used);
  if (r <= 0) {
    if (r < 0) ssproto_trace(__LINE__);
    return r;
  }
  m->used += r;
  if (!model_exchange(P.current, m->code)) return PROTO_FAIL();
  ss_issuer* is = ssmodel_find_issuer(P.current, m->code);
  if (!is) is = ssmodel_add_issuer(P.current, m->code);
  if (!is) {
    log(LOG_ERROR, kSrc, "can't add %s to %s", m->code, P.current->name);
    return PROTO_FAIL();
  }
  if (ssevent_add_news(is, number, time, codes, flags, headline) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s news today", P.current->name, is->code);
    return PROTO_FAIL();
  }
  ssnotify_record(is, kChangeNewsToday, nullptr);
  return ssproto_used(m);
}

// 122: an exchange's news summary list (dated from protocol 3 on).
int do_news_summary(ssproto_msg* m) {
  uint8_t index;
  ss_time date = 0;
  growbuf* gb = nullptr;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  if (ssproto_version() >= 3) PROTO_FIELD(ssproto_read_date(m, &date));
  PROTO_FIELD(inflate_block(m, &gb));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  if (ssproto_version() < 3) date = (P.current ? P.current : ex)->date & ~kSstimeSecondsMask;
  char when[kSstimeDateLen];
  log(LOG_INFO, kSrc, "%s %s %db/%db news summary", ex->name, sstime_format_date_into(when, date), ssproto_used(m),
      gb->len);
  int r;
  {
    recording_off off;
    r = decsum_decode_news(ex, gb->data, gb->len);
  }
  if (r < 0) return PROTO_FAIL();
  if (sstime_date_compare(date, ex->date) >= 0) ssnotify_record_global(kGlobalNewsToday);
  if (m->nesting == 0 && !ssproto_replaying()) sscache_save_news_summary(ex, date, gb->data, gb->len);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
