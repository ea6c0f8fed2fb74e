// Inside the dispatcher: what ssproto.cpp (framing, the table, dispatch) and
// the message-family files (ssproto_<family>.cpp) share. Not part of the
// dispatcher's face; nothing outside ssproto*.cpp includes it.
#pragma once
#include <atomic>
#include <cstdint>

#include "ssproto.h"

constexpr int kProtoNestingLevels = 2;  // work buffers and scratch stocks
constexpr uint32_t kAddedStockFlags = 31;  // request bits of a stock the stream or an answer adds

// The dispatcher's state, one instance (ssproto.cpp).
struct proto_state {
  bool ready = false;
  int32_t version = kProtoVersion;
  int32_t depth = -1;  // nesting of the message being dispatched
  growbuf work[kProtoNestingLevels] = {};
  growbuf save = {};
  uint8_t* multi = nullptr;
  ss_stock* scratch[kProtoNestingLevels] = {};
  ss_exchange* current = nullptr;
  std::atomic<uint32_t> positions[kProtoPositions] = {kProtoPositionNone, kProtoPositionNone, kProtoPositionNone,
                                                      kProtoPositionNone};
  std::atomic<uint32_t> master{0};
  std::atomic<uint32_t> expected{0};
  uint8_t counting = 0;
  uint8_t replay = 0;
  ssproto_counter counters[kProtoCounterPairs] = {};
  ssproto_msg* msg = nullptr;  // innermost message being dispatched
  ssproto_handler test_handlers[256] = {};
  ssproto_observer observer = nullptr;
};

// Constant-initialised, so that a model started from another file's static
// initialisation finds it ready and does not see it reset afterwards.
extern constinit proto_state ssproto_state;

// Trace the failing check at this source line, then fail.
#define PROTO_FAIL() (ssproto_trace(__LINE__), -1)
// Read one field; on 0 or -1 end the handler with it (a trace on -1).
#define PROTO_FIELD(call)                        \
  do {                                           \
    int field_r_ = (call);                       \
    if (field_r_ <= 0) {                         \
      if (field_r_ < 0) ssproto_trace(__LINE__); \
      return field_r_;                           \
    }                                            \
  } while (0)

