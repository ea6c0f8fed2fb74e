// Writing codec blocks. A block is a one-, two- or four-byte head and the
// payload, stored as it is when that is no longer than deflating it (and
// short), else raw-deflated. Deflate streams are costly to set up, so the
// shared one lives from codec_init to codec_fini and is only reset between
// blocks: no block depends on another, and any inflate stream reads it.
// This module also owns the codec's start and stop: the two scratch buffers
// and the AES-256 block key used by encrypted blocks.
#include "encblk.h"

#include <cstring>

#include "crypt.h"
#include "decblk.h"
#include "encode.h"
#include "log.h"
#include "md5.h"

static const char kSrc[] = "src/encblk";

static struct {
  bool running;       // between codec_init and codec_fini
  bool stream_ready;  // the shared deflate stream is made
  z_stream stream;    // shared deflate stream
  bool buffers_ready;
  growbuf buffers[kBlockScratchBuffers];
  bool key_ready;
  bool key_injected;  // a test gave the key: keep it across restarts
  uint8_t key[kBlockKeyBytes];
} S;

namespace {

// The block key is the SHA-256 digest of these 277 bytes. The bytes are this
// program's own; a peer that decrypts our blocks must derive the same key.
constexpr int32_t kBlockKeySeedBytes = 277;
const uint8_t kBlockKeySeed[kBlockKeySeedBytes] = {
    0x22, 0x90, 0xbc, 0xa0, 0xce, 0x96, 0xc7, 0xd3, 0x97, 0x8a, 0x7b, 0xe0, 0xfd, 0x4c,
    0x66, 0x4b, 0x79, 0x3c, 0x7f, 0xa9, 0xf1, 0x83, 0x88, 0x2f, 0x9b, 0x98, 0x50, 0xe6,
    0x63, 0xb7, 0x82, 0xec, 0x26, 0x50, 0x80, 0xa6, 0x47, 0x8c, 0xd3, 0x01, 0xff, 0x4d,
    0x77, 0x97, 0x33, 0xd9, 0xe2, 0xc8, 0x95, 0x0a, 0xe8, 0x1e, 0xc5, 0x20, 0xfe, 0x15,
    0x70, 0xf5, 0x57, 0x8f, 0xd4, 0xfc, 0xf4, 0x09, 0x9a, 0x6c, 0x3c, 0x59, 0x9e, 0xcc,
    0xbf, 0xea, 0x7d, 0x8f, 0x16, 0x82, 0x97, 0x7d, 0x90, 0x8f, 0xa7, 0xdd, 0x63, 0x3a,
    0x00, 0x1a, 0x0b, 0xe5, 0x1d, 0x6b, 0x79, 0x2c, 0xba, 0x0d, 0x08, 0x1a, 0x15, 0x86,
    0xf4, 0x2d, 0x2c, 0xb3, 0x5f, 0x96, 0x7f, 0x5e, 0xa1, 0xf5, 0x7a, 0x7a, 0xe0, 0x44,
    0xc4, 0xae, 0x2f, 0x3c, 0xc9, 0x61, 0x10, 0x14, 0x53, 0x26, 0x7d, 0x0a, 0x2f, 0x55,
    0x86, 0x53, 0xe9, 0xa3, 0x31, 0x9a, 0xfa, 0x90, 0x57, 0xd1, 0x1e, 0x51, 0x97, 0x95,
    0x50, 0xe6, 0x63, 0xa8, 0xd2, 0xbb, 0x2f, 0x6e, 0xa9, 0xb0, 0xa3, 0xd2, 0xd6, 0x4d,
    0x2c, 0x4d, 0xe2, 0xca, 0x36, 0x04, 0x07, 0x09, 0x2c, 0xf9, 0x6b, 0xda, 0x98, 0x06,
    0x30, 0xc7, 0x99, 0x35, 0xa4, 0x0a, 0x58, 0x8f, 0x9c, 0xb6, 0x2e, 0x75, 0x70, 0xc3,
    0x76, 0x16, 0x2c, 0xbf, 0x7a, 0xc3, 0x5d, 0x8c, 0x32, 0x7e, 0x14, 0xa0, 0x60, 0xc5,
    0x90, 0x6e, 0x00, 0xbd, 0xdc, 0x74, 0xb7, 0x2c, 0x87, 0xd4, 0x33, 0xdd, 0x59, 0x19,
    0x96, 0x93, 0xa4, 0x95, 0x6b, 0x4b, 0xf7, 0x68, 0x74, 0xde, 0xbc, 0x64, 0x01, 0x38,
    0x50, 0xff, 0x9b, 0x2b, 0x46, 0xa7, 0x9e, 0x61, 0xe1, 0xeb, 0x61, 0xf0, 0xa3, 0xb2,
    0xf7, 0x99, 0x10, 0x86, 0x75, 0x9a, 0xd1, 0x24, 0x0d, 0xb5, 0x3c, 0x8a, 0xaf, 0x7b,
    0xaa, 0xc9, 0xb2, 0x74, 0x0d, 0xa5, 0x68, 0x07, 0xbe, 0x90, 0xac, 0x6f, 0x06, 0xea,
    0x27, 0x3a, 0x0e, 0xb1, 0xd5, 0x2c, 0x92, 0xa2, 0xdb, 0x00, 0x17,
};

// Room beyond the deflate bound: the first try reserves bound + head + 103
// and lets deflate write bound + 4; each retry adds 1024 more.
constexpr int64_t kFirstSlack = 103;
constexpr int64_t kFirstAllow = 4;
constexpr int64_t kRetryStep = 1024;
constexpr int64_t kRetrySlack = 1127;
constexpr int64_t kRetryAllow = 1028;
constexpr int64_t kRetryHeadFor = 1027;
constexpr int32_t kEncryptedSlack = 20;  // vint and padding beyond the staged block

// Head bytes a block of `len` carried bytes would take, for room estimates.
int64_t head_size_for(int64_t len) {
  if (len <= kBlockShortStoredMax) return 1;
  if (len <= kBlockStoredMax) return 2;
  return 4;
}

void derive_key(void) {
  crypt_sha256(S.key, kBlockKeySeed, kBlockKeySeedBytes);
  S.key_ready = true;
}

// Writes the head of a block and returns its size.
int write_head(uint8_t* out, bool deflated, uint32_t len) {
  if (!deflated && len <= kBlockShortStoredMax) {
    out[0] = uint8_t(len);
    return 1;
  }
  if (!deflated) {
    out[0] = uint8_t(0xC0 | (len >> 8));
    out[1] = uint8_t(len);
    return 2;
  }
  if (len <= uint32_t(kBlockShortDeflatedMax)) {
    out[0] = uint8_t(0x80 | (len >> 8));
    out[1] = uint8_t(len);
    return 2;
  }
  out[0] = uint8_t(0xE0 | (len >> 24));
  out[1] = uint8_t(len >> 16);
  out[2] = uint8_t(len >> 8);
  out[3] = uint8_t(len);
  return 4;
}

// Resets the stream and deflates the whole payload with finish into `out`,
// allowing `allow` bytes. Returns deflate's result.
int deflate_all(z_stream* zs, const void* data, int32_t n, uint8_t* out, int64_t allow) {
  if (deflateReset(zs) != Z_OK) return Z_STREAM_ERROR;
  zs->next_in = static_cast<Bytef*>(const_cast<void*>(data));
  zs->avail_in = uInt(n);
  zs->next_out = out;
  zs->avail_out = uInt(allow);
  return deflate(zs, Z_FINISH);
}

}  // namespace

