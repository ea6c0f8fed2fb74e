// Visual styles. The four records are filled once at start-up from the
// dark palette (style 0), which styles 2 and 3 copy and style 1 lightens.
// Everything that depends on the size (fonts, line metrics, the tooltip's
// look, the button colour set's font) is written into the current record
// when the size or the style changes, so widgets read plain fields and
// never compute a style value while drawing.
#include "style.h"

#include <cstring>

#include "dalloc.h"
#include "lib/colour.h"
#include "lib/fade.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/tex.h"
#include "log.h"
#include "ui/gui.h"
#include "ui/tooltip.h"
#include "ui/widget.h"

static const char kSrc[] = "src/style";

namespace {

const int32_t kSizeTable[kStyleKinds][kStyleSizes] = {
    {4, 6, 8, 9, 11},      {5, 7, 7, 10, 12},     {0, 1, 4, 6, 9},
    {18, 18, 19, 19, 19},  {4, 6, 8, 9, 11},      {13, 14, 15, 16, 17},
    {19, 19, 20, 20, 20},  {4, 6, 8, 9, 9},       {18, 19, 20, 20, 20},
};
const int32_t kSmall[7] = {1, 2, 3, 4, 5, 6, 3};
const int32_t kPerSize1[kStyleSizes] = {8, 8, 10, 10, 12};
const int32_t kPerSize2[kStyleSizes] = {4, 4, 6, 8, 10};
const int32_t kNumbers[23] = {7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 27, 26,
                              28, 29, 30, 31, 33, 32, 38, 37, 34, 35, 36};
const int32_t kPanelTextures[4] = {39, -1, 41, 42};

struct {
  style *rec[kStyles];
  int current;
  int size;
  int scale;
  button_colours buttons;  // the current style's set, shared by every button
  void (*refresh_hook)();  // the screens' refresh, installed by the screens
  uint32_t refreshes;
} S = {{}, -1, -1, 5, {}, nullptr, 0};

uint32_t &C(style *s, int field) { return s->colour[field - kStyleFirstColour]; }

// The dark palette of style 0: a ramp of greys from the background to the
// text under the named colours.
void dark_palette(style *s) {
  for (int i = 0; i < kStyleColours; i++) s->colour[i] = colour_blend(0xff282828, 0xfff0f0f0, 95 - i);
  C(s, SC_BACKGROUND) = 0xff282828;
  C(s, SC_PANEL) = 0xff343232;
  C(s, SC_PANEL_LIGHT) = colour_lighten(0xff343232, 24);
  C(s, SC_TEXT) = 0xfff0f0f0;
  C(s, SC_UP) = 0xff45c627;
  C(s, SC_DOWN) = 0xff5543d9;
  C(s, SC_UP_HIGHLIGHT) = colour_lighten(0xff45c627, 60);
  C(s, SC_DOWN_HIGHLIGHT) = colour_lighten(0xff5543d9, 60);
  C(s, SC_TEXT_DIM) = 0xffa0a0a0;
  C(s, SC_GRID) = 0xff404040;
  C(s, SC_SELECTION) = 0xff6a4a2a;
  C(s, SC_OUTLINE) = 0xff000000;
  C(s, SC_TOOLTIP) = 0xffc8f0f8;
  C(s, SC_LINK) = 0xfff0c060;
  C(s, SC_HEADER) = 0xff3c3a3a;
  C(s, SC_HEADER_TEXT) = 0xffd0d0d0;
  C(s, SC_ALT_ROW) = 0xff2e2e2e;
  C(s, SC_FLASH) = 0xff205a8c;  // a dim amber: the light text stays readable on it
  C(s, SC_WARNING) = 0xff2090f0;
  C(s, SC_BUTTON_TEXT) = 0xfff0f0f0;
  C(s, SC_GRID_BACKGROUND) = 0xff202020;
  C(s, SC_WATCHED) = 0xff303a30;
  C(s, SC_CHART_BACKGROUND) = 0xff1c1c1c;
  C(s, SC_BAND) = 0xff2c2c30;
  C(s, SC_AUCTION) = 0xff30303c;
  C(s, SC_BID_TEXT) = C(s, SC_UP);
  C(s, SC_OFFER_TEXT) = C(s, SC_DOWN);
}

// Style 1: the light variant, thirty colours replaced.
void light_palette(style *s) {
  C(s, SC_BACKGROUND) = 0xffcecece;
  C(s, SC_PANEL) = 0xffb69b76;
  C(s, SC_PANEL_LIGHT) = 0xffc2ad8a;
  C(s, SC_TEXT) = 0xff000000;
  C(s, SC_UP) = 0xff118c00;
  C(s, SC_DOWN) = 0xff1010c0;
  C(s, SC_UP_HIGHLIGHT) = 0xff80f080;
  C(s, SC_DOWN_HIGHLIGHT) = 0xff8080ff;
  C(s, SC_TEXT_DIM) = 0xff505050;
  C(s, SC_GRID) = 0xffa8a8a8;
  C(s, SC_SELECTION) = 0xffe0c8a0;
  C(s, SC_TOOLTIP) = 0xffe0ffff;
  C(s, SC_LINK) = 0xff904000;
  C(s, SC_HEADER) = 0xffc2ad8a;
  C(s, SC_HEADER_TEXT) = 0xff000000;
  C(s, SC_ALT_ROW) = 0xffc4c4c4;
  C(s, SC_FLASH) = 0xff00a0ff;
  C(s, SC_BUTTON_TEXT) = 0xff000000;
  C(s, SC_GRID_BACKGROUND) = 0xffd8d8d8;
  C(s, SC_WATCHED) = 0xffc8e0c8;
  C(s, SC_CHART_BACKGROUND) = 0xffe4e4e4;
  C(s, SC_BAND) = 0xffc8c8d0;
  C(s, SC_AUCTION) = 0xffd0d0e0;
  for (int f = 100; f < 107; f++) C(s, f) = colour_blend(0xffcecece, 0xff000000, 80 - (f - 100) * 8);
  C(s, SC_BID_TEXT) = C(s, SC_UP);
  C(s, SC_OFFER_TEXT) = C(s, SC_DOWN);
}

// The button colour set from the base colours; fonts come with the size.
void build_buttons(style *s, int32_t font) {
  button_colours &b = s->buttons;
  uint32_t panel = C(s, SC_PANEL), text = C(s, SC_BUTTON_TEXT), line = C(s, SC_OUTLINE);
  button_set_colours(&b, (uint32_t)font, panel, text, line, 0);
  uint32_t on = colour_blend(C(s, SC_SELECTION), panel, 70);
  b.entry[1] = {(uint32_t)font, colour_darken(panel, 20), text, line, 0};
  b.entry[2] = {(uint32_t)font, colour_lighten(panel, 20), text, line, 0};
  b.entry[3] = {(uint32_t)font, panel, C(s, SC_TEXT_DIM), line, 0};
  b.entry[4] = {(uint32_t)font, on, text, line, 0};
  b.entry[6] = {(uint32_t)font, colour_lighten(on, 20), text, line, 0};
  b.entry[8] = b.entry[4];
  b.entry[9] = b.entry[6];
  b.entry[16] = {(uint32_t)font, panel, colour_blend(C(s, SC_TEXT_DIM), panel, 50), line, 0};
  b.pad = {2, 6, 2, 6};
}

void scale_ramps(style *s) {
  float secs = (float)S.scale;
  int32_t *r = s->ramp + (kStyleRamps - kStyleScaleRamps);
  r[0] = fade_colour_ramp(C(s, SC_UP_HIGHLIGHT), C(s, SC_PANEL), secs);
  r[1] = fade_colour_ramp(C(s, SC_DOWN_HIGHLIGHT), C(s, SC_PANEL), secs);
  r[2] = fade_colour_ramp(colour_darken(C(s, SC_UP), 100), C(s, SC_UP), secs);
  r[3] = fade_colour_ramp(colour_darken(C(s, SC_DOWN), 100), C(s, SC_DOWN), secs);
}

void make_ramps(style *s) {
  int32_t *r = s->ramp;
  uint32_t bg = C(s, SC_BACKGROUND), panel = C(s, SC_PANEL), light = C(s, SC_PANEL_LIGHT);
  r[0] = fade_colour_ramp(bg, panel, 7.5f);
  r[1] = fade_colour_ramp(panel, bg, 2.5f);
  r[2] = fade_colour_ramp(panel, light, 7.5f);
  r[3] = fade_colour_ramp(C(s, SC_UP_HIGHLIGHT), panel, 5.0f);
  r[4] = fade_colour_ramp(C(s, SC_DOWN_HIGHLIGHT), panel, 5.0f);
  r[5] = fade_colour_ramp(C(s, SC_UP_HIGHLIGHT), bg, 5.0f);
  r[6] = fade_colour_ramp(C(s, SC_DOWN_HIGHLIGHT), bg, 5.0f);
  r[7] = fade_colour_ramp(colour_darken(C(s, SC_UP), 100), C(s, SC_UP), 5.0f);
  r[8] = fade_colour_ramp(colour_darken(C(s, SC_DOWN), 100), C(s, SC_DOWN), 5.0f);
  r[9] = fade_colour_ramp(colour_darken(C(s, SC_TEXT), 100), C(s, SC_TEXT), 5.0f);
  r[10] = fade_colour_ramp(colour_darken(light, 100), light, 5.0f);
  r[11] = fade_colour_ramp(C(s, SC_FLASH), panel, 5.0f);
  r[12] = fade_colour_ramp(panel, light, 1.0f);
  scale_ramps(s);
}

void fill(style *s, int n) {
  memset(s, 0, sizeof *s);
  for (int k = 0; k < kStyleKinds; k++) {
    memcpy(&s->size_table[5 * k], kSizeTable[k], sizeof kSizeTable[k]);
    s->font[k] = kSizeTable[k][0];
  }
  s->font_extra[0] = 2;
  s->font_extra[1] = 3;
  dark_palette(s);
  if (n == 1) light_palette(s);
  memcpy(s->panel_texture, kPanelTextures, sizeof kPanelTextures);
  s->tooltip_offset[0] = 0;
  s->tooltip_offset[1] = -2;
  s->tooltip_offset[2] = -1;
  uint32_t tip = colour_blend(C(s, SC_TOOLTIP), C(s, SC_PANEL_LIGHT), 85);
  uint32_t tooltip[7] = {39, tip, 3, 0xc8000000u, (uint32_t)s->font[4], 0xff000000u, 6};
  memcpy(s->tooltip_style, tooltip, sizeof tooltip);
  build_buttons(s, s->font[7]);
  memcpy(s->small, kSmall, sizeof kSmall);
  memcpy(s->per_size1_table, kPerSize1, sizeof kPerSize1);
  memcpy(s->per_size2_table, kPerSize2, sizeof kPerSize2);
  s->per_size1 = kPerSize1[0];
  s->per_size2 = kPerSize2[0];
  memcpy(s->numbers, kNumbers, sizeof kNumbers);
  s->real[0] = 7.0f;
  s->real[1] = 2.0f;
  s->real[2] = 15.0f;
  s->widget_style = 12;
}

// Writes everything that follows the size into the current record.
void apply_size(style *s, int size) {
  tooltip_set_offset(s->tooltip_offset[0], s->tooltip_offset[1], s->tooltip_offset[2]);
  for (int k = 0; k < kStyleKinds; k++) s->font[k] = s->size_table[5 * k + size];
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, s->font[0]);
  s->line_height = ascent + descent + 3;
  s->line_unit = ascent + descent + 5;
  s->fade_param[0] = fade_ramp(0, s->line_height + 1, 0.75f);
  s->fade_param[1] = fade_ramp(s->line_height + 1, 0, 0.75f);
  s->tooltip_style[4] = (uint32_t)s->font[4];
  const uint32_t *t = s->tooltip_style;
  tooltip_set_style((int32_t)t[0], t[1], (int32_t)t[2], t[3], (int32_t)t[4], t[5], (int32_t)t[6]);
  build_buttons(s, s->font[7]);
  button_set_default_font(s->font[7]);
  S.buttons = s->buttons;
  s->per_size1 = (s->per_size1_table[size] + 1) & ~1;
  s->per_size2 = s->per_size2_table[size];
  S.refreshes++;
  if (S.refresh_hook) S.refresh_hook();
}

}  // namespace

