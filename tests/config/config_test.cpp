// The configuration text model: parsing tables (quotes, escapes, separators,
// blocks, refused lines), typed getters with their absent / no value / value
// results and the found flag, the cursor over repeated and nested blocks,
// the block writer, and a seeded round trip of every formatter conversion
// through the writer, the parser and the matching getter.
#include "config/config.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/vsnprintf.h"
#include "ssmodel.h"
#include "sstime.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

// The tree below a cell as text: name(values){children}.
std::string dump(const config_cell* c) {
  std::string s;
  for (const config_cell* k = c->first_child; k; k = k->next) {
    s += k->name;
    if (k->value_count > 0) {
      s += "(";
      for (int i = 0; i < k->value_count; i++) {
        if (i) s += '|';
        s += k->values[i];
      }
      s += ")";
    }
    if (k->first_child) {
      s += '{';
      s += dump(k);
      s += '}';
    }
  }
  return s;
}

class Config : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, config_init()); }
  void TearDown() override { config_shutdown(); }
  int load(const std::string& text) { return config_load_buffer(text.data(), (int32_t)text.size()); }
  std::string tree() { return dump(config_base()); }
};

struct ParseCase {
  const char* text;
  const char* tree;
  int rc;
};

TEST_F(Config, ParsesLinesIntoTheTree) {
  const ParseCase cases[] = {
      {"a 1 2", "a(1|2)", 0},
      {"a 1  2", "a(1||2)", 0},  // two blanks: an empty middle word
      {"a 1 ", "a(1|)", 0},      // a blank at the end: an empty last word
      {"   a 1", "a(1)", 0},
      {"a \"x y\"", "a(x y)", 0},
      {"a \"say \\\"hi\\\"\"", "a(say \"hi\")", 0},
      {"a x\\ y", "a(x\\ y)", 0},  // escaped blank outside quotes: one word, backslash kept
      {"a \"x\\\\y\"", "a(x\\y)", 0},
      {"a \"\"", "a()", 0},
      {"a\tb 1", "a\tb(1)", 0},  // only the blank separates
      {"k 1 2 3 4 5 6 7", "k(1|2|3|4|5|6|7)", 0},
      {"b 1\nk 1 2 3 4 5 6 7 8\nc 2", "b(1)c(2)", -1},  // nine words: that line alone fails
      {"a 1\r\n\r\nb 2\r", "a(1)b(2)", 0},
      {"    \n\n", "", 0},
      {"a.b.c 5", "a{b{c(5)}}", 0},
      {"a..b 1", "a{{b(1)}}", 0},
      {"x.y 1\nz 2\nx.w 3", "x{y(1)w(3)}z(2)", 0},  // the last x among the children
      {"window\nwindow.role chart\nwindow.x 1\nwindow\nwindow.role depth",
       "window{role(chart)x(1)}window{role(depth)}", 0},
      {"k 1\nk 2", "k(1)k(2)", 0},
      {"a \"open", "", -1},
      {"a \"bad\\\"", "", -1},  // a backslash as the last character inside quotes
      {"a \"", "", -1},
      {"a x\"y z\"w", "a(x\"y z\"w)", 0},  // quotes inside a word keep the blank, stay in it
      {". 1", "", 0},                      // a key of separators only names nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.rc, load(c.text));
    EXPECT_EQ(c.tree, tree());
  }
}

TEST_F(Config, ParsingNeitherTouchesNorOverrunsTheCallersText) {
  // No NUL after the text: the parser must stop at the length it was given.
  std::vector<char> text = {'a', ' ', '1', '2'};
  const std::vector<char> before = text;
  ASSERT_EQ(0, config_load_buffer(text.data(), 3));
  EXPECT_EQ("a(1)", tree());
  EXPECT_EQ(before, text);
  EXPECT_EQ(-1, config_load_buffer(text.data(), -1));
  EXPECT_EQ(-1, config_load_buffer(text.data(), kConfigMaxText + 1));  // refused before reading
}

