// The configuration text model: lines of "key value..." parsed into a tree
// of named cells, a cursor that walks it with typed getters, and a writer
// that appends formatted lines under a stack of block names.
//
// The parser works on its own copy of every text it is given (kept in a list
// of blocks until the next reset), so names and values can point into it and
// be split in place without the caller's buffer being touched. Numeric
// getters read with strtol/strtoull/strtod and range checks: a word out of
// range, not a number, nan or infinite gives the getter's "absent" result
// with a log line, never undefined behaviour.
#include "config/config.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "config/secret.h"
#include "config/vsnprintf.h"
#include "dalloc.h"
#include "growbuf.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"
#include "sstime.h"

static const char kSrc[] = "src/config/config";

constexpr int32_t kCellsPerPage = 100;
constexpr int32_t kOutInitial = 4096;
constexpr int32_t kScratchBytes = 260;

// A copy of parsed text; cells point into data.
struct config_text {
  config_text* next;
  char data[1];
};

static struct {
  bool ready;
  pool cells;
  config_cell* root;
  config_text* texts;
  // Reading cursor.
  int depth;
  config_cell* base[kConfigMaxDepth + 1];
  config_cell* pending[kConfigMaxDepth + 1];
  uint8_t found;
  // Writer.
  growbuf out;
  const char* blocks[kConfigMaxBlocks];
  int out_depth;
  char* scratch;
  int32_t rect[4];
  local_config* local;
} S;

int32_t config_argi;

static char g_empty[1] = "";

// The tree -------------------------------------------------------------------

static config_cell* new_cell(const char* name) {
  config_cell* c = static_cast<config_cell*>(pool_alloc(&S.cells));
  if (!c) {
    log(LOG_ERROR, kSrc, "can't alloc config cell");
    return nullptr;
  }
  memset(c, 0, sizeof *c);
  c->name = name;
  return c;
}

static void append_child(config_cell* parent, config_cell* c) {
  if (parent->last_child)
    parent->last_child->next = c;
  else
    parent->first_child = c;
  parent->last_child = c;
}

static void free_texts(void) {
  while (S.texts) {
    config_text* t = S.texts;
    S.texts = t->next;
    dalloc_free(t);
  }
}

static char* keep_text(const char* text, int32_t length) {
  config_text* t = static_cast<config_text*>(dalloc_alloc((int32_t)sizeof(config_text) + length));
  memcpy(t->data, text, (size_t)length);
  t->data[length] = '\0';
  t->next = S.texts;
  S.texts = t;
  return t->data;
}

static int make_root(void) {
  S.root = new_cell("root");
  if (!S.root) {
    log(LOG_ERROR, kSrc, "can't alloc root config cell");
    return -1;
  }
  S.depth = 0;
  S.base[0] = S.root;
  S.pending[0] = nullptr;
  S.out_depth = 0;
  config_argi = 0;
  return 0;
}

int config_init(void) {
  if (S.ready) config_shutdown();
  memset(&S, 0, sizeof S);
  if (growbuf_init(&S.out, kOutInitial, kOutInitial) < 0) return -1;
  S.scratch = static_cast<char*>(dalloc_alloc(kScratchBytes));
  if (pool_init(&S.cells, kCellsPerPage, (int32_t)sizeof(config_cell)) < 0 || make_root() < 0) {
    growbuf_free(&S.out);
    dalloc_free(S.scratch);
    return -1;
  }
  S.local = static_cast<local_config*>(dalloc_alloc((int32_t)sizeof(local_config)));
  S.ready = true;
  secret_local_defaults();
  config_argi = 0;
  if (secret_key_init() < 0) log(LOG_ERROR, kSrc, "can't init config help");
  return 0;
}

void config_shutdown(void) {
  if (!S.ready) return;
  secret_key_free();
  dalloc_free(S.scratch);
  growbuf_free(&S.out);
  pool_destroy(&S.cells);
  free_texts();
  memset(S.local, 0, sizeof *S.local);
  dalloc_free(S.local);
  memset(&S, 0, sizeof S);
}

int config_reset(void) {
  pool_destroy(&S.cells);
  free_texts();
  growbuf_reset(&S.out);
  growbuf_shrink(&S.out);
  memset(S.base, 0, sizeof S.base);
  memset(S.pending, 0, sizeof S.pending);
  return make_root();
}

local_config* config_local(void) { return S.local; }

config_location* config_cur_location(void) {
  if (!S.local) return nullptr;
  int32_t i = S.local->cur_location;
  if (i < 0 || i >= kConfigLocations) i = 0;  // the loaders never store one outside
  return &S.local->locations[i];
}

