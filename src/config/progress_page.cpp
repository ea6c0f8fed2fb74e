#include "config/progress_page.h"

#include <cstdio>
#include <cstring>

#include "config/configbox.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "ssio.h"
#include "ssmsg.h"
#include "ssproto.h"
#include "style.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/hider.h"
#include "ui/label.h"
#include "ui/sizer.h"

namespace {

constexpr int32_t kTickMs = 10;
constexpr float kStopAfter = 2.5f;
constexpr int32_t kBoxWidth = 300, kBarHeight = 24;
constexpr colour kBoxFill = 0x78000000u;
constexpr colour kBarTop = 0x64EBCD83u, kBarBottom = 0xFFEBCD83u;
constexpr int32_t kStopCommand = 1;

progress_page *as_page(widget *w) { return static_cast<progress_page *>(w); }

int tick(void *arg, uint32_t, int64_t, float t) {
  progress_page *p = as_page(static_cast<widget *>(arg));
  char text[kSsmsgTextMax + 1];
  ssmsg_get(text);
  if (strcmp(text, label_text(p->status)) != 0) label_set_text(p->status, text);
  const int shown = !hider_is_hidden(p->stop_hider);
  if (progress_stop_shown(t, p->mode, shown) != shown) hider_set_hidden(p->stop_hider, shown);
  widget_redraw(p);
  return 1;
}

void on_stop(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK) || id != kStopCommand) return;
  progress_page *p = as_page(static_cast<widget *>(arg));
  configbox *box = configbox_find(p);
  if (!box) return;
  if (p->mode == 0)
    configbox_cancel_login(box);
  else
    configbox_stop_login(box);
}

void page_show_children(widget *self) {
  progress_page *p = as_page(self);
  hider_set_hidden(p->stop_hider, 1);
  configbox_page_timer(&p->timer, kTickMs, tick, p);
  configbox_page_show_parent(self);
}

void page_hide_children(widget *self) {
  configbox_page_timer(&as_page(self)->timer, 0, nullptr, nullptr);
  configbox_page_hide_parent(self);
}

void page_draw(widget *self) {
  progress_page *p = as_page(self);
  const rect a = p->bar->r;
  const int32_t cx = a.x + a.w / 2, cy = a.y + a.h / 2;
  const int32_t pct = progress_page_value(p);
  gfx_fill_rect(cx - kBoxWidth / 2, a.y, kBoxWidth, a.h, kBoxFill);
  if (pct > 0) gfx_gradient_rect(cx - 149, a.y + 1, 3 * pct - 2, a.h - 2, kBarTop, kBarBottom);
  char text[16];
  snprintf(text, sizeof text, "%d%%", pct);
  const style *s = style_cur();
  const int32_t font = s ? s->font[8] : 8;
  font_draw(text, cx + 1, cy + 1, 0x42, font, 0xff000000u, nullptr);
  font_draw(text, cx, cy, 0x42, font, 0xffffffffu, nullptr);
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  rec->draw(self);
}

void page_init(object *obj) {
  progress_page *p = reinterpret_cast<progress_page *>(obj);
  p->timer = -1;
}

void page_fini(object *obj) {
  configbox_page_timer(&reinterpret_cast<progress_page *>(obj)->timer, 0, nullptr, nullptr);
}

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
  c->draw = page_draw;
}

typeid_t register_page() {
  return object_register_class("progress_page", bin_type(), sizeof(progress_page), page_init,
                               page_fini, sizeof(container_class), page_class_init, nullptr);
}

}  // namespace

int32_t progress_login_percent(int64_t n, int64_t c, int64_t b) {
  if (n < 1 || c <= b) return 0;
  const int64_t pct = (c - b) * 100 / n;
  return pct >= 99 ? 100 : static_cast<int32_t>(pct);
}

int32_t progress_mode_percent(int32_t mode, int32_t login) {
  switch (mode) {
    case 0: return login;
    case 1: return 0;
    case 2: return 100;
    default: return 50;
  }
}

int progress_stop_shown(float t, int32_t mode, int shown) {
  if (mode == 2) return 0;
  if (shown) return 1;
  return t > kStopAfter && (mode == 0 || mode == 1);
}

typeid_t progress_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

progress_page *progress_page_new(widget *parent) {
  auto *p = static_cast<progress_page *>(widget_new(parent, progress_page_type()));
  if (!p) return nullptr;
  vbox *col = vbox_new(p, 0, 12);
  p->status = label_new(col, "", 2, configbox_font(), 0, 0xffffffffu, nullptr);
  const size area = {kBoxWidth, kBarHeight};
  p->bar = sizer_new(col, SIZER_FILL_W, &area, nullptr, 1.0f);
  hbox *row = hbox_new(col, 1, 0);
  // Invisible spacers as wide as a "Preferences" button keep Stop centred.
  widget *left = configbox_spacer(row);
  p->stop_hider = hider_new(row, 1);
  p->stop = button_new(p->stop_hider, "Stop", -1, 0, 0, nullptr, configbox_buttons(), on_stop, p, kStopCommand);
  widget *right = configbox_spacer(row);
  if (!col || !p->status || !p->bar || !row || !left || !p->stop_hider || !p->stop || !right) {
    widget_delete(p);
    return nullptr;
  }
  return p;
}

void progress_page_set_mode(progress_page *p, int32_t mode) {
  p->mode = mode;
  if (mode == 0) p->base = ssio_bytes_received();
  if (mode == 2) hider_set_hidden(p->stop_hider, 1);
  widget_redraw(p);
}

int32_t progress_page_value(progress_page *p) {
  int32_t login = 0;
  if (p->mode == 0)
    login = progress_login_percent(ssproto_expected_bytes(), static_cast<int64_t>(ssio_bytes_received()),
                                   static_cast<int64_t>(p->base));
  return progress_mode_percent(p->mode, login);
}
