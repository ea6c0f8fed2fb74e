// User actions. This file holds the process-wide settings the actions
// share with the rest of the terminal; the default exchange's record is
// cached and dropped whenever the id changes.
#include "action.h"

#include "log.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "ui/gui.h"

static const char kSrc[] = "src/action";

static struct {
  uint32_t default_exchange;
  ss_exchange *default_record;
  uint32_t hilight_watched;
  uint32_t action_flag;
  int32_t last_chart_style;
} S = {0, nullptr, 0, 0, -1};

uint32_t action_default_exchange() { return S.default_exchange; }

ss_exchange *action_default_exchange_record() {
  if (!S.default_record) S.default_record = ssmodel_exchange(int32_t(S.default_exchange));
  return S.default_record;
}

int action_set_default_exchange(uint32_t id) {
  if (ssuser_exchange_permitted(int32_t(id))) {
    S.default_exchange = id;
    S.default_record = nullptr;
  } else {
    ss_exchange *ex = ssmodel_exchange(int32_t(id));
    log(LOG_ERROR, kSrc, "won't set default exchange to %s", ex ? ex->name : "?");
  }
  return 0;
}

int action_set_hilight_watched(uint32_t value) {
  if (value == S.hilight_watched) return 0;
  S.hilight_watched = value;
  gui_invalidate_window(-1);
  return 1;
}

uint32_t action_hilight_watched() { return S.hilight_watched; }
void action_set_action_flag(uint32_t value) { S.action_flag = value; }
uint32_t action_action_flag() { return S.action_flag; }
void action_set_last_chart_style(int32_t id) { S.last_chart_style = id; }
int32_t action_last_chart_style() { return S.last_chart_style; }
