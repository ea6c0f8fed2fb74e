// The news, feed and document panels. Four small subclasses of "tools" that
// share one shape: a flyaway box of sections built once, a refresh that
// reads every control back from the window, and commands that open one undo
// group (the panel's record and the window's own, for each window of the
// linked change) before calling the window's setters. The design decision a
// reader needs first: the panels keep no settings; the feed period, for
// instance, lives in the feed, and the panel converts it each refresh.
//
// Button ids are the numbers the commands switch on (panelkit_find_button
// finds a panel's button by its id).
#include "tools/newstools.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "lib/filter.h"
#include "log.h"
#include "popups/place.h"
#include "rss/rss.h"
#include "screen/screen.h"
#include "ssuser.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/box.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/launch-linux.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"
#include "windows/nuchart.h"
#include "windows/rsswin.h"
#include "windows/window.h"

static const char kSrc[] = "newstools";

// Class slots over the tools class, per panel: build, refresh, summary
// (doctools: restyle instead of summary).
static widget *hn_build(tools *self);
static void hn_refresh(tools *self);
static const char *hn_summary(tools *self);
static widget *nt_build(tools *self);
static void nt_refresh(tools *self);
static const char *nt_summary(tools *self);
static widget *rs_build(tools *self);
static void rs_refresh(tools *self);
static const char *rs_summary(tools *self);
static widget *dc_build(tools *self);
static void dc_refresh(tools *self);
static void dc_restyle(widget *self);

static struct {
  object_type_cache hn, nt, rs, dc;
  std::string summary;  // the summary's scratch text (one panel asks at a time)
} S;

// Button ids.
enum : int32_t {
  // history and today's news
  kIdSensitive = 0, kIdRegular = 1, kIdRelated = 2, kIdHnClear = 3, kIdAsx = 3, kIdNzx = 4, kIdNtClear = 6,
  kIdGroups = 8,
  // feeds
  kIdChange = 0, kIdTitleOnly = 1, kIdBrief = 2, kIdFull = 3, kIdSave = 4, kIdNow = 5,
  // documents
  kIdFirst = 1, kIdBack5 = 2, kIdPrev = 3, kIdNext = 4, kIdFwd5 = 5, kIdLast = 6, kIdPopup = 7, kIdLaunch = 8,
  kIdRotate = 9, kIdFitWidth = 10, kIdFitHeight = 11, kIdFitAuto = 12,
};

constexpr uint32_t kAccentColour = 97;  // the visual style's colour of the history chart and page count
constexpr uint32_t kHistChartOptions = 0x12931;
constexpr int32_t kOverlayVolume = 9;
constexpr int32_t kChartStep = 16;

// ---- shared pieces ------------------------------------------------------------

static void set_sensitive(button *b, bool on) {
  if (b) button_set_sensitive(b, on ? 1 : 0);
}

// Appends a piece; the summary is returned without its first ", ".
static void piece(const char *text) { S.summary += text; }
static const char *finish_summary() {
  std::string &o = S.summary;
  if (o.compare(0, 2, ", ") == 0) return o.c_str() + 2;
  return o.c_str();
}
static void upper_piece(const char *head, const char *text) {
  S.summary += head;
  for (const char *c = text; *c; c++) S.summary += char(toupper(static_cast<unsigned char>(*c)));
}

// Whether committing a search box's text changes the keyword: not when it
// is the keyword already, nor when it is the box's initial prompt while
// there is no keyword (leaving the untouched box filters nothing).
static bool keyword_changes(const char *keyword, const char *text) {
  if (!keyword) return *text && strcmp(text, "Search") != 0;
  return strcmp(keyword, text) != 0;
}

// The linked change of a panel's window: the set, then one undo group with
// every member's panel record and its own record through `push`. The caller
// applies its change to each member and calls tools_link_apply.
static void link_group(tools *p, uint32_t role, int (*push)(widget *content)) {
  tools_link_begin(p->owner, role);
  undo_begin();
  tools_link_push_undo(push);
  undo_end();
}


// ---- announcement history --------------------------------------------------------

