// Data paths. The data root follows the program: a program started from an
// installed run slot ("<root>/Run/0/Ambit") uses the tree around that slot,
// a bundle that carries its own tree uses it, and anything else uses the
// user's application data folder. The data directory module (localdata)
// then owns the tree; this module only remembers the few whole paths that
// must be known before anything else runs (log, crash state, restart).
#include "appdata.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "localdata.h"
#include "log.h"
#include "plat.h"
#include "ui/launch-linux.h"

static const char kSrc[] = "src/appdata";

static struct {
  char log_path[kAppdataPathMax];
  char state_path[kAppdataPathMax];
  char restart_exe[kAppdataPathMax];
  const char *stored_exe;
  int alt;
  uint32_t exe_size;
} A;

static const char *or_null(const char *s) { return s[0] ? s : nullptr; }

static void set_restart_path() {
  if (!localdata_path(A.restart_exe, A.alt ? LOCALDATA_RUN1 : LOCALDATA_RUN0, kAppdataAppName))
    A.restart_exe[0] = 0;
}

int appdata_cut_at_last(char *path, const char *part) {
  size_t n = strlen(part);
  if (n >= kAppdataPathMax) {
    log(LOG_FATAL, kSrc, "path too long");  // ends the process
    return -1;
  }
  char want[kAppdataPathMax];
  memcpy(want, part, n + 1);
  const char sep = plat_path_separator();
  for (size_t i = 0; i < n; i++)
    if (want[i] == '/') want[i] = sep;
  char *last = nullptr;
  for (char *p = strstr(path, want); p; p = strstr(p + 1, want)) last = p;
  if (!last) return -1;
  *last = 0;
  return 0;
}

static int is_dir(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The user's data folder may not exist yet on a fresh account (unlike the
// application support folder of other systems): make every folder above the
// root, so that setting the root only has to make the root itself.
static void make_parents(const char *root) {
  char part[kAppdataPathMax];
  const char sep = plat_path_separator();
  for (const char *p = strchr(root + 1, sep); p; p = strchr(p + 1, sep)) {
    memcpy(part, root, (size_t)(p - root));
    part[p - root] = 0;
    plat_mkdir(part);
  }
}

// The data root for an executable path into `root`; 0 or -1.
static int find_root(const char *exe, char *root) {
  if (strlen(exe) >= kAppdataPathMax) return -1;
  static const char *const kSlots[] = {"/Run/0", "/Run/1"};
  for (const char *slot : kSlots) {
    strcpy(root, exe);
    if (appdata_cut_at_last(root, slot) == 0) return 0;
  }
  strcpy(root, exe);
  if (appdata_cut_at_last(root, "Ambit.app/Contents/MacOS") == 0) {
    char probe[kAppdataPathMax];
    if (plat_path_join(root, "Ambit.app") && plat_path_join(root, "Contents") &&
        plat_path_join(root, "Resources")) {
      strcpy(probe, root);
      if (plat_path_join(probe, "Program") && is_dir(probe)) return 0;
    }
  }
  if (launch_app_support_dir(root) != 0 || !plat_path_join(root, kAppdataAppName)) return -1;
  make_parents(root);
  return 0;
}

int appdata_init(const char *exe_path, int alternate, int bits) {
  memset(&A, 0, sizeof A);
  // The stored program carries this build's platform tag, the name program
  // updates from the server are stored under.
  A.stored_exe = bits > 0 && bits != 64 ? "EXE_L32" : "EXE_L64";
  if (localdata_init() != 0) return -1;
  char root[kAppdataPathMax];
  if (!exe_path || find_root(exe_path, root) != 0 || localdata_set_root(root) != 0) {
    log(LOG_ERROR, kSrc, "can't find application root");
    return -1;
  }
  localdata_set_cache_limit(32);
  if (!localdata_path(A.log_path, LOCALDATA_ROOT, "log.txt")) A.log_path[0] = 0;
  if (!localdata_path(A.state_path, LOCALDATA_ROOT, "state.txt")) A.state_path[0] = 0;
  A.alt = alternate != 0;
  set_restart_path();
  char exe[kAppdataPathMax];
  if (!localdata_path(exe, LOCALDATA_PROGRAM, A.stored_exe)) return 0;
  struct stat st;
  if (stat(exe, &st) != 0) {
    // A program started from its build folder has no stored copy yet.
    if (errno == ENOENT)
      log(LOG_INFO, kSrc, "no stored program %s", A.stored_exe);
    else
      log(LOG_OSERR, kSrc, "can't stat exe");
    return 0;
  }
  A.exe_size = (uint32_t)st.st_size;
  return 0;
}

void appdata_fini() { localdata_fini(); }
int appdata_prepare() { return 0; }

const char *appdata_log_path() { return or_null(A.log_path); }
const char *appdata_state_path() { return or_null(A.state_path); }
const char *appdata_restart_exe() { return or_null(A.restart_exe); }
const char *appdata_stored_exe() { return A.stored_exe; }
int appdata_is_alt() { return A.alt; }
uint32_t appdata_exe_size() { return A.exe_size; }

void appdata_toggle_alt() {
  A.alt = !A.alt;
  set_restart_path();
}

int appdata_install_exe() {
  return localdata_copy(A.alt ? LOCALDATA_RUN1 : LOCALDATA_RUN0, kAppdataAppName,
                        LOCALDATA_PROGRAM, A.stored_exe);
}
