// The market simulator's message writers: the bytes of every server message
// it sends, built from the codec's own field, block and header writers.
//
// Each writer reserves room for the longest form of its message, writes
// header and fields into it and commits only when every field encoded, so a
// refused field leaves the caller's buffer untouched. Blocks are framed with
// a deflate stream made for the call, never the codec's shared one, so the
// simulator can run beside a client in the same process.
#include "sim_msg.h"

#include <cstring>

#include "encblk.h"
#include "encode.h"
#include "log.h"

static const char kSrc[] = "sim/sim_msg";

namespace {

constexpr uint32_t kMsgRoom = 64;  // any fixed-field message fits
constexpr uint32_t kTypeBits = 0x1F;  // types up to 31 sit in the head byte
constexpr uint32_t kMaxType = 255;

// The header of a message about no instrument: code relation "same", no
// time flag, so the head byte carries only the type, or 0 and then the type.
// (The codec's header writers keep their state on the client's exchange
// records and link the whole model; the server side needs only this form.)
int put_header(uint8_t* out, uint32_t type) {
  if (type == 0 || type > kMaxType) {
    log(LOG_ERROR, kSrc, "can't write message type %u", type);
    return -1;
  }
  if (type <= kTypeBits) return encode_byte(out, type);
  const int r = encode_byte(out, 0);
  return r < 0 ? -1 : r + encode_byte(out + r, type);
}

// One message being written: room reserved at the end of the growbuf, a
// cursor, and a failure mark that any field sets.
struct msg_writer {
  growbuf* gb;
  uint8_t* base = nullptr;
  int32_t used = 0;
  bool failed = false;

