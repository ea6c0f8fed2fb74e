// Writers of the server's messages, as the market simulator sends them.
//
// Each writer appends one whole message (header and fields) to a growbuf and
// returns 0, or -1 after an ERROR line when a field cannot be encoded (the
// growbuf's length is then as it was). Writers are grouped by message family;
// a new family adds a section of the same shape.
//
// Every writer is safe on any thread at once: none touches the codec's
// process-wide state (the shared deflate stream, the running reference time),
// which belongs to the engine running beside the simulator in a test.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "growbuf.h"
#include "sstime.h"

// Message types the simulator writes.
constexpr uint32_t kSimMsgBlock = 90;
constexpr uint32_t kSimMsgExpecting = 40;
constexpr uint32_t kSimMsgUser = 41;
constexpr uint32_t kSimMsgUserConfig = 42;
constexpr uint32_t kSimMsgProceeding = 49;
constexpr uint32_t kSimMsgSelect = 51;     // by index
constexpr uint32_t kSimMsgSelect0 = 52;    // exchange 0
constexpr uint32_t kSimMsgSelect1 = 53;    // exchange 1
constexpr uint32_t kSimMsgSelect3 = 59;    // exchange 3
constexpr uint32_t kSimMsgExchangeDate = 54;
constexpr uint32_t kSimMsgParams = 55;
constexpr uint32_t kSimMsgBeginDay = 57;
constexpr uint32_t kSimMsgEndDay = 58;
constexpr uint32_t kSimMsgReset = 160;
constexpr uint32_t kSimMsgOffset = 161;
constexpr uint32_t kSimMsgPadding = 165;
constexpr uint32_t kSimMsgPosition = 166;
constexpr uint32_t kSimMsgStall = 167;
constexpr uint32_t kSimMsgExchangeState = 170;
constexpr uint32_t kSimMsgPasswordReply = 240;
constexpr uint32_t kSimMsgSideChannel = 241;
constexpr uint32_t kSimMsgAck = 242;
constexpr uint32_t kSimMsgDropped = 251;
constexpr uint32_t kSimMsgDebug = 252;
constexpr uint32_t kSimMsgNoop = 253;
constexpr uint32_t kSimMsgSignedOff = 254;
constexpr uint32_t kSimMsgError = 255;

constexpr int32_t kSimSideChannelMax = 4096;  // payload bytes of one 241
constexpr uint32_t kSimPaddingMax = 1u << 24;  // bytes of one 165

// The header of a message that names no instrument: the type alone (one
// byte, or 0 and the type from 32 on), which the reader takes as "same
// instrument, same time" of the current exchange.
int sim_msg_header(growbuf* gb, uint32_t type);

// Stream control and exchange messages ---------------------------------------

// 40: the number of bytes of catch-up that follow; the client stops counting.
int sim_msg_expecting(growbuf* gb, uint32_t count);
// 41: user kind, id and the permitted-exchange bits (bit 0 exchange 0, bit 1
// exchange 1, bit 2 exchange 3), in the protocol-6 layout (32-bit mask).
int sim_msg_user(growbuf* gb, uint8_t kind, uint32_t id, uint32_t exchange_bits);
// 42: the user configuration kept for the user, as one framed block.
int sim_msg_user_config(growbuf* gb, const void* data, int32_t n);
// 49: catch-up done; the client counts again and goes online.
int sim_msg_proceeding(growbuf* gb, uint32_t a, uint32_t b);
// 51, 52, 53 or 59: make exchange `index` (0-3) current, in its shortest form.
int sim_msg_select(growbuf* gb, uint32_t index);
// 54: exchange date, server time, clock offset in seconds and broker flag.
int sim_msg_exchange_date(growbuf* gb, uint32_t index, ss_time date, ss_time server_time, int32_t offset,
                          int brokers);
// 55: exchange parameters: reset the exchange, then its current code and time.
int sim_msg_params(growbuf* gb, uint32_t index, const char* code, ss_time time);
// 57 and 58: begin (with the day's stream signature) and end of the day of
// the current exchange. Both count toward the stream position.
int sim_msg_begin_day(growbuf* gb, ss_time date, uint32_t signature);
int sim_msg_end_day(growbuf* gb);
// 90: the messages in `records` (complete messages with timed headers)
// wrapped in one framed block. Counts.
int sim_msg_block(growbuf* gb, const void* records, int32_t n);

