#include "screen/helpwin.h"

#include <algorithm>
#include <cstring>

#include "lib/font.h"
#include "lib/gfx.h"
#include "screen/screen.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/launch-linux.h"

// The keys are this build's chords: SUPER is the key the keyboard bindings
// read as the command modifier.
const help_row kHelpKeys[kHelpRows] = {
    {"*", "General"},
    {"Choose a Stock:", "Type its code and press ENTER"},
    {"", "or drag it in from another window"},
    {"Resize Windows:", "Drag the borders between windows"},
    {"", "to share the space between them"},
    {"Drag and Drop:", "Codes can be dragged and dropped"},
    {"", "to add, change or remove stocks"},
    {"Copy:", "Use SUPER-C to copy the data in the selected window"},
    {"", "Use ALT-C to copy an image of the selected window"},
    {"", "Use CTRL-C to copy just the stock code of the window"},
    {"Paste:", "Use SUPER-V to paste codes into the selected window"},
    {"Mouse over:", "Mouse slowly over areas to popup"},
    {"", "detailed info; move quickly to remove it"},
    {"SHIFT:", "Hold down the shift key when using most tools to"},
    {"", "perform the action on all windows at once"},
    {"Column Names:", "Drag the Help button over a column"},
    {"", "to see its definition"},
    {"Undo:", "SUPER-Z takes back the last change to windows,"},
    {"", "lists and settings"},
    {"Saving:", "All state is saved periodically and on exit"},
    {"", "CTRL-S will save state immediately"},
    {"*", "Stocks"},
    {"D", "Show the market depth of the stock"},
    {"C", "Chart the stock"},
    {"T", "Show the stock's course of sales"},
    {"O", "Show the option list"},
    {"A", "Show the stock's announcements"},
    {"G", "Search the web for the stock"},
    {"P", "Show the company profile"},
    {"SHIFT ENTER", "Show the code in every window"},
    {"SHIFT D...", "Change every window to depth, and so on"},
    {"*", "Search for Codes"},
    {"?", "Show Search window"},
    {"", "or press SPACE, type XXX?, press ENTER"},
    {"*", "Speed Pad"},
    {"-", "Drag and drop Codes on to the Speed Pad buttons, then:"},
    {"1-9", "Show the code of that button"},
    {"SHIFT 1-9", "Show that code in every window"},
    {"*", "Tools"},
    {"-", "Click Panel names to show or hide them"},
    {"-", "Click and drag between Panels to stretch them"},
    {"CTRL T", "Show or hide the toolbars"},
    {"CTRL P", "Show or hide the window's tool panel"},
    {"", "or RIGHT CLICK on the window"},
    {"SHIFT CTRL P", "Give every window this tool panel"},
    {"", "or SHIFT RIGHT CLICK on the window"},
    {"|", ""},
    {"*", "Charts"},
    {"C", "Chart the stock"},
    {"SPACE C1,2,3...", "Use chart style 1, 2, 3..."},
    {"CTRL", "Hold to read the values under the pointer"},
    {"CTRL LEFT", "Move the chart back in time"},
    {"CTRL RIGHT", "Move the chart forward in time"},
    {"SHIFT CTRL", "Hold to apply to every chart"},
    {"*", "Watchlists"},
    {"W, ENTER", "Show the next watchlist"},
    {"W1,2,3...", "Show watchlist 1, 2, 3..."},
    {"+XXX, ENTER", "Add XXX to the watchlist"},
    {"\\-XXX, ENTER", "Remove XXX from watchlist"},
    {"", "or Drag an item to the Remove button"},
    {"", "Several codes may be given at once,"},
    {"", "separated by spaces: +AAA BBB, ENTER"},
    {"*", "Smartlists"},
    {"S, ENTER", "Show the next smartlist"},
    {"S1,2,3...", "Show smartlist 1, 2, 3..."},
    {"*", "Alerts"},
    {"ALT A", "Show the alerts"},
    {"+XXX, ENTER", "Add an alert for XXX"},
    {"\\-XXX, ENTER", "Remove the alerts of XXX"},
    {"", "Several codes may be given at once,"},
    {"", "separated by spaces: -AAA BBB, ENTER"},
    {"*", "Market lists"},
    {"R", "Show the rises and falls"},
    {"F", "Show the most active by value"},
    {"V", "Show the most active by volume"},
    {"ALT V", "Show volume against the usual"},
    {"N", "Show today's announcements"},
    {"I", "Show the index list"},
    {"*", "Exchange"},
    {".A", "Make ASX the default exchange"},
    {".N", "Make NZX the default exchange"},
    {". ENTER", "Switch to the other exchange"},
    {"", "Codes typed without an exchange"},
    {"", "are looked up on the default one"},
    {"-", "(only valid if subscribed to both ASX and NZX)"},
    {"|", ""},
    {"*", "RSS"},
    {"/RSS", "Show the news feeds"},
    {"SPACE R1,2,3...", "Show feed 1, 2, 3..."},
    {"G", "Search the web for the stock's news"},
    {"*", "Misc"},
    {"CTRL W", "Highlight the watched stocks"},
    {"SUPER Z", "Undo the last change"},
    {"H", "Toggle this help"},
    {"*", "Window Movement"},
    {"TAB", "Select the next window"},
    {"CTRL TAB", "Select the previous window"},
    {"UP", "Move up the list"},
    {"DOWN", "Move down the list"},
    {"PAGE UP", "Move up a page"},
    {"PAGE DOWN", "Move down a page"},
    {"HOME", "Go to the top of the list"},
    {"END", "Go to the end of the list"},
    {"|", ""},
    {"*", "Window Layout"},
    {"/ 2", "Split the desktop in two"},
    {"/ H", "Split the window across"},
    {"/ V", "Split the window down"},
    {"/ 3", "Lay the desktop out in three"},
    {"/ 4", "Lay the desktop out in four"},
    {"/ 6", "Lay the desktop out in six"},
    {"/ 9", "Lay the desktop out in nine"},
    {"CTRL L", "Redraw the screen"},
    {"CTRL X", "Keep only the selected window"},
    {"Z", "Zoom or unzoom the window"},
    {"*", "Desktop"},
    {"F1-F10", "Go to desktop 1 to 10"},
    {"ALT LEFT", "Go to the previous desktop"},
    {"ALT RIGHT", "Go to the next desktop"},
    {"*", "Popups"},
    {"Q", "Show or hide the quick window"},
    {"ALT 1,2,3...", "Show quote popup 1, 2, 3..."},
    {"ALT 0", "Hide the quote popup"},
    {"ESC", "Close the popups"},
    {"*", "Appearance"},
    {"CTRL +", "Make the text larger"},
    {"CTRL -", "Make the text smaller"},
    {"*", "Logout"},
    {"CTRL Q", "Log out or quit"},
    {"", "or ALT F4"},
};

