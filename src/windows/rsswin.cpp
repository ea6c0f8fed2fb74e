// The feed window. Rows are laid out lazily: a row marked stale is laid
// out again when the draw reaches it, so a long feed costs only the rows in
// view. Glyphs sit at window pixels; a move of the widget while desktops
// are being dragged shifts the laid-out lists rather than laying them out
// again.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children, release.
#include "windows/rsswin.h"

#include <cstdio>
#include <cstring>

#include "action.h"
#include "config/config.h"
#include "config/enum.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "log.h"
#include "pool.h"
#include "rss/html2txt.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "ssmodel.h"
#include "sstime.h"
#include "style.h"
#include "tools/tools.h"
#include "ui/launch-linux.h"
#include "windows/content.h"
#include "windows/window.h"

namespace {

constexpr colour kLinkBlue = 0xffee0000u;  // (0, 0, 238) as 0xAABBGGRR
constexpr int32_t kRowsPerPage = 100;
constexpr int kColDate = 0, kColTime = 1, kColText = 2;
constexpr int32_t kColCodes[] = {7, 6, kColsStretch + 40, 0};
constexpr uint64_t kColMasks[] = {0x7, 0};
constexpr char kNewsPath[] = "/finance?morenews=100&rating=1&q=%s:%s&output=rss";

struct state {
  pool rows;
  int instances = 0;
  char news_host[128] = "";
  int (*open)(const char *url) = nullptr;
};
state S;

rsswin *cast(widget *w) { return rsswin_is(w) ? static_cast<rsswin *>(w) : nullptr; }
const rsswin *cast(const widget *w) { return rsswin_is(w) ? static_cast<const rsswin *>(w) : nullptr; }

window *owner(rsswin *r) { return r->parent && window_is(r->parent) ? static_cast<window *>(r->parent) : nullptr; }

bool shown(const rsswin *r) { return (r->flags & WIDGET_SHOWN) != 0; }

int open_url(const char *url) {
  if (!html2txt_url_is_openable(url)) {
    log(LOG_WARN, "rsswin", "not opening link \"%.80s\"", url);
    return -1;
  }
  return S.open ? S.open(url) : launch_open_url(url);
}

void fonts(int32_t *font0, int32_t *font5) {
  const style *st = style_cur();
  *font0 = st ? st->font[0] : 0;
  *font5 = st ? st->font[5] : *font0;
}

void set_heights(rsswin *r) {
  const style *st = style_cur();
  r->line_height = st ? st->line_height : 16;
  r->title_height = r->line_height + (r->detail == RSSWIN_TITLE ? 0 : 3);
}

// Rows -----------------------------------------------------------------------

void mark_stale(rsswin_row *row) {
  row->stale = 1;
  row->text.fresh = 1;
  row->links_map.fresh = 1;
}

void drop_rows(rsswin *r) {
  rsswin_row *row = r->rows;
  while (row) {
    rsswin_row *next = row->next;
    gmap_release(&row->text);
    gmap_release(&row->links_map);
    html2txt_links_free(&row->links);
    pool_free(&S.rows, row);
    row = next;
  }
  r->rows = r->first_shown = nullptr;
}

void set_row_count(rsswin *r, int32_t n) {
  if (window *w = owner(r)) {
    if (shown(r) && window_get_content(w, window_get_role(w)) == r) window_set_row_count(w, n);
  }
}

void restyle(rsswin *r);

void rebuild(rsswin *r) {
  drop_rows(r);
  if (!r->feed) return;
  rsswin_row **tail = &r->rows;
  for (rss_item *it = r->feed->first_item; it; it = it->next) {
    auto *row = static_cast<rsswin_row *>(pool_alloc(&S.rows));
    if (!row) {
      log(LOG_ERROR, "rsswin", "can't alloc rss row");
      continue;
    }
    memset(static_cast<void *>(row), 0, sizeof *row);
    row->y = -1;
    row->item = it;
    gmap_setup(&row->text, GMAP_QUADS, 0, 2);
    gmap_setup(&row->links_map, GMAP_QUADS, 0, 0);
    mark_stale(row);
    *tail = row;
    tail = &row->next;
  }
  r->first_shown = r->rows;
  if (rss_feed_has_title(r->feed))
    if (window *w = owner(r)) window_update_title(w);
  restyle(r);
}

// One line of plain text from an item's title (blanks for line breaks).
void title_line(const char *html, char *out, size_t cap) {
  const char *plain = html2txt_plain(html ? html : "");
  size_t n = 0;
  for (const char *p = plain; *p && n + 1 < cap; p++) out[n++] = (*p == '\n' || *p == '\r') ? ' ' : *p;
  while (n && out[n - 1] == ' ') n--;
  out[n] = 0;
}

// Cuts a quad list after the glyphs whose top lies above `limit`.
void cut_quads_below(gmap *m, int32_t limit) {
  int32_t count = gmap_count(m);
  for (int32_t i = 0; i + 8 <= count; i += 8) {
    int32_t top = m->vertices[i + 7];  // the quad's top-left y
    int32_t bottom = m->vertices[i + 1];
    if ((top < bottom ? top : bottom) >= limit) {
      gmap_set_count(m, i);
      return;
    }
  }
}

void cut_links_below(html2txt_link **links, int32_t limit) {
  html2txt_link *keep = nullptr, *drop = nullptr;
  for (html2txt_link *l = *links; l;) {
    html2txt_link *next = l->next;
    html2txt_link **to = l->y >= limit ? &drop : &keep;
    l->next = *to;
    *to = l;
    l = next;
  }
  html2txt_links_free(&drop);
  *links = keep;
}

void layout_row(rsswin *r, rsswin_row *row, int32_t y) {
  int32_t font0, font5;
  fonts(&font0, &font5);
  const rss_item *it = row->item;
  size_t title_len = it->title ? strlen(it->title) : 0;
  size_t text_len = it->text ? strlen(it->text) : 0;
  uint32_t room = static_cast<uint32_t>(4 * (title_len + text_len + 40));
  gmap_begin(&row->text, room);
  gmap_begin(&row->links_map, room);
  html2txt_links_free(&row->links);
  row->y = y;
  int32_t top = r->r.y + y;
  int32_t x0 = r->columns.col[kColText].x0 + 3;

  char title[512];
  title_line(it->title, title, sizeof title);
  rect out;
  if (r->detail == RSSWIN_TITLE)
    font_layout(&row->text, title, x0, top + r->title_height - 2, 0, font0, &out);
  else
    font_layout(&row->text, title, x0, top + r->title_height - 4, 0, font5, &out);
  gmap_mark(&row->text);

  if (r->detail == RSSWIN_TITLE) {
    if (it->date && r->columns.col[kColDate].shown) {
      const cols_col &c = r->columns.col[kColDate];
      font_layout(&row->text, fmt_date_short(it->date), c.x0 + c.width / 2, top + r->title_height - 2, 2, font0, &out);
    }
    if (it->date && r->columns.col[kColTime].shown) {
      const cols_col &c = r->columns.col[kColTime];
      font_layout(&row->text, fmt_time_hm(it->date), c.x0 + c.width / 2, top + r->title_height - 2, 2, font0, &out);
    }
    row->height = r->line_height;
  } else {
    if (it->date) {
      sstime_parts p{};
      sstime_unpack(&p, it->date);
      int hour = p.hour % 12 ? p.hour % 12 : 12;
      // The formatters share one buffer: the weekday is copied out before
      // the month's name is asked for.
      char weekday[16], line[96];
      snprintf(weekday, sizeof weekday, "%s", fmt_weekday_short(it->date));
      snprintf(line, sizeof line, "%s, %d %s %d:%02d%cm", weekday, p.mday, fmt_month(it->date), hour, p.min,
               p.hour < 12 ? 'a' : 'p');
      font_layout(&row->text, line, x0, top + r->title_height + r->line_height - 3, 0, font5, &out);
    }
    int32_t lines = 0;
    if (it->text && *it->text) {
      int32_t base = top + r->title_height - 2 + 2 * r->line_height;
      html2txt_links(&row->text, &row->links_map, it->text, x0, base, font0, r->r.w - 10, r->line_height, &lines,
                     &row->links);
      if (r->detail == RSSWIN_BRIEF && lines > kRsswinBriefLines) {
        // Brief keeps the first three lines: cut below the third.
        int32_t limit = base - r->line_height + kRsswinBriefLines * r->line_height + 2;
        cut_quads_below(&row->text, limit);
        cut_quads_below(&row->links_map, limit);
        cut_links_below(&row->links, limit);
        lines = kRsswinBriefLines;
      }
    }
    row->height = 2 * r->title_height + lines * r->line_height;
  }
  gmap_end(&row->text);
  gmap_end(&row->links_map);
  row->stale = 0;
}

void move_rows(rsswin *r, int32_t dx, int32_t dy) {
  for (rsswin_row *row = r->rows; row; row = row->next) {
    if (row->stale) continue;
    gmap_translate(&row->text, dx, dy);
    gmap_translate(&row->links_map, dx, dy);
    for (html2txt_link *l = row->links; l; l = l->next) {
      l->x += dx;
      l->y += dy;
    }
  }
}

void fit_columns(rsswin *r) {
  int32_t font0, font5;
  fonts(&font0, &font5);
  uint64_t hidden = r->detail == RSSWIN_TITLE ? 0 : ((1ull << kColDate) | (1ull << kColTime));
  cols_set_hidden(&r->columns, hidden);
  cols_fit(&r->columns, r->r.x, r->r.w, font0);
}

void restyle(rsswin *r) {
  set_heights(r);
  window *w = owner(r);
  uint32_t first = w ? window_get_selection(w) : 0;
  uint32_t i = 0;
  r->first_shown = nullptr;
  for (rsswin_row *row = r->rows; row; row = row->next, i++) {
    if (i < first) {
      row->y = -1;
      continue;
    }
    if (!r->first_shown) r->first_shown = row;
    mark_stale(row);
  }
  if (!r->first_shown) {
    r->first_shown = r->rows;
    for (rsswin_row *row = r->rows; row; row = row->next) mark_stale(row);
  }
  fit_columns(r);
  r->origin_x = r->r.x;
  r->origin_y = r->r.y;
  widget_redraw(r);
}

int32_t index_of(const rsswin *r, const rsswin_row *target) {
  int32_t i = 0;
  for (const rsswin_row *row = r->rows; row; row = row->next, i++)
    if (row == target) return i;
  return 0;
}

void on_feed(rss_feed *, int event, void *own, uintptr_t, uint32_t) {
  auto *r = static_cast<rsswin *>(own);
  switch (event) {
    case 0:
      rebuild(r);
      // The window is titled by the feed's title, which a load may bring.
      if (window *w = owner(r)) window_update_title(w);
      break;
    case 1:
      // The feed is going away: the widget forgets it (its watch goes with
      // the feed), then the window gives up the role as the user's role
      // switch does, undoably; undone, it is a feed window with no feed
      // rather than one naming the feed that went.
      drop_rows(r);
      r->feed = nullptr;
      if (window *w = owner(r))
        if (window_get_role(w) == (r->kind ? kRoleGoogle : kRoleRss)) action_set_window_role(w, kRoleNone);
      break;
    default:
      // Name or period: only a feed panel shows them.
      widget_redraw(r);
      break;
  }
  // The title may come with new items; the panel reads name and period back.
  if (event != 1)
    if (window *w = owner(r)) {
      tools_refresh_later(window_get_tools(w, r->kind ? kRoleGoogle : kRoleRss));
      window_update_title(w);
    }
}

// Class operations -------------------------------------------------------------

void rw_init(object *o) {
  auto *r = reinterpret_cast<rsswin *>(o);
  if (S.instances++ == 0) pool_init(&S.rows, kRowsPerPage, sizeof(rsswin_row));
  r->detail = RSSWIN_FULL;
  r->period = -1;
  cols_init(&r->columns, kColCodes, kColMasks);
  set_heights(r);
}

void rw_fini(object *o) {
  auto *r = reinterpret_cast<rsswin *>(o);
  drop_rows(r);
  if (r->feed) rss_feed_unwatch(r->feed, r);
  r->feed = nullptr;
  cols_fini(&r->columns);
  if (--S.instances == 0) pool_destroy(&S.rows);
}

void rw_geometry_changed(widget *self) {
  auto *r = static_cast<rsswin *>(self);
  set_heights(r);
  int32_t dx = r->r.x - r->origin_x, dy = r->r.y - r->origin_y;
  bool resized = r->r.w != r->prev.w;
  if (desktop_is_changing() && !resized) {
    move_rows(r, dx, dy);
    for (int i = 0; i < r->columns.count; i++) {
      r->columns.col[i].x0 += dx;
      r->columns.col[i].x1 += dx;
    }
    desktop_request_relayout();
  } else {
    fit_columns(r);
    for (rsswin_row *row = r->rows; row; row = row->next) mark_stale(row);
  }
  r->origin_x = r->r.x;
  r->origin_y = r->r.y;
}

void rw_reqsize(widget *, size *out) { *out = {0, 0}; }

void rw_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *r = static_cast<rsswin *>(self);
  const style *st = style_cur();
  colour bg = st ? style_colour(st, SC_BACKGROUND) | 0xff000000u : 0xffffffffu;
  colour fg = st ? style_colour(st, SC_TEXT) | 0xff000000u : 0xff000000u;
  colour sep = st ? style_colour(st, SC_GRID) | 0xff000000u : 0xffc0c0c0u;
  colour colline = st ? style_colour(st, SC_OUTLINE) | 0xff000000u : 0xff808080u;
  // Link blue reads on a light background; on a dark one the style's own
  // link colour does.
  const bool dark = ((bg & 0xff) + (bg >> 8 & 0xff) + (bg >> 16 & 0xff)) < 3 * 128;
  colour link = dark && st ? style_colour(st, SC_LINK) | 0xff000000u : kLinkBlue;
  const rect &a = r->r;
  gfx_fill_rect(a.x, a.y, a.w, a.h, bg);
  rect previous;
  gfx_set_clip(&a, &previous);