// Exchange control messages ---------------------------------------------------

// 160: the current exchange starts a new day. Counts.
int sim_msg_reset(growbuf* gb, ss_time date, ss_time server_time, int32_t offset);
// 161: the current exchange's clock offset in seconds. Counts.
int sim_msg_offset(growbuf* gb, int32_t offset);
// 165: n padding bytes (zeros). Does not count.
int sim_msg_padding(growbuf* gb, uint32_t n);
// 166: where exchange `index` (0-3) stands: its signature and stream position.
int sim_msg_position(growbuf* gb, uint32_t index, uint32_t signature, uint32_t position);
// 167: the server stalled; the client answers with its stream positions.
int sim_msg_stall(growbuf* gb);
// 170: trading state of the current exchange. Counts.
int sim_msg_exchange_state(growbuf* gb, uint8_t state);

// Control messages ------------------------------------------------------------

// 240: result of a password change (0 accepted).
int sim_msg_password_reply(growbuf* gb, uint8_t result);
// 241: one side-channel block of at most kSimSideChannelMax bytes.
int sim_msg_side_channel(growbuf* gb, uint32_t subsystem, uint32_t flag, const void* data, int32_t n);
// 242 acknowledgement, 251 dropped, 253 no-op, 254 signed off: header only.
int sim_msg_ack(growbuf* gb);
int sim_msg_dropped(growbuf* gb);
int sim_msg_noop(growbuf* gb);
int sim_msg_signed_off(growbuf* gb);
// 252: a debug number.
int sim_msg_debug(growbuf* gb, uint32_t number);
// 255: a server error: code and sub-code, the exchange index, the instrument
// code (may be null: empty) and the date the failed request named.
int sim_msg_error(growbuf* gb, uint32_t code, uint32_t sub, uint8_t exchange, const char* instrument, ss_time date);

// Stock depth, quote and trade messages ------------------------------------------
//
// These name a stock in their header, relative to header state that the
// client keeps per exchange (the code and time of the last header, and the
// stocks' speed numbers): a sim_hdr is the server's copy of that state for
// one exchange's stream. Prices are told relative to a running reference
// price that the caller keeps per stock (the stock's `ref` below), exactly as
// the client keeps its own.

constexpr uint32_t kSimMsgQuote = 28;
constexpr uint32_t kSimMsgTrade = 29;
constexpr uint32_t kSimMsgTradeAtLast = 30;
constexpr uint32_t kSimOfferTwin = 13;  // offer type of bid types 1-13

// Bid depth types; the offer twin of t is t + 13 for 1-13, t + 1 for 32-38.
constexpr uint32_t kSimDepthHead = 1;          // price, volume, broker
constexpr uint32_t kSimDepthHeadBetter = 2;    // volume, broker: top one tick better
constexpr uint32_t kSimDepthHeadTop = 3;       // volume, broker: at the top price
constexpr uint32_t kSimDepthAmendHead = 4;     // volume
constexpr uint32_t kSimDepthRepeatAmend = 5;   // nothing
constexpr uint32_t kSimDepthDeleteHead = 6;    // nothing
constexpr uint32_t kSimDepthDelete = 7;        // byte position
constexpr uint32_t kSimDepthTopPrice = 8;      // price against the top, broker
constexpr uint32_t kSimDepthTopPriceVol = 9;   // price against the top, volume, broker
constexpr uint32_t kSimDepthTopUp = 10;        // broker: top + 1 tick
constexpr uint32_t kSimDepthTopUpVol = 11;     // volume, broker
constexpr uint32_t kSimDepthTopDown = 12;      // broker: top - 1 tick
constexpr uint32_t kSimDepthTopDownVol = 13;   // volume, broker
constexpr uint32_t kSimDepthHeadBetter2 = 32;  // volume, broker: two ticks better
constexpr uint32_t kSimDepthDeleteShort = 34;  // 16-bit position
constexpr uint32_t kSimDepthAmend = 36;        // byte position, volume
constexpr uint32_t kSimDepthAmendShort = 38;   // 16-bit position, volume

