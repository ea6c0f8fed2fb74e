// The window bar of a maximised screen: minimise, maximise/restore and close
// in a small hbox, each button acting on the screen that holds the bar (made
// current first, so a bar on another screen never acts on the current one).
// All window-bar buttons share one colour set, made on first use.
//
// Slots: draw (the backdrop at the right edge, then the child), restyle.
#include "tools/winbar.h"

#include "action.h"
#include "lib/gfx.h"
#include "lib/tex.h"
#include "screen/screen.h"
#include "style.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/sizer.h"

namespace {

constexpr uint32_t kBarDark = 0xFF19190Fu;
constexpr uint32_t kBarText = 0xFFC8C8C8u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

struct winbar : bin {
  button *middle;
};

const winbar_ops kScreenOps = {screen_set_current_from, screen_minimise, screen_restore,
                               screen_maximise, action_close_screen};

struct {
  const winbar_ops *ops = &kScreenOps;
  typeid_t type = -1;
  button_colours colours;
  bool made;
} W;

void make_colours() {
  if (W.made) return;
  const style *s = style_cur();
  button_set_colours(&W.colours, s ? uint32_t(s->font[0]) : 0, kBarDark, kBarText, 0, kWhite);
  W.colours.entry[11].fill = winbar_lighten(kBarDark, 80);
  W.colours.entry[12].fill = kWhite;
  W.colours.entry[6].fill = winbar_lighten(kBarDark, 50);
  W.made = true;
}

// The buttons' pictures from the atlas: minimise the downward arrow,
// maximise a single pane, restore a pane split in two, close the style's
// close cross.
constexpr int32_t kMinimiseIcon = 23, kMaximiseIcon = 7, kRestoreIcon = 8;
int32_t close_icon() {
  const style *s = style_cur();
  return s ? s->numbers[9] : 16;
}

// The backdrop: the style's panel fill texture in the bar's dark colour,
// kWinbarBackdropInset pixels wide at the bar's right edge, as a tab that
// hangs from the bar's top edge (its bottom-left corner rounded, the others
// square against the bar's top and right edges).
void draw_backdrop(const rect &r) {
  const style *s = style_cur();
  const int32_t image = s && s->panel_texture[0] >= 0 ? s->panel_texture[0] : kTexPanelFill;
  int32_t corner[2 * 9] = {};
  tex_part_sizes(corner, image);
  const int32_t cw = corner[4], ch = corner[1];  // the top-right width, the top-left height
  const int32_t x = r.x + r.w - kWinbarBackdropInset;
  // The texture laid over the strip grown by a corner up and right, of which
  // only the cells inside the strip are drawn: left, centre, bottom-left
  // and bottom.
  gfx_colour(kBarDark);
  tex_draw_parts(image, x, r.y - ch, kWinbarBackdropInset + cw, r.h + ch, 8u | 16u | 64u | 128u);
}

void wb_draw(widget *self) {
  draw_backdrop(self->r);
  static_cast<widget_class *>(object_class_record(bin_type()))->draw(self);
}

void give_colours(widget *w, void *, int) {
  if (object_is_a(widget_obj(w), button_type()))
    button_set_image(static_cast<button *>(w), winbar_colours());
  w->cls->apply_children(w, give_colours, nullptr, 0);
}

void wb_restyle(widget *self) {
  auto *parent = static_cast<widget_class *>(object_class_record(bin_type()));
  if (parent->restyle) parent->restyle(self);
  self->cls->apply_children(self, give_colours, nullptr, 0);
}

void wb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->draw = wb_draw;
  c->restyle = wb_restyle;
}

}  // namespace

uint32_t winbar_lighten(uint32_t c, int n) {
  uint32_t out = c & 0xff000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    int v = int((c >> shift) & 0xff) + n;
    if (v > 255) v = 255;
    if (v < 0) v = 0;
    out |= uint32_t(v) << shift;
  }
  return out;
}

const button_colours *winbar_colours() {
  make_colours();
  return &W.colours;
}

widget *winbar_new(widget *parent) {
  if (W.type < 0)
    W.type = object_register_class("winbar", bin_type(), sizeof(winbar), nullptr, nullptr,
                                   sizeof(container_class), wb_class_init, nullptr);
  if (W.type < 0) return nullptr;
  auto *wb = static_cast<winbar *>(widget_new(parent, W.type));
  if (!wb) return nullptr;
  padding pad{0, 15, 1, 2};
  sizer *sz = sizer_new(wb, 0, nullptr, &pad, 1.0f);
  hbox *row = hbox_new(sz, 0, 3);
  const button_colours *c = winbar_colours();
  button_new(row, "", kMinimiseIcon, 0, BUTTON_CENTRE_X, nullptr, c, winbar_on_button, wb, WINBAR_MINIMISE);
  wb->middle = button_new(row, "", kMaximiseIcon, 0, BUTTON_CENTRE_X, nullptr, c, winbar_on_button, wb,
                          WINBAR_MAXIMISE);
  button_new(row, "", close_icon(), 0, BUTTON_CENTRE_X, nullptr, c, winbar_on_button, wb, WINBAR_CLOSE);
  return wb;
}

void winbar_set_maximised(widget *w, int on) {
  auto *wb = static_cast<winbar *>(w);
  if (!wb || !wb->middle) return;
  button_set_icon(wb->middle, on ? kRestoreIcon : kMaximiseIcon);
  button_set_id(wb->middle, on ? WINBAR_RESTORE : WINBAR_MAXIMISE);
  widget_redraw(wb->middle);
}

int winbar_maximised(widget *w) {
  auto *wb = static_cast<winbar *>(w);
  return wb && wb->middle && wb->middle->id == WINBAR_RESTORE;
}

button *winbar_middle(widget *w) { return w ? static_cast<winbar *>(w)->middle : nullptr; }

void winbar_on_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK)) return;
  const winbar_ops *ops = W.ops;
  ops->make_current(static_cast<widget *>(arg));
  switch (id) {
    case WINBAR_MINIMISE: ops->minimise(); break;
    case WINBAR_RESTORE: ops->restore(); break;
    case WINBAR_MAXIMISE: ops->maximise(); break;
    case WINBAR_CLOSE: ops->close(screen_current_index()); break;
    default: break;
  }
}

void winbar_set_ops(const winbar_ops *ops) { W.ops = ops ? ops : &kScreenOps; }