// Parsing --------------------------------------------------------------------

// Unquotes a word that begins with '"' in place. 0 / -1 after a log line.
static int unquote(char* w) {
  size_t len = strlen(w);
  if (len < 2 || w[len - 1] != '"') {
    log(LOG_ERROR, kSrc, "unterminated string");
    return -1;
  }
  char* to = w;
  for (size_t j = 1; j + 1 < len; j++) {
    if (w[j] == '\\') {
      if (j + 2 == len) {
        log(LOG_ERROR, kSrc, "bad string");
        return -1;
      }
      j++;
    }
    *to++ = w[j];
  }
  *to = '\0';
  return 0;
}

// Words are split at `sep` outside double quotes; a backslash takes the next
// character literally (and stays in an unquoted word). Two separators in a
// row give an empty word; a separator at the end gives an empty last word.
int config_parse_value(char** words, char* text, int32_t length, char sep) {
  int32_t i = 0;
  while (i < length && text[i] == sep) i++;
  if (i >= length) return 0;
  int n = 0;
  for (;;) {
    if (n == kConfigMaxWords) {
      log(LOG_ERROR, kSrc, "too many args");
      return -1;
    }
    words[n++] = text + i;
    if (i < length && text[i] == sep) {  // an empty word
      text[i++] = '\0';
      continue;
    }
    bool in_quotes = false, escaped = false, split = false;
    if (i < length) {
      in_quotes = text[i] == '"';
      escaped = text[i] == '\\';
      i++;
    }
    for (; i < length; i++) {
      char c = text[i];
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == sep && !in_quotes) {
        text[i++] = '\0';
        split = true;
        break;
      } else if (c == '"') {
        in_quotes = !in_quotes;
      }
    }
    if (!split) break;
  }
  for (int k = 0; k < n; k++)
    if (words[k][0] == '"' && unquote(words[k]) < 0) return -1;
  return n;
}

// The parent's last child when it has the name, else the last child of that
// name. O(children) when the last child does not match; the configurations
// kept are a few thousand lines, so a scan is cheaper than an index.
static config_cell* block_for(config_cell* parent, const char* name) {
  config_cell* c = parent->last_child;
  if (c && strcmp(c->name, name) == 0) return c;
  config_cell* match = nullptr;
  for (c = parent->first_child; c; c = c->next)
    if (strcmp(c->name, name) == 0) match = c;
  if (match) return match;
  match = new_cell(name);
  if (match) append_child(parent, match);
  return match;
}

// Parses a line held in tree-owned text (line[length] is a NUL).
static int parse_owned(char* line, int32_t length) {
  char* words[kConfigMaxWords];
  int n = config_parse_value(words, line, length, ' ');
  if (n <= 0) return n;
  char* parts[kConfigMaxWords];
  int np = config_parse_value(parts, words[0], (int32_t)strlen(words[0]), '.');
  if (np <= 0) return np;
  if (!S.root && make_root() < 0) return -1;
  config_cell* parent = S.root;
  for (int i = 0; i + 1 < np; i++) {
    parent = block_for(parent, parts[i]);
    if (!parent) return -1;
  }
  config_cell* leaf = new_cell(parts[np - 1]);
  if (!leaf) return -1;
  leaf->value_count = n - 1;
  for (int k = 1; k < n; k++) leaf->values[k - 1] = words[k];
  append_child(parent, leaf);
  return 0;
}

int config_parse_line(const char* line, int32_t length) {
  if (length < 0 || length > kConfigMaxText || (!line && length > 0)) {
    log(LOG_ERROR, kSrc, "won't parse a %d byte line", length);
    return -1;
  }
  return parse_owned(keep_text(line ? line : "", length), length);
}

int config_load_buffer(const char* text, int32_t length) {
  if (length < 0 || length > kConfigMaxText || (!text && length > 0)) {
    log(LOG_ERROR, kSrc, "won't parse %d bytes of config", length);
    return -1;
  }
  if ((!S.root || S.root->first_child) && config_reset() < 0) return -1;
  S.depth = 0;
  char* copy = keep_text(text ? text : "", length);
  int rc = 0;
  int32_t start = 0;
  for (int32_t i = 0; i <= length; i++) {
    if (i < length && copy[i] != '\r' && copy[i] != '\n') continue;
    copy[i] = '\0';
    if (parse_owned(copy + start, i - start) < 0) rc = -1;
    start = i + 1;
  }
  return rc;
}

// Reading --------------------------------------------------------------------

