// The document window: one PDF (a company profile or an announcement's
// document) in a window of the document role. While the file downloads it
// shows the state or a progress box; once the download manager reports the
// file complete it opens a PDF view on it and draws the view's picture.
// Hiding cancels the download and closes the view, keeping the page (and
// the rotation, which lives in the view) for the next showing. Rotation and
// fit given while no view is open by loading, copying or undo are kept as
// wanted and applied when the view opens; the interactive setters refuse
// without a view, so a click before the document arrived changes nothing.
// The PDF views are polled by a timer of this module that runs while views
// are open.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children, drag_begin, drag_motion, drag_release, drop, release,
// key_press; content: set_instr.
#include "windows/docwin.h"

#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/enum.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/timer.h"
#include "log.h"
#include "popups/place.h"
#include "tools/tools.h"
#include "screen/screen.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/object.h"
#include "undo.h"
#include "windows/window.h"

static const char kSrc[] = "src/windows/docwin";

namespace {

constexpr colour kWhite = 0xFFFFFFFF;
constexpr colour kCross = 0xC80000FF;
constexpr colour kBoxFill = 0x50000000;
constexpr colour kBarTop = 0xA0FFFFFF, kBarBottom = 0xDCFFFFFF;
constexpr colour kBoxText = 0xFF141414;
constexpr int32_t kKeyPageUp = 1009, kKeyPageDown = 1010;
constexpr int kProgressTextMax = 15;
constexpr uint32_t kAfterRows = 1, kAfterRedraw = 2;

struct {
  bool restoring;     // set only while docwin_copy (or a load) restores
  int32_t poll_timer; // polls the PDF views while any is open
  docwin *live;       // every document window
} S = {false, -1, nullptr};

docwin *cast(widget *w) { return w && docwin_is(w) ? static_cast<docwin *>(w) : nullptr; }

window *window_of(docwin *d) {
  return d->parent && window_is(d->parent) ? static_cast<window *>(d->parent) : nullptr;
}

// The document tool panel reads page, count and fit back after the next
// redraw.
void refresh_tools(docwin *d) {
  window *w = window_of(d);
  widget *t = w ? window_get_tools(w, kRoleDocument) : nullptr;
  if (t && widget_is_shown(t)) tools_refresh_later(t);
}

// The screen's popup document is placed again for its document's shape.
void replace_popup(docwin *d) {
  window *w = window_of(d);
  if (!w || w->kind != 2) return;
  screen *s = screen_current();
  if (s && screen_popup_document() == w && (s->bars & BAR_POPUP_DOCUMENT)) screen_relayout_popup_document();
}

uint32_t view_fit(docwin *d);

// The PDF views' poll -------------------------------------------------------------

// Minimal version: the screens' backstop polls the views (pdf_poll,
// pdf_take_changed) once it knows documents; until then this timer does,
// on every pass while a view is open, and redraws the document windows.
int poll_cb(void *, uint32_t, int64_t, float) {
  if (pdf_view_count() == 0) {
    S.poll_timer = -1;
    return 0;
  }
  if (pdf_poll() > 0)
    for (docwin *d = S.live; d; d = d->next_live) {
      if (!d->pdf) continue;
      // Auto fits the height until the page's shape is known; then the
      // shape decides (the setter does nothing when it stays).
      if (d->fit == kDocwinFitAuto) pdf_set_fit(d->pdf, view_fit(d));
      if (widget_is_shown(d)) widget_redraw(d);
    }
  if (pdf_take_changed()) {
    screen *s = screen_current();
    window *p = s ? screen_popup_document() : nullptr;
    if (p && (s->bars & BAR_POPUP_DOCUMENT)) screen_relayout();
  }
  return 1;
}

void ensure_poll() {
  if (S.poll_timer < 0) S.poll_timer = timer_start(0, poll_cb, nullptr, 0);
}

// The view ------------------------------------------------------------------------

void close_view(docwin *d) {
  if (!d->pdf) return;
  d->want_rotation = d->pdf->want_rotation;
  pdf_close(d->pdf);
  d->pdf = nullptr;
}

// The view's fit for a mode: fit the height for mode 2, and for Auto when
// the page is wider than high or its size is not known yet.
uint32_t view_fit(docwin *d) {
  if (d->fit == kDocwinFitHeight) return 1;
  if (d->fit == kDocwinFitWidth) return 0;
  int32_t w = 0, h = 0;
  pdf_page_size(d->pdf, &w, &h);
  return (w == 0 && h == 0) || w > h ? 1 : 0;
}

void cancel_request(docwin *d) {
  if (d->request) docmgr_cancel(d->request);
  d->request = nullptr;
}

void doc_event(docmgr_req *req, const char *path, const ssio_progress *p, void *context, uint32_t);

void fetch(docwin *d) {
  cancel_request(d);
  if (d->role == kDocwinNewsItem && d->subject && d->news_item) {
    d->progress = ssio_progress{};
    d->request = docmgr_fetch_document(d->subject, d->news_item, doc_event, d, 0);
    if (!d->request) log(LOG_WARN, kSrc, "can't request %s news item", d->subject->code);
  } else if (d->role == kDocwinProfile && d->subject) {
    d->progress = ssio_progress{};
    d->request = docmgr_fetch_profile(d->subject, doc_event, d, 0);
    if (!d->request) log(LOG_WARN, kSrc, "can't request %s profile", d->subject->code);
  }
}

void doc_event(docmgr_req *req, const char *path, const ssio_progress *p, void *context, uint32_t) {
  auto *d = static_cast<docwin *>(context);
  if (req != d->request) {
    log(LOG_WARN, kSrc, "notified about wrong document");
    return;
  }
  d->progress = *p;
  if (p->phase == kSsioProgressFailed) d->request = nullptr;
  if (p->phase == kSsioProgressDone) {
    if (!d->pdf || strcmp(pdf_filename(d->pdf), path) != 0) {
      pdf_view *v = pdf_open(path);
      if (v) {
        close_view(d);
        d->pdf = v;
        // What was wanted before the view existed applies now.
        pdf_set_rotation(v, (int32_t)d->want_rotation);
        ensure_poll();
      }
    }
    if (d->pdf) {
      pdf_set_page(d->pdf, (int32_t)d->pending_page);
      pdf_set_fit(d->pdf, view_fit(d));
      pdf_set_size(d->pdf, (uint32_t)(d->r.w > 0 ? d->r.w : 0), (uint32_t)(d->r.h > 0 ? d->r.h : 0));
      d->pending_page = 0;
      if (window *w = window_of(d)) window_set_row_count(w, -1);
    }
    d->request = nullptr;
  }
  if (widget_is_shown(d)) {
    widget_redraw(d);
    refresh_tools(d);
  }
}

// Subject ---------------------------------------------------------------------------

void drop_subject(docwin *d) {
  cancel_request(d);
  close_view(d);
  d->news_item = nullptr;
  d->subject = nullptr;
  d->progress = ssio_progress{};
  d->pending_page = 0;
  d->scroll = 0;
  d->drag_offset = 0;
}

// Flash ------------------------------------------------------------------------------

void stop_flash(docwin *d) {
  if (d->flash_timer >= 0) timer_stop(d->flash_timer);
  d->flash_timer = -1;
  fade_stop(&d->flash);
  fade_set(&d->flash, 0);
  d->flash_text = nullptr;
}

int flash_cb(void *arg, uint32_t, int64_t, float) {
  auto *d = static_cast<docwin *>(arg);
  widget_redraw(d);
  if (d->flash.state) return 1;
  d->flash_timer = -1;
  return 0;
}

void start_flash(docwin *d, const char *text) {
  d->flash_text = text;
  fade_to(&d->flash, 100, 0, &d->owner, d, 0, 1.0f);
  if (d->flash_timer < 0) d->flash_timer = timer_start(0, flash_cb, d, 0);
  widget_redraw(d);
}

void flash_done(fade_value *, void *arg, uint32_t) { widget_redraw(static_cast<docwin *>(arg)); }

// Turns the page by input: one undo step, withdrawn when nothing moved.
void page_by_input(docwin *d, int32_t delta) {
  uint32_t before = undo_pushed_count();
  undo_push_docwin(d);
  int rc = docwin_goto_page(d, docwin_get_page(d) + delta);
  if (rc != 0 && undo_pushed_count() != before) undo_cancel();
}

// Drawing ---------------------------------------------------------------------------

int32_t text_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}

