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
