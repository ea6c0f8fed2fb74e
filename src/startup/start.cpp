// Minimal version: the start-up flow is not built yet. Its restart flag is
// raised when the server asks for a restart, which the market-data client
// records, so until the flow exists the flag is read from the client.
// start_main opens one window, titled with the application's name, and
// quitting ends the frame loop; the login box comes with the real flow.
#include "startup/start.h"

#include "ssclient.h"
#include "ui/box.h"
#include "ui/gui.h"

static struct {
  int window = -1;
  widget *root = nullptr;
} S;

int restart_pending(void) { return ssclient_restart_pending(); }

int start_main(const char *, const char *, const char *, const char *, int) {
  S.root = vbox_new(nullptr, 0, 0);
  if (!S.root) return -1;
  rect r{100, 100, 480, 320};
  S.window = gui_window_open(S.root, &r, 0);
  if (S.window < 0) return -1;
  gui_window_set_title(S.window, gui_app_name());
  return 0;
}

// The gui forgets a window's root when the window closes (by the user or
// here); the root is ours to delete.
void start_cleanup(void) {
  if (S.window >= 0 && gui_window_root(S.window)) gui_window_close(S.window);
  if (S.root) widget_delete(S.root);
  S.window = -1;
  S.root = nullptr;
}
