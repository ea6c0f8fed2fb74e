// The password page. The three fields open one after another: "New
// Password" is editable only once "Current Password" holds text, the
// confirmation only once the new one does, and "Change" only once the
// confirmation does. "Change" checks the current password against the one
// the client signed on with before anything reaches the client. No password
// is ever written to the log.
#include "config/passwd_page.h"

#include <cstring>
#include <initializer_list>

#include "config/configbox.h"
#include "config/page_client.h"
#include "log.h"
#include "style.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "ui/uib.h"

namespace {

constexpr char kSrc[] = "src/config/passwd_page";
constexpr int32_t kChangeCommand = 1;
enum : int32_t { kFieldCurrent = 1, kFieldNew = 2, kFieldConfirm = 3 };

// Class slots: show_children (reset), hide_children (forget the result and
// a pending focus change); predelete cancels the focus change too.
passwd_page *as_page(widget *w) { return static_cast<passwd_page *>(w); }

uint32_t confirmation_colour(void) {
  const style *s = style_cur();
  return s ? style_colour(s, SC_UP) : 0xff30c030u;
}

void set_message(passwd_page *p, const char *text, uint32_t colour) {
  label_set_colour(p->message, colour);
  label_set_text(p->message, text);
}

void chain(passwd_page *p) {
  textbox_set_editable(p->fresh, !textbox_is_empty(p->current));
  textbox_set_editable(p->confirm, textbox_is_editable(p->fresh) && !textbox_is_empty(p->fresh));
  button_set_sensitive(p->change, textbox_is_editable(p->confirm) && !textbox_is_empty(p->confirm));
}

// Runs after the next redraw: the field numbered n takes the focus.
void focus_later(void *arg, int n) {
  passwd_page *p = as_page(static_cast<widget *>(arg));
  textbox *t = n == kFieldCurrent ? p->current : n == kFieldNew ? p->fresh : p->confirm;
  if (widget_is_shown(t)) gui_set_focus(t);
}

void refuse(passwd_page *p, textbox *field, int n, const char *message) {
  set_message(p, message, configbox_highlight());
  textbox_set_text(field, "");
  gui_promise_cancel(focus_later, p);
  gui_promise_after_draw(focus_later, p, n);
  chain(p);
  button_set_sensitive(p->change, 0);
}

void on_text(textbox *, int code, void *arg, int32_t) {
  passwd_page *p = as_page(static_cast<widget *>(arg));
  if (code == TEXTBOX_CHANGED) chain(p);
  if (code == TEXTBOX_ENTER && button_is_sensitive(p->change)) passwd_page_change(p);
}

void on_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK) || id != kChangeCommand) return;
  passwd_page_change(as_page(static_cast<widget *>(arg)));
}

void page_show_children(widget *self) {
  passwd_page_reset(as_page(self));
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->show_children) rec->show_children(self);
  gui_set_focus(as_page(self)->current);
}

void page_hide_children(widget *self) {
  passwd_page *p = as_page(self);
  p->result = PASSWD_NONE;
  gui_promise_cancel(focus_later, p);
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->hide_children) rec->hide_children(self);
}

void page_predelete(object *obj) { gui_promise_cancel(focus_later, obj); }

void page_init(object *obj) { reinterpret_cast<passwd_page *>(obj)->result = PASSWD_NONE; }

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
}

typeid_t register_page() {
  typeid_t t = object_register_class("passwd_page", bin_type(), sizeof(passwd_page), page_init, nullptr,
                                     sizeof(container_class), page_class_init, nullptr);
  if (t >= 0) object_set_predelete(t, page_predelete);
  return t;
}

}  // namespace

typeid_t passwd_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

