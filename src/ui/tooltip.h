// The one tooltip of the program: up to two lines of text or one atlas
// image (a numbered tip) beside the pointer. It doubles as the label that
// follows the pointer during a drag. The window draw pass draws it after
// the widgets. Main thread only.
#pragma once

#include <cstdint>

#include "lib/gfx.h"
#include "ui/widget.h"  // rect

constexpr int kTooltipLine = 99;  // characters of a line

// Box image 0: a plain filled box; frame image 0: none.
void tooltip_set_style(int32_t box_image, colour background, int32_t frame_image,
                       colour frame_colour, int32_t font, colour text_colour, int32_t margin);
// The offset of the tip from the pointer and an image drawn at the pointer
// with the tip (0: none).
void tooltip_set_offset(int32_t pointer_image, int32_t dx, int32_t dy);
// Line 1 (clears line 2); null empties it.
void tooltip_set_text(const char *text);
void tooltip_set_text2(const char *text);
// Sets line 1 and shows the text (hiding the image); null hides both.
void tooltip_show_text(const char *text);
void tooltip_show_number(int32_t image);
void tooltip_hide_text();
void tooltip_hide_number();
int tooltip_visible();
// Draws the tip for a pointer at (x, y) of the window being drawn (the
// gfx viewport); the box less the frame insets goes to out when given. 0
// when drawn, -1 when the tip would be off the window (nothing drawn).
int tooltip_draw(int32_t x, int32_t y, rect *out);
// The whole box of the last tooltip_draw that drew (all 0 before any).
rect tooltip_last_box();