  msg_writer(growbuf* g, uint32_t type, uint32_t room = kMsgRoom) : gb(g) {
    base = growbuf_reserve(gb, room);
    if (!base) {
      log(LOG_ERROR, kSrc, "can't make room for message %u", type);
      failed = true;
      return;
    }
    add(put_header(base, type));
  }
  void add(int r) {
    if (failed) return;
    if (r < 0) {
      failed = true;
      return;
    }
    used += r;
  }
  uint8_t* at() { return base + used; }
  void byte(uint32_t v) {
    if (!failed) add(encode_byte(at(), v));
  }
  void u32(uint32_t v) {
    if (!failed) add(encode_uint32(at(), v));
  }
  void vint(uint32_t v) {
    if (!failed) add(encode_vint(at(), v));
  }
  void code(const char* c) {
    if (!failed) add(encode_code(at(), c ? c : ""));
  }
  void date16(ss_time d) {
    if (!failed) add(encode_date16(at(), d));
  }
  int finish() {
    if (failed) return -1;
    return growbuf_commit(gb, uint32_t(used));
  }
};

int header_only(growbuf* gb, uint32_t type) {
  msg_writer w(gb, type);
  return w.finish();
}

// A header followed by one framed block of `data`.
int with_block(growbuf* gb, uint32_t type, const void* data, int32_t n) {
  const int32_t start = gb->len;
  if (header_only(gb, type) < 0) return -1;
  if (encblk_write(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

}  // namespace

int sim_msg_header(growbuf* gb, uint32_t type) { return header_only(gb, type); }

// Stream control and exchange messages ---------------------------------------

int sim_msg_expecting(growbuf* gb, uint32_t count) {
  msg_writer w(gb, kSimMsgExpecting);
  w.u32(count);
  return w.finish();
}

int sim_msg_user(growbuf* gb, uint8_t kind, uint32_t id, uint32_t exchange_bits) {
  msg_writer w(gb, kSimMsgUser);
  w.byte(kind);
  w.u32(id);
  w.u32(exchange_bits);
  w.u32(0);  // read and dropped by the client
  return w.finish();
}

int sim_msg_user_config(growbuf* gb, const void* data, int32_t n) {
  return with_block(gb, kSimMsgUserConfig, data, n);
}

int sim_msg_proceeding(growbuf* gb, uint32_t a, uint32_t b) {
  msg_writer w(gb, kSimMsgProceeding);
  w.u32(a);
  w.u32(b);
  return w.finish();
}

int sim_msg_select(growbuf* gb, uint32_t index) {
  switch (index) {
    case 0:
      return header_only(gb, kSimMsgSelect0);
    case 1:
      return header_only(gb, kSimMsgSelect1);
    case 3:
      return header_only(gb, kSimMsgSelect3);
    default: {
      msg_writer w(gb, kSimMsgSelect);
      w.byte(index);
      return w.finish();
    }
  }
}

int sim_msg_exchange_date(growbuf* gb, uint32_t index, ss_time date, ss_time server_time, int32_t offset,
                          int brokers) {
  msg_writer w(gb, kSimMsgExchangeDate);
  w.byte(index);
  w.u32(date);
  w.u32(server_time);
  w.vint(uint32_t(offset));  // read back as a signed 32-bit value
  w.byte(brokers ? 1 : 0);
  return w.finish();
}

int sim_msg_params(growbuf* gb, uint32_t index, const char* code, ss_time time) {
  msg_writer w(gb, kSimMsgParams);
  w.byte(index);
  w.code(code);
  w.u32(time);
  return w.finish();
}

int sim_msg_begin_day(growbuf* gb, ss_time date, uint32_t signature) {
  msg_writer w(gb, kSimMsgBeginDay);
  w.date16(date);
  w.u32(signature);
  return w.finish();
}

int sim_msg_end_day(growbuf* gb) { return header_only(gb, kSimMsgEndDay); }

int sim_msg_block(growbuf* gb, const void* records, int32_t n) { return with_block(gb, kSimMsgBlock, records, n); }

// Exchange control messages ---------------------------------------------------

int sim_msg_reset(growbuf* gb, ss_time date, ss_time server_time, int32_t offset) {
  msg_writer w(gb, kSimMsgReset);
  w.u32(date);
  w.u32(server_time);
  w.vint(uint32_t(offset));
  return w.finish();
}

int sim_msg_offset(growbuf* gb, int32_t offset) {
  msg_writer w(gb, kSimMsgOffset);
  w.vint(uint32_t(offset));
  return w.finish();
}

int sim_msg_padding(growbuf* gb, uint32_t n) {
  if (n > kSimPaddingMax) {
    log(LOG_ERROR, kSrc, "can't pad %u bytes", n);
    return -1;
  }
  msg_writer w(gb, kSimMsgPadding, kMsgRoom + n);
  w.u32(n);
  if (!w.failed) {
    memset(w.at(), 0, n);
    w.used += int32_t(n);
  }
  return w.finish();
}

int sim_msg_position(growbuf* gb, uint32_t index, uint32_t signature, uint32_t position) {
  msg_writer w(gb, kSimMsgPosition);
  w.byte(index);
  w.u32(signature);
  w.u32(position);
  return w.finish();
}

int sim_msg_stall(growbuf* gb) { return header_only(gb, kSimMsgStall); }

int sim_msg_exchange_state(growbuf* gb, uint8_t state) {
  msg_writer w(gb, kSimMsgExchangeState);
  w.byte(state);
  return w.finish();
}

// Control messages ------------------------------------------------------------

int sim_msg_password_reply(growbuf* gb, uint8_t result) {
  msg_writer w(gb, kSimMsgPasswordReply);
  w.byte(result);
  return w.finish();
}

int sim_msg_side_channel(growbuf* gb, uint32_t subsystem, uint32_t flag, const void* data, int32_t n) {
  if (n < 0 || n > kSimSideChannelMax) {
    log(LOG_ERROR, kSrc, "can't send %db side-channel block", n);
    return -1;
  }
  msg_writer w(gb, kSimMsgSideChannel, kMsgRoom + uint32_t(n));
  w.vint(subsystem);
  w.vint(flag);
  if (!w.failed) w.add(encode_vbytes(w.at(), data, uint32_t(n)));
  return w.finish();
}

int sim_msg_ack(growbuf* gb) { return header_only(gb, kSimMsgAck); }
int sim_msg_dropped(growbuf* gb) { return header_only(gb, kSimMsgDropped); }
int sim_msg_noop(growbuf* gb) { return header_only(gb, kSimMsgNoop); }
int sim_msg_signed_off(growbuf* gb) { return header_only(gb, kSimMsgSignedOff); }

int sim_msg_debug(growbuf* gb, uint32_t number) {
  msg_writer w(gb, kSimMsgDebug);
  w.vint(number);
  return w.finish();
}

int sim_msg_error(growbuf* gb, uint32_t code, uint32_t sub, uint8_t exchange, const char* instrument,
                  ss_time date) {
  msg_writer w(gb, kSimMsgError);
  w.vint(code);
  w.vint(sub);
  w.byte(exchange);
  w.code(instrument);
  w.date16(date);
  return w.finish();
}
