#include "startup/start.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "config/config.h"
#include "config/configbox.h"
#include "config/load_local.h"
#include "config/load_remote.h"
#include "config/login_page.h"
#include "config/save_local.h"
#include "config/save_remote.h"
#include "config/secret.h"
#include "config/upgrade.h"
#include "dalloc.h"
#include "lib/timer.h"
#include "localdata.h"
#include "log.h"
#include "oob.h"
#include "plat.h"
#include "popups/hover.h"
#include "screen/screen.h"
#include "site.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssuser.h"
#include "startup/crash.h"
#include "startup/recovery.h"
#include "trading/trading.h"
#include "ui/launch-linux.h"
#include "ui/gui.h"

namespace {

constexpr char kSrc[] = "src/startup/start";
constexpr int32_t kMainTimerMs = 10;
constexpr int32_t kDelayMs = 500;
constexpr uint32_t kAutosaveTicks = 100;
constexpr int32_t kSignOffWaitSeconds = 4;
constexpr int32_t kPasswordResult = 240;
constexpr uint32_t kRestartUser = 3;
constexpr int32_t kLoginW = 500, kLoginH = 310;
constexpr int kLoadConfigWatch = 102;
constexpr size_t kSplashPathMax = 1024;
// The largest splash file taken from beside the program (4088 x 4088 RGBA).
constexpr size_t kSplashFileMax = 4 + size_t(4088) * 4088 * 4;

struct {
  char host[256];
  int32_t has_host;
  int32_t port;
  int32_t login_window = -1;
  configbox *login_box;
  plat_slot io_thread = -1;
  int32_t main_timer = -1;
  int32_t request_timer = -1;
  int32_t abort_timer = -1;
  uint32_t ticks;
  int32_t recovery;
  int32_t signed_on_seen;
  int32_t logout_seen;
  int32_t cleaning;
  void *splash;
  uint32_t splash_len;
  int32_t hooks_installed;
} S;

int owner_token;  // the login listener's owner

void set_status(const char *text) { ssmsg_set(text); }

void io_body(void *) { ssclient_run(); }

int main_timer_tick(void *, uint32_t, int64_t, float) {
  if (++S.ticks >= kAutosaveTicks) {
    config_autosave_tick();
    S.ticks = 0;
  }
  ssclient_deliver();
  return 1;
}

int request_timer_tick(void *, uint32_t, int64_t, float) {
  log(LOG_INFO, kSrc, "enabling requests");
  ssclient_enable_requests(1);
  S.request_timer = -1;
  return 0;
}

int abort_timer_tick(void *, uint32_t, int64_t, float) {
  S.abort_timer = -1;
  gui_set_quitting();
  return 0;
}

void stop_timer(int32_t *id) {
  if (*id >= 0) timer_stop(*id);
  *id = -1;
}

void close_login_window(void) {
  if (S.login_window >= 0) gui_window_close(S.login_window);
  S.login_window = -1;
  if (S.login_box) widget_delete(S.login_box);
  S.login_box = nullptr;
}

void install_window_hooks(void) {
  gui_set_window_closed_hook(start_window_closed);
  gui_set_close_query(start_close_query);
  gui_set_crossing_hook(start_window_crossing);
}

void start_online(void *, int) {
  close_login_window();
  config_location *loc = config_cur_location();
  int64_t t0 = plat_ms();
  secret_forget_restart_login();
  save_local_config();
  if (loc) loc->last_save_dur = plat_ms() - t0;
  install_window_hooks();
  if (screen_init() < 0) {
    log(LOG_ERROR, kSrc, "can't init screens!");
    return;
  }
  popups_install_services();
  // The default feeds are served by the market-data server signed on to.
  const char *feed_host = nullptr;
  int32_t feed_port = 0;
  if (ssio_current_server(&feed_host, &feed_port) == 0 && feed_host && *feed_host)
    upgrade_set_feed_host(feed_host, feed_port);
  ssclient_enable_requests(0);
  const int watch = crash_watch_add(kLoadConfigWatch, "Load Config");
  if (load_remote_config() < 0) log(LOG_FATAL, kSrc, "Can't load user configuration");
  if (watch > 0) crash_watch_remove(watch);
  // A user whose configuration opened no screen (a first login, or a saved
  // copy with none open) gets the first one: online is never windowless.
  if (screen_count_open() == 0 && screen_open(0) < 0) log(LOG_ERROR, kSrc, "can't open the first screen");
  S.request_timer = timer_start(kDelayMs, request_timer_tick, nullptr, 0);
  if (S.request_timer < 0) {
    log(LOG_WARN, kSrc, "can't delay request processing");
    ssclient_enable_requests(1);
  }
  set_status("Online");
  ssclient_set_yield(10000, 333);
  configbox *box = screen_configbox();
  if (box) configbox_show_online(box);
  send_version();
  send_mac();
}

void relogin_later(void *arg, int) {
  const char *message = static_cast<const char *>(arg);
  configbox *box = start_login_box();
  if (!box) {
    log(LOG_ERROR, kSrc, "can't get login page");
    return;
  }
  login_page *page = configbox_login_page(box);
  if (!page) {
    log(LOG_ERROR, kSrc, "screen is still not up?");
    return;
  }
  start_relogin(message, nullptr);
}

void restart_logout(void *, int) { start_logout(); }

void handle_oob(void) {
  int count = 0;
  int32_t type = 0, length = 0;
  const uint8_t *data = nullptr;
  while (oob_pop(&type, &data, &length) > 0) {
    count++;
    if (type == kPasswordResult) {
      int32_t result = length >= 4 ? static_cast<int32_t>(uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 |
                                                          uint32_t(data[2]) << 8 | data[3])
                                   : -1;
      // The dialog's password page shows the answer; an accepted password
      // becomes the login password there.
      configbox *box = start_login_box();
      if (box) configbox_passwd_result(box, result);
    } else {
      log(LOG_WARN, kSrc, "not expecting OOB %d", type);
    }
  }
  log(LOG_INFO, kSrc, "did %d oobs", count);
}

// A program started from its build folder finds the splash picture the
// build wrote beside it and copies it into the program folder, where the
// start-up reads it, when the folder has none or an older one. An installed
// program has no such file beside it and keeps what its install put there.
void install_splash(void) {
  char path[kSplashPathMax];
  if (launch_exe_path(path) != 0) return;
  char *slash = strrchr(path, '/');
  if (!slash || size_t(slash - path) + sizeof "/SPLASH" > sizeof path) return;
  strcpy(slash, "/SPLASH");
  FILE *f = fopen(path, "rbe");
  if (!f) return;
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) {
    if (data.size() + n > kSplashFileMax) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  fclose(f);
  if (data.size() < 4 || data.size() > kSplashFileMax) return;
  void *stored = nullptr;
  uint32_t stored_len = 0;
  const bool same = localdata_read(LOCALDATA_PROGRAM, "SPLASH", &stored, &stored_len) == 0 &&
                    stored_len == data.size() && memcmp(stored, data.data(), data.size()) == 0;
  if (stored) dalloc_free(stored);
  if (same) return;
  if (localdata_write(LOCALDATA_PROGRAM, "SPLASH", data.data(), uint32_t(data.size())) == 0)
    log(LOG_INFO, kSrc, "installed the splash picture from %s", path);
}

}  // namespace

