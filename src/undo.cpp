// Undo: a fixed ring of 1000 typed records, allocated once at start.
// head is the next free slot and tail the oldest record; the ring is empty
// when they meet, so at most 999 records are held and a push into a full
// ring first drops the oldest step (one record, or a whole group).
//
// Only the outermost group writes its opening and closing records; inner
// groups only count depth. Each record remembers the screen that was
// current when it was pushed and is restored with that screen current.
// Records of window contents and of lists owned elsewhere go through the
// ops their owner registers; a type without ops restores nothing.
#include "undo.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "action.h"
#include "charts/cstyle.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "style.h"
#include "tools/tools.h"
#include "ui/gui.h"
#include "windows/rsswin.h"
#include "windows/window.h"

static const char kSrc[] = "src/undo";

namespace {

struct undo_record {
  uint32_t type;
  uint32_t screen;
  union {
    struct {
      window *w;
      window *link_source;
      ss_exchange *exchange;
      instr *instrument;
      uint32_t tools;
    } win;  // 2
    struct {
      window *w;
      uint32_t role;
      uint32_t tools;
      instr *instrument;
    } role;  // 41
    struct {
      window *w;
      window *linked;
    } link;  // 53
    desktop_layout *layout;  // 5
    window *w;               // 6, 7, 22
    uint32_t value;          // 8, 9, 30, 52
    int32_t state;           // 33
    struct {
      uint32_t watchbar, minibar, toolbars;
      int32_t desktop;
    } bars;  // 10
    struct {
      scan *s;
      uint32_t held;
    } scan;  // 13, 14, 54
    struct {
      wlist *wl;
      instr *in;
      int32_t index;
    } wl;  // 15, 16, 20, 21
    struct {
      rss_feed *feed;
      uint32_t period;
      char *url;
      char *title;
    } feed;  // 47, 48, 49
    struct {
      int32_t kind, from, to;
    } move;  // 55
    struct {
      widget *content;
      rss_feed *feed;
      uint32_t detail;
    } rsswin;  // 46
    struct {
      const undo_record_ops *ops;
      void *object;
      void *saved;
    } own;  // the owners' types
    unsigned char raw[88];
  } u;
};
static_assert(sizeof(undo_record) == 96, "an undo record is 96 bytes");

// The types restored here; every other type goes through registered ops.
bool builtin(int type) {
  switch (type) {
    case UNDO_GROUP_BEGIN: case UNDO_GROUP_END: case UNDO_WINDOW: case UNDO_LAYOUT:
    case UNDO_REMOVED_WINDOW: case UNDO_NEW_WINDOW: case UNDO_ACTION_FLAG:
    case UNDO_DEFAULT_EXCHANGE: case UNDO_SCREEN_BARS: case UNDO_SCAN_DELETED:
    case UNDO_SCAN_SAVED: case UNDO_WLIST_DELETED: case UNDO_WLIST_CREATED: case UNDO_ZOOM:
    case UNDO_WLIST_REMOVE: case UNDO_WLIST_ADD: case UNDO_TOOLS_TOGGLE: case UNDO_QUICK_WINDOW:
    case UNDO_HELP: case UNDO_CONFIGBOX: case UNDO_HILIGHT_WATCHED: case UNDO_SCREEN_STATE:
    case UNDO_WINDOW_ROLE: case UNDO_DOCUMENT_HIDDEN: case UNDO_DOCUMENT_SHOWN:
    case UNDO_RSS_FEED_DELETED: case UNDO_RSS_FEED_CREATED: case UNDO_RSS_FEED_SETTINGS:
    case UNDO_STYLE_SIZE: case UNDO_WINDOW_LINK: case UNDO_NEW_SCAN: case UNDO_LIST_MOVE:
    case UNDO_RSSWIN: case UNDO_TICKBAR:
      return true;
    default:
      return false;
  }
}

}  // namespace

static struct {
  undo_record *ring;
  int head, tail;
  int undoing;     // nesting of restores under way
  uint32_t depth;  // open groups
  int open_at;     // slot of the outermost open group's opening, -1 when none
  uint32_t pushed;
  const undo_record_ops *ops[UNDO_TYPES];
} S = {nullptr, 0, 0, 0, 0, -1, 0, {}};

static int prev_slot(int i) { return i == 0 ? kUndoRecords - 1 : i - 1; }
static int next_slot(int i) { return i == kUndoRecords - 1 ? 0 : i + 1; }
static bool ring_empty() { return S.head == S.tail; }
static undo_record *newest() { return ring_empty() ? nullptr : &S.ring[prev_slot(S.head)]; }

static void moved_head() { screen_request_toolbar_refresh(); }

static void redraw() {
  if (screen_is_up()) screen_request_redraw();
}

// ---- release ----

