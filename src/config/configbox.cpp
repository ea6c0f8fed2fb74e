#include "config/configbox.h"

#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "config/about_page.h"
#include "config/account_page.h"
#include "config/config.h"
#include "config/connection_page.h"
#include "config/login_page.h"
#include "config/passwd_page.h"
#include "config/prefs_page.h"
#include "config/logout_page.h"
#include "config/progress_page.h"
#include "config/save_local.h"
#include "config/status_page.h"
#include "dalloc.h"
#include "lib/splash.h"
#include "keyboard.h"
#include "lib/timer.h"
#include "log.h"
#include "screen/screen.h"
#include "ssclient.h"
#include "ssmsg.h"
#include "startup/start.h"
#include "style.h"
#include "ui/deck.h"
#include "ui/gui.h"
#include "ui/hider.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "ui/uib.h"
#include "undo.h"

namespace {

constexpr char kSrc[] = "src/config/configbox";
constexpr int32_t kPrefW = 500, kPrefH = 310;
constexpr int32_t kMargin = 16, kTabTop = 15, kBottom = 48;
constexpr int32_t kStatusMs = 100;

configbox *as_box(widget *w) { return static_cast<configbox *>(w); }

int status_tick(void *arg, uint32_t, int64_t, float) {
  configbox *b = static_cast<configbox *>(arg);
  char text[kSsmsgTextMax + 1];
  ssmsg_get(text);
  if (strcmp(text, b->shown_status) != 0) snprintf(b->shown_status, sizeof b->shown_status, "%s", text);
  return 1;
}

void on_tab(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK)) return;  // a press or a drag, not a click
  configbox *b = as_box(static_cast<widget *>(arg));
  if (id == kConfigboxQuitCommand) {
    if (!screen_is_up())
      configbox_quit(b);
    else
      configbox_show_logout(b);
  } else if (id >= 0 && id < 7) {
    configbox_show_page(b, -1, id);
  }
}

void cb_layout(container *self) {
  configbox *b = as_box(self);
  const rect r = b->r;
  if (b->mode >= CONFIGBOX_ABOUT) {
    rect inner = {r.x + kMargin, r.y + kMargin, r.w - 2 * kMargin, r.h - 2 * kMargin};
    b->pages->r = inner;
    // The about and logout pages have the dialog to themselves: the one
    // button of their bar, which switches no page, would only cover them.
    b->bars->r = {inner.x, inner.y + inner.h, inner.w, 0};
    return;
  }
  size bar = {0, 0};
  b->bars->cls->reqsize(b->bars, &bar);
  b->bars->r = {r.x + kMargin, r.y + kTabTop, r.w - 2 * kMargin, bar.h};
  const int32_t top = kTabTop + bar.h + 6;
  b->pages->r = {r.x + kMargin, r.y + top, r.w - 2 * kMargin, r.h - top - kBottom};
}

void cb_reqsize(widget *self, size *out) {
  configbox *b = as_box(self);
  *out = (b->pref_w < 0 || b->pref_h < 0) ? size{kPrefW, kPrefH} : size{b->pref_w, b->pref_h};
}

void free_splash(configbox *b) {
  if (b->splash_pic) splash_delete(b->splash_pic);
  if (b->splash_pixels) dalloc_free(b->splash_pixels);
  b->splash_pic = nullptr;
  b->splash_pixels = nullptr;
  b->splash_w = b->splash_h = 0;
}

// The current site's splash picture made into the dialog's tiles, once per
// showing; a picture that can't be read leaves none.
void load_splash(configbox *b) {
  free_splash(b);
  b->splash_tex = 0;
  uint32_t len = 0;
  const void *data = start_splash(&len);
  if (!data) return;  // the start-up said so already
  uint8_t *pixels = nullptr;
  int32_t w = 0, h = 0;
  if (splash_file_read(data, len, &pixels, &w, &h) < 0 || !(b->splash_pic = splash_new())) {
    if (pixels) dalloc_free(pixels);
    log(LOG_ERROR, kSrc, "failed to load splash");
    return;
  }
  b->splash_pixels = pixels;
  if (splash_set_picture(b->splash_pic, pixels, w, h, 0) < 0) {
    free_splash(b);
    log(LOG_ERROR, kSrc, "failed to load splash");
    return;
  }
  b->splash_w = w;
  b->splash_h = h;
  b->splash_tex = 1;
}

