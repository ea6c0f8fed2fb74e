// The search panel. Two sections: "Search" (the keyword field and Clear)
// and "Select" (exchange and kind toggles). Every click is one undo group
// of the panel and the search list's settings, then the list's setter; the
// keyword is committed on Enter or when the field loses the focus, as one
// undo step. The list reruns itself before the next redraw; the panel and
// the title follow after it.
#include "tools/searchtools.h"

#include <cstring>
#include <string>

#include "ssuser.h"
#include "tools/panelkit.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/searchwin.h"

// Class slots over the tools class: summary, refresh, build.
static const char *sp_summary(tools *self);
static void sp_refresh(tools *self);
static widget *sp_build(tools *self);

static struct {
  object_type_cache type;
  std::string summary;  // the summary's scratch text
} S;

static searchtools *as_sp(widget *w) { return static_cast<searchtools *>(w); }
static searchwin *list_of(searchtools *p) { return searchwin_cast(p->owner); }

// ---- what the ids do -----------------------------------------------------------

int searchtools_apply_id(searchwin *s, int32_t id, int on) {
  if (!s) return -1;
  uint32_t v = on ? 1 : 0;
  switch (id) {
    case SEARCHTOOLS_ASX: searchwin_set_exchange_shown(s, 0, on); return 0;
    case SEARCHTOOLS_NZX: searchwin_set_exchange_shown(s, 1, on); return 0;
    case SEARCHTOOLS_DERIVS: searchwin_set_derivatives(s, v); return 0;
    case SEARCHTOOLS_INDICES: searchwin_set_indices(s, v); return 0;
    case SEARCHTOOLS_NEWS: searchwin_set_news_only(s, v); return 0;
    case SEARCHTOOLS_SENSITIVE: searchwin_set_sensitive_news_only(s, v); return 0;
    case SEARCHTOOLS_TRADED: searchwin_set_traded_only(s, v); return 0;
    case SEARCHTOOLS_QUOTED: searchwin_set_quoted_only(s, v); return 0;
    case SEARCHTOOLS_VENUES: searchwin_set_all_venues(s, v); return 0;
    default: return -1;
  }
}

const char *searchtools_summary(const searchwin *s) {
  std::string &o = S.summary;
  o.clear();
  if (!s) return "";
  if (searchwin_has_keyword(s)) {
    o += ", LIKE ";
    o += searchwin_get_keyword_upper(s);
  }
  if (searchwin_get_traded_only(s)) o += ", TRADED TODAY";
  if (searchwin_get_quoted_only(s)) o += ", QUOTED";
  if (searchwin_get_sensitive_news_only(s)) o += ", HAS SENSITIVE NEWS";
  else if (searchwin_get_news_only(s)) o += ", HAS NEWS";
  if (!searchwin_get_derivatives(s)) o += ", NO DERIVS";
  if (!searchwin_get_indices(s)) o += ", NO INDICES";
  if (ssuser_multi_exchange()) {
    int asx = searchwin_get_exchange_shown(s, 0), nzx = searchwin_get_exchange_shown(s, 1);
    if (nzx && !asx) o += ", NZX ONLY";
    else if (asx && !nzx) o += ", ASX ONLY";
  }
  return o.size() >= 2 ? o.c_str() + 2 : "";
}

// ---- callbacks -------------------------------------------------------------------

static void on_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  searchtools *p = as_sp(static_cast<widget *>(arg));
  if (id == SEARCHTOOLS_HIDE) {
    tools_hide_panel(p);
    return;
  }
  searchwin *s = list_of(p);
  if (!s) return;
  undo_begin();
  undo_push_tools(p);
  undo_push_searchwin(s);
  undo_end();
  if (id == SEARCHTOOLS_CLEAR) {
    textbox_set_text(p->keyword, "");
    gui_set_focus(p->keyword);
    searchwin_clear_keyword(s);
  } else {
    searchtools_apply_id(s, id, panelkit_is_on(b));
  }
  tools_refresh_later(p);
}

