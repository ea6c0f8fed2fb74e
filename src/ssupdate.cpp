// Program updates: the pending list of files of one update and their write
// into the Program folder.
//
// The write is all or nothing as far as a folder allows: every file goes to a
// temporary name first and only when all are written are they renamed over
// the old ones, so a failed write leaves no half-written program behind. The
// names come from the server and are checked before they touch the folder.
#include "ssupdate.h"

#include <cstdio>
#include <cstring>

#include "bigdata.h"
#include "dalloc.h"
#include "localdata.h"
#include "log.h"
#include "ssmsg.h"
#include "ssnotify.h"

static const char kSrc[] = "src/ssupdate";

namespace {

constexpr char kTempSuffix[] = ".upd~";  // a file being written, renamed when all are

struct pending_file {
  char name[kUpdateNameMax + 1];
  int32_t length;
  uint8_t* data;
  pending_file* next;
};

}  // namespace

// Module state: the pending files in arrival order and the flag that makes
// the rest of a failed update be ignored.
static struct {
  pending_file* head;
  pending_file* tail;
  int32_t count;
  bool failed;
  bool refused;
} S;

namespace {

void discard_pending() {
  for (pending_file* f = S.head; f;) {
    pending_file* next = f->next;
    dalloc_free(f->data);
    dalloc_free(f);
    f = next;
  }
  S.head = S.tail = nullptr;
  S.count = 0;
}

// A pending file's temporary name: its whole name (at most kUpdateNameMax
// characters) and the suffix, never cut, so two names cannot share one.
constexpr int kTempNameMax = kUpdateNameMax + static_cast<int>(sizeof kTempSuffix);
void temp_name(char* out, const char* name) { snprintf(out, kTempNameMax, "%.*s%s", kUpdateNameMax, name, kTempSuffix); }

// Removes the temporary files of the pending files before `stop`.
void remove_temps(const pending_file* stop) {
  char t[kTempNameMax];
  for (const pending_file* f = S.head; f != stop; f = f->next) {
    temp_name(t, f->name);
    localdata_remove(LOCALDATA_PROGRAM, t);
  }
}

void broadcast() {
  log(LOG_INFO, kSrc, "broadcasting update");
  ssnotify_record_global(kGlobalProgramUpdate);
}

}  // namespace

int ssupdate_init(void) {
  const bool refused = S.refused;
  S = {};
  S.refused = refused;
  return 0;
}

void ssupdate_set_refused(int on) { S.refused = on != 0; }

void ssupdate_fini(void) {
  discard_pending();
  S.failed = false;
}

int ssupdate_name_ok(const char* name) {
  const size_t n = strnlen(name, kUpdateNameMax + 1);
  if (n == 0 || n > static_cast<size_t>(kUpdateNameMax) || name[0] == '.') return 0;
  if (strstr(name, "..")) return 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return 0;
  }
  return 1;
}

int ssupdate_begin(const char* version) {
  if (S.refused) {
    log(LOG_WARN, kSrc, "refusing version %s: updates are off", version);
    return 0;
  }
  ssmsg_setf("Receiving new version %s", version);
  discard_pending();
  S.failed = false;
  return 0;
}

int ssupdate_store(const char* name, int32_t id) {
  int32_t filled = 0, total = 0;
  const bool present = bigdata_progress(id, &filled, &total) == 0;
  if (S.refused) {
    log(LOG_WARN, kSrc, "refusing update file %s: updates are off", name);
    if (present) bigdata_remove(id);
    return 0;
  }
  if (S.failed) {
    if (present) bigdata_remove(id);
    return 0;
  }
  const char* why = nullptr;
  if (!ssupdate_name_ok(name))
    why = "bad name";
  else if (!present)
    why = "not found in bigdata cache";
  else if (filled != total)
    why = "incomplete";
  else if (total > kUpdateFileMax)
    why = "too large";
  else if (S.count >= kUpdatePendingMax)
    why = "one file too many";
  if (why) {
    if (!present)
      log(LOG_ERROR, kSrc, "%s not found in bigdata cache", name);
    else
      log(LOG_ERROR, kSrc, "refusing update file %s: %s (%d/%d)", name, why, filled, total);
    if (present) bigdata_remove(id);
    S.failed = true;
    return -1;
  }
  int32_t length = 0;
  const uint8_t* data = bigdata_get(id, &length);
  pending_file* f = static_cast<pending_file*>(dalloc_alloc(sizeof(pending_file)));
  memset(f, 0, sizeof *f);
  snprintf(f->name, sizeof f->name, "%s", name);
  f->length = length;
  f->data = static_cast<uint8_t*>(dalloc_alloc(length > 0 ? static_cast<size_t>(length) : 1));
  if (length > 0) memcpy(f->data, data, static_cast<size_t>(length));
  bigdata_remove(id);
  if (S.tail)
    S.tail->next = f;
  else
    S.head = f;
  S.tail = f;
  S.count++;
  return 0;
}

int ssupdate_write(void) {
  if (S.refused) {
    log(LOG_WARN, kSrc, "refusing to write an update: updates are off");
    return 0;
  }
  if (S.failed) {
    S.failed = false;
    discard_pending();
    return 0;
  }
  char t[kTempNameMax];
  for (pending_file* f = S.head; f; f = f->next) {
    log(LOG_INFO, kSrc, "writing new %db %s", f->length, f->name);
    temp_name(t, f->name);
    if (localdata_write(LOCALDATA_PROGRAM, t, f->data, static_cast<uint32_t>(f->length)) < 0) {
      log(LOG_ERROR, kSrc, "can't write %s", f->name);
      remove_temps(f);
      discard_pending();
      return 0;
    }
  }
  // Every file is written: put them in place.
  char from[kLocaldataPathMax], to[kLocaldataPathMax];
  for (pending_file* f = S.head; f; f = f->next) {
    temp_name(t, f->name);
    if (!localdata_path(from, LOCALDATA_PROGRAM, t) || !localdata_path(to, LOCALDATA_PROGRAM, f->name) ||
        rename(from, to) != 0) {
      log(LOG_ERROR, kSrc, "can't write %s", f->name);
      for (pending_file* g = f; g; g = g->next) {
        temp_name(t, g->name);
        localdata_remove(LOCALDATA_PROGRAM, t);
      }
      discard_pending();
      return -1;
    }
  }
  discard_pending();
  broadcast();
  return 0;
}

int ssupdate_save(const char* name, const void* data, int32_t length) {
  if (S.refused) {
    log(LOG_WARN, kSrc, "refusing %db %s: updates are off", length, name);
    return -1;
  }
  if (!ssupdate_name_ok(name) || length < 0 || length > kUpdateFileMax ||
      localdata_write(LOCALDATA_PROGRAM, name, data, static_cast<uint32_t>(length)) < 0) {
    log(LOG_ERROR, kSrc, "can't save %s!", name);
    return -1;
  }
  broadcast();
  return 0;
}

int ssupdate_apply_delta(const char* name, const void* data, int32_t length) {
  (void)name;
  (void)data;
  (void)length;
  log(LOG_ERROR, kSrc, "not implemented");
  return -1;
}

uint32_t ssupdate_platform_code(const char* name) {
  static const struct {
    const char* tag;
    uint32_t code;
  } kTags[] = {{"_W32", 2}, {"_M32", 7}, {"_L32", 3}, {"_L86", 3}, {"_W64", 5}, {"_M64", 4}, {"_L64", 6}};
  for (const auto& t : kTags)
    if (strstr(name, t.tag)) return t.code;
  return kUpdatePlatformNone;
}

int32_t ssupdate_pending_count(void) { return S.count; }