int encblk_deflate_init(z_stream* stream, int level) {
  memset(stream, 0, sizeof *stream);
  if (deflateInit2(stream, level, Z_DEFLATED, kBlockWindowBits, kBlockMemLevel, kBlockStrategy) != Z_OK) {
    log(LOG_ERROR, kSrc, "deflateInit2 failed");
    return -1;
  }
  return 0;
}

int encblk_init_stream(void) {
  if (S.stream_ready) return 0;
  if (encblk_deflate_init(&S.stream, kBlockLevel) < 0) return -1;
  S.stream_ready = true;
  return 0;
}

void encblk_end_stream(void) {
  if (!S.stream_ready) return;
  deflateEnd(&S.stream);
  S.stream_ready = false;
}

const uint8_t* encblk_key(void) {
  if (!S.key_ready) derive_key();
  return S.key;
}

void encblk_set_key(const uint8_t* key) {
  if (key) {
    memcpy(S.key, key, kBlockKeyBytes);
    S.key_ready = true;
    S.key_injected = true;
  } else {
    S.key_injected = false;
    derive_key();
  }
}

growbuf* encblk_buffer(int number) {
  if (number < 0 || number >= kBlockScratchBuffers || !S.buffers_ready) {
    log(LOG_ERROR, kSrc, "no scratch buffer %d", number);
    return nullptr;
  }
  return &S.buffers[number];
}

int codec_init(void) {
  if (S.running) return 0;
  for (int i = 0; i < kBlockScratchBuffers; i++) {
    if (growbuf_init(&S.buffers[i], kBlockScratchSize, kBlockScratchSize) < 0) {
      for (int j = 0; j < i; j++) growbuf_free(&S.buffers[j]);
      return -1;
    }
  }
  S.buffers_ready = true;
  if (encblk_init_stream() < 0 || decblk_init() < 0) {
    codec_fini();
    return -1;
  }
  if (!S.key_injected) derive_key();
  S.running = true;
  return 0;
}

void codec_fini(void) {
  encblk_end_stream();
  decblk_fini();
  if (S.buffers_ready) {
    for (growbuf& gb : S.buffers) growbuf_free(&gb);
    S.buffers_ready = false;
  }
  if (!S.key_injected) {
    memset(S.key, 0, sizeof S.key);
    S.key_ready = false;
  }
  S.running = false;
}

