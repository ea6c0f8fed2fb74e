// Codec blocks: known frames pinned as bytes (the deflated one computed
// independently with the same zlib settings), payloads checked against plain
// zlib inflate in both directions, every prefix of a block incomplete with the
// output untouched, corrupt and empty deflate data, the inflate limit, and the
// encrypted block checked against OpenSSL's AES-256-ECB and MD5.
#include "decblk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encblk.h"
#include "testlog.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/md5.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

// Bytes that deflate cannot shrink.
Bytes noise(size_t n, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Raw inflate with plain zlib, independent of the reader under test.
bool zlib_inflate(const uint8_t* in, size_t n, Bytes* out) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  out->assign(64 * n + 64, 0);
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = uInt(n);
  zs.next_out = out->data();
  zs.avail_out = uInt(out->size());
  int r = inflate(&zs, Z_FINISH);
  out->resize(zs.total_out);
  inflateEnd(&zs);
  return r == Z_STREAM_END;
}

// Raw deflate with plain zlib at a level of our choice.
Bytes zlib_deflate(const Bytes& in, int level) {
  z_stream zs{};
  EXPECT_EQ(Z_OK, deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY));
  Bytes out(deflateBound(&zs, in.size()));
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&zs, Z_FINISH));
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// A deflated frame around a raw deflate stream.
Bytes deflated_frame(const Bytes& z) {
  Bytes head;
  if (z.size() < 16384)
    head = {uint8_t(0x80 | z.size() >> 8), uint8_t(z.size())};
  else
    head = {uint8_t(0xE0 | z.size() >> 24), uint8_t(z.size() >> 16), uint8_t(z.size() >> 8), uint8_t(z.size())};
  return cat(head, z);
}

class Blocks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, codec_init());
    ASSERT_EQ(0, growbuf_init(&gb_, 0, 4096));
  }
  void TearDown() override {
    growbuf_free(&gb_);
    codec_fini();
  }
  Bytes contents() const { return Bytes(gb_.data, gb_.data + gb_.len); }
  Bytes frame(const Bytes& payload) {
    growbuf_reset(&gb_);
    EXPECT_EQ(0, encblk_frame_shared(&gb_, payload.data(), int32_t(payload.size())));
    return contents();
  }
  growbuf gb_{};
};