const char kHelpSupportUrl[] = "https://www.kestrel-markets.invalid/support";
const char kHelpSupportText[] = "www.kestrel-markets.invalid/support";
const char kHelpFooter[] = "More help, including video tutorials can be found at ";

namespace {

constexpr int32_t kTop = 5, kLeft = 8, kGap = 8;
constexpr uint32_t kPanelFill = 0xffe8f0f0u, kPanelEdge = 0xff808080u, kInk = 0xff000000u;
constexpr float kRemovalSpeed = 15.0f;  // pixels per sample

helpwin *as_help(widget *w) { return static_cast<helpwin *>(w); }

int32_t extent(int32_t font, const char *text) {
  int32_t wh[2] = {0, 0};
  font_text_size(wh, font, text);
  return wh[0];
}

const char *shown_key(const char *key) { return key[0] == '\\' ? key + 1 : key; }

void reset_scroll(helpwin *h) { h->offset_x = h->offset_y = 0; }

rect link_on_screen(const helpwin *h) {
  return {h->r.x + h->offset_x + h->link.x, h->r.y + h->offset_y + h->link.y, h->link.w, h->link.h};
}

int inside(const rect &r, int32_t x, int32_t y) {
  return r.w > 0 && x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

void h_geometry_changed(widget *self) {
  reset_scroll(as_help(self));
  as_help(self)->dirty = 1;
}

void h_reqsize(widget *self, size *out) {
  helpwin *h = as_help(self);
  if (h->dirty) helpwin_layout(h);
  *out = h->content;
}

void h_size_limits(widget *self, size *min, size *max) {
  helpwin *h = as_help(self);
  if (h->dirty) helpwin_layout(h);
  if (min) *min = {h->m.key_w + h->m.desc_w + 24, h->content.h * 2 / 3};
  if (max) *max = h->content;
}

void h_draw(widget *self) {
  helpwin *h = as_help(self);
  if (h->dirty) helpwin_layout(h);
  const rect &r = h->r;
  gfx_fill_rect(r.x, r.y, r.w, r.h, kPanelFill);
  gfx_begin_lines(kPanelEdge);
  gfx_line(r.x, r.y, r.x + r.w - 1, r.y);
  gfx_line(r.x + r.w - 1, r.y, r.x + r.w - 1, r.y + r.h - 1);
  gfx_line(r.x + r.w - 1, r.y + r.h - 1, r.x, r.y + r.h - 1);
  gfx_line(r.x, r.y + r.h - 1, r.x, r.y);
  gfx_end_lines();
  const rect inner = {r.x + 7, r.y + 4, r.w - 13, r.h - 7};
  rect previous;
  gfx_set_clip(&inner, &previous);
  gfx_colour(kInk);
  gmap_draw_at(&h->text, r.x + h->offset_x, r.y + h->offset_y);
  int32_t x, y;
  const rect link = link_on_screen(h);
  if (gui_widget_mouse(h, &x, &y) && inside(link, x, y)) {
    gfx_begin_lines(kInk);
    gfx_line(link.x, link.y + link.h - 1, link.x + link.w, link.y + link.h - 1);
    gfx_end_lines();
  }
  gfx_set_clip(previous.w > 0 ? &previous : nullptr, nullptr);
}

void h_restyle(widget *self) { as_help(self)->dirty = 1; }
void h_show_children(widget *self) { reset_scroll(as_help(self)); }

int h_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  if (n != 1) return 0;
  helpwin *h = as_help(self);
  // A new drag carries on from the current scroll rather than jumping back
  // to the panel's top-left corner.
  h->press_x = x - h->offset_x;
  h->press_y = y - h->offset_y;
  if (d) d->w = self;
  return 1;
}

void h_drag_motion(widget *self, int32_t x, int32_t y, int, drag_record *) {
  helpwin *h = as_help(self);
  h->offset_x = help_clamp_offset(x - h->press_x, h->r.w, h->content.w);
  h->offset_y = help_clamp_offset(y - h->press_y, h->r.h, h->content.h);
  widget_redraw(h);
}

int h_drag_release(widget *, widget *, int32_t, int32_t, int, drag_record *) { return 0; }

void h_release(widget *self, int32_t x, int32_t y, int button) {
  helpwin *h = as_help(self);
  if (button == 1 && !gui_dragging() && inside(link_on_screen(h), x, y)) launch_open_url(kHelpSupportUrl);
}

void h_motion(widget *self, int32_t, int32_t) { widget_redraw(self); }

void h_leave(widget *self) {
  (void)self;
  if (gui_dragging()) return;
  const style *s = style_cur();
  const float speed = s ? s->real[2] : kRemovalSpeed;
  if (gui_mouse_speed() >= speed && screen_is_up()) screen_hide_help();
}

void h_init(object *obj) {
  helpwin *h = reinterpret_cast<helpwin *>(obj);
  gmap_setup(&h->text, GMAP_QUADS, 4 * 4000, 0);
  h->dirty = 1;
}

void h_fini(object *obj) { gmap_release(&reinterpret_cast<helpwin *>(obj)->text); }

void h_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = h_geometry_changed;
  c->reqsize = h_reqsize;
  c->size_limits = h_size_limits;
  c->draw = h_draw;
  c->restyle = h_restyle;
  c->show_children = h_show_children;
  c->drag_begin = h_drag_begin;
  c->drag_motion = h_drag_motion;
  c->drag_release = h_drag_release;
  c->release = h_release;
  c->motion = h_motion;
  c->leave = h_leave;
}