// ---- hooks ----

const void *start_splash(uint32_t *len) {
  if (len) *len = S.splash ? S.splash_len : 0;
  return S.splash;
}

void start_gui_active(int on) {
  if (on)
    ssclient_block();
  else
    ssclient_unblock();
}

int start_can_close_last(void) { return screen_is_up(); }

int start_quit(void) {
  start_logout();
  return 1;
}

void start_window_closed(int index) {
  int n = screen_index_of(gui_window_root(index));
  if (n >= 0) screen_close(n);
}

int start_close_query(int index) {
  if (!S.cleaning && screen_is_up() && screen_index_of(gui_window_root(index)) >= 0 && screen_count_open() <= 1) {
    screen_open_configbox_state();
    return 0;
  }
  return 1;
}

void start_window_crossing(int index, int inside) {
  if (inside) return;
  int n = screen_index_of(gui_window_root(index));
  if (n >= 0) screen_select(n);
}

int start_client_sleep(int32_t ms) {
  plat_sleep_ms(ms);
  return 0;
}

// ---- the flow ----

int start_main(const char *site, const char *user, const char *password, const char *host, int32_t port) {
  S.has_host = host && *host;
  snprintf(S.host, sizeof S.host, "%s", S.has_host ? host : "");
  S.port = port;
  gui_set_active_hook(start_gui_active);
  gui_set_default_title("Ambit");
  gui_set_last_close_query(start_can_close_last);
  gui_set_quit_hook(start_quit);
  ssclient_set_sleep_hook(start_client_sleep);
  ssclient_block();
  ssnotify_add_wild(kStartEventMask, start_login_event, &owner_token, 0, 0);
  ssclient_unblock();
  if (site && *site) ssclient_set_login_site(site);
  site_row *row = site_select(ssclient_get_login_site());
  if (row && row->title) gui_set_default_title(row->title);
  upgrade_run();
  install_splash();
  if (localdata_read(LOCALDATA_PROGRAM, "SPLASH", &S.splash, &S.splash_len) < 0) {
    log(LOG_ERROR, kSrc, "splash not found");
    S.splash = nullptr;
    S.splash_len = 0;
  }
  if (!S.login_box) {
    S.login_box = configbox_new(nullptr);
    if (!S.login_box) {
      log(LOG_ERROR, kSrc, "can't create login box");
      return -1;
    }
  }
  local_config *lc = config_local();
  if (lc->workaround_tex_size) gui_set_render_option(1);
  if (lc->workaround_software_renderer || (!load_local_has_renderer_key() && gui_driver_quirk())) {
    if (!lc->workaround_software_renderer) log(LOG_WARN, kSrc, "defaulting to software renderer");
    gui_set_software_rendering(1);
  }
  if (lc->workaround_dont_delete_contexts) gui_set_delete_contexts(1);
  if (lc->workaround_allow_any_double_bufs) gui_set_swap_any(1);
  gui_set_quality(lc->graphics_quality);

  const char *u = user && *user ? user : nullptr;
  const char *p = password && *password ? password : nullptr;
  int took_restart = 0;
  if (!u && !p) {
    if (ssclient_restart_pending()) {
      if (lc->restart_username[0]) {
        u = lc->restart_username;
        took_restart = 1;
        if (lc->restart_password[0]) p = lc->restart_password;
      }
    } else if (lc->remember_username && lc->username[0]) {
      u = lc->username;
      if (lc->remember_password && lc->password[0]) p = lc->password;
    }
  } else {
    ssclient_set_restart(0);
  }
  char ubuf[32] = "", pbuf[32] = "";
  if (u) snprintf(ubuf, sizeof ubuf, "%s", u);
  if (p) snprintf(pbuf, sizeof pbuf, "%s", p);
  if (!took_restart) {
    memset(lc->restart_username, 0, sizeof lc->restart_username);
    memset(lc->restart_password, 0, sizeof lc->restart_password);
  }
  login_page *page = configbox_login_page(S.login_box);
  login_page_set_credentials(page, ubuf, pbuf);
  if (ubuf[0] && pbuf[0])
    configbox_start_login(S.login_box);
  else
    configbox_show_login(S.login_box);

  rect r = {0, 0, kLoginW, kLoginH};
  const config_location *loc = config_cur_location();
  if (loc && loc->bounds[2] > 0 && loc->bounds[3] > 0) r = {loc->bounds[0], loc->bounds[1], loc->bounds[2], loc->bounds[3]};
  ssclient_block();
  S.login_window = gui_window_open(S.login_box, &r, GUI_WIN_CENTRE | GUI_WIN_BORDERLESS);
  ssclient_unblock();
  if (S.login_window < 0) {
    log(LOG_ERROR, kSrc, "can't start login window");
    return -1;
  }
  if (!ubuf[0] || !pbuf[0]) login_page_refresh(page);
  return 0;
}

