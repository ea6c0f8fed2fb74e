#include "config/logout_page.h"

#include "config/configbox.h"
#include "log.h"
#include "screen/screen.h"
#include "ssclient.h"
#include "ui/box.h"
#include "ui/sizer.h"
#include "ui/button.h"
#include "ui/label.h"

namespace {

constexpr char kSrc[] = "src/config/logout_page";

const logout_page_texts kTexts[3] = {
    {"Are you sure that you want to log out?", 0, "Logout", "Cancel"},
    {"Unable to logout properly, your settings may be lost", 1, "Login", "Quit"},
    {"You are not logged in, your settings may be lost", 1, "Login", "Quit"},
};

logout_page *as_page(widget *w) { return static_cast<logout_page *>(w); }

void on_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK)) return;
  logout_page *p = as_page(static_cast<widget *>(arg));
  configbox *box = configbox_find(p);
  switch (logout_page_action(p->mode, id)) {
    case LOGOUT_START:
      if (box) configbox_quit(box);
      break;
    case LOGOUT_HIDE:
      if (screen_configbox_shown()) screen_hide_configbox();
      break;
    case LOGOUT_SHOW_LOGIN:
      if (box) configbox_show_login(box);
      break;
    case LOGOUT_ABORT_QUIT:
      log(LOG_WARN, kSrc, "aborting");
      ssclient_request_abort();
      if (box) configbox_quit(box);
      break;
    default: break;
  }
}

typeid_t register_page() {
  return object_register_class("logout_page", bin_type(), sizeof(logout_page), nullptr, nullptr,
                               sizeof(container_class), nullptr, nullptr);
}

}  // namespace

const logout_page_texts *logout_page_mode_texts(int32_t mode) {
  return mode >= 0 && mode < 3 ? &kTexts[mode] : nullptr;
}

int32_t logout_page_action(int32_t mode, int which) {
  if (mode == 0) return which == 0 ? LOGOUT_START : LOGOUT_HIDE;
  if (mode == 1 || mode == 2) return which == 0 ? LOGOUT_SHOW_LOGIN : LOGOUT_ABORT_QUIT;
  return LOGOUT_NOTHING;
}

typeid_t logout_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

logout_page *logout_page_new(widget *parent) {
  auto *p = static_cast<logout_page *>(widget_new(parent, logout_page_type()));
  if (!p) return nullptr;
  vbox *col = vbox_new(p, 0, 12);
  p->message = label_new(col, "Are you sure you want to logout?", 2, configbox_font(), 0, 0xffffffffu, nullptr);
  hbox *row = hbox_new(col, 1, 6);
  widget *left = configbox_spacer(row);
  p->first = button_new(row, "Logout", -1, 0, 0, nullptr, configbox_buttons(), on_button, p, 0);
  p->second = button_new(row, "Cancel", -1, 0, 0, nullptr, configbox_buttons(), on_button, p, 1);
  widget *right = configbox_spacer(row);
  // The room below the buttons goes to an empty expanding sizer, so the
  // message and the buttons keep their own heights.
  widget *rest = sizer_new(col, SIZER_EXPAND_V, nullptr, nullptr, 0);
  if (!col || !p->message || !row || !left || !p->first || !p->second || !right || !rest) {
    widget_delete(p);
    return nullptr;
  }
  return p;
}

void logout_page_set_mode(logout_page *p, int32_t mode) {
  p->mode = mode;
  const logout_page_texts *t = logout_page_mode_texts(mode);
  if (!t) return;
  label_set_text(p->message, t->message);
  label_set_colour(p->message, t->warning ? configbox_colour(83, 0xff3030ffu) : 0xffffffffu);
  button_set_text(p->first, t->first);
  button_set_text(p->second, t->second);
}
