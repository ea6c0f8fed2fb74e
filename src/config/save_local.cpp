// Writing the local settings file. The record becomes configuration text in
// a fixed key order, is scrambled, and replaces "LOCAL_CONFIG" through a
// temporary file in the same directory: write, fsync, rename, fsync the
// directory. Until the rename the old file is untouched, and the rename is
// atomic, so there is no moment at which a crash leaves no good file.
#include "config/save_local.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/secret.h"
#include "dalloc.h"
#include "localdata.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "startup/start.h"

static const char kSrc[] = "src/config/save_local";

static const char kFileName[] = "LOCAL_CONFIG";
static const char kTempName[] = ".LOCAL_CONFIG.new";
constexpr int32_t kVersion = 2;

static struct {
  save_local_write_fn write;
  int off;  // "nosave": nothing is written
} S;

void config_set_save_local(int on) { S.off = !on; }

void save_local_set_write_hook(save_local_write_fn fn) { S.write = fn; }

// Every line, in the file's key order. -1 when any line failed.
static int write_text(const local_config* c) {
  int bad = 0;
  auto line = [&bad](int rc) { bad |= rc < 0; };
  config_out_reset();
  line(config_printf("version %d", kVersion));
  line(config_printf("site %s", c->site));
  if (c->remember_username) {
    line(config_printf("username %s", c->username));
    if (c->remember_password) line(config_printf("password %s", c->password));
  }
  line(config_printf("remember_username %b", c->remember_username));
  line(config_printf("remember_password %b", c->remember_username && c->remember_password));
  line(config_printf("workaround_tex_size %b", c->workaround_tex_size));
  line(config_printf("workaround_round_shapes %b", c->workaround_round_shapes));
  line(config_printf("workaround_software_renderer %b", c->workaround_software_renderer));
  line(config_printf("workaround_dont_delete_contexts %b", c->workaround_dont_delete_contexts));
  line(config_printf("workaround_allow_any_double_bufs %b", c->workaround_allow_any_double_bufs));
  line(config_printf("graphics_quality %d", c->graphics_quality));
  // A free entry before a named one is written as a bare block line: the
  // reader uses it up, so every location comes back at its own entry number
  // and cur_location still names it.
  int last = -1;
  for (int i = 0; i < kConfigLocations; i++)
    if (c->locations[i].name[0]) last = i;
  for (int i = 0; i <= last; i++) {
    const config_location* l = &c->locations[i];
    line(config_printf("location"));
    if (!l->name[0]) continue;
    line(config_out_push("location"));
    line(config_printf("name %s", l->name));
    line(config_printf("ambit_hostname %s", l->ambit_hostname));
    line(config_printf("ambit_port %d", l->ambit_port));
    line(config_printf("ambit_over_http %b", l->ambit_over_http));
    line(config_printf("ambit_uses_default_servers %b", l->ambit_uses_default_servers));
    line(config_printf("proxy_type %d", l->proxy_type));
    line(config_printf("proxy_hostname %s", l->proxy_hostname));
    line(config_printf("proxy_port %d", l->proxy_port));
    line(config_printf("proxy_username %s", l->proxy_username));
    line(config_printf("proxy_password %s", l->proxy_password));
    line(config_printf("proxy_version %d", l->proxy_version));
    line(config_printf("bounds %R", l->bounds));
    line(config_printf("last_decode_dur %d", (int32_t)l->last_decode_dur));
    line(config_printf("last_save_dur %d", (int32_t)l->last_save_dur));
    line(config_out_pop());
  }
  line(config_printf("cur_location %d", c->cur_location));
  line(config_printf("upgrade_count %d", c->upgrade_count));
  const char *site, *user, *password;
  if (restart_pending() && ssclient_get_login(&site, &user, &password) == 0) {
    if (site) line(config_printf("restart_site %s", site));
    line(config_printf("restart_username %s", user));
    line(config_printf("restart_password %s", password));
  }
  line(config_printf("reconnect_timeout %d", c->reconnect_timeout));
  line(config_printf("speed %d", c->speed));
  return bad ? -1 : 0;
}

// Replaces the file durably. 0 / -1 after a log line; the temporary file is
// removed on failure.
static int replace_file(const char* data, int32_t n) {
  char dir[kLocaldataPathMax], path[kLocaldataPathMax], tmp[kLocaldataPathMax];
  if (localdata_path_into(dir, LOCALDATA_CONFIG, nullptr) < 0 ||
      localdata_path_into(path, LOCALDATA_CONFIG, kFileName) < 0 ||
      localdata_path_into(tmp, LOCALDATA_CONFIG, kTempName) < 0)
    return -1;
  int fd = plat_open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    log(LOG_OSERR, kSrc, "can't create %s", tmp);
    return -1;
  }
  bool ok = fchmod(fd, 0600) == 0;
  ok = ok && (S.write ? S.write(fd, data, n) : plat_write_all(fd, data, n)) == n;
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp, path) == 0;
  if (!ok) {
    log(LOG_OSERR, kSrc, "can't write %s", tmp);
    unlink(tmp);
    return -1;
  }
  // The rename is durable once the directory is on disk too.
  int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    if (fsync(dfd) < 0) log(LOG_OSERR, kSrc, "can't sync %s", dir);
    close(dfd);
  }
  return 0;
}

int save_local_config(void) {
  if (S.off) return 0;
  local_config* c = config_local();
  if (!c) return -1;
  int lines = write_text(c);
  int32_t len = 0;
  const char* text = config_out_buffer(&len);
  int rc = -1;
  char* scrambled = nullptr;
  int32_t scrambled_len = 0;
  if (lines < 0 || len == 0) {
    log(LOG_ERROR, kSrc, "data write failed at end");
  } else if (secret_scramble(text, len, &scrambled, &scrambled_len) < 0) {
    log(LOG_ERROR, kSrc, "failed to encrypt config");
  } else if (replace_file(scrambled, scrambled_len) < 0) {
    log(LOG_ERROR, kSrc, "can't save local config");
  } else {
    log(LOG_INFO, kSrc, "saved %db version %d local config", scrambled_len, kVersion);
    rc = 0;
  }
  if (scrambled) dalloc_free(scrambled);
  // The plain text holds the password: leave none of it in the buffer.
  memset(const_cast<char*>(text), 0, (size_t)len);
  config_out_reset();
  return rc;
}