config_cell* config_get(const char* key) {
  if (!key || !S.root) return nullptr;
  size_t len = strnlen(key, kConfigMaxPath + 1);
  if (len > (size_t)kConfigMaxPath) return nullptr;
  memcpy(S.scratch, key, len + 1);
  char* parts[kConfigMaxWords];
  int np = config_parse_value(parts, S.scratch, (int32_t)len, '.');
  if (np <= 0) return nullptr;
  config_cell* c = S.base[S.depth];
  for (int i = 0; i < np && c; i++) {
    config_cell* child = c->first_child;
    while (child && strcmp(child->name, parts[i]) != 0) child = child->next;
    c = child;
  }
  return c;
}

config_cell* config_base(void) { return S.base[S.depth]; }
int config_depth(void) { return S.depth; }
int config_found(void) { return S.found; }

int config_enter(const char* key) {
  if (S.depth >= kConfigMaxDepth) return 0;
  config_cell* c = config_get(key);
  if (!c) return 0;
  S.depth++;
  S.base[S.depth] = c;
  S.pending[S.depth] = c;
  config_argi = 0;
  return 1;
}

int config_next(void) {
  config_cell* p = S.pending[S.depth];
  if (!p) return 0;
  S.base[S.depth] = p;
  config_cell* n = p->next;
  while (n && strcmp(n->name, p->name) != 0) n = n->next;
  S.pending[S.depth] = n;
  config_argi = 0;
  return 1;
}

void config_leave(void) {
  if (S.depth == 0) {
    log(LOG_ERROR, kSrc, "can't leave the config root");
    return;
  }
  S.base[S.depth] = nullptr;
  S.pending[S.depth] = nullptr;
  config_argi = 0;
  S.depth--;
}

// The first value word of a key: null when the key is absent; g_empty (with
// *has_value 0) for a key without a value. Sets the found flag.
static const char* first_word(const char* key, bool* present) {
  config_cell* c = config_get(key);
  *present = c != nullptr;
  S.found = c && c->value_count > 0;
  if (!c) return nullptr;
  return c->value_count > 0 ? c->values[0] : g_empty;
}

// The word at index i of the current base cell, or null (found flag 0).
static const char* arg_word(int32_t i) {
  config_cell* c = S.base[S.depth];
  if (!c || i < 0 || i >= c->value_count) {
    S.found = 0;
    return nullptr;
  }
  S.found = 1;
  return c->values[i];
}

// A getter that refuses its word reports the key as not found, so a caller
// that tests the found flag keeps its default. Returns `bad` for brevity.
template <class T>
static T refused(T bad) {
  S.found = 0;
  return bad;
}

static bool starts_negative(const char* w) {
  while (*w == ' ' || (*w >= '\t' && *w <= '\r')) w++;
  return *w == '-';
}

// Signed decimal with prefix acceptance ("12x" is 12). False, after a log
// line, for no digits or a value outside [lo, hi].
static bool read_signed(const char* w, long long lo, long long hi, long long* out) {
  char* end;
  errno = 0;
  long long v = strtoll(w, &end, 10);
  if (end == w) {
    log(LOG_WARN, kSrc, "can't read %s as a number", w);
    return false;
  }
  if (errno == ERANGE || v < lo || v > hi) {
    log(LOG_WARN, kSrc, "number %s out of range", w);
    return false;
  }
  *out = v;
  return true;
}

static bool read_unsigned(const char* w, int base, unsigned long long hi, unsigned long long* out) {
  if (starts_negative(w)) {
    log(LOG_WARN, kSrc, "number %s out of range", w);
    return false;
  }
  char* end;
  errno = 0;
  unsigned long long v = strtoull(w, &end, base);
  if (end == w) {
    log(LOG_WARN, kSrc, "can't read %s as a number", w);
    return false;
  }
  if (errno == ERANGE || v > hi) {
    log(LOG_WARN, kSrc, "number %s out of range", w);
    return false;
  }
  *out = v;
  return true;
}

static int32_t word_int(const char* w, int32_t bad) {
  long long v;
  return read_signed(w, INT32_MIN, INT32_MAX, &v) ? (int32_t)v : refused(bad);
}

static uint32_t word_hex(const char* w, uint32_t bad) {
  unsigned long long v;
  return read_unsigned(w, 16, UINT32_MAX, &v) ? (uint32_t)v : refused(bad);
}

// Read into single precision, as the settings keep it.
static double word_double(const char* w, double bad) {
  char* end;
  double v = strtod(w, &end);
  if (end == w) {
    log(LOG_WARN, kSrc, "can't read %s as a number", w);
    return refused(bad);
  }
  if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) {
    log(LOG_WARN, kSrc, "number %s out of range", w);
    return refused(bad);
  }
  return (double)(float)v;
}