static void release(undo_record *r, int reason) {
  if (r->type >= UNDO_TYPES) return;  // spent: it holds nothing
  switch (r->type) {
    case UNDO_LAYOUT:
      desktop_layout_free(r->u.layout);
      r->u.layout = nullptr;
      break;
    case UNDO_REMOVED_WINDOW:
      // A window dropped with its step (or at shutdown) is nobody's any
      // more. A performed record's window went back with the layout of its
      // group; a cancelled one stays in the alive list until shutdown.
      if ((reason == UNDO_DROPPED || reason == UNDO_SHUTDOWN) && r->u.w && !r->u.w->parent)
        widget_delete(r->u.w);
      break;
    case UNDO_NEW_WINDOW:
      // Undone: the window was taken out of its desktop. A record dropped
      // without restoring (its screen had closed) leaves it in place.
      if (reason == UNDO_PERFORMED && r->u.w && !r->u.w->parent) widget_delete(r->u.w);
      break;
    case UNDO_SCAN_DELETED:
    case UNDO_NEW_SCAN:
      if (r->u.scan.held && r->u.scan.s) scan_delete(r->u.scan.s);
      r->u.scan.held = 0;
      break;
    case UNDO_WLIST_DELETED:
      // Not linked again (cancelled, shut down, dropped): the deletion stands.
      if (reason != UNDO_PERFORMED && r->u.wl.wl && !wlist_is_in_use(r->u.wl.wl))
        wlist_delete(r->u.wl.wl);
      break;
    case UNDO_WLIST_CREATED:
      if (reason == UNDO_PERFORMED && r->u.wl.wl && !wlist_is_in_use(r->u.wl.wl))
        wlist_delete(r->u.wl.wl);
      break;
    case UNDO_RSS_FEED_SETTINGS:
      free(r->u.feed.url);
      free(r->u.feed.title);
      r->u.feed.url = r->u.feed.title = nullptr;
      break;
    default:
      if (!builtin(int(r->type)) && r->u.own.ops && r->u.own.saved && r->u.own.ops->release)
        r->u.own.ops->release(r->u.own.saved, reason);
      break;
  }
  r->type = UNDO_TYPES;  // spent
}

// ---- push ----

// Drops the oldest step of a full ring.
static void drop_oldest() {
  undo_record *r = &S.ring[S.tail];
  if (r->type != UNDO_GROUP_BEGIN) {
    release(r, UNDO_DROPPED);
    S.tail = next_slot(S.tail);
    return;
  }
  // The new record (just before head) is never part of the dropped step.
  const int fresh = prev_slot(S.head);
  while (S.tail != fresh && S.ring[S.tail].type != UNDO_GROUP_END) {
    release(&S.ring[S.tail], UNDO_DROPPED);
    S.tail = next_slot(S.tail);
  }
  if (S.tail != fresh) {
    release(&S.ring[S.tail], UNDO_DROPPED);
    S.tail = next_slot(S.tail);
  }
}

static undo_record *push(int type) {
  // Modules tested without the application's start order push before any
  // init: the ring is made on first use then.
  if (!S.ring && undo_init() != 0) return nullptr;
  if (S.undoing) log(LOG_ERROR, kSrc, "push in undo");
  // An open group that fills the whole ring can't be dropped as one step:
  // its further records are refused (keeping a slot for its closing), so
  // that it stays whole and a later push drops it at once.
  const int held = (S.head - S.tail + kUndoRecords) % kUndoRecords;
  if (S.open_at == S.tail && held >= (type == UNDO_GROUP_END ? kUndoRecords - 1 : kUndoRecords - 2)) {
    log(LOG_ERROR, kSrc, "undo group larger than %d records", kUndoRecords - 1);
    return nullptr;
  }
  undo_record *r = &S.ring[S.head];
  memset(r, 0, sizeof *r);
  r->type = uint32_t(type);
  r->screen = uint32_t(screen_current_index());
  S.head = next_slot(S.head);
  S.pushed++;
  if (S.head == S.tail) drop_oldest();
  moved_head();
  return r;
}

// Takes back the newest record (a push whose second allocation failed).
static void withdraw() {
  if (ring_empty()) {
    log(LOG_ERROR, kSrc, "undo underflow");
    return;
  }
  S.head = prev_slot(S.head);
  moved_head();
}

static bool refuse() {
  if (!S.undoing) return false;
  log(LOG_WARN, kSrc, "won't undo while undoing");
  return true;
}

// A record of an owner's type: a copy through its ops, or a marker.
static int push_owned(int type, void *object, void *args = nullptr) {
  if (refuse()) return 0;
  const undo_record_ops *ops = S.ops[type];
  void *saved = nullptr;
  if (ops && ops->save) {
    saved = ops->save(args ? args : object);
    if (!saved) return -1;  // nothing to record, or the copy failed
  }
  undo_record *r = push(type);
  if (!r) {
    if (saved && ops->release) ops->release(saved, UNDO_CANCELLED);
    return -1;
  }
  r->u.own.ops = ops;
  r->u.own.object = args ? nullptr : object;
  r->u.own.saved = saved;
  return 0;
}

// ---- restore ----

static int restore_window(undo_record *r) {
  window *w = r->u.win.w;
  if (!w) return -1;
  if (r->u.win.exchange) window_set_exchange(w, r->u.win.exchange, 0);
  window_set_instrument(w, r->u.win.instrument);
  if (r->u.win.tools) window_show_tools(w);
  else window_hide_tools(w);
  // The panel reads the restored settings after the next redraw.
  tools_refresh_later(window_get_current_tools(w));
  if (r->u.win.link_source) window_link_to(r->u.win.link_source, w);
  return 0;
}