typeid_t register_helpwin() {
  return object_register_class("helpwin", widget_type(), sizeof(helpwin), h_init, h_fini, sizeof(widget_class),
                               h_class_init, nullptr);
}

}  // namespace

help_fonts help_style_fonts() {
  const style *s = style_cur();
  // Headings, keys and the link in the heading font (capitals); never the
  // value font, whose 'a'-'j' are small digits.
  help_fonts f = s ? help_fonts{s->font[5], s->font[0], 0} : help_fonts{13, 4, 0};
  // The line step: the body font's height and 3 pixels of leading.
  int32_t asc = 0, desc = 0;
  font_metrics(nullptr, nullptr, &asc, &desc, f.body);
  f.step = asc + desc + 3;
  return f;
}

void help_measure_keys(const help_row *rows, int n, const help_fonts *f, help_measure *out) {
  memset(out, 0, sizeof *out);
  int col = 0;
  for (int i = 0; i < n; i++) {
    const help_row &r = rows[i];
    out->chars += static_cast<int32_t>(strlen(r.key) + strlen(r.desc));
    if (strcmp(r.key, "|") == 0) {
      if (col < kHelpColumns - 1) col++;
    } else if (strcmp(r.key, "*") == 0) {
      out->desc_w = std::max(out->desc_w, extent(f->key, r.desc));
      out->column_h[col] += 2 * f->step;
    } else if (strcmp(r.key, "-") == 0) {
      out->note_w = std::max(out->note_w, extent(f->body, r.desc));
      out->column_h[col] += 2 * f->step;
    } else if (!r.key[0]) {
      out->desc_w = std::max(out->desc_w, extent(f->body, r.desc));
      out->column_h[col] += f->step;
    } else {
      out->key_w = std::max(out->key_w, extent(f->key, shown_key(r.key)));
      out->desc_w = std::max(out->desc_w, extent(f->body, r.desc));
      out->column_h[col] += f->step;
    }
  }
  out->text_h = *std::max_element(out->column_h, out->column_h + kHelpColumns) - f->step;
  if (out->note_w > out->key_w + out->desc_w + kGap) out->desc_w = out->note_w - kGap - out->key_w;
}

