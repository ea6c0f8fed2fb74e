// Flyaways and the flyaway box. A flyaway is a collapsible section: a title
// strip that is always visible and one child (its content) that slides open
// and shut. A flyaway box (fbox) lines flyaways up along one axis and keeps
// them fitting: when space runs short it closes the one opened longest ago,
// when space frees up it reopens the one closed most recently. A drag over
// the box sweeps flyaways open or shut. Main thread only.
#pragma once

#include <cstdint>

#include "lib/fade.h"
#include "ui/box.h"
#include "ui/container.h"

constexpr float kFlyawaySeconds = 0.3f;

struct flyaway;
using flyaway_fn = void (*)(flyaway *f, int open, void *arg1, void *arg2);

struct flyaway : bin {
  char title[64];
  char caption[64];
  int32_t orientation;  // 1: the box runs horizontally
  int32_t font;
  int32_t fourth;       // the fourth style value, kept
  uint32_t base_bg;     // the style's background (bg holds the highlighted one)
  padding pad;
  padding inner;        // pad plus the strip's own margins
  int32_t open;
  fade_value size_fade;  // the animated size along the box's axis
  int32_t timer;         // the relayout timer of an animation, -1 none
  int32_t highlight;
  flyaway_fn callback;
  void *arg1, *arg2;
};

// Entry states in a flyaway box.
enum : int32_t {
  FBOX_CLOSED = 0,       // closed; reopened when room frees up
  FBOX_KEPT_CLOSED = 1,  // closed by the user; stays closed until used
  FBOX_REMOVED = 2,      // out of the layout (hidden)
  FBOX_OPEN = 3,
};

// Per child, in its box node's data.
struct fbox_entry {
  int32_t stamp;
  int32_t state;
  int32_t prev_state;
  int32_t flexible;
};

struct fbox : box {
  int32_t mode;     // 2 vertical, anything else horizontal
  int32_t spacing;
  int32_t fill;     // the length a flexible open flyaway takes
  int32_t last_len; // the axis length of the last layout (-1 none yet)
  int32_t sweep_pos;
  widget *sweep_current;
};

typeid_t flyaway_type();
flyaway *flyaway_new(widget *parent, const char *title, int orientation, int32_t font,
                     uint32_t background, int32_t fourth, const padding *pad);
void flyaway_set_title(flyaway *f, const char *title);    // title and caption
void flyaway_set_caption(flyaway *f, const char *text);   // caption only, upper-cased
void flyaway_set_font(flyaway *f, int32_t font);
void flyaway_set_bg_all(flyaway *f, uint32_t colour);
// Highlight: the background becomes colour lightened by 15; 0 ends it.
void flyaway_set_bg(flyaway *f, uint32_t colour);
void flyaway_set_callback(flyaway *f, flyaway_fn fn, void *arg1, void *arg2);
int flyaway_is_open(flyaway *f);
// 1 while a size animation runs and has not reached its end.
int flyaway_animating(flyaway *f);
// Opens or closes, animated over 0.3 s when shown (at once when not).
void flyaway_set_open(flyaway *f, int open);
// Through the parent box when the parent is a flyaway box.
void flyaway_set_open_in_fbox(flyaway *f, int open);
void flyaway_close(flyaway *f);
void flyaway_show_all(flyaway *f);
// Sizes along and across: closed, and open (title strip with the content).
size flyaway_closed_size(flyaway *f);
size flyaway_open_size(flyaway *f);

typeid_t fbox_type();
fbox *fbox_new(widget *parent, int mode, int spacing);
// Each of these logs ERROR "can't find flyaway" and changes nothing when f
// is not in the box.
int fbox_open_flyaway(fbox *b, flyaway *f);
int fbox_close_flyaway(fbox *b, flyaway *f);
int fbox_set_flyaway_open(fbox *b, flyaway *f, int open);
int fbox_open_flyaway_locked(fbox *b, flyaway *f);
int fbox_show_flyaway_on(fbox *b, flyaway *f);
int fbox_hide_flyaway(fbox *b, flyaway *f);
int fbox_show_flyaway(fbox *b, flyaway *f, int on);
int fbox_flyaway_is_open(fbox *b, flyaway *f);  // state is not removed
int fbox_touch_flyaway(fbox *b, flyaway *f);
int fbox_set_flyaway_weight(fbox *b, flyaway *f, int flexible);
// The entry of f (null when f is not in the box; no log).
fbox_entry *fbox_entry_of(fbox *b, widget *f);