static histnewstools *as_hn(widget *w) { return static_cast<histnewstools *>(w); }

void histnewstools_goto_day(histnewstools *p, ss_time t, int record) {
  if (!p || t == 0) return;
  ss_time day = t & ~kSstimeSecondsMask;
  tools_link_begin(p->owner, kRoleHistnews);
  if (record) {
    undo_begin();
    tools_link_push_undo(undo_push_histnews);
    undo_end();
  }
  for (int32_t i = 0; i < tools_link_count(); i++) histnews_refilter(tools_link_content(i), day);
  tools_link_apply();
}

// A click on the chart is an edit; following a drag over it is not.
static void hn_chart_click(nuchart *, ss_time t, void *ctx, int) {
  histnewstools_goto_day(as_hn(static_cast<widget *>(ctx)), t, 1);
}
static void hn_chart_drag(nuchart *, ss_time t, void *ctx, int) {
  histnewstools_goto_day(as_hn(static_cast<widget *>(ctx)), t, 0);
}

static void hn_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  histnewstools *p = as_hn(static_cast<widget *>(arg));
  int on = panelkit_is_on(b);
  link_group(p, kRoleHistnews, undo_push_histnews);
  if (id == kIdHnClear) {
    textbox_set_text(p->search, "");
    gui_set_focus(p->search);
  }
  for (int32_t i = 0; i < tools_link_count(); i++) {
    widget *c = tools_link_content(i);
    switch (id) {
      case kIdSensitive: histnews_set_sensitive_only(c, uint32_t(on)); break;
      case kIdRegular: histnews_set_common(c, uint32_t(on)); break;
      case kIdRelated: histnews_set_related(c, uint32_t(on)); break;
      case kIdHnClear: histnews_clear_keyword(c); break;
      default: break;
    }
  }
  tools_link_apply();
}

static void hn_entry(textbox *t, int code, void *arg, int32_t) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  histnewstools *p = as_hn(static_cast<widget *>(arg));
  std::string text = textbox_text(t);
  if (!keyword_changes(histnews_get_keyword(p->owner), text.c_str())) return;
  link_group(p, kRoleHistnews, undo_push_histnews);
  for (int32_t i = 0; i < tools_link_count(); i++) histnews_set_keyword(tools_link_content(i), text.c_str());
  tools_link_apply();
}

