// Code utilities: price steps and on-step tests either side of every band
// boundary, code forms and index lists as tables of codes, the news helpers,
// the signed news-document link against OpenSSL's HMAC-MD5 with the same key,
// and the volume-comparison figures on values that overflow 64-bit
// intermediates.
#include "ssutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

#if AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/hmac.h>
#endif

namespace {

template <class T>
std::unique_ptr<T> make(int32_t ex, const char* code, uint32_t kind) {
  auto in = std::make_unique<T>();
  snprintf(in->code, kCodeSize, "%s", code);
  in->exchange = bare_exchange(ex);
  in->kind = kind;
  return in;
}

class Util : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOff); }
};

TEST_F(Util, PriceSteps) {
  struct {
    int32_t exchange;
    uint32_t price;
    uint32_t step;
  } cases[] = {
      {kExchangeAsx, 0, 0},           {kExchangeAsx, 9, 0},
      {kExchangeAsx, 10, 10},         {kExchangeAsx, 999, 10},
      {kExchangeAsx, 1000, 50},       {kExchangeAsx, 19999, 50},
      {kExchangeAsx, 20000, 100},     {kExchangeAsx, 9999999, 100},
      {kExchangeAsx, 10000000, 10000}, {kExchangeAsx, UINT32_MAX, 10000},
      {kExchangeNzx, 0, 10},          {kExchangeNzx, 1999, 10},
      {kExchangeNzx, 2000, 100},      {kExchangeNzx, UINT32_MAX, 100},
      {kExchangeGlb, 5000, 0},        {kExchangeAxo, 5000, 0},
      {-1, 5000, 0},                  {4, 5000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.exchange << " " << c.price);
    EXPECT_EQ(c.step, ssutil_price_step(c.exchange, c.price));
  }
}

TEST_F(Util, PriceOnStep) {
  struct {
    int32_t exchange;
    uint32_t price;
    int on;
  } cases[] = {
      {kExchangeAsx, 5, 1},        {kExchangeAsx, 9, 1},        {kExchangeAsx, 10, 1},
      {kExchangeAsx, 15, 0},       {kExchangeAsx, 990, 1},      {kExchangeAsx, 995, 0},
      {kExchangeAsx, 1000, 1},     {kExchangeAsx, 1010, 0},     {kExchangeAsx, 1999, 0},
      {kExchangeAsx, 1950, 1},     {kExchangeAsx, 19950, 1},    {kExchangeAsx, 20000, 1},
      {kExchangeAsx, 20050, 0},    {kExchangeAsx, 9999900, 1},  {kExchangeAsx, 9999950, 0},
      {kExchangeAsx, 10000000, 1}, {kExchangeAsx, 10000100, 0}, {kExchangeAsx, 10010000, 1},
      {kExchangeNzx, 5, 0},        {kExchangeNzx, 1990, 1},     {kExchangeNzx, 1995, 0},
      {kExchangeNzx, 2000, 1},     {kExchangeNzx, 2010, 0},     {kExchangeNzx, 2100, 1},
      {kExchangeGlb, 12345, 1},    {kExchangeAxo, 12345, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.exchange << " " << c.price);
    EXPECT_EQ(c.on, ssutil_price_on_step(c.exchange, c.price));
  }
}