// The side (0 bid, 1 offer) of a depth type 1-26 or 32-39, or -1; and the
// offer twin of a bid depth type (0 for a type that is none).
int sim_depth_side(uint32_t type);
uint32_t sim_depth_twin(uint32_t bid_type);
// The price step of the tick-relative depth types at top price p.
uint32_t sim_tick(uint32_t price);

struct sim_hdr;
// Header state of one exchange's stream; with `speeds` a stock is named by
// its speed number once it has one (given at its first message, as the
// client does), else by its code.
sim_hdr* sim_hdr_create(bool speeds);
void sim_hdr_destroy(sim_hdr* h);
// The next header names its stock and time in full: where a client may start
// reading (the first message of a stream unit).
void sim_hdr_restart(sim_hdr* h);
// From now on the headers are those of a saved stream of one stock (the
// stock-stream headers a past day's fill carries): each steps from the
// previous message's time and names no stock.
void sim_hdr_set_stock_stream(sim_hdr* h);

constexpr uint32_t kSimMsgBackfillDay = 102;
// 102: a stock's earlier day, the saved stream `stream` of that stock (written
// with stock-stream headers) in one framed block, for protocol `version`.
int sim_msg_backfill_day(growbuf* gb, uint32_t index, const char* code, ss_time date, uint32_t version,
                         const void* stream, int32_t n);

// The fields of one depth message; those its type does not carry are not
// written.
struct sim_depth {
  uint32_t price = 0;     // 1, 14: against *ref; 8, 9, 21, 22: against `top`
  uint32_t top = 0;       // the side's top price the client holds (8, 9, 21, 22)
  uint64_t volume = 0;
  uint32_t position = 1;  // 7, 20 (1-255); 34-39 (1-65535)
  const char* broker = nullptr;  // written only with `brokers`
};

// Depth type 1-26 or 32-39 about `code` at `time`. `brokers`: the broker
// field is carried (the exchange has brokers and the stock's depth is kept
// as orders).
int sim_msg_depth(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const sim_depth& d,
                  uint32_t* ref, bool brokers);
// 28: the prices of the flag bits 0x01 previous close, 0x02 open, 0x04 high,
// 0x08 low, 0x10 last (prices[0..4]); the others are not sent.
int sim_msg_quote(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t flags, const uint32_t prices[5],
                  uint32_t* ref);
// 29 (price, volume, buyer, seller) or 30 (at the client's last price: no
// price field).
int sim_msg_trade(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                  uint64_t volume, const char* buyer, const char* seller, uint32_t* ref, bool brokers);

// Depth queue and trade-list messages ----------------------------------------
//
// The lists themselves are written by sim_lists.h from the market's books.

constexpr uint32_t kSimMsgQueueBid = 60;       // 61 offers
constexpr uint32_t kSimMsgPartialBids = 64;    // 65 offers
constexpr uint32_t kSimMsgFullBids = 66;       // 67 offers
constexpr uint32_t kSimMsgAllTrades = 75;
constexpr uint32_t kSimMsgRecentTrades = 76;
constexpr int32_t kSimShortListMax = 65535;    // bytes of a list behind a 16-bit length
constexpr int32_t kSimLongListMax = 16777215;  // behind a 24-bit length

// A broker code as the client reads it (a built-in id or the packed form),
// without the engine's broker table: safe beside a running engine.
int sim_put_broker(uint8_t* out, const char* code);
// 60, 61: in the exchange's stream, a stock's whole order queue of one side
// (n list bytes, at most kSimShortListMax). Counts.
int sim_msg_queue(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const void* list,
                  int32_t n);
// 62, 63: the same queue as one framed block (no length field). Counts.
int sim_msg_queue_block(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const void* list,
                        int32_t n);
// 68: the stock's depth is kept as level totals from now on. Counts.
int sim_msg_out_of_order(growbuf* gb, sim_hdr* h, ss_time time, const char* code);
// 64-67: a depth answer for exchange `index` and `code`, with a 16-bit
// length; 75, 76: a trade-list answer with a 24-bit length. Answers name
// their stock in their fields and do not count.
int sim_msg_depth_answer(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* list, int32_t n);
int sim_msg_trade_list(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* list, int32_t n);

// Index tick and trade variant messages -----------------------------------------