  int32_t pen = 0;
  bool reaches_bottom = false;
  int32_t bottoms[256];
  int nb = 0;
  for (rsswin_row *row = r->first_shown; row; row = row->next) {
    if (pen >= a.h) {
      reaches_bottom = true;
      break;
    }
    if (row->stale || row->y != pen) layout_row(r, row, pen);
    bool linked = row->item->link && *row->item->link;
    gfx_colour(linked ? link : fg);
    gmap_draw_segment(&row->text, 0);
    gfx_colour(fg);
    gmap_draw_segment(&row->text, 1);
    gfx_colour(link);
    gmap_draw(&row->links_map);
    pen += row->height;
    if (nb < 256) bottoms[nb++] = pen;
    if (pen > a.h) reaches_bottom = true;
  }
  gfx_untexture();
  int32_t first = r->first_shown ? index_of(r, r->first_shown) : 0;
  set_row_count(r, first + (reaches_bottom ? 1 : 0));

  gfx_begin_lines(sep);
  for (int i = 0; i < nb; i++) gfx_line(a.x, a.y + bottoms[i] - 1, a.x + a.w, a.y + bottoms[i] - 1);
  gfx_end_lines();
  if (r->detail == RSSWIN_TITLE) {
    gfx_begin_lines(colline);
    for (int c : {kColTime, kColText}) {
      const cols_col &col = r->columns.col[c];
      if (col.shown && col.x0 > a.x && col.x0 < a.x + a.w) gfx_line(col.x0, a.y, col.x0, a.y + a.h);
    }
    gfx_end_lines();
  }
  gfx_set_clip(&previous, nullptr);
}

