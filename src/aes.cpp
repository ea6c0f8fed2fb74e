// AES (FIPS 197) for 128-, 192- and 256-bit keys, one 16-byte block at a
// time. Each round is four lookups per column in round tables that merge
// SubBytes, ShiftRows and MixColumns; decryption uses the equivalent inverse
// cipher, so its key setup runs InvMixColumns over the middle round keys.
// The S-box and every round table are computed at compile time from the
// field arithmetic the standard defines. Table lookups indexed by secret
// bytes leak through cache timing; the system accepts that for its uses.
#include "aes.h"

#include <array>

#include "log.h"

static const char kSrc[] = "src/aes";

namespace {

using Table = std::array<uint32_t, 256>;

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t gmul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  for (int i = 0; i < 8; i++) {
    if (b & 1) p ^= a;
    a = uint8_t((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
    b >>= 1;
  }
  return p;
}

constexpr uint8_t rotl8(uint8_t x, int s) { return uint8_t((x << s) | (x >> (8 - s))); }

// S-box: the multiplicative inverse (a^254, 0 for 0) and the affine map.
constexpr std::array<uint8_t, 256> make_sbox() {
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; x++) {
    uint8_t inv = 1, sq = uint8_t(x);
    for (int e = 254; e; e >>= 1) {
      if (e & 1) inv = gmul(inv, sq);
      sq = gmul(sq, sq);
    }
    if (x == 0) inv = 0;
    s[x] = uint8_t(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
  }
  return s;
}

constexpr std::array<uint8_t, 256> kSbox = make_sbox();
static_assert(kSbox[0x00] == 0x63 && kSbox[0x01] == 0x7c && kSbox[0x53] == 0xed && kSbox[0xff] == 0x16);

constexpr std::array<uint8_t, 256> make_inv_sbox() {
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; x++) s[kSbox[x]] = uint8_t(x);
  return s;
}

constexpr std::array<uint8_t, 256> kInvSbox = make_inv_sbox();

constexpr uint32_t word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) << 24 | uint32_t(b1) << 16 | uint32_t(b2) << 8 | b3;
}

constexpr uint32_t rotr32(uint32_t x, int s) { return (x >> (s & 31)) | (x << ((32 - s) & 31)); }

// Encryption table `r`: one state byte's contribution to its column after
// SubBytes and MixColumns (coefficients 2, 1, 1, 3), for the byte of row r.
constexpr Table make_te(int r) {
  Table t{};
  for (int x = 0; x < 256; x++) {
    uint8_t s = kSbox[x];
    t[x] = rotr32(word(gmul(s, 2), s, s, gmul(s, 3)), 8 * r);
  }
  return t;
}

// Decryption table `r`: the same after InvSubBytes and InvMixColumns
// (coefficients 14, 9, 13, 11).
constexpr Table make_td(int r) {
  Table t{};
  for (int x = 0; x < 256; x++) {
    uint8_t s = kInvSbox[x];
    t[x] = rotr32(word(gmul(s, 14), gmul(s, 9), gmul(s, 13), gmul(s, 11)), 8 * r);
  }
  return t;
}

constexpr Table kTe0 = make_te(0), kTe1 = make_te(1), kTe2 = make_te(2), kTe3 = make_te(3);
constexpr Table kTd0 = make_td(0), kTd1 = make_td(1), kTd2 = make_td(2), kTd3 = make_td(3);
static_assert(kTe0[0] == 0xc66363a5 && kTd0[0] == 0x51f4a750);

constexpr uint8_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

inline uint32_t load_be32(const uint8_t* p) { return word(p[0], p[1], p[2], p[3]); }

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

inline uint32_t sub_word(uint32_t w) {
  return word(kSbox[w >> 24], kSbox[(w >> 16) & 0xff], kSbox[(w >> 8) & 0xff], kSbox[w & 0xff]);
}

// One block through the rounds of either direction, the sixteen lookups of
// a round written out. Encryption's round reads row r of column c from
// column c + r (ShiftRows); the equivalent inverse cipher reads it from
// column c - r, which is the same pattern on a state kept with columns 1 and
// 3 traded. So decryption runs this body with `kSwap13`: the state words,
// their round-key words and the output words of columns 1 and 3 change
// places, and nothing else differs but the tables.
template <const Table& T0, const Table& T1, const Table& T2, const Table& T3, const std::array<uint8_t, 256>& S,
          bool kSwap13>
