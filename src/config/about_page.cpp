#include "config/about_page.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "config/configbox.h"
#include "lib/font.h"
#include "lib/tex.h"
#include "site.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/launch-linux.h"

const char kAboutMaker[] = "Kestrel Market Systems";
const char kAboutMakerWeb[] = "www.kestrel-markets.invalid";
const char kAboutProvider[] = "Harbourline Company Data";
const char kAboutProviderWeb[] = "www.harbourline-data.invalid";

namespace {

constexpr int32_t kTickMs = 10;
constexpr double kSlot = 4.58, kLead = 1.5;
constexpr double kFadeIn = 0.75, kHoldEnd = 3.5, kFadeEnd = 4.25;
constexpr int32_t kMakerImage = 18, kProviderImage = 19, kSpareImage = 20;
constexpr int32_t kFont = 7, kAlign = 18;

const char *const kMakerLines[] = {"Ambit is a product of", kAboutMaker, kAboutMakerWeb, nullptr};
const char *const kProviderLines[] = {"Company Profiles provided by", kAboutProvider, kAboutProviderWeb, nullptr};

about_page *as_page(widget *w) { return static_cast<about_page *>(w); }

int32_t site_logo() {
  const site_row *s = site_current();
  return s ? s->pictures[3] : -1;
}

int32_t page_font() {
  const style *s = style_cur();
  return s ? s->font[kFont] : kFont;
}

int tick(void *arg, uint32_t, int64_t, float t) {
  about_page *p = as_page(static_cast<widget *>(arg));
  if (about_page_step(p, t)) widget_redraw(p);
  return 1;
}

int inside(const rect &r, int32_t x, int32_t y) {
  return r.w > 0 && x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

void lay_out(about_page *p) {
  gmap_begin(&p->text, 400);
  p->link = {0, 0, 0, 0};
  const int32_t font = page_font();
  int32_t asc = 0, desc = 0;
  font_metrics(nullptr, nullptr, &asc, &desc, font);
  const int32_t step = 2 * (asc + desc);
  const int32_t cx = p->r.x + p->r.w / 2, cy = p->r.y + p->r.h / 2;
  for (int i = 0; p->lines && p->lines[i]; i++) {
    rect box = {0, 0, 0, 0};
    font_layout(&p->text, p->lines[i], cx, cy + i * step, kAlign, font, &box);
    if (strncmp(p->lines[i], "www.", 4) == 0 && p->link.w == 0)
      p->link = {box.x - 2, box.y - 5, box.w + 6, box.h + 10};
  }
  gmap_end(&p->text);
  p->dirty = 0;
}

void page_reqsize(widget *, size *out) {
  *out = {0, 0};
  for (int32_t image : {kMakerImage, kProviderImage, kSpareImage}) {
    int32_t wh[2] = {0, 0};
    tex_size(wh, image);
    out->w = std::max(out->w, wh[0]);
    out->h = std::max(out->h, wh[1]);
  }
}

void page_geometry_changed(widget *self) { as_page(self)->dirty = 1; }
void page_restyle(widget *self) { as_page(self)->dirty = 1; }

void page_draw(widget *self) {
  about_page *p = as_page(self);
  if (p->dirty) lay_out(p);
  p->drawn = p->fade;
  if (p->slide < 0 || !p->fade) return;  // blank between slides
  const int32_t cx = p->r.x + p->r.w / 2, cy = p->r.y + p->r.h / 2;
  if (p->image >= 0) {
    int32_t wh[2] = {0, 0};
    tex_size(wh, p->image);
    gfx_colour(p->fade);
    tex_draw(p->image, cx - wh[0] / 2, cy - 10 - wh[1], wh[0], wh[1]);
  }
  gfx_colour(p->fade);
  gmap_draw(&p->text);
  int32_t x, y;
  if (p->fade && gui_widget_mouse(p, &x, &y) && inside(p->link, x, y)) {
    const int32_t base = p->link.y + p->link.h - 5;
    gfx_begin_lines(p->fade);
    gfx_line(p->link.x + 2, base, p->link.x + p->link.w - 4, base);
    gfx_end_lines();
  }
}

void page_show_children(widget *self) {
  about_page *p = as_page(self);
  p->slide = -1;
  p->fade = 0;
  configbox_page_timer(&p->timer, kTickMs, tick, p);
}

void page_hide_children(widget *self) { configbox_page_timer(&as_page(self)->timer, 0, nullptr, nullptr); }

void page_release(widget *self, int32_t x, int32_t y, int button) {
  about_page *p = as_page(self);
  if (button != 1 || !inside(p->link, x, y) || !p->lines) return;
  for (int i = 0; p->lines[i]; i++)
    if (strncmp(p->lines[i], "www.", 4) == 0) {
      launch_open_url(p->lines[i]);
      return;
    }
}

void page_motion(widget *self, int32_t, int32_t) { widget_redraw(self); }

void page_init(object *obj) {
  about_page *p = reinterpret_cast<about_page *>(obj);
  gmap_setup(&p->text, GMAP_QUADS, 400, 0);
  p->slide = p->image = -1;
  p->timer = -1;
  p->dirty = 1;
}

void page_fini(object *obj) {
  about_page *p = reinterpret_cast<about_page *>(obj);
  configbox_page_timer(&p->timer, 0, nullptr, nullptr);
  gmap_release(&p->text);
}

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = page_reqsize;
  c->geometry_changed = page_geometry_changed;
  c->draw = page_draw;
  c->restyle = page_restyle;
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
  c->release = page_release;
  c->motion = page_motion;
}

typeid_t register_page() {
  return object_register_class("about_page", widget_type(), sizeof(about_page), page_init, page_fini,
                               sizeof(widget_class), page_class_init, nullptr);
}

}  // namespace