TEST_F(Util, CodeForms) {
  struct {
    int32_t exchange;
    const char* code;
    int numbered, special, cx_pm;
  } cases[] = {
      {kExchangeNzx, "ABC123", 1, 1, 0},  {kExchangeNzx, "ABC000", 1, 1, 0},
      {kExchangeNzx, "ABC12", 0, 0, 0},   {kExchangeNzx, "ABC1234", 0, 0, 0},
      {kExchangeNzx, "ABCD23", 0, 0, 0},  {kExchangeNzx, "ABC1X3", 0, 0, 0},
      {kExchangeNzx, "ABC12X", 0, 0, 0},  {kExchangeAsx, "ABC123", 0, 0, 0},
      {kExchangeNzx, "ABCFX", 0, 1, 0},   {kExchangeNzx, "ABCHX", 0, 1, 0},
      {kExchangeNzx, "ABCGX", 0, 0, 0},   {kExchangeNzx, "ABCF", 0, 0, 0},
      {kExchangeNzx, "ABCFXX", 0, 0, 0},  {kExchangeAsx, "ABCFX", 0, 0, 0},
      {kExchangeAsx, "BHP_CX", 0, 0, 1},  {kExchangeAsx, "BHP_PM", 0, 0, 1},
      {kExchangeAsx, "BHP_CXX", 0, 0, 0}, {kExchangeAsx, "BHP_", 0, 0, 0},
      {kExchangeAsx, "BHPCX", 0, 0, 0},   {kExchangeAsx, "A_B_CX", 0, 0, 0},
      {kExchangeAsx, "_PM", 0, 0, 1},     {kExchangeNzx, "BHP_CX", 0, 0, 0},
      {kExchangeAxo, "BHP_CX", 0, 0, 0},  {kExchangeNzx, "", 0, 0, 0},
      {kExchangeNzx, "AB", 0, 0, 0},      {kExchangeNzx, "AB1234", 1, 1, 0},
      {kExchangeNzx, "AB123", 0, 0, 0},   {kExchangeGlb, "ABC123", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.exchange << " " << c.code);
    EXPECT_EQ(c.numbered, ssutil_nzx_numbered_code(c.exchange, c.code));
    EXPECT_EQ(c.special, ssutil_nzx_special_code(c.exchange, c.code));
    EXPECT_EQ(c.cx_pm, ssutil_is_cx_pm_code(c.exchange, c.code));
    // The instrument forms take the exchange from the instrument.
    auto s = make<ss_stock>(c.exchange, c.code, kKindStock);
    EXPECT_EQ(c.numbered, ssutil_nzx_numbered_code(s.get()));
    EXPECT_EQ(c.special, ssutil_nzx_special_code(s.get()));
    EXPECT_EQ(c.cx_pm, ssutil_is_cx_pm_code(s.get()));
  }
  EXPECT_EQ(0, ssutil_nzx_numbered_code(kExchangeNzx, nullptr));
  EXPECT_EQ(0, ssutil_nzx_special_code(static_cast<const instr*>(nullptr)));
}

TEST_F(Util, PlainCodes) {
  struct {
    int32_t exchange;
    const char* code;
    uint32_t option_kind;
    int plain;
  } cases[] = {
      {kExchangeNzx, "AB", 0, 1},     {kExchangeNzx, "ABC", 0, 0},    {kExchangeNzx, "ABCD", 0, 0},
      {kExchangeNzx, "ABCDE", 0, 1},  {kExchangeNzx, "ABC123", 0, 0}, {kExchangeNzx, "ABCDEF", 0, 1},
      {kExchangeNzx, "ABC", 2, 1},    {kExchangeAsx, "ABCDE", 0, 0},  {kExchangeAsx, "BHPXYZ", 1, 1},
      {kExchangeAxo, "XJOABC", 3, 1}, {kExchangeGlb, "ABCDE", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.exchange << " " << c.code << " " << c.option_kind);
    auto s = make<ss_stock>(c.exchange, c.code, kKindStock);
    s->option_kind = c.option_kind;
    EXPECT_EQ(c.plain, ssutil_nzx_plain_code(s.get()));
  }
}