constexpr uint32_t kSimMsgIndexChange = 31;  // a change to the index's current value
constexpr uint32_t kSimMsgIndexLast = 80;    // value and a change to the last
constexpr uint32_t kSimMsgIndexRange = 81;   // value (first) and changes to high, low, last
constexpr uint32_t kSimMsgIndexAll = 82;     // reference value and changes to first, high, low, last
constexpr uint32_t kSimMsgIndexValue = 83;   // reference value only
constexpr uint32_t kSimMsgCrossing = 70;
constexpr uint32_t kSimMsgTradeExtended = 71;
constexpr uint32_t kSimMsgTradeAmend = 72;

// 31 and 80-83 about index `code`: the value (not for 31) and the changes
// the type carries (31: 1, 80: 1, 81: 3, 82: 4, 83: 0). Counts.
int sim_msg_index(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t value,
                  const int32_t* changes);

// The fields of a trade variant; 70 writes price, volume and brokers only.
struct sim_trade_fields {
  uint32_t price = 0;
  uint64_t volume = 0;
  uint8_t flags = 0;  // 71: 0x01 last, 0x02 high-low, 0x04 volume, 0x40 second volume
  uint64_t conditions = 0;  // 71 with flags 0x08
  uint64_t second = 0;      // 71 with flags 0x10
  ss_time date = 0;         // 71 with flags 0x20
  const char* buyer = nullptr;
  const char* seller = nullptr;
};
// 70 (a crossing) or 71. Counts.
int sim_msg_trade_variant(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code,
                          const sim_trade_fields& f, uint32_t* ref, bool brokers);
// 72: cancels trade `number` (price against `first`, a copy of the stock's
// first price; volume); with totals (protocol 4 and later) four prices and
// four 64-bit values follow. Counts.
int sim_msg_trade_amend(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t number, uint32_t price,
                        uint64_t volume, uint32_t first, const uint32_t* prices, const uint64_t* values);

// Auction, multi-trade and depth-clear messages -------------------------------

constexpr uint32_t kSimMsgClearBid = 130;     // 131 offers, 132 both sides
constexpr uint32_t kSimMsgClearBoth = 132;
constexpr uint32_t kSimMsgClearExchange = 133;
constexpr uint32_t kSimMsgAuction = 220;
constexpr uint32_t kSimMsgOpenBalance = 221;
constexpr uint32_t kSimMsgAuctionBlock = 222;
constexpr uint32_t kSimMsgAuctionClear = 223;
constexpr uint32_t kSimMsgMultiTrade = 230;   // 231: at the client's last price
constexpr uint32_t kSimMsgMultiAtLast = 231;

struct sim_auction {
  uint32_t price = 0;
  uint64_t matched = 0;
  int64_t surplus = 0;
  uint32_t bid_price = 0;
  uint64_t bid_volume = 0;
  uint32_t offer_price = 0;
  uint64_t offer_volume = 0;
};

// 220: auction price and matched volume; 221: open balance; 222: the whole
// auction; 223: the auction cleared. All count.
int sim_msg_auction(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t price, uint64_t volume,
                    uint32_t* ref);
int sim_msg_open_balance(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t balance);
int sim_msg_auction_block(growbuf* gb, sim_hdr* h, ss_time time, const char* code, const sim_auction& a,
                          uint32_t* ref);
int sim_msg_auction_clear(growbuf* gb, sim_hdr* h, ss_time time, const char* code);
// 230 (a price, then the volumes) or 231 (at the client's last price): a run
// of at most 255 trades.
int sim_msg_multi_trade(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                        const std::vector<uint64_t>& volumes, uint32_t* ref);
// 130-132: one stock's bid side, offer side or both emptied; 133: every
// stock of the current exchange.
int sim_msg_clear_depth(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code);
int sim_msg_clear_exchange(growbuf* gb);

// Program updates and large transfers -----------------------------------------

constexpr uint32_t kSimMsgUpdateBegin = 140;
constexpr uint32_t kSimMsgUpdateStore = 141;
constexpr uint32_t kSimMsgUpdateWrite = 142;
constexpr uint32_t kSimMsgBigdataOpen = 150;
constexpr uint32_t kSimMsgBigdataPiece = 151;
constexpr int32_t kSimUpdateVersionMax = 31;
constexpr int32_t kSimUpdateNameMax = 13;

struct sim_program_file {
  std::string name;
  std::vector<uint8_t> data;
};