static void show_bar(uint32_t bit, bool on) {
  if (on) screen_show_bars(bit);
  else screen_hide_bars(bit);
}

static void restore_bars(undo_record *r) {
  show_bar(BAR_WATCHBAR, r->u.bars.watchbar != 0);
  show_bar(BAR_MINIBAR, r->u.bars.minibar != 0);
  uint32_t t = r->u.bars.toolbars;
  show_bar(BAR_TOOLBAR0, t == 0 || t == 2);
  show_bar(BAR_TOOLBAR1, t == 1 || t == 2);
  if (r->u.bars.desktop >= 0 && r->u.bars.desktop != screen_desktop_index())
    screen_switch_desktop(r->u.bars.desktop);
  redraw();
}

static void restore_screen_state(int n, int32_t state) {
  if (!screen_is_open(n)) {
    if (state < 0) return;
    screen_open(n);
  }
  screen_set_state(n, state);
}

static void move_list(int32_t kind, int32_t from, int32_t to) {
  // Undo moves the entry now at `to` back to `from`.
  switch (kind) {
    case kUndoListWatchlists: wlist_move(uint32_t(to), uint32_t(from)); break;
    case kUndoListScans: scan_move(uint32_t(to), uint32_t(from)); break;
    case kUndoListChartStyles: cstyle_move(to, from); break;
    case kUndoListFeeds: rss_feed_move(to, from); break;
    default: break;
  }
  redraw();
}

static int restore(undo_record *r) {
  if (r->type >= UNDO_TYPES) return 0;  // spent: its window has gone
  switch (r->type) {
    case UNDO_GROUP_BEGIN: return 0;
    case UNDO_WINDOW: return restore_window(r);
    case UNDO_LAYOUT: return desktop_layout_restore(r->u.layout) == 0 ? 0 : -1;
    case UNDO_REMOVED_WINDOW: return 0;
    case UNDO_NEW_WINDOW: {
      window *w = r->u.w;
      if (!w) return -1;
      desktop *d = desktop_of_widget(w);
      if (d) desktop_forget_window(d, w);
      if (w->parent) {
        auto *pc = static_cast<container_class *>(w->parent->cls);
        pc->remove(static_cast<container *>(w->parent), w);
      }
      if (d) desktop_relayout(d);
      return 0;
    }
    case UNDO_ACTION_FLAG: action_set_action_flag(r->u.value); return 0;
    case UNDO_DEFAULT_EXCHANGE: action_set_default_exchange(r->u.value); return 0;
    case UNDO_SCREEN_BARS: restore_bars(r); return 0;
    case UNDO_SCAN_DELETED:
      scan_relink(r->u.scan.s);
      r->u.scan.held = 0;  // linked again: the list owns it
      redraw();
      return 0;
    case UNDO_SCAN_SAVED: scan_unlink(r->u.scan.s); redraw(); return 0;
    case UNDO_NEW_SCAN:
      scan_unlink(r->u.scan.s);
      r->u.scan.held = 1;  // out of the list: the record deletes it
      redraw();
      return 0;
    case UNDO_WLIST_DELETED: wlist_relink(r->u.wl.wl); redraw(); return 0;
    case UNDO_WLIST_CREATED: wlist_unlink(r->u.wl.wl); redraw(); return 0;
    case UNDO_WLIST_REMOVE: return wlist_insert_at(r->u.wl.wl, r->u.wl.in, r->u.wl.index) < 0 ? -1 : 0;
    case UNDO_WLIST_ADD: return wlist_remove(r->u.wl.wl, r->u.wl.in) < 0 ? -1 : 0;
    case UNDO_ZOOM: screen_unzoom(); return 0;
    case UNDO_TOOLS_TOGGLE: window_toggle_tools(r->u.w); return 0;
    case UNDO_QUICK_WINDOW: screen_hide_quick_window(); return 0;
    case UNDO_HELP: screen_hide_help(); return 0;
    case UNDO_CONFIGBOX: screen_hide_configbox(); return 0;
    case UNDO_HILIGHT_WATCHED: action_set_hilight_watched(r->u.value); return 0;
    case UNDO_SCREEN_STATE: restore_screen_state(int(r->screen), r->u.state); return 0;
    case UNDO_WINDOW_ROLE:
      window_set_role(r->u.role.w, r->u.role.role);
      // The role may have swapped the instrument put back just before (a
      // stock becomes its issuer in the news roles): the saved one returns.
      if (r->u.role.w->instrument != r->u.role.instrument)
        window_set_instrument(r->u.role.w, r->u.role.instrument);
      if (r->u.role.tools) window_show_tools(r->u.role.w);
      else window_hide_tools(r->u.role.w);
      return 0;
    case UNDO_DOCUMENT_HIDDEN: screen_show_bars(BAR_POPUP_DOCUMENT); return 0;
    case UNDO_DOCUMENT_SHOWN: screen_hide_bars(BAR_POPUP_DOCUMENT); return 0;
    case UNDO_RSS_FEED_DELETED: rss_feed_relink(r->u.feed.feed); redraw(); return 0;
    case UNDO_RSS_FEED_CREATED: rss_feed_release(r->u.feed.feed); redraw(); return 0;
    case UNDO_RSS_FEED_SETTINGS: {
      rss_feed *f = r->u.feed.feed;
      rss_feed_set_period(f, r->u.feed.period);
      if (r->u.feed.url) rss_feed_set_url(f, r->u.feed.url);
      if (r->u.feed.title) rss_feed_set_title(f, r->u.feed.title);
      return 0;
    }
    case UNDO_STYLE_SIZE: style_set_size(int(r->u.value)); return 0;
    case UNDO_RSSWIN:
      rsswin_set_feed(r->u.rsswin.content, r->u.rsswin.feed);
      rsswin_set_detail(r->u.rsswin.content, r->u.rsswin.detail);
      return 0;
    case UNDO_TICKBAR:
      if (widget *tb = screen_tickbar()) tickbar_set_on(tb, int(r->u.value));
      return 0;
    case UNDO_WINDOW_LINK: window_link_to(r->u.link.w, r->u.link.linked); return 0;
    case UNDO_LIST_MOVE: move_list(r->u.move.kind, r->u.move.from, r->u.move.to); return 0;
    default:
      if (r->u.own.ops && r->u.own.saved && r->u.own.ops->restore)
        return r->u.own.ops->restore(r->u.own.saved, r->u.own.object) == 0 ? 0 : -1;
      return 0;  // a marker
  }
}