void after_draw_cb(void *arg, int) {
  auto *d = static_cast<docwin *>(arg);
  uint32_t what = d->after_draw;
  d->after_draw = 0;
  if (what & kAfterRows)
    if (window *w = window_of(d)) window_set_row_count(w, d->row_limit);
  if (what & kAfterRedraw) widget_redraw(d);
}

void queue_after_draw(docwin *d, uint32_t what) {
  if (!d->after_draw && gui_promise_after_draw(after_draw_cb, d, 0) != 0) return;
  d->after_draw |= what;
}

void draw_cross(docwin *d) {
  gfx_end();
  gfx_untexture();
  gl->Enable(GL_LINE_SMOOTH);
  gl->LineWidth(1.5f);
  gfx_begin_lines(kCross);
  gfx_line(d->r.x, d->r.y, d->r.x + d->r.w, d->r.y + d->r.h);
  gfx_line(d->r.x + d->r.w, d->r.y, d->r.x, d->r.y + d->r.h);
  gfx_end();
  gl->LineWidth(1.0f);
  gl->Disable(GL_LINE_SMOOTH);
}

void draw_flash(docwin *d) {
  int32_t v = d->flash.shown.i;
  if (!d->flash_text || v <= 0) return;
  uint32_t alpha = v < 31 ? (uint32_t)(8 * v) : 255u;
  int32_t font = text_font();
  int32_t sz[2] = {0, 0};
  font_text_size(sz, font, d->flash_text);
  int32_t asc = 0, desc = 0;
  font_metrics(nullptr, nullptr, &asc, &desc, font);
  int32_t tw = sz[0], th = asc + desc;
  rect box = {d->r.x + d->r.w / 2 - tw / 2 - 5, d->r.y + d->r.h / 2 - th / 2 - 5, tw + 10, th + 10};
  const style *st = style_cur();
  colour fill = (st ? style_colour(st, SC_PANEL) : 0x303030u) & 0xFFFFFFu;
  colour outline = (st ? style_colour(st, SC_OUTLINE) : 0x808080u) & 0xFFFFFFu;
  panel_draw(&box, fill | alpha << 24, outline | alpha << 24, 0, -1);
  font_draw(d->flash_text, d->r.x + d->r.w / 2, box.y + 5 + asc, 2, font, 0xFFFFFFu | alpha << 24, nullptr);
}

