// Installing and upgrading the stored terminal. Two checks with different
// rules decide what to do: "is installed" compares the recorded install
// version with the bundle's as bytes (so 1.10 counts as older than 1.9 and
// a bundle with a different text installs again), while "needs upgrade"
// compares the stored program's version with the bundle's as numbers.
// Every copy goes through the data tree's atomic write, and the order of
// the copies is chosen so that an install cut short is found and repaired
// by the next start instead of leaving a stored program that is half new.
#include "stub/install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "appdata.h"
#include "localdata.h"
#include "log.h"
#include "ui/launch-linux.h"

static const char kSrc[] = "src/stub/install";
static const char kVersionFile[] = "VERSION";
static const char kInstallVersionFile[] = "INSTALL_VERSION";

// Reads at most kInstallVersionMax bytes of a version file into `out`
// (kInstallVersionMax + 1 bytes); 0, or -1 when it is missing or empty.
static int read_version(uint32_t dir, const char *name, char *out) {
  out[0] = 0;
  char path[kLocaldataPathMax];
  if (localdata_path_into(path, dir, name) < 0) return -1;
  FILE *f = fopen(path, "rbe");
  if (!f) return -1;
  size_t n = fread(out, 1, kInstallVersionMax, f);
  fclose(f);
  out[n] = 0;
  return n > 0 ? 0 : -1;
}

static void cut_newline(char *text) {
  size_t n = strlen(text);
  if (n > 0 && text[n - 1] == '\n') text[n - 1] = 0;
}

void appdata_version_parse(const char *text, int32_t out[kInstallVersionParts]) {
  char packed[kInstallVersionMax + 1];
  size_t n = 0;
  for (const char *p = text; *p && n < sizeof packed - 1; p++)
    if (*p != ' ') packed[n++] = *p;
  packed[n] = 0;
  for (int i = 0; i < kInstallVersionParts; i++) out[i] = 0;
  const char *p = packed;
  for (int i = 0; i < kInstallVersionParts; i++) {
    if (i > 0) {
      if (*p != '.') break;
      p++;
    }
    if (!isdigit((unsigned char)*p)) break;
    int64_t v = 0;
    for (; isdigit((unsigned char)*p); p++) {
      v = v * 10 + (*p - '0');
      if (v > INT32_MAX) v = INT32_MAX;  // a long run of digits saturates
    }
    out[i] = (int32_t)v;
  }
}

int appdata_version_compare(const char *a, const char *b) {
  int32_t va[kInstallVersionParts], vb[kInstallVersionParts];
  appdata_version_parse(a, va);
  appdata_version_parse(b, vb);
  for (int i = 0; i < kInstallVersionParts; i++)
    if (va[i] != vb[i]) return va[i] < vb[i] ? -1 : 1;
  return 0;
}

uint32_t appdata_install_route(const char *name) {
  if (strstr(name, "CONFIG")) return LOCALDATA_CONFIG;
  if (isdigit((unsigned char)name[0]) && name[1] == ';') return LOCALDATA_DATA;
  return LOCALDATA_PROGRAM;
}

int appdata_install_dir() {
  char bundle[kLocaldataPathMax];
  // The bundle is a folder layout beside the program's real path; failing
  // that, the desktop's register of bundles by identifier.
  if (launch_resources_dir(bundle) != 0) {
    if (launch_find_bundle(bundle) != 0) {
      log(LOG_ERROR, kSrc, "can't find bundle");
      return -1;
    }
    size_t n = strlen(bundle);
    if (n + sizeof "/Contents/Resources" > sizeof bundle) {
      log(LOG_ERROR, kSrc, "can't get bundle URL fs");
      return -1;
    }
    strcat(bundle, "/Contents/Resources");
  }
  if (strlen(bundle) + sizeof "/Install" > sizeof bundle) {
    log(LOG_ERROR, kSrc, "can't get bundle URL fs");
    return -1;
  }
  strcat(bundle, "/Install");
  return localdata_set_install_dir(bundle);
}

static int program_is_stored() {
  localdata_dirent *list;
  if (localdata_list(&list, LOCALDATA_PROGRAM) < 0) {
    log(LOG_ERROR, kSrc, "can't find program directory");
    return -1;
  }
  char name[kLocaldataNameMax];
  int found = 0;
  while (localdata_list_next(&list, name))
    if (strcmp(name, appdata_stored_exe()) == 0) found = 1;
  return found;
}

