// User actions: numbered commands on a market window or on the current
// screen (roles, subjects, splits, lists, bars, desktops, screens, undo),
// run by the toolbar buttons and the keyboard. Every action that changes
// what the user sees first pushes the undo records that take it back.
// Also the process-wide settings other modules read: the default
// exchange, the highlight-watched flag and the last chart style. Main thread.
#pragma once

#include <cstdint>

struct ss_exchange;

// ---- process-wide settings ----
uint32_t action_default_exchange();
// The default exchange's record, looked up once per change of the id.
ss_exchange *action_default_exchange_record();
// Stored when the user may see that exchange; 0.
int action_set_default_exchange(uint32_t id);
int action_set_hilight_watched(uint32_t value);  // 1 when it changed
uint32_t action_hilight_watched();
void action_set_action_flag(uint32_t value);
uint32_t action_action_flag();
void action_set_last_chart_style(int32_t id);
int32_t action_last_chart_style();
