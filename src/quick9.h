// The nine quick slots of the toolbar's speed pad: instruments the user
// drops on its buttons and recalls with the digit keys. Kept for the
// process; saved in the user's configuration as a "quick9" block of
// "quick9.instr %d %I" lines. Main thread only.
#pragma once

struct instr;

constexpr int kQuickSlots = 9;

instr *quick9_get(int i);  // null for an empty slot or i outside 0-8
// Stores the instrument (null empties the slot) and asks for a
// configuration save at level 2. -1 for i outside 0-8.
int quick9_set(int i, instr *in);
instr *quick9_first(void);          // the first filled slot's, slot 0 first
instr *quick9_first_of_kind(void);  // the first stock among the slots
void quick9_clear(void);            // every slot empty, no save asked
// Writes the filled slots into the configuration output.
void quick9_save(void);
// Reads the "quick9" block; a slot whose instrument is unknown is logged
// "not adding %s to quick9" and left empty. Returns the slots filled.
int quick9_load(void);