// ---- the ring ----

static void release_all(int reason) {
  S.undoing++;  // what a release sets off records nothing
  while (!ring_empty()) {
    S.head = prev_slot(S.head);
    release(&S.ring[S.head], reason);
  }
  S.undoing--;
}

int undo_init(void) {
  if (S.ring) release_all(UNDO_SHUTDOWN);  // started again: what was kept goes
  if (!S.ring) {
    S.ring = static_cast<undo_record *>(calloc(kUndoRecords, sizeof(undo_record)));
    if (!S.ring) {
      log(LOG_ERROR, kSrc, "can't alloc %d undos!", kUndoRecords);
      return -1;
    }
  }
  S.head = S.tail = 0;
  S.undoing = 0;
  S.depth = 0;
  S.open_at = -1;
  return 0;
}

void undo_fini(void) {
  if (!S.ring) return;
  release_all(UNDO_SHUTDOWN);
  free(S.ring);
  S.ring = nullptr;
  S.head = S.tail = 0;
  S.depth = 0;
  S.open_at = -1;
}

bool undo_can_undo() { return S.ring && !ring_empty(); }

void undo_register_type(int type, const undo_record_ops *ops) {
  if (type < 0 || type >= UNDO_TYPES || builtin(type)) {
    log(LOG_ERROR, kSrc, "can't register undo type %d", type);
    return;
  }
  S.ops[type] = ops;
}

const undo_record_ops *undo_type_ops(int type) {
  return type >= 0 && type < UNDO_TYPES ? S.ops[type] : nullptr;
}

int undo_begin() {
  if (refuse()) return 0;
  if (S.depth == 0) {
    int at = S.head;
    if (push(UNDO_GROUP_BEGIN)) S.open_at = at;
  }
  S.depth++;
  return 0;
}

int undo_end() {
  if (refuse()) return 0;
  if (S.depth == 0 || !S.ring || ring_empty()) {
    log(LOG_ERROR, kSrc, "undo underflow when ending multi push");
    return -1;
  }
  S.depth--;
  if (S.depth > 0) return 0;
  // The outermost group ends: with nothing pushed inside, its opening goes.
  undo_record *r = newest();
  if (r && r->type == UNDO_GROUP_BEGIN && prev_slot(S.head) == S.open_at) {
    S.head = prev_slot(S.head);
    moved_head();
  } else if (S.open_at >= 0) {
    push(UNDO_GROUP_END);
  }
  // Else the opening went (cancelled from inside the group): a closing
  // would have nothing to stop at, and what is left stands as single steps.
  S.open_at = -1;
  return 0;
}

// Restores the newest record (a group closing restores its whole group).
// With `done` given, a performed record is not released but its slot is
// added there: a group releases its records once all of them are back, so
// that nothing the group still puts back (a list a window shows again, say)
// is freed under it. No record is pushed while undoing, so the slots keep
// their records until then.
static int perform_one(std::vector<int> *done = nullptr);

static int perform_group() {
  int rc = 0;
  std::vector<int> done;
  while (!ring_empty() && newest()->type != UNDO_GROUP_BEGIN) {
    // A record that failed (its screen closed) is released and the rest of
    // the group still goes back, so that the group leaves the ring whole.
    if (perform_one(&done) != 0) rc = -1;
  }
  int last = -1;
  if (ring_empty()) log(LOG_ERROR, kSrc, "undo underflow");
  else last = perform_one(&done);  // the opening: restores nothing
  for (int slot : done) release(&S.ring[slot], UNDO_PERFORMED);
  return rc != 0 ? rc : last;
}

