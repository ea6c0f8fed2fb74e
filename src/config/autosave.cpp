// The save deadline. It is kept on the monotonic clock of the platform layer
// (whole seconds), not as a wall-clock time, so a clock step or a daylight
// saving change neither fires a save early nor holds it back for an hour;
// tests drive it through that clock's seam.
#include "config/autosave.h"

#include "plat.h"

static struct {
  bool pending;
  int64_t deadline;  // plat_seconds() value
} S;

void config_set_dirty(int32_t level) {
  if (level < 0 || level > 2) level = 0;
  int64_t candidate = plat_seconds() + kAutosaveDelays[level];
  if (!S.pending || candidate < S.deadline) {
    S.deadline = candidate;
    S.pending = true;
  }
}

void config_clear_dirty(void) {
  S.deadline = plat_seconds();
  S.pending = true;
}

void config_autosave_cancel(void) {
  S.pending = false;
  S.deadline = 0;
}

int config_autosave_pending(void) { return S.pending; }

int config_autosave_due(void) { return S.pending && plat_seconds() >= S.deadline; }

int64_t config_autosave_remaining(void) { return S.pending ? S.deadline - plat_seconds() : -1; }
