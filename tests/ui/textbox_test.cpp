// The text box: tables of typed key sequences -> text, cursor, callback
// codes and the error flash (plain, numeric with and without magnitude
// letters, full boxes, the barred "|", Enter and leaving); the number text
// and value tables; paste with control characters becoming blanks; Tab
// order across nested boxes; the cursor placed by a click, checked against
// FreeType's advances of the font the atlas is made from; password mode;
// and the blink on the timer clock seam.
#include "ui/textbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "atlasref.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "testlog.h"
#include "ui/box.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

std::string g_codes;
void record(textbox *, int code, void *, int32_t) { g_codes += char('0' + code); }

key_event special(int32_t code) { return key_event{code, 0, 0}; }

// Keys of a script: characters are typed as the platform sends them
// (letters as capitals, shift for capitals and shifted punctuation);
// {BS} {DEL} {SP} {TAB} {HOME} {END} {L} {R} {ENTER} are the named keys,
// {^A} is control with a letter.
std::vector<key_event> keys(const std::string &script) {
  static const std::string kShiftedFrom = "1234567890-=`[];,./'\\";
  static const std::string kShiftedTo = "!@#$%^&*()_+~{}:<>?\"|";
  std::vector<key_event> out;
  for (size_t i = 0; i < script.size(); i++) {
    char c = script[i];
    if (c == '{') {
      size_t e = script.find('}', i);
      std::string name = script.substr(i + 1, e - i - 1);
      i = e;
      if (name == "BS") out.push_back(special(1002));
      else if (name == "DEL") out.push_back(special(1003));
      else if (name == "SP") out.push_back(special(1004));
      else if (name == "TAB") out.push_back(special(1006));
      else if (name == "HOME") out.push_back(special(1007));
      else if (name == "END") out.push_back(special(1008));
      else if (name == "L") out.push_back(special(1013));
      else if (name == "R") out.push_back(special(1014));
      else if (name == "ENTER") out.push_back(special(1001));
      else if (name[0] == '^') out.push_back({kKeyCharacter, name[1], KEY_MOD_CONTROL});
      continue;
    }
    if (c >= 'a' && c <= 'z') out.push_back({kKeyCharacter, c - 'a' + 'A', 0});
    else if (c >= 'A' && c <= 'Z') out.push_back({kKeyCharacter, c, KEY_MOD_SHIFT});
    else if (size_t k = kShiftedTo.find(c); k != std::string::npos)
      out.push_back({kKeyCharacter, kShiftedFrom[k], KEY_MOD_SHIFT});
    else out.push_back({kKeyCharacter, c, 0});
  }
  return out;
}

void press_keys(textbox *t, const std::string &script) {
  for (key_event k : keys(script)) t->cls->key_press(t, &k);
}

class Textbox : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    g_codes.clear();
  }
  textbox *box(const char *text, int size, uint32_t flags, widget *parent = nullptr) {
    textbox *t = textbox_new(parent ? parent : root, text, size, flags, nullptr, nullptr, record,
                             nullptr, 0);
    widget_show(t);
    return t;
  }
};

struct typing_case {
  const char *what;
  uint32_t flags;
  int size;
  const char *start;
  const char *script;
  const char *text;
  int cursor;
  const char *codes;
  int flash;
};