int64_t encblk_max_framed_len(int32_t n) {
  if (n < 0 || n >= kBlockPayloadLimit) return -1;
  return int64_t(deflateBound(S.stream_ready ? &S.stream : Z_NULL, uLong(n))) + kBlockHeadMax;
}

int encblk_frame(growbuf* gb, const void* data, int32_t n, z_stream* stream) {
  if (n < 0 || n >= kBlockPayloadLimit) {
    log(LOG_ERROR, kSrc, "can't encode %db block", n);
    return -1;
  }
  const int64_t bound = int64_t(deflateBound(stream, uLong(n)));
  int64_t head = head_size_for(bound + 3);
  int64_t want = bound + head + kFirstSlack;
  uint8_t* room = growbuf_reserve(gb, uint32_t(want));
  if (!room) {
    log(LOG_ERROR, kSrc, "can't alloc compression space for %db", int32_t(want));
    return -1;
  }
  int ret = deflate_all(stream, data, n, room + head, bound + kFirstAllow);
  // Deflate is told to finish; anything short of the stream's end with the
  // output room used up means the bound was not enough. That does not happen
  // with zlib's bound, but growing is cheap insurance against a wrong one.
  for (int64_t extra = 0; ret == Z_OK || (ret == Z_BUF_ERROR && stream->avail_out == 0); extra += kRetryStep) {
    log(LOG_WARN, kSrc, "trying to deflate to %db more space", int32_t(extra));
    head = head_size_for(bound + extra + kRetryHeadFor);
    want = bound + extra + head + kRetrySlack;
    if (want >= INT32_MAX || !(room = growbuf_reserve(gb, uint32_t(want)))) {
      log(LOG_ERROR, kSrc, "can't alloc compression space for %db", int32_t(want < INT32_MAX ? want : -1));
      return -1;
    }
    ret = deflate_all(stream, data, n, room + head, bound + extra + kRetryAllow);
  }
  if (ret == Z_STREAM_ERROR) {
    log(LOG_ERROR, kSrc, "stream error");
    return -1;
  }
  if (ret != Z_STREAM_END) {
    log(LOG_ERROR, kSrc, "deflate error %d (len=%d)", ret, n);
    return -1;
  }
  const int64_t packed = int64_t(stream->total_out);
  int used;
  if (n <= kBlockStoredMax && packed >= n) {
    used = write_head(room, false, uint32_t(n));
    if (n > 0) memcpy(room + used, data, size_t(n));
    used += n;
  } else {
    if (packed >= kBlockPayloadLimit) {
      log(LOG_ERROR, kSrc, "can't encode %db block", int32_t(packed));
      return -1;
    }
    const int hs = packed <= kBlockShortDeflatedMax ? 2 : 4;
    if (hs != head) memmove(room + hs, room + head, size_t(packed));
    used = write_head(room, true, uint32_t(packed)) + int(packed);
  }
  return growbuf_commit(gb, uint32_t(used));
}

int encblk_frame_shared(growbuf* gb, const void* data, int32_t n) {
  if (!S.stream_ready) {
    log(LOG_ERROR, kSrc, "no shared deflate stream");
    return -1;
  }
  return encblk_frame(gb, data, n, &S.stream);
}

int encblk_write(growbuf* gb, const void* data, int32_t n) {
  z_stream zs;
  if (encblk_deflate_init(&zs, kBlockLevel) < 0) return -1;
  const int r = encblk_frame(gb, data, n, &zs);
  deflateEnd(&zs);
  return r;
}

int encblk_write_encrypted(int number, growbuf* out, const void* data, int32_t n, int check) {
  growbuf* stage = encblk_buffer(number);
  if (!stage) return -1;
  growbuf_reset(stage);
  if (encblk_write(stage, data, n) < 0) return -1;
  if (check) {
    uint8_t* digest = growbuf_reserve(stage, kBlockDigestBytes);
    if (!digest) {
      log(LOG_ERROR, kSrc, "can't extend block");
      return -1;
    }
    md5_ctx md;
    md5_init(&md);
    md5_update(&md, data, uint32_t(n));
    md5_final(&md, digest);
    growbuf_commit(stage, kBlockDigestBytes);
  }
  const int32_t padded = crypt_padded_len(stage->len);
  if (padded < 0) return -1;
  uint8_t* o = growbuf_reserve(out, uint32_t(stage->len) + kEncryptedSlack);
  if (!o) {
    log(LOG_ERROR, kSrc, "can't alloc %db for encrypted block", stage->len + kEncryptedSlack);
    return -1;
  }
  const int head = encode_vint(o, uint32_t(padded));
  if (head < 0 || crypt_encrypt(o + head, stage->data, uint32_t(stage->len), encblk_key()) != padded) return -1;
  return growbuf_commit(out, uint32_t(head + padded));
}

int encblk_write_encrypted_checked(int number, growbuf* out, const void* data, int32_t n) {
  return encblk_write_encrypted(number, out, data, n, 1);
}
