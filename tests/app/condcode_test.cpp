// Condition letters: the fixed letters of "_CX" codes, the client's letters
// for every other bit, the buffer's limit (null and the needed size), and
// the choice between the two tables.
#include "condcode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sscodes.h"
#include "testlog.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

TEST(Condcode, LettersOfTheSetBits) {
  struct Case {
    const char *name;
    uint64_t bits;
    const char *want;
  } cases[] = {
      {"bits 40 and 62", (1ull << 40) | (1ull << 62), "L T"},
      {"nothing", 0, ""},
      {"every fixed letter", (1ull << 40) | (1ull << 41) | (1ull << 56) | (1ull << 59) | (1ull << 60) |
                                 (1ull << 61) | (1ull << 62),
       "L M B S E P T"},
      {"the client's two letters, then a fixed one", 0x1ull | (1ull << 59), "XT S"},
  };
  for (const Case &c : cases) {
    char buf[kCondcodeTextSize];
    uint32_t size = sizeof buf;
    const char *got = condcode_letters(buf, &size, c.bits);
    ASSERT_NE(got, nullptr) << c.name;
    EXPECT_STREQ(got, c.want) << c.name;
    EXPECT_EQ(size, strlen(c.want) + 1) << c.name << ": the size counts the NUL";
  }
}

TEST(Condcode, ABitWithoutLettersIsLeftOut) {
  int none = -1;
  for (int b = 0; b < 64 && none < 0; b++)
    if (!condcode_fixed_letter(b) && !sscodes_condition_code(0, 1ull << b)) none = b;
  ASSERT_GE(none, 0) << "the client's table leaves some bit without letters";
  char buf[kCondcodeTextSize];
  uint32_t size = sizeof buf;
  EXPECT_STREQ(condcode_letters(buf, &size, (1ull << none) | 0x2ull), "BC");
  EXPECT_EQ(size, 3u);
}

TEST(Condcode, OverflowGivesNullAndTheNeededSize) {
  const uint64_t bits = (1ull << 40) | (1ull << 62) | 0x1ull;  // "XT L T": 7 bytes with the NUL
  for (uint32_t room : {0u, 1u, 4u, 6u}) {
    char buf[16];
    memset(buf, 'x', sizeof buf);
    uint32_t size = room;
    const char *got = condcode_letters(buf, &size, bits);
    EXPECT_EQ(got, nullptr) << room;
    EXPECT_EQ(size, 7u) << room;
    for (uint32_t i = room; i < sizeof buf; i++) EXPECT_EQ(buf[i], 'x') << "nothing past the room " << room;
  }
  // The size reported is one that succeeds.
  char buf[7];
  uint32_t size = sizeof buf;
  EXPECT_STREQ(condcode_letters(buf, &size, bits), "XT L T");
  EXPECT_EQ(size, 7u);
}

TEST(Condcode, CxCodesOnFlagSetZeroUseTheFixedLetters) {
  const uint64_t bits = (1ull << 40) | 0x1ull;
  EXPECT_EQ(std::string(condcode_text(0, "ANZ_CX", bits)), "XT L");
  // Elsewhere the client's text: its table has its own letter for bit 40.
  const char *client = sscodes_condition_text(0, bits);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(std::string(condcode_text(0, "ANZ", bits)), client);
  EXPECT_EQ(std::string(condcode_text(1, "ANZ_CX", bits)), sscodes_condition_text(1, bits));
  EXPECT_STREQ(condcode_text(0, "ANZ_CX", 0), "");
}

}  // namespace
