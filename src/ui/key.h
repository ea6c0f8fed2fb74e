// Keys as the toolkit sees them: platform key codes become key events with
// the modifier state tracked here from the modifier keys' own presses and
// releases, and a key plus modifiers gives the character it types.
// Main thread only.
#pragma once
#include <cstdint>

#include "ui/widget.h"  // key_event

enum : uint32_t { KEY_MOD_CONTROL = 1, KEY_MOD_ALT = 2, KEY_MOD_SHIFT = 4, KEY_MOD_COMMAND = 8 };
constexpr int32_t kKeyCharacter = 1015;  // the code of an event for a character key
constexpr int32_t kKeyModifier = 1000;   // the code of an event for a modifier key

// The modifier bits of the current state.
uint32_t key_modifiers(void);
// Fills `event` for platform code `code` going down (1) or up (0).
void key_translate(key_event *event, int32_t code, int down);
// The character `code` types with the modifier bits `mods`.
int32_t key_to_char(int32_t code, uint32_t mods);
// Forgets every held modifier (the keyboard went to another program).
void key_reset(void);
