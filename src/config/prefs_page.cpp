// The preferences page. Its controls fall in three groups, each with its own
// handler, because the exchange buttons and the login toggles both use the
// commands 0 and 1: the exchange group, the login toggles and the rest. The
// exchange and font size are kept in the user configuration by their owners,
// so they do not mark the page changed; everything else does, the
// reconnection control included, so that hiding the page saves it.
#include "config/prefs_page.h"

#include <algorithm>
#include <cstdio>

#include "action.h"
#include "config/config.h"
#include "config/configbox.h"
#include "config/page_client.h"
#include "config/save_local.h"
#include "lib/gfx.h"
#include "log.h"
#include "ssuser.h"
#include "style.h"
#include "ui/box.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/spinner.h"
#include "ui/uib.h"

namespace {

constexpr char kSrc[] = "src/config/prefs_page";
constexpr int32_t kMaxMinutes = 99;
constexpr int32_t kForeverOffSeconds = 300;  // turning "Forever" off with the control at 0
enum : int32_t {
  kCmdBug1 = 5, kCmdFontFirst = 6, kCmdFontLast = 10, kCmdForever = 11, kCmdBug2 = 12,
  kCmdSoftware = 13, kCmdCloseCrash = 14, kCmdCopySwaps = 15, kCmdQualityFirst = 2,
  kCmdQualityLast = 4, kHilightOffset = 16, kCmdReconnect = 99,
};
enum { kGroupExchange = 0, kGroupFont = 1, kGroupQuality = 2, kGroupHilight = 3 };

// Class slots: show_children (refresh), hide_children (save when changed).
prefs_page *as_page(widget *w) { return static_cast<prefs_page *>(w); }
int active(const button *b) { return (b->state & BUTTON_ACTIVE) ? 1 : 0; }

void set_timeout(prefs_page *p, int32_t seconds) {
  config_local()->reconnect_timeout = seconds;
  page_client_get()->set_reconnect_timeout(seconds);
  p->changed = 1;
}

// The exchange group: the default exchange, kept in the user configuration.
void on_exchange(button *, uint32_t state, void *arg, int32_t id) {
  prefs_page *p = as_page(static_cast<widget *>(arg));
  if (!(state & BUTTON_IN_CALLBACK) || !(state & BUTTON_ACTIVE) || p->refreshing) return;
  action_change_default_exchange(static_cast<uint32_t>(id));
}

// The login toggles.
void on_login(button *b, uint32_t state, void *arg, int32_t id) {
  prefs_page *p = as_page(static_cast<widget *>(arg));
  if (!(state & BUTTON_IN_CALLBACK) || p->refreshing) return;
  local_config *lc = config_local();
  if (id == 0) {
    lc->remember_username = active(b);
    // Insensitive drops the toggle's look, not remember_password.
    button_set_sensitive(p->remember_password, lc->remember_username);
    button_set_active(p->remember_password, lc->remember_password);
  } else if (id == 1) {
    lc->remember_password = active(b);
  } else {
    return;
  }
  p->changed = 1;
}

// Everything else.
void on_option(button *b, uint32_t state, void *arg, int32_t id) {
  prefs_page *p = as_page(static_cast<widget *>(arg));
  if (!(state & BUTTON_IN_CALLBACK) || p->refreshing) return;
  local_config *lc = config_local();
  const int on = active(b);
  if (id >= kCmdFontFirst && id <= kCmdFontLast) {
    if (on) style_set_size(id - kCmdFontFirst);
    return;  // the style keeps its size in the user configuration
  }
  if (id >= kCmdQualityFirst && id <= kCmdQualityLast) {
    if (!on) return;
    gui_set_quality(id - kCmdQualityFirst);
    lc->graphics_quality = gui_quality();
  } else if (id > kHilightOffset && id - kHilightOffset <= 60) {
    if (!on) return;
    style_set_scale(id - kHilightOffset);
    lc->speed = style_scale();
  } else {
    switch (id) {
      case kCmdForever:
        if (on) {
          set_timeout(p, 0);
        } else {
          int32_t seconds = prefs_reconnect_from_control(spinner_value_int(p->reconnect));
          set_timeout(p, seconds > 0 ? seconds : kForeverOffSeconds);
          p->reconnect_shown = prefs_reconnect_to_control(lc->reconnect_timeout);
          spinner_set_value(p->reconnect, float(p->reconnect_shown));
        }
        break;
      case kCmdSoftware:
        lc->workaround_software_renderer = on;
        gui_set_software_rendering(on);
        break;
      case kCmdCloseCrash:
        lc->workaround_dont_delete_contexts = on;
        gui_set_delete_contexts(on);
        break;
      case kCmdCopySwaps:
        lc->workaround_allow_any_double_bufs = !on;
        gui_set_swap_any(!on);
        break;
      case kCmdBug1:
        lc->workaround_tex_size = on;
        gui_set_render_option(on);
        break;
      case kCmdBug2:
        lc->workaround_round_shapes = on;
        if (on)
          gfx_flags_set(kGfxNudge);
        else
          gfx_flags_clear(kGfxNudge);
        break;
      default: return;
    }
  }
  p->changed = 1;
}

// The number control: minutes * 100 + seconds. Seconds past 59 carry into
// the next minute after a step up from 59, and are cut to 59 otherwise (a
// step down from a whole minute, or a typed value).
void on_reconnect(spinner *s, void *arg, int32_t) {
  prefs_page *p = as_page(static_cast<widget *>(arg));
  if (p->refreshing) return;
  int32_t v = std::clamp(spinner_value_int(s), 0, kMaxMinutes * 100 + 59);
  int32_t minutes = v / 100, seconds = v % 100;
  if (seconds > 59) {
    if (v == p->reconnect_shown + 1 && minutes < kMaxMinutes)
      v = (minutes + 1) * 100;
    else
      v = minutes * 100 + 59;
  }
  if (v != spinner_value_int(s)) spinner_set_value(s, float(v));
  p->reconnect_shown = v;
  set_timeout(p, prefs_reconnect_from_control(v));
  button_set_active(p->forever, config_local()->reconnect_timeout == 0);
}

void page_show_children(widget *self) {
  prefs_page_refresh(as_page(self));
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->show_children) rec->show_children(self);
}