static widget *hn_build(tools *self) {
  histnewstools *p = as_hn(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  const button_fn fn = hn_button;
  p->search_section = panelkit_section(&k, "Search");
  p->search = textbox_new(panelkit_slot(&k), "Search", 20, 0, nullptr, nullptr, hn_entry, p, 0);
  p->clear = panelkit_button(&k, "Clear", kIdHnClear, nullptr, 0, fn);
  p->select_section = panelkit_section(&k, "Select");
  p->sensitive = panelkit_button(&k, "Sensitive", kIdSensitive, nullptr, BUTTON_TOGGLE, fn);
  p->related = panelkit_button(&k, "Related", kIdRelated, nullptr, BUTTON_TOGGLE, fn);
  p->regular = panelkit_button(&k, "Regular", kIdRegular, nullptr, BUTTON_TOGGLE, fn);
  p->date_section = panelkit_section(&k, "Date");
  p->chart = nuchart_cast(nuchart_new(k.row));
  if (!p->chart) log(LOG_ERROR, kSrc, "can't make the history chart");
  if (p->chart) {
    nuchart *c = p->chart;
    nuchart_set_range(c, 9, 0);
    nuchart_set_period(c, 5, 1);
    nuchart_set_type(c, kChartStep);
    const style *st = style_cur();
    nuchart_set_background(c, st ? style_colour(st, kAccentColour) : 0);
    nuchart_add_overlay(c, kOverlayVolume, nullptr);
    nuchart_set_options(c, kHistChartOptions);
    nuchart_set_client_callback(c, hn_chart_click, p, 0);
    nuchart_set_drag_callback(c, hn_chart_drag, p, 0);
  }
  fbox_set_flyaway_weight(p->box, p->date_section, 1);
  fbox_touch_flyaway(p->box, p->select_section);
  fbox_touch_flyaway(p->box, p->search_section);
  if (p->chart) widget_hide(p->chart);
  return p->box;
}

static void hn_refresh(tools *self) {
  histnewstools *p = as_hn(self);
  widget *h = p->owner;
  if (!histnews_is(h)) return;
  if (const char *k = histnews_get_keyword(h))
    if (!gui_has_focus(p->search)) textbox_set_text(p->search, k);
  panelkit_show_on(p->sensitive, int(histnews_get_sensitive_only(h)));
  panelkit_show_on(p->related, int(histnews_get_related(h)));
  panelkit_show_on(p->regular, int(histnews_get_common(h)));
  // The filters mean something only for an issuer with announcements.
  bool on = histnews_get_instr(h) != nullptr;
  set_sensitive(p->sensitive, on);
  set_sensitive(p->related, on);
  set_sensitive(p->regular, on && !histnews_get_sensitive_only(h));
  // Showing the panel shows every control; the chart waits for a stock.
  if (p->chart && !p->stock && widget_is_shown(p->chart)) widget_hide(p->chart);
}

static const char *hn_summary(tools *self) {
  widget *h = self->owner;
  S.summary.clear();
  if (!histnews_is(h)) return "";
  if (const char *k = histnews_get_keyword(h)) upper_piece(", LIKE ", k);
  if (histnews_get_sensitive_only(h)) piece(", SENSITIVE");
  if (!histnews_get_related(h)) piece(", NO RELATED");
  if (!histnews_get_common(h)) piece(", NO COMMON");
  return finish_summary();
}

void histnewstools_set_instrument(widget *panel, instr *stock) {
  if (!histnewstools_is(panel)) return;
  histnewstools *p = as_hn(panel);
  p->stock = stock;
  if (p->chart) {
    if (stock) {
      nuchart_bind_any(p->chart, stock);
      // Shown with its section; a shut section shows it when it opens.
      if (p->chart->parent && widget_is_shown(p->chart->parent)) widget_show(p->chart);
    } else {
      nuchart_unbind(p->chart);
      widget_hide(p->chart);
    }
  }
  tools_refresh_later(p);
}

void histnewstools_set_marker(widget *panel, ss_time from, ss_time to) {
  if (!histnewstools_is(panel)) return;
  histnewstools *p = as_hn(panel);
  // The rows run newest first; the chart's band runs forward in time.
  if (from && to && from > to) std::swap(from, to);
  if (p->chart) nuchart_set_marker(p->chart, from, to);
}

static void hn_class_init(object_class *rec) { panelkit_set_ops(rec, hn_summary, hn_refresh, hn_build); }
static typeid_t register_hn() { return panelkit_register("histnewstools", sizeof(histnewstools), hn_class_init); }
typeid_t histnewstools_type() { return object_cached_type(&S.hn, register_hn); }
bool histnewstools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), histnewstools_type());
}
histnewstools *histnewstools_new(widget *parent, widget *owner) {
  return static_cast<histnewstools *>(panelkit_new_panel(parent, histnewstools_type(), owner));
}

// ---- today's announcements ---------------------------------------------------------

static newstools *as_nt(widget *w) { return static_cast<newstools *>(w); }

static void nt_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  newstools *p = as_nt(static_cast<widget *>(arg));
  int on = panelkit_is_on(b);
  if (id == kIdGroups) {
    // The group bar records its own edits; this click changes nothing.
    if (newstoday_is(p->owner))
      screen_show_groupbar_c(p->owner, b->r.x + b->r.w - 1 - b->r.h / 2, b->r.y + b->r.h / 2);
    tools_refresh_later(p);
    return;
  }
  link_group(p, kRoleNewstoday, undo_push_newstoday);
  if (id == kIdNtClear) {
    textbox_set_text(p->search, "");
    gui_set_focus(p->search);
    newstoday_clear_keyword(p->owner);
  } else {
    for (int32_t i = 0; i < tools_link_count(); i++) {
      widget *c = tools_link_content(i);
      switch (id) {
        case kIdSensitive: newstoday_set_sensitive_only(c, uint32_t(on)); break;
        case kIdRegular: newstoday_set_common(c, uint32_t(on)); break;
        case kIdRelated: newstoday_set_related(c, uint32_t(on)); break;
        case kIdAsx: newstoday_set_exchange_shown(c, 0, on); break;
        case kIdNzx: newstoday_set_exchange_shown(c, 1, on); break;
        default: break;
      }
    }
  }
  tools_link_apply();
}