int start_io(const char *user, const char *password) {
  config_location *loc = config_cur_location();
  ssclient_set_login(user, password);
  ssclient_set_reconnect_timeout(config_local()->reconnect_timeout);
  ssclient_set_yield(100000, 20);
  if (ssclient_restart_pending()) recovery_apply();
  ssclient_request_abort();
  if (S.io_thread >= 0) {
    const int held = ssclient_ui_has_lock();
    if (held) ssclient_unblock();
    plat_thread_join(S.io_thread);
    plat_thread_cancel(S.io_thread);  // frees the joined thread's slot
    if (held) ssclient_block();
    S.io_thread = -1;
  }
  // The link settings change only once the old io thread, which reads them,
  // has ended (a relogin).
  if (S.has_host) {
    ssio_set_servers(0);
    ssio_set_server(S.host, S.port);
  } else if (loc) {
    ssio_set_servers(loc->ambit_uses_default_servers);
    if (!loc->ambit_uses_default_servers) ssio_set_server(loc->ambit_hostname, loc->ambit_port);
  }
  if (loc) {
    ssio_clear_proxies();
    if (loc->proxy_type == 3)
      ssio_set_socks_proxy(loc->proxy_hostname, loc->proxy_port, loc->proxy_version);
    else if (loc->proxy_type == 2)
      ssio_set_http_proxy(loc->proxy_hostname, loc->proxy_port);
    ssio_set_proxy_auth(loc->proxy_username, loc->proxy_password);
    ssio_set_http_mode(loc->ambit_over_http);  // the location's "HTTP" connection choice
  }
  S.io_thread = plat_thread_create(io_body, nullptr);
  if (S.io_thread < 0) {
    log(LOG_ERROR, kSrc, "can't create io thread");
    return -1;
  }
  if (S.main_timer < 0) {
    S.main_timer = timer_start(kMainTimerMs, main_timer_tick, nullptr, 0);
    if (S.main_timer < 0) {
      log(LOG_ERROR, kSrc, "can't start main timer");
      return -1;
    }
  }
  return 0;
}