TEST_F(Textbox, TypedKeysTable) {
  const uint32_t N = TEXTBOX_NUMERIC, M = TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE;
  const std::vector<typing_case> cases = {
      {"letters", 0, 20, "", "abc", "abc", 3, "000", 0},
      {"shift makes capitals and punctuation", 0, 20, "", "Ab:!", "Ab:!", 4, "0000", 0},
      {"insert in the middle", 0, 20, "", "abc{L}{L}X", "aXbc", 2, "0000", 0},
      {"home and delete", 0, 20, "", "abc{HOME}{DEL}", "bc", 0, "0000", 0},
      {"backspace stops at the start", 0, 20, "ab", "{BS}{BS}{BS}", "", 0, "00", 0},
      {"delete at the end does nothing", 0, 20, "ab", "{DEL}", "ab", 2, "", 0},
      {"right stops at the end", 0, 20, "ab", "{HOME}{R}{R}{R}{BS}", "a", 1, "0", 0},
      {"space is a blank", 0, 20, "", "a{SP}b", "a b", 3, "000", 0},
      {"full box refuses and flashes", 0, 3, "", "abcd", "abc", 3, "000", 1},
      {"bar refused with flag 16", TEXTBOX_NO_BAR, 20, "", "a|b", "ab", 2, "00", 1},
      {"bar accepted without it", 0, 20, "", "a|b", "a|b", 3, "000", 0},
      {"control keys go to the parent", 0, 20, "ab", "{^A}", "ab", 2, "", 0},
      {"enter tells 1, then leaving tells 2", 0, 20, "", "ab{ENTER}", "ab", 2, "0012", 0},
      {"numeric: digits and a point", N, 20, "", "1.5", "1.5", 3, "000", 0},
      {"numeric refuses a letter", N, 20, "", "12a", "12", 2, "00", 1},
      {"numeric refuses a blank", N, 20, "", "1{SP}", "1", 1, "0", 1},
      {"numeric refuses magnitude without flag 4", N, 20, "", "5m", "5", 1, "0", 1},
      {"magnitude letter at the end", M, 20, "", "2.5k", "2.5k", 4, "0000", 0},
      {"capital magnitude letter", M, 20, "", "3M", "3M", 2, "00", 0},
      {"magnitude letter not at the end", M, 20, "", "25{L}k", "25", 1, "00", 1},
      {"other letters refused in magnitude mode", M, 20, "", "7x", "7", 1, "0", 1},
  };
  for (const typing_case &c : cases) {
    SCOPED_TRACE(c.what);
    g_codes.clear();
    textbox *t = box(c.start, c.size, c.flags);
    gui_set_focus(t);
    press_keys(t, c.script);
    EXPECT_STREQ(textbox_text(t), c.text);
    EXPECT_EQ(t->length, int(strlen(c.text)));
    EXPECT_EQ(t->cursor, c.cursor);
    EXPECT_EQ(g_codes, c.codes);
    EXPECT_EQ(t->error_flash, c.flash);
    gui_set_focus(nullptr);
    widget_delete(container_cls(root)->remove(root, t));
  }
}

TEST_F(Textbox, SizesAndSetText) {
  struct row {
    int size, width, max;
  } rows[] = {{0, 0, 0}, {12, 12, 12}, {255, 255, 255}, {-30, 30, 255}, {256, 255, 255},
              {1000, 255, 255}};
  for (const row &r : rows) {
    textbox *t = box("", r.size, 0);
    EXPECT_EQ(t->width, r.width) << r.size;
    EXPECT_EQ(t->max_length, r.max) << r.size;
  }
  textbox *t = box("", -10, TEXTBOX_CLEAR_ALL);
  std::string longer(300, 'x');
  textbox_set_text(t, longer.c_str());
  EXPECT_EQ(t->length, 255);
  EXPECT_EQ(t->cursor, 255);
  textbox_set_text(t, nullptr);
  EXPECT_TRUE(textbox_is_empty(t));
  EXPECT_EQ(t->text[200], 0);  // flag 1 cleared the whole buffer
}

TEST_F(Textbox, NumberTextTable) {
  struct row {
    double v;
    uint32_t flags;
    const char *want;
  } rows[] = {
      {1200000000, 0, "1.2b"}, {12000000000, 0, "12b"}, {1000000000, 0, "1b"},
      {1230000000, 0, "1230m"}, {2500, 0, "2.5k"}, {1000, 0, "1k"}, {1500000, 0, "1.5m"},
      {3000000, 0, "3m"}, {1234000, 0, "1234k"}, {100, 0, "100"}, {-2500, 0, "-2.5k"},
      {1000.5, 0, "1000.5"}, {0.25, 0, "0.25"}, {0, 0, ""}, {123456, 0, "123456"},
      {2500, TEXTBOX_PLAIN, "2500"}, {0, TEXTBOX_PLAIN, "0"}, {10, 0, "10"},
  };
  for (const row &r : rows) {
    textbox *t = box("", 40, r.flags);
    textbox_set_number(t, r.v);
    EXPECT_STREQ(textbox_text(t), r.want) << r.v;
  }
}

