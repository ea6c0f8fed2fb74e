// The hover previews over a recording operation table: a second hover over
// the same thing places the popup again without rebuilding it, a closed
// owner screen is refused ("won't push %d") with nothing done, every push
// pops exactly the screen it pushed, the day chart's options and spans
// before, in and after the session, and the two chart forms of kind 4.
#include <gtest/gtest.h>

#include <string>

#include "log.h"
#include "popups/popups.h"
#include "ssmodel.h"
#include "testlog.h"
#include "windows/nuchart.h"
#include "testmodel.h"
#include "ui/object.h"
#include "windows/window.h"

namespace {

class PopupsEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    object_init();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new PopupsEnv);

struct Rec {
  std::string calls;
  int depth = 0;       // screens pushed and not popped
  int open_mask = 0xF;  // which screens are open
  window *popup = nullptr;
  nuchart *chart = nullptr;
  bool equal = false;
} R;

void note(const std::string &s) { R.calls += s + ";"; }

bool f_push(int n) {
  if (!(R.open_mask >> n & 1)) return false;
  R.depth++;
  note("push" + std::to_string(n));
  return true;
}
void f_pop() {
  R.depth--;
  note("pop");
}
window *f_popup() { return R.popup; }
window *f_quick() { return reinterpret_cast<window *>(0x10); }
void f_anchor(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side) {
  note("anchor" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
       std::to_string(h) + "/" + std::to_string(side));
}
void f_place(int32_t w, int32_t h) { note("place" + std::to_string(w) + "x" + std::to_string(h)); }
void f_place_default(window *) { note("default"); }
void f_copy(window *, window *) { note("copy"); }
bool f_equal(const window *, const window *) { return R.equal; }
void f_show(window *, uint32_t role, instr *) { note("show" + std::to_string(role)); }
nuchart *f_chart(window *) { return R.chart; }
void f_depth_copy(window *, window *q) { note(q ? "depthcopy" : "depthcopy-null"); }
void f_play(window *, ss_time t) { note("play" + std::to_string(t)); }
void f_list(window *, scan *) { note("list"); }
int f_trades(instr *, ss_time d) {
  note("trades" + std::to_string(d));
  return 0;
}
int f_scan_equal(const scan *a, const scan *b) { return a == b; }

class Popups : public ::testing::Test {
 protected:
  void SetUp() override {
    R = Rec();
    static window fake_popup{};
    R.popup = &fake_popup;
    popups_ops o = {f_push, f_pop,  f_popup, f_quick, f_anchor,     f_place,  f_place_default, f_copy,
                    f_equal, f_show, f_chart, f_depth_copy, f_play, f_list, f_trades,        f_scan_equal};
    popups_set_ops(&o);
    popups_reset();
  }
  void TearDown() override { popups_set_ops(nullptr); }
};

instr make_instr(uint32_t kind) {
  instr in{};
  in.kind = kind;
  return in;
}

TEST_F(Popups, SecondHoverOverTheSameTradeDoesNotReplay) {
  instr a = make_instr(kKindStock), b = make_instr(kKindStock);
  popups_push_depth(&a, 1000);
  EXPECT_EQ(R.calls, "depthcopy;show2;play1000;place-1x-1;");
  R.calls.clear();
  popups_push_depth(&a, 1000);
  EXPECT_EQ(R.calls, "place-1x-1;");
  R.calls.clear();
  popups_push_depth(&a, 1001);  // another moment
  EXPECT_EQ(R.calls, "depthcopy;show2;play1001;place-1x-1;");
  R.calls.clear();
  popups_push_depth(&b, 0);  // live: no replay
  EXPECT_EQ(R.calls, "depthcopy;show2;place-1x-1;");
}

TEST_F(Popups, ClosedOwnerRefusedAndScreensBalanced) {
  instr a = make_instr(kKindStock);
  R.open_mask = 0x1;  // only screen 0 open
  const uint64_t since = log_count();
  popups_set_owner_index(2);
  popups_push_depth(&a, 5);
  EXPECT_EQ(R.calls, "");
  EXPECT_TRUE(logged_since(since, "won't push 2"));
  EXPECT_EQ(R.depth, 0);
  EXPECT_EQ(popups_get_state()->kind, kPopupNone);
  // An open owner: pushed for the push and popped after it, once.
  popups_set_owner_index(0);
  popups_push_depth(&a, 5);
  EXPECT_EQ(R.calls, "push0;depthcopy;show2;play5;place-1x-1;pop;");
  EXPECT_EQ(R.depth, 0);
  // Without an owner nothing is pushed, so nothing is popped.
  R.calls.clear();
  popups_push_depth(&a, 6);
  EXPECT_EQ(R.calls.find("pop"), std::string::npos);
  EXPECT_EQ(R.depth, 0);
}

