// Keyboard bindings and typed commands against a recording action layer:
// tables of key sequences (typed entry that runs at once or waits, the
// lingering text on a test clock, the 31-character buffer, exchanges after
// a dot, splits in desktop and floating windows, shifted Enter, Escape's
// order, the character tables by exact modifier) and the calls they make.
#include "keyboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "action.h"
#include "config/config.h"
#include "guitest.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/miniquote.h"
#include "screen/screen.h"
#include "screen/watchbar.h"
#include "ssuser.h"
#include "style.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "undo.h"
#include "windows/window.h"

namespace {

int64_t g_now = 1000000;
int64_t test_clock() { return g_now; }

ss_stock *g_bhp, *g_air;
ss_index *g_xjo;

class KeyboardEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("keyboard_test"));
    plat_set_test_clock(test_clock);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(start_terminal_model(), 0);
    ssuser_set(1000, 0, 3);
    ASSERT_EQ(wlist_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(rss_init(), 0);
    ASSERT_EQ(undo_init(), 0);
    ASSERT_EQ(keyboard_init(), 0);
    ASSERT_EQ(screen_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    g_bhp = ssmodel_add_stock(ssmodel_exchange(0), "BHP");
    g_xjo = ssmodel_add_index(ssmodel_exchange(0), "XJO");
    g_air = ssmodel_add_stock(ssmodel_exchange(1), "AIR");
    for (int i = 0; i < 25; i++) ASSERT_NE(wlist_create(nullptr, 0), nullptr);
  }
  void TearDown() override {
    undo_fini();
    screen_shutdown();
    style_fini();
    keyboard_fini();
    rss_shutdown();
    scan_fini();
    wlist_fini();
    config_shutdown();
    timer_fini();
    plat_set_test_clock(nullptr);
    gui_shutdown();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new KeyboardEnv);

// ---- the recording action layer ----

std::vector<std::string> g_calls;
window *g_focus;

std::string name(const window *w) {
  if (!w) return "-";
  if (w == g_focus) return "D";
  if (w == screen_quick_window()) return "Q";
  if (w == screen_zoom_window_get()) return "Z";
  return "?";
}
std::string ex(const ss_exchange *e) { return e ? std::to_string(e->index) : "-"; }
std::string in(const instr *i) { return i ? i->code : "-"; }
void note(const std::string &s) { g_calls.push_back(s); }

const keyboard_actions kRecord = {
    [](window *w) {
      note("start_entry(" + name(w) + ")");
      keyboard_activate();
      return 1;
    },
    [](instr *i) { note("show_everywhere(" + in(i) + ")"); return 0; },
    [](window *w, instr *i) { note("set_instrument(" + name(w) + "," + in(i) + ")"); return 0; },
    [](window *w, uint32_t r) { note("set_role(" + name(w) + "," + std::to_string(r) + ")"); return 1; },
    [](window *w) { note("show_alerts(" + name(w) + ")"); return 1; },
    [](window *w, int32_t id) { note("show_chart_style(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [](window *w) { note("show_google(" + name(w) + ")"); return 1; },
    [](int t) { note("show_help(" + std::to_string(t) + ")"); return 1; },
    [](window *w, ss_exchange *e) { note("show_index_list(" + name(w) + "," + ex(e) + ")"); return 1; },
    [](window *w, ss_exchange *e) { note("show_announcements(" + name(w) + "," + ex(e) + ")"); return 1; },
    [](window *w) { note("show_option_list(" + name(w) + ")"); return 1; },
    [](window *w) { note("show_profile(" + name(w) + ")"); return 1; },
    [](window *w, int32_t id) { note("open_preset(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [](window *w) { note("search(" + name(w) + ")"); return 1; },
    [] { note("size_up"); return 0; },
    [] { note("size_down"); return 0; },
    [] { note("snap"); return 0; },
    [](window *w) { note("sync_tools(" + name(w) + ")"); return 0; },
    [](window *w) { note("toggle_tools(" + name(w) + ")"); return 0; },
    [] { note("show_quick"); return 1; },
    [] { note("logout_box"); return 1; },
    [](uint32_t m) { note("toggle_bars(" + std::to_string(m) + ")"); return 1; },
    [](window *w, int32_t id) { note("perform(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [] { note("toggle_hilight_watched"); return 1; },
    [] { note("keep_only"); return 0; },
    [](window *w) { note("zoom(" + name(w) + ")"); return 0; },
    [] { note("unzoom"); return 0; },
    [] { note("undo"); return 0; },
    [](int d) { note("step_desktop(" + std::to_string(d) + ")"); return 1; },
    [](int n) { note("switch_desktop(" + std::to_string(n) + ")"); return 1; },
    [](window *w, int d) { note("page_document(" + name(w) + "," + std::to_string(d) + ")"); return 0; },
    [](window *w, ss_exchange *e) { note("force_exchange(" + name(w) + "," + ex(e) + ")"); return 1; },
    [](window *w) { note("new_watchlist(" + name(w) + ")"); return 1; },
    [](window *w, int32_t id) { note("show_watchlist(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [](window *w) { note("new_scan(" + name(w) + ")"); return 1; },
    [](window *w, int32_t id) { note("show_scan(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [](window *w) { note("new_chart_style(" + name(w) + ")"); return 1; },
    [](window *w, int32_t id) { note("show_rss_feed(" + name(w) + "," + std::to_string(id) + ")"); return 1; },
    [](window *w) { note("new_rss_feed(" + name(w) + ")"); return 1; },
    [](window *w, int k, int l) {
      note("link_split(" + name(w) + "," + std::to_string(k) + "," + std::to_string(l) + ")");
      return 1;
    },
    [](window *w, ss_exchange *e, const char *t) {
      note("open_search(" + name(w) + "," + ex(e) + "," + t + ")");
      return 0;
    },
    [](window *w, ss_time t, int) { note("goto_time(" + name(w) + "," + std::to_string(t) + ")"); return 0; },
    [](window *w, const char *codes, int add) {
      note("edit_list(" + name(w) + "," + codes + "," + std::to_string(add) + ")");
      return 0;
    },
};

// ---- keys ----

enum : uint32_t { C = KEY_MOD_CONTROL, O = KEY_MOD_ALT, SH = KEY_MOD_SHIFT, M = KEY_MOD_COMMAND };

void press(int32_t code, int32_t ch = 0, uint32_t mods = 0) {
  key_event k{code, ch, mods};
  keyboard_key(&k);
}
void chr(char c, uint32_t mods = 0) { press(KEY_CHAR, c, mods); }
// Characters as the platform gives them: upper case, no modifiers.
void type(const char *s) {
  for (; *s; s++) chr(char(toupper(*s)));
}

std::string wlist_at(int position) { return std::to_string(wlist_id_at(uint32_t(position))); }

class Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    keyboard_set_actions(&kRecord);
    screen_select(0);
    screen_switch_desktop(0);
    desktop *d = screen_current_desktop();
    window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
    ASSERT_EQ(desktop_layout_apply(d, ws[0], "W0 W1 H0.500", ws, 2), 0);
    desktop_set_focus(d, ws[0]);
    g_focus = ws[0];
    window_set_role(g_focus, kRoleDepth);
    window_set_instrument(g_focus, g_bhp);
    keyboard_deactivate();
    g_calls.clear();
    ssuser_set(1000, 0, 3);
    action_set_default_exchange(0);
  }
  void TearDown() override {
    keyboard_deactivate();
    keyboard_set_actions(nullptr);
    screen_hide_bars(BAR_HELP | BAR_ZOOM | BAR_QUICK | BAR_POPUP_DOCUMENT);
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
  }
  static std::vector<std::string> calls() {
    std::vector<std::string> v;
    v.swap(g_calls);
    return v;
  }
};

using Calls = std::vector<std::string>;

TEST_F(Keyboard, TypedListNumbersRunWhenNoDigitCanFollow) {
  // 25 watchlists: W3 can only be the third; W2 might become W20-W25.
  struct { const char *keys; bool enter; Calls want; const char *buffer; bool active; } cases[] = {
      {"W3", false, {"start_entry(D)", "show_watchlist(D," + wlist_at(2) + ")"}, "W3", true},
      {"W2", false, {"start_entry(D)"}, "W2", true},
      {"W25", false, {"start_entry(D)", "show_watchlist(D," + wlist_at(24) + ")"}, "W25", true},
      {"W2", true, {"start_entry(D)", "show_watchlist(D," + wlist_at(1) + ")"}, "", false},
      {"W26", true, {"start_entry(D)", "open_search(D,-,W26)"}, "", false},
      {"W", true, {"start_entry(D)", "new_watchlist(D)"}, "", false},
      {"S", true, {"start_entry(D)", "new_scan(D)"}, "", false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.keys);
    keyboard_deactivate();
    type(c.keys);
    if (c.enter) press(KEY_ENTER);
    EXPECT_EQ(calls(), c.want);
    EXPECT_STREQ(keyboard_buffer(), c.buffer);
    EXPECT_EQ(keyboard_is_active(), c.active);
  }
}

TEST_F(Keyboard, ADotCommandLingers500Milliseconds) {
  chr('.');
  chr('A');
  EXPECT_EQ(calls(), (Calls{"start_entry(D)", "force_exchange(D,0)"}));
  EXPECT_STREQ(keyboard_buffer(), ".A");
  EXPECT_EQ(keyboard_mode(), 0);
  timer_run(g_now);  // the timer's first pass
  g_now += 499;
  timer_run(g_now);
  EXPECT_TRUE(keyboard_is_active());
  g_now += 1;
  timer_run(g_now);
  EXPECT_FALSE(keyboard_is_active());
  EXPECT_STREQ(keyboard_buffer(), "");
  EXPECT_EQ(keyboard_mode(), 1);
  // Before the 500 ms pass, the next key starts afresh.
  chr('.');
  chr('N');
  calls();
  chr('W');
  EXPECT_EQ(calls(), (Calls{"start_entry(D)"}));
  EXPECT_STREQ(keyboard_buffer(), "W");
  EXPECT_EQ(keyboard_mode(), 1);
}

TEST_F(Keyboard, TheBufferHolds31Characters) {
  press(KEY_ENTER);
  for (int i = 0; i < 40; i++) chr('X');
  EXPECT_EQ(std::string(keyboard_buffer()), std::string(31, 'X'));
  press(KEY_BACKSPACE);
  EXPECT_EQ(std::string(keyboard_buffer()), std::string(30, 'X'));
  press(KEY_SPACE);
  EXPECT_EQ(std::string(keyboard_buffer()), std::string(30, 'X') + " ");
  // A character the text font has no glyph for is not appended.
  chr(1);
  EXPECT_EQ(std::string(keyboard_buffer()), std::string(30, 'X') + " ");
}

TEST_F(Keyboard, TypedCommands) {
  // Enter, the keys, then Enter with its modifiers (or, for texts that run
  // as they are typed, no Enter: they linger).
  struct { const char *name; instr *shown; const char *keys; bool enter; uint32_t enter_mods; Calls want; } cases[] = {
      {"a code on the default exchange", g_air, "BHP", true, 0, {"set_instrument(D,BHP)"}},
      {"the shown code again: nothing", g_bhp, "BHP", true, 0, {}},
      {"a code found on another exchange", g_bhp, "AIR", true, 0, {"set_instrument(D,AIR)"}},
      {"a code with .N: that exchange only", g_bhp, "AIR.N", true, 0, {"set_instrument(D,AIR)"}},
      {"BHP is not on exchange 1", g_xjo, "BHP.N", true, 0, {"open_search(D,1,BHP)"}},
      {"an index", g_bhp, "XJO", true, 0, {"set_instrument(D,XJO)"}},
      {"shifted Enter: everywhere", g_bhp, "BHP", true, SH, {"show_everywhere(BHP)"}},
      {"a time", g_bhp, "10:30", true, 0,
       {"goto_time(D," + std::to_string(sstime_parse_expression("10:30", nullptr)) + ")"}},
      {"unknown text searches", g_bhp, "ZZZZ", true, 0, {"open_search(D,-,ZZZZ)"}},
      {"a search mark", g_bhp, "BHP?", true, 0, {"open_search(D,0,BHP)"}},
      {"/RSS", g_bhp, "/RSS", true, 0, {"new_rss_feed(D)"}},
      {"split 3 in a wide window", g_bhp, "/3", false, 0, {"link_split(D,24,0)"}},
      {"split /V", g_bhp, "/V", false, 0, {"link_split(D,19,0)"}},
      {"split /5: no such split", g_bhp, "/5", false, 0, {}},
      {"C alone", g_bhp, "C", true, 0, {"new_chart_style(D)"}},
      {"adding codes outside a list window", g_bhp, "+BHP", true, 0, {}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    keyboard_deactivate();
    window_set_instrument(g_focus, c.shown);
    window_set_role(g_focus, kRoleDepth);
    g_focus->r = {0, 0, 400, 300};  // wider than tall
    press(KEY_ENTER);
    for (const char *p = c.keys; *p; p++) {
      if (*p == '?') chr('/', SH);
      else if (*p == ':') chr(';', SH);
      else chr(*p);
    }
    if (c.enter) press(KEY_ENTER, 13, c.enter_mods);
    Calls got = calls();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "start_entry(D)");
    got.erase(got.begin());
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(keyboard_is_active(), !c.enter);
  }
}

TEST_F(Keyboard, SplitsInTheQuickWindowDoNothing) {
  type("/4");  // '/' starts entry; "/4" runs at once
  EXPECT_EQ(calls(), (Calls{"start_entry(D)", "link_split(D,21,0)"}));
  keyboard_deactivate();
  screen_show_quick_window();
  type("/4");
  EXPECT_EQ(calls(), (Calls{"start_entry(Q)"}));
  screen_hide_quick_window();
}

TEST_F(Keyboard, ASingleExchangeUserTypingADotAndALetterRunsNothing) {
  ssuser_set(1000, 0, 1);
  type(".B");
  EXPECT_EQ(calls(), (Calls{"start_entry(D)"}));
  EXPECT_EQ(keyboard_mode(), 0);  // it ran, and lingers
}

TEST_F(Keyboard, EscapeClosesOnlyTheFirstThatApplies) {
  undo_push_zoom();
  screen_show_bars(BAR_ZOOM);
  undo_push_help();
  screen_show_bars(BAR_HELP);
  press(KEY_ESCAPE);
  EXPECT_EQ(screen_bars_shown() & (BAR_HELP | BAR_ZOOM), uint32_t(BAR_ZOOM));
  EXPECT_EQ(undo_count(), 1);  // the help's record went, the zoom's stays
  EXPECT_EQ(undo_type_at(0), UNDO_ZOOM);
  press(KEY_ESCAPE);
  EXPECT_EQ(screen_bars_shown() & BAR_ZOOM, 0u);
  EXPECT_EQ(undo_count(), 0);
}

TEST_F(Keyboard, SpecialKeys) {
  struct { const char *name; int32_t code; uint32_t mods; Calls want; } cases[] = {
      {"Enter opens entry", KEY_ENTER, 0, {"start_entry(D)"}},
      {"shifted Enter: the window's stock everywhere", KEY_ENTER, SH, {"show_everywhere(BHP)"}},
      {"Space opens entry", KEY_SPACE, 0, {"start_entry(D)"}},
      {"F2", KEY_F1 + 1, 0, {"switch_desktop(1)"}},
      {"F10", KEY_F10, C, {"switch_desktop(9)"}},
      {"option Left", KEY_LEFT, O, {"step_desktop(-1)"}},
      {"option Right", KEY_RIGHT, O, {"step_desktop(1)"}},
      {"Right pages", KEY_RIGHT, 0, {"page_document(D,1)"}},
      {"forward Delete", KEY_DELETE, 0, {}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    keyboard_deactivate();
    press(c.code, 0, c.mods);
    EXPECT_EQ(calls(), c.want);
  }
}

TEST_F(Keyboard, CharacterTablesByExactModifier) {
  ssuser_set(1000, 0, 7);  // exchange bit 2 too: option lists
  struct { char key; uint32_t mods; Calls want; } cases[] = {
      {'D', 0, {"set_role(D,2)"}},
      {'D', SH, {"set_role(-,2)"}},
      {'T', 0, {"set_role(D,13)"}},
      {'T', SH, {"set_role(-,13)"}},
      {'A', 0, {"set_role(D,5)"}},
      {'A', O, {"show_alerts(D)"}},
      {'C', 0, {"show_chart_style(D,-1)"}},
      {'C', SH, {"set_role(-,12)"}},
      {'G', 0, {"show_google(D)"}},
      {'G', SH, {"set_role(-,20)"}},
      {'P', 0, {"show_profile(D)"}},
      {'P', SH, {"show_profile(-)"}},
      {'P', C, {"toggle_tools(D)"}},
      {'P', C | SH, {"sync_tools(D)"}},
      {'R', 0, {"open_preset(D,10)"}},
      {'F', 0, {"open_preset(D,11)"}},
      {'V', 0, {"open_preset(D,12)"}},
      {'V', O, {"open_preset(D,13)"}},
      {'I', 0, {"show_index_list(D,0)"}},
      {'N', 0, {"show_announcements(D,0)"}},
      {'O', 0, {"show_option_list(D)"}},
      {'O', O | SH, {"show_option_list(-)"}},
      {'O', O | M, {}},  // no table for option with command
      {'Q', 0, {"show_quick"}},
      {'Q', C, {"logout_box"}},
      {'W', C, {"toggle_hilight_watched"}},
      {'W', C | O | SH, {"toggle_hilight_watched"}},  // control, whatever else
      {'X', C, {"keep_only"}},
      {'L', C, {"snap"}},
      {'T', C, {"perform(-,42)"}},
      {'+', C, {"size_up"}},
      {'=', C, {"size_up"}},
      {'-', C, {"size_down"}},
      {'Z', 0, {"zoom(D)"}},
      {'Z', M, {"undo"}},
      {'H', 0, {"show_help(0)"}},
      {'/', SH, {"search(D)"}},
      {'B', 0, {}},
      {'1', 0, {}},  // an empty quick slot
  };
  for (auto &c : cases) {
    SCOPED_TRACE(std::string(1, c.key) + " mods " + std::to_string(c.mods));
    keyboard_deactivate();
    chr(c.key, c.mods);
    EXPECT_EQ(calls(), c.want);
  }
}

TEST_F(Keyboard, ControlShiftTShowsTheMissingToolbars) {
  struct { uint32_t shown; uint32_t mask; } cases[] = {
      {0x180, 0x180}, {0x080, 0x100}, {0x100, 0x080}, {0, 0x180}};
  for (auto &c : cases) {
    screen_hide_bars(0x180);
    screen_show_bars(c.shown);
    chr('T', C | SH);
    EXPECT_EQ(calls(), (Calls{"toggle_bars(" + std::to_string(c.mask) + ")"})) << c.shown;
  }
  screen_show_bars(0x180);
}

TEST_F(Keyboard, WithTheRealActions) {
  keyboard_set_actions(nullptr);
  // Enter, a code, Enter: the focused window shows it; one undo takes it back.
  if (!screen_is_open(0)) ASSERT_EQ(screen_open(0), 0);
  screen_select(0);
  window_set_role(g_focus, kRoleDepth);
  window_set_instrument(g_focus, g_air);
  undo_fini();
  ASSERT_EQ(undo_init(), 0);
  press(KEY_ENTER);
  type("BHP");
  press(KEY_ENTER);
  EXPECT_EQ(g_focus->instrument, static_cast<instr *>(g_bhp));
  EXPECT_EQ(g_focus->role, uint32_t(kRoleDepth));
  chr('Z', M);
  EXPECT_EQ(g_focus->instrument, static_cast<instr *>(g_air));
  // F3 switches the desktop; command-Z switches back.
  press(KEY_F1 + 2);
  EXPECT_EQ(screen_desktop_index(), 2);
  chr('Z', M);
  EXPECT_EQ(screen_desktop_index(), 0);
}

// Option and a digit open the quote pop window of that watch bar cell, or
// hide it when it shows that cell; option-0 hides it; each is undone.
TEST_F(Keyboard, OptionDigitsOpenTheWatchBarsQuotePopWindow) {
  keyboard_set_actions(nullptr);
  if (!screen_is_open(0)) ASSERT_EQ(screen_open(0), 0);
  screen_select(0);
  widget *bar = screen_watchbar();
  ASSERT_NE(bar, nullptr);
  watchbar_clear(bar);
  instr *cells[] = {g_bhp, g_air, g_xjo};
  for (instr *in : cells) mini_quote_set_instr(watchbar_insert(bar, nullptr), in);
  screen_hide_bars(BAR_QUOTE_POPWIN);
  undo_fini();
  ASSERT_EQ(undo_init(), 0);
  window *pop = screen_current()->quote_popwin;
  // What shows after each key: the open cell (-1 hidden), as undo steps.
  const struct {
    char key;
    int32_t open;
  } steps[] = {{'2', 1}, {'1', 0}, {'3', 2}, {'3', -1}, {'1', 0}, {'0', -1}};
  std::vector<int32_t> seen = {-1};
  for (const auto &st : steps) {
    chr(st.key, O);
    EXPECT_EQ(watchbar_quote_popup_item(), st.open) << st.key;
    EXPECT_EQ((screen_bars_shown() & BAR_QUOTE_POPWIN) != 0, st.open >= 0) << st.key;
    if (st.open >= 0) EXPECT_EQ(pop->instrument, cells[st.open]) << st.key;
    seen.push_back(st.open);
  }
  // A cell the bar does not have: nothing changes, nothing to undo.
  const int records = undo_count();
  chr('7', O);
  EXPECT_EQ(undo_count(), records);
  EXPECT_FALSE(screen_bars_shown() & BAR_QUOTE_POPWIN);
  for (size_t i = seen.size() - 1; i > 0; i--) {
    ASSERT_TRUE(undo_can_undo());
    undo_perform();
    EXPECT_EQ(watchbar_quote_popup_item(), seen[i - 1]) << "undo " << i;
    if (seen[i - 1] >= 0) EXPECT_EQ(pop->instrument, cells[seen[i - 1]]) << "undo " << i;
  }
  watchbar_clear(bar);
}

TEST_F(Keyboard, CodesTypedIntoAWatchlistWindow) {
  keyboard_set_actions(nullptr);
  if (!screen_is_open(0)) ASSERT_EQ(screen_open(0), 0);  // undo restores on an open screen
  screen_select(0);
  ASSERT_EQ(action_new_watchlist(g_focus), 1);
  wlist *wl = wlist_find(wlist_id_at(uint32_t(wlist_total() - 1)));
  ASSERT_NE(wl, nullptr);
  press(KEY_ENTER);
  type("+BHP");
  press(KEY_ENTER);
  EXPECT_EQ(wlist_count(wl), 1);
  EXPECT_EQ(wlist_item_at(wl, 0), static_cast<instr *>(g_bhp));
  press(KEY_ENTER);
  type("-BHP");
  press(KEY_ENTER);
  EXPECT_EQ(wlist_count(wl), 0);
  // Undone, the new list goes again.
  while (undo_can_undo()) undo_perform();
  EXPECT_EQ(wlist_total(), 25);
}

}  // namespace