int style_init() {
  if (tex_load_builtin() != 0) {
    log(LOG_ERROR, kSrc, "can't load texture");
    return -1;
  }
  style_fini();
  for (int n = 0; n < kStyles; n++) {
    S.rec[n] = static_cast<style *>(dalloc_alloc((int32_t)sizeof(style)));
    if (!S.rec[n]) {
      log(LOG_ERROR, kSrc, "can't alloc style %d", n);
      return -1;
    }
    fill(S.rec[n], n);
    make_ramps(S.rec[n]);
  }
  S.current = -1;
  S.size = -1;
  return 0;
}

void style_fini() {
  for (style *&s : S.rec)
    if (s) {
      dalloc_free(s);
      s = nullptr;
    }
  S.current = -1;
  S.size = -1;
}

int style_select(int n) {
  if (n < 0 || n >= kStyles) {
    log(LOG_ERROR, kSrc, "bad style %d", n);
    return -1;
  }
  if (n == S.current || !S.rec[n]) return 0;
  S.current = n;
  style *s = S.rec[n];
  if (S.size >= 0) apply_size(s, S.size);
  S.buttons = s->buttons;
  panel_set_textures(s->panel_texture[0], s->panel_texture[1], s->panel_texture[2],
                     s->panel_texture[3]);
  widget_set_style_value(s->widget_style);
  gui_set_move_band(s->line_unit * 5 / 4);
  return 0;
}

const style *style_cur() { return S.current >= 0 ? S.rec[S.current] : nullptr; }
int style_current() { return S.current; }
void style_set_refresh_hook(void (*fn)()) { S.refresh_hook = fn; }
uint32_t style_refresh_count() { return S.refreshes; }
const button_colours *style_button_colours() { return &S.buttons; }
const style *style_get(int n) { return n >= 0 && n < kStyles ? S.rec[n] : nullptr; }

int style_set_size(int size) {
  if (size < 0) size = 0;
  if (size > 4) size = 4;
  if (size == S.size) return 0;
  S.size = size;
  if (S.current >= 0) apply_size(S.rec[S.current], size);
  return 1;
}

int style_size() { return S.size; }
int style_size_up() { return style_set_size(S.size + 1); }
int style_size_down() { return style_set_size(S.size - 1); }

int style_set_scale(int scale) {
  if (scale < 1 || scale > 99) return -1;
  if (scale == S.scale) return 0;
  S.scale = scale;
  for (style *s : S.rec)
    if (s) scale_ramps(s);
  return 0;
}

int style_scale() { return S.scale; }
