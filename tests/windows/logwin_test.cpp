// The log window: the bytes it sends its terminal are fed to a second,
// independent terminal emulator (pyte) and the cells read back: texts and
// colours per level, the newest 100 on opening, a clear when more than 100
// arrived between ticks, a replay after a resize or a count that went back,
// escape bytes inside messages made harmless, and lines cut at 1024 bytes.
// The real terminal widget receives the same bytes; its cells are checked
// too.
#include "windows/logwin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log.h"
#include "term/terminal.h"
#include "term/tt_io.h"
#include "testlog.h"
#include "uitest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

const char kSrcName[] = "tests/windows/logwin";

struct Recorded {
  std::string bytes;  // since the last clear
  int clears = 0;
  std::vector<int> sends;  // length of every send
} g_rec;
void rec_send(const char *b, int n) {
  g_rec.bytes.append(b, size_t(n));
  g_rec.sends.push_back(n);
}
void rec_clear() {
  g_rec.bytes.clear();
  g_rec.clears++;
}
const logwin_recorder kRecorder = {rec_send, rec_clear};

// One row of the pyte screen: its text (trailing blanks cut) and per cell
// three letters: foreground, background (w white, g green, m magenta, b
// blue, r red, c cyan, d default) and bold (1 or 0).
struct Cell {
  char fg, bg, bold;
};
struct ScreenRow {
  std::string text;
  std::vector<Cell> cells;
};

const char kPyte[] = R"(import sys, pyte
cols, rows = int(sys.argv[2]), int(sys.argv[3])
screen = pyte.Screen(cols, rows)
stream = pyte.ByteStream(screen)
stream.feed(open(sys.argv[1], 'rb').read())
m = {'white': 'w', 'green': 'g', 'magenta': 'm', 'blue': 'b', 'red': 'r', 'cyan': 'c', 'default': 'd'}
for y in range(rows):
    line = screen.buffer[y]
    text = ''.join(line[x].data for x in range(cols)).rstrip()
    attrs = ''.join(m.get(line[x].fg, '?') + m.get(line[x].bg, '?') + ('1' if line[x].bold else '0')
                    for x in range(len(text)))
    print(text + '\t' + attrs)
)";

std::vector<ScreenRow> pyte_screen(const std::string &bytes, int cols, int rows) {
  char dir[] = "/tmp/logwin-pyteXXXXXX";
  if (!mkdtemp(dir)) return {};
  std::string data = std::string(dir) + "/bytes", script = std::string(dir) + "/screen.py";
  std::ofstream(data, std::ios::binary) << bytes;
  std::ofstream(script) << kPyte;
  std::string cmd = "/usr/bin/python3 " + script + " " + data + " " + std::to_string(cols) + " " + std::to_string(rows);
  std::vector<ScreenRow> out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char line[8192];
    while (fgets(line, sizeof line, p)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      size_t tab = s.find('\t');
      ScreenRow r;
      r.text = s.substr(0, tab);
      std::string a = tab == std::string::npos ? "" : s.substr(tab + 1);
      for (size_t i = 0; i + 3 <= a.size(); i += 3) r.cells.push_back({a[i], a[i + 1], a[i + 2]});
      out.push_back(r);
    }
    pclose(p);
  }
  unlink(data.c_str());
  unlink(script.c_str());
  rmdir(dir);
  return out;
}

// The non-empty rows.
std::vector<ScreenRow> lines_of(const std::vector<ScreenRow> &screen) {
  std::vector<ScreenRow> out;
  for (const ScreenRow &r : screen)
    if (!r.text.empty()) out.push_back(r);
  return out;
}

