// The currency list: empty before init; after it the fifteen codes in strict
// byte order (checked against std::sort of the listed codes), each found at
// its own place, and nothing else found.
#include "sscurrency.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(Currency, SortedListAndLookup) {
  sscurrency_fini();
  EXPECT_EQ(0, sscurrency_count());
  EXPECT_EQ(nullptr, sscurrency_code(0));
  EXPECT_EQ(-1, sscurrency_find("USD"));

  ASSERT_EQ(0, sscurrency_init());
  std::vector<std::string> want = {"USD", "AUD", "CAD", "CHF", "DKK", "EUR", "GBP", "HKD",
                                   "JPY", "NOK", "NZD", "SEK", "SGD", "ZAR", ""};
  std::sort(want.begin(), want.end());
  ASSERT_EQ((int)want.size(), sscurrency_count());
  ASSERT_EQ(kCurrencies, sscurrency_count());
  for (int i = 0; i < kCurrencies; i++) {
    SCOPED_TRACE(i);
    ASSERT_NE(nullptr, sscurrency_code(i));
    EXPECT_EQ(want[i], sscurrency_code(i));
    EXPECT_EQ(i, sscurrency_find(want[i].c_str()));
  }
  EXPECT_STREQ("", sscurrency_code(0));
  EXPECT_STREQ("ZAR", sscurrency_code(kCurrencies - 1));
  EXPECT_EQ(nullptr, sscurrency_code(-1));
  EXPECT_EQ(nullptr, sscurrency_code(kCurrencies));
  for (const char* absent : {"usd", "XXX", "US", "USDX", "AAA", "ZZZ"}) EXPECT_EQ(-1, sscurrency_find(absent)) << absent;
  EXPECT_EQ(-1, sscurrency_find(nullptr));

  // Init again gives the same list.
  ASSERT_EQ(0, sscurrency_init());
  EXPECT_EQ(sscurrency_find("NZD"), std::find(want.begin(), want.end(), "NZD") - want.begin());
  sscurrency_fini();
  EXPECT_EQ(0, sscurrency_count());
}

}  // namespace
