// The configuration formatter: every conversion against a table of expected
// texts, the quoting rules for strings, bad formats, and the buffer bounds
// (the text and its NUL must fit; a size below 1 writes nothing).
#include "config/vsnprintf.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "ssmodel.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

struct Case {
  const char* what;
  std::function<int(char*, int32_t)> format;
  const char* want;  // null: the result is -1
};

int32_t measure(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int32_t n = config_vmeasure(fmt, ap);
  va_end(ap);
  return n;
}

TEST(ConfigFormat, EveryConversion) {
  ss_exchange* asx = bare_exchange(0);
  strcpy(asx->name, "ASX");
  static ss_exchange empty_name{};
  static ss_stock stock{};
  strcpy(stock.code, "BHP");
  stock.exchange = asx;
  stock.kind = kKindStock;
  static ss_issuer issuer{};
  strcpy(issuer.code, "CBA");
  issuer.exchange = asx;
  issuer.kind = kKindIssuer;
  static ss_index index{};
  strcpy(index.code, "XJO");
  index.exchange = asx;
  index.kind = kKindIndex;
  static ss_stock spaced{};
  strcpy(spaced.code, "A B");
  spaced.exchange = asx;
  spaced.kind = kKindStock;
  static const int32_t rect[4] = {-5, 20, 1000, 700};
  const ss_time t = sstime_pack(7, 5, 9, 3, 11, 2014);
  const ss_time midnight = sstime_pack_date(1, 1, 1970);
  const ss_time tod = (ss_time)sstime_seconds_of_day(59, 59, 23);

  const Case cases[] = {
      {"plain", [](char* b, int32_t n) { return config_snprintf(b, n, "abc"); }, "abc"},
      {"empty", [](char* b, int32_t n) { return config_snprintf(b, n, ""); }, ""},
      {"%%", [](char* b, int32_t n) { return config_snprintf(b, n, "100%%"); }, "100%"},
      {"%d", [](char* b, int32_t n) { return config_snprintf(b, n, "%d %d", INT_MIN, 42); }, "-2147483648 42"},
      {"%x", [](char* b, int32_t n) { return config_snprintf(b, n, "%x", 0xdeadbeefu); }, "deadbeef"},
      {"%f", [](char* b, int32_t n) { return config_snprintf(b, n, "%f", -2.5); }, "-2.500000"},
      {"%b 5", [](char* b, int32_t n) { return config_snprintf(b, n, "%b", 5); }, "t"},
      {"%b 0", [](char* b, int32_t n) { return config_snprintf(b, n, "%b", 0); }, "f"},
      {"%Ld", [](char* b, int32_t n) { return config_snprintf(b, n, "%Ld", (int64_t)INT64_MIN); },
       "-9223372036854775808"},
      {"%Lu", [](char* b, int32_t n) { return config_snprintf(b, n, "%Lu", (uint64_t)UINT64_MAX); },
       "18446744073709551615"},
      {"%Lx skipped", [](char* b, int32_t n) { return config_snprintf(b, n, "a%Lxb%d", 7); }, "ab7"},
      {"%s plain", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "word"); }, "word"},
      {"%s blank", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "two words"); }, "\"two words\""},
      {"%s quote", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "say\"hi"); }, "\"say\\\"hi\""},
      {"%s backslash", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "C:\\dir\\f"); }, "C:\\dir\\f"},
      {"%s ends in backslash", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "dir\\"); },
       "\"dir\\\\\""},
      {"%s backslash in quotes", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "a\\ b"); },
       "\"a\\\\ b\""},
      {"%s control bytes", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "a\r\nb\tc"); },
       "\"a  b c\""},
      {"%s empty", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", ""); }, "\"\""},
      {"%s null", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", (const char*)nullptr); }, "\"\""},
      {"%s high bytes", [](char* b, int32_t n) { return config_snprintf(b, n, "%s", "caf\xc3\xa9"); },
       "caf\xc3\xa9"},
      {"%D", [t](char* b, int32_t n) { return config_snprintf(b, n, "%D", t); }, "3/11/2014"},
      {"%S", [t](char* b, int32_t n) { return config_snprintf(b, n, "%S", t); }, "9:5:7"},
      {"%T", [t](char* b, int32_t n) { return config_snprintf(b, n, "%T", t); }, "3/11/2014-9:5:7"},
      {"%T midnight", [midnight](char* b, int32_t n) { return config_snprintf(b, n, "%T", midnight); },
       "1/1/1970-0:0:0"},
      {"%T time of day", [tod](char* b, int32_t n) { return config_snprintf(b, n, "%T", tod); }, "23:59:59"},
      {"%D time of day", [tod](char* b, int32_t n) { return config_snprintf(b, n, "%D", tod); }, "0/0/1970"},
      {"%D %S %T of 0", [](char* b, int32_t n) { return config_snprintf(b, n, "%D %S %T", 0u, 0u, 0u); }, "0 0 0"},
      {"%T invalid", [](char* b, int32_t n) { return config_snprintf(b, n, "%T", 0xFFFFFFFFu); }, "0"},
      {"%R", [](char* b, int32_t n) { return config_snprintf(b, n, "%R", rect); }, "-5:20:1000:700"},
      {"%E", [asx](char* b, int32_t n) { return config_snprintf(b, n, "%E", asx); }, "ASX"},
      {"%E none", [](char* b, int32_t n) { return config_snprintf(b, n, "%E", (ss_exchange*)nullptr); }, "-"},
      {"%E empty name", [](char* b, int32_t n) { return config_snprintf(b, n, "%E", &empty_name); }, nullptr},
      {"%I stock", [](char* b, int32_t n) { return config_snprintf(b, n, "%I", &stock); }, "S:ASX:BHP"},
      {"%I issuer", [](char* b, int32_t n) { return config_snprintf(b, n, "%I", &issuer); }, "C:ASX:CBA"},
      {"%I index", [](char* b, int32_t n) { return config_snprintf(b, n, "%I", &index); }, "I:ASX:XJO"},
      {"%I quoted", [](char* b, int32_t n) { return config_snprintf(b, n, "%I", &spaced); }, "\"S:ASX:A B\""},
      {"%I none", [](char* b, int32_t n) { return config_snprintf(b, n, "%I", (instr*)nullptr); }, "-"},
      {"premature end", [](char* b, int32_t n) { return config_snprintf(b, n, "abc%"); }, nullptr},
      {"premature %L", [](char* b, int32_t n) { return config_snprintf(b, n, "abc%L"); }, nullptr},
      {"unknown", [](char* b, int32_t n) { return config_snprintf(b, n, "%q", 1); }, nullptr},
      {"null rectangle", [](char* b, int32_t n) { return config_snprintf(b, n, "%R", (int32_t*)nullptr); }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    char buf[128];
    memset(buf, 'X', sizeof buf);
    int n = c.format(buf, sizeof buf);
    if (!c.want) {
      EXPECT_EQ(-1, n);
      continue;
    }
    EXPECT_EQ((int)strlen(c.want), n);
    EXPECT_STREQ(c.want, buf);
  }
}

