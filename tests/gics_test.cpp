// The industry classification: integrity of the built-in table against a
// plain map of its rows (later row wins), its levels and parents, a sample of
// names as they are written, the probing limits and the sector-index map.
#include "gics.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "log.h"
#include "testlog.h"

namespace {

class Gics : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOn); }
  void SetUp() override { ASSERT_EQ(gics_init(), 0); }
  void TearDown() override { gics_fini(); }
};

struct Expected {
  std::string name;
  std::string short_name;  // empty: none
  uint32_t mask;
};

// The built-in rows folded into a map, later rows overwriting earlier ones.
std::map<uint32_t, Expected> reference_table() {
  int32_t n = 0;
  const gics_entry* rows = gics_builtin(&n);
  std::map<uint32_t, Expected> m;
  for (int32_t i = 0; i < n; i++)
    m[rows[i].code] = Expected{rows[i].name, rows[i].short_name ? rows[i].short_name : "", rows[i].mask};
  return m;
}

bool is_decimal_code(uint32_t code) {
  for (int shift = 0; shift < 32; shift += 4)
    if (((code >> shift) & 0xF) > 9) return false;
  return true;
}

TEST_F(Gics, BuiltinListHas275AdditionsOf272CodesWithThreeRepeats) {
  int32_t n = 0;
  const gics_entry* rows = gics_builtin(&n);
  ASSERT_EQ(n, 275);
  std::map<uint32_t, std::vector<std::string>> names_by_code;
  for (int32_t i = 0; i < n; i++) names_by_code[rows[i].code].push_back(rows[i].name);
  EXPECT_EQ(names_by_code.size(), 272u);

  std::map<uint32_t, std::vector<std::string>> repeated;
  for (auto& [code, names] : names_by_code)
    if (names.size() > 1) repeated[code] = names;
  std::map<uint32_t, std::vector<std::string>> want = {
      {0x20000000, {"Industrials", "Industrials"}},
      {0x40000000, {"Financials", "Financials"}},
      {0x45201020, {"Communications Equipment", "Telecommunications Equipment"}},
  };
  EXPECT_EQ(repeated, want);
  EXPECT_STREQ(gics_name(0x45201020), "Telecommunications Equipment");
}

TEST_F(Gics, TableHoldsExactlyTheFoldedRows) {
  std::map<uint32_t, Expected> ref = reference_table();
  std::set<uint32_t> seen;
  int32_t cursor = 0;
  while (const gics_entry* e = gics_next(&cursor)) {
    SCOPED_TRACE(testing::Message() << std::hex << e->code);
    ASSERT_TRUE(seen.insert(e->code).second) << "code stored twice";
    auto it = ref.find(e->code);
    ASSERT_NE(it, ref.end()) << "code not in the built-in rows";
    EXPECT_EQ(e->name, it->second.name);
    EXPECT_EQ(e->short_name ? e->short_name : "", it->second.short_name);
    EXPECT_EQ(e->mask, it->second.mask);
  }
  EXPECT_EQ(seen.size(), ref.size());
  for (auto& [code, want] : ref) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    ASSERT_NE(gics_name(code), nullptr);
    EXPECT_EQ(gics_name(code), want.name);
    EXPECT_EQ(gics_level(code), want.mask);
  }
}

TEST_F(Gics, LevelsFollowTheCodesAndEveryParentIsPresent) {
  std::map<uint32_t, int> per_level;
  for (auto& [code, want] : reference_table()) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    EXPECT_TRUE(is_decimal_code(code));
    uint32_t by_code = (code & 0x00FFFFFF) == 0 ? kGicsSector
                       : (code & 0xFFFF) == 0   ? kGicsIndustryGroup
                       : (code & 0xFF) == 0     ? kGicsIndustry
                                                : kGicsSubIndustry;
    // The one row filed above its code's level.
    uint32_t expected = code == 0x20201000 ? kGicsIndustryGroup : by_code;
    EXPECT_EQ(gics_level(code), expected);
    per_level[gics_level(code)]++;
    // Every shorter prefix of the code is in the table at its own level.
    for (uint32_t parent_mask : {kGicsSector, kGicsIndustryGroup, kGicsIndustry}) {
      uint32_t parent = code & parent_mask;
      if (parent == code) break;
      EXPECT_NE(gics_name(parent), nullptr) << "missing parent " << std::hex << parent;
    }
  }
  EXPECT_EQ(gics_level(0x20201000), 0xFFFF0000u);
  std::map<uint32_t, int> want = {
      {kGicsSector, 11}, {kGicsIndustryGroup, 27}, {kGicsIndustry, 70}, {kGicsSubIndustry, 164}};
  EXPECT_EQ(per_level, want);
}