TEST_F(Config, SplitsWordsAtAnySeparator) {
  char text[] = "S:ASX:\"a:b\"";
  char* words[kConfigMaxWords];
  ASSERT_EQ(3, config_parse_value(words, text, (int32_t)strlen(text), ':'));
  EXPECT_STREQ("S", words[0]);
  EXPECT_STREQ("ASX", words[1]);
  EXPECT_STREQ("a:b", words[2]);
  char seps[] = "::";
  EXPECT_EQ(0, config_parse_value(words, seps, 2, ':'));
  LogCapture log;
  char nine[] = "1 2 3 4 5 6 7 8 9";
  EXPECT_EQ(-1, config_parse_value(words, nine, (int32_t)strlen(nine), ' '));
  EXPECT_TRUE(log.has("too many args"));
}

const char kGetterText[] =
    "i 42\n"
    "ineg -7\n"
    "ibig 99999999999\n"
    "ijunk abc\n"
    "iprefix 12abc\n"
    "novalue\n"
    "h ff\n"
    "hbig 1ffffffff\n"
    "hneg -1\n"
    "d 1.5\n"
    "dnan nan\n"
    "dinf inf\n"
    "dbig 1e300\n"
    "u 18446744073709551615\n"
    "uneg -1\n"
    "ubig 18446744073709551616\n"
    "b t\n"
    "bf f\n"
    "btrue true\n"
    "s \"two words\"\n"
    "r 1:2:3:4\n"
    "rpart 5:6\n"
    "rbig 1:2:99999999999:4\n"
    "rjunk x\n"
    "tjunk x\n"
    "tbad 25:61:0\n"
    "t 10:30:15\n"
    "tzero 0\n"
    "ts 5/3/2014-10:30:15\n"
    "tsdate 5/3/2014\n"
    "tsday 9:5:7\n"
    "tszero 0\n"
    "tsneg -1\n"
    "tsbad 31/2/2099-1:1:1\n";

// One getter by name, its result as text.
std::string get(const std::string& g, const char* key) {
  if (g == "bool") return std::to_string(config_get_bool(key));
  if (g == "int") return std::to_string(config_get_int(key));
  if (g == "hex") return std::to_string(config_get_hex(key));
  if (g == "double") return std::to_string(config_get_double(key));
  if (g == "u64") return std::to_string(config_get_u64(key));
  if (g == "time") return std::to_string(config_get_time(key));
  if (g == "timestamp") return std::to_string(config_get_timestamp(key));
  if (g == "string") {
    const char* s = config_get_string(key);
    return s ? "'" + std::string(s) + "'" : "null";
  }
  if (g == "rect") {
    const int32_t* r = config_get_rect(key);
    if (!r) return "null";
    return std::to_string(r[0]) + ":" + std::to_string(r[1]) + ":" + std::to_string(r[2]) + ":" + std::to_string(r[3]);
  }
  ADD_FAILURE() << "no getter " << g;
  return "";
}

struct GetCase {
  const char* getter;
  const char* key;
  std::string want;
  int found;
};