TEST_F(Blocks, KnownFrames) {
  const Bytes n127 = noise(127), n128 = noise(128), n8191 = noise(8191);
  struct Case {
    const char* name;
    Bytes payload;
    Bytes expect;
  } cases[] = {
      {"empty", {}, {0x00}},
      {"127 stored, one-byte head", n127, cat({0x7F}, n127)},
      {"128 stored, two-byte head", n128, cat({0xC0, 0x80}, n128)},
      {"8191 stored", n8191, cat({0xDF, 0xFF}, n8191)},
      // Python's zlib binding, level 4, window -15, memory level 9, filtered.
      {"1000 zeros deflated",
       Bytes(1000, 0),
       {0x80, 0x0B, 0x63, 0x60, 0x18, 0x05, 0xa3, 0x60, 0x14, 0x0c, 0x77, 0x00, 0x00}},
      {"short text stored", Bytes{'a', 'b', 'c'}, Bytes{0x03, 'a', 'b', 'c'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expect, frame(c.payload));
    // Per-call stream: the same bytes.
    growbuf_reset(&gb_);
    ASSERT_EQ(0, encblk_write(&gb_, c.payload.data(), int32_t(c.payload.size())));
    EXPECT_EQ(c.expect, contents());
  }
}

TEST_F(Blocks, LongIncompressiblePayloadsAreDeflatedAnyway) {
  struct Case {
    size_t n;
    int head;
  } cases[] = {{8192, 2}, {16000, 2}, {17000, 4}, {100000, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    const Bytes payload = noise(c.n, uint32_t(c.n));
    const Bytes block = frame(payload);
    ASSERT_GT(block.size(), size_t(c.head));
    const size_t carried = block.size() - c.head;
    EXPECT_GT(carried, c.n) << "deflate cannot shrink noise";
    if (c.head == 2) {
      EXPECT_EQ(0x80, block[0] & 0xC0);
      EXPECT_EQ(carried, size_t((block[0] & 0x3F) << 8 | block[1]));
    } else {
      EXPECT_EQ(0xE0, block[0] & 0xE0);
      EXPECT_EQ(carried, size_t((block[0] & 0x1F) << 24 | block[1] << 16 | block[2] << 8 | block[3]));
    }
    Bytes plain;
    ASSERT_TRUE(zlib_inflate(block.data() + c.head, carried, &plain));
    EXPECT_EQ(payload, plain);
    EXPECT_GE(encblk_max_framed_len(int32_t(c.n)), int64_t(block.size()));
  }
}

TEST_F(Blocks, DeflatedPayloadsInflateWithPlainZlibAndReadBack) {
  // Text-like payloads of many sizes, some past the two-byte deflated head.
  std::mt19937 rng(7);
  const char* words[] = {"BHP ", "bid ", "offer ", "1025 ", "trade ", "\n"};
  for (size_t n : {200u, 5000u, 8191u, 8192u, 70000u, 400000u}) {
    SCOPED_TRACE(n);
    Bytes payload;
    while (payload.size() < n) {
      const char* w = words[rng() % 6];
      payload.insert(payload.end(), w, w + strlen(w));
    }
    payload.resize(n);
    const Bytes block = frame(payload);
    ASSERT_EQ(0x80, block[0] & 0x80);
    const int head = (block[0] & 0xE0) == 0xE0 ? 4 : 2;
    ASSERT_NE(0xC0, block[0] & 0xE0) << "compressible text is not stored";
    Bytes plain;
    ASSERT_TRUE(zlib_inflate(block.data() + head, block.size() - head, &plain));
    EXPECT_EQ(payload, plain);

    // Read back behind existing output, with the shared and a fresh stream.
    for (auto reader : {decblk_read, decblk_inflate}) {
      growbuf out{};
      ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
      growbuf_append(&out, "xy", 2);
      ASSERT_EQ(int(block.size()), reader(block.data(), int32_t(block.size()), &out));
      EXPECT_EQ(cat({'x', 'y'}, payload), Bytes(out.data, out.data + out.len));
      growbuf_free(&out);
    }
    EXPECT_EQ(int(block.size()), decblk_read(block.data(), int32_t(block.size()), nullptr));
  }
}

TEST_F(Blocks, ReadsBlocksDeflatedByOtherSettings) {
  const Bytes payload = cat(Bytes(3000, 'a'), noise(3000));
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    const Bytes block = deflated_frame(zlib_deflate(payload, level));
    ASSERT_EQ(int(block.size()), decblk_read(block.data(), int32_t(block.size()), &gb_));
    EXPECT_EQ(payload, contents());
    growbuf_reset(&gb_);
  }
}

TEST_F(Blocks, EveryPrefixIsIncompleteAndLeavesTheOutputAlone) {
  const Bytes blocks[] = {frame({}), frame(noise(100)), frame(noise(300)), frame(Bytes(1000, 0)),
                          frame(noise(20000))};
  growbuf out{};
  ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
  growbuf_append(&out, "keep", 4);
  for (const Bytes& b : blocks) {
    SCOPED_TRACE(b.size());
    for (size_t cut = 0; cut < b.size(); cut += (cut < 40 ? 1 : 97)) {
      EXPECT_EQ(0, decblk_read(b.data(), int32_t(cut), &out)) << cut;
      EXPECT_EQ(0, decblk_inflate(b.data(), int32_t(cut), &out)) << cut;
      EXPECT_EQ(0, decblk_read(b.data(), int32_t(cut), nullptr)) << cut;
      ASSERT_EQ(4, out.len);
    }
    EXPECT_EQ(0, memcmp(out.data, "keep", 4));
    // Measuring a complete block with bytes after it gives its own size.
    const Bytes more = cat(b, {0x55, 0x66});
    EXPECT_EQ(int(b.size()), decblk_read(more.data(), int32_t(more.size()), nullptr));
  }
  // A head that claims 300 stored bytes with 200 present.
  const Bytes short_block = cat({0xC1, 0x2C}, Bytes(200, 1));
  EXPECT_EQ(0, decblk_read(short_block.data(), int32_t(short_block.size()), &out));
  EXPECT_EQ(0, decblk_read(short_block.data(), int32_t(short_block.size()), nullptr));
  growbuf_free(&out);
}

TEST_F(Blocks, CorruptDeflateDataFailsAndLeavesTheOutputAlone) {
  const Bytes payload = Bytes(5000, 'q');
  const Bytes good = frame(payload);
  const Bytes z(good.begin() + 2, good.end());
  Bytes bad_bits = z;
  bad_bits[0] = 0xFF;  // block type 3: reserved
  struct Case {
    const char* name;
    Bytes block;
  } cases[] = {
      {"truncated stream in a complete frame", deflated_frame(Bytes(z.begin(), z.end() - 3))},
      {"reserved block type", deflated_frame(bad_bits)},
      {"empty deflated payload", {0x80, 0x00}},
      {"empty long-form deflated payload", {0xE0, 0x00, 0x00, 0x00}},
  };
  growbuf out{};
  ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
  growbuf_append(&out, "keep", 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture cap;
    EXPECT_EQ(-1, decblk_read(c.block.data(), int32_t(c.block.size()), &out));
    EXPECT_EQ(-1, decblk_inflate(c.block.data(), int32_t(c.block.size()), &out));
    EXPECT_TRUE(cap.has("inflate error"));
    ASSERT_EQ(4, out.len);
    EXPECT_EQ(0, memcmp(out.data, "keep", 4));
    // The shared stream still works afterwards.
    ASSERT_EQ(int(good.size()), decblk_read(good.data(), int32_t(good.size()), &out));
    EXPECT_EQ(cat({'k', 'e', 'e', 'p'}, payload), Bytes(out.data, out.data + out.len));
    growbuf_truncate(&out, 4);
  }
  growbuf_free(&out);
}

TEST_F(Blocks, InflateLimit) {
  struct Case {
    size_t n;
    int result;  // 1: the whole block
  } cases[] = {{size_t(kBlockInflateLimit), 1}, {size_t(kBlockInflateLimit) + 1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    const Bytes block = deflated_frame(zlib_deflate(Bytes(c.n, 0), 9));
    LogCapture cap;
    growbuf_append(&gb_, "keep", 4);
    const int r = decblk_read(block.data(), int32_t(block.size()), &gb_);
    EXPECT_EQ(0, memcmp(gb_.data, "keep", 4));
    if (c.result == 1) {
      EXPECT_EQ(int(block.size()), r);
      EXPECT_EQ(int64_t(c.n) + 4, gb_.len);
      EXPECT_EQ(0, gb_.data[gb_.len - 1]);
    } else {
      EXPECT_EQ(-1, r);
      EXPECT_EQ(4, gb_.len);
      EXPECT_TRUE(cap.has("won't increase length " + std::to_string(block.size() - 4) + " past 32000000"));
    }
    growbuf_reset(&gb_);
  }
}

TEST_F(Blocks, RefusesPayloadsOfTwoTo29Bytes) {
  LogCapture cap;
  uint8_t one = 0;
  EXPECT_EQ(-1, encblk_frame_shared(&gb_, &one, kBlockPayloadLimit));
  EXPECT_EQ(-1, encblk_write(&gb_, &one, -1));
  EXPECT_TRUE(cap.has("can't encode 536870912b block"));
  EXPECT_EQ(0, gb_.len);
  EXPECT_EQ(-1, encblk_max_framed_len(kBlockPayloadLimit));
}

TEST_F(Blocks, ScratchBuffersExistOnlyWhileTheCodecRuns) {
  EXPECT_NE(nullptr, encblk_buffer(0));
  EXPECT_NE(nullptr, encblk_buffer(1));
  EXPECT_EQ(nullptr, encblk_buffer(2));
  EXPECT_EQ(kBlockScratchSize, encblk_buffer(0)->maxlen);
  codec_fini();
  EXPECT_EQ(nullptr, encblk_buffer(0));
  const Bytes block = {0x80, 0x0B, 0x63, 0x60, 0x18, 0x05, 0xa3, 0x60, 0x14, 0x0c, 0x77, 0x00, 0x00};
  EXPECT_EQ(-1, decblk_read(block.data(), int32_t(block.size()), &gb_));
  EXPECT_EQ(-1, encblk_frame_shared(&gb_, "x", 1));
  // The per-call forms do not need the codec.
  EXPECT_EQ(int(block.size()), decblk_inflate(block.data(), int32_t(block.size()), &gb_));
  EXPECT_EQ(Bytes(1000, 0), contents());
  ASSERT_EQ(0, codec_init());
}

// ---------------------------------------------------------------------------
// Encrypted blocks

class Encrypted : public Blocks {
 protected:
  void SetUp() override {
    Blocks::SetUp();
    for (int i = 0; i < 32; i++) key_[i] = uint8_t(i * 7 + 1);
    encblk_set_key(key_);
  }
  void TearDown() override {
    encblk_set_key(nullptr);
    Blocks::TearDown();
  }
  Bytes encrypt(const Bytes& payload, int check) {
    growbuf_reset(&gb_);
    EXPECT_EQ(0, encblk_write_encrypted(1, &gb_, payload.data(), int32_t(payload.size()), check));
    return contents();
  }
  uint8_t key_[32];
};

TEST_F(Encrypted, KeyInjectionAndDerivation) {
  EXPECT_EQ(0, memcmp(encblk_key(), key_, 32));
  codec_fini();
  ASSERT_EQ(0, codec_init());
  EXPECT_EQ(0, memcmp(encblk_key(), key_, 32)) << "an injected key survives a restart";
  encblk_set_key(nullptr);
  Bytes derived(encblk_key(), encblk_key() + 32);
  EXPECT_NE(0, memcmp(derived.data(), key_, 32));
  codec_fini();
  ASSERT_EQ(0, codec_init());
  EXPECT_EQ(derived, Bytes(encblk_key(), encblk_key() + 32)) << "the derived key is fixed";
}

#ifdef AMBIT_HAVE_OPENSSL
Bytes openssl_ecb(const Bytes& in, const uint8_t* key, bool enc) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr, enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

Bytes md5_of(const Bytes& in) {
  Bytes d(16);
  unsigned int n = 16;
  EVP_Digest(in.data(), in.size(), d.data(), &n, EVP_md5(), nullptr);
  return d;
}

TEST_F(Encrypted, TwentyBytesWithCheckMatchOpenSsl) {
  const Bytes payload = noise(20);
  const Bytes block = encrypt(payload, 1);
  ASSERT_EQ(49u, block.size());
  EXPECT_EQ(0x30, block[0]);
  const Bytes plain = openssl_ecb(Bytes(block.begin() + 1, block.end()), key_, false);
  const Bytes expect = cat(cat(cat({0x14}, payload), md5_of(payload)), Bytes(11, 0));
  EXPECT_EQ(expect, plain);

  // Read back into buffer 0 (the reader's), behind existing output.
  growbuf out{};
  ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
  growbuf_append(&out, "z", 1);
  EXPECT_EQ(49, decblk_read_encrypted(0, block.data(), 49, &out));
  EXPECT_EQ(cat({'z'}, payload), Bytes(out.data, out.data + out.len));
  EXPECT_EQ(49, decblk_read_encrypted(0, block.data(), 49, nullptr));
  growbuf_free(&out);
}

TEST_F(Encrypted, BlocksMadeByOpenSslRead) {
  // Plaintext framed by hand: a deflated frame of a long payload, no digest.
  const Bytes payload = Bytes(40000, 'k');
  Bytes plain = deflated_frame(zlib_deflate(payload, 6));
  plain.resize((plain.size() + 15) / 16 * 16, 0);
  const Bytes ct = openssl_ecb(plain, key_, true);
  Bytes block = {uint8_t(0x80 | (ct.size() & 0x3F)), uint8_t(ct.size() >> 6)};
  ASSERT_LT(ct.size(), 16384u);
  block = cat(block, ct);
  EXPECT_EQ(int(block.size()), decblk_read_encrypted(0, block.data(), int32_t(block.size()), &gb_));
  EXPECT_EQ(payload, contents());
}

TEST_F(Encrypted, BadContainersFail) {
  auto sealed = [&](const Bytes& plain) {
    Bytes p = plain;
    p.resize((p.size() + 15) / 16 * 16, 0);
    return cat({uint8_t(p.size())}, openssl_ecb(p, key_, true));
  };
  struct Case {
    const char* name;
    Bytes block;
    const char* message;
  } cases[] = {
      {"length not a multiple of 16", cat({0x11}, Bytes(17, 0)), "bad encrypted block length 17"},
      {"length beyond any block, bytes missing", {0xF0, 0xFF, 0xFF, 0xFF, 0x7F}, "bad encrypted block length"},
      {"empty container", {0x00}, "short frame"},
      {"frame claims more than the plaintext", sealed(cat({0x7F}, Bytes(10, 1))), "short frame"},
      {"empty deflated payload", sealed({0x80, 0x00}), "inflate error"},
  };
  growbuf_append(&gb_, "keep", 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture cap;
    EXPECT_EQ(-1, decblk_read_encrypted(0, c.block.data(), int32_t(c.block.size()), &gb_));
    EXPECT_TRUE(cap.has(c.message));
    EXPECT_EQ(4, gb_.len);
  }
}
#endif  // AMBIT_HAVE_OPENSSL

TEST_F(Encrypted, RoundTripsAndPrefixesAreIncomplete) {
  for (size_t n : {0u, 1u, 15u, 16u, 127u, 128u, 5000u, 9000u}) {
    for (int check : {0, 1}) {
      SCOPED_TRACE(testing::Message() << n << " check " << check);
      const Bytes payload = n % 2 ? noise(n, uint32_t(n)) : Bytes(n, 'r');
      const Bytes block = encrypt(payload, check);
      growbuf out{};
      ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
      for (size_t cut = 0; cut < block.size(); cut += 1 + cut / 4) {
        ASSERT_EQ(0, decblk_read_encrypted(0, block.data(), int32_t(cut), &out)) << cut;
        ASSERT_EQ(0, out.len);
      }
      EXPECT_EQ(int(block.size()), decblk_read_encrypted(0, block.data(), int32_t(block.size()), &out));
      EXPECT_EQ(payload, Bytes(out.data, out.data + out.len));
      growbuf_free(&out);
    }
  }
  EXPECT_EQ(-1, encblk_write_encrypted(2, &gb_, "x", 1, 0));
}

}  // namespace