TEST(ConfigFormat, BadFormatsAreLogged) {
  char buf[32];
  const struct {
    const char* fmt;
    const char* line;
  } cases[] = {{"%", "premature end of format"}, {"%z", "unknown format z"}, {"%Lq", "unknown format Lq"}};
  for (const auto& c : cases) {
    LogCapture log;
    config_snprintf(buf, sizeof buf, c.fmt);
    EXPECT_TRUE(log.has(c.line)) << c.fmt;
  }
}

TEST(ConfigFormat, TextAndItsNulMustFit) {
  char buf[8];
  memset(buf, 'X', sizeof buf);
  EXPECT_EQ(7, config_snprintf(buf, 8, "%s", "1234567"));
  EXPECT_STREQ("1234567", buf);
  EXPECT_EQ(-1, config_snprintf(buf, 7, "%s", "1234567"));  // would end at the last byte
  EXPECT_EQ(-1, config_snprintf(buf, 8, "%s", "two words"));
  memset(buf, 'X', sizeof buf);
  EXPECT_EQ(0, config_snprintf(buf, 0, "abc"));
  EXPECT_EQ(-3, config_snprintf(buf, -3, "abc"));
  EXPECT_EQ('X', buf[0]);  // nothing written
}

TEST(ConfigFormat, MeasuringMatchesWriting) {
  std::string big(3000, 'z');
  EXPECT_EQ(3000 + 2, measure("%s %b", big.c_str(), 1));
  EXPECT_EQ(-1, measure("%q"));
  char buf[64];
  const int32_t r[4] = {1, 2, 3, 4};
  const ss_time t = sstime_pack(0, 0, 0, 1, 2, 2000);
  int n = config_snprintf(buf, sizeof buf, "%s %T %R", "a b", t, r);
  EXPECT_EQ(28, n);  // "\"a b\" 1/2/2000-0:0:0 1:2:3:4"
  EXPECT_EQ(n, measure("%s %T %R", "a b", t, r));
}

}  // namespace
