// The process-wide levelled log: standard error, the log file and the
// in-memory log that can be replayed into the file and walked by readers.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

enum log_level : int {
  LOG_FATAL = 0,  // ends the process
  LOG_ERROR = 1,
  LOG_OSERR = 2,  // appends " (errno:text)"
  LOG_WARN = 3,
  LOG_INFO = 4,
  LOG_TRACE = 5,
  LOG_DEBUG = 6,
  LOG_RAW = 7,  // bare text on standard error, empty level word elsewhere
};

// One line at `level` from the module whose source name is `file` (e.g.
// "src/log"). Any thread. A FATAL line does not return.
void log(int level, const char* file, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void log_v(int level, const char* file, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));

// Before log_init lines reach standard error (and a file opened with
// log_open) but not the memory log; after log_fini every call returns at
// once, except FATAL, which still ends the process. log_init after log_init
// changes nothing; log_fini puts every setting back to its start value.
int log_init(void);
void log_fini(void);
// Test seam: while set, a line's time (seconds and milliseconds) is fn(), in
// milliseconds since the epoch, instead of the wall clock. Null restores it.
void log_set_test_wall_clock(int64_t (*fn)(void));
int log_set_filename(const char* name);
const char* log_filename(void);
// Opens (creating or truncating) the named file, writes "!!! STARTING @"
// and replays the memory log into it when the memory log is on.
int log_open(const char* mode);
// Takes over an already opened file as the log file (the caller chose how
// to open and buffer it) and writes into it as log_open does. 0, or -1 for
// null. A file opened by log_open is line buffered: each line is in the file
// when the call that logged it returns.
int log_open_file(FILE* f);
void log_start(void);
void log_close(void);
int log_has_file(void);
int log_dump(void);
uint32_t log_flush(void);
uint32_t log_set_autoflush(uint32_t on);
void log_set_stderr(uint32_t on);
void log_set_memory(uint32_t on);
uint64_t log_count(void);
// Walks of the memory log without the lock; `cursor` starts null.
// Return 1 with an entry, 0 at the end.
int log_walk_newer(time_t* when, int* level, const char** text, void** cursor);
int log_walk_older(time_t* when, int* level, const char** text, void** cursor);
// n bytes (0xffffffff: the whole string) to the file and standard error,
// with a newline added when the text does not end in one; not kept in memory.
void log_raw(const char* text, uint32_t n);
// Called with the FATAL text after the line is out and the file flushed; when
// it returns (or without one), the log flushes again and _exit(1)s.
void log_set_fatal_hook(void (*hook)(const char* text));
void log_defer(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_deferred(void);