void start_login_event(const ss_change *change, void *, uint64_t, uint32_t) {
  const uint32_t bits = change->mask;
  const int up = screen_is_up();
  if (bits & kStartSignedOn) S.signed_on_seen = 1;
  if (bits & kStartRestart) {
    if (!up || ssuser_id() == kRestartUser) {
      set_status("Preparing to restart Ambit");
      start_set_restart(1);
      ssclient_set_restart(1);
      ssclient_set_auto_reconnect(0);
      if (up) {
        S.recovery = 1;
        gui_promise_after_draw(restart_logout, nullptr, 0);
      }
    }
  }
  if (bits & kStartLoggedIn) {
    if (up) {
      if (screen_configbox_shown()) screen_hide_configbox();
      ssclient_enable_requests(1);
      trading_check_brokers();
      save_remote_config(1);
    } else {
      set_status("Starting");
      configbox *box = start_login_box();
      if (!box) {
        log(LOG_ERROR, kSrc, "can't get login page");
      } else {
        login_page_lock_username(configbox_login_page(box), 1);
        gui_promise_after_draw(start_online, nullptr, 0);
      }
    }
  }
  if (bits & kStartLoggedOut) {
    S.logout_seen = 1;
    if (!up) {
      save_local_config();
      gui_set_quitting();
    } else {
      configbox *box = screen_configbox();
      if (box) configbox_set_progress_mode(box, 2);
      if (sserr_last_code() == kSserrLinkLost && sserr_sub_code() == 1) {
        if (box) login_page_clear_password(configbox_login_page(box));
        start_relogin("Someone else has logged in with this username", nullptr);
      } else {
        set_status(restart_pending() ? "Restarting" : "Logged out");
        stop_timer(&S.abort_timer);
        S.abort_timer = timer_start(kDelayMs, abort_timer_tick, nullptr, 0);
        if (S.abort_timer < 0) {
          log(LOG_WARN, kSrc, "can't start abort timer");
          gui_set_quitting();
        }
      }
    }
  }
  if ((bits & kStartNotices) && change->instrument) {
    // A code became an alias of another (an exchange notice): the lists
    // follow the instrument to its new code.
    instr *old = change->instrument;
    const name_change notice = {old, old->kind == kKindIssuer ? kNameChangeIssuer : kNameChangeCode};
    name_change_apply(&notice);
  }
  if (bits & kStartOob) handle_oob();
  if (bits & kStartReconnect) {
    log(LOG_INFO, kSrc, "answering request to reconnect");
    if (restart_pending()) {
      log(LOG_WARN, kSrc, "should've restarted");
      gui_set_quitting();
    } else {
      const int32_t code = sserr_last_code();
      const char *second = nullptr;
      const char *message = start_relogin_message(code, sserr_sub_code(), up, &second);
      configbox *box = start_login_box();
      if (box && (code == 10 || code == 11 || code == 12)) {
        login_page *page = configbox_login_page(box);
        if (code == 10)
          login_page_set_credentials(page, "", nullptr);
        else
          login_page_clear_password(page);
      }
      start_relogin(message, second);
    }
  }
}

const char *start_relogin_message(int32_t code, uint32_t sub, int screens_up, const char **second) {
  const site_row *row = site_current();
  const char *contact = row ? row->contact : nullptr;
  if (second) *second = nullptr;
  switch (code) {
    case 1:
      if (!screens_up) return "Unable to connect server";
      switch (sub) {
        case 1: return "Someone else has logged in with this username";
        case 3:
          if (second) *second = contact;
          return "Your login has been disabled";
        case 4: return "Logged out by server";
        case 5: return "Temporarilly logged out by server";
        default: return "Lost connection to server";
      }
    case 10: return "Unrecognised Username";
    case 11: return "Incorrect Password";
    case 12: return "Please try again";
    case 15:
      if (second) *second = contact;
      return "Your login has been disabled";
    case 17: return "API connection not enabled";
    case 18: return "Update required";
    case 30: return "Unable to connect to server";
    case 31: return "Unable to connect to proxy";
    case 32: return "Proxy authentication failed";
    default: return "Dropped connection to server";
  }
}

