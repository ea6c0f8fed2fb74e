// The logout page of the configuration dialog: asks before logging out, and
// after a failed or missing login offers to log in again or to quit.
// Main thread.
#pragma once
#include <cstdint>

#include "ui/container.h"

struct button;
struct label;

// Modes: 0 confirm, 1 logout failed, 2 not logged in.
struct logout_page : bin {
  int32_t mode;
  label *message;
  button *first, *second;
};

struct logout_page_texts {
  const char *message;
  int warning;  // 1: drawn in the style's warning colour
  const char *first, *second;
};

typeid_t logout_page_type();
logout_page *logout_page_new(widget *parent);
// Another mode is stored and changes nothing else.
void logout_page_set_mode(logout_page *p, int32_t mode);
// The texts of a mode; null for a mode without texts.
const logout_page_texts *logout_page_mode_texts(int32_t mode);
// What the two buttons do, as the dialog's steps (for the buttons and checks).
enum : int32_t {
  LOGOUT_NOTHING = 0, LOGOUT_START = 1, LOGOUT_HIDE = 2, LOGOUT_SHOW_LOGIN = 3, LOGOUT_ABORT_QUIT = 4,
};
int32_t logout_page_action(int32_t mode, int which);
