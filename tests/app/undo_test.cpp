// Undo ring: tables over an owner's record type whose ops log every save,
// restore and release (empty groups, a full ring of 999, a whole group
// dropped at once, newest-first restores, cancels, nested groups, refusals
// while undoing, withdrawal when the owner's copy fails), checked against a
// plain model of the ring kept as a vector of steps.
#include "undo.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "screen/desktop.h"
#include "testlog.h"
#include "uitest.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// The owner's type used by the tables: a copied int per record.
constexpr int kType = UNDO_DEPTHWIN;
std::vector<std::string> g_log;
int g_live = 0;        // copies not yet released
bool g_fail = false;   // the next save fails
int g_restore_rc = 0;  // what restore returns
void (*g_during_restore)() = nullptr;

void *save(void *object) {
  if (g_fail) return nullptr;
  g_live++;
  return new int(*static_cast<int *>(object));
}
int restore(void *saved, void *object) {
  g_log.push_back("restore " + std::to_string(*static_cast<int *>(saved)));
  EXPECT_NE(object, nullptr);
  EXPECT_TRUE(undo_undoing());
  if (g_during_restore) g_during_restore();
  return g_restore_rc;
}
void release(void *saved, int reason) {
  g_log.push_back("release " + std::to_string(*static_cast<int *>(saved)) + " " +
                  std::to_string(reason));
  g_live--;
  delete static_cast<int *>(saved);
}
const undo_record_ops kOps = {save, restore, release};

// Objects handed to the pushes (the ops copy their values).
std::deque<int> g_objects;
int push(int v) {
  g_objects.push_back(v);
  return undo_push_depthwin(reinterpret_cast<widget *>(&g_objects.back()));
}

class Undo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(undo_init(), 0);
    undo_register_type(kType, &kOps);
    g_log.clear();
    g_objects.clear();
    g_fail = false;
    g_restore_rc = 0;
    g_during_restore = nullptr;
  }
  void TearDown() override {
    undo_fini();
    EXPECT_EQ(g_live, 0) << "copies leaked or released twice";
    undo_register_type(kType, nullptr);
  }
  static std::vector<std::string> take() {
    std::vector<std::string> v;
    v.swap(g_log);
    return v;
  }
};

using Lines = std::vector<std::string>;

TEST_F(Undo, EmptyGroupsLeaveNoTrace) {
  // Each row: a script of b(egin), e(nd), p(ush), and the records held.
  struct { const char *script; int held; std::vector<int> types; } cases[] = {
      {"be", 0, {}},
      {"bbee", 0, {}},
      {"bbbeee", 0, {}},
      {"bpe", 3, {UNDO_GROUP_END, kType, UNDO_GROUP_BEGIN}},
      // The inner group, empty, right after the outer opening: only the
      // outermost group's own opening may go, so the outer group stays whole.
      {"bbepe", 3, {UNDO_GROUP_END, kType, UNDO_GROUP_BEGIN}},
      {"bpbee", 3, {UNDO_GROUP_END, kType, UNDO_GROUP_BEGIN}},
      {"p", 1, {kType}},
  };
  for (auto &c : cases) {
    ASSERT_EQ(undo_init(), 0);
    for (const char *s = c.script; *s; s++) {
      if (*s == 'b') EXPECT_EQ(undo_begin(), 0);
      if (*s == 'e') EXPECT_EQ(undo_end(), 0);
      if (*s == 'p') EXPECT_EQ(push(7), 0);
    }
    EXPECT_EQ(undo_depth(), 0) << c.script;
    EXPECT_EQ(undo_count(), c.held) << c.script;
    EXPECT_EQ(undo_can_undo(), c.held > 0) << c.script;
    for (size_t i = 0; i < c.types.size(); i++) EXPECT_EQ(undo_type_at(int(i)), c.types[i]) << c.script;
    // Every non-empty case is one step: one undo restores it and empties the ring.
    if (c.held) {
      EXPECT_EQ(undo_perform(), 0) << c.script;
      EXPECT_EQ(undo_count(), 0) << c.script;
      EXPECT_EQ(take(), (Lines{"restore 7", "release 7 0"})) << c.script;
    }
    undo_fini();
  }
}