// The splash picture is the dialog's backdrop, scaled to the whole dialog;
// the background fill goes first, so the pages (of the same colour) leave
// it showing and only their controls are drawn over it.
void cb_draw(widget *self) {
  configbox *b = as_box(self);
  if (b->splash_tex < 0) load_splash(b);
  if (b->splash_tex > 0 && b->r.w > 0 && b->r.h > 0) {
    container_fill_bg(b);
    splash_draw(b->splash_pic, b->r.x, b->r.y, b->r.w, b->r.h, 0, b->splash_w, b->splash_h);
  }
  static_cast<widget_class *>(self->cls->parent)->draw(self);
}

void cb_fini(object *obj) {
  configbox *b = reinterpret_cast<configbox *>(obj);
  if (b->timer >= 0) timer_stop(b->timer);
  b->timer = -1;
  free_splash(b);
}

void cb_init(object *obj) {
  configbox *b = reinterpret_cast<configbox *>(obj);
  b->pref_w = b->pref_h = -1;
  b->splash_tex = -1;
  b->timer = -1;
}

// Over the screens the dialog goes as the user leaves it: Escape while no
// text box of it holds the keyboard, or a quick move of the pointer away
// from it, both only while online (offline it is the way back in). Before
// the screens are up it is a borderless window of its own, moved by a strip
// along its top: 30 points once shown, 50 after each change of geometry.
constexpr int32_t kStripShown = 30, kStripMoved = 50;

container_class *box_rec() { return static_cast<container_class *>(object_class_record(box_type())); }

bool over_screens(const configbox *b) { return b->parent != nullptr && screen_is_up(); }

void set_strip(configbox *b, int32_t h) {
  if (b->parent) return;
  const int index = gui_window_index(b);
  if (index < 0) return;
  if (h > 0) {
    const rect strip = {0, 0, b->r.w, h};
    gui_window_set_drag_area(index, &strip);
  } else {
    gui_window_clear_drag_area(index);
  }
}

void leave_screen(configbox *b) {
  const int n = screen_index_of(b);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  undo_cancel_configbox();
  screen_hide_configbox();
  if (pushed) screen_pop();
}

void cb_key_press(widget *self, key_event *k) {
  configbox *b = as_box(self);
  if (k->code == KEY_ESCAPE && over_screens(b) && ssclient_is_online()) {
    widget *f = gui_focus();
    const bool typing = f && widget_is_shown(f) && object_is_a(widget_obj(f), textbox_type()) && configbox_find(f) == b;
    if (!typing) {
      leave_screen(b);
      return;
    }
  }
  box_rec()->key_press(self, k);
}

void cb_leave(widget *self) {
  configbox *b = as_box(self);
  if (!over_screens(b) || !ssclient_is_online() || gui_dragging() || !widget_is_shown(b)) return;
  int32_t x, y;
  if (gui_widget_mouse(self, &x, &y) && x >= b->r.x && y >= b->r.y && x < b->r.x + b->r.w && y < b->r.y + b->r.h)
    return;
  const style *st = style_cur();
  if (gui_mouse_speed() < (st ? st->real[2] : 15.0f)) return;
  leave_screen(b);
}

void cb_show_children(widget *self) {
  box_rec()->show_children(self);
  set_strip(as_box(self), kStripShown);
}

void cb_hide_children(widget *self) {
  set_strip(as_box(self), 0);
  box_rec()->hide_children(self);
}

void cb_geometry_changed(widget *self) {
  box_rec()->geometry_changed(self);
  if (widget_is_shown(self)) set_strip(as_box(self), kStripMoved);
}

