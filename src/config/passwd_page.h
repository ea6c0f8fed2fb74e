// The password page of the configuration dialog: a signed-on user types the
// current password, the new one and its confirmation; the page checks them,
// asks the client to send the change and shows the server's answer when the
// start-up flow reports it. Main thread.
#pragma once
#include "ui/container.h"

struct button;
struct label;
struct textbox;

enum : int32_t { PASSWD_NONE = -1, PASSWD_CHANGED = 0, PASSWD_TOO_SHORT = 1, PASSWD_REFUSED = 2 };

struct passwd_page : bin {
  label *message;
  textbox *current;
  textbox *fresh;    // "New Password"
  textbox *confirm;
  button *change;
  int32_t result;    // PASSWD_*
};

typeid_t passwd_page_type();
passwd_page *passwd_page_new(widget *parent);
// The text of the "New Password" field (the page owns it).
const char *passwd_page_new_password(passwd_page *p);
// Keeps the result and shows its message (-1: none).
void passwd_page_show_result(passwd_page *p, int32_t result);
// What showing the page does: message and fields emptied, only "Current
// Password" editable, "Change" insensitive.
void passwd_page_reset(passwd_page *p);
// What "Change" does.
void passwd_page_change(passwd_page *p);