static void nt_entry(textbox *t, int code, void *arg, int32_t) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  newstools *p = as_nt(static_cast<widget *>(arg));
  if (!newstoday_is(p->owner) || !keyword_changes(newstoday_get_keyword(p->owner), textbox_text(t))) return;
  window *w = tools_window_of(p->owner);
  undo_begin();
  if (w) undo_push_window_tools(w, kRoleNewstoday);
  undo_push_newstoday(p->owner);
  undo_end();
  newstoday_set_keyword(p->owner, textbox_text(t));
  if (w) window_update_title(w);
  tools_refresh_later(p);
}

static widget *nt_build(tools *self) {
  newstools *p = as_nt(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  const button_fn fn = nt_button;
  p->search_section = panelkit_section(&k, "Search");
  p->search = textbox_new(panelkit_slot(&k), "Search", 20, 0, nullptr, nullptr, nt_entry, p, 0);
  p->clear = panelkit_button(&k, "Clear", kIdNtClear, nullptr, 0, fn);
  p->select_section = panelkit_section(&k, "Select");
  if (ssuser_multi_exchange()) {
    p->asx = panelkit_button(&k, "ASX", kIdAsx, nullptr, BUTTON_TOGGLE, fn);
    p->nzx = panelkit_button(&k, "NZX", kIdNzx, nullptr, BUTTON_TOGGLE, fn);
  }
  p->groups = panelkit_button(&k, "Groups", kIdGroups, nullptr, BUTTON_TOGGLE, fn);
  p->type_section = panelkit_section(&k, "Type");
  p->sensitive = panelkit_button(&k, "Sensitive", kIdSensitive, nullptr, BUTTON_TOGGLE, fn);
  p->related = panelkit_button(&k, "Related", kIdRelated, nullptr, BUTTON_TOGGLE, fn);
  p->regular = panelkit_button(&k, "Regular", kIdRegular, nullptr, BUTTON_TOGGLE, fn);
  return p->box;
}

static void nt_refresh(tools *self) {
  newstools *p = as_nt(self);
  widget *n = p->owner;
  if (!newstoday_is(n)) return;
  panelkit_show_on(p->sensitive, int(newstoday_get_sensitive_only(n)));
  panelkit_show_on(p->related, int(newstoday_get_related(n)));
  panelkit_show_on(p->regular, int(newstoday_get_common(n)));
  panelkit_show_on(p->asx, newstoday_get_exchange_shown(n, 0));
  panelkit_show_on(p->nzx, newstoday_get_exchange_shown(n, 1));
  filter *g = newstoday_get_group_filter(n);
  panelkit_show_on(p->groups, g && !filter_is_empty(g));
}

static const char *nt_summary(tools *self) {
  widget *n = self->owner;
  S.summary.clear();
  if (!newstoday_is(n)) return "";
  if (const char *k = newstoday_get_keyword(n)) upper_piece(", LIKE ", k);
  if (newstoday_get_sensitive_only(n)) piece(", SENSITIVE");
  if (filter *g = newstoday_get_group_filter(n))
    if (const char *d = filter_describe(g)) piece(d);
  if (ssuser_multi_exchange()) {
    // One exchange left out while the other is shown; both out is no
    // "only" of either.
    int asx = newstoday_get_exchange_shown(n, 0), nzx = newstoday_get_exchange_shown(n, 1);
    if (!asx && nzx) piece(", NZX ONLY");
    else if (asx && !nzx) piece(", ASX ONLY");
  }
  if (!newstoday_get_related(n)) piece(", NO RELATED");
  if (!newstoday_get_common(n)) piece(", NO REGULAR");
  return finish_summary();
}

static void nt_class_init(object_class *rec) { panelkit_set_ops(rec, nt_summary, nt_refresh, nt_build); }
static typeid_t register_nt() { return panelkit_register("newstools", sizeof(newstools), nt_class_init); }
typeid_t newstools_type() { return object_cached_type(&S.nt, register_nt); }
bool newstools_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), newstools_type()); }
newstools *newstools_new(widget *parent, widget *owner) {
  return static_cast<newstools *>(panelkit_new_panel(parent, newstools_type(), owner));
}