void cb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->layout = cb_layout;
  c->reqsize = cb_reqsize;
  c->draw = cb_draw;
  c->key_press = cb_key_press;
  c->leave = cb_leave;
  c->show_children = cb_show_children;
  c->hide_children = cb_hide_children;
  c->geometry_changed = cb_geometry_changed;
}

typeid_t register_configbox() {
  return object_register_class("configbox", box_type(), sizeof(configbox), cb_init, cb_fini,
                               sizeof(box_class), cb_class_init, nullptr);
}

void select_tabs(configbox *b, int32_t page) {
  button_group_select(&b->tabs_a, page);
  button_group_select(&b->tabs_b, page);
}

void finish_change(configbox *b) {
  const char *user = nullptr;
  ssclient_get_login(nullptr, &user, nullptr);
  button_group_set_sensitive(&b->tabs_b, 4, user != nullptr);
  b->cls->geometry_changed(b);
  widget_redraw(b);
}

void set_state(configbox *b, int32_t page, int32_t mode) {
  b->mode = mode;
  deck_show_page(b->bars, mode >= CONFIGBOX_ABOUT ? 2 : mode);
  deck_show_page(b->pages, page);
  select_tabs(b, page);
  if (page == 0) login_page_refresh(configbox_login_page(b));
  status_tick(b, 0, 0, 0);
  finish_change(b);
}

}  // namespace

typeid_t configbox_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_configbox);
}

configbox *configbox_new(widget *parent) {
  auto *b = static_cast<configbox *>(widget_new(parent, configbox_type()));
  if (!b) return nullptr;
  container_set_bg(b, configbox_background());
  b->pages = deck_new(b);
  b->bars = deck_new(b);
  if (!b->pages || !b->bars) {
    widget_delete(b);
    return nullptr;
  }
  // The pages, in page order.
  b->page[0] = login_page_new(nullptr);
  b->page[1] = account_page_new(nullptr);
  b->page[2] = prefs_page_new(nullptr);
  b->page[3] = connection_page_new(nullptr);
  b->page[4] = passwd_page_new(nullptr);
  b->page[5] = status_page_new(nullptr);
  b->page[6] = about_page_new(nullptr);
  b->page[7] = progress_page_new(nullptr);
  b->page[8] = logout_page_new(nullptr);
  widget *bar0 = uib_build(UIB_HBOX, 0, 4,
                             UIB_DEF_COLOURS0, configbox_buttons(), UIB_COLOURS0,
                             UIB_BUTTON_CALLBACK, on_tab, b,
                             UIB_FLAGS_PUSH_SET, BUTTON_TOGGLE,
                             UIB_RADIO, &b->tabs_a,
                               UIB_BUTTON, "Login", 0, UIB_BUTTON, "Account", 1,
                               UIB_BUTTON, "Preferences", 2, UIB_BUTTON, "Connection", 3,
                               UIB_BUTTON, "Status", 5, UIB_BUTTON, "About", 6,
                             UIB_RADIO_END,
                             UIB_FLAGS_POP,
                             UIB_BUTTON, "Quit", kConfigboxQuitCommand,
                           UIB_CLOSE, UIB_END);
  widget *bar1 = uib_build(UIB_HBOX, 0, 4,
                             UIB_FLAGS_PUSH_SET, BUTTON_TOGGLE,
                             UIB_RADIO, &b->tabs_b,
                               UIB_BUTTON, "Account", 1, UIB_BUTTON, "Preferences", 2,
                               UIB_BUTTON, "Connection", 3, UIB_BUTTON, "Password", 4,
                               UIB_BUTTON, "Status", 5, UIB_BUTTON, "About", 6,
                             UIB_RADIO_END,
                             UIB_FLAGS_POP,
                           UIB_CLOSE, UIB_END);
  widget *bar2 = uib_build(UIB_HBOX, 0, 4, UIB_BUTTON, "Preferences", 2, UIB_CLOSE, UIB_END);
  uib_build(UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_END);
  for (widget *p : b->page) {
    if (!p) {
      log(LOG_ERROR, kSrc, "can't build the dialog's pages");
      widget_delete(b);
      return nullptr;
    }
    container_cls(b->pages)->add(b->pages, p);
  }
  for (widget *bar : {bar0, bar1, bar2}) {
    if (!bar) {
      log(LOG_ERROR, kSrc, "can't build the dialog's tab bars");
      widget_delete(b);
      return nullptr;
    }
    container_cls(b->bars)->add(b->bars, bar);
  }
  b->timer = timer_start(kStatusMs, status_tick, b, 0);
  set_state(b, 0, CONFIGBOX_LOGIN);
  return b;
}

