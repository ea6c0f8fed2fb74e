// The per-user data tree. Other modules name a file by a directory number and
// a file name; this module owns the paths behind the numbers, creates the tree
// under the root, and reads, writes, copies, lists and removes files in it. It
// also keeps the data cache (directory 3) under its size limit by asking the
// cache's trim hook to drop old files. Writes never touch the old file: the new
// bytes go to a temporary file in the same directory that is renamed over it,
// so a failed write leaves the previous contents in place. The temporary file
// reaches the disk (fsync) before the rename, and the directory after it, so
// that after a power cut the name holds either the old or the whole new file,
// never an empty one.
#include "localdata.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "pool.h"

static const char kSrc[] = "src/localdata";

namespace {

constexpr int kListEntriesPerPage = 100;
constexpr int64_t kBytesPerMegabyte = 1048576;
constexpr int64_t kTrimIntervalSeconds = 300;
constexpr int32_t kTrimDays[] = {25, 20, 15, 10, 5};
// The allocator refuses larger blocks, so larger files cannot be read whole.
constexpr int64_t kMaxFileBytes = kDallocMax;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kExeMode = 0700;
constexpr mode_t kDirMode = 0700;
// Temporary files of a write are named with this prefix, the process id and
// a random number; listings leave them out.
constexpr char kTempPrefix[] = ".ldtmp-";
constexpr int kTempAttempts = 16;

// Where each directory number lives: its parent's number and its own name.
struct subdir_def {
  uint32_t parent;
  const char* component;
};
constexpr subdir_def kTree[] = {
    {0, nullptr},          // 0 the root
    {0, "Cache"},          // 1
    {1, "Announcements"},  // 2
    {1, "Data"},           // 3
    {1, "Profiles"},       // 4
    {1, "Research"},       // 5
    {0, "Config"},         // 6
    {0, "Extensions"},     // 7
    {0, "Program"},        // 8
    {0, "Run"},            // 9
    {9, "0"},              // 10
    {9, "1"},              // 11
    {10, "32"},            // 12
    {11, "32"},            // 13
    {0, "Temp"},           // 14
};
constexpr uint32_t kCreatedDirs = sizeof(kTree) / sizeof(kTree[0]);  // 0..14; 15 is the launcher's

struct localdata_state {
  int inited = 0;
  plat_slot list_lock = -1;
  pool entries{};  // list entries, guarded by list_lock
  std::atomic<int> ready{0};
  char dirs[kLocaldataSubdirs][kLocaldataPathMax] = {};
  // The cache bookkeeping is shared by the main and the io thread without a
  // lock; atomics keep each update whole.
  std::atomic<int64_t> cache_size{0};
  std::atomic<int64_t> cache_limit{0};
  std::atomic<localdata_trim_fn> trim_hook{nullptr};
  // plat_seconds() counts from process start, so "never trimmed" must not be
  // 0: the first trim is allowed at once.
  std::atomic<int64_t> next_trim{INT64_MIN};
  int stale_removed = 0;  // temporary files of dead writers removed at the last set_root
};
localdata_state S;


// A file name must stay inside its directory.
bool name_ok(const char* name) {
  return name[0] != '\0' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
         strchr(name, '/') == nullptr;
}

bool is_run_dir(uint32_t dir) {
  return dir >= LOCALDATA_RUN0 && dir <= LOCALDATA_RUN1_32;
}

// Joins a directory and a name into `out` (kLocaldataPathMax bytes).
bool join(char* out, const char* dir, const char* name) {
  size_t len = strlen(dir);
  const char* sep = (len > 0 && dir[len - 1] == '/') ? "" : "/";
  int n = snprintf(out, kLocaldataPathMax, "%s%s%s", dir, sep, name);
  return n >= 0 && n < kLocaldataPathMax;
}

// Size of a regular file (not followed through a link), else 0.
int64_t regular_size(const char* path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
  return 0;
}

// Checks an existing folder the module takes as given (the root, the install
// folder): a directory its owner may read, write and enter. 1 when it is,
// 0 when the path can't be looked at (errno from stat), -1 when refused.
int check_dir(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  if (!S_ISDIR(st.st_mode)) {
    log(LOG_ERROR, kSrc, "%s is not a directory", path);
    return -1;
  }
  if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    log(LOG_ERROR, kSrc, "%s does not have correct perms: %o", path,
        (unsigned)(st.st_mode & 07777));
    return -1;
  }
  return 1;
}

void clear_dirs(void) {
  for (uint32_t i = 0; i < kCreatedDirs; i++) S.dirs[i][0] = '\0';
}