// ---- feeds -------------------------------------------------------------------------

static rsstools *as_rs(widget *w) { return static_cast<rsstools *>(w); }
static rss_feed *feed_of(rsstools *p) { return rsswin_is(p->owner) ? rsswin_get_feed(p->owner) : nullptr; }
static uint32_t rs_role(rsstools *p) {
  return rsswin_is(p->owner) && rsswin_get_kind(p->owner) ? kRoleGoogle : kRoleRss;
}

uint32_t rsstools_period_seconds(int32_t value) {
  if (value < 0) return 0;
  return uint32_t(value % 100) * 60 + uint32_t(value / 100) * 3600;
}

int32_t rsstools_period_value(uint32_t seconds) {
  return int32_t(seconds / 3600 * 100 + (seconds / 60) % 60);
}

const char *rsstools_full_url(const char *text, char *out, size_t n) {
  if (!out || n == 0) return out;
  if (!text) text = "";
  if (strstr(text, "://")) snprintf(out, n, "%s", text);
  else snprintf(out, n, "http://%s", text);
  return out;
}

// Names the feed after the name box and registers a feed that was not, as
// one undo step; "Save" then reads "Rename" until the name is edited.
static void rs_save(rsstools *p) {
  rss_feed *f = feed_of(p);
  if (!f || !p->name) return;
  undo_begin();
  undo_push_tools(p);
  undo_push_rss_feed_settings(f);
  rss_feed_set_name(f, textbox_text(p->name));
  if (rss_feed_has_name(f) && !rss_feed_is_registered(f)) {
    rss_feed_register(f);
    undo_push_rss_feed_created(f);
  }
  undo_end();
  button_set_sensitive(p->save, 0);
  button_set_text(p->save, "Rename");
  screen_request_redraw();
  screen_desktops_changed();
  if (window *w = tools_window_of(p->owner)) window_update_title(w);
}

// Shows the URL box's feed in the panel's window, as one undo step: "http://"
// goes in front of a text without "://", and the box shows what is used.
static void rs_show_url(rsstools *p) {
  if (!p->url || textbox_is_empty(p->url)) return;
  static char full[65536];
  rsstools_full_url(textbox_text(p->url), full, sizeof full);
  textbox_set_text(p->url, full);
  rss_feed *f = feed_of(p);
  if (f && rss_feed_has_url(f) && strcmp(rss_feed_url(f), textbox_text(p->url)) == 0) return;  // shown already
  link_group(p, rs_role(p), undo_push_rsswin);
  rsswin_set_url(p->owner, textbox_text(p->url));
  tools_link_apply();
}

static void rs_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  rsstools *p = as_rs(static_cast<widget *>(arg));
  if (id == kIdChange) {
    rs_show_url(p);
    if (p->url) gui_set_focus(p->url);
    return;
  }
  // Save records its own step; reloading changes no setting.
  if (id == kIdSave) {
    rs_save(p);
    return;
  }
  if (id == kIdNow) {
    if (rss_feed *f = feed_of(p)) rss_feed_refresh(f);  // nothing while a reload runs
    return;
  }
  if (id < kIdTitleOnly || id > kIdFull) return;
  link_group(p, rs_role(p), undo_push_rsswin);
  for (int32_t i = 0; i < tools_link_count(); i++) rsswin_set_detail(tools_link_content(i), uint32_t(id - 1));
  tools_link_apply();
}

