// The window bar: three icon buttons (minimise, maximise or restore, close)
// that a screen shows while it is maximised. Each bar acts on its own
// screen, made current first. Main thread only.
#pragma once

#include <cstdint>

#include "ui/widget.h"

struct button;
struct button_colours;

enum : int32_t { WINBAR_MINIMISE = 0, WINBAR_RESTORE = 1, WINBAR_MAXIMISE = 2, WINBAR_CLOSE = 3 };
constexpr int32_t kWinbarBackdropInset = 58;

widget *winbar_new(widget *screen);
// The middle button: restore (id 1) when maximised, else maximise (id 2).
void winbar_set_maximised(widget *wb, int on);
int winbar_maximised(widget *wb);
button *winbar_middle(widget *wb);
void winbar_on_button(button *b, uint32_t state, void *wb, int32_t id);
// The screen operations the buttons call, on the current screen (close
// takes the screen's index). A test replaces them; null restores the real ones.
struct winbar_ops {
  int (*make_current)(widget *w);
  void (*minimise)();
  void (*restore)();
  void (*maximise)();
  int (*close)(int n);
};
void winbar_set_ops(const winbar_ops *ops);
// The buttons' colour set (made once).
const button_colours *winbar_colours();
// r, g and b each raised by n, clamped at 255 (red in the low byte).
uint32_t winbar_lighten(uint32_t colour, int n);