TEST_F(Textbox, NumberValueTable) {
  struct row {
    const char *text;
    double want;
  } rows[] = {{"2.5k", 2500}, {"2.5K", 2500}, {"7t", 7000}, {"3M", 3e6}, {"1.5b", 1.5e9},
              {"42", 42}, {"", 0}, {"-1.25m", -1250000}};
  for (const row &r : rows) {
    textbox *t = box(r.text, 40, 0);
    EXPECT_DOUBLE_EQ(textbox_get_number(t), r.want) << r.text;
  }
  textbox *t = box("abc", 40, 0);
  LogCapture log;
  EXPECT_EQ(textbox_get_number(t), 0);
  EXPECT_TRUE(log.has("can't parse abc"));
}

const char *g_clip = "";
int fake_clip(char *buffer, uint32_t *size) {
  uint32_t need = uint32_t(strlen(g_clip)) + 1;
  bool fits = buffer && need <= *size;
  if (fits) memcpy(buffer, g_clip, need);
  *size = need;
  return fits ? 0 : -1;
}

TEST_F(Textbox, PasteTurnsControlCharactersIntoBlanks) {
  textbox_clip_fn old = textbox_set_clipboard(fake_clip);
  struct row {
    uint32_t flags;
    const char *start, *script, *clip, *text;
    const char *codes;
    int flash;
  } rows[] = {
      {0, "", "{^V}", "1\t2\n3\x7f", "1 2 3 ", "0000000", 0},
      {0, "ab", "{HOME}{R}{^V}", "XY", "aXYb", "000", 0},
      {TEXTBOX_NUMERIC, "", "{^V}", "1\t2", "12", "000", 1},  // the blank is refused
  };
  for (const row &r : rows) {
    g_codes.clear();
    g_clip = r.clip;
    textbox *t = box(r.start, 40, r.flags);
    press_keys(t, r.script);
    EXPECT_STREQ(textbox_text(t), r.text);
    EXPECT_EQ(g_codes, r.codes) << r.text;
    EXPECT_EQ(t->error_flash, r.flash) << r.text;
  }
  textbox_set_clipboard(old);
}

TEST_F(Textbox, TabVisitsEditableBoxesUnderTheParentInOrder) {
  textbox *a = box("a", 10, 0);
  hbox *row = hbox_new(root, 0, 0);
  widget_show(row);
  textbox *b = box("bb", 10, 0, row);
  textbox *c = box("c", 10, 0, row);
  textbox *d = box("dd", 10, 0, row);
  textbox *e = box("e", 10, 0);
  textbox_set_editable(c, 0);
  struct step {
    textbox *from, *to;
  } steps[] = {{a, b},   // under the root: a, then b (depth-first into the row)
               {b, d},   // under the row: c is read-only
               {d, b},   // the last in the row: back to its first
               {e, a}};  // the last under the root: back to a
  for (const step &s : steps) {
    g_codes.clear();
    gui_set_focus(s.from);
    s.to->cursor = 0;
    press_keys(s.from, "{TAB}");
    EXPECT_EQ(gui_focus(), s.to) << s.from->text;
    EXPECT_EQ(s.to->cursor, s.to->length);
    EXPECT_EQ(g_codes, "2");
  }
}

TEST_F(Textbox, TabInTheOnlyBoxGoesToTheParent) {
  textbox *a = box("a", 10, 0);
  gui_set_focus(a);
  press_keys(a, "{TAB}");
  EXPECT_EQ(gui_focus(), a);
  EXPECT_EQ(g_codes, "2");
}

