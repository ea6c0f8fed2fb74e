// The per-user data tree: every file the system keeps for a user is named by
// a directory number and a file name, never by a path.
#pragma once
#include <cstdint>

// Directory numbers below the data root.
enum localdata_subdir : uint32_t {
  LOCALDATA_ROOT = 0,
  LOCALDATA_CACHE = 1,          // Cache
  LOCALDATA_ANNOUNCEMENTS = 2,  // Cache/Announcements
  LOCALDATA_DATA = 3,           // Cache/Data, the size-limited data cache
  LOCALDATA_PROFILES = 4,       // Cache/Profiles
  LOCALDATA_RESEARCH = 5,       // Cache/Research
  LOCALDATA_CONFIG = 6,         // Config
  LOCALDATA_EXTENSIONS = 7,     // Extensions
  LOCALDATA_PROGRAM = 8,        // Program
  LOCALDATA_RUN = 9,            // Run
  LOCALDATA_RUN0 = 10,          // Run/0   (files written here are made executable)
  LOCALDATA_RUN1 = 11,          // Run/1
  LOCALDATA_RUN0_32 = 12,       // Run/0/32
  LOCALDATA_RUN1_32 = 13,       // Run/1/32
  LOCALDATA_TEMP = 14,          // Temp, also the platform's temporary directory
  LOCALDATA_INSTALL = 15,       // the install directory; empty in the terminal
};
constexpr uint32_t kLocaldataSubdirs = 16;
constexpr int kLocaldataPathMax = 1024;  // bytes of every path buffer
constexpr int kLocaldataNameMax = 32;    // bytes of a listed name, terminator included

// One entry of a directory listing; entries come from the module's pool.
struct localdata_dirent {
  localdata_dirent* next;
  char name[kLocaldataNameMax];
};

// Asked by the cache limit to drop cache files older than `days`.
typedef int (*localdata_trim_fn)(int32_t days);

// Creates the list lock and the entry pool; a second call does nothing.
// localdata_set_root calls it too, so the root may be set first.
int localdata_init(void);
// Drops the pool and the lock and forgets the root, the limit and the hook.
void localdata_fini(void);

// Checks the root (a directory the owner may read, write and enter), creates
// it when missing, creates directories 1 to 14, measures the cache. 0 / -1;
// on failure no directory is available until a later call succeeds.
int localdata_set_root(const char* root);
// 1 once a root has been set successfully, else 0.
int localdata_ready(void);
// How many temporary files of writes killed part way the last
// localdata_set_root removed (their writers no longer run).
int localdata_stale_removed(void);
// Sets directory 15, the bundle's install folder the launcher copies from.
// An existing path must be a directory the owner may read, write and enter;
// a path that does not exist yet is accepted. The old value is forgotten
// first, so a refused path leaves the install directory unset. 0 / -1.
int localdata_set_install_dir(const char* path);

// Writes directory `dir`'s path, or the path of `name` in it, into `buf`
// (kLocaldataPathMax bytes). A null name gives the directory itself. Names
// that are empty, ".", ".." or contain "/" are refused. 0 / -1 (buf emptied).
int localdata_path_into(char* buf, uint32_t dir, const char* name);
// The same, returning `buf`, or null.
char* localdata_path(char* buf, uint32_t dir, const char* name);
// A new kLocaldataPathMax-byte path owned by the caller (dalloc_free), or null.
char* localdata_path_alloc(uint32_t dir, const char* name);

// With `buf`: `*size` is its capacity on entry and the file's size on return
// (also when it does not fit, which gives -1 without a message, so the caller
// can grow its buffer and ask again). With a null `buf` only the size is
// stored. A missing file gives -1 without a message; a 0-byte file is removed
// and gives -1.
int localdata_read_into(uint32_t dir, const char* name, void* buf, uint32_t* size);
// Reads a whole file into a new dalloc block (*data, owned by the caller) of
// *len bytes. A missing file gives -1 without a message; a 0-byte file is
// removed and gives -1.
int localdata_read(uint32_t dir, const char* name, void** data, uint32_t* len);
// Replaces the file with `n` bytes (0600; 0700 in the run directories). The
// new contents go to a temporary file that is renamed over the old one, so a
// failed write leaves the old file as it was. May ask the trim hook first.
int localdata_write(int32_t dir, const char* name, const void* data, uint32_t n);
// Deletes the file; a missing file gives -1 without a message.
int localdata_remove(uint32_t dir, const char* name);
// Copies `src_name` (null: `name`) of `src_dir` to `name` of `dst_dir`.
int localdata_copy(uint32_t dst_dir, const char* name, uint32_t src_dir, const char* src_name);

// Lists the names of a directory (not "." and "..", not names of 32
// characters or more, not this module's temporary files) in the reverse of
// the directory's own order. *out is null when the list is empty; every list
// must be drained by localdata_list_next or given to localdata_list_free.
// Any thread.
int localdata_list(localdata_dirent** out, uint32_t dir);
// Copies the next name into `name` (kLocaldataNameMax bytes) and returns the
// entry to the pool: 1, or 0 at the end of the list.
int localdata_list_next(localdata_dirent** list, char* name);
// Returns every remaining entry to the pool and empties *list.
void localdata_list_free(localdata_dirent** list);

// Recounts the bytes of the regular files of the data cache (directory 3);
// logs the total unless `quiet`.
void localdata_measure_cache(uint32_t quiet);
// The data cache's size as this module last counted it, in bytes.
uint64_t localdata_cache_size(void);
// A limit of 0 or less means none.
void localdata_set_cache_limit(int32_t megabytes);
void localdata_set_trim_hook(localdata_trim_fn fn);
