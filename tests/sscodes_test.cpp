// Quote-basis and trade-condition codes: integrity of both tables (row counts,
// one-bit masks, the bits a table allows twice, sample rows as listed), the
// text builders as tables of cases including buffers too small for the text
// (exact-size heap buffers, so AddressSanitizer sees any write past them), the
// once-only "missed" warning, and the lookups by bit per exchange.
#include "sscodes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "ssmodel.h"
#include "testlog.h"

namespace {

class Codes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOff); }
};

std::vector<std::string> words(const char* text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A row of a code table as a test expects it.
struct RowSample {
  int row;
  const char* asx;
  const char* nzx;
  const char* name;
  uint64_t mask;
};

void expect_rows(const sscodes_row* t, std::span<const RowSample> samples) {
  for (const auto& s : samples) {
    SCOPED_TRACE(s.row);
    const sscodes_row& r = t[s.row];
    EXPECT_STREQ(s.name, r.name);
    EXPECT_EQ(s.mask, r.mask);
    EXPECT_STREQ(s.asx, r.asx);
    EXPECT_STREQ(s.nzx, r.nzx);
  }
}

TEST_F(Codes, QuoteBasisTableIntegrity) {
  const sscodes_row* t = sscodes_quote_basis_table();
  std::set<uint64_t> masks;
  for (int i = 0; i < kQuoteBasisRows; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1, std::popcount(t[i].mask));
    masks.insert(t[i].mask);
    ASSERT_NE(nullptr, t[i].name);
    // Exactly one column holds a two-letter abbreviation.
    EXPECT_NE(t[i].asx == nullptr, t[i].nzx == nullptr);
    const char* a = t[i].asx ? t[i].asx : t[i].nzx;
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(2u, strlen(a));
  }
  EXPECT_EQ(size_t(kQuoteBasisRows), masks.size()) << "quote-basis masks must be distinct";

  const RowSample samples[] = {
      {0, "XD", nullptr, "Ex Dividend", 0x1},
      {14, "RD", nullptr, "Currently Under Reconstruction", 0x4000},
      {24, nullptr, "CZ", "Cum Non Pro-rata Balance", 0x400000000000},
      {25, nullptr, "CM", "Cum Premium Return", 0x1000000},
      {36, nullptr, "XZ", "Ex Non Pro-rata Balance", 0x800000000000},
      {45, "S1", nullptr, "1 tenth Price Step", 0x80000000000},
      {48, nullptr, "AX", "NZAX Market Instrument", 0x1000000000000},
      {54, nullptr, "XC", "Ex Capital Change", 0x40000000000000},
  };
  expect_rows(t, samples);
}

TEST_F(Codes, ConditionTableIntegrity) {
  const sscodes_row* t = sscodes_condition_table();
  std::map<uint64_t, int> uses;
  for (int i = 0; i < kConditionRows; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1, std::popcount(t[i].mask));
    uses[t[i].mask]++;
    ASSERT_NE(nullptr, t[i].name);
    EXPECT_TRUE(t[i].asx || t[i].nzx);
    for (const char* c : {t[i].asx, t[i].nzx})
      if (c) {
        EXPECT_TRUE(strlen(c) == 1 || strlen(c) == 2) << c;
      }
  }
  // Only these bits appear twice (once per exchange column); all 64 bits are used.
  std::set<uint64_t> twice;
  for (auto& [mask, n] : uses) {
    EXPECT_LE(n, 2);
    if (n == 2) twice.insert(mask);
  }
  EXPECT_EQ((std::set<uint64_t>{0x100, 0x400, 0x1000000, 0x40000000, 0x80000000}), twice);
  EXPECT_EQ(64u, uses.size());
  // A bit used twice has one row with only an ASX code and one with only an NZX code.
  for (uint64_t m : twice) {
    int asx_only = 0, nzx_only = 0;
    for (int i = 0; i < kConditionRows; i++) {
      if (t[i].mask != m) continue;
      asx_only += t[i].asx && !t[i].nzx;
      nzx_only += t[i].nzx && !t[i].asx;
    }
    EXPECT_EQ(1, asx_only) << std::hex << m;
    EXPECT_EQ(1, nzx_only) << std::hex << m;
  }

  const RowSample samples[] = {
      {0, "XT", nullptr, "Crossed", 0x1},
      {4, "xx", nullptr, "Fixed Interest", 0x10},
      {9, nullptr, "IN", "International", 0x100},
      {34, nullptr, "SP", "Off market", 0x40000000},
      {35, "L", nullptr, "Permitted Post Trading", 0x10000000000},
      {49, "L3", "LA", "Late Order Completion", 0x100000000000},
      {57, "P2", nullptr, "Put Through Special Crossing >= T3 < T2", 0x10000000000000},
      {61, "B", "BT", "Block Trade", 0x100000000000000},
      {68, "OC", nullptr, "OTC Contingent", 0x8000000000000000},
  };
  expect_rows(t, samples);
}