// Copies a formatter's text (its buffer is shared) cut to 15 characters;
// false when it had to be cut.
bool take_text(char *out, const char *text) {
  size_t n = strlen(text);
  snprintf(out, kProgressTextMax + 1, "%s", text);
  return n <= (size_t)kProgressTextMax;
}

void draw_progress_box(docwin *d) {
  const ssio_progress &p = d->progress;
  char texts[4][kProgressTextMax + 1];
  uint32_t received = p.received > (uint32_t)INT32_MAX ? (uint32_t)INT32_MAX : p.received;
  uint32_t total = p.total > (uint32_t)INT32_MAX ? (uint32_t)INT32_MAX : p.total;
  uint32_t rate = p.rate > (uint32_t)INT32_MAX ? (uint32_t)INT32_MAX : p.rate;
  bool whole = take_text(texts[0], fmt_duration((int32_t)(p.seconds_left > INT32_MAX ? INT32_MAX : p.seconds_left)));
  whole &= take_text(texts[1], fmt_bytes((int32_t)received, nullptr));
  whole &= take_text(texts[2], fmt_bytes((int32_t)total, nullptr));
  whole &= take_text(texts[3], fmt_bytes((int32_t)rate, "ps"));
  if (!whole) return;
  static const char *const kSamples[4] = {"01:01", "1234Mb", "1234Mb", "128Kbps"};
  int32_t font = text_font();
  int32_t widths[4], sum = 0;
  for (int i = 0; i < 4; i++) {
    int32_t sz[2] = {0, 0};
    font_text_size(sz, font, kSamples[i]);
    widths[i] = sz[0];
    sum += sz[0];
  }
  int32_t asc = 0, desc = 0;
  font_metrics(nullptr, nullptr, &asc, &desc, font);
  int32_t th = asc + desc;
  int32_t bw = sum + 36, bh = th + 7;
  if (bw >= d->r.w) return;
  int32_t bx = d->r.x + d->r.w / 2 - bw / 2, by = d->r.y + d->r.h / 2 - bh / 2;
  gfx_fill_rect(bx, by, bw, bh, kBoxFill);
  if (p.total > 0) {
    int32_t bar = docwin_progress_bar_width(bw, p.received, p.total);
    if (bar > 0) gfx_gradient_rect(bx + 1, by + 1, bar, th + 5, kBarTop, kBarBottom);
  }
  int32_t right = bx;
  for (int i = 0; i < 4; i++) {
    right += widths[i] + 9;
    font_draw(texts[i], right - 4, by + 3 + asc, 1, font, kBoxText, nullptr);
  }
}