int32_t help_place_keys(const help_row *rows, int n, const help_measure *m, int32_t step, help_placed *out) {
  int32_t x = kLeft, y = kTop, lowest = kTop;
  int col = 0;
  for (int i = 0; i < n; i++) {
    const help_row &r = rows[i];
    help_placed &p = out[i];
    p = {0, col, x + m->key_w, x + m->key_w + kGap, y, nullptr, r.desc};
    if (strcmp(r.key, "|") == 0) {
      if (col < kHelpColumns - 1) {
        col++;
        x += m->key_w + m->desc_w + kGap;
      }
      y = kTop;
      p.kind = 4;
      continue;
    }
    if (strcmp(r.key, "*") == 0) {
      if (y != kTop) y += step;
      p.kind = 1;
      p.y = y;
    } else if (strcmp(r.key, "-") == 0) {
      p.kind = 2;
      p.text_x = x + (m->key_w + m->desc_w + kGap) / 2;
    } else if (!r.key[0]) {
      p.kind = 3;
    } else {
      p.key = shown_key(r.key);
    }
    y += step;
    lowest = std::max(lowest, y);
  }
  return lowest;
}

int32_t help_clamp_offset(int32_t v, int32_t view, int32_t content) {
  return std::max(std::min(v, 0), std::min(view - content, 0));
}

void helpwin_layout(helpwin *h) {
  const help_fonts f = help_style_fonts();
  help_measure_keys(kHelpKeys, kHelpRows, &f, &h->m);
  help_placed placed[kHelpRows];
  int32_t lowest = help_place_keys(kHelpKeys, kHelpRows, &h->m, f.step, placed);
  gmap_begin(&h->text, static_cast<uint32_t>(4 * h->m.chars + 400));
  int32_t widest = 0;
  auto put = [&](const char *text, int32_t x, int32_t y, uint32_t align, int32_t font) {
    rect out = {0, 0, 0, 0};
    font_layout(&h->text, text, x, y, align | 0x10, font, &out);
    widest = std::max(widest, out.x + out.w);
    return out;
  };
  for (const help_placed &p : placed) {
    switch (p.kind) {
      case 1: put(p.text, p.text_x, p.y, 0, f.key); break;
      case 2: put(p.text, p.text_x, p.y, 2, f.body); break;
      case 3: put(p.text, p.text_x, p.y, 0, f.body); break;
      case 0:
        put(p.key, p.key_x, p.y, 1, f.key);
        put(p.text, p.text_x, p.y, 0, f.body);
        break;
      default: break;
    }
  }
  int32_t asc = 0, desc = 0;
  font_metrics(nullptr, nullptr, &asc, &desc, f.body);
  const int32_t footer_y = lowest + 3 * (asc + desc);
  const int32_t w1 = extent(f.body, kHelpFooter), w2 = extent(f.key, kHelpSupportText);
  const int32_t fx = std::max(kLeft, (widest - w1 - w2) / 2);
  put(kHelpFooter, fx, footer_y, 0, f.body);
  const rect l = put(kHelpSupportText, fx + w1, footer_y, 0, f.key);
  gmap_end(&h->text);
  h->link = {l.x - 2, l.y - 5, l.w + 4, l.h + 5};
  h->content = {widest + 9, std::max(l.y + l.h, lowest) + 6};
  h->dirty = 0;
}

typeid_t helpwin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_helpwin);
}

widget *helpwin_new(widget *parent) { return widget_new(parent, helpwin_type()); }

void helpwin_set_topic(widget *hw, int topic) {
  helpwin *h = as_help(hw);
  h->topic = topic;
  h->dirty = 1;
  widget_redraw(h);
}
