// Key translation. Each physical modifier key has its own bit in a raw
// state (so releasing one Shift while the other is held keeps Shift), and
// the four modifier bits are derived from it. Characters come from two
// 128-entry tables, plain and shifted, built on first use.
#include "ui/key.h"

static struct {
  uint32_t raw;  // one bit per modifier key, 1040..1047
  uint32_t mods;
  int tables;
  uint8_t plain[128], shifted[128];
} K;

// Raw bits of the modifier keys 1040..1047.
static const uint32_t kRawBit[8] = {4, 8, 1, 2, 16, 32, 64, 128};

static uint32_t mods_of(uint32_t raw) {
  uint32_t m = 0;
  if (raw & 3) m |= KEY_MOD_CONTROL;
  if (raw & 12) m |= KEY_MOD_ALT;
  if (raw & 48) m |= KEY_MOD_SHIFT;
  if (raw & 192) m |= KEY_MOD_COMMAND;
  return m;
}

uint32_t key_modifiers(void) { return K.mods; }

void key_reset(void) {
  K.raw = 0;
  K.mods = 0;
}

void key_translate(key_event *e, int32_t code, int down) {
  if (code >= 0 && code <= 255) {
    *e = key_event{kKeyCharacter, code, K.mods};
    return;
  }
  if (code >= 1040 && code <= 1047) {
    if (down)
      K.raw |= kRawBit[code - 1040];
    else
      K.raw &= ~kRawBit[code - 1040];
    K.mods = mods_of(K.raw);
    *e = key_event{kKeyModifier, 0, K.mods};
    return;
  }
  K.mods = mods_of(K.raw);
  int32_t ch = 0;
  switch (code) {
    case 1001: ch = 13; break;
    case 1002: ch = 8; break;
    case 1004: ch = 32; break;
    case 1005: ch = 27; break;
    case 1006: ch = 9; break;
    default: break;
  }
  *e = key_event{code, ch, K.mods};
}

static void build_tables(void) {
  for (int i = 0; i < 128; i++) K.plain[i] = K.shifted[i] = (uint8_t)i;
  for (int c = 'A'; c <= 'Z'; c++) K.plain[c] = (uint8_t)(c - 'A' + 'a');
  static const char kFrom[] = "1234567890-=`[];,./'\\";
  static const char kTo[] = "!@#$%^&*()_+~{}:<>?\"|";
  for (int i = 0; kFrom[i]; i++) K.shifted[(uint8_t)kFrom[i]] = (uint8_t)kTo[i];
  K.tables = 1;
}

int32_t key_to_char(int32_t code, uint32_t mods) {
  if (!K.tables) build_tables();
  int32_t c = (mods & KEY_MOD_SHIFT) ? K.shifted[code & 127] : K.plain[code & 127];
  if (mods & KEY_MOD_CONTROL) c &= 0x1f;
  return c;
}