TEST_F(Gics, SampleNamesAsWritten) {
  struct Row {
    uint32_t code;
    const char* name;
    const char* short_name;  // null: none
  };
  const Row rows[] = {
      {0x10000000, "Energy", "Energy"},
      {0x10101000, "Services", nullptr},
      {0x10102050, "Coal and Consumable Fuels", nullptr},
      {0x15102000, "Materials", nullptr},
      {0x15104010, "Aluminum", nullptr},
      {0x20106010, "Construction and Farm Machinery and Heavy Trucks", nullptr},
      {0x20200000, "Commercial and Professional Services", "Commercial Services"},
      {0x20201000, "Commercial Services and Supplies", nullptr},
      {0x20202010, "Human Resources & Employment Services", nullptr},
      {0x20305020, "Highways and Railtracks", nullptr},
      {0x25000000, "Consumer Discretionary", "Consumer Discr"},
      {0x25100000, "Automobiles and Components", "Automobiles and Components"},
      {0x25203010, "Apparel, Accessories and Luxury Goods", nullptr},
      {0x25401025, "Cable and Satellite", nullptr},
      {0x25504060, "Homefurnishing Retail", nullptr},
      {0x30100000, "Food and Staples Retailing", "Food & Staples Retail"},
      {0x30200000, "Food, Beverage and Tobacco", "Food, Beverage & Tobacco"},
      {0x30202020, "Meat, Poultry and Fish", nullptr},
      {0x35102000, "and Services", nullptr},
      {0x35102015, "Health Care Services", nullptr},
      {0x35200000, "Pharmaceuticals, Biotech and Life Sciences", "Pharma, Biotech & Life"},
      {0x40101015, "Regional Banks", nullptr},
      {0x40301030, "Multi-line Insurance", nullptr},
      {0x40402000, "(REITs)", nullptr},
      {0x40402010, "Diversified REIT's", nullptr},
      {0x45103030, "Home Entertainment Software", nullptr},
      {0x45200000, "Technology Hardware and Equipment", "Technology Hardware & Equip"},
      {0x45201010, "Networking Equipment", nullptr},
      {0x45300000, "Semiconductors and Semiconductor Equipment", "Semiconductor Equipment"},
      {0x50200000, "Media and Entertainment", "Media"},
      {0x55105010, "Independent Power Producers and Energy Traders", nullptr},
      {0x60000000, "Real Estate", "Real Estate"},
      {0x60101000, "Real Estate Investment Trusts", "REITs"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << r.code);
    ASSERT_NE(gics_name(r.code), nullptr);
    EXPECT_STREQ(gics_name(r.code), r.name);
    if (r.short_name == nullptr) {
      EXPECT_EQ(gics_short_name(r.code), nullptr);
    } else {
      EXPECT_STREQ(gics_short_name(r.code), r.short_name);
    }
  }
}

