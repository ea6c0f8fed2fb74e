// Reading the local settings file. The keys are read into a working copy of
// the record, which replaces the live one only when a whole file was used,
// so a failed load leaves the live settings untouched.
//
// A damaged "LOCAL_CONFIG" (too short, too big, fails to unscramble, no
// version) does not end the load: "LOCAL_CONFIG.0" is tried next, exactly
// as when the main file cannot be read, so a bad byte never costs the user
// settings that another file still holds. Values that index or configure
// something (the current location, quality, ports, speed) are held to their
// ranges here, so no reader meets one outside them.
#include "config/load_local.h"

#include <cstring>

#include "config/config.h"
#include "config/secret.h"
#include "dalloc.h"
#include "localdata.h"
#include "log.h"
#include "ssclient.h"

static const char kSrc[] = "src/config/load_local";

static const char* const kFileNames[] = {"LOCAL_CONFIG", "LOCAL_CONFIG.0"};
// The client's built-in server names: a stored host equal to one of them
// means "the built-in servers".
static const char* const kBuiltinHosts[] = {"md.ambit.invalid", "203.0.113.10", "203.0.113.11"};
constexpr int32_t kMinFileBytes = 7;
constexpr int32_t kMaxQuality = 2;
constexpr int32_t kMinSpeed = 1;
constexpr int32_t kMaxSpeed = 99;

static struct {
  int has_renderer_key;
  int off;  // "noload": the file is not read
} S;

void config_set_load_local(int on) { S.off = !on; }

int load_local_has_renderer_key(void) { return S.has_renderer_key; }

template <size_t N>
static void copy_text(char (&to)[N], const char* from) {
  strncpy(to, from, N - 1);
  to[N - 1] = '\0';
}

template <size_t N>
static void copy_if_present(char (&to)[N], const char* key) {
  const char* s = config_get_string(key);
  if (s) copy_text(to, s);
}

// The key's integer when it has a value inside [lo, hi].
static void int_if_in_range(int32_t* to, const char* key, int32_t lo, int32_t hi) {
  int32_t v = config_get_int(key);
  if (config_found() && v >= lo && v <= hi) *to = v;
}

static bool is_builtin_host(const char* host) {
  for (const char* h : kBuiltinHosts)
    if (strcmp(host, h) == 0) return true;
  return false;
}

static void read_location(config_location* l) {
  const char* name = config_get_string("name");
  if (!name || !name[0]) return;
  copy_text(l->name, name);
  copy_if_present(l->ambit_hostname, "ambit_hostname");
  int_if_in_range(&l->ambit_port, "ambit_port", 1, 65535);
  l->ambit_over_http = config_get_bool("ambit_over_http");
  if (config_get_bool("ambit_uses_proxy")) l->ambit_over_http = 1;
  l->ambit_uses_default_servers = config_get_bool("ambit_uses_default_servers");
  if (is_builtin_host(l->ambit_hostname)) {
    l->ambit_hostname[0] = '\0';
    l->ambit_uses_default_servers = 1;
  }
  int_if_in_range(&l->proxy_type, "proxy_type", 0, 3);
  copy_if_present(l->proxy_hostname, "proxy_hostname");
  int_if_in_range(&l->proxy_port, "proxy_port", 1, 65535);
  copy_if_present(l->proxy_username, "proxy_username");
  copy_if_present(l->proxy_password, "proxy_password");
  int_if_in_range(&l->proxy_version, "proxy_version", 0, INT32_MAX);
  memset(l->bounds, 0, sizeof l->bounds);
  int32_t w = config_get_int("width");
  if (config_found()) l->bounds[2] = w;
  int32_t h = config_get_int("height");
  if (config_found()) l->bounds[3] = h;
  const int32_t* r = config_get_rect("bounds");
  if (r) memcpy(l->bounds, r, sizeof l->bounds);
  if (l->bounds[2] <= 0 || l->bounds[3] <= 0) memset(l->bounds, 0, sizeof l->bounds);  // unset
  l->last_decode_dur = config_get_int("last_decode_dur");
  l->last_save_dur = config_get_int("last_save_dur");
}