static void performed(undo_record *r, std::vector<int> *done) {
  if (done) done->push_back(int(r - S.ring));
  else release(r, UNDO_PERFORMED);
}

static int perform_one(std::vector<int> *done) {
  if (ring_empty()) {
    log(LOG_ERROR, kSrc, "undo underflow");
    return -1;
  }
  S.head = prev_slot(S.head);
  moved_head();
  undo_record *r = &S.ring[S.head];
  if (S.open_at == S.head) S.open_at = -1;
  S.undoing++;
  int rc = 0;
  if (r->type == UNDO_GROUP_END) {
    rc = perform_group();
  } else if (!screen_is_up()) {
    // No screens (before they are made): nothing to make current.
    rc = restore(r);
    performed(r, done);
  } else if (r->type == UNDO_SCREEN_STATE) {
    // A screen's state puts the screen back even when it has closed since,
    // so it is made current whether open or not.
    screen_force_context(int(r->screen));
    rc = restore(r);
    screen_pop();
    performed(r, done);
  } else if (!screen_push(int(r->screen))) {
    // Its screen has closed: nothing is restored, so the change stands.
    release(r, UNDO_CANCELLED);
    rc = -1;
  } else {
    rc = restore(r);
    screen_pop();
    performed(r, done);
  }
  S.undoing--;
  return rc;
}

int undo_perform() {
  if (!S.ring || ring_empty()) {
    log(LOG_ERROR, kSrc, "undo underflow");
    return -1;
  }
  return perform_one();
}

int undo_cancel() {
  if (!S.ring || ring_empty()) {
    log(LOG_ERROR, kSrc, "undo underflow");
    log(LOG_ERROR, kSrc, "undo underflow when cancelling");
    return -1;
  }
  undo_record *r = newest();
  if (r->type != UNDO_GROUP_END) {
    S.head = prev_slot(S.head);
    if (S.open_at == S.head) S.open_at = -1;
    release(r, UNDO_CANCELLED);
    moved_head();
    return 0;
  }
  if (S.depth > 0) log(LOG_ERROR, kSrc, "cancelling a nested undo");
  for (;;) {
    if (ring_empty()) {
      log(LOG_ERROR, kSrc, "undo underflow");
      break;
    }
    S.head = prev_slot(S.head);
    undo_record *x = &S.ring[S.head];
    bool opening = x->type == UNDO_GROUP_BEGIN;
    release(x, UNDO_CANCELLED);
    if (opening) break;
  }
  moved_head();
  return 0;
}

int undo_cancel_type(int type) {
  if (!S.ring) return -1;
  bool found = false;
  for (int i = S.head; i != S.tail;) {
    i = prev_slot(i);
    if (int(S.ring[i].type) == type) {
      found = true;
      break;
    }
  }
  if (!found) return -1;
  if (S.depth > 0) log(LOG_ERROR, kSrc, "cancelling a nested undo");
  for (;;) {
    if (ring_empty()) {
      log(LOG_ERROR, kSrc, "undo underflow");
      return -1;
    }
    S.head = prev_slot(S.head);
    undo_record *x = &S.ring[S.head];
    bool hit = int(x->type) == type;
    if (S.open_at == S.head) S.open_at = -1;
    release(x, UNDO_CANCELLED);
    if (hit) break;
  }
  moved_head();
  return 0;
}

int undo_cancel_document() { return undo_cancel_type(UNDO_DOCUMENT_SHOWN); }
int undo_cancel_zoom() { return undo_cancel_type(UNDO_ZOOM); }
int undo_cancel_quick_window() { return undo_cancel_type(UNDO_QUICK_WINDOW); }
int undo_cancel_help() { return undo_cancel_type(UNDO_HELP); }
int undo_cancel_configbox() { return undo_cancel_type(UNDO_CONFIGBOX); }

void undo_forget_scan_source(wlist *wl) {
  if (!S.ring || !wl) return;
  for (int i = S.head; i != S.tail;) {
    i = prev_slot(i);
    undo_record *r = &S.ring[i];
    if (r->type != UNDO_WATCHLIST_SCAN || !r->u.own.saved) continue;
    auto *c = static_cast<undo_scan_copy *>(r->u.own.saved);
    if (c->copy && c->copy->source == wl) {
      log(LOG_WARN, kSrc, "forgetting scan source %p from %p", static_cast<void *>(wl),
          static_cast<void *>(c->copy));
      c->copy->source = nullptr;
    }
  }
}

static bool part_of(const window *w, const void *object) {
  if (!object) return false;
  for (widget *c : w->child)
    if (c == object) return true;
  for (widget *t : w->tools)
    if (t == object) return true;
  return false;
}

static bool lists(const desktop_layout *l, const window *w) {
  if (!l) return false;
  for (int32_t i = 0; i < l->n; i++)
    if (l->windows[i] == w) return true;
  return false;
}