class Logwin : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(system("/usr/bin/python3 -c 'import pyte' 2>/dev/null"), 0)
        << "the reference terminal emulator (python3-pyte, scripts/deps.sh) is needed";
    ASSERT_EQ(tt_init(), 0);
    g_rec = {};
    logwin_set_recorder(&kRecorder);
    lw = static_cast<logwin *>(logwin_new(nullptr));
    ASSERT_NE(lw, nullptr);
    ASSERT_NE(lw->term, nullptr);
    lw->r = {0, 0, 1400, 1200};
    lw->cls->geometry_changed(lw);
  }
  void TearDown() override {
    widget_delete(lw);
    logwin_set_recorder(nullptr);
    tt_shutdown();
    WidgetTest::TearDown();
  }
  void tick() { logwin_print(lw, 0, 100, 0.1f); }
  static void log_n(int from, int to) {
    for (int i = from; i <= to; i++) log(LOG_INFO, kSrcName, "msg%04d of the test", i);
  }
  logwin *lw = nullptr;
};

TEST_F(Logwin, OpeningAfter500ShowsTheNewest100) {
  log_n(1, 500);
  widget_show(lw);
  EXPECT_GE(lw->timer, 0) << "a 100 ms timer runs while shown";
  EXPECT_TRUE(logwin_was_opened());
  tick();
  auto rows = lines_of(pyte_screen(g_rec.bytes, 200, 110));
  ASSERT_EQ(rows.size(), 100u);
  for (int i = 0; i < 100; i++) {
    char want[32];
    snprintf(want, sizeof want, "msg%04d of the test", 401 + i);
    EXPECT_NE(rows[size_t(i)].text.find(want), std::string::npos) << rows[size_t(i)].text;
  }
  // The same cells reached the real terminal.
  const tt_session *s = tt_screen_of(lw->term->session);
  ASSERT_NE(s, nullptr) << "the terminal session opened when the window was shown";
  std::string screen_text(reinterpret_cast<const char *>(s->chars), size_t(s->cols) * size_t(s->rows));
  EXPECT_NE(screen_text.find("msg0500 of the test"), std::string::npos);
  widget_hide(lw);
  EXPECT_EQ(lw->timer, -1);
}

TEST_F(Logwin, MoreThan100BetweenTicksClearsAndShowsTheNewest) {
  widget_show(lw);
  log_n(1, 10);
  tick();
  int clears = g_rec.clears;
  log_n(11, 40);
  tick();
  EXPECT_EQ(g_rec.clears, clears) << "30 new lines are appended";
  auto rows = lines_of(pyte_screen(g_rec.bytes, 200, 200));
  EXPECT_NE(rows.back().text.find("msg0040"), std::string::npos);
  log_n(41, 190);
  tick();
  EXPECT_EQ(g_rec.clears, clears + 1);
  rows = lines_of(pyte_screen(g_rec.bytes, 200, 110));
  ASSERT_EQ(rows.size(), 100u);
  EXPECT_NE(rows.front().text.find("msg0091"), std::string::npos) << rows.front().text;
  EXPECT_NE(rows.back().text.find("msg0190"), std::string::npos);
  uint64_t before = g_rec.sends.size();
  tick();
  EXPECT_EQ(g_rec.sends.size(), before) << "nothing new, nothing sent";
}