TEST_F(Undo, FullRingHolds999AndDropsTheOldest) {
  for (int i = 0; i < kUndoRecords - 1; i++) ASSERT_EQ(push(i), 0);
  EXPECT_EQ(undo_count(), 999);
  EXPECT_TRUE(take().empty());
  ASSERT_EQ(push(999), 0);
  EXPECT_EQ(undo_count(), 999);
  EXPECT_EQ(take(), (Lines{"release 0 3"}));
  ASSERT_EQ(push(1000), 0);
  EXPECT_EQ(take(), (Lines{"release 1 3"}));
  // Newest first back down to the oldest kept.
  for (int i = 1000; i >= 2; i--) {
    ASSERT_EQ(undo_perform(), 0);
    ASSERT_EQ(take(), (Lines{"restore " + std::to_string(i), "release " + std::to_string(i) + " 0"}));
  }
  EXPECT_FALSE(undo_can_undo());
  LogCapture cap;
  EXPECT_EQ(undo_perform(), -1);
  EXPECT_TRUE(cap.has("undo underflow"));
}

TEST_F(Undo, AFullRingDropsAWholeGroupAtOnce) {
  undo_begin();
  push(100);
  push(101);
  push(102);
  undo_end();
  ASSERT_EQ(undo_count(), 5);
  for (int i = 0; i < kUndoRecords - 1 - 5; i++) ASSERT_EQ(push(i), 0);
  ASSERT_EQ(undo_count(), 999);
  EXPECT_TRUE(take().empty());
  ASSERT_EQ(push(5000), 0);
  // The group went as one: its three records released with reason 3.
  EXPECT_EQ(take(), (Lines{"release 100 3", "release 101 3", "release 102 3"}));
  EXPECT_EQ(undo_count(), 999 - 4);
  EXPECT_EQ(undo_type_at(undo_count() - 1), kType);  // the oldest is a single record
}

TEST_F(Undo, AGroupOfThreeRestoresNewestFirst) {
  push(1);
  undo_begin();
  push(2);
  undo_begin();  // nested groups only count
  push(3);
  undo_end();
  push(4);
  undo_end();
  ASSERT_EQ(undo_count(), 6);
  EXPECT_EQ(undo_perform(), 0);
  // A group releases its records once all of them are back.
  EXPECT_EQ(take(), (Lines{"restore 4", "restore 3", "restore 2", "release 4 0", "release 3 0",
                           "release 2 0"}));
  EXPECT_EQ(undo_count(), 1);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(take(), (Lines{"restore 1", "release 1 0"}));
}

TEST_F(Undo, CancelForms) {
  struct { const char *name; void (*setup)(); int (*cancel)(); int rc; Lines released; int left; } cases[] = {
      {"single", [] { push(1); push(2); }, undo_cancel, 0, {"release 2 1"}, 1},
      {"group", [] { push(1); undo_begin(); push(2); push(3); undo_end(); }, undo_cancel, 0,
       {"release 3 1", "release 2 1"}, 1},
      {"zoom, none in the ring", [] { push(1); }, undo_cancel_zoom, -1, {}, 1},
      {"help down to its record",
       [] { push(1); undo_push_help(); push(2); push(3); }, undo_cancel_help, 0,
       {"release 3 1", "release 2 1"}, 1},
      {"empty ring", [] {}, undo_cancel, -1, {}, 0},
  };
  for (auto &c : cases) {
    ASSERT_EQ(undo_init(), 0);
    c.setup();
    take();
    EXPECT_EQ(c.cancel(), c.rc) << c.name;
    EXPECT_EQ(take(), c.released) << c.name;
    EXPECT_EQ(undo_count(), c.left) << c.name;
    undo_fini();
    take();
  }
}

TEST_F(Undo, ACancelReachingPastAnOpenGroupLeavesNoLoneClosing) {
  undo_push_help();
  undo_begin();
  push(1);
  LogCapture cap;
  EXPECT_EQ(undo_cancel_help(), 0);
  EXPECT_TRUE(cap.has("cancelling a nested undo"));
  push(2);
  EXPECT_EQ(undo_end(), 0);
  // What was pushed after the cancel stands alone, and undoes alone.
  EXPECT_EQ(undo_count(), 1);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_FALSE(undo_can_undo());
  EXPECT_EQ(take(), (Lines{"release 1 1", "restore 2", "release 2 0"}));
}

TEST_F(Undo, NothingIsPushedWhileUndoing) {
  push(1);
  g_during_restore = [] {
    LogCapture cap;
    EXPECT_EQ(undo_begin(), 0);
    EXPECT_EQ(push(9), 0);  // refused, not an error for the caller
    EXPECT_EQ(undo_end(), 0);
    EXPECT_TRUE(cap.has("won't undo while undoing"));
  };
  const int before = undo_count();
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(undo_count(), before - 1);
  EXPECT_EQ(take(), (Lines{"restore 1", "release 1 0"}));
}

TEST_F(Undo, AFailedCopyWithdrawsTheRecord) {
  undo_begin();
  push(1);
  g_fail = true;
  EXPECT_EQ(push(2), -1);
  g_fail = false;
  undo_end();
  EXPECT_EQ(undo_count(), 3);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(take(), (Lines{"restore 1", "release 1 0"}));
}