// Runs the builder on an exact-size heap buffer.
struct QbResult {
  bool ok;
  std::string text;
  uint32_t size;
};
QbResult quote_basis(uint32_t size, int32_t exchange, uint64_t mask) {
  std::unique_ptr<char[]> buf(new char[size]);
  uint32_t n = size;
  char* r = sscodes_quote_basis_text(buf.get(), &n, exchange, mask);
  if (r) {
    EXPECT_EQ(buf.get(), r);
  }
  return {r != nullptr, r ? std::string(r) : std::string(), n};
}

TEST_F(Codes, QuoteBasisText) {
  constexpr uint64_t kCumNonProRata = 0x400000000000;  // NZX only
  struct {
    int32_t exchange;
    uint64_t mask;
    uint32_t size;
    const char* want;  // null: no result
    uint32_t count;
  } cases[] = {
      {kExchangeAsx, 0x1 | 0x8, 64, "XD SH", 6},
      {kExchangeAsx, 0, 64, "", 0},
      {kExchangeNzx, kCumNonProRata, 64, "CZ", 3},
      {kExchangeNzx, 0x1 | 0x800000, 64, "XD CZ", 6},        // ASX column for rows NZX lacks
      {kExchangeNzx, 0x2000000000 | 0x20000000000000, 64, "RP CC", 6},
      {kExchangeAxo, 0x1 | 0x40000000000, 64, "XD TH", 6},
      {kExchangeGlb, 0x4000000000000, 64, "UA", 3},
      // The bits past the table set nothing.
      {kExchangeAsx, 0x1 | 0x8000000000000000, 64, "XD", 3},
      // Buffer sizes either side of the fit: n abbreviations need 3n + 0 bytes
      // of count below the size.
      {kExchangeAsx, 0x1 | 0x8, 7, "XD SH", 6},
      {kExchangeAsx, 0x1 | 0x8, 6, nullptr, 6},
      {kExchangeAsx, 0x1 | 0x8, 5, nullptr, 6},
      {kExchangeAsx, 0x1, 4, "XD", 3},
      {kExchangeAsx, 0x1, 3, nullptr, 3},
      {kExchangeAsx, 0x1, 2, nullptr, 3},
      {kExchangeAsx, 0x1, 1, nullptr, 3},
      {kExchangeAsx, 0x1, 0, nullptr, 3},
      {kExchangeAsx, 0x1 | 0x2 | 0x4, 10, "XD NR IN", 9},
      {kExchangeAsx, 0x1 | 0x2 | 0x4, 9, nullptr, 9},
      {kExchangeAsx, 0, 1, "", 0},
      {kExchangeAsx, 0, 0, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ex " << c.exchange << " mask " << std::hex << c.mask << std::dec
                                      << " size " << c.size);
    QbResult r = quote_basis(c.size, c.exchange, c.mask);
    EXPECT_EQ(c.want != nullptr, r.ok);
    if (c.want && r.ok) {
      EXPECT_EQ(c.want, r.text);
    }
    EXPECT_EQ(c.count, r.size);
  }
}

TEST_F(Codes, QuoteBasisMissedWarnsOncePerRow) {
  constexpr uint64_t kCumNonProRata = 0x400000000000;  // row 24, NZX only
  LogCapture log;
  QbResult r = quote_basis(64, kExchangeAsx, 0x1 | kCumNonProRata);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ("XD", r.text);
  EXPECT_EQ(3u, r.size);
  r = quote_basis(64, kExchangeAsx, kCumNonProRata);
  EXPECT_EQ("", r.text);
  EXPECT_EQ(0u, r.size);
  EXPECT_EQ(1, log.count("missed ASX 400000000001 (i=24, qb=400000000000, a=null, n=CZ)"));
  EXPECT_EQ(1, log.count("missed "));
  // NZX writes it and warns of nothing.
  r = quote_basis(64, kExchangeNzx, kCumNonProRata);
  EXPECT_EQ("CZ", r.text);
  EXPECT_EQ(1, log.count("missed "));
}

TEST_F(Codes, QuoteBasisNames) {
  // Every NZX row has an abbreviation: all 55 fit the shared buffer.
  const char* all = sscodes_quote_basis_names(kExchangeNzx, ~0ull);
  ASSERT_NE(nullptr, all);
  std::vector<std::string> w = words(all);
  ASSERT_EQ(size_t(kQuoteBasisRows), w.size());
  EXPECT_EQ("XD", w.front());
  EXPECT_EQ("XC", w.back());
  EXPECT_EQ(size_t(3 * kQuoteBasisRows - 1), strlen(all));
  EXPECT_STREQ("XD SH", sscodes_quote_basis_names(kExchangeAsx, 0x9));

  EXPECT_STREQ("Ex Dividend", sscodes_quote_basis_name(kExchangeAsx, 0x1));
  EXPECT_STREQ("Cum Non Pro-rata Balance", sscodes_quote_basis_name(kExchangeNzx, 0x400000000000));
  EXPECT_STREQ("Ex Capital Change", sscodes_quote_basis_name(kExchangeNzx, 0x40000000000000));
  LogCapture log;
  EXPECT_EQ(nullptr, sscodes_quote_basis_name(kExchangeAsx, 0x3));
  EXPECT_EQ(nullptr, sscodes_quote_basis_name(kExchangeAsx, 0x80000000000000));
  EXPECT_EQ(1, log.count("unknown quote basis 3"));
  EXPECT_EQ(1, log.count("unknown quote basis 80000000000000"));
}