void cache_add(int64_t delta) {
  S.cache_size.fetch_add(delta, std::memory_order_relaxed);
}

// A named file's path for the file operations: refuses before the root is set
// and refuses a missing name.
int file_path(char* path, uint32_t dir, const char* name) {
  path[0] = '\0';
  if (!S.ready.load(std::memory_order_acquire)) return -1;
  if (name == nullptr) {
    log(LOG_ERROR, kSrc, "no file name for subdir %d", (int)dir);
    return -1;
  }
  return localdata_path_into(path, dir, name);
}

// Opens a file for reading and finds its size. A missing file is silent; a
// 0-byte file is removed. On success the caller closes *fd.
int open_for_read(uint32_t dir, const char* name, char* path, int* fd, int64_t* size) {
  if (file_path(path, dir, name) < 0) return -1;
  int f = open(path, O_RDONLY | O_CLOEXEC);
  if (f < 0) {
    if (errno != ENOENT) log(LOG_OSERR, kSrc, "can't read %s", path);
    return -1;
  }
  struct stat st;
  if (fstat(f, &st) < 0) {
    log(LOG_OSERR, kSrc, "can't stat %s", path);
    close(f);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    log(LOG_ERROR, kSrc, "%s is not a regular file", path);
    close(f);
    return -1;
  }
  if (st.st_size == 0) {
    log(LOG_ERROR, kSrc, "won't open 0 byte %s (removing)", path);
    close(f);
    unlink(path);
    return -1;
  }
  if (st.st_size > kMaxFileBytes) {
    log(LOG_ERROR, kSrc, "won't read %lldb %s", (long long)st.st_size, path);
    close(f);
    return -1;
  }
  *fd = f;
  *size = st.st_size;
  return 0;
}

// Reads exactly `size` bytes; a file that shrank since it was measured is a
// failure, not a shorter result.
int read_exact(int fd, void* buf, int64_t size, const char* path) {
  int32_t got = plat_read_all(fd, buf, (int32_t)size);
  if (got < 0) return -1;
  if (got != size) {
    log(LOG_ERROR, kSrc, "short read %s: %d of %lld", path, got, (long long)size);
    return -1;
  }
  return 0;
}

// Before a cache write that would pass the limit: asks the trim hook for ever
// shorter ages until the cache is back under three quarters of the limit, at
// most once per kTrimIntervalSeconds. The write goes ahead whatever happens.
void maybe_trim(int64_t projected) {
  int64_t limit = S.cache_limit.load();
  if (limit < 1 || projected <= limit) return;
  localdata_trim_fn hook = S.trim_hook.load();
  if (hook == nullptr) return;
  int64_t now = plat_seconds();
  int64_t next = S.next_trim.load();
  if (now < next) return;
  // Claim the trim so that a second writer does not start one as well.
  if (!S.next_trim.compare_exchange_strong(next, now + kTrimIntervalSeconds)) return;

  int64_t target = limit * 3 / 4;
  int64_t before = S.cache_size.load();
  for (int32_t days : kTrimDays) {
    if (days != kTrimDays[0] && S.cache_size.load() <= target) break;
    hook(days);
    localdata_measure_cache(1);
  }
  int64_t after = S.cache_size.load();
  if (after != before) {
    log(LOG_INFO, kSrc, "data cache is now %.01fMb", (double)after / kBytesPerMegabyte);
  }
}