void page_hide_children(widget *self) {
  prefs_page *p = as_page(self);
  if (p->changed) {
    p->changed = 0;
    save_local_config();
  }
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->hide_children) rec->hide_children(self);
}

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
}

typeid_t register_page() {
  return object_register_class("prefs_page", bin_type(), sizeof(prefs_page), nullptr, nullptr,
                               sizeof(container_class), page_class_init, nullptr);
}

}  // namespace

int32_t prefs_reconnect_to_control(int32_t seconds) {
  if (seconds <= 0) return 0;
  int32_t minutes = std::min(seconds / 60, kMaxMinutes);
  int32_t rest = seconds / 60 > kMaxMinutes ? 59 : seconds % 60;
  return minutes * 100 + rest;
}

int32_t prefs_reconnect_from_control(int32_t value) {
  value = std::clamp(value, 0, kMaxMinutes * 100 + 59);
  return value / 100 * 60 + std::min(value % 100, 59);
}

typeid_t prefs_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

prefs_page *prefs_page_new(widget *parent) {
  auto *p = static_cast<prefs_page *>(widget_new(parent, prefs_page_type()));
  if (!p) return nullptr;
  button_group *g = p->groups;
  const int32_t font = configbox_font();
  const uint32_t ink = configbox_ink(), dim = configbox_dim();
  const int32_t spin[10] = {font, static_cast<int32_t>(ink), static_cast<int32_t>(configbox_fill()),
                            static_cast<int32_t>(ink), static_cast<int32_t>(ink),
                            static_cast<int32_t>(configbox_focus_fill()), 2, 0, 0, 0};
  static padding pad = {2, 4, 2, 4};
  constexpr int32_t kNote = UIB_LABEL0 + 1, kDefNote = UIB_DEF_LABEL0 + 1;
  widget *content = uib_build(
      UIB_VBOX, 0, 3,
        UIB_DEF_LABEL0, 0, font, 0, ink, nullptr,
        kDefNote, 0, font, 0, dim, nullptr,
        UIB_DEF_COLOURS0, configbox_buttons(), UIB_COLOURS0,
        UIB_DEF_SPIN0, spin[0], spin[1], spin[2], spin[3], spin[4], spin[5], spin[6], spin[7], spin[8],
                       spin[9], &pad,
        UIB_SPIN_STYLE0, UIB_SPIN_CALLBACK, on_reconnect, p,
        UIB_FLAGS_PUSH_SET, BUTTON_TOGGLE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Default Exchange",
          UIB_BUTTON_CALLBACK, on_exchange, p,
          UIB_RADIO, &g[kGroupExchange],
            UIB_BUTTON, "ASX", 0, UIB_STORE, &p->exchange[0],
            UIB_BUTTON, "NZX", 1, UIB_STORE, &p->exchange[1],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_LABEL0, "Login Options",
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Automatic Login",
          UIB_BUTTON_CALLBACK, on_login, p,
          UIB_BUTTON, "Username", 0, UIB_STORE, &p->remember_user,
          UIB_BUTTON, "Password", 1, UIB_STORE, &p->remember_password,
        UIB_CLOSE,
        kNote, "(above options take effect next time you log in to ambit)",
        UIB_BUTTON_CALLBACK, on_option, p,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Try to Reconnect",
          UIB_SPINNER, "", 500.0, 0.0, double(kMaxMinutes * 100 + 59), 1.0, 0, kCmdReconnect,
            UIB_STORE, &p->reconnect,
          UIB_BUTTON, "Forever", kCmdForever, UIB_STORE, &p->forever,
        UIB_CLOSE,
        UIB_LABEL0, "Graphics Options",
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Font Size",
          UIB_RADIO, &g[kGroupFont],
            UIB_BUTTON, "S", 6, UIB_STORE, &p->font_size[0],
            UIB_BUTTON, "M", 7, UIB_STORE, &p->font_size[1],
            UIB_BUTTON, "L", 8, UIB_STORE, &p->font_size[2],
            UIB_BUTTON, "XL", 9, UIB_STORE, &p->font_size[3],
            UIB_BUTTON, "XXL", 10, UIB_STORE, &p->font_size[4],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Quality",
          UIB_RADIO, &g[kGroupQuality],
            UIB_BUTTON, "Low", 2, UIB_STORE, &p->quality[0],
            UIB_BUTTON, "Medium", 3, UIB_STORE, &p->quality[1],
            UIB_BUTTON, "High", 4, UIB_STORE, &p->quality[2],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Change Hilight Time",
          UIB_RADIO, &g[kGroupHilight],
            UIB_BUTTON, "5s", 21, UIB_STORE, &p->hilight[0],
            UIB_BUTTON, "10s", 26, UIB_STORE, &p->hilight[1],
            UIB_BUTTON, "20s", 36, UIB_STORE, &p->hilight[2],
            UIB_BUTTON, "30s", 46, UIB_STORE, &p->hilight[3],
            UIB_BUTTON, "60s", 76, UIB_STORE, &p->hilight[4],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Driver Workarounds",
          UIB_BUTTON, "Software GL", kCmdSoftware, UIB_STORE, &p->software_gl,
          UIB_BUTTON, "Close Crash", kCmdCloseCrash, UIB_STORE, &p->close_crash,
          UIB_BUTTON, "Copy Swaps", kCmdCopySwaps, UIB_STORE, &p->copy_swaps,
          UIB_BUTTON, "Bug 1", kCmdBug1, UIB_STORE, &p->bug1,
          UIB_BUTTON, "Bug 2", kCmdBug2, UIB_STORE, &p->bug2,
        UIB_CLOSE,
        kNote, "(changing a driver option takes effect when you open a new window)",
        UIB_FLAGS_POP,
      UIB_CLOSE,
      UIB_END);
  uib_build(UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_SPIN_CALLBACK, nullptr, nullptr, UIB_END);
  if (!content) {
    log(LOG_ERROR, kSrc, "can't build preferences page");
    widget_delete(p);
    return nullptr;
  }
  container_cls(p)->add(p, content);
  prefs_page_refresh(p);
  return p;
}

