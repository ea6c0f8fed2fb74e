// Readers of codec blocks (heads and payloads as encblk.h describes them)
// and of encrypted blocks.
//
// Each reader returns the bytes of input it used (the whole block), 0 while
// the block is not complete in the bytes given (nothing is changed then), or
// -1 after an ERROR line on bad data. The payload is appended to the
// caller's growbuf only on success; on 0 or -1 its length and contents are
// as they were (bytes past its length may have been written, and it may
// have grown).
#pragma once
#include <cstdint>
#include <zlib.h>

#include "growbuf.h"

// An inflated payload may not pass this many bytes; a block that needs more
// is refused.
constexpr int64_t kBlockInflateLimit = 32000000;
// The first inflate room: four times the carried bytes plus 1,024, at least
// 32 KB; it doubles (up to the limit) while it is too small.
constexpr int64_t kBlockInflateFirstMin = 32768;

// One framed block with the shared inflate stream (core lock). With gb null
// it only measures: the block's size, or 0 while it is incomplete.
int decblk_read(const uint8_t* data, int32_t n, growbuf* gb);
// The same with an inflate stream made for this call (any thread).
int decblk_inflate(const uint8_t* data, int32_t n, growbuf* gb);
// The same on the caller's raw inflate stream.
int decblk_unframe(z_stream* stream, const uint8_t* data, int32_t n, growbuf* gb);

// One encrypted block: a vint L (a multiple of 16) and L bytes, decrypted
// with the block key into scratch buffer `number` (encblk_buffer) and read
// as one framed block into gb. Bytes after the framed block (a digest, the
// padding) are not examined. A framed block that the plaintext does not hold
// whole is bad data. With gb null it only measures.
int decblk_read_encrypted(int number, const uint8_t* data, int32_t n, growbuf* gb);

// The shared inflate stream, made and ended by codec_init / codec_fini.
// 0, or -1 after "inflateInit2 failed".
int decblk_init(void);
void decblk_fini(void);