configbox *configbox_find(widget *w) {
  for (; w; w = w->parent)
    if (static_cast<typeid_t>(w->cls->type) == configbox_type()) return as_box(w);
  return nullptr;
}

login_page *configbox_login_page(configbox *b) { return static_cast<login_page *>(b->page[0]); }
widget *configbox_progress_page(configbox *b) { return b->page[7]; }
widget *configbox_passwd_page(configbox *b) { return b->page[4]; }
int configbox_page(configbox *b) { return deck_current_page(b->pages); }

void configbox_show_login(configbox *b) {
  button_group_set_sensitive(&b->tabs_a, 0, 1);
  set_state(b, 0, CONFIGBOX_LOGIN);
}

void configbox_start_login(configbox *b) {
  const char *user = nullptr, *password = nullptr;
  login_page_get_credentials(configbox_login_page(b), &user, &password);
  char u[32], p[32];
  snprintf(u, sizeof u, "%s", user);
  snprintf(p, sizeof p, "%s", password);
  local_config *lc = config_local();
  if (lc->remember_username) {
    snprintf(lc->username, sizeof lc->username, "%s", u);
    if (lc->remember_password)
      snprintf(lc->password, sizeof lc->password, "%s", p);
    else
      memset(lc->password, 0, sizeof lc->password);
  } else {
    memset(lc->username, 0, sizeof lc->username);
    memset(lc->password, 0, sizeof lc->password);
  }
  start_io(u, p);
  configbox_set_progress_mode(b, 0);
  button_group_set_sensitive(&b->tabs_a, 0, 0);
  set_state(b, 7, CONFIGBOX_LOGIN);
}

void configbox_show_online(configbox *b) {
  int page = configbox_page(b);
  if (page == 0 || page >= 6) page = 2;
  set_state(b, page, CONFIGBOX_ONLINE);
}

void configbox_show_about(configbox *b) { set_state(b, 6, CONFIGBOX_ABOUT); }

void configbox_show_logout(configbox *b) {
  if (ssclient_is_online()) {
    b->logout_mode = 0;
  } else {
    if (ssclient_connecting()) ssclient_request_abort();
    b->logout_mode = 2;
  }
  logout_page_set_mode(static_cast<logout_page *>(b->page[8]), b->logout_mode);
  set_state(b, 8, CONFIGBOX_LOGOUT);
}

void configbox_quit(configbox *b) {
  configbox_set_progress_mode(b, 1);
  set_state(b, 7, CONFIGBOX_LOGOUT);
  start_logout();
}

void configbox_cancel_login(configbox *b) {
  start_abort_login();
  configbox_show_login(b);
}

void configbox_stop_login(configbox *b) {
  b->logout_mode = 1;
  logout_page_set_mode(static_cast<logout_page *>(b->page[8]), 1);
  set_state(b, 8, CONFIGBOX_LOGOUT);
  start_abort_login_from_box(b);
}

void configbox_show_page(configbox *b, int32_t mode, int32_t page) {
  set_state(b, page, mode < 0 ? b->mode : mode);
}