// The handlers of the built message families, one file per family; each has
// the ssproto_handler shape. The table in ssproto.cpp names them by type.
namespace ssproto_handlers {

// The unknown-type path: one ERROR line, the trace, -1.
int unknown_type(ssproto_msg* m);
// Whether the exchange is one of the model's, not the scratch exchange of a
// stock's fill: the saved stream of one stock names no other instrument, and
// what were added to a scratch exchange's tables would never be freed. False
// after an ERROR line naming the code.
bool model_exchange(const ss_exchange* ex, const char* code);
// The exchange of an index field, or null after an ERROR line.
ss_exchange* exchange_or_log(uint32_t index);

// Reads one framed block of the message, appended to the work buffer of its
// nesting level from *mark on (the caller truncates back to it): the block
// reader's result, moving the cursor on success.
int read_block(ssproto_msg* m, growbuf** work, int32_t* mark);

// ssproto_stream.cpp: stream control and exchange messages.
int do_expecting(ssproto_msg* m);         // 40
int do_user(ssproto_msg* m);              // 41
int do_proceeding(ssproto_msg* m);        // 49
int do_select_exchange(ssproto_msg* m);   // 51-53, 59
int do_exchange_date(ssproto_msg* m);     // 54
int do_signature(ssproto_msg* m);         // 166

// ssproto_exchange.cpp: blocks, exchange control and stock state messages.
int do_run(ssproto_msg* m);              // 27
int do_block(ssproto_msg* m);            // 90
int do_user_config(ssproto_msg* m);      // 42
int do_sync(ssproto_msg* m);             // 50
int do_params(ssproto_msg* m);           // 55
int do_server_position(ssproto_msg* m);  // 56
int do_day_begin(ssproto_msg* m);        // 57
int do_day_end(ssproto_msg* m);          // 58
int do_exchange_reset(ssproto_msg* m);   // 160
int do_offset(ssproto_msg* m);           // 161
int do_setpos(ssproto_msg* m);           // 162
int do_padding(ssproto_msg* m);          // 165
int do_stock_state(ssproto_msg* m);      // 172
int do_state_list(ssproto_msg* m);       // 173
int do_resume(ssproto_msg* m);           // 174
int do_quote_basis(ssproto_msg* m);      // 180
int do_quote_ex(ssproto_msg* m);         // 181

// ssproto_summary.cpp: summaries, summary lists and compact depth changes.
int do_summary(ssproto_msg* m);       // 44-46, 48, 190, 192-196
int do_market_state(ssproto_msg* m);  // 191
int do_depth_change(ssproto_msg* m);  // 200, 201, 205, 206
int do_delete_top(ssproto_msg* m);    // 202-204

// ssproto_depth.cpp: stock depth, quote and trade messages.
// A broker field where the exchange carries brokers and the stock's depth is
// kept as orders (else none: an empty code); the field reader's result.
int read_broker_field(ssproto_msg* m, const ss_stock* s, char* broker);
int do_depth(ssproto_msg* m);  // 1-26, 32-39
int do_quote(ssproto_msg* m);  // 28
int do_trade(ssproto_msg* m);  // 29, 30

// ssproto_queue.cpp: depth queue and trade-list messages, index tick and
// trade variant messages.
int do_queue(ssproto_msg* m);          // 60, 61
int do_queue_block(ssproto_msg* m);    // 62, 63
int do_depth_answer(ssproto_msg* m);   // 64-67
int do_out_of_order(ssproto_msg* m);   // 68
int do_skip_word(ssproto_msg* m);      // 69
int do_trade_list(ssproto_msg* m);     // 75, 76
int do_index_tick(ssproto_msg* m);     // 31
int do_index_values(ssproto_msg* m);   // 80-83
int do_trade_variant(ssproto_msg* m);  // 70, 71
int do_trade_amend(ssproto_msg* m);    // 72

// ssproto_state.cpp: exchange control and stock state messages.
int do_stall(ssproto_msg* m);           // 167
int do_exchange_state(ssproto_msg* m);  // 170, 171

// ssproto_history.cpp: history and news messages.
// A block field, inflated with a stream of its own into the emptied work
// buffer of the message's nesting level; the field reader's result.
int inflate_block(ssproto_msg* m, growbuf** out);
int do_history(ssproto_msg* m);       // 110, 111, 120
int do_news_today(ssproto_msg* m);    // 121
int do_news_summary(ssproto_msg* m);  // 122

// ssproto_backfill.cpp: backfill, priority and firm-order messages.
int do_backfill_today(ssproto_msg* m);    // 100, 101
int do_backfill_prevday(ssproto_msg* m);  // 102-104
int do_encrypted(ssproto_msg* m);         // 91, 105

// ssproto_control.cpp: control messages.
int do_password_reply(ssproto_msg* m);  // 240
int do_side_channel(ssproto_msg* m);    // 241
int do_debug(ssproto_msg* m);           // 252
int do_ack(ssproto_msg* m);           // 242
int do_dropped(ssproto_msg* m);       // 251
int do_noop(ssproto_msg* m);          // 253
int do_signed_off(ssproto_msg* m);    // 254
int do_server_error(ssproto_msg* m);  // 255

// ssproto_notice.cpp: notice, global-value and volume-comparison messages.
int do_notice(ssproto_msg* m);       // 210, 212, 213
int do_notice_list(ssproto_msg* m);  // 211
int do_vcmp(ssproto_msg* m);         // 214

// ssproto_auction.cpp: auction and multi-trade messages.
int do_auction(ssproto_msg* m);        // 220, 223
int do_open_balance(ssproto_msg* m);   // 221
int do_auction_block(ssproto_msg* m);  // 222
int do_multi_trade(ssproto_msg* m);    // 230, 231

// ssproto_transfer.cpp: depth clears, program updates, large transfers.
int do_clear_depth(ssproto_msg* m);     // 130-133
int do_update(ssproto_msg* m);          // 140-144
int do_bigdata_open(ssproto_msg* m);    // 150
int do_bigdata_append(ssproto_msg* m);  // 151

// A stream signature that replaces the exchange's own while the model still
// holds the old stream's day (no new day since it was set): applied on top,
// the new stream's books, volumes and prices would mix with the old ones.
// The signature handlers reset the exchange first where the new stream
// starts here, and drop the link where it has already been applied.
bool replaces_unreset_stream(const ss_exchange* ex, uint32_t signature);

}  // namespace ssproto_handlers