TEST_F(Util, IndexLists) {
  struct {
    int32_t exchange;
    const char* code;
    int benchmark, sector;
  } cases[] = {
      {kExchangeAsx, "XJO", 1, 0},  {kExchangeAsx, "XTL", 1, 0},  {kExchangeAsx, "XAO", 1, 0},
      {kExchangeAsx, "XJ", 0, 1} /* in "XXJ" */, {kExchangeAsx, "XJOX", 0, 0}, {kExchangeAsx, "XDJ", 0, 1},
      {kExchangeAsx, "XUJ", 0, 1},  {kExchangeAsx, "XD", 0, 1},   {kExchangeAsx, "J X", 0, 1},
      {kExchangeAsx, "XAOG", 0, 0}, {kExchangeAsx, "", 0, 0},
      {kExchangeNzx, "NZ50", 1, 0}, {kExchangeNzx, "NZ50G", 1, 0}, {kExchangeNzx, "ALLG", 1, 0},
      {kExchangeNzx, "ZXV", 1, 0},  {kExchangeNzx, "NZ5", 0, 0},  {kExchangeNzx, "NZ5G", 0, 0},
      {kExchangeNzx, "G", 0, 0},    {kExchangeNzx, "NZ50GG", 0, 0}, {kExchangeNzx, "XJO", 0, 0},
      {kExchangeNzx, "G1", 0, 1},   {kExchangeNzx, "A9X", 0, 1},  {kExchangeNzx, "GX", 0, 0},
      {kExchangeNzx, "B1", 0, 0},   {kExchangeNzx, "", 0, 0},
      {kExchangeGlb, "ANY", 1, 0},  {kExchangeAxo, "ANY", 1, 0},  {kExchangeGlb, "", 0, 0},
      {kExchangeGlb, "XDJ", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.exchange << " '" << c.code << "'");
    auto x = make<ss_index>(c.exchange, c.code, kKindIndex);
    EXPECT_EQ(c.benchmark, ssutil_is_benchmark_index(x.get()));
    EXPECT_EQ(c.sector, ssutil_is_sector_index(x.get()));
  }
}

TEST_F(Util, NewsCodesInSet) {
  struct {
    std::initializer_list<uint32_t> codes;
    int in_set;
  } cases[] = {
      {{13, 0}, 1},
      {{0, 13}, 0},
      {{}, 0},
      {{13, 14, 18, 59, 60, 171, 174, 0}, 1},
      {{13, 15}, 0},
      {{174, 0, 99}, 1},  // the list ends at its first 0
      {{12}, 0},
      {{175}, 0},
      // A full list without a terminating 0 is read to its 15th code only.
      {{60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60}, 1},
  };
  for (const auto& c : cases) {
    ss_news item{};
    int i = 0;
    for (uint32_t code : c.codes) item.codes[i++] = code;
    EXPECT_EQ(c.in_set, ssutil_news_codes_in_set(&item)) << "first " << (c.codes.size() ? *c.codes.begin() : 0);
  }
  EXPECT_EQ(0, ssutil_news_codes_in_set(nullptr));
}

TEST_F(Util, TextContains) {
  std::string pad(70, 'x');
  struct {
    std::string text;
    const char* needle;
    int found;
  } cases[] = {
      {"Quarterly Report", "REPORT", 1},
      {"Quarterly Report", "Report", 0},  // the needle is not upper-cased
      {"half-year accounts", "HALF-YEAR", 1},
      {"", "", 1},
      {"abc", "", 1},
      {"abc", "ABCD", 0},
      {pad + "abcdefghi", "ABCDEFGHI", 1},   // ends at the 79th character
      {pad + "abcdefghij", "ABCDEFGHIJ", 0}, // needs the 80th
      {pad + "abcdefghij", "ABCDEFGHI", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.needle);
    EXPECT_EQ(c.found, ssutil_text_contains(c.text.c_str(), c.needle));
  }
  EXPECT_EQ(0, ssutil_text_contains(nullptr, "A"));
  EXPECT_EQ(0, ssutil_text_contains("A", nullptr));
}

#if AMBIT_HAVE_OPENSSL
// The link key, as the program would hold it before preparing its pads.
const uint8_t kLinkKey[16] = {0x98, 0x79, 0xfb, 0x01, 0x34, 0xee, 0x1c, 0x48,
                              0xe3, 0x09, 0x53, 0x0f, 0xd6, 0xee, 0x04, 0x85};

