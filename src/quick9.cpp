// Quick slots: nine instrument pointers. The model owns the instruments and
// keeps them until exit (a reset empties their lists, not the records), so
// a slot may point at one without a registration.
#include "quick9.h"

#include "config/autosave.h"
#include "config/config.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/quick9";

namespace {

constexpr int kSaveLevel = 2;

struct {
  instr *slot[kQuickSlots];
} S;

bool valid(int i) { return i >= 0 && i < kQuickSlots; }

}  // namespace

instr *quick9_get(int i) { return valid(i) ? S.slot[i] : nullptr; }

int quick9_set(int i, instr *in) {
  if (!valid(i)) return -1;
  S.slot[i] = in;
  config_set_dirty(kSaveLevel);
  return 0;
}

instr *quick9_first(void) {
  for (instr *in : S.slot)
    if (in) return in;
  return nullptr;
}

instr *quick9_first_of_kind(void) {
  for (instr *in : S.slot)
    if (in && in->kind == kKindStock) return in;
  return nullptr;
}

void quick9_clear(void) {
  for (instr *&in : S.slot) in = nullptr;
}

void quick9_save(void) {
  config_out_push("quick9");
  for (int i = 0; i < kQuickSlots; i++)
    if (S.slot[i]) config_printf("instr %d %I", i, S.slot[i]);
  config_out_pop();
}

int quick9_load(void) {
  int filled = 0;
  if (!config_enter("quick9.instr")) return 0;
  while (config_next()) {
    int32_t i = config_arg_int(0);
    instr *in = config_arg_instr(1);
    if (!in || !valid(i)) {
      const char *name = config_arg_string(1);
      log(LOG_WARN, kSrc, "not adding %s to quick9", name ? name : "?");
      continue;
    }
    S.slot[i] = in;
    filled++;
  }
  config_leave();
  return filled;
}