TEST_F(Popups, EveryKindKeepsTheStackDepth) {
  instr a = make_instr(kKindStock);
  static window src{};
  for (int kind = 1; kind <= 6; kind++) {
    for (int owner : {-1, 0, 3}) {
      popups_set_owner_index(owner);
      switch (kind) {
        case 1: popups_push_window(&src); break;
        case 2: popups_push_day_chart(&a, 0); break;
        case 3: popups_push_depth(&a, 0); break;
        case 4: popups_push_chart_at(&a, 10, 11, 1, 0, 1); break;
        case 5: popups_push_chart(&a, 11, 0, 0, 0); break;
        case 6: popups_push_wlist(reinterpret_cast<scan *>(0x20)); break;
      }
      EXPECT_EQ(R.depth, 0) << "kind " << kind << " owner " << owner;
    }
  }
}

TEST_F(Popups, AnchorHandedOverOnceWithItsSide) {
  instr a = make_instr(kKindStock);
  popups_set_anchor(10, 20, 30, 40, 35, 0);
  popups_push_depth(&a, 0);
  EXPECT_EQ(R.calls, "depthcopy;show2;anchor10,20,30,40/35;place-1x-1;");
  R.calls.clear();
  popups_push_depth(&a, 0);
  EXPECT_EQ(R.calls, "place-1x-1;");
}

TEST_F(Popups, WindowPreviewCopiesOnceListOnlyReplaced) {
  static window src{}, other{};
  instr a = make_instr(kKindStock);
  src.instrument = &a;
  popups_push_window(&src);
  EXPECT_EQ(R.calls, "default;copy;place-1x-1;");
  R.calls.clear();
  R.equal = true;
  popups_push_window(&src);
  EXPECT_EQ(R.calls, "place-1x-1;");
  R.calls.clear();
  R.equal = false;  // same source, no longer equal: no second copy
  popups_push_window(&src);
  EXPECT_EQ(R.calls, "place-1x-1;");
  R.calls.clear();
  popups_push_window(&other);
  EXPECT_EQ(R.calls, "default;copy;place-1x-1;");
  R.calls.clear();
  scan *l = reinterpret_cast<scan *>(0x40);
  popups_push_wlist(l);
  EXPECT_EQ(R.calls, "list;place-1x-1;");
  R.calls.clear();
  popups_push_wlist(l);
  EXPECT_EQ(R.calls, "place-1x-1;");
}

TEST_F(Popups, ChartFormsOfKindFourRebuildOnSwitch) {
  instr a = make_instr(kKindStock);
  popups_push_chart_at(&a, 100, 101, 1, 0, 1);
  EXPECT_EQ(R.calls, "show12;place420x220;");
  R.calls.clear();
  popups_push_chart_at(&a, 200, 201, 1, 0, 1);
  EXPECT_EQ(R.calls, "place420x220;");
  EXPECT_EQ(popups_get_state()->centre, 200u);
  EXPECT_EQ(popups_get_state()->marker, 201u);
  R.calls.clear();
  // The same instrument over a range is another chart.
  popups_push_chart(&a, 300, 0, 0, 0);
  EXPECT_EQ(R.calls, "show12;place420x220;");
  R.calls.clear();
  popups_push_chart(&a, 301, 0, 0, 0);
  EXPECT_EQ(R.calls, "place420x220;");
  R.calls.clear();
  popups_push_chart_at(&a, 100, 101, 1, 0, 1);
  EXPECT_EQ(R.calls, "show12;place420x220;");
}