TEST_F(Gics, AbsentCodes) {
  for (uint32_t code : {0u, 0x10101030u, 0x45201030u, 0x65000000u, 0x99999999u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    EXPECT_EQ(gics_name(code), nullptr);
    EXPECT_EQ(gics_short_name(code), nullptr);
    EXPECT_EQ(gics_level(code), 0u);
  }
}

TEST_F(Gics, AddOverwritesProbesAcrossTheEndAndRefusesWhenFull) {
  constexpr uint32_t kSlots = 1499;
  // Two codes that both start at the last slot: the second wraps to slot 0
  // or beyond, and each keeps its own entry.
  const uint32_t a = 0x70000000u - 0x70000000u % kSlots + (kSlots - 1);
  const uint32_t b = a + kSlots;
  ASSERT_EQ(a % kSlots, kSlots - 1);
  ASSERT_EQ(gics_add(a, kGicsSubIndustry, "first", nullptr), 0);
  ASSERT_EQ(gics_add(b, kGicsSubIndustry, "second", "2nd"), 0);
  EXPECT_STREQ(gics_name(a), "first");
  EXPECT_STREQ(gics_name(b), "second");
  ASSERT_EQ(gics_add(a, kGicsIndustry, "again", nullptr), 0);
  EXPECT_STREQ(gics_name(a), "again");
  EXPECT_EQ(gics_level(a), kGicsIndustry);
  EXPECT_STREQ(gics_short_name(b), "2nd");

  // Fill every slot; the next new code is refused and lookups of absent
  // codes still end.
  int stored = 0;
  for (int32_t cursor = 0; gics_next(&cursor);) stored++;
  EXPECT_EQ(stored, 272 + 2);
  uint32_t code = 0x80000000u;
  while (stored < static_cast<int>(kSlots)) {
    ASSERT_EQ(gics_add(code++, kGicsSubIndustry, "filler", nullptr), 0);
    stored++;
  }
  uint64_t mark = log_count();
  EXPECT_EQ(gics_add(0x90000000u, kGicsSubIndustry, "one too many", nullptr), -1);
  EXPECT_TRUE(logged_since(mark, "failed to add 90000000?"));
  EXPECT_TRUE(logged_since(mark, "can't insert 90000000"));
  EXPECT_EQ(gics_name(0x90000000u), nullptr);
  EXPECT_EQ(gics_level(0x90000000u), 0u);
  // An existing code can still be rewritten in a full table.
  EXPECT_EQ(gics_add(0x10000000, kGicsSector, "Energy", "Energy"), 0);
  // Code 0 marks an empty slot and is never stored.
  EXPECT_EQ(gics_add(0, kGicsSector, "zero", nullptr), -1);
}

TEST_F(Gics, LookupsBeforeInitAndAfterFiniFindNothing) {
  gics_fini();
  EXPECT_EQ(gics_name(0x10000000), nullptr);
  EXPECT_EQ(gics_level(0x10000000), 0u);
  int32_t cursor = 0;
  EXPECT_EQ(gics_next(&cursor), nullptr);
  EXPECT_EQ(gics_add(0x10000000, kGicsSector, "Energy", nullptr), -1);
  // A second init after a first one starts from a fresh table.
  ASSERT_EQ(gics_init(), 0);
  ASSERT_EQ(gics_add(0x77777777, kGicsSubIndustry, "extra", nullptr), 0);
  ASSERT_EQ(gics_init(), 0);
  EXPECT_EQ(gics_name(0x77777777), nullptr);
  EXPECT_STREQ(gics_name(0x10000000), "Energy");
}

TEST_F(Gics, SectorIndexMap) {
  struct Row {
    int32_t exchange;
    const char* index;
    uint32_t gics;
  };
  const Row rows[] = {
      {0, "XEJ", 0x10000000},
      {0, "XMJ", 0x15102000},
      {0, "XMM", 0x15104000},
      {0, "XNJ", 0x20000000},
      {0, "XDJ", 0x25000000},
      {0, "XSJ", 0x30000000},
      {0, "XHJ", 0x35000000},
      {0, "XFJ", 0x40000000},
      {0, "XPJ", 0x60101000},
      {0, "XIJ", 0x45000000},
      {0, "XTJ", 0x50000000},
      {0, "XUJ", 0x55000000},
      {1, "G01", 0x20000000},
      {1, "G02", 0x10000000},
      {1, "G03", 0x20100000},
      {1, "G04", 0x40401000},
      {1, "G05", 0x20200000},
      {1, "G06", 0x40000000},
      {1, "A01", 0x30200000},
      {1, "A02", 0x15104000},
      {1, "A03", 0x15100000},
      {1, "A04", 0x40401000},
      {1, "A06", 0x30100000},
      {1, "A07", 0x25200000},
      {1, "A08", 0x25200000},
      {1, "A10", 0x20300000},
      {1, "A11", 0x20300000},
      {1, "A12", 0x25301000},
      {1, "A13", 0x25000000},
      {1, "A14", 0x25400000},
      {1, "A15", 0x40000000},
      // No row: another exchange, a near miss, a prefix, an absent number.
      {1, "XPJ", 0},
      {0, "G01", 0},
      {2, "XEJ", 0},
      {3, "XEJ", 0},
      {-1, "XEJ", 0},
      {0, "XPJX", 0},
      {0, "XP", 0},
      {0, "", 0},
      {0, "xpj", 0},
      {1, "A05", 0},
      {1, "A09", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.exchange << ":" << r.index);
    EXPECT_EQ(gics_code_for_index(r.exchange, r.index), r.gics);
    // Every mapped code names an entry of the classification.
    if (r.gics != 0) {
      EXPECT_NE(gics_name(r.gics), nullptr);
    }
  }
  EXPECT_EQ(gics_code_for_index(0, nullptr), 0u);
}

}  // namespace