int appdata_is_installed() {
  char local[kInstallVersionMax + 1], global[kInstallVersionMax + 1];
  if (read_version(LOCALDATA_CONFIG, kInstallVersionFile, local) < 0) {
    log(LOG_WARN, kSrc, "can't find local install version");
    return 0;
  }
  int stored = program_is_stored();
  if (stored < 0) return 0;
  if (stored == 0) {
    log(LOG_WARN, kSrc, "not installed");
    return 0;
  }
  if (appdata_install_dir() != 0) {
    log(LOG_WARN, kSrc, "can't find original install to verify version, assuming %s is ok",
        appdata_stored_exe());
    return 1;
  }
  if (read_version(LOCALDATA_INSTALL, kVersionFile, global) < 0) {
    log(LOG_WARN, kSrc, "can't find global install version");
    return 0;
  }
  if (strcmp(local, global) < 0) {
    cut_newline(local);
    cut_newline(global);
    log(LOG_WARN, kSrc, "local version %s is older than global version %s", local, global);
    return 0;
  }
  return 1;
}

int appdata_needs_upgrade() {
  char global[kInstallVersionMax + 1], local[kInstallVersionMax + 1];
  if (appdata_install_dir() != 0 || read_version(LOCALDATA_INSTALL, kVersionFile, global) < 0) {
    log(LOG_WARN, kSrc, "can't find original install version");
    return 0;
  }
  if (read_version(LOCALDATA_PROGRAM, kVersionFile, local) < 0) {
    log(LOG_WARN, kSrc, "can't find local install version");
    return 0;
  }
  cut_newline(global);
  cut_newline(local);
  return appdata_version_compare(local, global) < 0 ? 1 : 0;
}

// Install order: the stored program first and "VERSION" last, so a cut
// install never pairs a new version text with the old program.
static int install_rank(const char *name) {
  if (strcmp(name, appdata_stored_exe()) == 0) return 0;
  if (strcmp(name, kVersionFile) == 0) return 2;
  return 1;
}

int appdata_install() {
  if (appdata_install_dir() != 0) {
    log(LOG_ERROR, kSrc, "can't find install dir");
    return -1;
  }
  char dir[kLocaldataPathMax];
  if (localdata_path_into(dir, LOCALDATA_INSTALL, nullptr) < 0) {
    log(LOG_ERROR, kSrc, "install is not available");
    return -1;
  }
  localdata_dirent *list;
  if (localdata_list(&list, LOCALDATA_INSTALL) < 0) {
    log(LOG_ERROR, kSrc, "can't find install directory");
    return -1;
  }
  std::vector<std::string> names[3];
  char name[kLocaldataNameMax];
  while (localdata_list_next(&list, name)) {
    char path[kLocaldataPathMax];
    struct stat st;
    if (localdata_path_into(path, LOCALDATA_INSTALL, name) == 0 && stat(path, &st) == 0 &&
        S_ISDIR(st.st_mode))
      continue;  // folders of the bundle are not part of the install
    names[install_rank(name)].push_back(name);
  }
  int rc = 0;
  for (int rank = 0; rank < 3; rank++) {
    // The version text only follows a program that is wholly in place.
    if (rank == 2 && rc < 0) break;
    for (const auto &n : names[rank])
      if (localdata_copy(appdata_install_route(n.c_str()), n.c_str(), LOCALDATA_INSTALL,
                         n.c_str()) < 0)
        rc = -1;
  }
  // The record of what is installed is written only for a whole install:
  // with it missing the next start installs again.
  if (rc < 0) {
    log(LOG_ERROR, kSrc, "install incomplete, version not recorded");
    return -1;
  }
  if (localdata_copy(LOCALDATA_CONFIG, kInstallVersionFile, LOCALDATA_INSTALL, kVersionFile) < 0)
    return -1;
  return 0;
}

void appdata_clear_run_dirs() {
  static const uint32_t kRunDirs[] = {LOCALDATA_RUN0, LOCALDATA_RUN1, LOCALDATA_RUN0_32,
                                      LOCALDATA_RUN1_32};
  for (uint32_t dir : kRunDirs) {
    localdata_dirent *list;
    if (localdata_list(&list, dir) < 0) continue;
    char name[kLocaldataNameMax];
    while (localdata_list_next(&list, name)) {
      char path[kLocaldataPathMax];
      struct stat st;
      if (localdata_path_into(path, dir, name) < 0 || lstat(path, &st) != 0 ||
          !S_ISREG(st.st_mode))
        continue;
      if (unlink(path) != 0) log(LOG_OSERR, kSrc, "unlink %s", path);
    }
  }
}
