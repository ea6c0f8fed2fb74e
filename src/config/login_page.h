// The login page of the configuration dialog: user name and password, the
// choice of connection location, the Login button and two message lines
// through which the start-up flow reports refusals and reconnections.
// Main thread.
#pragma once
#include "ui/container.h"

struct button;
struct label;
struct textbox;

struct login_page : bin {
  label *message[2];
  textbox *user;
  textbox *password;
  button *location[4];
  button *gap;
  button *login;
  void *group;      // the location buttons' group (a button_group)
  int32_t changed;  // a location was picked since the page was shown
};

typeid_t login_page_type();
login_page *login_page_new(widget *parent);
// Keeps the flag (shared by all pages) and makes the user name editable only
// while it is clear.
void login_page_lock_username(login_page *p, int on);
int login_page_username_locked(void);
void login_page_clear_password(login_page *p);
// The first line in the style's highlight colour, the second in the normal one.
void login_page_set_message(login_page *p, const char *first, const char *second);
void login_page_get_credentials(login_page *p, const char **user, const char **password);
void login_page_set_credentials(login_page *p, const char *user, const char *password);
// What showing the page does: the client's user name, the location buttons,
// Login's sensitivity, editability and the focus.
void login_page_refresh(login_page *p);
// The site check of a "site:user" name, run after the next draw once the user
// name was edited; exposed for the dialog and for checks.
void login_page_site_check(login_page *p);
