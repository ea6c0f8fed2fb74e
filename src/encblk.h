// Writers of codec blocks: a short head telling the payload's length and
// whether it is raw-deflated, then the payload; and the encrypted block that
// wraps a framed block in AES-256. Also the codec's start and stop, which own
// the shared deflate stream, the two scratch buffers and the block key.
//
// Writers append to a growbuf and return 0, or -1 after an ERROR line; a
// failed write leaves the growbuf's length as it was.
#pragma once
#include <cstdint>
#include <zlib.h>

#include "growbuf.h"

// Frame heads. A stored payload of up to 127 bytes takes one byte
// 0nnnnnnn; up to 8,191 stored bytes take 110nnnnn nnnnnnnn; deflated
// payloads below 16,384 bytes take 10nnnnnn nnnnnnnn, longer ones
// 111nnnnn and three more bytes (29 bits).
constexpr int32_t kBlockShortStoredMax = 127;
constexpr int32_t kBlockStoredMax = 8191;
constexpr int32_t kBlockShortDeflatedMax = 16383;
constexpr int32_t kBlockPayloadLimit = 1 << 29;  // payloads and carried lengths stay below
constexpr int32_t kBlockHeadMax = 4;

// Every deflate stream of the codec: raw (no zlib header or checksum).
constexpr int kBlockLevel = 4;
constexpr int kBlockWindowBits = -15;
constexpr int kBlockMemLevel = 9;
constexpr int kBlockStrategy = Z_FILTERED;

constexpr int32_t kBlockScratchSize = 64000;  // initial size and growth step
constexpr int kBlockScratchBuffers = 2;       // 0: the io thread's reads, 1: the client's requests
constexpr int32_t kBlockKeyBytes = 32;
constexpr int32_t kBlockDigestBytes = 16;  // MD5 of the payload, when checked

// Codec life: the scratch buffers, the shared deflate and inflate streams and
// the block key. codec_init returns 0, or -1 at the first part that fails;
// a second call while running changes nothing. The model's start and stop
// call them.
int codec_init(void);
void codec_fini(void);

// Frames n bytes (n below 2^29) and appends the block to gb: with the shared
// deflate stream (needs codec_init; core lock), with a stream made for this
// call (any thread), or with the caller's stream.
int encblk_frame_shared(growbuf* gb, const void* data, int32_t n);
int encblk_write(growbuf* gb, const void* data, int32_t n);
int encblk_frame(growbuf* gb, const void* data, int32_t n, z_stream* stream);
// Room a framed block of n payload bytes can take: the deflate bound for n
// plus the longest head. -1 for n outside 0..2^29-1.
int64_t encblk_max_framed_len(int32_t n);

// Appends an encrypted block: a vint L and L bytes of AES-256-ECB ciphertext
// of the framed payload, with the payload's MD5 digest after it when check
// is set, zero-padded to a multiple of 16. The block is staged in scratch
// buffer `number` (0 or 1), whose contents are lost.
int encblk_write_encrypted(int number, growbuf* out, const void* data, int32_t n, int check);
int encblk_write_encrypted_checked(int number, growbuf* out, const void* data, int32_t n);

// A raw deflate stream with the codec's settings at `level`. 0, or -1 after
// "deflateInit2 failed"; a stream that was made is ended with deflateEnd.
int encblk_deflate_init(z_stream* stream, int level);
int encblk_init_stream(void);  // the shared deflate stream
void encblk_end_stream(void);
// The 32-byte block key; valid while the codec runs or after encblk_set_key.
const uint8_t* encblk_key(void);
// Scratch buffer 0 or 1; null (after an ERROR) for another number or before
// codec_init.
growbuf* encblk_buffer(int number);
// Test seam: use `key` (32 bytes) as the block key from now on, across
// codec restarts; null goes back to the key derived from the program's
// constant.
void encblk_set_key(const uint8_t* key);