static void on_keyword(textbox *t, int code, void *arg, int32_t) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  searchtools *p = as_sp(static_cast<widget *>(arg));
  searchwin *s = list_of(p);
  if (!s) return;
  const char *text = textbox_text(t);
  // Leaving the field without a change is no edit: it would leave an undo
  // step that restores nothing.
  if (strcmp(text, searchwin_get_keyword(s)) == 0) return;
  // The panel's record too, so that undoing the keyword also brings the
  // title back.
  undo_begin();
  undo_push_tools(p);
  undo_push_searchwin(s);
  undo_end();
  searchwin_set_keyword(s, text);
  tools_refresh_later(p);
}

void searchtools_clear(widget *panel) {
  if (!searchtools_is(panel)) return;
  searchtools *p = as_sp(panel);
  textbox_set_text(p->keyword, "");
  gui_set_focus(p->keyword);
  fbox_open_flyaway(p->box, p->search);
}

// ---- build and refresh -------------------------------------------------------------

static widget *sp_build(tools *self) {
  searchtools *p = as_sp(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  p->search = panelkit_section(&k, "Search");
  p->keyword = textbox_new(panelkit_slot(&k), "Search", 20, 0, nullptr, nullptr, on_keyword, p, 0);
  p->clear = panelkit_button(&k, "Clear", SEARCHTOOLS_CLEAR, nullptr, 0, on_button);

  panelkit_section(&k, "Select");
  const uint32_t t = BUTTON_TOGGLE;
  if (ssuser_multi_exchange()) {
    p->asx = panelkit_button(&k, "ASX", SEARCHTOOLS_ASX, nullptr, t, on_button);
    p->nzx = panelkit_button(&k, "NZX", SEARCHTOOLS_NZX, nullptr, t, on_button);
  }
  p->venues = panelkit_button(&k, "All Venues", SEARCHTOOLS_VENUES, nullptr, t, on_button);
  p->derivs = panelkit_button(&k, "Derivatives", SEARCHTOOLS_DERIVS, nullptr, t, on_button);
  p->indices = panelkit_button(&k, "Indices", SEARCHTOOLS_INDICES, nullptr, t, on_button);
  p->news = panelkit_button(&k, "News", SEARCHTOOLS_NEWS, nullptr, t, on_button);
  p->sensitive = panelkit_button(&k, "Sensitive", SEARCHTOOLS_SENSITIVE, nullptr, t, on_button);
  p->traded = panelkit_button(&k, "Traded", SEARCHTOOLS_TRADED, nullptr, t, on_button);
  p->quoted = panelkit_button(&k, "Quoted", SEARCHTOOLS_QUOTED, nullptr, t, on_button);
  return p->box;
}

static void sp_refresh(tools *self) {
  searchtools *p = as_sp(self);
  searchwin *s = list_of(p);
  if (!s) return;
  // A field being typed in keeps its text: a relayout refreshes the panel
  // and must not throw away a keyword not yet committed.
  if (!gui_has_focus(p->keyword)) textbox_set_text(p->keyword, searchwin_get_keyword(s));
  panelkit_show_on(p->asx, searchwin_get_exchange_shown(s, 0));
  panelkit_show_on(p->nzx, searchwin_get_exchange_shown(s, 1));
  panelkit_show_on(p->derivs, searchwin_get_derivatives(s));
  panelkit_show_on(p->venues, searchwin_get_all_venues(s));
  panelkit_show_on(p->indices, searchwin_get_indices(s));
  panelkit_show_on(p->news, searchwin_get_news_only(s));
  panelkit_show_on(p->sensitive, searchwin_get_sensitive_news_only(s));
  panelkit_show_on(p->traded, searchwin_get_traded_only(s));
  panelkit_show_on(p->quoted, searchwin_get_quoted_only(s));
}

static const char *sp_summary(tools *self) { return searchtools_summary(list_of(as_sp(self))); }

// ---- class ---------------------------------------------------------------------------

static void sp_class_init(object_class *rec) { panelkit_set_ops(rec, sp_summary, sp_refresh, sp_build); }
static typeid_t register_searchtools() {
  return panelkit_register("searchtools", sizeof(searchtools), sp_class_init);
}
typeid_t searchtools_type() { return object_cached_type(&S.type, register_searchtools); }

searchtools *searchtools_new(widget *parent, widget *owner) {
  return static_cast<searchtools *>(panelkit_new_panel(parent, searchtools_type(), owner));
}