static uint64_t word_u64(const char* w, uint64_t bad) {
  if (starts_negative(w)) {
    long long v;
    return read_signed(w, INT64_MIN, -1, &v) ? (uint64_t)v : refused(bad);
  }
  unsigned long long v;
  return read_unsigned(w, 10, UINT64_MAX, &v) ? (uint64_t)v : refused(bad);
}

// Up to n integers separated by `sep` (as a scanf of "%d<sep>%d..." would
// read them: stops at the first one missing). Returns how many were read.
static int read_fields(const char* w, char sep, int n, int32_t* out) {
  int k = 0;
  while (k < n) {
    char* end;
    errno = 0;
    long long v = strtoll(w, &end, 10);
    if (end == w) break;
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
      log(LOG_WARN, kSrc, "number out of range in %s", w);
      return -1;
    }
    out[k++] = (int32_t)v;
    if (k < n) {
      if (*end != sep) break;
      w = end + 1;
    } else {
      w = end;
    }
  }
  return k;
}

static uint32_t word_time(const char* w) {
  if (strcmp(w, "0") == 0) return 0;
  int32_t f[3] = {0, 0, 0};
  if (read_fields(w, ':', 3, f) < 1) return refused(0u);
  uint32_t t = sstime_pack(f[2], f[1], f[0], 1, 1, kSstimeFirstYear);
  return t ? t : refused(0u);  // a time that doesn't pack
}

// "d/m/y-h:m:s", or "d/m/y" (a date at midnight), or "h:m:s" (a time of day
// without a date, which "%T" writes for such values).
static uint32_t word_timestamp(const char* w) {
  if (strcmp(w, "0") == 0 || w[0] == '-') return 0;
  if (!strchr(w, '/')) {
    int32_t f[3] = {0, 0, 0};
    if (read_fields(w, ':', 3, f) != 3) return refused(0u);
    if (f[0] < 0 || f[0] > 23 || f[1] < 0 || f[1] > 59 || f[2] < 0 || f[2] > 59) {
      log(LOG_WARN, kSrc, "bad time of day %s", w);
      return refused(0u);
    }
    return (uint32_t)sstime_seconds_of_day(f[2], f[1], f[0]);
  }
  int32_t d[3] = {0, 0, 0};
  if (read_fields(w, '/', 3, d) != 3) return refused(0u);
  const char* dash = strchr(w, '-');
  int32_t t[3] = {0, 0, 0};
  if (dash && read_fields(dash + 1, ':', 3, t) != 3) return refused(0u);
  uint32_t packed = sstime_pack(t[2], t[1], t[0], d[0], d[1], d[2]);
  return packed ? packed : refused(0u);  // a date that doesn't pack
}

// Fields missing from the word read as 0 (the record is zeroed first); a
// field outside the int range makes the whole rectangle absent, not a zeroed
// one a caller would take for a place.
static const int32_t* word_rect(const char* w) {
  memset(S.rect, 0, sizeof S.rect);
  if (read_fields(w, ':', 4, S.rect) < 0) {
    memset(S.rect, 0, sizeof S.rect);
    return refused<const int32_t*>(nullptr);
  }
  return S.rect;
}

static ss_exchange* word_exchange(const char* w) {
  int32_t i = ssmodel_exchange_by_name(w);
  return i < 0 ? refused<ss_exchange*>(nullptr) : ssmodel_exchange(i);
}

// "kind:exchange:code", split on a copy at the first two ':' so the cell
// keeps its word for the next read.
static instr* find_instr(const char* w) {
  char copy[kConfigMaxPath + 1];
  size_t len = strnlen(w, sizeof copy);
  if (len >= sizeof copy) return nullptr;
  memcpy(copy, w, len + 1);
  char* ex_name = strchr(copy, ':');
  if (!ex_name) return nullptr;
  *ex_name++ = '\0';
  char* code = strchr(ex_name, ':');
  if (!code) return nullptr;
  *code++ = '\0';
  ss_exchange* ex = word_exchange(ex_name);
  if (!ex) return nullptr;
  switch (copy[0]) {
    case 'S': {
      instr* in = ssmodel_find_stock(ex, code);
      if (!in) log(LOG_ERROR, kSrc, "can't find stock %s:%s from config", ex->name, code);
      return in;
    }
    case 'C': {
      instr* in = ssmodel_find_issuer(ex, code);
      if (!in) log(LOG_ERROR, kSrc, "can't find issuer %s:%s from config", ex->name, code);
      return in;
    }
    case 'I': {
      instr* in = ssmodel_find_index(ex, code);
      if (!in) log(LOG_ERROR, kSrc, "can't find index %s:%s from config", ex->name, code);
      return in;
    }
    default:
      return nullptr;
  }
}