// Creates a fresh temporary file in `dir_path` with O_EXCL, so that nothing
// already there (a planted link included) is ever opened. Returns the
// descriptor and the name in `tmp`, or -1 with errno set.
int create_temp(const char* dir_path, char* tmp) {
  for (int i = 0; i < kTempAttempts; i++) {
    char leaf[64];
    snprintf(leaf, sizeof(leaf), "%s%d-%lx", kTempPrefix, (int)getpid(),
             (unsigned long)plat_random());
    if (!join(tmp, dir_path, leaf)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    int fd = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Removes the temporary files that writes killed part way left in `dir_path`:
// those whose writer (the process id in the name) no longer runs. Nothing
// lists them, so nothing else would ever remove them or count them against
// the cache's limit. Returns how many went.
int sweep_temps(const char* dir_path) {
  DIR* d = opendir(dir_path);
  if (d == nullptr) return 0;
  int removed = 0;
  const size_t plen = sizeof(kTempPrefix) - 1;
  while (struct dirent* e = readdir(d)) {
    if (strncmp(e->d_name, kTempPrefix, plen) != 0) continue;
    const long pid = strtol(e->d_name + plen, nullptr, 10);
    if (pid == (long)getpid()) continue;
    if (pid > 0 && pid <= INT_MAX && (kill((pid_t)pid, 0) == 0 || errno == EPERM)) continue;  // still writing
    char path[kLocaldataPathMax];
    if (!join(path, dir_path, e->d_name)) continue;
    if (unlink(path) == 0) removed++;
  }
  closedir(d);
  return removed;
}

// Flushes a directory's entries (a rename in it) to the disk.
int sync_dir(const char* dir_path) {
  int fd = open(dir_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = fsync(fd);
  int saved = errno;
  close(fd);
  errno = saved;
  return rc;
}

}  // namespace

int localdata_init(void) {
  if (S.inited) return 0;
  S.list_lock = plat_mutex_create();
  if (S.list_lock < 0) {
    log(LOG_ERROR, kSrc, "can't create list lock");
    return -1;
  }
  if (pool_init(&S.entries, kListEntriesPerPage, sizeof(localdata_dirent)) < 0) {
    log(LOG_ERROR, kSrc, "can't init list pool");
    plat_mutex_destroy(S.list_lock);
    S.list_lock = -1;
    return -1;
  }
  S.inited = 1;
  return 0;
}

void localdata_fini(void) {
  S.ready.store(0);
  clear_dirs();
  S.dirs[LOCALDATA_INSTALL][0] = '\0';
  S.cache_size.store(0);
  S.cache_limit.store(0);
  S.trim_hook.store(nullptr);
  S.next_trim.store(INT64_MIN);
  if (!S.inited) return;
  pool_destroy(&S.entries);
  plat_mutex_destroy(S.list_lock);
  S.list_lock = -1;
  S.inited = 0;
}

int localdata_set_root(const char* root) {
  log(LOG_INFO, kSrc, "set root %s", root ? root : "(null)");
  S.ready.store(0);
  clear_dirs();
  if (localdata_init() < 0) return -1;
  if (root == nullptr || root[0] == '\0') {
    log(LOG_ERROR, kSrc, "no root given");
    return -1;
  }
  size_t len = strlen(root);
  if (len >= (size_t)kLocaldataPathMax) {
    log(LOG_ERROR, kSrc, "path too long: %d:%s", 0, root);
    return -1;
  }
  char base[kLocaldataPathMax];
  memcpy(base, root, len + 1);
  while (len > 1 && base[len - 1] == '/') base[--len] = '\0';

  struct stat st;
  int found = check_dir(base);
  if (found < 0) return -1;
  if (found == 0) {
    if (errno != ENOENT) {
      log(LOG_OSERR, kSrc, "can't stat %s", base);
      return -1;
    }
    if (mkdir(base, kDirMode) < 0) {
      log(LOG_OSERR, kSrc, "can't make dir %s", base);
      return -1;
    }
  }
  memcpy(S.dirs[0], base, len + 1);

  for (uint32_t i = 1; i < kCreatedDirs; i++) {
    char* path = S.dirs[i];
    memcpy(path, S.dirs[kTree[i].parent], strlen(S.dirs[kTree[i].parent]) + 1);
    if (plat_path_join(path, kTree[i].component) == nullptr || plat_mkdir(path) < 0) {
      clear_dirs();
      return -1;
    }
    // An existing entry satisfies the mkdir; it must still be a directory.
    if (stat(path, &st) < 0 || !S_ISDIR(st.st_mode)) {
      log(LOG_ERROR, kSrc, "%s is not a directory", path);
      clear_dirs();
      return -1;
    }
  }

  int stale = 0;
  for (uint32_t i = 0; i < kCreatedDirs; i++) stale += sweep_temps(S.dirs[i]);
  S.stale_removed = stale;
  if (stale) log(LOG_INFO, kSrc, "removed %d stale temporary files", stale);
  localdata_measure_cache(0);
  plat_set_temp_dir(S.dirs[LOCALDATA_TEMP]);
  S.ready.store(1, std::memory_order_release);
  return 0;
}

int localdata_ready(void) {
  return S.ready.load(std::memory_order_acquire);
}

int localdata_set_install_dir(const char* path) {
  log(LOG_INFO, kSrc, "set install dir %s", path ? path : "(null)");
  S.dirs[LOCALDATA_INSTALL][0] = '\0';
  if (path == nullptr || path[0] == '\0') return -1;
  size_t len = strlen(path);
  if (len >= (size_t)kLocaldataPathMax) {
    log(LOG_ERROR, kSrc, "path too long: %d:%s", (int)LOCALDATA_INSTALL, path);
    return -1;
  }
  if (check_dir(path) < 0) return -1;  // a path that does not exist yet is accepted
  memcpy(S.dirs[LOCALDATA_INSTALL], path, len + 1);
  return 0;
}

int localdata_path_into(char* buf, uint32_t dir, const char* name) {
  buf[0] = '\0';
  if (dir >= kLocaldataSubdirs) {
    log(LOG_ERROR, kSrc, "asked for subdir %d", (int)dir);
    return -1;
  }
  const char* base = S.dirs[dir];
  if (base[0] == '\0') return -1;
  if (name == nullptr) {
    memcpy(buf, base, strlen(base) + 1);
    return 0;
  }
  if (!name_ok(name)) {
    log(LOG_ERROR, kSrc, "bad file name %d:%s", (int)dir, name);
    return -1;
  }
  if (!join(buf, base, name)) {
    buf[0] = '\0';
    log(LOG_ERROR, kSrc, "path too long: %d:%s", (int)dir, name);
    return -1;
  }
  return 0;
}

char* localdata_path(char* buf, uint32_t dir, const char* name) {
  return localdata_path_into(buf, dir, name) == 0 ? buf : nullptr;
}

char* localdata_path_alloc(uint32_t dir, const char* name) {
  char* buf = (char*)dalloc_alloc(kLocaldataPathMax);
  if (localdata_path_into(buf, dir, name) < 0) {
    dalloc_free(buf);
    return nullptr;
  }
  return buf;
}

int localdata_read_into(uint32_t dir, const char* name, void* buf, uint32_t* size) {
  char path[kLocaldataPathMax];
  int fd;
  int64_t file_size;
  if (open_for_read(dir, name, path, &fd, &file_size) < 0) return -1;
  uint32_t capacity = *size;
  *size = (uint32_t)file_size;
  int rc = 0;
  if (buf != nullptr) {
    // Too small is not logged: the caller grows its buffer and asks again.
    rc = (capacity < file_size) ? -1 : read_exact(fd, buf, file_size, path);
  }
  close(fd);
  return rc;
}

int localdata_read(uint32_t dir, const char* name, void** data, uint32_t* len) {
  *data = nullptr;
  *len = 0;
  char path[kLocaldataPathMax];
  int fd;
  int64_t size;
  if (open_for_read(dir, name, path, &fd, &size) < 0) return -1;
  void* buf = dalloc_alloc((int32_t)size);
  int rc = read_exact(fd, buf, size, path);
  close(fd);
  if (rc < 0) {
    dalloc_free(buf);
    return -1;
  }
  *data = buf;
  *len = (uint32_t)size;
  return 0;
}

int localdata_write(int32_t dir, const char* name, const void* data, uint32_t n) {
  char path[kLocaldataPathMax];
  if (file_path(path, (uint32_t)dir, name) < 0) return -1;
  if (n > kMaxFileBytes || (data == nullptr && n > 0)) {
    log(LOG_ERROR, kSrc, "won't write %ub to %s", n, path);
    return -1;
  }
  bool cache = dir == LOCALDATA_DATA;
  if (cache) {
    // The old file is about to be replaced, so it does not count against the
    // limit.
    int64_t projected = S.cache_size.load() - regular_size(path) + n;
    maybe_trim(projected < (int64_t)n ? (int64_t)n : projected);
  }

  char tmp[kLocaldataPathMax];
  int fd = create_temp(S.dirs[dir], tmp);
  if (fd < 0) {
    log(LOG_OSERR, kSrc, "can't write %s", path);
    return -1;
  }
  if (plat_write_all(fd, data, (int32_t)n) != (int32_t)n) {
    log(LOG_ERROR, kSrc, "failed writing %s", path);
    close(fd);
    unlink(tmp);
    return -1;
  }
  if (is_run_dir((uint32_t)dir) && fchmod(fd, kExeMode) < 0) {
    log(LOG_OSERR, kSrc, "can't make %s exe", path);  // the write still counts
  }
  // The bytes reach the disk before the name points at them.
  if (fsync(fd) < 0) {
    log(LOG_OSERR, kSrc, "failed writing %s", path);
    close(fd);
    unlink(tmp);
    return -1;
  }
  if (close(fd) < 0) {
    log(LOG_OSERR, kSrc, "failed writing %s", path);
    unlink(tmp);
    return -1;
  }
  int64_t replaced = cache ? regular_size(path) : 0;
  if (rename(tmp, path) < 0) {
    log(LOG_OSERR, kSrc, "can't replace %s", path);
    unlink(tmp);
    return -1;
  }
  if (cache) cache_add((int64_t)n - replaced);
  // The new contents are in place whatever happens here; only their survival
  // of a power cut is in doubt, so the write still counts.
  if (sync_dir(S.dirs[dir]) < 0) log(LOG_OSERR, kSrc, "can't sync the folder of %s", path);
  return 0;
}

int localdata_remove(uint32_t dir, const char* name) {
  char path[kLocaldataPathMax];
  if (file_path(path, dir, name) < 0) return -1;
  int64_t size = dir == LOCALDATA_DATA ? regular_size(path) : 0;
  if (unlink(path) < 0) {
    if (errno != ENOENT) log(LOG_OSERR, kSrc, "can't remove %s", path);
    return -1;
  }
  if (size > 0) cache_add(-size);
  return 0;
}

int localdata_copy(uint32_t dst_dir, const char* name, uint32_t src_dir, const char* src_name) {
  if (src_name == nullptr) src_name = name;
  void* data;
  uint32_t len;
  if (localdata_read(src_dir, src_name, &data, &len) < 0) {
    log(LOG_ERROR, kSrc, "%d:%s does not exist", (int)src_dir, src_name ? src_name : "(null)");
    return -1;
  }
  int rc = localdata_write((int32_t)dst_dir, name, data, len);
  dalloc_free(data);
  return rc;
}

int localdata_list(localdata_dirent** out, uint32_t dir) {
  *out = nullptr;
  char path[kLocaldataPathMax];
  if (localdata_path_into(path, dir, nullptr) < 0) return -1;
  if (!S.inited) {
    log(LOG_ERROR, kSrc, "can't list %s before init", path);
    return -1;
  }
  DIR* d = opendir(path);
  if (d == nullptr) {
    log(LOG_OSERR, kSrc, "can't list %s", path);
    return -1;
  }
  localdata_dirent* head = nullptr;
  while (struct dirent* e = readdir(d)) {
    const char* n = e->d_name;
    if (strcmp(n, ".") == 0 || strcmp(n, "..") == 0) continue;
    if (strncmp(n, kTempPrefix, sizeof(kTempPrefix) - 1) == 0) continue;
    size_t len = strlen(n);
    if (len >= (size_t)kLocaldataNameMax) {
      log(LOG_WARN, kSrc, "skipping %s", n);
      continue;
    }
    localdata_dirent* item;
    {
      plat_lock_guard lock(S.list_lock);
      item = (localdata_dirent*)pool_alloc(&S.entries);
    }
    if (item == nullptr) {
      log(LOG_ERROR, kSrc, "can't alloc dir entry");
      break;  // the caller gets the names read so far
    }
    memcpy(item->name, n, len + 1);
    item->next = head;
    head = item;
  }
  closedir(d);
  *out = head;
  return 0;
}

int localdata_list_next(localdata_dirent** list, char* name) {
  localdata_dirent* e = *list;
  if (e == nullptr) return 0;
  memcpy(name, e->name, kLocaldataNameMax);
  *list = e->next;
  plat_lock_guard lock(S.list_lock);
  pool_free(&S.entries, e);
  return 1;
}

void localdata_list_free(localdata_dirent** list) {
  localdata_dirent* e = *list;
  *list = nullptr;
  if (e == nullptr) return;
  plat_lock_guard lock(S.list_lock);
  while (e != nullptr) {
    localdata_dirent* next = e->next;
    pool_free(&S.entries, e);
    e = next;
  }
}

void localdata_measure_cache(uint32_t quiet) {
  localdata_dirent* list;
  if (localdata_list(&list, LOCALDATA_DATA) < 0) return;
  int64_t total = 0;
  char name[kLocaldataNameMax];
  char path[kLocaldataPathMax];
  while (localdata_list_next(&list, name)) {
    if (localdata_path_into(path, LOCALDATA_DATA, name) < 0) continue;
    total += regular_size(path);
  }
  S.cache_size.store(total);
  if (!quiet) log(LOG_INFO, kSrc, "data cache is %.01fMb", (double)total / kBytesPerMegabyte);
}

int localdata_stale_removed(void) { return S.stale_removed; }

uint64_t localdata_cache_size(void) {
  int64_t size = S.cache_size.load();
  return size < 0 ? 0 : (uint64_t)size;
}

void localdata_set_cache_limit(int32_t megabytes) {
  S.cache_limit.store(megabytes > 0 ? (int64_t)megabytes * kBytesPerMegabyte : 0);
}

void localdata_set_trim_hook(localdata_trim_fn fn) {
  S.trim_hook.store(fn);
}