void rw_restyle(widget *self) { restyle(static_cast<rsswin *>(self)); }

void rw_show_children(widget *self) {
  auto *r = static_cast<rsswin *>(self);
  if (r->feed) {
    rss_feed_activate(r->feed, r);
    rebuild(r);
  } else {
    drop_rows(r);
  }
}

void rw_hide_children(widget *self) {
  auto *r = static_cast<rsswin *>(self);
  if (r->feed) rss_feed_deactivate(r->feed, r);
}

void rw_release(widget *self, int32_t x, int32_t y, int button) {
  auto *r = static_cast<rsswin *>(self);
  if (button != 1 || x < r->r.x || y < r->r.y || x >= r->r.x + r->r.w || y >= r->r.y + r->r.h) return;
  int32_t ly = y - r->r.y;
  for (rsswin_row *row = r->first_shown; row && row->y >= 0; row = row->next) {
    if (ly < row->y || ly >= row->y + row->height) continue;
    if (ly >= row->y + r->title_height) {
      for (html2txt_link *l = row->links; l; l = l->next)
        if (x >= l->x && x < l->x + l->width && y >= l->y && y < l->y + l->height) {
          open_url(l->url);
          return;
        }
    } else if (row->item->link && *row->item->link) {
      open_url(row->item->link);
    }
    return;
  }
}