void undo_forget_window(window *w) {
  if (!S.ring || !w) return;
  for (int i = S.tail; i != S.head; i = next_slot(i)) {
    undo_record *r = &S.ring[i];
    bool gone = false;
    switch (r->type) {
      case UNDO_WINDOW:
        if (r->u.win.w == w) gone = true;
        else if (r->u.win.link_source == w) r->u.win.link_source = nullptr;
        break;
      case UNDO_WINDOW_ROLE: gone = r->u.role.w == w; break;
      case UNDO_WINDOW_LINK: gone = r->u.link.w == w || r->u.link.linked == w; break;
      case UNDO_REMOVED_WINDOW:
      case UNDO_NEW_WINDOW:
      case UNDO_TOOLS_TOGGLE:
        gone = r->u.w == w;
        break;
      case UNDO_RSSWIN: gone = part_of(w, r->u.rsswin.content); break;
      case UNDO_LAYOUT:
        if (lists(r->u.layout, w)) {
          desktop_layout_free(r->u.layout);
          r->u.layout = nullptr;
          gone = true;
        } else if (r->u.layout && r->u.layout->focus == w) {
          r->u.layout->focus = nullptr;
        }
        break;
      default:
        if (r->type < UNDO_TYPES && !builtin(int(r->type)) && part_of(w, r->u.own.object)) {
          if (r->u.own.ops && r->u.own.saved && r->u.own.ops->release)
            r->u.own.ops->release(r->u.own.saved, UNDO_CANCELLED);
          gone = true;
        }
        break;
    }
    if (gone) r->type = UNDO_TYPES;  // restores and releases nothing
  }
}

// ---- pushes ----

static int push_value(int type, uint32_t value) {
  if (refuse()) return 0;
  undo_record *r = push(type);
  if (!r) return -1;
  r->u.value = value;
  return 0;
}

static int push_none(int type) {
  if (refuse()) return 0;
  return push(type) ? 0 : -1;
}

static int push_win(int type, window *w) {
  if (refuse()) return 0;
  undo_record *r = push(type);
  if (!r) return -1;
  r->u.w = w;
  return 0;
}

static void push_role(window *w) {
  if (undo_record *r = push(UNDO_WINDOW_ROLE)) {
    r->u.role.w = w;
    r->u.role.role = w->role;
    r->u.role.tools = w->show_tools;
    r->u.role.instrument = w->instrument;
  }
}

static void push_subject(window *w) {
  if (undo_record *r = push(UNDO_WINDOW)) {
    r->u.win.w = w;
    r->u.win.link_source = w->link;
    r->u.win.exchange = w->exchange;
    r->u.win.instrument = w->instrument;
    r->u.win.tools = w->show_tools;
  }
}

int undo_push_window(window *w) {
  if (refuse() || !w) return 0;
  undo_begin();
  // A subject passes along links both ways, and the windows it reaches may
  // change role with it: the window's source and followers are recorded
  // too (first, so that they are put back last, exactly as they were).
  std::vector<window *> followers;
  if (desktop *d = desktop_of_widget(w))
    for (window *o : desktop_windows(d->child))
      if (o != w && o->link == w) followers.push_back(o);
  for (window *o : followers) {
    push_role(o);
    push_subject(o);
  }
  if (w->link && w->link != w) {
    push_role(w->link);
    push_subject(w->link);
  }
  for (window *o : followers) {
    if (undo_record *r = push(UNDO_WINDOW_LINK)) {
      r->u.link.w = w;
      r->u.link.linked = o;
    }
  }
  push_role(w);
  if (w->role == kRoleWatchlist && w->child[kWinWatchlist])
    undo_push_watchlist_scan(w->child[kWinWatchlist]);
  if (w->child[kWinRss]) undo_push_rsswin(w->child[kWinRss]);
  if (w->child[kWinDepth]) undo_push_depthwin(w->child[kWinDepth]);
  if (w->child[kWinTradelist]) undo_push_tradelist(w->child[kWinTradelist]);
  if (w->child[kWinHistnews]) undo_push_histnews(w->child[kWinHistnews]);
  if (w->child[kWinNewstoday]) undo_push_newstoday(w->child[kWinNewstoday]);
  if (w->child[kWinSearch]) undo_push_searchwin(w->child[kWinSearch]);
  if (w->child[kWinDoc]) undo_push_docwin(w->child[kWinDoc]);
  if (w->child[kWinIndexlist]) undo_push_indexlist(w->child[kWinIndexlist]);
  if (w->child[kWinChart]) undo_push_chart_style(w->child[kWinChart]);
  if (w->child[kWinTerminal]) undo_push_terminal(w->child[kWinTerminal]);
  push_subject(w);
  undo_end();
  return 0;
}

int undo_push_quote_popup(int32_t item) {
  undo_quote_popup_args a{item};
  return push_owned(UNDO_QUOTE_POPUP, nullptr, &a);
}

int undo_push_desktop_layout(desktop *d) {
  if (refuse()) return 0;
  if (!d) return -1;
  undo_record *r = push(UNDO_LAYOUT);
  if (!r) return -1;
  desktop_layout *l = desktop_layout_save(d);
  if (!l) {
    withdraw();
    return -1;
  }
  r->u.layout = l;
  return 0;
}