void crypt_block(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
  constexpr int c1 = kSwap13 ? 3 : 1;
  constexpr int c3 = kSwap13 ? 1 : 3;
  uint32_t s0 = load_be32(in) ^ rk[0];
  uint32_t s1 = load_be32(in + 4 * c1) ^ rk[c1];
  uint32_t s2 = load_be32(in + 8) ^ rk[2];
  uint32_t s3 = load_be32(in + 4 * c3) ^ rk[c3];
  for (int r = 1; r < rounds; r++) {
    rk += 4;
    uint32_t t0 = T0[s0 >> 24] ^ T1[(s1 >> 16) & 0xff] ^ T2[(s2 >> 8) & 0xff] ^ T3[s3 & 0xff] ^ rk[0];
    uint32_t t1 = T0[s1 >> 24] ^ T1[(s2 >> 16) & 0xff] ^ T2[(s3 >> 8) & 0xff] ^ T3[s0 & 0xff] ^ rk[c1];
    uint32_t t2 = T0[s2 >> 24] ^ T1[(s3 >> 16) & 0xff] ^ T2[(s0 >> 8) & 0xff] ^ T3[s1 & 0xff] ^ rk[2];
    uint32_t t3 = T0[s3 >> 24] ^ T1[(s0 >> 16) & 0xff] ^ T2[(s1 >> 8) & 0xff] ^ T3[s2 & 0xff] ^ rk[c3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  // Last round: the S-box and the row shifts without the column mixing. The
  // input was read in full above, so `out` may be `in`.
  store_be32(out, word(S[s0 >> 24], S[(s1 >> 16) & 0xff], S[(s2 >> 8) & 0xff], S[s3 & 0xff]) ^ rk[0]);
  store_be32(out + 4 * c1, word(S[s1 >> 24], S[(s2 >> 16) & 0xff], S[(s3 >> 8) & 0xff], S[s0 & 0xff]) ^ rk[c1]);
  store_be32(out + 8, word(S[s2 >> 24], S[(s3 >> 16) & 0xff], S[(s0 >> 8) & 0xff], S[s1 & 0xff]) ^ rk[2]);
  store_be32(out + 4 * c3, word(S[s3 >> 24], S[(s0 >> 16) & 0xff], S[(s1 >> 8) & 0xff], S[s2 & 0xff]) ^ rk[c3]);
}

// Round count for a key size, or -1.
int rounds_for(int32_t bits) {
  switch (bits) {
    case 128: return 10;
    case 192: return 12;
    case 256: return 14;
    default: return -1;
  }
}

}  // namespace

int aes_set_encrypt_key(aes_schedule* ks, const uint8_t* key, int32_t bits) {
  int rounds = rounds_for(bits);
  if (rounds < 0) {
    log(LOG_ERROR, kSrc, "bad aes key size %d", bits);
    return -1;
  }
  int nk = bits / 32;
  int total = 4 * (rounds + 1);
  uint32_t* w = ks->rk;
  for (int i = 0; i < nk; i++) w[i] = load_be32(key + 4 * i);
  for (int i = nk; i < total; i++) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = sub_word(rotr32(t, 24)) ^ (uint32_t(kRcon[i / nk - 1]) << 24);
    } else if (nk > 6 && i % nk == 4) {
      t = sub_word(t);
    }
    w[i] = w[i - nk] ^ t;
  }
  return rounds;
}

int aes_set_decrypt_key(aes_schedule* ks, const uint8_t* key, int32_t bits) {
  int rounds = aes_set_encrypt_key(ks, key, bits);
  if (rounds < 0) return -1;
  uint32_t* w = ks->rk;
  // Round keys in reverse order, four words at a time.
  for (int i = 0, j = 4 * rounds; i < j; i += 4, j -= 4) {
    for (int k = 0; k < 4; k++) {
      uint32_t t = w[i + k];
      w[i + k] = w[j + k];
      w[j + k] = t;
    }
  }
  // InvMixColumns of every middle round key: Td of the S-box value undoes
  // the inverse S-box the table starts with.
  for (int i = 4; i < 4 * rounds; i++) {
    uint32_t t = w[i];
    w[i] = kTd0[kSbox[t >> 24]] ^ kTd1[kSbox[(t >> 16) & 0xff]] ^ kTd2[kSbox[(t >> 8) & 0xff]] ^
           kTd3[kSbox[t & 0xff]];
  }
  return rounds;
}

void aes_encrypt_block(const aes_schedule* ks, int rounds, const uint8_t in[16], uint8_t out[16]) {
  crypt_block<kTe0, kTe1, kTe2, kTe3, kSbox, false>(ks->rk, rounds, in, out);
}

void aes_decrypt_block(const aes_schedule* ks, int rounds, const uint8_t in[16], uint8_t out[16]) {
  crypt_block<kTd0, kTd1, kTd2, kTd3, kInvSbox, true>(ks->rk, rounds, in, out);
}
