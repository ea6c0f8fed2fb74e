// The session table and the byte paths. The table is a growable array of
// sessions that grows by 8; closed entries below `count` are holes that the
// next open reuses. Widgets keep indices, so every entry point checks its
// index, and a failed growth keeps the table it had. The poll timer runs
// while any session is open and is started only once an open has succeeded.
#include "term/tt_io.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib/timer.h"
#include "log.h"
#include "term/tt_esc.h"
#include "ui/key.h"

static const char kSrc[] = "src/term/tt_io";

constexpr int kTtChunk = 8192;          // bytes interpreted at a time
constexpr int64_t kTtMaxCells = 1 << 22;  // a grid larger than this is refused

static struct {
  tt_session *table;
  int capacity;
  int count;
  int32_t timer = -1;
  tt_realloc_fn realloc_fn;
} S;

tt_realloc_fn tt_set_realloc(tt_realloc_fn fn) {
  tt_realloc_fn old = S.realloc_fn;
  S.realloc_fn = fn;
  return old;
}

int tt_count(void) { return S.count; }
int tt_capacity(void) { return S.capacity; }
int tt_poll_timer(void) { return S.timer; }

static tt_session *session(int index) {
  if (index < 0 || index >= S.count || !S.table[index].in_use) return nullptr;
  return &S.table[index];
}

static int poll(void *, uint32_t, int64_t, float) { return 1; }  // nothing to drain here

int tt_init(void) { return 0; }

void tt_shutdown(void) {
  for (int i = 0; i < S.count; i++)
    if (S.table[i].in_use) tt_close(i);
  free(S.table);
  S.table = nullptr;
  S.capacity = S.count = 0;
  if (S.timer >= 0) timer_stop(S.timer);
  S.timer = -1;
}

static void free_grid(tt_session *s) {
  free(s->chars);
  free(s->attrs);
  free(s->tabs);
  s->chars = nullptr;
  s->attrs = nullptr;
  s->tabs = nullptr;
}

void tt_close(int index) {
  tt_session *s = session(index);
  if (!s) return;
  free_grid(s);
  s->in_use = 0;
  while (S.count > 0 && !S.table[S.count - 1].in_use) S.count--;
  if (S.count == 0 && S.timer >= 0) {
    timer_stop(S.timer);
    S.timer = -1;
  }
}

int tt_open(int type, const char *, const char *, int cols, int rows, tt_callback callback,
            void *user, intptr_t user2) {
  if (type != 1) return -1;  // no back end for these here: nothing is taken
  int index = 0;
  while (index < S.count && S.table[index].in_use) index++;
  if (index == S.capacity) {
    int cap = S.capacity + kTtTableStep;
    tt_realloc_fn grow = S.realloc_fn ? S.realloc_fn : realloc;
    auto *t = static_cast<tt_session *>(grow(S.table, (size_t)cap * sizeof(tt_session)));
    if (!t) {
      log(LOG_ERROR, kSrc, "can't realloc to %d tts", cap);
      return -1;
    }
    memset(t + S.capacity, 0, (size_t)kTtTableStep * sizeof(tt_session));
    S.table = t;
    S.capacity = cap;
  }
  tt_session *s = &S.table[index];
  memset(s, 0, sizeof *s);
  s->type = s->type2 = (uint32_t)type;
  s->in_use = 1;
  s->callback = callback;
  s->user = user;
  s->user2 = user2;
  tt_reset(s);
  if (index == S.count) S.count++;
  if (S.timer < 0) {
    S.timer = timer_start(kTtPollMs, poll, nullptr, 0);
    if (S.timer < 0) {
      log(LOG_ERROR, kSrc, "can't start timer");
      tt_close(index);
      return -1;
    }
  }
  tt_resize(index, cols, rows);
  return index;
}

int tt_resize(int index, int cols, int rows) {
  tt_session *s = session(index);
  if (!s) return -1;
  cols = std::max(cols, 0);
  rows = std::max(rows, 0);
  bool have = s->chars != nullptr || (int64_t)s->cols * s->rows == 0;
  if (cols == s->cols && rows == s->rows && have) return 0;
  int64_t cells = (int64_t)cols * rows;
  if (cells > kTtMaxCells) {
    log(LOG_ERROR, kSrc, "can't alloc %lld chars", (long long)cells);
    return -1;
  }
  uint8_t *chars = nullptr, *tabs = nullptr;
  uint32_t *attrs = nullptr;
  if (cells > 0) {
    chars = static_cast<uint8_t *>(calloc((size_t)cells, 1));
    if (!chars) {
      log(LOG_ERROR, kSrc, "can't alloc %d chars", (int)cells);
      return -1;
    }
    attrs = static_cast<uint32_t *>(calloc((size_t)cells * kTtAttrWords, sizeof(uint32_t)));
    if (!attrs) {
      log(LOG_ERROR, kSrc, "can't alloc %d attrs", (int)cells);
      free(chars);
      return -1;
    }
    tabs = static_cast<uint8_t *>(calloc((size_t)cols, 1));
    if (!tabs) {
      log(LOG_ERROR, kSrc, "can't alloc %d tabs", cols);
      free(chars);
      free(attrs);
      return -1;
    }
  }
  int old_rows = s->rows, old_cols = s->cols;
  if (chars && s->chars) {
    int width = std::min(cols, old_cols);
    int from = 0, n = old_rows;  // old rows [from, from + n) go to new rows 0..
    if (rows < old_rows) {
      int used = std::clamp(s->used_row, 0, old_rows - 1);
      if (used <= rows - 1) {
        n = std::min(used + 1, rows);
      } else {
        from = used - rows + 1;
        n = rows;
      }
    }
    for (int r = 0; r < n; r++) {
      memcpy(chars + (size_t)r * cols, s->chars + (size_t)(from + r) * old_cols, (size_t)width);
      memcpy(attrs + (size_t)r * cols * kTtAttrWords,
             s->attrs + (size_t)(from + r) * old_cols * kTtAttrWords,
             (size_t)width * kTtAttrWords * sizeof(uint32_t));
    }
    if (from > 0) {
      s->cursor_row -= from;  // the cursor stays with its text
      s->saved_row -= from;
    }
  }
  free_grid(s);
  s->chars = chars;
  s->attrs = attrs;
  s->tabs = tabs;
  s->cols = cols;
  s->rows = rows;
  int last = std::max(rows - 1, 0);
  s->used_row = std::clamp(s->used_row, 0, last);
  s->cursor_col = std::clamp(s->cursor_col, 0, std::max(cols - 1, 0));
  s->cursor_row = std::clamp(s->cursor_row, 0, last);
  s->scroll_top = std::clamp(s->scroll_top, 0, last);
  if (s->scroll_bottom >= old_rows - 1 || s->scroll_bottom > last) s->scroll_bottom = last;
  if (s->scroll_bottom < s->scroll_top) s->scroll_top = 0;
  for (int c = 8; c < cols; c += 8) tabs[c] = 1;
  return 0;
}

