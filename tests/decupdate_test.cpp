// Program-update records: names that would become file names outside the
// update's directory are refused as bad data, names that do not fit their
// buffers too; good records read whole and are incomplete on every prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decblk.h"
#include "decupdate.h"
#include "encblk.h"
#include "encode.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

std::vector<uint8_t> text(const std::string& s) {
  std::vector<uint8_t> out(1, uint8_t(s.size()));
  out.insert(out.end(), s.begin(), s.end());
  return out;
}

TEST(Update, NamesThatCouldNameOtherFilesAreRefused) {
  struct Case {
    std::string name;
    bool good;
  } cases[] = {{"ambit.bin", true}, {"../x", false}, {"a/b", false}, {"a\\b", false}, {".profile", false},
               {std::string("a\nb"), false}, {std::string("a\x7f"), false}, {"", false},
               {"thirteen_chr", true}, {"fourteen_chrs", true}, {"fifteen_chars!", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> rec = text(c.name);
    rec.push_back(7);  // the reassembly buffer
    char file[kUpdateFileSize];
    uint32_t buffer = 0;
    const int r = decupdate_decode_store(rec.data(), int32_t(rec.size()), file, &buffer);
    if (c.good) {
      EXPECT_EQ(int(rec.size()), r);
      EXPECT_EQ(c.name, file);
      EXPECT_EQ(7u, buffer);
      for (size_t cut = 0; cut < rec.size(); cut++)
        EXPECT_EQ(0, decupdate_decode_store(rec.data(), int32_t(cut), file, &buffer)) << cut;
    } else {
      EXPECT_EQ(-1, r);
    }
  }
}

TEST(Update, TestBlockAndDelta) {
  std::vector<uint8_t> rec = text("probe");
  growbuf gb;
  growbuf_init(&gb, 256, 256);
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(0, encblk_write(&gb, payload, sizeof payload));
  rec.insert(rec.end(), gb.data, gb.data + gb.len);
  growbuf_reset(&gb);
  char name[kUpdateTestSize];
  EXPECT_EQ(int(rec.size()), decupdate_decode_test(rec.data(), int32_t(rec.size()), name, &gb));
  EXPECT_STREQ("probe", name);
  EXPECT_EQ(std::vector<uint8_t>(payload, payload + 5), std::vector<uint8_t>(gb.data, gb.data + gb.len));
  growbuf_free(&gb);

  std::vector<uint8_t> delta = text("../../etc");
  delta.push_back(2);
  delta.push_back(9);
  delta.push_back(9);
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  EXPECT_EQ(-1, decupdate_decode_test_delta(delta.data(), int32_t(delta.size()), name, &bytes, &length));
  delta = text("delta");
  delta.push_back(2);
  delta.push_back(9);
  delta.push_back(8);
  EXPECT_EQ(int(delta.size()), decupdate_decode_test_delta(delta.data(), int32_t(delta.size()), name, &bytes, &length));
  EXPECT_EQ(2, length);
  EXPECT_EQ(8, bytes[1]);
  EXPECT_EQ(0, decupdate_decode_test_delta(delta.data(), int32_t(delta.size() - 1), name, &bytes, &length));
}

}  // namespace
