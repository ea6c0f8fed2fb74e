// The escape interpreter: one table for the sequences of one byte after ESC
// and one for the final bytes of control sequences (ESC '['). A sequence
// that is cut short answers 0 and changes nothing, whatever its length so
// far, so that chunking never changes meaning: a private marker is a marker
// as soon as it is seen, and an operating-system command ends at BEL or at
// ESC '\'. An ESC inside a control sequence starts the next sequence in the
// same loop (no recursion, so a run of ESC '[' ESC '[' ... costs nothing on
// the stack). Digit runs saturate, so no count can overflow.
#include "term/tt_esc.h"

#include <algorithm>

#include "log.h"
#include "term/tt_io.h"

static const char kSrc[] = "src/term/tt_esc";

#define TT_LOG(level, ...)                         \
  do {                                             \
    if (!tt_quiet()) log(level, kSrc, __VA_ARGS__); \
  } while (0)

// Replies go to the back end. A local-display session has none: what it is
// sent is interpreted again, and a reply would be read as the same request
// and answered without end, so it gets no replies.
static void reply(tt_session *s, const char *text, int n) {
  if (s->type2 == 1) return;
  tt_session_send(s, (const uint8_t *)text, n);
}

struct csi {
  int marker;  // 0, or '<', '=', '>', '?'
  int n;       // parameters stored
  int p[kTtMaxParams];
};

static int first_count(const csi &c) { return (c.n > 0 && c.p[0] > 0) ? c.p[0] : 1; }
static int param(const csi &c, int i) { return i < c.n ? c.p[i] : 0; }

static uint32_t dec_mode_bit(int mode) {
  switch (mode) {
    case 1: return TT_MODE_APP_CURSOR;
    case 5: return TT_MODE_5;
    case 6: return TT_MODE_ORIGIN;
    case 7: return TT_MODE_WRAP;
    case 25: return TT_MODE_CURSOR;
    case 35: return TT_MODE_35;
    case 66: return TT_MODE_66;
    default: return 0;
  }
}

static void modes(tt_session *s, const csi &c, int final) {
  if (c.marker == '<' || c.marker == '=' || c.marker == '>') return;
  for (int i = 0; i < c.n; i++) {
    uint32_t bit = c.marker == '?' ? dec_mode_bit(c.p[i]) : (c.p[i] == 4 ? (uint32_t)TT_MODE_INSERT : 0u);
    if (!bit) continue;
    switch (final) {
      case 'h': tt_set_modes(s, bit); break;
      case 'l': tt_clear_modes(s, bit); break;
      case 's': tt_set_saved(s, bit); break;
      case 'r':
        if (c.marker != '?') break;
        if (tt_test_saved(s, bit)) tt_set_modes(s, bit); else tt_clear_modes(s, bit);
        break;
      case 't':
        if (c.marker != '?') break;
        if (tt_test_saved(s, bit)) tt_clear_modes(s, bit); else tt_set_modes(s, bit);
        break;
    }
  }
}

static void attributes(tt_session *s, const csi &c) {
  if (c.n == 0) {
    tt_reset_attrs(s);
    return;
  }
  for (int i = 0; i < c.n; i++) {
    int v = c.p[i];
    if (v == 0) tt_reset_attrs(s);
    else if (v == 1) s->attr[TT_BOLD] = 1;
    else if (v == 4) s->attr[TT_UNDERLINE] = 1;
    else if (v == 5) s->attr[TT_BLINK] = 1;
    else if (v == 7) s->attr[TT_REVERSE] = 1;
    else if (v == 22) s->attr[TT_BOLD] = 0;
    else if (v == 24) s->attr[TT_UNDERLINE] = 0;
    else if (v == 25) s->attr[TT_BLINK] = 0;
    else if (v == 27) s->attr[TT_REVERSE] = 0;
    else if (v >= 30 && v <= 37) s->attr[TT_FG] = (uint32_t)(v - 30);
    else if (v == 39) s->attr[TT_FG] = 7;
    else if (v >= 40 && v <= 47) s->attr[TT_BG] = (uint32_t)(v - 40);
    else if (v == 49) s->attr[TT_BG] = 0;
    else TT_LOG(LOG_WARN, "unhandled attr %d", v);
  }
}