int undo_push_layout_snapshot(desktop_layout *snapshot) {
  if (refuse() || !snapshot) {
    desktop_layout_free(snapshot);
    return 0;
  }
  undo_record *r = push(UNDO_LAYOUT);
  if (!r) {
    desktop_layout_free(snapshot);
    return -1;
  }
  r->u.layout = snapshot;
  return 0;
}

int undo_push_removed_window(window *w) {
  if (refuse()) {
    // Nothing will put it back: it is deleted now rather than lost.
    if (w && !w->parent) widget_delete(w);
    return 0;
  }
  undo_record *r = push(UNDO_REMOVED_WINDOW);
  if (!r) {
    if (w && !w->parent) widget_delete(w);
    return -1;
  }
  r->u.w = w;
  return 0;
}

int undo_push_new_window(window *w) { return push_win(UNDO_NEW_WINDOW, w); }
int undo_push_action_flag(uint32_t old) { return push_value(UNDO_ACTION_FLAG, old); }
int undo_push_default_exchange(uint32_t old_id) { return push_value(UNDO_DEFAULT_EXCHANGE, old_id); }

int undo_push_screen_bars() {
  if (refuse()) return 0;
  undo_record *r = push(UNDO_SCREEN_BARS);
  if (!r) return -1;
  uint32_t bars = screen_bars_shown();
  r->u.bars.watchbar = (bars & BAR_WATCHBAR) != 0;
  r->u.bars.minibar = (bars & BAR_MINIBAR) != 0;
  bool left = bars & BAR_TOOLBAR0, right = bars & BAR_TOOLBAR1;
  r->u.bars.toolbars = left && right ? 2 : left ? 0 : right ? 1 : 3;
  r->u.bars.desktop = screen_desktop_index();
  return 0;
}

static int push_scan(int type, scan *s, uint32_t held) {
  if (refuse()) return 0;
  undo_record *r = push(type);
  if (!r) return -1;
  r->u.scan.s = s;
  r->u.scan.held = held;
  return 0;
}

int undo_push_scan_deleted(scan *s) { return push_scan(UNDO_SCAN_DELETED, s, 1); }
int undo_push_scan_saved(scan *s) { return push_scan(UNDO_SCAN_SAVED, s, 0); }
// A new scan stays the list's until the record takes it out.
int undo_push_new_scan(scan *s) { return push_scan(UNDO_NEW_SCAN, s, 0); }

static int push_wlist(int type, wlist *wl, instr *in, int32_t index) {
  if (refuse()) return 0;
  undo_record *r = push(type);
  if (!r) return -1;
  r->u.wl.wl = wl;
  r->u.wl.in = in;
  r->u.wl.index = index;
  return 0;
}

int undo_push_wlist_deleted(wlist *wl) { return push_wlist(UNDO_WLIST_DELETED, wl, nullptr, -1); }
int undo_push_wlist_created(wlist *wl) { return push_wlist(UNDO_WLIST_CREATED, wl, nullptr, -1); }
int undo_push_wlist_remove(wlist *wl, instr *in, int32_t index) {
  return push_wlist(UNDO_WLIST_REMOVE, wl, in, index);
}
int undo_push_wlist_add(wlist *wl, instr *in) { return push_wlist(UNDO_WLIST_ADD, wl, in, -1); }

int undo_push_chart_style(widget *chart) { return push_owned(UNDO_CHART_STYLE, chart); }
int undo_push_ticker(widget *ticker) { return push_owned(UNDO_TICKER, ticker); }
int undo_push_zoom() { return push_none(UNDO_ZOOM); }
int undo_push_tools_toggle(window *w) { return push_win(UNDO_TOOLS_TOGGLE, w); }
int undo_push_cstyle_deleted(cstyle *style) { return push_owned(UNDO_CSTYLE_DELETED, style); }
int undo_push_cstyle_created(cstyle *style) { return push_owned(UNDO_CSTYLE_CREATED, style); }
int undo_push_quick_window() { return push_none(UNDO_QUICK_WINDOW); }
int undo_push_help() { return push_none(UNDO_HELP); }
int undo_push_configbox() { return push_none(UNDO_CONFIGBOX); }

int undo_push_toolbar_entry(int32_t slot, instr *old) {
  undo_toolbar_entry_args a{slot, old};
  return push_owned(UNDO_TOOLBAR_ENTRY, nullptr, &a);
}

int undo_push_watchlist_scan(widget *content) { return push_owned(UNDO_WATCHLIST_SCAN, content); }
int undo_push_hilight_watched(uint32_t old) { return push_value(UNDO_HILIGHT_WATCHED, old); }
int undo_push_mini_quote(widget *mq) { return push_owned(UNDO_MINI_QUOTE, mq); }
int undo_push_mini_quotes(widget *watchbar) { return push_owned(UNDO_MINI_QUOTES, watchbar); }

int undo_push_screen_state() {
  if (refuse()) return 0;
  undo_record *r = push(UNDO_SCREEN_STATE);
  if (!r) return -1;
  r->u.state = screen_window_state(int(r->screen));
  return 0;
}

