// The configuration text model: a tree of named cells parsed from "key value"
// lines, a reading cursor with typed getters, and a block-structured writer.
// Both the local settings file and the user configuration kept on the server
// are read and written through it. User-interface thread only.
#pragma once
#include <cstdarg>
#include <cstdint>

struct instr;
struct ss_exchange;

constexpr int kConfigMaxWords = 8;      // words of one line, key included
constexpr int kConfigMaxDepth = 7;      // deepest cursor level
constexpr int kConfigMaxBlocks = 8;     // open writer blocks
constexpr int kConfigMaxPath = 256;     // characters of a key path
constexpr int32_t kConfigMaxText = 64 * 1024 * 1024;  // bytes one load accepts

// One node of the tree. Names and values point into text the tree owns
// until the next reset.
struct config_cell {
  const char* name;
  int32_t value_count;
  const char* values[kConfigMaxWords];
  config_cell* first_child;
  config_cell* last_child;
  config_cell* next;
};

// One of the four connection locations of the local settings.
struct config_location {
  char name[32];  // empty: a free entry
  char ambit_hostname[80];
  int32_t ambit_port;
  int32_t ambit_over_http;
  int32_t ambit_uses_default_servers;
  int32_t proxy_type;  // 0 none, 2 HTTP, 3 by proxy_version
  char proxy_hostname[80];
  int32_t proxy_port;
  char proxy_username[32];
  char proxy_password[32];
  int32_t proxy_version;
  int32_t bounds[4];  // x, y, width, height of the login window
  int64_t last_decode_dur;
  int64_t last_save_dur;
};

constexpr int kConfigLocations = 4;

// The local settings: what must exist before the user signs on.
struct local_config {
  char site[32];
  char username[32];
  char password[32];
  int32_t remember_username;
  int32_t remember_password;
  int32_t workaround_tex_size;
  int32_t workaround_round_shapes;
  int32_t workaround_software_renderer;
  int32_t workaround_dont_delete_contexts;
  int32_t workaround_allow_any_double_bufs;
  int32_t graphics_quality;
  int32_t cur_location;  // 0 to 3, always
  config_location locations[kConfigLocations];
  int32_t upgrade_count;
  char restart_site[32];
  char restart_username[32];
  char restart_password[32];
  int32_t reconnect_timeout;
  int32_t speed;
};

// The running argument index callers step through a cell's words with; set
// to 0 whenever the cursor moves.
extern int32_t config_argi;

// Life cycle ----------------------------------------------------------------

// Makes the buffers, the cell pool, the root and the local settings record
// (set to its defaults) and prepares the local file's scrambling key. 0 / -1.
int config_init(void);
void config_shutdown(void);
// Drops the whole tree and the text it points into, empties the writer,
// makes a new root; both depths become 0. 0 / -1.
int config_reset(void);
local_config* config_local(void);
config_location* config_cur_location(void);

// Parsing -------------------------------------------------------------------

// Parses a whole text: lines end at every CR and LF. The text is copied, the
// caller's buffer is not touched. A tree that holds anything is reset first.
// Every line is parsed; -1 when any line failed or the text is over
// kConfigMaxText bytes, else 0.
int config_load_buffer(const char* text, int32_t length);
// Parses one line (a copy of `length` bytes of it) into the tree. 0 / -1.
int config_parse_line(const char* line, int32_t length);
// Splits `text` in place at `sep` into at most 8 words (see the .cpp for the
// quoting rules). text[length] must be a NUL. Returns the word count, 0 for
// nothing but separators, -1 after a log line.
int config_parse_value(char** words, char* text, int32_t length, char sep);

// Reading -------------------------------------------------------------------

int config_enter(const char* key);  // 1 and one level down, or 0
int config_next(void);              // 1 when the level's next block is current
void config_leave(void);
int config_depth(void);
config_cell* config_get(const char* key);  // below the current base cell
config_cell* config_base(void);            // the current base cell
// 1 when the last getter found its key (or index) with a value word it
// accepted; 0 when the key was absent, had no value, or its word was refused
// (a number that doesn't read or is out of range, a bad time, a rectangle
// field out of range, an exchange or instrument not known), so a caller that
// tests it keeps its default.
int config_found(void);

// Typed getters: absent key / key without a value / value word give
// bool false/false/'t'; int -1/0/"%d"; hex 0/0/"%x"; double -1/0/"%g";
// string null/""/the word; u64 0/0/"%llu"; rect, instr, exchange null/null/
// the value. A refused word gives what an absent key gives (the by-index
// getters: 0 or null).
int config_get_bool(const char* key);
int32_t config_get_int(const char* key);
uint32_t config_get_hex(const char* key);
double config_get_double(const char* key);
const char* config_get_string(const char* key);
// Reads both "%Lu" and "%Ld" text; a negative number gives its two's
// complement, so a signed value written with "%Ld" comes back as its cast.
uint64_t config_get_u64(const char* key);
// One shared record, overwritten by the next call; null when absent.
const int32_t* config_get_rect(const char* key);
uint32_t config_get_time(const char* key);
uint32_t config_get_timestamp(const char* key);
instr* config_get_instr(const char* key);
ss_exchange* config_get_exchange(const char* key);

// Getters by word index on the current base cell.
int config_arg_bool(int32_t i);
int32_t config_arg_int(int32_t i);
uint32_t config_arg_hex(int32_t i);
double config_arg_double(int32_t i);
const char* config_arg_string(int32_t i);
instr* config_arg_instr(int32_t i);
ss_exchange* config_arg_exchange(int32_t i);

// Writing -------------------------------------------------------------------

int config_out_reset(void);
int config_out_push(const char* name);  // -1 when 8 blocks are open
int config_out_pop(void);               // -1 when none is open
// Appends one line: the open block names each followed by '.', the
// formatted text, '\n'. A formatting failure adds nothing and gives -1.
int config_printf(const char* fmt, ...);
int config_vprintf(const char* fmt, va_list ap);
// The output text (NUL-terminated in memory) and, when asked, its length.
const char* config_out_buffer(int32_t* len);