TEST_F(Textbox, ClickPlacesTheCursorByGlyphAdvances) {
  const int font = 4;
  FontRef ref(font);
  ASSERT_TRUE(ref.ok());
  textbox *t = textbox_new(root, "MMMM", 40, 0, nullptr, nullptr, record, nullptr, 0);
  t->style[1] = font;
  t->r = {10, 5, 200, 20};
  widget_show(t);
  const int left = 10 + 2;  // the text's left edge: the box, no padding, the inset
  const int m = ref.advance('M');
  ASSERT_GT(m, ref.advance('a') / 2);
  struct row {
    int x, cursor;
  } rows[] = {{0, 0},           {left, 0},          {left + m - 1, 1}, {left + m + 1, 1},
              {left + 2 * m - 1, 2}, {left + 3 * m + 1, 3}, {199, 4}};
  for (const row &r : rows) {
    t->cursor = -1;
    t->cls->press(t, r.x, 10, 1);
    EXPECT_EQ(t->cursor, r.cursor) << r.x;
    EXPECT_EQ(gui_focus(), t);
  }
  // A read-only box takes neither the cursor nor the focus.
  gui_set_focus(nullptr);
  textbox_set_editable(t, 0);
  t->cursor = 2;
  t->cls->press(t, 0, 10, 1);
  EXPECT_EQ(t->cursor, 2);
  EXPECT_EQ(gui_focus(), nullptr);
}

TEST_F(Textbox, CursorDrawnAfterTheGlyphsBeforeIt) {
  const int font = 4;
  FontRef ref(font);
  ASSERT_TRUE(ref.ok());
  int32_t style[kTextboxStyle] = {0, font, -1, 0, 0, 2, 0, 0, 2};
  textbox *t = textbox_new(root, "MMMM", 40, 0, style, nullptr, record, nullptr, 0);
  t->r = {10, 5, 200, 20};
  widget_show(t);
  gui_set_focus(t);
  struct row {
    int cursor;
    bool shown;
  } rows[] = {{0, true}, {2, true}, {4, true}, {2, false}};
  for (const row &r : rows) {
    t->cursor = r.cursor;
    t->cursor_shown = 1;
    t->blink_phase = r.shown ? 0 : 1;
    int32_t ascent = 0, descent = 0;
    font_metrics(nullptr, nullptr, &ascent, &descent, font);
    const int x = 10 + 2 + r.cursor * ref.advance('M');
    const int top = 5 + (20 - (ascent + descent)) / 2;  // the line centred in the box
    std::vector<std::string> want = {
        "Vertex2i(" + std::to_string(x) + "," + std::to_string(top) + ")",
        "Vertex2i(" + std::to_string(x) + "," + std::to_string(top + ascent + descent) + ")",
        "Vertex2i(" + std::to_string(x + 1) + "," + std::to_string(top + ascent + descent) + ")"};
    std::vector<std::string> calls;
    {
      glrecord_scope rec;
      gfx_reset();
      widget_draw(t);
      gfx_flush();
      calls = glrecord_calls();
    }
    auto found = std::search(calls.begin(), calls.end(), want.begin(), want.end());
    EXPECT_EQ(found != calls.end(), r.shown) << "cursor " << r.cursor;
  }
}

TEST_F(Textbox, MovingShiftsTheListWithoutLayingOutAgain) {
  const int font = 4;
  int32_t style[kTextboxStyle] = {1, font};  // right-aligned: the width moves the text too
  textbox *t = textbox_new(root, "Bid", 40, 0, style, nullptr, nullptr, nullptr, 0);
  widget_show(t);
  t->r = {10, 5, 200, 20};
  widget_draw(t);
  ASSERT_EQ(t->layouts, 1u);
  t->r = {40, 30, 150, 24};
  t->cls->geometry_changed(t);
  widget_draw(t);
  EXPECT_EQ(t->layouts, 1u);
  // The shifted list equals a fresh layout at the new place.
  int32_t sz[2];
  font_text_size(sz, font, "Bid");
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  gmap ref;
  gmap_setup(&ref, GMAP_QUADS, 16, 0);
  gmap_begin(&ref, 16);
  rect out;
  font_layout(&ref, "Bid", 40 + 2 + (150 - 4) - sz[0], 30 + (24 - (ascent + descent)) / 2 + ascent,
              0, font, &out);
  gmap_end(&ref);
  ASSERT_EQ(gmap_count(&t->list), gmap_count(&ref));
  for (int i = 0; i < gmap_count(&ref); i++) EXPECT_EQ(t->list.vertices[i], ref.vertices[i]) << i;
  gmap_release(&ref);
  textbox_set_text(t, "Ask");  // a new text is laid out
  widget_draw(t);
  EXPECT_EQ(t->layouts, 2u);
}