static instr* word_instr(const char* w) {
  instr* in = find_instr(w);
  return in ? in : refused<instr*>(nullptr);
}

int config_get_bool(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return w && w[0] == 't';
}

int32_t config_get_int(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  if (!present) return -1;
  return S.found ? word_int(w, -1) : 0;
}

uint32_t config_get_hex(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_hex(w, 0) : 0;
}

double config_get_double(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  if (!present) return -1.0;
  return S.found ? word_double(w, -1.0) : 0.0;
}

const char* config_get_string(const char* key) {
  bool present;
  return first_word(key, &present);
}

uint64_t config_get_u64(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_u64(w, 0) : 0;
}

const int32_t* config_get_rect(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_rect(w) : nullptr;
}

uint32_t config_get_time(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_time(w) : 0;
}

uint32_t config_get_timestamp(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_timestamp(w) : 0;
}

instr* config_get_instr(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_instr(w) : nullptr;
}

ss_exchange* config_get_exchange(const char* key) {
  bool present;
  const char* w = first_word(key, &present);
  return S.found ? word_exchange(w) : nullptr;
}

int config_arg_bool(int32_t i) {
  const char* w = arg_word(i);
  return w && w[0] == 't';
}

int32_t config_arg_int(int32_t i) {
  const char* w = arg_word(i);
  return w ? word_int(w, 0) : 0;
}

uint32_t config_arg_hex(int32_t i) {
  const char* w = arg_word(i);
  return w ? word_hex(w, 0) : 0;
}

double config_arg_double(int32_t i) {
  const char* w = arg_word(i);
  return w ? word_double(w, 0.0) : 0.0;
}

const char* config_arg_string(int32_t i) {
  const char* w = arg_word(i);
  return w ? w : g_empty;
}

instr* config_arg_instr(int32_t i) {
  const char* w = arg_word(i);
  return w ? word_instr(w) : nullptr;
}

ss_exchange* config_arg_exchange(int32_t i) {
  const char* w = arg_word(i);
  return w ? word_exchange(w) : nullptr;
}

// Writing --------------------------------------------------------------------

int config_out_reset(void) {
  growbuf_reset(&S.out);
  return 0;
}

int config_out_push(const char* name) {
  if (S.out_depth >= kConfigMaxBlocks || !name) {
    log(LOG_ERROR, kSrc, "can't open config block %s", name ? name : "(null)");
    return -1;
  }
  S.blocks[S.out_depth++] = name;
  return 0;
}

int config_out_pop(void) {
  if (S.out_depth == 0) {
    log(LOG_ERROR, kSrc, "no config block to close");
    return -1;
  }
  S.blocks[--S.out_depth] = nullptr;
  return 0;
}

// A measuring pass sizes the line first, so a line of any length is
// written whole or not at all.
int config_vprintf(const char* fmt, va_list ap) {
  va_list measure;
  va_copy(measure, ap);
  int32_t n = config_vmeasure(fmt, measure);
  va_end(measure);
  if (n < 0) return -1;
  int64_t prefix = 0;
  for (int i = 0; i < S.out_depth; i++) prefix += (int64_t)strlen(S.blocks[i]) + 1;
  int64_t total = prefix + n + 1;  // the newline
  if (total + 1 > kConfigMaxText) {
    log(LOG_ERROR, kSrc, "config line of %lldb is too long", (long long)total);
    return -1;
  }
  uint8_t* p = growbuf_reserve(&S.out, (uint32_t)(total + 1));
  if (!p) return -1;
  char* at = reinterpret_cast<char*>(p);
  for (int i = 0; i < S.out_depth; i++) {
    size_t len = strlen(S.blocks[i]);
    memcpy(at, S.blocks[i], len);
    at[len] = '.';
    at += len + 1;
  }
  if (config_vsnprintf(at, n + 1, fmt, ap) != n) return -1;
  at[n] = '\n';
  growbuf_commit(&S.out, (uint32_t)total);
  return 0;
}

int config_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int rc = config_vprintf(fmt, ap);
  va_end(ap);
  return rc;
}

const char* config_out_buffer(int32_t* len) {
  uint8_t* end = growbuf_reserve(&S.out, 1);
  if (end) *end = '\0';
  if (len) *len = S.out.len;
  return S.out.data ? reinterpret_cast<const char*>(S.out.data) : g_empty;
}