passwd_page *passwd_page_new(widget *parent) {
  auto *p = static_cast<passwd_page *>(widget_new(parent, passwd_page_type()));
  if (!p) return nullptr;
  const int32_t font = configbox_font();
  const uint32_t ink = configbox_ink();
  int32_t tb[12];
  configbox_textbox_style(tb);
  static padding pad = {3, 4, 3, 4};
  widget *content = uib_build(
      UIB_VBOX, 0, 6,
        UIB_DEF_LABEL0, 0, font, 0, ink, nullptr,
        UIB_LABEL0, "", UIB_STORE, &p->message,
        UIB_DEF_TB0, tb[0], tb[1], tb[2], tb[3], tb[4], tb[5], tb[6], tb[7], tb[8], tb[9], tb[10], tb[11], &pad,
        UIB_TB_STYLE0, UIB_TB_CALLBACK, on_text, p,
        UIB_LABEL0, "Current Password",
        UIB_TEXTBOX, "", 31, TEXTBOX_PASSWORD, kFieldCurrent, UIB_STORE, &p->current,
        UIB_LABEL0, "New Password",
        UIB_TEXTBOX, "", 31, TEXTBOX_PASSWORD, kFieldNew, UIB_STORE, &p->fresh,
        UIB_LABEL0, "Confirm",
        UIB_TEXTBOX, "", 31, TEXTBOX_PASSWORD, kFieldConfirm, UIB_STORE, &p->confirm,
        UIB_HBOX, 0, 4,
          UIB_DEF_COLOURS0, configbox_buttons(), UIB_COLOURS0,
          UIB_BUTTON_CALLBACK, on_button, p,
          UIB_BUTTON, "Change", kChangeCommand, UIB_STORE, &p->change,
        UIB_CLOSE,
      UIB_CLOSE,
      UIB_END);
  uib_build(UIB_TB_CALLBACK, nullptr, nullptr, UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_END);
  if (!content) {
    log(LOG_ERROR, kSrc, "can't build password page");
    widget_delete(p);
    return nullptr;
  }
  container_cls(p)->add(p, content);
  passwd_page_reset(p);
  return p;
}

const char *passwd_page_new_password(passwd_page *p) { return textbox_text(p->fresh); }

void passwd_page_show_result(passwd_page *p, int32_t result) {
  p->result = result;
  switch (result) {
    case PASSWD_CHANGED: set_message(p, "Your password was changed", confirmation_colour()); break;
    case PASSWD_TOO_SHORT: set_message(p, "The new password is too short", configbox_highlight()); break;
    case PASSWD_REFUSED: set_message(p, "Your new password could not be changed", configbox_highlight()); break;
    default:
      p->result = PASSWD_NONE;
      set_message(p, "", configbox_ink());
      break;
  }
}

void passwd_page_reset(passwd_page *p) {
  set_message(p, "", configbox_ink());
  for (textbox *t : {p->current, p->fresh, p->confirm}) textbox_set_text(t, "");
  textbox_set_editable(p->current, 1);
  textbox_set_editable(p->fresh, 0);
  textbox_set_editable(p->confirm, 0);
  button_set_sensitive(p->change, 0);
}

void passwd_page_change(passwd_page *p) {
  set_message(p, "", configbox_ink());
  const page_client *client = page_client_get();
  const char *login = client->login_password();
  if (!login) {
    log(LOG_ERROR, kSrc, "refusing to change password");
    return;
  }
  if (strcmp(textbox_text(p->current), login) != 0) {
    refuse(p, p->current, kFieldCurrent, "Please re-enter your current password");
    return;
  }
  if (strcmp(textbox_text(p->confirm), textbox_text(p->fresh)) != 0) {
    refuse(p, p->confirm, kFieldConfirm, "Please confirm the password again");
    return;
  }
  log(LOG_WARN, kSrc, "changing password");
  for (textbox *t : {p->current, p->fresh, p->confirm}) textbox_set_editable(t, 0);
  button_set_sensitive(p->change, 0);
  if (client->change_password(textbox_text(p->fresh)) < 0) log(LOG_WARN, kSrc, "failed to queue change request");
}