TEST_F(Textbox, RequestedSizeFromTheFontMetrics) {
  const int font = 4;
  FontRef ref(font);
  ASSERT_TRUE(ref.ok());
  int32_t em = 0, ascent = 0, descent = 0;
  font_metrics(&em, nullptr, &ascent, &descent, font);
  EXPECT_EQ(em, ref.advance('M'));
  padding pad = {1, 2, 3, 4};
  int32_t style[kTextboxStyle] = {0x1000, font};
  textbox *t = textbox_new(root, "", 7, 0, style, &pad, nullptr, nullptr, 0);
  size s;
  t->cls->reqsize(t, &s);
  EXPECT_EQ(s.w, em * 7 / 2 + 1 + 6);
  EXPECT_EQ(s.h, ascent + descent - 1 + 4);
}

TEST_F(Textbox, BlinkOnTheTimerClock) {
  textbox *t = box("ab", 10, 0);
  int64_t t0 = gui_time_ms();
  gui_set_focus(t);
  press_keys(t, "{SP}{SP}{SP}{SP}{SP}{SP}{SP}{SP}x");  // fills the box, then one too many
  ASSERT_EQ(t->error_flash, 1);
  timer_run(t0 + kTextboxBlinkMs);
  EXPECT_EQ(t->error_flash, 0);  // the next blink clears the flash
  EXPECT_EQ(t->cursor_shown, 1);
  int phase = t->blink_phase;
  timer_run(t0 + 2 * kTextboxBlinkMs);
  EXPECT_NE(t->blink_phase, phase);
  timer_run(t0 + 2 * kTextboxBlinkMs + 100);  // not due yet
  EXPECT_NE(t->blink_phase, phase);
  gui_set_focus(nullptr);
  timer_run(t0 + 3 * kTextboxBlinkMs);
  EXPECT_EQ(t->cursor_shown, 0);  // no focus: the cursor goes
  widget_hide(t);
  EXPECT_EQ(t->timer, -1);  // hiding stops the timer
}

TEST_F(Textbox, LosingTheFocusTellsTheBoxItWasLeft) {
  textbox *t = box("ab", 10, 0);
  gui_set_focus(t);
  gui_unfocus(t);
  EXPECT_EQ(g_codes, "2");
  textbox_disable(t);
  EXPECT_FALSE(textbox_is_editable(t));
}

TEST_F(Textbox, PasswordShowsStars) {
  const int font = 4;
  textbox *p = box("", 20, TEXTBOX_PASSWORD);
  p->style[1] = font;
  gui_set_focus(p);
  press_keys(p, "abc");
  EXPECT_STREQ(textbox_text(p), "abc");  // the text is kept
  // Laid out, the list holds the glyphs of "***", not of "abc".
  gmap ref;
  gmap_setup(&ref, GMAP_QUADS, 16, 0);
  gmap_begin(&ref, 16);
  rect out;
  font_layout(&ref, "***", 0, 0, 0, font, &out);
  gmap_end(&ref);
  p->r = {0, 0, 100, 20};
  p->text_changed = 1;
  widget_draw(p);  // lays the text out (drawing calls go to the GL table)
  ASSERT_EQ(gmap_count(&p->list), gmap_count(&ref));
  for (int i = 0; i < gmap_count(&ref); i++)
    EXPECT_EQ(p->list.texcoords[i], ref.texcoords[i]) << i;
  gmap_release(&ref);
}

}  // namespace