TEST_F(Popups, DayChartSettingsAndPastDayTrades) {
  nuchart *c = nuchart_cast(nuchart_new(nullptr));
  ASSERT_NE(c, nullptr);
  R.chart = c;
  ss_exchange *ex = bare_exchange(0);
  ex->date = sstime_pack_date(10, 6, 2026);
  ss_stock st{};
  st.kind = kKindStock;
  st.exchange = ex;
  ss_index ix{};
  ix.kind = kKindIndex;
  ix.exchange = ex;
  struct {
    instr *in;
    ss_time t;
    uint32_t options;
    bool indicator;
    bool trades;
  } cases[] = {
      {&st, 0, kDayChartOptionsOpen, true, false},
      {&st, sstime_pack(0, 30, 9, 10, 6, 2026), kDayChartOptionsClosed, true, false},
      {&st, sstime_pack(0, 0, 12, 10, 6, 2026), kDayChartOptionsOpen, true, false},
      {&st, sstime_pack(0, 0, 18, 9, 6, 2026), kDayChartOptionsClosed, true, true},
      {&ix, 0, kDayChartOptionsOpen, false, false},
  };
  for (auto &k : cases) {
    popups_reset();
    R.calls.clear();
    popups_push_day_chart(k.in, k.t);
    const chart_plot &p = c->plot;
    EXPECT_EQ(p.options, k.options) << k.t;
    EXPECT_EQ(p.range, kNuchartRangeSpan) << "both ends fixed: a span";
    EXPECT_EQ(p.period, 0);
    EXPECT_EQ(p.type, 16);
    int overlays = 0, indicators = 0;
    for (const chart_ta *ta = p.overlays; ta; ta = ta->next) overlays++;
    for (const chart_ta *ta = p.indicators; ta; ta = ta->next) indicators++;
    EXPECT_EQ(overlays, 4);
    EXPECT_EQ(indicators, k.indicator ? 1 : 0);
    EXPECT_EQ(R.calls.find("trades") != std::string::npos, k.trades) << R.calls;
    const day_span d = popups_day_span(ssmodel_exchange_open_time(ex), ssmodel_exchange_close_time(ex),
                                       ssmodel_exchange_day_start(ex), ssmodel_exchange_day_end(ex), ex->date,
                                       k.t, false, 0);
    EXPECT_EQ(p.from, d.from);
    EXPECT_EQ(p.to, d.to);
    // The same day again: only placed.
    R.calls.clear();
    popups_push_day_chart(k.in, k.t);
    EXPECT_EQ(R.calls, "place-1x-1;");
  }
  widget_delete(c);
}

ss_time at(int h, int m) { return sstime_pack(0, m, h, 10, 6, 2026); }
ss_time day(int d) { return sstime_pack_date(d, 6, 2026); }

TEST(PopupsDaySpan, BeforeInAndAfterTheSession) {
  const ss_time open = at(10, 0), close = at(16, 0), start = at(8, 0), end = at(19, 0), today = day(10);
  struct {
    ss_time t;
    bool index;
    ss_time last;
    uint32_t options;
    ss_time from, to;
    const char *what;
  } cases[] = {
      {0, false, 0, kDayChartOptionsOpen, at(10, 0), 0, "today, no time: end open"},
      {at(9, 30), false, 0, kDayChartOptionsClosed, at(8, 0), 0, "today before the open"},
      {at(12, 0), false, 0, kDayChartOptionsOpen, at(10, 0), 0, "today in the session"},
      {at(17, 0), false, 0, kDayChartOptionsClosed, at(10, 0), at(19, 0), "today after the close"},
      {0, true, at(16, 5), kDayChartOptionsClosed, at(10, 0), at(19, 0), "index updated after close"},
      {0, true, at(15, 0), kDayChartOptionsOpen, at(10, 0), 0, "index updated in session"},
      {sstime_pack(0, 0, 12, 9, 6, 2026), false, 0, kDayChartOptionsOpen, sstime_pack(0, 0, 10, 9, 6, 2026),
       sstime_pack(0, 0, 16, 9, 6, 2026), "a past day in the session: closed at the close"},
      {sstime_pack(0, 30, 9, 9, 6, 2026), false, 0, kDayChartOptionsClosed, sstime_pack(0, 0, 8, 9, 6, 2026),
       sstime_pack(0, 0, 16, 9, 6, 2026), "a past day before the open"},
      {sstime_pack(0, 0, 18, 9, 6, 2026), false, 0, kDayChartOptionsClosed, sstime_pack(0, 0, 10, 9, 6, 2026),
       sstime_pack(0, 0, 19, 9, 6, 2026), "a past day after the close"},
  };
  for (auto &c : cases) {
    day_span d = popups_day_span(open, close, start, end, today, c.t, c.index, c.last);
    EXPECT_EQ(d.options, c.options) << c.what;
    EXPECT_EQ(d.from, c.from) << c.what;
    EXPECT_EQ(d.to, c.to) << c.what;
  }
}

}  // namespace