// 140: a new version; 141: store buffer `id` under `name`; 142: write them.
int sim_msg_update_begin(growbuf* gb, const std::string& version);
int sim_msg_update_store(growbuf* gb, const std::string& name, uint32_t id);
int sim_msg_update_write(growbuf* gb);
// 150: open buffer `id` for `total` bytes; 151: one framed piece of it.
int sim_msg_bigdata_open(growbuf* gb, uint32_t id, uint32_t total);
int sim_msg_bigdata_piece(growbuf* gb, uint32_t id, const void* data, int32_t n);
// The whole sequence: 140, then per file (buffers 1, 2, ...) 150, pieces of
// at most `piece` bytes and 141, then 142. None of them counts.
int sim_msg_program_update(growbuf* gb, const std::string& version, const std::vector<sim_program_file>& files,
                           int32_t piece);

// Volume comparison -------------------------------------------------------------

constexpr uint32_t kSimMsgVcmp = 214;
// 214: one comparison set of exchange `index` for the quarter hhmm, the set's
// payload framed as one block. Does not count.
int sim_msg_vcmp(growbuf* gb, uint32_t index, ss_time date, uint32_t quarter, bool init, const void* data,
                 int32_t n);

// Further stream, exchange-control, backfill, update and notice messages ----------
//
// The remaining types the client reads, so that the simulator can send every
// one of them. Those about a stock name it in a timed header kept by `h`;
// the others carry the type alone (or name their exchange in a field).

constexpr uint32_t kSimMsgRun = 27;
constexpr uint32_t kSimMsgSync = 50;
constexpr uint32_t kSimMsgServerPosition = 56;
constexpr uint32_t kSimMsgSkipWord = 69;
constexpr uint32_t kSimMsgPriority = 91;
constexpr uint32_t kSimMsgBackfillStock = 100;
constexpr uint32_t kSimMsgBackfillIndex = 101;
constexpr uint32_t kSimMsgFirmOrders = 105;
constexpr uint32_t kSimMsgUpdateTest = 143;
constexpr uint32_t kSimMsgUpdateTestDelta = 144;
constexpr uint32_t kSimMsgSetPosition = 162;
constexpr uint32_t kSimMsgExchangeStateAll = 171;
constexpr uint32_t kSimMsgStockState = 172;
constexpr uint32_t kSimMsgStateList = 173;
constexpr uint32_t kSimMsgResume = 174;
constexpr uint32_t kSimMsgQuoteBasis = 180;
constexpr uint32_t kSimMsgQuoteEx = 181;
constexpr uint32_t kSimMsgDepthAtPrice = 200;   // 201 offers
constexpr uint32_t kSimMsgDeleteTop = 202;      // both sides; 203 bids, 204 offers
constexpr uint32_t kSimMsgDepthInsert = 205;    // 206 offers
constexpr uint32_t kSimMsgNotice = 210;
constexpr uint32_t kSimMsgNoticeList = 211;
constexpr uint32_t kSimMsgGlobalValues = 212;
constexpr uint32_t kSimMsgGlobalIndex = 213;
constexpr int32_t kSimUpdateTestNameMax = 15;
constexpr int32_t kSimNoticeTextMax = 255;
constexpr int32_t kSimPriorityTextMax = 16;

// One message of a run: its type, the stock its header names (empty: none)
// and its fields after the header, already encoded.
struct sim_run_item {
  uint32_t type = 0;
  std::string code;
  std::vector<uint8_t> fields;
};
// 27: messages with stepped headers (the run's time is theirs) in one framed
// block. Counts; the messages inside do not count again.
int sim_msg_run(growbuf* gb, sim_hdr* h, ss_time time, const std::vector<sim_run_item>& items);
// 50: a sync byte (no longer used by the client). Does not count.
int sim_msg_sync(growbuf* gb, uint8_t value);
// 56: the server position of `kind` (1: the master position); `index` the
// exchange made current, 255 none. Kinds 0, 1, 7 carry `position`, 8 also
// `second`. Kind 0 makes the client wait for `position` bytes after it.
int sim_msg_server_position(growbuf* gb, uint8_t kind, uint8_t index, uint32_t position, uint32_t second);
// 69: one word the client skips. Does not count.
int sim_msg_skip_word(growbuf* gb, uint32_t word);
// 162: an old position message of three words, read and dropped. Counts.
int sim_msg_set_position(growbuf* gb, uint32_t a, uint32_t b, uint32_t c);
// 171: the current exchange's trading state, given to all its stocks. Counts.
int sim_msg_exchange_state_all(growbuf* gb, uint8_t state);

