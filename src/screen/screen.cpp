// Minimal version: the screens' refresh as the visual styles call it. With
// no screen records yet, a refresh restyles, re-lays out and invalidates
// every open gui window, which is what the screens do for their own windows.
#include "screen/screen.h"

#include "ui/gui.h"
#include "ui/widget.h"

static struct {
  uint32_t refreshes;
} S;

void screen_refresh() {
  S.refreshes++;
  for (int i = 0; i < kGuiWindows; i++) {
    widget *root = gui_window_root(i);
    if (!root) continue;
    root->cls->restyle(root);
    gui_relayout_window(i);
    gui_invalidate_window(i);
  }
}

uint32_t screen_refresh_count() { return S.refreshes; }