TEST_F(Logwin, ColoursByLevel) {
  widget_show(lw);
  tick();
  log(LOG_INFO, kSrcName, "hello green world");
  log(LOG_ERROR, kSrcName, "trouble in red");
  log(LOG_WARN, kSrcName, "careful now");
  tick();
  auto rows = lines_of(pyte_screen(g_rec.bytes, 200, 200));
  auto find = [&](const char *word) -> const ScreenRow * {
    for (const ScreenRow &r : rows)
      if (r.text.find(word) != std::string::npos) return &r;
    return nullptr;
  };
  struct Case {
    const char *word;  // the message's first word
    char fg, bold;     // of the rest
  } cases[] = {{"hello", 'g', '0'}, {"trouble", 'm', '1'}, {"careful", 'r', '0'}};
  for (const Case &c : cases) {
    const ScreenRow *r = find(c.word);
    ASSERT_NE(r, nullptr) << c.word;
    size_t w = r->text.find(c.word);
    ASSERT_LT(w + strlen(c.word) + 1, r->cells.size());
    // "HH:MM:SS " then the first word, in white.
    EXPECT_EQ(r->text[2], ':');
    for (size_t i = 0; i < w + strlen(c.word); i++) EXPECT_EQ(r->cells[i].fg, 'w') << c.word << " cell " << i;
    for (size_t i = w + strlen(c.word) + 1; i < r->cells.size(); i++) {
      EXPECT_EQ(r->cells[i].fg, c.fg) << c.word << " cell " << i;
      EXPECT_EQ(r->cells[i].bold, c.bold) << c.word << " cell " << i;
    }
  }
  // The colours are reset after every line.
  EXPECT_EQ(g_rec.bytes.substr(g_rec.bytes.size() - 4), "\033[0m");
  // The real terminal holds white then green for the first message.
  const tt_session *s = tt_screen_of(lw->term->session);
  ASSERT_NE(s, nullptr);
  bool seen = false;
  for (int y = 0; y < s->rows && !seen; y++) {
    std::string row(reinterpret_cast<const char *>(s->chars) + size_t(y * s->cols), size_t(s->cols));
    size_t at = row.find("hello green");
    if (at == std::string::npos) continue;
    seen = true;
    const uint32_t *first = s->attrs + size_t(y * s->cols + int(at)) * kTtAttrWords;
    const uint32_t *rest = s->attrs + size_t(y * s->cols + int(at) + 6) * kTtAttrWords;
    EXPECT_EQ(first[TT_FG], 7u);
    EXPECT_EQ(rest[TT_FG], 2u);
  }
  EXPECT_TRUE(seen);
  EXPECT_STREQ(logwin_level_colour(0), "\033[37;45;1m");
  EXPECT_STREQ(logwin_level_colour(9), "\033[36m");
}

TEST_F(Logwin, EscapeBytesInAMessageChangeNothing) {
  widget_show(lw);
  tick();
  log(LOG_INFO, kSrcName, "headline \033[31mred\033[2J\033[Hgone\x07 end");
  tick();
  auto rows = lines_of(pyte_screen(g_rec.bytes, 200, 200));
  ASSERT_FALSE(rows.empty());
  const ScreenRow &r = rows.back();
  EXPECT_NE(r.text.find("headline  [31mred [2J [Hgone  end"), std::string::npos) << r.text;
  size_t w = r.text.find("headline") + strlen("headline") + 1;
  for (size_t i = w; i < r.cells.size(); i++) EXPECT_EQ(r.cells[i].fg, 'g') << i;
  EXPECT_GE(rows.size(), 2u) << "the screen was not cleared by the message";
}

TEST_F(Logwin, ResizeAndACountThatWentBackReplay) {
  widget_show(lw);
  log_n(1, 20);
  tick();
  int clears = g_rec.clears;
  lw->r = {0, 0, 1000, 900};
  lw->cls->geometry_changed(lw);
  EXPECT_EQ(lw->shown_count, 0u);
  tick();
  EXPECT_EQ(g_rec.clears, clears + 1);
  // The replay holds the lines printed before (and what the resize logged).
  std::string all;
  for (const ScreenRow &r : lines_of(pyte_screen(g_rec.bytes, 200, 110))) all += r.text + "\n";
  EXPECT_NE(all.find("msg0001"), std::string::npos) << all;
  EXPECT_NE(all.find("msg0020"), std::string::npos) << all;
  lw->shown_count = log_count() + 50;  // as after the log started again
  tick();
  EXPECT_EQ(g_rec.clears, clears + 2);
  EXPECT_EQ(lw->shown_count, log_count());
}

TEST_F(Logwin, LongLinesAreCutAt1024) {
  widget_show(lw);
  tick();
  // Log lines are shorter than that; the cut guards the line buffer.
  std::string long_text = "long " + std::string(3000, 'x');
  g_rec.sends.clear();
  logwin_print_line(lw, 0, 4, long_text.c_str());
  ASSERT_EQ(g_rec.sends.size(), 2u);
  EXPECT_EQ(g_rec.sends[0], kLogwinLineBuf - 1) << "only the bytes written";
  EXPECT_EQ(g_rec.sends[1], 4);
}

}  // namespace