const char *state_text(int32_t phase) {
  switch (phase) {
    case 0: case 1: return "WAITING";
    case 2: return "CONNECTING";
    case 3: return "REQUESTING";
    case 5: return "COMPLETE";
    case 6: return "ERROR";
    default: return nullptr;
  }
}

void set_edges(docwin *d, colour a, colour b) {
  if (window_of(d)) window_frame_child_colours(d, a, b);
}

// Class ------------------------------------------------------------------------------

void dw_geometry_changed(widget *self) {
  auto *d = static_cast<docwin *>(self);
  if (!widget_is_shown(d) || !d->pdf) return;
  pdf_set_size(d->pdf, (uint32_t)(d->r.w > 0 ? d->r.w : 0), (uint32_t)(d->r.h > 0 ? d->r.h : 0));
}

void dw_reqsize(widget *, size *out) { *out = {0, 0}; }

void dw_draw(widget *self) {
  auto *d = static_cast<docwin *>(self);
  const style *st = style_cur();
  colour bg = st ? style_colour(st, SC_BACKGROUND) | 0xFF000000u : 0xFF202020u;
  colour fg = st ? style_colour(st, SC_TEXT) | 0xFF000000u : 0xFFE0E0E0u;
  if (d->pdf && d->pending_page != 0 && (int32_t)d->pending_page != pdf_page(d->pdf)) {
    pdf_set_page(d->pdf, (int32_t)d->pending_page);
    d->pending_page = 0;
    gfx_fill_rect(d->r.x, d->r.y, d->r.w, d->r.h, kPdfBandColour);
    set_edges(d, kWhite, kWhite);
    return;
  }
  if (d->pdf) {
    if (d->fit == kDocwinFitAuto) pdf_set_fit(d->pdf, view_fit(d));  // the shape may be known now
    int32_t sc = d->scroll;
    colour a = kWhite, b = kWhite;
    int again = pdf_render_page(d->pdf, d->r.x, d->r.y, d->r.w, d->r.h, &sc, &a, &b);
    if (sc != d->scroll) {
      d->scroll = sc;
      d->row_limit = sc;
      queue_after_draw(d, kAfterRows);
    }
    if (again) queue_after_draw(d, kAfterRedraw);
    if (d->news_item && (d->news_item->flags & kNewsWithdrawn)) draw_cross(d);
    draw_flash(d);
    set_edges(d, a, b);
    return;
  }
  if (d->progress.phase != kSsioProgressDone) {
    gfx_fill_rect(d->r.x, d->r.y, d->r.w, d->r.h, bg);
    // A failed download keeps saying so until another document is asked
    // for, though its request is gone.
    if (d->request || d->progress.phase == kSsioProgressFailed) {
      if (d->progress.phase == kSsioProgressSent) {
        draw_progress_box(d);
      } else if (const char *t = state_text(d->progress.phase)) {
        int32_t asc = 0, desc = 0, font = text_font();
        font_metrics(nullptr, nullptr, &asc, &desc, font);
        font_draw(t, d->r.x + d->r.w / 2, d->r.y + d->r.h / 2 - (asc + desc) / 2 + asc, 2, font, fg, nullptr);
      }
    }
    set_edges(d, bg, bg);
    return;
  }
  gfx_fill_rect(d->r.x, d->r.y, d->r.w, d->r.h, kWhite);
  set_edges(d, kWhite, kWhite);
}