TEST_F(Config, TypedGettersGiveAbsentEmptyAndValueResults) {
  ASSERT_EQ(0, load(kGetterText));
  const std::string t_10_30_15 = std::to_string(sstime_pack(15, 30, 10, 1, 1, 1970));
  const GetCase cases[] = {
      {"int", "i", "42", 1},
      {"int", "ineg", "-7", 1},
      // A refused word: the absent result, and "not found" so that callers
      // keep their defaults.
      {"int", "ibig", "-1", 0},
      {"int", "ijunk", "-1", 0},
      {"int", "iprefix", "12", 1},
      {"int", "novalue", "0", 0},
      {"int", "missing", "-1", 0},
      {"hex", "h", "255", 1},
      {"hex", "hbig", "0", 0},
      {"hex", "hneg", "0", 0},
      {"hex", "missing", "0", 0},
      {"double", "d", std::to_string(1.5), 1},
      {"double", "dnan", std::to_string(-1.0), 0},
      {"double", "dinf", std::to_string(-1.0), 0},
      {"double", "dbig", std::to_string(-1.0), 0},  // beyond single precision
      {"double", "novalue", std::to_string(0.0), 0},
      {"double", "missing", std::to_string(-1.0), 0},
      {"u64", "u", "18446744073709551615", 1},
      {"u64", "uneg", "18446744073709551615", 1},  // "%Ld" of -1
      {"u64", "ubig", "0", 0},
      {"u64", "missing", "0", 0},
      {"bool", "b", "1", 1},
      {"bool", "bf", "0", 1},
      {"bool", "btrue", "1", 1},
      {"bool", "novalue", "0", 0},
      {"bool", "missing", "0", 0},
      {"string", "s", "'two words'", 1},
      {"string", "novalue", "''", 0},
      {"string", "missing", "null", 0},
      {"rect", "r", "1:2:3:4", 1},
      {"rect", "rpart", "5:6:0:0", 1},
      {"rect", "rjunk", "0:0:0:0", 1},  // no field read: the zeroed record
      {"rect", "rbig", "null", 0},      // a field out of range: absent
      {"rect", "novalue", "null", 0},
      {"rect", "missing", "null", 0},
      {"time", "t", t_10_30_15, 1},
      {"time", "tzero", "0", 1},
      {"time", "tjunk", "0", 0},
      {"time", "tbad", "0", 0},
      {"time", "missing", "0", 0},
      {"timestamp", "ts", std::to_string(sstime_pack(15, 30, 10, 5, 3, 2014)), 1},
      {"timestamp", "tsdate", std::to_string(sstime_pack_date(5, 3, 2014)), 1},
      {"timestamp", "tsday", std::to_string(9 * 3600 + 5 * 60 + 7), 1},
      {"timestamp", "tszero", "0", 1},
      {"timestamp", "tsneg", "0", 1},
      {"timestamp", "tsbad", "0", 0},
      {"timestamp", "novalue", "0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.getter) + " " + c.key);
    EXPECT_EQ(c.want, get(c.getter, c.key));
    EXPECT_EQ(c.found, config_found());
  }
}

TEST_F(Config, OutOfRangeNumbersAreLogged) {
  ASSERT_EQ(0, load(kGetterText));
  LogCapture log;
  config_get_int("ibig");
  config_get_double("dnan");
  EXPECT_EQ(2, log.count("out of range"));
}

TEST_F(Config, FirstOfTwoSameKeysIsRead) {
  ASSERT_EQ(0, load("k 1\nk 2"));
  EXPECT_EQ(1, config_get_int("k"));
}

TEST_F(Config, CursorWalksRepeatedAndNestedBlocks) {
  ASSERT_EQ(0, load("w\nw.n 1\nw.in\nw.in.v a\nw\nw.n 2\nw.in\nw.in.v b\nw.in\nw.in.v c\nother 9\n"));
  std::string seen;
  ASSERT_EQ(1, config_enter("w"));
  while (config_next()) {
    seen += std::to_string(config_get_int("n")) + "[";
    ASSERT_EQ(1, config_enter("in"));
    while (config_next()) seen += config_get_string("v");
    config_leave();
    seen += "]";
  }
  config_leave();
  EXPECT_EQ("1[a]2[bc]", seen);
  EXPECT_EQ(0, config_depth());
  EXPECT_EQ(9, config_get_int("other"));
  EXPECT_EQ(0, config_enter("absent"));
  EXPECT_EQ(0, config_next());  // the root has no pending block
}

TEST_F(Config, CursorStopsAtDepthSeven) {
  ASSERT_EQ(0, load("a.b.c.d.e.f.g.h 1"));
  const char* path[] = {"a", "b", "c", "d", "e", "f", "g"};
  for (const char* p : path) ASSERT_EQ(1, config_enter(p));
  EXPECT_EQ(7, config_depth());
  EXPECT_EQ(0, config_enter("h"));
  EXPECT_EQ(7, config_depth());
  EXPECT_EQ(1, config_get_int("h"));
}

TEST_F(Config, ArgumentGettersReadWordsByIndex) {
  ASSERT_EQ(0, load("row 7 t ff 2.5 \"x y\" NZX"));
  ASSERT_EQ(1, config_enter("row"));
  config_argi = 5;
  ASSERT_EQ(1, config_next());
  EXPECT_EQ(0, config_argi);
  EXPECT_EQ(7, config_arg_int(config_argi++));
  EXPECT_EQ(1, config_arg_bool(config_argi++));
  EXPECT_EQ(255u, config_arg_hex(config_argi++));
  EXPECT_EQ(2.5, config_arg_double(config_argi++));
  EXPECT_STREQ("x y", config_arg_string(config_argi++));
  EXPECT_EQ(1, config_found());
  EXPECT_EQ(nullptr, config_arg_exchange(config_argi++));  // no model running
  EXPECT_EQ(1, config_found());
  EXPECT_STREQ("", config_arg_string(6));
  EXPECT_EQ(0, config_found());
  EXPECT_EQ(0, config_arg_int(-1));
  EXPECT_EQ(0, config_found());
  config_leave();
}

TEST_F(Config, WriterPrefixesOpenBlocks) {
  config_out_reset();
  ASSERT_EQ(0, config_printf("top %d", 1));
  ASSERT_EQ(0, config_out_push("a"));
  ASSERT_EQ(0, config_out_push("b"));
  ASSERT_EQ(0, config_printf("k %s", "v w"));
  ASSERT_EQ(0, config_out_pop());
  ASSERT_EQ(0, config_printf("j %b", 0));
  ASSERT_EQ(0, config_out_pop());
  EXPECT_EQ(-1, config_out_pop());
  EXPECT_EQ(-1, config_printf("bad %q", 1));  // adds nothing
  int32_t len;
  const char* out = config_out_buffer(&len);
  EXPECT_EQ("top 1\na.b.k \"v w\"\na.j f\n", std::string(out, (size_t)len));
  EXPECT_EQ('\0', out[len]);
  for (int i = 0; i < kConfigMaxBlocks; i++) ASSERT_EQ(0, config_out_push("x"));
  EXPECT_EQ(-1, config_out_push("x"));
}

TEST_F(Config, ResetReturnsBothDepthsToZero) {
  ASSERT_EQ(0, load("a.b 1"));
  ASSERT_EQ(1, config_enter("a"));
  ASSERT_EQ(0, config_out_push("blk"));
  ASSERT_EQ(0, config_printf("k 1"));
  ASSERT_EQ(0, config_reset());
  EXPECT_EQ(0, config_depth());
  EXPECT_EQ("", tree());
  ASSERT_EQ(0, config_printf("k 2"));
  EXPECT_STREQ("k 2\n", config_out_buffer(nullptr));
  EXPECT_EQ(-1, config_out_pop());
}

TEST_F(Config, LongLinesAreWrittenWholeAndReadBack) {
  std::string big(5000, 'q');
  big[100] = ' ';
  config_out_reset();
  ASSERT_EQ(0, config_out_push("block"));
  ASSERT_EQ(0, config_printf("k %s", big.c_str()));
  ASSERT_EQ(0, config_out_pop());
  int32_t len;
  std::string text(config_out_buffer(&len));
  ASSERT_EQ(0, load(text));
  EXPECT_EQ(big, config_get_string("block.k"));
}

TEST_F(Config, InstrumentReadsDoNotDamageTheCell) {
  ASSERT_EQ(0, ssmodel_init(12));
  ss_exchange* asx = ssmodel_new_exchange(0, 0x112);
  ASSERT_NE(nullptr, asx);
  ss_stock* bhp = ssmodel_add_stock(asx, "BHP");
  ASSERT_EQ(0, load("i S:ASX:BHP\nmissing S:ASX:ZZZ\nbad X:ASX:BHP\nshort S:ASX"));
  EXPECT_EQ(bhp, config_get_instr("i"));
  EXPECT_EQ(bhp, config_get_instr("i"));  // a second read still finds it
  LogCapture log;
  EXPECT_EQ(nullptr, config_get_instr("missing"));
  EXPECT_TRUE(log.has("can't find stock ASX:ZZZ from config"));
  EXPECT_EQ(0, config_found());  // not resolved: reported as not found
  EXPECT_EQ(nullptr, config_get_instr("bad"));
  EXPECT_EQ(nullptr, config_get_instr("short"));
  EXPECT_EQ(nullptr, config_get_exchange("i"));  // "S:ASX:BHP" names no exchange
  ASSERT_EQ(0, load("e ASX\nf NZSE\ng XYZ"));
  EXPECT_EQ(asx, config_get_exchange("e"));
  EXPECT_EQ(nullptr, config_get_exchange("f"));  // known name, exchange not made
  EXPECT_EQ(nullptr, config_get_exchange("g"));
  config_reset();
  ssmodel_fini();
}

// Round trips ------------------------------------------------------------------

class RoundTrip : public Config {
 protected:
  void SetUp() override {
    Config::SetUp();
    ASSERT_EQ(0, ssmodel_init(12));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ex_[i] = ssmodel_new_exchange(i, 0x112));
  }
  void TearDown() override {
    config_reset();
    ssmodel_fini();
    Config::TearDown();
  }
  // Writes one line and parses the writer's output.
  void write_and_load(const char* fmt, ...) {
    config_out_reset();
    va_list ap;
    va_start(ap, fmt);
    ASSERT_EQ(0, config_vprintf(fmt, ap));
    va_end(ap);
    int32_t len = 0;
    const char* out = config_out_buffer(&len);
    std::string text(out, (size_t)len);
    ASSERT_EQ(0, load(text)) << text;
  }
  ss_exchange* ex_[kExchanges];
};

