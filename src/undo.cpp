// Undo. Minimal version: the record ring is not kept yet. A pushed record
// is released at once through the release hook its owner installed (the
// screen frame frees layout snapshots and deletes removed windows), so the
// callers' ownership rules already hold; group depth is tracked so that
// unbalanced begin/end pairs are reported as they will be by the ring.
#include "undo.h"

#include "log.h"

static const char kSrc[] = "src/undo";

static struct {
  void (*release[64])(void *payload);
  uint32_t pushed;
  int depth;
} S;

static int push(int type, void *payload) {
  S.pushed++;
  if (type >= 0 && type < 64 && S.release[type] && payload) S.release[type](payload);
  return 0;
}

int undo_init(void) {
  S.pushed = 0;
  S.depth = 0;
  return 0;
}

void undo_fini(void) { S.depth = 0; }

void undo_set_release(int type, void (*release)(void *payload)) {
  if (type >= 0 && type < 64) S.release[type] = release;
}

int undo_begin() {
  S.depth++;
  return 0;
}

int undo_end() {
  if (S.depth == 0) {
    log(LOG_ERROR, kSrc, "undo underflow when ending multi push");
    return -1;
  }
  S.depth--;
  return 0;
}

int undo_cancel() { return 0; }
int undo_push_layout_snapshot(desktop_layout *snapshot) { return push(UNDO_LAYOUT, snapshot); }
int undo_push_removed_window(window *w) { return push(UNDO_REMOVED_WINDOW, w); }
int undo_push_new_window(window *) { return push(UNDO_NEW_WINDOW, nullptr); }
int undo_push_screen_bars() { return push(UNDO_SCREEN_BARS, nullptr); }
uint32_t undo_pushed_count() { return S.pushed; }
int undo_depth() { return S.depth; }