static void rs_name(textbox *t, int code, void *arg, int32_t) {
  rsstools *p = as_rs(static_cast<widget *>(arg));
  if (code == TEXTBOX_CHANGED) {
    set_sensitive(p->save, rss_name_is_unique(textbox_text(t)));
    return;
  }
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  if (p->save->state & BUTTON_INSENSITIVE) {
    textbox_set_text(t, "");
    tools_refresh_later(p);
    return;
  }
  rs_save(p);
}

static void rs_url(textbox *, int code, void *arg, int32_t) {
  if (code == TEXTBOX_ENTER || code == TEXTBOX_LEFT) rs_show_url(as_rs(static_cast<widget *>(arg)));
}

static void rs_period(time_spinner *s, void *arg, int32_t) {
  rsstools *p = as_rs(static_cast<widget *>(arg));
  rss_feed *f = feed_of(p);
  if (!f) return;
  undo_begin();
  undo_push_tools(p);
  undo_push_rss_feed_settings(f);
  undo_end();
  rss_feed_set_period(f, rsstools_period_seconds(time_spinner_value(s)));
}

static widget *rs_build(tools *self) {
  rsstools *p = as_rs(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  const button_fn fn = rs_button;
  button_group_init(&p->display);
  bool rss = rsswin_is(p->owner) && rsswin_get_kind(p->owner) == 0;
  if (rss) {
    p->file_section = panelkit_section(&k, "File");
    p->name = textbox_new(panelkit_slot(&k), "", 32, 0, nullptr, nullptr, rs_name, p, 0);
    p->save = panelkit_button(&k, "Save", kIdSave, nullptr, 0, fn);
    p->url_section = panelkit_section(&k, "URL");
    p->url = textbox_new(panelkit_slot(&k), "", -40, 0, nullptr, nullptr, rs_url, p, 0);
    p->change = panelkit_button(&k, "Change  ", kIdChange, nullptr, 0, fn);
    fbox_set_flyaway_weight(p->box, p->url_section, 1);
  }
  p->update_section = panelkit_section(&k, "Update");
  p->period = time_spinner_new(panelkit_slot(&k), "", 5, kRsstoolsPeriodMin, kRsstoolsPeriodMax, nullptr, nullptr,
                               rs_period, p, 1);
  p->now = panelkit_button(&k, "Now", kIdNow, nullptr, 0, fn);
  p->display_section = panelkit_section(&k, "Display");
  panelkit_button(&k, "Title Only", kIdTitleOnly, &p->display, 0, fn);
  panelkit_button(&k, "Brief Text", kIdBrief, &p->display, 0, fn);
  panelkit_button(&k, "Full Text", kIdFull, &p->display, 0, fn);
  return p->box;
}

static void rs_refresh(tools *self) {
  rsstools *p = as_rs(self);
  if (!rsswin_is(p->owner)) return;
  if (rss_feed *f = feed_of(p)) {
    if (p->name && !gui_has_focus(p->name)) textbox_set_text(p->name, rss_feed_name(f));
    if (p->url && !gui_has_focus(p->url)) textbox_set_text(p->url, rss_feed_has_url(f) ? rss_feed_url(f) : "");
    if (p->save) {
      if (!rss_feed_is_registered(f)) {
        button_set_text(p->save, "Save");
        button_set_sensitive(p->save, 1);
      } else {
        button_set_text(p->save, "Rename");
        set_sensitive(p->save, p->name && strcmp(textbox_text(p->name), rss_feed_name(f)) != 0);
      }
    }
    time_spinner_set_value(p->period, rsstools_period_value(rss_feed_period(f)));
  }
  button_group_select(&p->display, int32_t(rsswin_get_detail(p->owner)) + 1);
}

static const char *rs_summary(tools *self) {
  rsstools *p = as_rs(self);
  S.summary.clear();
  rss_feed *f = feed_of(p);
  if (!f || !rss_feed_has_title(f)) return "";
  const char *title = rss_feed_title(f);
  if (rss_feed_has_name(f) && strcmp(rss_feed_name(f), title) == 0) return "";
  upper_piece("", title);
  return S.summary.c_str();
}

static void rs_class_init(object_class *rec) { panelkit_set_ops(rec, rs_summary, rs_refresh, rs_build); }
static typeid_t register_rs() { return panelkit_register("rsstools", sizeof(rsstools), rs_class_init); }
typeid_t rsstools_type() { return object_cached_type(&S.rs, register_rs); }
bool rsstools_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), rsstools_type()); }
rsstools *rsstools_new(widget *parent, widget *owner) {
  return static_cast<rsstools *>(panelkit_new_panel(parent, rsstools_type(), owner));
}