// Reads the keys of a parsed text into the working record.
static void read_keys(local_config* c) {
  const char* site = config_get_string("site");
  if (site) {
    copy_text(c->site, site);
    ssclient_set_login_site(c->site);
  }
  copy_if_present(c->username, "username");
  copy_if_present(c->password, "password");
  c->remember_username = config_get_bool("remember_username");
  c->remember_password = config_get_bool("remember_password");
  c->workaround_tex_size = config_get_bool("workaround_tex_size");
  c->workaround_round_shapes = config_get_bool("workaround_round_shapes");
  c->workaround_software_renderer = config_get_bool("workaround_software_renderer");
  S.has_renderer_key = config_get("workaround_software_renderer") != nullptr;
  c->workaround_dont_delete_contexts = config_get_bool("workaround_dont_delete_contexts");
  c->workaround_allow_any_double_bufs =
      config_get("workaround_allow_any_double_bufs") ? config_get_bool("workaround_allow_any_double_bufs") : 1;
  int32_t q = config_get_int("graphics_quality");
  if (config_found() && q >= 0) c->graphics_quality = q > kMaxQuality ? kMaxQuality : q;

  if (config_enter("location")) {
    for (int i = 0; i < kConfigLocations && config_next(); i++) read_location(&c->locations[i]);
    config_leave();
  }

  int32_t cur = config_get_int("cur_location");
  c->cur_location = config_found() ? cur : 0;
  if (c->cur_location < 0 || c->cur_location >= kConfigLocations) {
    log(LOG_WARN, kSrc, "location %d out of range, using 0", c->cur_location);
    c->cur_location = 0;
  }
  c->upgrade_count = config_get_int("upgrade_count");

  if (ssclient_restart_pending()) {
    copy_if_present(c->restart_site, "restart_site");
    const char* user = config_get_string("restart_username");
    const char* password = config_get_string("restart_password");
    // An empty name (a key without a value, or "") can't sign on either.
    if (user && user[0]) copy_text(c->restart_username, user);
    else log(LOG_WARN, kSrc, "can't restart without a username");
    if (password) copy_text(c->restart_password, password);
    else log(LOG_WARN, kSrc, "can't restart without a password");
  }
  int_if_in_range(&c->reconnect_timeout, "reconnect_timeout", 0, INT32_MAX);
  int32_t speed = config_get_int("speed");
  if (config_found() && speed >= 0) c->speed = speed < kMinSpeed ? kMinSpeed : speed > kMaxSpeed ? kMaxSpeed : speed;
}

enum class Outcome { kMissing, kDamaged, kUsed };

// Reads one file into *work. The file is refused by its size before it is
// read, so a huge file costs no memory.
static Outcome load_file(const char* name, local_config* work, int32_t* version, uint32_t* size) {
  uint32_t cap = (uint32_t)kSecretMaxScrambled;
  char* data = static_cast<char*>(dalloc_alloc((int32_t)cap + 1));
  *size = cap;
  if (localdata_read_into(LOCALDATA_CONFIG, name, data, size) < 0) {
    dalloc_free(data);
    if (*size > cap) {
      log(LOG_ERROR, kSrc, "local config %s is too big (%ub)", name, *size);
      return Outcome::kDamaged;
    }
    return Outcome::kMissing;
  }
  int32_t n = (int32_t)*size;
  data[n] = '\0';
  if (n < kMinFileBytes) {
    log(LOG_ERROR, kSrc, "local config is bad");
    dalloc_free(data);
    return Outcome::kDamaged;
  }
  char* text = data;
  int32_t text_len = n;
  if (strncmp(data, "version", 7) != 0) {
    int rc = secret_unscramble(data, n, &text, &text_len);
    memset(data, 0, (size_t)n);
    dalloc_free(data);
    if (rc < 0) {
      log(LOG_ERROR, kSrc, "failed to decrypt local config");
      return Outcome::kDamaged;
    }
  }
  if (config_load_buffer(text, text_len) < 0) log(LOG_WARN, kSrc, "error parsing remote buffer, proceeding anyway");
  memset(text, 0, (size_t)text_len);  // the tree holds its own copy
  dalloc_free(text);
  *version = config_get_int("version");
  if (*version < 1) {
    log(LOG_ERROR, kSrc, "no version present, aborting parse");
    config_reset();
    return Outcome::kDamaged;
  }
  read_keys(work);
  config_reset();
  return Outcome::kUsed;
}

int load_local_config(void) {
  if (S.off) return 0;
  local_config* live = config_local();
  if (!live) return -1;
  bool any = false;
  for (const char* name : kFileNames) {
    local_config work = *live;
    int32_t version = 0;
    uint32_t size = 0;
    Outcome o = load_file(name, &work, &version, &size);
    if (o == Outcome::kMissing) continue;
    any = true;
    if (o == Outcome::kDamaged) continue;
    *live = work;
    memset(&work, 0, sizeof work);
    log(LOG_INFO, kSrc, "loaded %db version %d local config", (int32_t)size, version);
    return 0;
  }
  if (!any) {
    log(LOG_WARN, kSrc, "local config not found");
    return 0;
  }
  return -1;
}