// Stock state messages; all count.
// 172: the stock's trading state. 174: the time it resumes trading. 180: its
// quote basis (64 bits).
int sim_msg_stock_state(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t state);
int sim_msg_resume(growbuf* gb, sim_hdr* h, ss_time time, const char* code, ss_time resume);
int sim_msg_quote_basis(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint64_t basis);
// 173: `state` for the stocks a state-change list names (sim_list_states
// writes one), with a header that names no stock.
int sim_msg_state_list(growbuf* gb, uint8_t state, const void* list, int32_t n);
// 181: the extended quote: prices[0..4] for the flag bits 0x01-0x10 (close,
// open, high, low, last) against *ref, volume for 0x20, value for 0x40.
int sim_msg_quote_ex(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t flags, const uint32_t prices[5],
                     uint64_t volume, uint64_t value, uint32_t* ref);

// Compact depth changes; all count. 200 (bid), 201 (offer): an order of
// `count` at `price` appended to its level; 205, 206: an order inserted at
// queue position `count`. The broker is written only with `brokers`.
int sim_msg_depth_change(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                         uint64_t volume, uint32_t count, const char* broker, uint32_t* ref, bool brokers);
// 202 (both sides), 203 (bids), 204 (offers): that many head orders go.
int sim_msg_delete_top(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t bids,
                       uint32_t offers);

// Backfills, priority and firm orders; none counts.
// 100 (a stock's trades so far today: its saved stream, written with
// stock-stream headers) or 101 (an index's ticks, as sim_index_ticks writes
// them), in one framed block.
int sim_msg_backfill_today(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* data, int32_t n);

// One order-info record of a priority or firm-order block.
struct sim_order_info {
  uint8_t type = 1;      // priority block: 1 waits for its order, 2 names an order in the book
  std::string code;      // priority block only
  uint8_t side = 0;      // priority block only
  uint32_t position = 1;
  uint8_t id[8] = {};
  uint32_t number = 0;
  std::string first, second;  // at most kSimPriorityTextMax each
};
// The payload of a priority block (records with their type, code and side)
// or of a firm-order block (bid records, then offer records). 0 or -1.
int sim_priority_payload(const std::vector<sim_order_info>& records, std::vector<uint8_t>* out);
int sim_firm_payload(const std::vector<sim_order_info>& bids, const std::vector<sim_order_info>& offers,
                     std::vector<uint8_t>* out);
// 91: exchange `index`'s priority block; 105: the firm orders of `code`.
// Both payloads go framed and enciphered with the codec's block key (only
// read here, never set).
int sim_msg_priority(growbuf* gb, uint32_t index, const void* data, int32_t n);
int sim_msg_firm_orders(growbuf* gb, uint32_t index, const char* code, const void* data, int32_t n);

// Program-update tests; neither counts. 143: a payload stored under `name`
// (one framed block); 144: a delta for it, as raw bytes.
int sim_msg_update_test(growbuf* gb, const std::string& name, const void* data, int32_t n);
int sim_msg_update_test_delta(growbuf* gb, const std::string& name, const void* data, int32_t n);

// Notices and global values; none counts.
struct sim_notice {
  uint32_t a = 0;
  uint32_t b = 0;  // 210: the exchange index
  uint8_t c = 0;
  std::string code;
  std::string text;  // at most kSimNoticeTextMax bytes
};
// 210: one notice. 211: exchange `index`'s notice list up to `position`
// (each item's a, code and text).
int sim_msg_notice(growbuf* gb, const sim_notice& n);
int sim_msg_notice_list(growbuf* gb, uint32_t index, uint32_t position, const std::vector<sim_notice>& items);
// One index of the global exchange: its previous value, first, high, low
// and last values and the time of the last.
struct sim_global_index {
  std::string code;
  uint32_t previous = 0, first = 0, high = 0, low = 0, last = 0;
  ss_time time = 0;
};
// 212: every global index's values; 213: one index's tick.
int sim_msg_global_values(growbuf* gb, const std::vector<sim_global_index>& indices);
int sim_msg_global_index(growbuf* gb, const sim_global_index& x);