// ---- documents ---------------------------------------------------------------------

static doctools *as_dc(widget *w) { return static_cast<doctools *>(w); }

static void dc_popup(doctools *p) {
  widget *d = p->owner;
  window *own = tools_window_of(d);
  docwin *dw = docwin_is(d) ? static_cast<docwin *>(d) : nullptr;
  if (!dw || !dw->subject || own == screen_popup_document()) return;
  int32_t page = docwin_get_page(d);
  if (docwin_get_role(d) == kDocwinNewsItem && docwin_get_news_item(d))
    screen_show_news_popup(dw->subject, docwin_get_news_item(d), page);
  else if (docwin_get_role(d) == kDocwinProfile)
    screen_show_profile_popup(dw->subject, page);
  else
    return;
  if (window *pop = screen_popup_document()) window_show_tools(pop);
}

// Opens the panel's own document with the desktop's viewer (no setting
// changes, so no undo step); the popup document makes way for it.
static void dc_launch(doctools *p) {
  if (!docwin_is(p->owner)) return;
  if (const char *file = docwin_get_title(p->owner)) launch_open_file(file);
  window *own = tools_window_of(p->owner);
  if (own && own == screen_popup_document()) screen_hide_popup_document();
}

static void dc_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  doctools *p = as_dc(static_cast<widget *>(arg));
  if (id == kIdPopup || id == kIdLaunch) {
    if (id == kIdPopup) dc_popup(p);
    else dc_launch(p);
    return;
  }
  link_group(p, kRoleDocument, undo_push_docwin);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    widget *c = tools_link_content(i);
    int32_t pg = docwin_get_page(c), n = docwin_get_page_count(c);
    switch (id) {
      case kIdFirst: docwin_goto_page(c, 0); break;
      case kIdBack5: docwin_goto_page(c, pg - 5); break;
      case kIdPrev: docwin_goto_page(c, pg - 1); break;
      case kIdNext: docwin_goto_page(c, pg + 1); break;
      case kIdFwd5: docwin_goto_page(c, pg + 5); break;
      case kIdLast: docwin_goto_page(c, n - 1); break;
      case kIdRotate: docwin_set_rotation(c, -1); break;
      case kIdFitWidth: docwin_set_fit(c, kDocwinFitWidth); break;
      case kIdFitHeight: docwin_set_fit(c, kDocwinFitHeight); break;
      case kIdFitAuto: docwin_set_fit(c, kDocwinFitAuto); break;
      default: break;
    }
  }
  tools_link_apply();
}

static void dc_page(spinner *s, void *arg, int32_t) {
  doctools *p = as_dc(static_cast<widget *>(arg));
  if (!docwin_is(p->owner)) return;
  undo_begin();
  undo_push_tools(p);
  undo_push_docwin(p->owner);
  undo_end();
  docwin_goto_page(p->owner, spinner_value_int(s) - 1);
  tools_refresh_later(p);
}