void dw_restyle(widget *self) {
  auto *d = static_cast<docwin *>(self);
  if (!d->pdf) return;
  window *w = window_of(d);
  d->scroll = w ? (int32_t)window_get_selection(w) : 0;
  widget_redraw(d);
}

void dw_show_children(widget *self) { docwin_request(self); }

void dw_hide_children(widget *self) {
  auto *d = static_cast<docwin *>(self);
  // Keeps the page for the next showing; the download and the view go.
  if (d->pdf) d->pending_page = (uint32_t)docwin_get_page(d);
  cancel_request(d);
  close_view(d);
  stop_flash(d);
}

int dw_drag_begin(widget *self, int32_t, int32_t y, int, drag_record *) {
  auto *d = static_cast<docwin *>(self);
  if (!d->pdf) return 0;
  d->drag_offset = y - d->scroll;
  return 1;
}

void dw_drag_motion(widget *self, int32_t, int32_t y, int, drag_record *) {
  auto *d = static_cast<docwin *>(self);
  if (!d->pdf) return;
  d->scroll = y - d->drag_offset;
  widget_redraw(d);
}

int dw_drag_release(widget *, widget *, int32_t, int32_t, int, drag_record *) { return 1; }

void dw_drop(widget *self, int32_t x, int32_t y, int buttons, drag_record *rec) {
  if (rec && rec->w == self) return;
  if (self->parent && self->parent->cls->drop) self->parent->cls->drop(self->parent, x, y, buttons, rec);
}

void dw_release(widget *self, int32_t, int32_t y, int button) {
  auto *d = static_cast<docwin *>(self);
  if (button != 1 || !d->pdf) return;
  page_by_input(d, y >= d->r.y + d->r.h / 2 ? 1 : -1);
}

void dw_key_press(widget *self, key_event *k) {
  auto *d = static_cast<docwin *>(self);
  window *w = window_of(d);
  if (d->pdf && w) {
    if (k->code == kKeyPageDown && window_get_selection(w) == window_get_row_count(w)) {
      page_by_input(d, 1);
      return;
    }
    if (k->code == kKeyPageUp && window_get_selection(w) == 0) {
      page_by_input(d, -1);
      return;
    }
  }
  if (self->parent && self->parent->cls->key_press) self->parent->cls->key_press(self->parent, k);
}

// The window's instrument: a new one shows its profile; the same one keeps
// what is shown (a news item of it among them), and none keeps the subject.
void dw_set_instr(widget *self, instr *in) {
  auto *d = static_cast<docwin *>(self);
  if (!in || in == d->subject) return;
  docwin_show_profile(d, in);
}

void dw_init(object *o) {
  auto *d = reinterpret_cast<docwin *>(o);
  d->role = kDocwinNone;
  d->subject = nullptr;
  d->news_item = nullptr;
  d->request = nullptr;
  d->pdf = nullptr;
  d->pending_page = 0;
  d->fit = kDocwinFitAuto;
  d->scroll = d->drag_offset = 0;
  d->flash_timer = -1;
  d->flash_text = nullptr;
  d->want_rotation = 0;
  d->after_draw = 0;
  fade_clear(&d->flash);
  fade_owner_add(&d->owner, flash_done);
  d->prev_live = nullptr;
  d->next_live = S.live;
  if (S.live) S.live->prev_live = d;
  S.live = d;
}

