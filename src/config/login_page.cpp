#include "config/login_page.h"

#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/configbox.h"
#include "config/save_local.h"
#include "log.h"
#include "site.h"
#include "ssclient.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "ui/uib.h"

namespace {

constexpr char kSrc[] = "src/config/login_page";
constexpr int32_t kLoginCommand = 10;
constexpr char kDefaultSite[] = "osprey";
constexpr int32_t kLabel1 = UIB_LABEL0 + 1, kDefLabel1 = UIB_DEF_LABEL0 + 1;

struct {
  int32_t username_locked;  // shared by every login page
  int32_t switching;        // a site switch is running
} S;

login_page *as_page(widget *w) { return static_cast<login_page *>(w); }

void check_sensitive(login_page *p) {
  int on = !textbox_is_empty(p->user) && !textbox_is_empty(p->password);
  button_set_sensitive(p->login, on);
}

void site_check_later(void *arg, int) { login_page_site_check(as_page(static_cast<widget *>(arg))); }

void start_login(login_page *p) {
  login_page_set_message(p, "", "");
  configbox *box = configbox_find(p);
  if (box) configbox_start_login(box);
}

void on_text(textbox *t, int code, void *arg, int32_t id) {
  login_page *p = as_page(static_cast<widget *>(arg));
  if (code == TEXTBOX_CHANGED) check_sensitive(p);
  if (id == 1 && (code == TEXTBOX_CHANGED || code == TEXTBOX_ENTER)) {
    gui_promise_cancel(site_check_later, p);
    gui_promise_after_draw(site_check_later, p, 0);
  }
  if (code == TEXTBOX_ENTER && !textbox_is_empty(p->user) && !textbox_is_empty(p->password)) {
    (void)t;
    start_login(p);
  }
}

void on_button(button *, uint32_t state, void *arg, int32_t id) {
  login_page *p = as_page(static_cast<widget *>(arg));
  if (!(state & BUTTON_IN_CALLBACK)) return;  // a press or a drag, not a click
  if (id == kLoginCommand) {
    start_login(p);
  } else if (id >= 0 && id < kConfigLocations && (state & BUTTON_ACTIVE)) {
    if (config_local()->cur_location != id) {
      config_local()->cur_location = id;
      p->changed = 1;
    }
  }
}

void page_predelete(object *obj) { gui_promise_cancel(site_check_later, obj); }

void page_hide_children(widget *self) {
  login_page *p = as_page(self);
  if (p->changed) {
    p->changed = 0;
    save_local_config();
  }
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->hide_children) rec->hide_children(self);
}

void page_class_init(object_class *rec) {
  static_cast<widget_class *>(rec)->hide_children = page_hide_children;
}

typeid_t register_page() {
  typeid_t t = object_register_class("login_page", bin_type(), sizeof(login_page), nullptr, nullptr,
                                     sizeof(container_class), page_class_init, nullptr);
  if (t >= 0) object_set_predelete(t, page_predelete);
  return t;
}

}  // namespace

typeid_t login_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

login_page *login_page_new(widget *parent) {
  auto *p = static_cast<login_page *>(widget_new(parent, login_page_type()));
  if (!p) return nullptr;
  static button_group group;
  p->group = &group;
  const int32_t font = configbox_font();
  const uint32_t ink = configbox_ink();
  int32_t tb_style[12];
  configbox_textbox_style(tb_style);
  static padding pad = {3, 4, 3, 4};
  widget *content = uib_build(
      UIB_VBOX, 0, 6,
        UIB_DEF_LABEL0, 0, font, 0, configbox_highlight(), nullptr,
        kDefLabel1, 0, font, 0, ink, nullptr,
        UIB_LABEL0, "", UIB_STORE, &p->message[0],
        kLabel1, "", UIB_STORE, &p->message[1],
        UIB_DEF_TB0, tb_style[0], tb_style[1], tb_style[2], tb_style[3], tb_style[4], tb_style[5],
                     tb_style[6], tb_style[7], tb_style[8], tb_style[9], tb_style[10], tb_style[11], &pad,
        UIB_TB_STYLE0, UIB_TB_CALLBACK, on_text, p,
        kLabel1, "Username",
        UIB_TEXTBOX, "", 31, 0, 1, UIB_STORE, &p->user,
        kLabel1, "Password",
        UIB_TEXTBOX, "", 31, TEXTBOX_PASSWORD, 2, UIB_STORE, &p->password,
        kLabel1, "Profile",
        UIB_HBOX, 0, 4,
          UIB_DEF_COLOURS0, configbox_buttons(), UIB_COLOURS0,
          UIB_BUTTON_CALLBACK, on_button, p,
          UIB_FLAGS_PUSH_SET, BUTTON_TOGGLE,
          UIB_RADIO, &group,
            UIB_BUTTON, "", 0, UIB_STORE, &p->location[0],
            UIB_BUTTON, "", 1, UIB_STORE, &p->location[1],
            UIB_BUTTON, "", 2, UIB_STORE, &p->location[2],
            UIB_BUTTON, "", 3, UIB_STORE, &p->location[3],
          UIB_RADIO_END,
          UIB_FLAGS_POP,
          UIB_BUTTON, " ", -1, UIB_STORE, &p->gap,
          UIB_BUTTON, "Login", kLoginCommand, UIB_STORE, &p->login,
        UIB_CLOSE,
      UIB_CLOSE,
      UIB_END);
  uib_build(UIB_TB_CALLBACK, nullptr, nullptr, UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_END);
  if (!content) {
    log(LOG_ERROR, kSrc, "can't build login page");
    widget_delete(p);
    return nullptr;
  }
  container_cls(p)->add(p, content);
  login_page_refresh(p);
  return p;
}