static widget *dc_build(tools *self) {
  doctools *p = as_dc(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  const button_fn fn = dc_button;
  button_group_init(&p->fit);
  p->window_section = panelkit_section(&k, "Window");
  p->popup = panelkit_button(&k, "Popup", kIdPopup, nullptr, 0, fn);
  p->launch = panelkit_button(&k, "Launch", kIdLaunch, nullptr, 0, fn);
  p->display_section = panelkit_section(&k, "Display");
  p->rotate = panelkit_button(&k, "Rotate", kIdRotate, nullptr, 0, fn);
  panelkit_button(&k, "Fit Width", kIdFitWidth, &p->fit, 0, fn);
  panelkit_button(&k, "Fit Height", kIdFitHeight, &p->fit, 0, fn);
  panelkit_button(&k, "Auto", kIdFitAuto, &p->fit, 0, fn);
  p->page_section = panelkit_section(&k, "Page");
  p->prev = panelkit_button(&k, "Prev", kIdPrev, nullptr, 0, fn);
  p->next = panelkit_button(&k, "Next", kIdNext, nullptr, 0, fn);
  p->back5 = panelkit_button(&k, "-5", kIdBack5, nullptr, 0, fn);
  p->fwd5 = panelkit_button(&k, "+5", kIdFwd5, nullptr, 0, fn);
  p->first = panelkit_button(&k, "First", kIdFirst, nullptr, 0, fn);
  p->last = panelkit_button(&k, "Last", kIdLast, nullptr, 0, fn);
  p->page = spinner_new(panelkit_slot(&k), "", 0, nullptr, nullptr, dc_page, p, 0, 1.0f, 1.0f, 1.0f, 1.0f);
  const style *st = style_cur();
  p->count = label_new(panelkit_slot(&k), "99 Pages", 0, st ? st->font[7] : 0,
                       st ? style_colour(st, kAccentColour) | 0xff000000u : 0xff404040u, 0xffffffffu, nullptr);
  fbox_touch_flyaway(p->box, p->page_section);
  return p->box;
}

static void dc_refresh(tools *self) {
  doctools *p = as_dc(self);
  widget *d = p->owner;
  if (!docwin_is(d)) return;
  int32_t pg = docwin_get_page(d), n = docwin_get_page_count(d);
  char text[32];
  if (n == 1) snprintf(text, sizeof text, "1 Page");
  else snprintf(text, sizeof text, "%d Pages", int(n));
  label_set_text(p->count, text);
  // A document not open yet has no pages: the range stays 1 to 1.
  spinner_set_range(p->page, 0, 1.0f, float(std::max<int32_t>(n, 1)), 1.0f);
  if (spinner_decimals(p->page) == 0) spinner_set_value(p->page, float(pg + 1));
  spinner_set_editable(p->page, n >= 2 ? 1 : 0);
  window *own = tools_window_of(d);
  set_sensitive(p->popup, (p->flags & WIDGET_SHOWN) && own != screen_popup_document());
  set_sensitive(p->first, pg >= 1);
  set_sensitive(p->prev, pg >= 1);
  set_sensitive(p->back5, pg >= 5);
  set_sensitive(p->next, pg < n - 1);
  set_sensitive(p->last, pg < n - 1);
  set_sensitive(p->fwd5, pg < n - 5);
  switch (docwin_get_fit(d)) {
    case kDocwinFitWidth: button_group_select(&p->fit, kIdFitWidth); break;
    case kDocwinFitHeight: button_group_select(&p->fit, kIdFitHeight); break;
    default: button_group_select(&p->fit, kIdFitAuto); break;
  }
}

static void dc_restyle(widget *self) {
  tools_base()->restyle(self);
  doctools *p = as_dc(self);
  const style *st = style_cur();
  if (!st || !p->count) return;
  label_set_font(p->count, st->font[7]);
  label_set_bg(p->count, style_colour(st, kAccentColour) | 0xff000000u);
}

static void dc_class_init(object_class *rec) {
  panelkit_set_ops(rec, tools_base()->summary, dc_refresh, dc_build);
  static_cast<tools_class_rec *>(rec)->restyle = dc_restyle;
}
static typeid_t register_dc() { return panelkit_register("doctools", sizeof(doctools), dc_class_init); }
typeid_t doctools_type() { return object_cached_type(&S.dc, register_dc); }
bool doctools_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), doctools_type()); }
doctools *doctools_new(widget *parent, widget *owner) {
  return static_cast<doctools *>(panelkit_new_panel(parent, doctools_type(), owner));
}