std::string blanked(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if ((unsigned char)c < 0x20 || c == 0x7f) c = ' ';
  return r;
}

TEST_F(RoundTrip, EveryConversionReadsBackEqual) {
  std::mt19937_64 rng(20140305);
  auto pick = [&](uint64_t n) { return rng() % n; };
  const char alphabet[] = {' ', '"', '\\', ':', '.', '\r', '\n', '\t', 'a', 'Z', '0', '-', '%',
                           (char)0x80, (char)0xc3, (char)0xa9, (char)0xff};
  const int32_t ints[] = {INT32_MIN, INT32_MAX, 0, -1, 1};
  const uint64_t u64s[] = {0, 1, UINT64_MAX, UINT64_MAX - 1};
  const int64_t i64s[] = {INT64_MIN, INT64_MAX, -1, 0};
  for (int round = 0; round < 300; round++) {
    SCOPED_TRACE(round);
    int32_t i = round < 5 ? ints[round] : (int32_t)rng();
    write_and_load("v %d", i);
    EXPECT_EQ(i, config_get_int("v"));

    uint32_t x = round == 0 ? UINT32_MAX : (uint32_t)rng();
    write_and_load("v %x", x);
    EXPECT_EQ(x, config_get_hex("v"));

    uint64_t u = round < 4 ? u64s[round] : rng();
    write_and_load("v %Lu", u);
    EXPECT_EQ(u, config_get_u64("v"));

    int64_t s = round < 4 ? i64s[round] : (int64_t)rng();
    write_and_load("v %Ld", s);
    EXPECT_EQ(s, (int64_t)config_get_u64("v"));

    // Doubles the settings keep: single precision, six decimals written.
    double d = (double)((int64_t)pick(1 << 24) - (1 << 23)) / 64.0;
    write_and_load("v %f", d);
    EXPECT_EQ(d, config_get_double("v"));

    int b = (int)pick(3) - 1;
    write_and_load("v %b", b);
    EXPECT_EQ(b != 0, config_get_bool("v"));

    int32_t year = 1970 + (int32_t)pick(64), mon = 1 + (int32_t)pick(12), day = 1 + (int32_t)pick(28);
    int32_t hour = (int32_t)pick(24), min = (int32_t)pick(60), sec = (int32_t)pick(60);
    ss_time t = sstime_pack(sec, min, hour, day, mon, year);
    ASSERT_NE(0u, t);
    write_and_load("v %T", t);
    EXPECT_EQ(t, config_get_timestamp("v"));
    ss_time tod = (ss_time)sstime_seconds_of_day(sec, min, hour);
    write_and_load("v %T", tod);
    EXPECT_EQ(tod, config_get_timestamp("v"));
    write_and_load("v %D", t);
    EXPECT_EQ(sstime_pack_date(day, mon, year), config_get_timestamp("v"));
    write_and_load("v %S", t);  // the time of day, on 1 January 1970
    EXPECT_EQ(sstime_pack(sec, min, hour, 1, 1, 1970), config_get_time("v"));

    int32_t r[4] = {(int32_t)rng(), (int32_t)rng(), round == 0 ? INT32_MIN : (int32_t)rng(), INT32_MAX};
    write_and_load("v %R", r);
    const int32_t* got = config_get_rect("v");
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(0, memcmp(r, got, sizeof r));

    std::string str;
    for (uint64_t n = pick(20); n > 0; n--) str += alphabet[pick(sizeof alphabet)];
    write_and_load("v %s", str.c_str());
    ASSERT_NE(nullptr, config_get_string("v"));
    EXPECT_EQ(blanked(str), config_get_string("v"));
    // Two strings on one line stay two words.
    write_and_load("v %s %s", str.c_str(), str.c_str());
    ASSERT_EQ(1, config_enter("v"));
    ASSERT_EQ(1, config_next());
    EXPECT_EQ(blanked(str), config_arg_string(0));
    EXPECT_EQ(blanked(str), config_arg_string(1));
    config_leave();

    ss_exchange* e = ex_[pick(kExchanges)];
    write_and_load("v %E", e);
    EXPECT_EQ(e, config_get_exchange("v"));
  }
}