void prefs_page_refresh(prefs_page *p) {
  const local_config *lc = config_local();
  p->refreshing = 1;
  const int online = page_client_get()->is_online();
  // Sensitivity first: making a member insensitive drops it from the selection.
  for (int i = 0; i < 2; i++) button_set_sensitive(p->exchange[i], online && ssuser_exchange_permitted(i));
  for (button *b : p->font_size) button_set_sensitive(b, online);
  button_group_select(&p->groups[kGroupExchange], static_cast<int32_t>(action_default_exchange()));
  button_group_select(&p->groups[kGroupFont], style_size() + kCmdFontFirst);
  button_group_select(&p->groups[kGroupQuality], lc->graphics_quality + kCmdQualityFirst);
  button_group_select(&p->groups[kGroupHilight], style_scale() + kHilightOffset);
  button_set_sensitive(p->close_crash, 0);
  button_set_sensitive(p->copy_swaps, 0);
  button_set_active(p->software_gl, gui_software_rendering());
  button_set_active(p->close_crash, gui_delete_contexts());
  button_set_active(p->copy_swaps, !gui_swap_any());
  button_set_active(p->bug1, gui_render_option());
  button_set_active(p->bug2, (gfx_flags() & kGfxNudge) != 0);
  button_set_sensitive(p->remember_password, lc->remember_username);
  button_set_active(p->remember_user, lc->remember_username);
  button_set_active(p->remember_password, lc->remember_password);
  button_set_active(p->forever, lc->reconnect_timeout == 0);
  if (lc->reconnect_timeout != 0) {
    p->reconnect_shown = prefs_reconnect_to_control(lc->reconnect_timeout);
    spinner_set_value(p->reconnect, float(p->reconnect_shown));
  } else {
    p->reconnect_shown = spinner_value_int(p->reconnect);
  }
  p->refreshing = 0;
}