static void csi_final(tt_session *s, const csi &c, int final) {
  int n = first_count(c);
  int p1 = param(c, 0), p2 = param(c, 1);
  switch (final) {
    case '@': tt_insert_chars(s, ' ', n); break;
    case 'A': case 'e': tt_cursor_up(s, n); break;
    case 'B': tt_line_down(s, n); break;
    case 'C': case 'a': tt_cursor_right(s, n); break;
    case 'D': tt_cursor_left(s, n); break;
    case 'E': tt_move_to(s, 0, s->cursor_row); tt_line_down(s, n); break;
    case 'F': tt_move_to(s, 0, s->cursor_row); tt_cursor_up(s, n); break;
    case 'G': case '`': tt_move_to(s, p1 > 0 ? p1 - 1 : 0, s->cursor_row); break;
    case 'H': case 'f':
      if (c.n == 0) tt_move_to(s, 0, 0);
      else if (c.n == 1) tt_move_to(s, 0, p1 > 0 ? p1 - 1 : 0);
      else tt_move_to(s, p2 - 1, p1 - 1);
      break;
    case 'I': tt_tab(s, n); break;
    case 'J':
      if (p1 == 0) tt_erase_below(s);
      else if (p1 == 1) tt_erase_above(s);
      else if (p1 == 2) tt_clear_screen(s);
      break;
    case 'K':
      if (p1 == 0) tt_erase_line_right(s);
      else if (p1 == 1) tt_erase_line_left(s);
      else if (p1 == 2) tt_erase_line(s);
      break;
    case 'L': tt_insert_lines(s, n); break;
    case 'M': tt_delete_lines(s, n); break;
    case 'P': tt_delete_chars(s, n); break;
    case 'S': tt_scroll_up(s, n); break;
    case 'T': case '^': tt_scroll_down(s, n); break;
    case 'W':
      if (p1 == 0) tt_set_tab(s);
      else if (p1 == 2) tt_clear_tab(s);
      else if (p1 == 5) tt_clear_all_tabs(s);
      break;
    case 'X': tt_erase_chars(s, n); break;
    case 'Z': tt_back_tab(s, n); break;
    case 'c': reply(s, "\033[?1;2c", 7); break;
    case 'd': tt_move_to(s, s->cursor_col, p1 > 0 ? p1 - 1 : 0); break;
    case 'g':
      if (p1 == 0) tt_clear_tab(s);
      else if (p1 == 3) tt_clear_all_tabs(s);
      break;
    case 'h': case 'l': case 's': modes(s, c, final); break;
    case 'm': attributes(s, c); break;
    case 'n': if (p1 == 5) reply(s, "\033[0n", 4); break;
    case 'r':
      if (c.marker == '?') modes(s, c, final);
      else if (c.n >= 2 && p1 < p2) tt_set_region(s, p1 - 1, p2 - 1);
      else tt_reset_region(s);
      break;
    case 't': if (c.marker) modes(s, c, final); break;
    case '~': tt_delete_chars(s, 1); break;
    default: TT_LOG(LOG_WARN, "ignoring CSI escape x%02x", final); break;
  }
}

// What one sequence did: used bytes, incomplete, or an ESC at `restart`
// that starts a new sequence.
struct step {
  int used;     // > 0 done, 0 incomplete
  int restart;  // > 0: a new sequence starts after the ESC at restart - 1
};

// A control sequence; b[0] is '['.
static step control(tt_session *s, const uint8_t *b, int count) {
  int i = 1;
  if (i >= count) return {0, 0};
  csi c = {};
  if (b[i] == '<' || b[i] == '=' || b[i] == '>' || b[i] == '?') c.marker = b[i++];
  int total = 0;  // parameters read, stored or not
  bool after_sep = false;
  while (i < count) {
    uint8_t x = b[i];
    if (x >= '0' && x <= '9') {
      int v = 0;
      while (i < count && b[i] >= '0' && b[i] <= '9') {
        v = std::min(v * 10 + (b[i] - '0'), kTtParamMax);
        i++;
      }
      if (i >= count) return {0, 0};
      if (total < kTtMaxParams) c.p[c.n++] = v;
      total++;
      after_sep = false;
      continue;
    }
    if (x == 27) return {0, i + 1};
    if (x == 8) {
      tt_back_one(s);
      return {i + 1, 0};
    }
    if (x < 32) {
      if (!after_sep) tt_put_char(s, x);
      return {i + 1, 0};
    }
    if (x <= 0x3f) {
      after_sep = x == ';';
      i++;
      continue;
    }
    csi_final(s, c, x);
    return {i + 1, 0};
  }
  return {0, 0};
}

// An operating-system command; b[0] is ']'. Ends at BEL or ESC '\'.
static step osc(const uint8_t *b, int count) {
  int limit = std::min(count, kTtOscMax + 1);
  for (int i = 1; i < limit; i++) {
    if (b[i] == 7) return {i + 1, 0};
    if (b[i] == 27) {
      if (i + 1 >= count) return {0, 0};
      if (b[i + 1] == '\\') return {i + 2, 0};
    }
  }
  if (count > kTtOscMax) return {kTtOscMax + 1, 0};  // dropped
  return {0, 0};
}

static step one(tt_session *s, const uint8_t *b, int count) {
  if (count < 1) return {0, 0};
  int x = b[0];
  if (x < '#' || x > 'o') {
    TT_LOG(LOG_WARN, "ignoring escaped x%02x", x);
    return {1, 0};
  }
  switch (x) {
    case '#': case '$': case '@': return {count < 2 ? 0 : 2, 0};
    case '(': case ')': case '*': case '+':
      if (count < 2) return {0, 0};
      tt_designate(s, x - '(', b[1]);
      return {2, 0};
    case '6': tt_back_one(s); break;
    case '7': tt_save_cursor(s); break;
    case '8': tt_restore_cursor(s); break;
    case '9': tt_cursor_right(s, 1); break;
    case '=': tt_set_modes(s, TT_MODE_66); break;
    case '>': tt_clear_modes(s, TT_MODE_66); break;
    case 'D': tt_scroll_up(s, 1); break;
    case 'E': tt_move_to(s, 0, s->cursor_row + 1); break;
    case 'G': reply(s, "\033G0\n", 4); break;
    case 'H': tt_set_tab(s); break;
    case 'M': tt_scroll_down(s, 1); break;
    case 'Z': reply(s, "\033[?1;2C", 7); break;
    case '[': return control(s, b, count);
    case ']': return osc(b, count);
    case 'c': tt_reset(s); break;
    case 'n': tt_select_charset(s, 2); break;
    case 'o': tt_select_charset(s, 3); break;
    default: TT_LOG(LOG_WARN, "ignoring escaped x%02x", x); break;
  }
  return {1, 0};
}

int tt_interpret(tt_session *s, const uint8_t *bytes, int count) {
  int base = 0;
  for (;;) {
    step r = one(s, bytes + base, count - base);
    if (r.restart == 0) return r.used ? base + r.used : 0;
    base += r.restart;
  }
}
