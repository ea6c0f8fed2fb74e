// The log window. Each tick compares the log's message count with what it
// printed: the same, nothing; more than 100 behind (or a count that went
// back, as after a restart of the log), the terminal is cleared and the
// newest 100 are printed; otherwise the new messages, oldest first. The
// text of a message may come from the network (headlines, server
// messages), so its control bytes are blanked before it reaches the
// terminal: only the window's own colour sequences are interpreted.
//
// Slots: geometry_changed, show_children, hide_children.
#include "windows/logwin.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "lib/timer.h"
#include "log.h"
#include "term/terminal.h"
#include "ui/object.h"

namespace {

const char *const kColours[8] = {"\033[37;45;1m", "\033[35;1m", "\033[34;1m", "\033[31m",
                                 "\033[32m",      "\033[36m",   "\033[36m",   "\033[36;1m"};
const char kReset[] = "\033[0m";

struct {
  int opened;
  logwin_recorder recorder;
  void (*bin_geometry)(widget *);
} S;

void send(logwin *lw, const char *bytes, int n) {
  if (n <= 0) return;
  if (S.recorder.send) S.recorder.send(bytes, n);
  if (lw->term) terminal_send_string(lw->term, bytes, n);
}

// A copy of text with every control byte (ESC among them) blanked.
void clean(char *dst, size_t room, const char *src) {
  size_t i = 0;
  for (; src && src[i] && i + 1 < room; i++) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    dst[i] = c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
  }
  dst[i] = 0;
}

}  // namespace

void logwin_print_line(logwin *lw, time_t when, int level, const char *text) {
  char msg[kLogwinLineBuf];
  clean(msg, sizeof msg, text);
  int word = 0;
  while (msg[word] && msg[word] != ' ') word++;
  char stamp[16] = "";
  struct tm tm_local;
  if (localtime_r(&when, &tm_local)) strftime(stamp, sizeof stamp, "%H:%M:%S", &tm_local);
  char line[kLogwinLineBuf];
  int n = snprintf(line, sizeof line, "\n\r\033[37m%s %.*s%s%s", stamp, word, msg, logwin_level_colour(level),
                   msg + word);
  // A cut line sends only what was written.
  send(lw, line, std::min(n, static_cast<int>(sizeof line) - 1));
  send(lw, kReset, static_cast<int>(sizeof kReset) - 1);
}

namespace {

void lw_geometry_changed(widget *self) {
  S.bin_geometry(self);
  static_cast<logwin *>(self)->shown_count = 0;
}

void lw_show_children(widget *self) {
  auto *lw = static_cast<logwin *>(self);
  if (lw->timer < 0) lw->timer = timer_start(kLogwinTickMs, logwin_print, lw, 0);
  lw->shown_count = 0;
  log_set_memory(1);
  S.opened = 1;
  if (lw->term) {
    widget_show(lw->term);
    terminal_update_session(lw->term);
  }
}

void lw_hide_children(widget *self) {
  auto *lw = static_cast<logwin *>(self);
  if (lw->timer >= 0) timer_stop(lw->timer);
  lw->timer = -1;
  if (lw->term) widget_hide(lw->term);
}

void lw_init(object *o) {
  auto *lw = reinterpret_cast<logwin *>(o);
  lw->shown_count = 0;
  lw->timer = -1;
}

void lw_fini(object *o) {
  auto *lw = reinterpret_cast<logwin *>(o);
  if (lw->timer >= 0) timer_stop(lw->timer);
  lw->timer = -1;
}

void lw_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  S.bin_geometry = k->geometry_changed;
  k->geometry_changed = lw_geometry_changed;
  k->show_children = lw_show_children;
  k->hide_children = lw_hide_children;
}

typeid_t register_logwin() {
  return object_register_class("logwin", content_type(), sizeof(logwin), lw_init, lw_fini, sizeof(content_class),
                               lw_class_init, nullptr);
}

}  // namespace

const char *logwin_level_colour(int level) { return level >= 0 && level < 8 ? kColours[level] : "\033[36m"; }

int logwin_was_opened(void) { return S.opened; }

void logwin_set_recorder(const logwin_recorder *r) { S.recorder = r ? *r : logwin_recorder{}; }

typeid_t logwin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_logwin);
}

widget *logwin_new(widget *parent) {
  auto *lw = static_cast<logwin *>(widget_new(parent, logwin_type()));
  if (!lw) return nullptr;
  lw->name = "logwin";
  lw->term = terminal_new(lw);
  if (lw->term) {
    terminal_set_kind(lw->term, 1);
    terminal_set_show_cursor(lw->term, 0);
    terminal_set_show_size(lw->term, 0);
    lw->term->flags |= WIDGET_TRANSPARENT;
  }
  return lw;
}

int logwin_print(void *arg, uint32_t, int64_t, float) {
  auto *lw = static_cast<logwin *>(arg);
  uint64_t n = log_count();
  if (n == lw->shown_count) return 1;
  uint64_t todo = n - lw->shown_count;
  if (lw->shown_count == 0 || n < lw->shown_count || todo > kLogwinLines) {
    lw->shown_count = n > kLogwinLines ? n - kLogwinLines : 0;
    todo = n - lw->shown_count;
    if (S.recorder.clear) S.recorder.clear();
    if (lw->term) terminal_clear(lw->term);
  }
  // Walk back from the newest to the first message to print, then print
  // forward from there.
  struct line {
    time_t when;
    int level;
    const char *text;
  } lines[kLogwinLines];
  int count = 0;
  void *cursor = nullptr;
  time_t when;
  int level;
  const char *text;
  while (count < static_cast<int>(todo) && count < static_cast<int>(kLogwinLines) &&
         log_walk_newer(&when, &level, &text, &cursor))
    lines[count++] = {when, level, text};
  for (int i = count - 1; i >= 0; i--) logwin_print_line(lw, lines[i].when, lines[i].level, lines[i].text);
  lw->shown_count = n;
  widget_redraw(lw);
  return 1;
}