TEST_F(Codes, ConditionText) {
  constexpr uint64_t kBlock = 0x100000000000000;
  struct {
    int32_t exchange;
    uint64_t mask;
    const char* want;
  } cases[] = {
      {kExchangeAsx, kBlock, "BT"},
      {kExchangeAxo, kBlock, "BT"},
      {kExchangeNzx, kBlock, "BT"},
      {kExchangeGlb, kBlock, "B"},
      {kExchangeAsx, 0, ""},
      {kExchangeAsx, 0x1 | 0x2, "XT BC"},
      {kExchangeNzx, 0x1 | 0x2, "SP"},                // row 0 has no NZX code
      {kExchangeNzx, 0x1, ""},
      {kExchangeAsx, 0x100, "SM"},
      {kExchangeNzx, 0x100, "IN"},
      {kExchangeAsx, 0x40000000, "SP"},
      {kExchangeNzx, 0x1000000 | 0x80000000, "WA XX"},
      {kExchangeAsx, 0x10000000000 | 0x20000000000 | 0x80000000, "L M CP"},  // row order
      {kExchangeGlb, 0x2000000000000000 | 0x1, "XT P"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ex " << c.exchange << " mask " << std::hex << c.mask);
    const char* r = sscodes_condition_text(c.exchange, c.mask);
    ASSERT_NE(nullptr, r);
    EXPECT_STREQ(c.want, r);
  }

  // Every bit: each exchange's full list fits the shared buffer, in row order.
  const char* asx = sscodes_condition_text(kExchangeAsx, ~0ull);
  ASSERT_NE(nullptr, asx);
  std::vector<std::string> w = words(asx);
  EXPECT_EQ("XT", w.front());
  EXPECT_EQ("OC", w.back());
  EXPECT_LT(strlen(asx), size_t(kConditionTextSize));
  int asx_codes = 0;
  const sscodes_row* t = sscodes_condition_table();
  for (int i = 0; i < kConditionRows; i++) asx_codes += t[i].asx != nullptr;
  EXPECT_EQ(size_t(asx_codes), w.size());
  EXPECT_EQ(std::string(asx).find(" B "), std::string::npos);
  EXPECT_NE(std::string(asx).find(" BT "), std::string::npos);

  const char* nzx = sscodes_condition_text(kExchangeNzx, ~0ull);
  ASSERT_NE(nullptr, nzx);
  EXPECT_EQ("SP OL LT IN OL PF WA SS SP XX PT LA BT EP ES", std::string(nzx));
}

TEST_F(Codes, ConditionNameAndCode) {
  constexpr uint64_t kBlock = 0x100000000000000;
  struct {
    int32_t exchange;
    uint64_t bit;
    const char* name;  // null: WARN and null
    const char* code;
  } cases[] = {
      {kExchangeNzx, 0x2, "Off Market", "SP"},
      {kExchangeAsx, 0x2, "Preferenced Block Trade", "BC"},
      {kExchangeNzx, 0x2000000000, "Put-Through", "PT"},
      {kExchangeAsx, 0x2000000000, "Put-Through Special Crossing", "PT"},
      {kExchangeNzx, 0x20, "Small Market Trade", "OL"},
      {kExchangeAsx, 0x20, "Block Special Crossing", "SP"},
      {kExchangeNzx, 0x100, "International", "IN"},
      {kExchangeAsx, 0x100, "Self-Managed Super Fund", "SM"},
      {kExchangeNzx, 0x400, "Small Market Trade", "OL"},
      {kExchangeNzx, 0x40000000, "Off market", "SP"},
      {kExchangeAxo, 0x40000000, "Special Crossing Trade", "SP"},
      {kExchangeAsx, kBlock, "Block Trade", "BT"},
      {kExchangeAxo, kBlock, "Block Trade", "BT"},
      {kExchangeNzx, kBlock, "Block Trade", "BT"},
      {kExchangeGlb, kBlock, "Block Trade", "B"},
      {kExchangeNzx, 0x1, nullptr, nullptr},
      {kExchangeAsx, 0x200000000000000, nullptr, nullptr},
      {kExchangeAsx, 0x3, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ex " << c.exchange << " bit " << std::hex << c.bit);
    LogCapture log;
    const char* name = sscodes_condition_name(c.exchange, c.bit);
    const char* code = sscodes_condition_code(c.exchange, c.bit);
    if (c.name) {
      EXPECT_STREQ(c.name, name);
      EXPECT_STREQ(c.code, code);
      EXPECT_EQ(0, log.count("unknown cond code"));
    } else {
      EXPECT_EQ(nullptr, name);
      EXPECT_EQ(nullptr, code);
      std::ostringstream want;
      want << "unknown cond code " << std::hex << c.bit;
      EXPECT_EQ(1, log.count(want.str()));
    }
  }
}

}  // namespace