TEST_F(Undo, ATypeWithoutOpsIsAMarkerThatKeepsItsGroup) {
  undo_register_type(kType, nullptr);
  undo_begin();
  EXPECT_EQ(undo_push_tradelist(nullptr), 0);
  undo_end();
  EXPECT_EQ(undo_count(), 3);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(undo_count(), 0);
  undo_register_type(kType, &kOps);
}

TEST_F(Undo, UnbalancedEndAndBuiltInTypesRefuseOps) {
  LogCapture cap;
  EXPECT_EQ(undo_end(), -1);
  EXPECT_TRUE(cap.has("undo underflow when ending multi push"));
  undo_register_type(UNDO_LAYOUT, &kOps);
  EXPECT_EQ(undo_type_ops(UNDO_LAYOUT), nullptr);
  EXPECT_TRUE(cap.has("can't register undo type 5"));
}

TEST_F(Undo, AGroupLargerThanTheRingRefusesFurtherRecords) {
  undo_begin();
  int refused = 0;
  for (int i = 0; i < kUndoRecords + 5; i++)
    if (push(i) != 0) refused++;
  // 999 slots hold the opening, 997 records and, kept free, the closing.
  EXPECT_EQ(refused, kUndoRecords + 5 - 997);
  EXPECT_EQ(undo_end(), 0);
  EXPECT_EQ(undo_count(), 999);
  EXPECT_EQ(undo_type_at(0), UNDO_GROUP_END);
  EXPECT_EQ(undo_type_at(998), UNDO_GROUP_BEGIN);
  take();
  // The next step drops that group whole.
  push(5000);
  EXPECT_EQ(take().size(), 997u);
  EXPECT_EQ(undo_count(), 1);
}

TEST_F(Undo, ShutdownReleasesNewestFirst) {
  push(1);
  undo_begin();
  push(2);
  undo_end();
  undo_fini();
  EXPECT_EQ(take(), (Lines{"release 2 2", "release 1 2"}));
  ASSERT_EQ(undo_init(), 0);
}

// ---- what each type frees, by reason ----

// Drives a record to its release with the given reason: performed (undone),
// cancelled, shut down (the ring's end) or dropped (999 newer records).
void release_by(int reason) {
  switch (reason) {
    case UNDO_PERFORMED: undo_perform(); break;
    case UNDO_CANCELLED: undo_cancel(); break;
    case UNDO_SHUTDOWN:
      undo_fini();
      ASSERT_EQ(undo_init(), 0);
      break;
    case UNDO_DROPPED:
      for (int i = 0; i < kUndoRecords - 1; i++) undo_push_help();  // markers: no object
      break;
  }
}

class Release : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(wlist_init(), 0);
    ASSERT_EQ(scan_init(), 0);
  }
  static void TearDownTestSuite() {
    scan_fini();
    wlist_fini();
    timer_fini();
  }
  void SetUp() override { ASSERT_EQ(undo_init(), 0); }
  void TearDown() override { undo_fini(); }
};

// Windows: freed ones leave the alive count.
TEST_F(Release, WindowsByReason) {
  struct { int type; int reason; bool freed; } cases[] = {
      {UNDO_REMOVED_WINDOW, UNDO_PERFORMED, false}, {UNDO_REMOVED_WINDOW, UNDO_CANCELLED, false},
      {UNDO_REMOVED_WINDOW, UNDO_SHUTDOWN, true},   {UNDO_REMOVED_WINDOW, UNDO_DROPPED, true},
      {UNDO_NEW_WINDOW, UNDO_PERFORMED, true},      {UNDO_NEW_WINDOW, UNDO_CANCELLED, false},
      {UNDO_NEW_WINDOW, UNDO_SHUTDOWN, false},      {UNDO_NEW_WINDOW, UNDO_DROPPED, false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " reason " + std::to_string(c.reason));
    desktop *d = desktop_new(nullptr);
    d->r = {0, 0, 800, 600};
    window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
    ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.500", ws, 2), 0);
    const int alive = window_count();
    if (c.type == UNDO_REMOVED_WINDOW) {
      desktop_forget_window(d, ws[1]);
      auto *parent = static_cast<container *>(ws[1]->parent);
      static_cast<container_class *>(parent->cls)->remove(parent, ws[1]);
      undo_push_removed_window(ws[1]);
    } else {
      undo_push_new_window(ws[1]);
    }
    release_by(c.reason);
    EXPECT_EQ(window_count(), c.freed ? alive - 1 : alive);
    if (!c.freed && !ws[1]->parent) widget_delete(ws[1]);
    widget_delete(d);
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
  }
}