int undo_push_indexlist(widget *c) { return push_owned(UNDO_INDEXLIST, c); }
int undo_push_depthwin(widget *c) { return push_owned(UNDO_DEPTHWIN, c); }
int undo_push_tradelist(widget *c) { return push_owned(UNDO_TRADELIST, c); }
int undo_push_histnews(widget *c) { return push_owned(UNDO_HISTNEWS, c); }
int undo_push_newstoday(widget *c) { return push_owned(UNDO_NEWSTODAY, c); }
int undo_push_searchwin(widget *c) { return push_owned(UNDO_SEARCHWIN, c); }
int undo_push_docwin(widget *c) { return push_owned(UNDO_DOCWIN, c); }
int undo_push_tools(widget *panel) { return push_owned(UNDO_TOOLS, panel); }

int undo_push_window_tools(widget *w, uint32_t role) {
  if (!window_is(w)) return 0;
  widget *panel = window_get_tools(static_cast<window *>(w), role);
  return panel ? undo_push_tools(panel) : 0;
}

int undo_push_groupbar(widget *gb) { return push_owned(UNDO_GROUPBAR, gb); }
int undo_push_document_hidden() { return push_none(UNDO_DOCUMENT_HIDDEN); }
int undo_push_document_shown() { return push_none(UNDO_DOCUMENT_SHOWN); }
// Only a feed window that has a feed is recorded.
int undo_push_rsswin(widget *c) {
  if (refuse() || !rsswin_is(c) || !rsswin_get_feed(c)) return 0;
  undo_record *r = push(UNDO_RSSWIN);
  if (!r) return -1;
  r->u.rsswin.content = c;
  r->u.rsswin.feed = rsswin_get_feed(c);
  r->u.rsswin.detail = rsswin_get_detail(c);
  return 0;
}

static int push_feed(int type, rss_feed *feed) {
  if (refuse()) return 0;
  undo_record *r = push(type);
  if (!r) return -1;
  r->u.feed.feed = feed;
  return 0;
}

int undo_push_rss_feed_deleted(rss_feed *feed) { return push_feed(UNDO_RSS_FEED_DELETED, feed); }
int undo_push_rss_feed_created(rss_feed *feed) { return push_feed(UNDO_RSS_FEED_CREATED, feed); }

int undo_push_rss_feed_settings(rss_feed *feed) {
  if (refuse()) return 0;
  if (!feed) return -1;
  undo_record *r = push(UNDO_RSS_FEED_SETTINGS);
  if (!r) return -1;
  r->u.feed.feed = feed;
  r->u.feed.period = rss_feed_period(feed);
  if (rss_feed_has_url(feed)) {
    r->u.feed.url = strdup(rss_feed_url(feed));
    if (!r->u.feed.url) {
      log(LOG_ERROR, kSrc, "can't dup rss url");
      withdraw();
      return -1;
    }
  }
  if (rss_feed_has_title(feed)) r->u.feed.title = strdup(rss_feed_title(feed));
  return 0;
}

int undo_push_optionlist(widget *c) { return push_owned(UNDO_OPTIONLIST, c); }
int undo_push_style_size() { return push_value(UNDO_STYLE_SIZE, uint32_t(style_size())); }

int undo_push_list_move(int32_t kind, int32_t from, int32_t to) {
  if (refuse()) return 0;
  undo_record *r = push(UNDO_LIST_MOVE);
  if (!r) return -1;
  r->u.move.kind = kind;
  r->u.move.from = from;
  r->u.move.to = to;
  return 0;
}

int undo_push_wlist_move(int32_t from, int32_t to) { return undo_push_list_move(kUndoListWatchlists, from, to); }
int undo_push_scan_move(int32_t from, int32_t to) { return undo_push_list_move(kUndoListScans, from, to); }
int undo_push_cstyle_move(int32_t from, int32_t to) { return undo_push_list_move(kUndoListChartStyles, from, to); }
int undo_push_rss_feed_move(int32_t from, int32_t to) { return undo_push_list_move(kUndoListFeeds, from, to); }

int undo_push_tickbar_was_on() { return push_value(UNDO_TICKBAR, 1); }
int undo_push_tickbar_was_off() { return push_value(UNDO_TICKBAR, 0); }

int undo_push_terminal(widget *c) { return push_owned(UNDO_TERMINAL, c); }
int undo_push_alert(const undo_alert_args *fields) {
  undo_alert_args a = fields ? *fields : undo_alert_args{};
  return push_owned(UNDO_ALERT, nullptr, &a);
}
int undo_push_alert_added(void *alert) { return push_owned(UNDO_ALERT_ADDED, alert); }

// ---- checks ----

int undo_depth() { return int(S.depth); }

int undo_count() {
  if (!S.ring) return 0;
  return (S.head - S.tail + kUndoRecords) % kUndoRecords;
}

int undo_type_at(int i) {
  if (i < 0 || i >= undo_count()) return -1;
  int slot = (S.head - 1 - i + 2 * kUndoRecords) % kUndoRecords;
  return int(S.ring[slot].type);
}

bool undo_undoing() { return S.undoing > 0; }
uint32_t undo_pushed_count() { return S.pushed; }
