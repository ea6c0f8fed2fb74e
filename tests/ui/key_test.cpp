// Key translation with tracked modifiers, the characters keys type, and the
// colour arithmetic, as tables.
#include <gtest/gtest.h>

#include <vector>

#include "lib/colour.h"
#include "ui/key.h"

namespace {

struct key_step {
  int code, down;
  key_event want;
};

TEST(Key, TranslationTracksEachModifierKey) {
  const std::vector<key_step> steps = {
      {'A', 1, {1015, 'A', 0}},
      {1044, 1, {1000, 0, KEY_MOD_SHIFT}},       // left shift down
      {1045, 1, {1000, 0, KEY_MOD_SHIFT}},       // right shift down
      {1044, 0, {1000, 0, KEY_MOD_SHIFT}},       // one shift still held
      {'1', 1, {1015, '1', KEY_MOD_SHIFT}},
      {1045, 0, {1000, 0, 0}},
      {1043, 1, {1000, 0, KEY_MOD_CONTROL}},     // right control
      {1041, 1, {1000, 0, KEY_MOD_CONTROL | KEY_MOD_ALT}},
      {1047, 1, {1000, 0, KEY_MOD_CONTROL | KEY_MOD_ALT | KEY_MOD_COMMAND}},
      {1001, 1, {1001, 13, KEY_MOD_CONTROL | KEY_MOD_ALT | KEY_MOD_COMMAND}},
      {1043, 0, {1000, 0, KEY_MOD_ALT | KEY_MOD_COMMAND}},
      {1041, 0, {1000, 0, KEY_MOD_COMMAND}},
      {1047, 0, {1000, 0, 0}},
      {1002, 1, {1002, 8, 0}},
      {1004, 1, {1004, 32, 0}},
      {1005, 1, {1005, 27, 0}},
      {1006, 1, {1006, 9, 0}},
      {1011, 1, {1011, 0, 0}},
      {1020, 0, {1020, 0, 0}},
  };
  key_reset();
  for (size_t i = 0; i < steps.size(); i++) {
    key_event e;
    key_translate(&e, steps[i].code, steps[i].down);
    EXPECT_EQ(e.code, steps[i].want.code) << "step " << i;
    EXPECT_EQ(e.ch, steps[i].want.ch) << "step " << i;
    EXPECT_EQ(e.mods, steps[i].want.mods) << "step " << i;
    EXPECT_EQ(key_modifiers(), e.mods) << "step " << i;
  }
}

TEST(Key, CharactersUnderModifiers) {
  struct {
    int code;
    uint32_t mods;
    int want;
  } cases[] = {
      {'A', 0, 'a'},  {'A', KEY_MOD_SHIFT, 'A'}, {'1', KEY_MOD_SHIFT, '!'}, {'0', KEY_MOD_SHIFT, ')'},
      {'=', KEY_MOD_SHIFT, '+'}, {'`', KEY_MOD_SHIFT, '~'}, {'[', KEY_MOD_SHIFT, '{'},
      {'/', KEY_MOD_SHIFT, '?'}, {'\'', KEY_MOD_SHIFT, '"'}, {'\\', KEY_MOD_SHIFT, '|'},
      {'c', KEY_MOD_CONTROL, 3}, {'C', KEY_MOD_CONTROL, 3}, {'/', 0, '/'},
      {'1' + 128, 0, '1'},  // codes wrap at 128
  };
  for (auto &c : cases) EXPECT_EQ(key_to_char(c.code, c.mods), c.want) << c.code << "/" << c.mods;
}

TEST(Colour, LightenDarkenBlend) {
  struct {
    colour got, want;
  } cases[] = {
      {colour_lighten(0xFF8080F0, 32), 0xFFA0A0FF},
      {colour_darken(0x80102030, 0x20), 0x80000010},
      {colour_lighten(0x00000000, 300), 0x00FFFFFF},
      {colour_blend(0x11223344, 0xAABBCCDD, 100), 0x11223344},
      {colour_blend(0x11223344, 0xAABBCCDD, 0), 0xAABBCCDD},
      {colour_blend(0x000000FF, 0x00000000, 50), 0x0000007F},
      {colour_blend(0xFF000000, 0x00FF0000, 25), 0x3FBF0000},
  };
  for (auto &c : cases) EXPECT_EQ(c.got, c.want) << std::hex << c.got;
}

}  // namespace
