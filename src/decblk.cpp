// Reading codec blocks. A reader first checks that the whole block (head and
// carried bytes) is present and only then touches any state, so "incomplete"
// never needs undoing. Inflating starts with an output room of four times the
// input and doubles it, up to a hard limit, while inflate fills it; the bytes
// inflated so far are kept across each growth, so no block is inflated twice,
// and a failure takes the output buffer's length back to where it was.
#include "decblk.h"

#include <cstring>

#include "crypt.h"
#include "decode.h"
#include "encblk.h"
#include "log.h"

static const char kSrc[] = "src/decblk";

static struct {
  bool stream_ready;
  z_stream stream;  // shared inflate stream, reset between blocks
} S;

namespace {

// An encrypted block holds at most a four-byte head, the longest carried
// length, a digest and the padding; a longer L is not one of ours.
constexpr uint32_t kEncryptedMax = uint32_t(kBlockHeadMax) + uint32_t(kBlockPayloadLimit) + kBlockDigestBytes + 16;

struct frame_head {
  int size;       // head bytes
  bool deflated;  // else stored
  int32_t len;    // carried bytes
};

// 0 while the head is incomplete, else its size.
int read_head(const uint8_t* in, int32_t n, frame_head* h) {
  if (n < 1) return 0;
  const uint8_t b0 = in[0];
  if (b0 < 0x80) {
    *h = {1, false, b0};
  } else if (b0 < 0xC0) {
    if (n < 2) return 0;
    *h = {2, true, int32_t((b0 & 0x3F) << 8 | in[1])};
  } else if (b0 < 0xE0) {
    if (n < 2) return 0;
    *h = {2, false, int32_t((b0 & 0x1F) << 8 | in[1])};
  } else {
    if (n < 4) return 0;
    *h = {4, true, int32_t(uint32_t(b0 & 0x1F) << 24 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 8 | in[3])};
  }
  return h->size;
}

int inflate_into(z_stream* zs, const uint8_t* in, int32_t len, growbuf* gb) {
  // An empty raw-deflate stream is not a stream at all: even an empty
  // payload deflates to two bytes. Refusing it here keeps inflate's "no
  // progress" answer from being mistaken for a lack of room.
  if (len == 0) {
    log(LOG_ERROR, kSrc, "inflate error %d", Z_DATA_ERROR);
    return -1;
  }
  if (inflateReset(zs) != Z_OK) {
    log(LOG_ERROR, kSrc, "stream error");
    return -1;
  }
  const int32_t start = gb->len;
  int64_t room = 4 * int64_t(len) + 1024;  // output allowed in all
  if (room < kBlockInflateFirstMin) room = kBlockInflateFirstMin;
  if (room > kBlockInflateLimit) room = kBlockInflateLimit;
  zs->next_in = const_cast<Bytef*>(in);
  zs->avail_in = uInt(len);
  for (;;) {
    // What is inflated so far is committed, so growing the buffer keeps it,
    // and inflate goes on where it stopped instead of starting again. A
    // failure takes the buffer's length back to where it was.
    const int64_t produced = int64_t(gb->len) - start;
    uint8_t* out = growbuf_reserve(gb, uint32_t(room - produced));
    if (!out) {
      log(LOG_ERROR, kSrc, "can't alloc decompression space for %db", int32_t(room));
      growbuf_truncate(gb, start);
      return -1;
    }
    zs->next_out = out;
    zs->avail_out = uInt(room - produced);
    const int ret = inflate(zs, Z_FINISH);
    growbuf_commit(gb, uint32_t(room - produced) - zs->avail_out);
    if (ret == Z_STREAM_END) return 0;
    // Only a full output room means "too small"; a buffer error with room
    // left over is input that ends before its stream does, i.e. corrupt.
    if ((ret != Z_BUF_ERROR && ret != Z_OK) || zs->avail_out != 0) {
      log(LOG_ERROR, kSrc, "inflate error %d", ret);
      growbuf_truncate(gb, start);
      return -1;
    }
    if (room >= kBlockInflateLimit) {
      log(LOG_ERROR, kSrc, "won't increase length %d past %d", len, int32_t(kBlockInflateLimit));
      growbuf_truncate(gb, start);
      return -1;
    }
    room = room * 2 < kBlockInflateLimit ? room * 2 : kBlockInflateLimit;
  }
}

}  // namespace