void take_instr(widget *w, instr *in);

void rsswin_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->set_instr = take_instr;
  c->geometry_changed = rw_geometry_changed;
  c->reqsize = rw_reqsize;
  c->draw = rw_draw;
  c->restyle = rw_restyle;
  c->show_children = rw_show_children;
  c->hide_children = rw_hide_children;
  c->release = rw_release;
}

typeid_t register_rsswin() {
  return object_register_class("rsswin", content_type(), sizeof(rsswin), rw_init, rw_fini, sizeof(content_class),
                               rsswin_class_init, nullptr);
}

void take_instr(widget *w, instr *in) {
  rsswin *r = cast(w);
  if (r && r->kind == 1) rsswin_show_instr_news(r, in);
}

void percent_encode(char *out, size_t cap, const char *text) {
  static const char hex[] = "0123456789ABCDEF";
  size_t n = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p && n + 4 < cap; p++) {
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '-' ||
        *p == '.' || *p == '_' || *p == '~') {
      out[n++] = static_cast<char>(*p);
    } else {
      out[n++] = '%';
      out[n++] = hex[*p >> 4];
      out[n++] = hex[*p & 15];
    }
  }
  out[n] = 0;
}

}  // namespace

typeid_t rsswin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_rsswin);
}

bool rsswin_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), rsswin_type());
}