std::string expected_link(const char* exchange_name, const char* code, const char* code_in_url, uint32_t number) {
  char message[128];
  int n = snprintf(message, sizeof message, "ambit|%s|%s|%u", exchange_name, code, number);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  HMAC(EVP_md5(), kLinkKey, sizeof kLinkKey, reinterpret_cast<unsigned char*>(message), (size_t)n, mac, &mac_len);
  EXPECT_EQ(16u, mac_len);
  std::string hex;
  for (unsigned i = 0; i < mac_len; i++) {
    char h[3];
    snprintf(h, sizeof h, "%02x", mac[i]);
    hex += h;
  }
  char url[512];
  snprintf(url, sizeof url, "https://news.ambit.example/news-pdf?ID=ambit&E=%s&S=%s&N=%u&X=1&HMAC=%s", exchange_name,
           code_in_url, number, hex.c_str());
  return url;
}
#endif

TEST_F(Util, NewsLinkMatchesOpenSslHmac) {
#if !AMBIT_HAVE_OPENSSL
  GTEST_SKIP() << "built without OpenSSL";
#else
  struct {
    int32_t exchange;
    const char* name;
    const char* code;
    const char* code_in_url;
    uint32_t number;
  } cases[] = {
      {kExchangeAsx, "ASX", "BHP", "BHP", 12345},
      {kExchangeNzx, "NZSE", "AIR", "AIR", 7},
      {kExchangeGlb, "GLB", "XJO", "XJO", 0},
      {kExchangeAxo, "AXO", "BHPKOA", "BHPKOA", 4294967295u},
      {kExchangeAsx, "ASX", "BHP_CX", "BHP_CX", 1},
      // A code that would break the query is escaped there, signed as it is.
      {kExchangeAsx, "ASX", "A&B=C D", "A%26B%3DC%20D", 99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    std::string want = expected_link(c.name, c.code, c.code_in_url, c.number);
    char buf[512];
    uint32_t size = sizeof buf;
    ASSERT_EQ(buf, ssutil_news_pdf_url(buf, &size, c.exchange, c.code, c.number));
    EXPECT_EQ(want, buf);
    EXPECT_EQ(want.size() + 1, size);

    // Exactly the room it needs, one byte short, and no buffer at all.
    uint32_t need = (uint32_t)want.size() + 1;
    std::unique_ptr<char[]> exact(new char[need]);
    size = need;
    ASSERT_EQ(exact.get(), ssutil_news_pdf_url(exact.get(), &size, c.exchange, c.code, c.number));
    EXPECT_EQ(want, exact.get());
    std::unique_ptr<char[]> shorter(new char[need - 1]);
    size = need - 1;
    EXPECT_EQ(nullptr, ssutil_news_pdf_url(shorter.get(), &size, c.exchange, c.code, c.number));
    EXPECT_EQ(need, size);
    size = 0;
    EXPECT_EQ(nullptr, ssutil_news_pdf_url(nullptr, &size, c.exchange, c.code, c.number));
    EXPECT_EQ(need, size);
  }

  // The instrument form takes the exchange and code of the instrument.
  auto s = make<ss_stock>(kExchangeNzx, "FPH", kKindStock);
  char buf[512];
  uint32_t size = sizeof buf;
  ASSERT_NE(nullptr, ssutil_news_pdf_url_for(buf, &size, s.get(), 42));
  EXPECT_EQ(expected_link("NZSE", "FPH", "FPH", 42), buf);
#endif
}

TEST_F(Util, NewsLinkRefusals) {
  char buf[512];
  struct {
    int32_t exchange;
    const char* code;
  } cases[] = {{4, "BHP"}, {-1, "BHP"}, {kExchangeAsx, nullptr}, {kExchangeAsx, ""}, {kExchangeAsx, "ABCDEFGHIJKL"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exchange);
    uint32_t size = sizeof buf;
    EXPECT_EQ(nullptr, ssutil_news_pdf_url(buf, &size, c.exchange, c.code, 1));
    EXPECT_EQ(0u, size);
  }
  uint32_t size = sizeof buf;
  EXPECT_EQ(nullptr, ssutil_news_pdf_url_for(buf, &size, nullptr, 1));
  EXPECT_EQ(0u, size);
}

// Volumes below 2^48 take a 64-bit way: against a reference that rounds by
// quotient and remainder in 128 bits, on seeded volumes either side of 2^48.
TEST_F(Util, VolumeComparisonAgreesWithAWideReference) {
  auto reference = [](uint64_t volume, uint64_t ref, int64_t* diff, int32_t* pct) {
    const __int128 d = (__int128)volume - (__int128)ref;
    *diff = d > INT64_MAX ? INT64_MAX : d < INT64_MIN ? INT64_MIN : (int64_t)d;
    if (ref == 0) {
      *pct = 0;
      return;
    }
    const __int128 num = d * 10000;
    __int128 q = num / (__int128)ref, r = num % (__int128)ref;
    if (2 * (r < 0 ? -r : r) >= (__int128)ref) q += num < 0 ? -1 : 1;  // halves away from zero
    *pct = (int32_t)(q > INT32_MAX ? INT32_MAX : q < INT32_MIN ? INT32_MIN : q);
  };
  uint64_t x = 88172645463325252ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (int i = 0; i < 20000; i++) {
    ss_stock s{};
    // Widths from a few bits to 64, most of them near 48.
    const int widths[] = {8, 20, 40, 47, 48, 49, 64};
    s.volume = next() >> (64 - widths[next() % 7]);
    for (int k = 0; k < 3; k++) {
      const uint64_t pick = next() % 4;
      s.vcmp_volume[k] = pick == 0 ? 0 : pick == 1 ? s.volume + next() % 3 - 1 : next() >> (64 - widths[next() % 7]);
    }
    ssutil_stock_vcmp_derive(&s);
    for (int k = 0; k < 3; k++) {
      int64_t diff;
      int32_t pct;
      reference(s.volume, s.vcmp_volume[k], &diff, &pct);
      ASSERT_EQ(diff, s.vcmp_diff[k]) << s.volume << " vs " << s.vcmp_volume[k];
      ASSERT_EQ(pct, s.vcmp_pct[k]) << s.volume << " vs " << s.vcmp_volume[k];
    }
  }
}

TEST_F(Util, VolumeComparison) {
  constexpr uint64_t kMax = UINT64_MAX;
  struct {
    uint64_t volume, reference;
    int64_t diff;
    int32_t ratio;
  } cases[] = {
      {150, 100, 50, 5000},
      {0, 100, -100, -10000},
      {100, 100, 0, 0},
      {123, 0, 123, 0},  // no reference: no ratio
      {4, 3, 1, 3333},   // 3333.33
      {2, 3, -1, -3333},
      {5, 3, 2, 6667},   // 6666.67
      {1, 3, -2, -6667},
      {20001, 20000, 1, 1},  // exactly half: away from zero
      {19999, 20000, -1, -1},
      {60001, 60000, 1, 0},  // a third: down
      // The numerator overflows 64 bits here: 9e17 * 10000.
      {1000000000000000000ull, 100000000000000000ull, 900000000000000000ll, 90000},
      // The difference itself needs 65 bits; both figures clamp.
      {kMax, 1, INT64_MAX, INT32_MAX},
      {0, kMax, INT64_MIN, -10000},
      {kMax, kMax / 2, INT64_MAX, 10000},  // a difference of 2^63
      {1ull << 40, 1, (int64_t)((1ull << 40) - 1), INT32_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.volume << " vs " << c.reference);
    ss_stock s{};
    s.volume = c.volume;
    for (int i = 0; i < 3; i++) s.vcmp_volume[i] = c.reference;
    s.vcmp_volume[2] = 0;
    ssutil_stock_vcmp_derive(&s);
    for (int i = 0; i < 2; i++) {
      EXPECT_EQ(c.diff, s.vcmp_diff[i]);
      EXPECT_EQ(c.ratio, s.vcmp_pct[i]);
    }
    EXPECT_EQ(0, s.vcmp_pct[2]);
  }
}

}  // namespace
