// The simulator's volume-comparison sets: every instrument gets figures
// derived from its code alone, so a test can work out what the client must
// show without asking the simulator. A quarter's volume sits in one minute,
// so no factor bytes are needed and the end values are exact.
#include "sim_control.h"

#include "encode.h"
#include "log.h"

static const char kSrc[] = "sim/sim_control";

namespace {

constexpr int kRefs = 3;
constexpr uint32_t kFirstMinute = 5;  // the figures' minutes are 5-14
constexpr uint32_t kMinuteSpread = 10;
constexpr size_t kItemRoom = 32;      // code, two vlongs and a mask at most

uint32_t hash_of(const std::string& code) {
  uint32_t h = 2166136261u;
  for (unsigned char c : code) h = (h ^ c) * 16777619u;
  return h;
}

void put_u32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 3; i >= 0; i--) out->push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

sim_vcmp_figures sim_vcmp_of(const std::string& code) {
  const uint32_t h = hash_of(code);
  return {1000 + h % 50000, 60 + (h >> 8) % 6000, kFirstMinute + (h >> 20) % kMinuteSpread};
}

int sim_vcmp_payload(const std::vector<std::string>& codes, bool init, std::vector<uint8_t>* out) {
  out->clear();
  uint8_t b[kItemRoom];
  int n = encode_vint(b, uint32_t(codes.size()));
  out->insert(out->end(), b, b + n);
  for (int ref = 0; ref < kRefs; ref++) {
    put_u32(out, uint32_t(codes.size()));
    for (const std::string& code : codes) {
      const sim_vcmp_figures f = sim_vcmp_of(code);
      int k = encode_code(b, code.c_str());
      if (k < 0) {
        log(LOG_ERROR, kSrc, "can't write vcmp of %s", code.c_str());
        return -1;
      }
      if (init) k += encode_vlong(b + k, f.base);
      k += encode_vlong(b + k, f.total);
      k += encode_short(b + k, 1u << f.minute);
      out->insert(out->end(), b, b + k);
    }
  }
  return 0;
}