widget *rsswin_new(widget *parent, int kind) {
  auto *r = static_cast<rsswin *>(widget_new(parent, rsswin_type()));
  if (r) r->kind = kind ? 1 : 0;
  return r;
}

uint32_t rsswin_get_kind(const widget *w) {
  const rsswin *r = cast(w);
  return r ? r->kind : 0;
}

uint32_t rsswin_get_detail(const widget *w) {
  const rsswin *r = cast(w);
  return r ? r->detail : RSSWIN_FULL;
}

rss_feed *rsswin_get_feed(const widget *w) {
  const rsswin *r = cast(w);
  return r ? r->feed : nullptr;
}

void rsswin_set_detail(widget *w, uint32_t detail) {
  rsswin *r = cast(w);
  if (!r || detail > RSSWIN_FULL || detail == r->detail) return;
  r->detail = detail;
  restyle(r);
}

void rsswin_set_feed(widget *w, rss_feed *feed) {
  rsswin *r = cast(w);
  if (!r || feed == r->feed) return;
  drop_rows(r);
  set_row_count(r, 0);
  if (r->feed) rss_feed_unwatch(r->feed, r);  // deletes an unwatched temporary feed
  r->feed = feed;
  if (!feed) {
    widget_redraw(r);
    return;
  }
  if (r->period != -1) rss_feed_set_period(feed, static_cast<uint32_t>(r->period));
  rss_feed_watch(feed, on_feed, r, 0, 0);
  if (shown(r)) {
    rss_feed_activate(feed, r);
    rebuild(r);
  }
  widget_redraw(r);
}

void rsswin_set_url(widget *w, const char *url) {
  rsswin *r = cast(w);
  if (!r || !url || !*url) return;
  if (r->feed && rss_feed_has_url(r->feed) && strcmp(rss_feed_url(r->feed), url) == 0) return;
  uint32_t period = r->feed ? rss_feed_period(r->feed) : kRsswinUrlPeriod;
  rss_feed *f = rss_feed_create_temp(url, period);
  if (f) rsswin_set_feed(r, f);
}

void rsswin_show_instr_news(widget *w, instr *in) {
  rsswin *r = cast(w);
  if (!r) return;
  if (!in) {
    rsswin_set_feed(r, nullptr);
    return;
  }
  const char *url = rsswin_news_url(in);
  if (!*url) return;
  if (r->feed && rss_feed_has_url(r->feed) && strcmp(rss_feed_url(r->feed), url) == 0) return;
  rss_feed *f = rss_feed_create_temp(url, kRsswinNewsPeriod);
  if (f) rsswin_set_feed(r, f);
}

void rsswin_set_period(widget *w, int32_t seconds) {
  rsswin *r = cast(w);
  if (!r) return;
  if (r->feed)
    rss_feed_set_period(r->feed, seconds > 0 ? static_cast<uint32_t>(seconds) : 0);
  else
    r->period = seconds;
}

void rsswin_set_news_host(const char *base) { snprintf(S.news_host, sizeof S.news_host, "%s", base ? base : ""); }