void login_page_lock_username(login_page *p, int on) {
  S.username_locked = on ? 1 : 0;
  if (p) textbox_set_editable(p->user, !S.username_locked);
}

int login_page_username_locked(void) { return S.username_locked; }

void login_page_clear_password(login_page *p) {
  textbox_set_text(p->password, "");
  check_sensitive(p);
}

void login_page_set_message(login_page *p, const char *first, const char *second) {
  label_set_text(p->message[0], first ? first : "");
  label_set_text(p->message[1], second ? second : "");
}

void login_page_get_credentials(login_page *p, const char **user, const char **password) {
  if (user) *user = textbox_text(p->user);
  if (password) *password = textbox_text(p->password);
}

void login_page_set_credentials(login_page *p, const char *user, const char *password) {
  textbox_set_text(p->user, user ? user : "");
  textbox_set_text(p->password, password ? password : "");
  check_sensitive(p);
}

void login_page_refresh(login_page *p) {
  const char *user = nullptr;
  ssclient_get_login(nullptr, &user, nullptr);
  if (user) textbox_set_text(p->user, user);
  local_config *lc = config_local();
  int named = 0;
  while (lc && named < kConfigLocations && lc->locations[named].name[0]) named++;
  for (int i = 0; i < kConfigLocations; i++) {
    if (i < named) {
      button_set_text(p->location[i], lc->locations[i].name);
      widget_set_visible(p->location[i], 1);
    } else {
      widget_set_visible(p->location[i], 0);
    }
  }
  widget_set_visible(p->gap, 0);
  button_group_select(static_cast<button_group *>(p->group), lc->cur_location);
  check_sensitive(p);
  textbox_set_editable(p->user, !S.username_locked);
  if (!widget_is_shown(p)) return;
  if (S.username_locked)
    gui_set_focus(p->password);
  else if (textbox_is_empty(p->user) || !textbox_is_empty(p->password))
    gui_set_focus(textbox_is_empty(p->user) ? p->user : p->password);
  else
    gui_set_focus(p->password);
}

void login_page_site_check(login_page *p) {
  if (S.switching || ssclient_login_done()) return;
  const char *text = textbox_text(p->user);
  const char *colon = strchr(text, ':');
  if (!colon) return;
  char code[32];
  size_t n = static_cast<size_t>(colon - text);
  if (n == 0) {
    snprintf(code, sizeof code, "%s", kDefaultSite);
  } else {
    if (n >= sizeof code) return;
    memcpy(code, text, n);
    code[n] = 0;
  }
  site_row *row = site_find(code);
  if (!row || row == site_current()) return;
  S.switching = 1;
  site_select(code);
  ssclient_set_login_site(row->code);
  snprintf(config_local()->site, sizeof config_local()->site, "%s", row->code);
  save_local_config();
  char rest[kTextboxMax + 1];
  snprintf(rest, sizeof rest, "%s", colon + 1);
  textbox_set_text(p->user, rest);
  check_sensitive(p);
  configbox *box = configbox_find(p);
  if (box) configbox_reload_splash(box);
  S.switching = 0;
}
