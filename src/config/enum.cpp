// The enum name tables. One table per enumeration, searched in row order in
// both directions, so a value or legacy name shared by several rows always
// resolves to the first of them. Rows without a legacy name carry null: the
// placeholders older tables used ("xx", "xxx") are not names a reader should
// accept.
#include "config/enum.h"

#include <cstring>

#include "log.h"

static const char kSrc[] = "src/config/enum";

namespace {

struct enum_row {
  const char* name;    // null ends the table
  const char* legacy;  // null: none
  int32_t value;
};

struct enum_table {
  const char* what;
  const enum_row* rows;
};

const enum_row kWindowRoles[] = {
    {"watchlist", "1", 1},   {"depth", "3", 2},       {"tradechart", "4", 3}, {"eventlist", "5", 4},
    {"google", nullptr, 20}, {"histnews", "7", 5},    {"indexchart", "8", 6}, {"indexlist", "9", 7},
    {"newstoday", "10", 8},  {"search", "11", 9},     {"rss", "12", 10},      {"document", "13", 11},
    {"chart", "14", 12},     {"tradelist", nullptr, 13}, {"terminal", nullptr, 14}, {"log", nullptr, 15},
    {"forexlist", nullptr, 18}, {"optionlist", nullptr, 19}, {"alerts", nullptr, 25}, {"none", "0", 0},
    {nullptr, nullptr, 0},
};
const enum_row kDocwinRoles[] = {
    {"profile", "1", 1}, {"newsitem", "2", 2}, {"none", "0", 0}, {nullptr, nullptr, 0}};
const enum_row kWindowStates[] = {
    {"closed", nullptr, -1}, {"maximized", nullptr, 2}, {"minimized", nullptr, 1},
    {"normal", nullptr, 0},  {nullptr, nullptr, 0}};
const enum_row kTickerShowTypes[] = {
    {"auto", nullptr, 1}, {"hide", nullptr, 0}, {"show", nullptr, 2}, {nullptr, nullptr, 0}};
const enum_row kRsswinDetails[] = {
    {"full", nullptr, 2}, {"brief", nullptr, 1}, {"title", nullptr, 0}, {nullptr, nullptr, 0}};

const enum_table kWindowRole{"window_role", kWindowRoles};
const enum_table kDocwinRole{"docwin_role", kDocwinRoles};
const enum_table kWindowState{"window_state", kWindowStates};
const enum_table kTickerShowType{"ticker_show_type", kTickerShowTypes};
const enum_table kRsswinDetail{"rsswin_detail", kRsswinDetails};

const char* name_of(const enum_table& t, int32_t value) {
  for (const enum_row* r = t.rows; r->name; r++)
    if (r->value == value) return r->name;
  log(LOG_ERROR, kSrc, "can't describe %s %d", t.what, value);
  return nullptr;
}

int lookup(const enum_table& t, const char* text, int32_t* value) {
  if (text) {
    for (const enum_row* r = t.rows; r->name; r++) {
      if (strcmp(r->name, text) == 0 || (r->legacy && strcmp(r->legacy, text) == 0)) {
        *value = r->value;
        return 0;
      }
    }
  }
  log(LOG_ERROR, kSrc, "can't describe %s %s", t.what, text ? text : "(null)");
  return -1;
}

int32_t parse(const enum_table& t, const char* text) {
  int32_t v;
  return lookup(t, text, &v) < 0 ? -1 : v;
}

}  // namespace

const char* enum_window_role_name(int32_t v) { return name_of(kWindowRole, v); }
int32_t enum_window_role_parse(const char* s) { return parse(kWindowRole, s); }
const char* enum_docwin_role_name(int32_t v) { return name_of(kDocwinRole, v); }
int32_t enum_docwin_role_parse(const char* s) { return parse(kDocwinRole, s); }
const char* enum_window_state_name(int32_t v) { return name_of(kWindowState, v); }
int32_t enum_window_state_parse(const char* s) { return parse(kWindowState, s); }
const char* enum_ticker_show_type_name(int32_t v) { return name_of(kTickerShowType, v); }
int32_t enum_ticker_show_type_parse(const char* s) { return parse(kTickerShowType, s); }
const char* enum_rsswin_detail_name(int32_t v) { return name_of(kRsswinDetail, v); }
int32_t enum_rsswin_detail_parse(const char* s) { return parse(kRsswinDetail, s); }

const char* enum_window_role_text(int32_t value) {
  const char* name = name_of(kWindowRole, value);
  return name ? name : "none";
}

int enum_window_state_lookup(const char* text, int32_t* value) { return lookup(kWindowState, text, value); }