const char *rsswin_news_host() {
  static char derived[128];
  if (S.news_host[0]) return S.news_host;
  // By default the news comes from the server the terminal signs on to.
  const config_location *loc = config_cur_location();
  if (loc && loc->ambit_hostname[0]) {
    if (loc->ambit_port > 0 && loc->ambit_port != 80)
      snprintf(derived, sizeof derived, "http://%s:%d", loc->ambit_hostname, loc->ambit_port);
    else
      snprintf(derived, sizeof derived, "http://%s", loc->ambit_hostname);
  } else {
    snprintf(derived, sizeof derived, "http://127.0.0.1");
  }
  return derived;
}

const char *rsswin_news_url(const instr *in) {
  static char url[256];
  url[0] = 0;
  if (!in || !in->exchange) return url;
  const instr *subject = in;
  if (in->kind == kKindStock) {
    const auto *s = static_cast<const ss_stock *>(in);
    if (ss_issuer *is = ssmodel_find_issuer(in->exchange, s->issuer[0] ? s->issuer : in->code)) subject = is;
  }
  char ex[3 * kCodeSize + 1], code[3 * kCodeSize + 1];
  percent_encode(ex, sizeof ex, subject->exchange->name);
  percent_encode(code, sizeof code, subject->code);
  char path[200];
  snprintf(path, sizeof path, kNewsPath, ex, code);
  snprintf(url, sizeof url, "%s%s", rsswin_news_host(), path);
  return url;
}

void rsswin_set_opener(int (*open)(const char *url)) { S.open = open; }

int rsswin_row_count(const widget *w) {
  const rsswin *r = cast(w);
  int n = 0;
  if (r)
    for (const rsswin_row *row = r->rows; row; row = row->next) n++;
  return n;
}

const rsswin_row *rsswin_row_at(const widget *w, int index) {
  const rsswin *r = cast(w);
  if (!r || index < 0) return nullptr;
  const rsswin_row *row = r->rows;
  while (row && index--) row = row->next;
  return row;
}

void rsswin_config_save(widget *w) {
  rsswin *r = cast(w);
  if (!r) return;
  const char *detail = enum_rsswin_detail_name(static_cast<int32_t>(r->detail));
  if (r->kind == 1) {
    config_printf("google.period %d", r->feed ? static_cast<int>(rss_feed_period(r->feed)) : r->period);
    config_printf("google.detail %s", detail);
    return;
  }
  if (r->feed) {
    config_printf("rsswin %d", rss_feed_is_registered(r->feed) ? rss_feed_id(r->feed) : 0);
    if (!rss_feed_is_registered(r->feed)) {
      if (rss_feed_has_url(r->feed)) config_printf("rsswin.url %s", rss_feed_url(r->feed));
      if (rss_feed_has_title(r->feed)) config_printf("rsswin.title %s", rss_feed_title(r->feed));
      config_printf("rsswin.period %d", static_cast<int>(rss_feed_period(r->feed)));
    }
  }
  config_printf("rsswin.detail %s", detail);
}

void rsswin_config_load(widget *w) {
  rsswin *r = cast(w);
  if (!r) return;
  const char *prefix = r->kind == 1 ? "google" : "rsswin";
  char key[32];
  snprintf(key, sizeof key, "%s.detail", prefix);
  if (const char *d = config_get_string(key)) {
    int32_t v = enum_rsswin_detail_parse(d);
    if (v >= 0 && v <= static_cast<int32_t>(RSSWIN_FULL)) rsswin_set_detail(r, static_cast<uint32_t>(v));
  }
  snprintf(key, sizeof key, "%s.period", prefix);
  if (r->kind == 1) {
    if (config_get(key)) {
      int32_t period = config_get_int(key);
      if (period > 0) rsswin_set_period(r, period);
    }
    return;
  }
  if (!config_get("rsswin")) return;
  int32_t id = config_get_int("rsswin");
  if (id > 0) {
    if (rss_feed *f = rss_feed_find(id))
      rsswin_set_feed(r, f);
    else
      log(LOG_WARN, "rsswin", "no feed %d", id);
    return;
  }
  const char *url = config_get_string("rsswin.url");
  if (!url || !*url) return;
  int32_t period = config_get("rsswin.period") ? config_get_int("rsswin.period") : 0;
  rss_feed *f = rss_feed_create_temp(url, period > 0 ? static_cast<uint32_t>(period) : kRsswinUrlPeriod);
  if (!f) return;
  if (const char *title = config_get_string("rsswin.title")) rss_feed_set_title(f, title);
  rsswin_set_feed(r, f);
}