void dw_fini(object *o) {
  auto *d = reinterpret_cast<docwin *>(o);
  stop_flash(d);
  fade_owner_remove(&d->owner);
  if (d->after_draw) gui_promise_cancel_after(after_draw_cb, d, 0);
  d->after_draw = 0;
  cancel_request(d);
  close_view(d);
  if (d->prev_live) d->prev_live->next_live = d->next_live;
  else S.live = d->next_live;
  if (d->next_live) d->next_live->prev_live = d->prev_live;
}

// Undo records of type 40: what is shown, the page, rotation and fit.
struct saved_doc {
  uint32_t role;
  instr *subject;
  int has_item;
  ss_news item;
  uint32_t page, rotation, fit;
};

void *undo_save(void *object) {
  docwin *d = cast(static_cast<widget *>(object));
  if (!d) return nullptr;
  auto *s = new saved_doc{};
  s->role = d->role;
  s->subject = d->subject;
  s->has_item = d->news_item != nullptr;
  if (d->news_item) s->item = *d->news_item;
  s->page = (uint32_t)docwin_get_page(d);
  s->rotation = (uint32_t)docwin_get_rotation(d);
  s->fit = d->fit;
  return s;
}

int undo_restore(void *saved, void *object) {
  auto *s = static_cast<saved_doc *>(saved);
  docwin *d = cast(static_cast<widget *>(object));
  if (!d) return -1;
  if (s->role == kDocwinNone || !s->subject) {
    if (d->subject || d->role != s->role) drop_subject(d);
    d->role = s->role;
  } else if (s->has_item) {
    docwin_show_news_item(d, s->subject, &s->item);
  } else {
    docwin_show_profile(d, s->subject);
  }
  bool was = S.restoring;
  S.restoring = true;
  docwin_goto_page(d, (int32_t)s->page);
  docwin_set_rotation(d, (int32_t)s->rotation);
  docwin_set_fit(d, s->fit);
  S.restoring = was;
  return 0;
}

void undo_release(void *saved, int) { delete static_cast<saved_doc *>(saved); }

const undo_record_ops kUndoOps = {undo_save, undo_restore, undo_release};

void dw_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->geometry_changed = dw_geometry_changed;
  c->reqsize = dw_reqsize;
  c->draw = dw_draw;
  c->restyle = dw_restyle;
  c->show_children = dw_show_children;
  c->hide_children = dw_hide_children;
  c->drag_begin = dw_drag_begin;
  c->drag_motion = dw_drag_motion;
  c->drag_release = dw_drag_release;
  c->drop = dw_drop;
  c->release = dw_release;
  c->key_press = dw_key_press;
  c->set_instr = dw_set_instr;
  undo_register_type(UNDO_DOCWIN, &kUndoOps);
}

void dw_class_fini(object_class *) {
  undo_register_type(UNDO_DOCWIN, nullptr);
  if (S.poll_timer >= 0) timer_stop(S.poll_timer);
  S.poll_timer = -1;
}

typeid_t register_docwin() {
  return object_register_class("docwin", content_type(), sizeof(docwin), dw_init, dw_fini, sizeof(content_class),
                               dw_class_init, dw_class_fini);
}

}  // namespace

typeid_t docwin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_docwin);
}

bool docwin_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), docwin_type()); }

widget *docwin_new(widget *parent) {
  auto *d = static_cast<docwin *>(widget_new(parent, docwin_type()));
  if (d) d->name = "docwin";
  return d;
}

// Subject ------------------------------------------------------------------------------

uint32_t docwin_get_role(widget *w) {
  docwin *d = cast(w);
  return d ? d->role : kDocwinNone;
}
instr *docwin_get_profile_issuer(widget *w) {
  docwin *d = cast(w);
  return d ? d->subject : nullptr;
}
const ss_news *docwin_get_news_item(widget *w) {
  docwin *d = cast(w);
  return d ? d->news_item : nullptr;
}
int docwin_has_document(widget *w) {
  docwin *d = cast(w);
  return d && d->pdf ? 1 : 0;
}

