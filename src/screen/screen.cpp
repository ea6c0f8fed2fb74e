// Minimal version: the screens' refresh as the visual styles call it, and a
// single screen window whose content is the configuration dialog, shown in
// its online state. With no desktops or bars yet, a refresh restyles,
// re-lays out and invalidates every open gui window, which is what the
// screens do for their own windows.
#include "screen/screen.h"

#include "config/configbox.h"
#include "log.h"
#include "ui/box.h"
#include "ui/gui.h"
#include "ui/widget.h"

namespace {

constexpr char kSrc[] = "src/screen/screen";
constexpr int32_t kScreenW = 800, kScreenH = 600;

struct {
  uint32_t refreshes;
  int32_t up;
  int32_t current;
  int32_t window[kScreens] = {-1, -1, -1, -1};
  widget *root[kScreens];
  configbox *box[kScreens];
} S;

}  // namespace

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

int screen_init() {
  if (S.up) return 0;
  widget *root = widget_new(nullptr, box_type());
  configbox *box = root ? configbox_new(root) : nullptr;
  if (!box) {
    log(LOG_ERROR, kSrc, "can't make screen 1");
    if (root) widget_delete(root);
    return -1;
  }
  rect r = {0, 0, kScreenW, kScreenH};
  int win = gui_window_open(root, &r, GUI_WIN_CENTRE);
  if (win < 0) {
    log(LOG_ERROR, kSrc, "can't open screen 1");
    widget_delete(root);
    return -1;
  }
  S.root[0] = root;
  S.box[0] = box;
  S.window[0] = win;
  S.current = 0;
  S.up = 1;
  configbox_show_online(box);
  return 0;
}

void screen_shutdown() {
  for (int n = 0; n < kScreens; n++) {
    if (S.window[n] >= 0) gui_window_close(S.window[n]);
    S.window[n] = -1;
    if (S.root[n]) widget_delete(S.root[n]);
    S.root[n] = nullptr;
    S.box[n] = nullptr;
  }
  S.up = 0;
  S.current = 0;
}

int screen_is_up() { return S.up; }

int screen_index_of(widget *w) {
  if (!w) return -1;
  widget *root = gui_widget_root(w);
  for (int n = 0; n < kScreens; n++)
    if (S.root[n] && (S.root[n] == root || S.root[n] == w)) return n;
  return -1;
}

int screen_is_open(int n) { return n >= 0 && n < kScreens && S.window[n] >= 0; }

int screen_count_open() {
  int c = 0;
  for (int n = 0; n < kScreens; n++) c += screen_is_open(n);
  return c;
}

void screen_close(int n) {
  if (!screen_is_open(n)) return;
  const int win = S.window[n];
  S.window[n] = -1;
  if (gui_window_root(win) == S.root[n]) gui_window_close(win);
}

bool screen_select(int n) {
  if (n < 0 || n >= kScreens || !S.root[n]) return false;
  S.current = n;
  return S.window[n] >= 0;
}

int screen_current_index() { return S.current; }

configbox *screen_configbox() { return S.up ? S.box[S.current] : nullptr; }

void screen_show_configbox() {
  configbox *b = screen_configbox();
  if (!b) return;
  widget_set_visible(b, 1);
  if (S.window[S.current] >= 0) gui_relayout_window(S.window[S.current]);
}

void screen_hide_configbox() {
  configbox *b = screen_configbox();
  if (b) widget_set_visible(b, 0);
}

int screen_configbox_shown() {
  configbox *b = screen_configbox();
  return b && !widget_is_hidden(b);
}

void screen_open_configbox() {
  configbox *b = screen_configbox();
  if (!b) return;
  configbox_show_login(b);
  screen_show_configbox();
}

void screen_open_configbox_state() {
  configbox *b = screen_configbox();
  if (!b) return;
  configbox_show_logout(b);
  screen_show_configbox();
}

int screen_window(int n) { return n >= 0 && n < kScreens ? S.window[n] : -1; }
