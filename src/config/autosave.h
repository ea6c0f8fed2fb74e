// Save scheduling: the one deadline by which the user configuration must be
// saved, moved earlier by every change according to its urgency. The save
// and the once-a-second check that runs it belong to the user configuration.
// User-interface thread only.
#pragma once
#include <cstdint>

constexpr int32_t kAutosaveDelays[3] = {300, 60, 5};  // seconds, by level

// Asks for a save within the level's delay (levels outside 0 to 2 count as
// 0). A less urgent call never postpones a pending save.
void config_set_dirty(int32_t level);
// Makes the save due now.
void config_clear_dirty(void);
// Drops the pending save.
void config_autosave_cancel(void);
// 1 while a save is pending.
int config_autosave_pending(void);
// 1 when a save is pending and its deadline has come.
int config_autosave_due(void);
// Seconds from now until the deadline (0 or less: due); -1 when none is
// pending.
int64_t config_autosave_remaining(void);