void docwin_show_news_item(widget *w, instr *in, const ss_news *item) {
  docwin *d = cast(w);
  if (!d) return;
  if (d->role == kDocwinNewsItem && in == d->subject && item == d->news_item) return;
  if (d->role == kDocwinNewsItem && in == d->subject && item && d->news_item && item->number == d->news_item->number)
    return;
  drop_subject(d);
  d->role = kDocwinNewsItem;
  d->subject = in;
  if (item) {
    d->item_copy = *item;
    d->item_copy.body = nullptr;
    d->item_copy.prev = d->item_copy.next = nullptr;
    d->news_item = &d->item_copy;
  }
  if (in && item && widget_is_shown(d)) fetch(d);
  widget_redraw(d);
}

void docwin_show_profile(widget *w, instr *in) {
  docwin *d = cast(w);
  if (!d) return;
  if (d->role == kDocwinProfile && d->subject == in) return;
  drop_subject(d);
  d->role = kDocwinProfile;
  d->subject = in;
  if (in && widget_is_shown(d)) fetch(d);
  widget_redraw(d);
}

void docwin_request(widget *w) {
  docwin *d = cast(w);
  if (d) fetch(d);
}

// Pages ------------------------------------------------------------------------------

int32_t docwin_get_page(widget *w) {
  docwin *d = cast(w);
  if (!d) return 0;
  if (!d->pdf) return (int32_t)d->pending_page;
  // The page asked of the view: a render may still be on its way.
  return d->pending_page ? (int32_t)d->pending_page : (int32_t)d->pdf->want_page;
}

int32_t docwin_get_page_count(widget *w) {
  docwin *d = cast(w);
  return d && d->pdf ? pdf_page_count(d->pdf) : 0;
}

int docwin_goto_page(widget *w, int32_t page) {
  docwin *d = cast(w);
  if (!d) return -1;
  stop_flash(d);
  int32_t count = d->pdf ? pdf_page_count(d->pdf) : 0;
  if (d->pdf && count > 0) {
    int32_t p = page < 0 ? 0 : page >= count ? count - 1 : page;
    if (!S.restoring && p == docwin_get_page(d)) {
      start_flash(d, p != 0 ? "Last Page" : count < 2 ? "Single Page" : "First Page");
      return -1;
    }
    if (window *win = window_of(d)) window_select_row(win, 0);
    d->scroll = 0;
    d->pending_page = 0;
    pdf_set_page(d->pdf, p);
    refresh_tools(d);
    replace_popup(d);
    widget_redraw(d);
    return 0;
  }
  d->pending_page = (uint32_t)page;
  refresh_tools(d);
  return -1;
}

const char *docwin_get_title(widget *w) {
  docwin *d = cast(w);
  return d && d->pdf ? pdf_filename(d->pdf) : nullptr;
}

// Rotation and fit -----------------------------------------------------------------------

int32_t docwin_get_rotation(widget *w) {
  docwin *d = cast(w);
  if (!d) return 0;
  return 90 * (int32_t)(d->pdf ? d->pdf->want_rotation : d->want_rotation);
}

int docwin_set_rotation(widget *w, int32_t degrees) {
  docwin *d = cast(w);
  if (!d || (!d->pdf && !S.restoring)) return -1;
  int32_t turns;
  switch (degrees) {
    case 0: turns = 0; break;
    case 90: turns = 1; break;
    case 180: turns = 2; break;
    case 270: turns = 3; break;
    case -1: turns = -1; break;
    default:
      log(LOG_ERROR, kSrc, "can't rotate %d degrees", degrees);
      return -1;
  }
  if (d->pdf) {
    pdf_set_rotation(d->pdf, turns);
    d->want_rotation = d->pdf->want_rotation;
  } else {
    d->want_rotation = turns < 0 ? (d->want_rotation + 1) % 4 : (uint32_t)turns;
  }
  refresh_tools(d);
  replace_popup(d);
  widget_redraw(d);
  return 0;
}

uint32_t docwin_get_fit(widget *w) {
  docwin *d = cast(w);
  return d ? d->fit : 0;
}