void start_relogin(const char *message, const char *second) {
  log(LOG_WARN, kSrc, "relogin: %s", message);
  configbox *box = start_login_box();
  login_page *page = box ? configbox_login_page(box) : nullptr;
  if (!box || !page) {
    if (!box) log(LOG_ERROR, kSrc, "can't get login page");
    log(LOG_WARN, kSrc, "screen is not up yet");
    gui_promise_after_draw(relogin_later, const_cast<char *>(message), 0);
    return;
  }
  ssclient_request_abort();
  const char *user = nullptr;
  ssclient_get_login(nullptr, &user, nullptr);
  login_page_lock_username(page, user && *user);
  login_page_set_message(page, message, second);
  if (screen_is_up()) {
    screen_open_configbox();
  } else {
    configbox_show_login(box);
  }
}

void start_logout(void) {
  log(LOG_INFO, kSrc, "start logout");
  if (gui_shutting_down()) crash_state_remove();
  if (screen_is_up()) {
    secret_forget_restart_login();
    set_status("Saving config");
    if (ssclient_logged_in() && !ssclient_abort_requested()) {
      config_save();
      set_status("Logging off");
      if (ssclient_sign_off(restart_pending()) < 0) log(LOG_WARN, kSrc, "can't request signoff");
      if (gui_shutting_down()) {
        const int held = ssclient_ui_has_lock();
        if (held) ssclient_unblock();
        if (ssclient_wait_disconnect(kSignOffWaitSeconds) < 0) log(LOG_WARN, kSrc, "didn't log off in time");
        if (held) ssclient_block();
      }
      return;
    }
    log(LOG_WARN, kSrc, "only saving local config");
    save_local_config();
  } else {
    // Before the screens are up there is no server copy: keep the local settings.
    save_local_config();
  }
  gui_set_quitting();
}

void start_cleanup(void) {
  log(LOG_INFO, kSrc, "cleanup");
  S.cleaning = 1;
  close_login_window();
  stop_timer(&S.request_timer);
  stop_timer(&S.abort_timer);
  stop_timer(&S.main_timer);
  if (S.signed_on_seen && !S.logout_seen) log(LOG_WARN, kSrc, "failed to sign off");
  gui_window_close(-1);
  gui_set_quitting();
  ssclient_stop();
  if (S.io_thread >= 0) {
    const int held = ssclient_ui_has_lock();
    if (held) ssclient_unblock();
    plat_thread_join(S.io_thread);
    if (plat_thread_cancel(S.io_thread) != 0) log(LOG_ERROR, kSrc, "can't destroy io thread");
    if (held) ssclient_block();
    S.io_thread = -1;
  }
  if (S.recovery && ssuser_id() != 1) recovery_write();
  ssclient_block();
  ssnotify_remove_wild(&owner_token);
  ssclient_unblock();
  screen_shutdown();
  if (S.splash) dalloc_free(S.splash);
  S.splash = nullptr;
  gui_set_active_hook(nullptr);
  gui_set_quit_hook(nullptr);
  gui_set_last_close_query(nullptr);
  gui_set_window_closed_hook(nullptr);
  gui_set_close_query(nullptr);
  gui_set_crossing_hook(nullptr);
  ssclient_set_sleep_hook(nullptr);
  S.signed_on_seen = S.logout_seen = S.recovery = 0;
  S.ticks = 0;
  S.cleaning = 0;
}

void start_abort_login(void) { ssclient_request_abort(); }
void start_abort_login_from_box(configbox *) { start_abort_login(); }

configbox *start_login_box(void) {
  if (screen_is_up()) {
    configbox *b = screen_configbox();
    if (b) return b;
  }
  if (S.login_window < 0) {
    log(LOG_ERROR, kSrc, "no windows?!");
    return nullptr;
  }
  widget *root = gui_window_root(S.login_window);
  configbox *b = root ? configbox_find(root) : nullptr;
  if (!b || b != root) {
    log(LOG_ERROR, kSrc, "%s is not a configbox!", root ? object_type_name(widget_obj(root)) : "none");
    return nullptr;
  }
  return b;
}

int start_login_window(void) { return S.login_window; }
int start_io_running(void) { return S.io_thread >= 0; }
int start_main_timer_running(void) { return S.main_timer >= 0; }