// The server's answer to a password change: an accepted password becomes the
// login password (and the remembered one, when passwords are remembered).
void configbox_passwd_result(configbox *b, int32_t result) {
  auto *page = static_cast<passwd_page *>(b->page[4]);
  if (result == PASSWD_CHANGED && passwd_page_new_password(page)[0]) {
    const char *fresh = passwd_page_new_password(page);
    const int done = ssclient_login_done();  // a new login password is not a new login
    ssclient_set_login(nullptr, fresh);
    ssclient_set_login_done(done);
    local_config *lc = config_local();
    if (lc->remember_username && lc->remember_password) snprintf(lc->password, sizeof lc->password, "%s", fresh);
  }
  if (configbox_page(b) != 4) set_state(b, 4, b->mode);
  passwd_page_show_result(page, result);
  log(LOG_INFO, kSrc, "password change result %d", result);
}

void configbox_set_progress_mode(configbox *b, int32_t mode) {
  b->progress_mode = mode;
  progress_page_set_mode(static_cast<progress_page *>(b->page[7]), mode);
}

void configbox_page_set_state(widget *page, int32_t state) {
  if (!page) return;
  const typeid_t t = static_cast<typeid_t>(page->cls->type);
  if (t == progress_page_type())
    progress_page_set_mode(static_cast<progress_page *>(page), state);
  else if (t == logout_page_type())
    logout_page_set_mode(static_cast<logout_page *>(page), state);
}

void configbox_page_timer(int32_t *timer, int64_t ms, int (*fn)(void *, uint32_t, int64_t, float), void *arg) {
  if (*timer >= 0) timer_stop(*timer);
  *timer = ms > 0 ? timer_start(ms, fn, arg, 0) : -1;
}

void configbox_page_show_parent(widget *page) {
  auto *rec = static_cast<widget_class *>(page->cls->parent);
  if (rec->show_children) rec->show_children(page);
}

void configbox_page_hide_parent(widget *page) {
  auto *rec = static_cast<widget_class *>(page->cls->parent);
  if (rec->hide_children) rec->hide_children(page);
}

widget *configbox_spacer(widget *parent) {
  hider *h = hider_new(parent, 1);
  if (h && !button_new(h, "Preferences", -1, 0, 0, nullptr, configbox_buttons(), nullptr, nullptr, -1)) {
    widget_delete(h);
    return nullptr;
  }
  return h;
}

uint32_t configbox_colour(int field, uint32_t fallback) {
  const style *s = style_cur();
  return s ? style_colour(s, field) : fallback;
}

// A site switch: the next draw loads the current site's picture.
void configbox_reload_splash(configbox *b) {
  free_splash(b);
  b->splash_tex = -1;
  widget_redraw(b);
}

int32_t configbox_font(void) {
  const style *s = style_cur();
  return s ? s->font[0] : 4;
}
uint32_t configbox_ink(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_TEXT) : 0xffffffffu;
}
uint32_t configbox_dim(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_TEXT_DIM) : 0xffa0a0a0u;
}
uint32_t configbox_fill(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_PANEL) : 0xff404040u;
}
uint32_t configbox_focus_fill(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_SELECTION) : 0xff805020u;
}
uint32_t configbox_highlight(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_WARNING) : 0xff3030ffu;
}
uint32_t configbox_background(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_BACKGROUND) : 0xff202020u;
}
const button_colours *configbox_buttons(void) {
  if (style_cur()) return style_button_colours();
  static button_colours set;
  static int made = 0;
  if (!made) {
    button_set_all_colours(&set, 4);
    made = 1;
  }
  return &set;
}

void configbox_textbox_style(int32_t style[12]) {
  const auto ink = static_cast<int32_t>(configbox_ink()), fill = static_cast<int32_t>(configbox_fill());
  const int32_t s[12] = {0, configbox_font(), -1, fill, ink, 2, static_cast<int32_t>(configbox_focus_fill()),
                         ink, 2, fill, static_cast<int32_t>(configbox_dim()), 2};
  for (int i = 0; i < 12; i++) style[i] = s[i];
}