int docwin_set_fit(widget *w, uint32_t mode) {
  docwin *d = cast(w);
  if (!d || (!d->pdf && !S.restoring) || mode > kDocwinFitHeight) return -1;
  d->fit = mode;
  if (d->pdf) pdf_set_fit(d->pdf, view_fit(d));
  replace_popup(d);
  refresh_tools(d);
  widget_redraw(d);
  return 0;
}

void docwin_get_page_size(widget *w, int32_t *width, int32_t *height) {
  docwin *d = cast(w);
  *width = *height = 0;
  if (d && d->pdf) pdf_page_size(d->pdf, width, height);
}

int docwin_is_landscape(widget *w) {
  int32_t pw, ph;
  docwin_get_page_size(w, &pw, &ph);
  if (!docwin_has_document(w) || (pw == 0 && ph == 0)) return -1;
  return pw > ph ? 1 : 0;
}

int docwin_fits_height(widget *w) {
  docwin *d = cast(w);
  if (!d) return -1;
  if (d->fit == kDocwinFitHeight) return 1;
  if (d->fit == kDocwinFitWidth) return 0;
  return docwin_is_landscape(w);
}

bool docwin_fit_is_width(widget *w) { return docwin_fits_height(w) == 0; }

// Copy and configuration ------------------------------------------------------------------

void docwin_copy(widget *w, widget *from) {
  docwin *d = cast(w), *f = cast(from);
  if (!d || !f) return;
  docwin_request(d);
  docmgr_finish();  // a file on disk opens now
  S.restoring = true;
  int32_t page = docwin_get_page(f);
  d->pending_page = (uint32_t)page;
  docwin_goto_page(d, page);
  docwin_set_rotation(d, docwin_get_rotation(f));
  docwin_set_fit(d, f->fit);
  S.restoring = false;
}

void docwin_config_save(widget *w) {
  docwin *d = cast(w);
  if (!d) return;
  const char *role = enum_docwin_role_name((int32_t)d->role);
  config_printf("docwin.role %s", role ? role : "none");
  config_printf("docwin.page %d", (int)docwin_get_page(d));
  config_printf("docwin.rotation %d", (int)docwin_get_rotation(d));
  config_printf("docwin.fit %d", (int)d->fit);
  if (d->role == kDocwinNewsItem && d->news_item) config_printf("docwin.news_item %d", (int)d->news_item->number);
}

void docwin_config_load(widget *w) {
  docwin *d = cast(w);
  if (!d) return;
  const char *role_name = config_get_string("docwin.role");
  int32_t role = role_name ? enum_docwin_role_parse(role_name) : -1;
  int32_t page = config_get("docwin.page") ? config_get_int("docwin.page") : 0;
  int32_t rotation = config_get("docwin.rotation") ? config_get_int("docwin.rotation") : 0;
  int32_t fit = config_get("docwin.fit") ? config_get_int("docwin.fit") : 0;
  instr *in = d->instrument;
  if (role == (int32_t)kDocwinNewsItem && config_get("docwin.news_item") && in) {
    ss_news *item = ssmodel_find_news(in, (uint32_t)config_get_int("docwin.news_item"));
    if (item) docwin_show_news_item(d, in, item);
  } else if (role == (int32_t)kDocwinProfile && in) {
    docwin_show_profile(d, in);
  }
  S.restoring = true;
  docwin_goto_page(d, page);
  docwin_set_rotation(d, rotation);
  docwin_set_fit(d, fit >= 0 && fit <= 2 ? (uint32_t)fit : 0);
  S.restoring = false;
}

// Helpers for the drawing -------------------------------------------------------------------

int32_t docwin_progress_bar_width(int32_t box_w, uint32_t received, uint32_t total) {
  if (total == 0 || box_w <= 2) return 0;
  uint64_t got = received < total ? received : total;
  return (int32_t)((uint64_t)(box_w - 2) * got / total);
}

const char *docwin_flash_text(widget *w) {
  docwin *d = cast(w);
  return d && d->flash.state ? d->flash_text : nullptr;
}