int tt_session_send(tt_session *s, const uint8_t *bytes, int n) {
  for (int i = 0; i < n; i++) {
    if (s->send_count >= (uint32_t)kTtSendBuf) {
      log(LOG_ERROR, kSrc, "tt send buffer exhausted");
      return -1;
    }
    s->send_buf[s->send_count++] = bytes[i];
  }
  return 0;
}

static void bell(tt_session *s, int index) {
  if (s->callback) s->callback(index, 1, s->user, s->user2);
}

// One chunk onto the screen. An escape sequence cut off by the chunk's end
// is dropped with the rest of the chunk.
static void interpret_chunk(tt_session *s, int index, const uint8_t *b, int n) {
  for (int i = 0; i < n; i++) {
    uint8_t c = b[i];
    switch (c) {
      case 0: case 7: bell(s, index); break;
      case 8: tt_cursor_left(s, 1); break;
      case 9: tt_tab(s, 1); break;
      case 10: case 11: case 12: tt_line_down(s, 1); break;
      case 13: tt_move_to(s, 0, s->cursor_row); break;
      case 14: case 15: break;
      case 27: {
        int used = tt_interpret(s, b + i + 1, n - i - 1);
        if (used == 0) return;
        i += used;
        break;
      }
      case 127:
        if (tt_cursor_left(s, 1) == 0) tt_delete_chars(s, 1);
        break;
      default:
        if (tt_test_modes(s, TT_MODE_INSERT)) {
          tt_insert_chars(s, c, 1);
          tt_cursor_right(s, 1);
        } else {
          tt_put_char(s, c);
        }
        break;
    }
  }
}

int tt_send(int index, const uint8_t *bytes, int n) {
  tt_session *s = session(index);
  if (!s || n < 0 || (n > 0 && !bytes)) return -1;
  if (s->type2 != 1) return tt_session_send(s, bytes, n);
  for (int at = 0; at < n; at += kTtChunk) {
    interpret_chunk(s, index, bytes + at, std::min(kTtChunk, n - at));
    // The callback may have closed the session.
    s = session(index);
    if (!s) return -1;
  }
  return 0;
}

static const struct {
  int32_t code;
  const char *plain, *app;  // app: with application cursor keys
} kKeys[] = {
    {1003, "\033[3~", nullptr}, {1007, "\033[H", nullptr},   {1008, "\033[8~", nullptr},
    {1009, "\033[U", nullptr},  {1010, "\033[V", nullptr},   {1011, "\033[A", "\033OA"},
    {1012, "\033[B", "\033OB"}, {1013, "\033[D", "\033OD"},  {1014, "\033[C", "\033OC"},
    {1020, "\033[OP", nullptr}, {1021, "\033[OQ", nullptr},  {1022, "\033[OR", nullptr},
    {1023, "\033[OS", nullptr},
};

int tt_send_key(int index, const key_event *key) {
  tt_session *s = session(index);
  if (!s || !key) return -1;
  const char *seq = nullptr;
  for (auto &k : kKeys)
    if (k.code == key->code) seq = (k.app && tt_test_modes(s, TT_MODE_APP_CURSOR)) ? k.app : k.plain;
  uint8_t one[1];
  const uint8_t *bytes;
  int n;
  if (seq) {
    bytes = (const uint8_t *)seq;
    n = (int)strlen(seq);
  } else {
    int32_t c;
    if (key->code == 1002) c = key_to_char(127, key->mods);
    else if (key->ch) c = key_to_char(key->ch, key->mods);
    else return 0;
    one[0] = (uint8_t)(c & 0xff);
    bytes = one;
    n = 1;  // an empty text sends its NUL
  }
  if (tt_send(index, bytes, n) < 0) return -1;
  s = session(index);
  if (!s) return -1;
  if (s->type2 == 2) {
    if (s->key_count >= kTtKeyQueue) {
      log(LOG_ERROR, kSrc, "tt key buffer exhausted");
      return -1;
    }
    s->key_queue[s->key_count++] = *key;
  }
  return 0;
}

int tt_session_ended(void) { return 1; }

const tt_session *tt_screen_of(int index) { return session(index); }

void tt_clear(int index) {
  tt_session *s = session(index);
  if (s) tt_clear_screen(s);
}

int tt_cursor_shown(int index) {
  tt_session *s = session(index);
  return s && tt_test_modes(s, TT_MODE_CURSOR) && s->cursor_col >= 0 && s->cursor_col < s->cols &&
         s->cursor_row >= 0 && s->cursor_row < s->rows;
}