int decblk_init(void) {
  if (S.stream_ready) return 0;
  memset(&S.stream, 0, sizeof S.stream);
  if (inflateInit2(&S.stream, kBlockWindowBits) != Z_OK) {
    log(LOG_ERROR, kSrc, "inflateInit2 failed");
    return -1;
  }
  S.stream_ready = true;
  return 0;
}

void decblk_fini(void) {
  if (!S.stream_ready) return;
  inflateEnd(&S.stream);
  S.stream_ready = false;
}

int decblk_unframe(z_stream* stream, const uint8_t* data, int32_t n, growbuf* gb) {
  frame_head h;
  if (read_head(data, n, &h) == 0) return 0;
  if (int64_t(n) < int64_t(h.size) + h.len) return 0;
  if (!gb) return h.size + h.len;
  if (!h.deflated) {
    uint8_t* out = growbuf_reserve(gb, uint32_t(h.len));
    if (!out) {
      log(LOG_ERROR, kSrc, "can't alloc decompression space for %db", h.len);
      return -1;
    }
    if (h.len > 0) memcpy(out, data + h.size, size_t(h.len));
    growbuf_commit(gb, uint32_t(h.len));
  } else if (!stream) {
    log(LOG_ERROR, kSrc, "no inflate stream for a deflated block");
    return -1;
  } else if (inflate_into(stream, data + h.size, h.len, gb) < 0) {
    return -1;
  }
  return h.size + h.len;
}

int decblk_read(const uint8_t* data, int32_t n, growbuf* gb) {
  if (gb && !S.stream_ready) {
    log(LOG_ERROR, kSrc, "no shared inflate stream");
    return -1;
  }
  return decblk_unframe(&S.stream, data, n, gb);
}

int decblk_inflate(const uint8_t* data, int32_t n, growbuf* gb) {
  if (!gb) return decblk_unframe(nullptr, data, n, nullptr);
  // A stream is made only for a complete block that needs one: stored
  // blocks are copied.
  frame_head h;
  if (read_head(data, n, &h) == 0 || int64_t(n) < int64_t(h.size) + h.len) return 0;
  if (!h.deflated) return decblk_unframe(nullptr, data, n, gb);
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, kBlockWindowBits) != Z_OK) {
    log(LOG_ERROR, kSrc, "inflateInit2 failed");
    return -1;
  }
  const int r = decblk_unframe(&zs, data, n, gb);
  inflateEnd(&zs);
  return r;
}

int decblk_read_encrypted(int number, const uint8_t* data, int32_t n, growbuf* gb) {
  uint32_t len;
  const int head = decode_vint(data, n, &len);
  if (head <= 0) return head;
  // The length is checked before waiting for the bytes, so a hostile one
  // fails the stream instead of stalling it.
  if (len % kCryptBlock != 0 || len > kEncryptedMax) {
    log(LOG_ERROR, kSrc, "bad encrypted block length %u", len);
    return -1;
  }
  if (int64_t(n) - head < int64_t(len)) return 0;
  const int32_t used = head + int32_t(len);
  if (!gb) return used;
  growbuf* plain = encblk_buffer(number);
  if (!plain) return -1;
  growbuf_reset(plain);
  uint8_t* p = growbuf_reserve(plain, len + kCryptBlock);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't alloc decryption space for %ub", len);
    return -1;
  }
  if (crypt_decrypt(p, data + head, int32_t(len), encblk_key()) != int32_t(len)) return -1;
  growbuf_commit(plain, len);
  const int r = decblk_inflate(plain->data, int32_t(len), gb);
  if (r == 0) {
    // The container is complete, so a framed block that claims more bytes
    // than it holds is corrupt, not early.
    log(LOG_ERROR, kSrc, "encrypted block of %ub holds a short frame", len);
    return -1;
  }
  return r < 0 ? -1 : used;
}
