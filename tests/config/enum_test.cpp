// Enum name tables: every row both ways, legacy names, the first-row rule,
// case-sensitive matching, placeholder legacy names refused, and the
// failures with their log lines.
#include "config/enum.h"

#include <gtest/gtest.h>

#include <string>

#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

struct Table {
  const char* what;
  const char* (*name)(int32_t);
  int32_t (*parse)(const char*);
};

const Table kWindowRole{"window_role", enum_window_role_name, enum_window_role_parse};
const Table kDocwinRole{"docwin_role", enum_docwin_role_name, enum_docwin_role_parse};
const Table kWindowState{"window_state", enum_window_state_name, enum_window_state_parse};
const Table kTicker{"ticker_show_type", enum_ticker_show_type_name, enum_ticker_show_type_parse};
const Table kDetail{"rsswin_detail", enum_rsswin_detail_name, enum_rsswin_detail_parse};

struct Row {
  const Table* table;
  const char* name;
  const char* legacy;  // null: none
  int32_t value;
};

const Row kRows[] = {
    {&kWindowRole, "watchlist", "1", 1},   {&kWindowRole, "depth", "3", 2},
    {&kWindowRole, "tradechart", "4", 3},  {&kWindowRole, "eventlist", "5", 4},
    {&kWindowRole, "google", nullptr, 20}, {&kWindowRole, "histnews", "7", 5},
    {&kWindowRole, "indexchart", "8", 6},  {&kWindowRole, "indexlist", "9", 7},
    {&kWindowRole, "newstoday", "10", 8},  {&kWindowRole, "search", "11", 9},
    {&kWindowRole, "rss", "12", 10},       {&kWindowRole, "document", "13", 11},
    {&kWindowRole, "chart", "14", 12},     {&kWindowRole, "tradelist", nullptr, 13},
    {&kWindowRole, "terminal", nullptr, 14}, {&kWindowRole, "log", nullptr, 15},
    {&kWindowRole, "forexlist", nullptr, 18}, {&kWindowRole, "optionlist", nullptr, 19},
    {&kWindowRole, "alerts", nullptr, 25}, {&kWindowRole, "none", "0", 0},
    {&kDocwinRole, "profile", "1", 1},     {&kDocwinRole, "newsitem", "2", 2},
    {&kDocwinRole, "none", "0", 0},        {&kWindowState, "closed", nullptr, -1},
    {&kWindowState, "maximized", nullptr, 2}, {&kWindowState, "minimized", nullptr, 1},
    {&kWindowState, "normal", nullptr, 0}, {&kTicker, "auto", nullptr, 1},
    {&kTicker, "hide", nullptr, 0},        {&kTicker, "show", nullptr, 2},
    {&kDetail, "full", nullptr, 2},        {&kDetail, "brief", nullptr, 1},
    {&kDetail, "title", nullptr, 0},
};

TEST(Enum, EveryRowBothWays) {
  for (const Row& r : kRows) {
    SCOPED_TRACE(std::string(r.table->what) + " " + r.name);
    ASSERT_NE(nullptr, r.table->name(r.value));
    EXPECT_STREQ(r.name, r.table->name(r.value));
    EXPECT_EQ(r.value, r.table->parse(r.name));
    if (r.legacy) {
      EXPECT_EQ(r.value, r.table->parse(r.legacy));
    }
  }
}

TEST(Enum, FailuresAreLoggedWithTheTableName) {
  const struct {
    const Table* table;
    const char* text;
  } bad_names[] = {
      {&kWindowRole, "Depth"},  {&kWindowRole, "xx"},     {&kWindowRole, ""},      {&kWindowRole, "16"},
      {&kDocwinRole, "PROFILE"}, {&kWindowState, "xxx"},  {&kTicker, "xxx"},       {&kDetail, "xxx"},
      {&kDetail, "Full"},
  };
  for (const auto& b : bad_names) {
    LogCapture log;
    EXPECT_EQ(-1, b.table->parse(b.text)) << b.text;
    EXPECT_TRUE(log.has(std::string("can't describe ") + b.table->what + " " + b.text)) << b.text;
  }
  const int32_t no_role[] = {16, 17, 21, 22, 23, 24, -1, 26};
  for (int32_t v : no_role) {
    LogCapture log;
    EXPECT_EQ(nullptr, enum_window_role_name(v)) << v;
    EXPECT_TRUE(log.has("can't describe window_role " + std::to_string(v)));
    EXPECT_STREQ("none", enum_window_role_text(v));
  }
  EXPECT_STREQ("chart", enum_window_role_text(12));
}

TEST(Enum, WindowStateLookupTellsClosedFromFailure) {
  int32_t v = 99;
  EXPECT_EQ(0, enum_window_state_lookup("closed", &v));
  EXPECT_EQ(-1, v);
  v = 99;
  EXPECT_EQ(-1, enum_window_state_lookup("shut", &v));
  EXPECT_EQ(99, v);
  EXPECT_EQ(-1, enum_window_state_lookup(nullptr, &v));
}

}  // namespace