TEST_F(RoundTrip, InstrumentsOfEveryKindReadBack) {
  std::vector<instr*> all = {ssmodel_add_stock(ex_[0], "BHP"), ssmodel_add_issuer(ex_[0], "CBA"),
                             ssmodel_add_index(ex_[1], "NZ50"), ssmodel_add_stock(ex_[2], "A.B"),
                             ssmodel_add_stock(ex_[3], "X:Y"),  ssmodel_add_stock(ex_[3], "A B\\"),
                             ssmodel_add_issuer(ex_[3], "Q\"R")};
  for (instr* in : all) {
    ASSERT_NE(nullptr, in);
    SCOPED_TRACE(in->code);
    write_and_load("v %I", in);
    EXPECT_EQ(in, config_get_instr("v"));
  }
  write_and_load("v %I %E", (instr*)nullptr, (ss_exchange*)nullptr);
  EXPECT_EQ(nullptr, config_get_instr("v"));
  EXPECT_STREQ("-", config_get_string("v"));
}

TEST_F(RoundTrip, OldTextReadsAsBefore) {
  // Quoted text of older writers escaped only '"': a lone backslash is dropped.
  ASSERT_EQ(0, load("a \"C:\\dir x\"\nb C:\\dir\\file\nc \"q\\\"q\""));
  EXPECT_STREQ("C:dir x", config_get_string("a"));
  EXPECT_STREQ("C:\\dir\\file", config_get_string("b"));
  EXPECT_STREQ("q\"q", config_get_string("c"));
}

}  // namespace