int32_t about_slide_at(double t, int logo) {
  const double u = t + kLead;
  if (logo) {
    const double m = std::fmod(u, 3 * kSlot);
    return m <= kSlot ? 0 : m <= 2 * kSlot ? 1 : 2;
  }
  return std::fmod(u, 2 * kSlot) <= kSlot ? 1 : 2;
}

int32_t about_alpha_at(double t) {
  const double f = std::fmod(t + kLead, kSlot);
  if (f < kFadeIn) return static_cast<int32_t>(f * 255 / kFadeIn);
  if (f <= kHoldEnd) return 255;
  if (f <= kFadeEnd) return static_cast<int32_t>(255 - (f - kHoldEnd) * 255 / kFadeIn);
  return 0;
}

const char *const *about_slide_lines(int32_t slide) {
  static const char *site_lines[6];
  if (slide == 1) return kMakerLines;
  if (slide == 2) return kProviderLines;
  const site_row *s = site_current();
  int n = 0;
  for (int i = 0; s && i < 5; i++)
    if (s->about[i]) site_lines[n++] = s->about[i];
  site_lines[n] = nullptr;
  return site_lines;
}

int32_t about_slide_image(int32_t slide) {
  if (slide == 1) return kMakerImage;
  if (slide == 2) return kProviderImage;
  return site_logo();
}

int about_page_step(about_page *p, double t) {
  const int32_t slide = about_slide_at(t, site_logo() >= 0);
  const int32_t alpha = about_alpha_at(t);
  const int changed = slide != p->slide;
  if (changed) {
    p->slide = slide;
    p->lines = about_slide_lines(slide);
    p->image = about_slide_image(slide);
    p->dirty = 1;
  }
  p->fade = alpha > 0 ? (static_cast<colour>(alpha) << 24) | 0x00ffffffu : 0;
  return changed || (alpha > 0 && alpha < 255) || p->fade != p->drawn;
}

about_page *about_page_new(widget *parent) {
  return static_cast<about_page *>(widget_new(parent, about_page_type()));
}

typeid_t about_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}