// Lists come from item pools whose free list is last in, first out: a list
// that was freed is the very record the next creation returns.
TEST_F(Release, ListsByReason) {
  struct { int type; int reason; bool freed; } cases[] = {
      {UNDO_WLIST_DELETED, UNDO_PERFORMED, false}, {UNDO_WLIST_DELETED, UNDO_CANCELLED, true},
      {UNDO_WLIST_DELETED, UNDO_SHUTDOWN, true},   {UNDO_WLIST_DELETED, UNDO_DROPPED, true},
      {UNDO_WLIST_CREATED, UNDO_PERFORMED, true},  {UNDO_WLIST_CREATED, UNDO_CANCELLED, false},
      {UNDO_WLIST_CREATED, UNDO_SHUTDOWN, false},  {UNDO_WLIST_CREATED, UNDO_DROPPED, false},
      {UNDO_SCAN_DELETED, UNDO_PERFORMED, false},  {UNDO_SCAN_DELETED, UNDO_CANCELLED, true},
      {UNDO_SCAN_DELETED, UNDO_SHUTDOWN, true},    {UNDO_SCAN_DELETED, UNDO_DROPPED, true},
      {UNDO_NEW_SCAN, UNDO_PERFORMED, true},       {UNDO_NEW_SCAN, UNDO_CANCELLED, false},
      {UNDO_NEW_SCAN, UNDO_SHUTDOWN, false},       {UNDO_NEW_SCAN, UNDO_DROPPED, false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " reason " + std::to_string(c.reason));
    const bool is_wlist = c.type == UNDO_WLIST_DELETED || c.type == UNDO_WLIST_CREATED;
    void *obj = nullptr;
    if (is_wlist) {
      wlist *wl = wlist_create(nullptr, 0);
      ASSERT_NE(wl, nullptr);
      obj = wl;
      if (c.type == UNDO_WLIST_DELETED) {
        undo_push_wlist_deleted(wl);
        wlist_unlink(wl);
      } else {
        undo_push_wlist_created(wl);
      }
    } else {
      scan *sc = scan_new_temp();
      ASSERT_NE(sc, nullptr);
      obj = sc;
      if (c.type == UNDO_SCAN_DELETED) {
        undo_push_scan_deleted(sc);
        scan_unlink(sc);
      } else {
        undo_push_new_scan(sc);
      }
    }
    release_by(c.reason);
    void *next = is_wlist ? static_cast<void *>(wlist_create(nullptr, 0)) : static_cast<void *>(scan_new_temp());
    EXPECT_EQ(next == obj, c.freed);
    if (is_wlist) {
      wlist_delete(static_cast<wlist *>(next));
      if (!c.freed) wlist_delete(static_cast<wlist *>(obj));
    } else {
      scan_delete(static_cast<scan *>(next));
      if (!c.freed) scan_delete(static_cast<scan *>(obj));
    }
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
  }
}

// A window deleted while records name it (a configuration loaded over the
// desktop, say): its records, and a layout that lists it, restore nothing
// afterwards, and what they held is freed once (the sanitizers watch).
TEST_F(Release, RecordsOfADeletedWindowRestoreNothing) {
  desktop *d = desktop_new(nullptr);
  d->r = {0, 0, 800, 600};
  window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.500", ws, 2), 0);
  undo_begin();
  undo_push_desktop_layout(d);
  undo_push_window(ws[1]);
  undo_push_tools_toggle(ws[1]);
  undo_end();
  undo_push_window(ws[0]);
  const int held = undo_count();
  // ws[1] goes outside undo: the layout text now names one window.
  window *keep[1] = {ws[0]};
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0", keep, 1), 0);
  EXPECT_EQ(undo_count(), held);
  EXPECT_EQ(undo_perform(), 0);  // ws[0]'s own step
  EXPECT_EQ(undo_perform(), 0);  // the group: nothing of ws[1] comes back
  EXPECT_EQ(desktop_layout_text(d), "W0");
  EXPECT_FALSE(undo_can_undo());
  widget_delete(d);
}

// Layout snapshots and feed settings copies own heap memory: every reason
// frees it (the leak checker watches this test's process).
TEST_F(Release, HeapCopiesAreFreedForEveryReason) {
  for (int reason = 0; reason < 4; reason++) {
    desktop *d = desktop_new(nullptr);
    d->r = {0, 0, 800, 600};
    window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
    ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 V0.500", ws, 2), 0);
    ASSERT_EQ(undo_push_desktop_layout(d), 0);
    if (reason == UNDO_PERFORMED) {
      ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.250", ws, 2), 0);
      undo_perform();
      EXPECT_EQ(desktop_layout_text(d), "W0 W1 V0.500");
    } else {
      release_by(reason);
    }
    widget_delete(d);
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
  }
}

}  // namespace
