// Single DES (FIPS 46-3), one 8-byte block at a time, for NTLM responses.
// Bits are numbered as the standard numbers them, bit 1 being the most
// significant, and the permutations are applied straight from the
// standard's tables. Only the round function is sped up: each S-box is merged
// with the P permutation into a 64-entry table built at compile time. The
// per-bit permutations cost a few hundred operations a block, which is
// nothing for the handful of blocks an NTLM answer needs.
#include "des.h"

#include <array>

#include "log.h"

static const char kSrc[] = "src/des";

namespace {

constexpr int kDesKeyBytes = 8;
constexpr int kDesRounds = 16;

// Initial permutation; the final one is its inverse.
constexpr uint8_t kIP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

// Permutation P of the round function's S-box output.
constexpr uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// Permuted choice 1: 64 key bits to the 56 of C and D.
constexpr uint8_t kPC1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

// Permuted choice 2: 56 bits of C and D to a 48-bit round key.
constexpr uint8_t kPC2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Left rotations of C and D before each round.
constexpr uint8_t kShifts[kDesRounds] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// The eight S-boxes, each four rows of sixteen.
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// Output bit i (1 = most significant of `out_bits`) is input bit table[i-1]
// (1 = most significant of `in_bits`).
constexpr uint64_t permute(uint64_t in, const uint8_t* table, int out_bits, int in_bits) {
  uint64_t out = 0;
  for (int i = 0; i < out_bits; i++) out = (out << 1) | ((in >> (in_bits - table[i])) & 1);
  return out;
}

constexpr std::array<uint8_t, 64> make_fp() {
  std::array<uint8_t, 64> fp{};
  for (int i = 0; i < 64; i++) fp[kIP[i] - 1] = uint8_t(i + 1);
  return fp;
}

constexpr std::array<uint8_t, 64> kFP = make_fp();
static_assert(kFP[0] == 40 && kFP[1] == 8 && kFP[63] == 25);

// kSP[j][x]: S-box j applied to the six bits x, its four bits put in their
// place in the 32-bit word and then permuted by P.
constexpr std::array<std::array<uint32_t, 64>, 8> make_sp() {
  std::array<std::array<uint32_t, 64>, 8> sp{};
  for (int j = 0; j < 8; j++) {
    for (int x = 0; x < 64; x++) {
      int row = ((x >> 4) & 2) | (x & 1);
      int col = (x >> 1) & 15;
      uint64_t s = uint64_t(kS[j][row * 16 + col]) << (28 - 4 * j);
      sp[j][x] = uint32_t(permute(s, kP, 32, 32));
    }
  }
  return sp;
}

constexpr auto kSP = make_sp();

// The round function f(R, K): expansion E, key mix, S-boxes and P. E takes
// for S-box j the bits 4j .. 4j+5 of R with its ends wrapped round, which is
// a 6-bit window on R extended by its last bit in front and first bit behind.
inline uint32_t des_f(uint32_t r, uint64_t k) {
  uint64_t y = (uint64_t(r & 1) << 33) | (uint64_t(r) << 1) | (r >> 31);
  uint32_t out = 0;
  for (int j = 0; j < 8; j++) out ^= kSP[j][((y >> (28 - 4 * j)) ^ (k >> (42 - 6 * j))) & 63];
  return out;
}

inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; i++) v = (v << 8) | p[i];
  return v;
}

inline void store_be64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; i--, v >>= 8) p[i] = uint8_t(v);
}

// The sixteen 48-bit round keys of `key`, in encryption order, each kept as
// two 24-bit halves.
void des_key_schedule(const uint8_t key[8], uint32_t out[32]) {
  uint64_t cd = permute(load_be64(key), kPC1, 56, 64);
  uint32_t c = uint32_t(cd >> 28), d = uint32_t(cd & 0xfffffff);
  for (int i = 0; i < kDesRounds; i++) {
    int s = kShifts[i];
    c = ((c << s) | (c >> (28 - s))) & 0xfffffff;
    d = ((d << s) | (d >> (28 - s))) & 0xfffffff;
    uint64_t k = permute((uint64_t(c) << 28) | d, kPC2, 48, 56);
    out[2 * i] = uint32_t(k >> 24);
    out[2 * i + 1] = uint32_t(k & 0xffffff);
  }
}

// The sixteen rounds between the initial and the final permutation.
void des_crypt(const uint8_t in[8], uint8_t out[8], const uint32_t keys[32]) {
  uint64_t block = permute(load_be64(in), kIP, 64, 64);
  uint32_t l = uint32_t(block >> 32), r = uint32_t(block);
  for (int i = 0; i < kDesRounds; i++) {
    uint64_t k = (uint64_t(keys[2 * i]) << 24) | keys[2 * i + 1];
    uint32_t next = l ^ des_f(r, k);
    l = r;
    r = next;
  }
  // The halves are swapped once more before the final permutation.
  store_be64(out, permute((uint64_t(r) << 32) | l, kFP.data(), 64, 64));
}

}  // namespace

int des_set_key(const uint8_t key[8], int32_t key_len, int32_t mode, des_schedule* ks) {
  if (key_len != kDesKeyBytes || (mode != 0 && mode != kDesRounds)) {
    log(LOG_ERROR, kSrc, "bad des key: length %d, mode %d", key_len, mode);
    return -1;
  }
  des_key_schedule(key, ks->enc);
  // Decryption runs the same rounds with the round keys in reverse order.
  for (int i = 0; i < kDesRounds; i++) {
    ks->dec[2 * i] = ks->enc[2 * (kDesRounds - 1 - i)];
    ks->dec[2 * i + 1] = ks->enc[2 * (kDesRounds - 1 - i) + 1];
  }
  return 0;
}

void des_encrypt_block(const uint8_t in[8], uint8_t out[8], const des_schedule* ks) {
  des_crypt(in, out, ks->enc);
}

void des_decrypt_block(const uint8_t in[8], uint8_t out[8], const des_schedule* ks) {
  des_crypt(in, out, ks->dec);
}

// Wipes the subkeys so no key material outlives its use. The volatile writes
// keep the compiler from dropping a store to memory about to go out of scope.
void des_clear(des_schedule* ks) {
  if (ks == nullptr) return;
  volatile uint32_t* w = reinterpret_cast<volatile uint32_t*>(ks);
  for (size_t i = 0; i < sizeof(*ks) / sizeof(uint32_t); i++) w[i] = 0;
}
