// The terminal's first run, end to end: the program signs a user with no
// stored configuration on to the simulator's live market and shows the
// default desktop: a list of the market's stocks, a chart, the depth and
// the course of sales. The screen is read back through ambit-shot (the
// picture ./run --headless writes) at sample regions: each window holds
// drawn content, and the list and the course of sales change between two
// pictures while the market trades. The log says "Online" and holds no
// error line; the configuration saved at the quit holds the four windows.
// Above the desktops, Ticker 1 scrolls the market's price moves (its text
// moves left between two pictures) and the watch bar holds a cell.
// Started without a user, the login box draws the splash picture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../terminal/proc.h"
#include "dalloc.h"
#include "decblk.h"
#include "growbuf.h"
#include "lib/splash.h"
#include "pixeltest.h"
#include "sim.h"
#include "sim_feeds.h"
#include "sim_live.h"
#include "testlog.h"
#include "testsim.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

constexpr int32_t kSaveKind = 1;
constexpr int32_t kVersionKind = 130;

struct Picture {
  int32_t w = 0, h = 0;
  std::vector<uint8_t> rgba;
  uint32_t at(int32_t x, int32_t y) const {
    const uint8_t* p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

// The window's pixels as ambit-shot writes them.
bool shoot(const std::string& xid, const std::string& path, Picture* out) {
  const std::string cmd = std::string(AMBIT_SHOT) + " --window " + xid + " " + path + " >/dev/null 2>&1";
  if (system(cmd.c_str()) != 0) return false;
  uint8_t* px = nullptr;
  if (picture_load_png(path.c_str(), &px, &out->w, &out->h) < 0 || !px) return false;
  out->rgba.assign(px, px + size_t(out->w) * size_t(out->h) * 4);
  dalloc_free(px);
  return out->w > 0 && out->h > 0;
}

// A region as fractions of the window.
struct Region {
  const char* what;
  double x0, y0, x1, y1;
};

// The distinct colours in a region, and how many of its pixels differ from
// the other picture's.
size_t colours(const Picture& p, const Region& r) {
  std::set<uint32_t> seen;
  for (int32_t y = int32_t(r.y0 * p.h); y < int32_t(r.y1 * p.h); y++)
    for (int32_t x = int32_t(r.x0 * p.w); x < int32_t(r.x1 * p.w); x++) seen.insert(p.at(x, y));
  return seen.size();
}
size_t changed(const Picture& a, const Picture& b, const Region& r) {
  size_t n = 0;
  for (int32_t y = int32_t(r.y0 * a.h); y < int32_t(r.y1 * a.h); y++)
    for (int32_t x = int32_t(r.x0 * a.w); x < int32_t(r.x1 * a.w); x++) n += a.at(x, y) != b.at(x, y);
  return n;
}

// The strip at the top of the screen: the tickbar's rows, from the top down
// to the first row of another fill (the watch bar's, or a desktop's). Each
// row's fill is its most common colour.
uint32_t row_fill(const Picture& p, int32_t y) {
  std::map<uint32_t, int32_t> n;
  for (int32_t x = 0; x < p.w; x++) n[p.at(x, y)]++;
  uint32_t best = 0;
  int32_t most = -1;
  for (const auto& [c, k] : n)
    if (k > most) best = c, most = k;
  return best;
}
int32_t top_band_rows(const Picture& p) {
  const uint32_t fill = row_fill(p, 0);
  int32_t y = 0;
  while (y < p.h / 4 && row_fill(p, y) == fill) y++;
  return y;
}

struct Ink {
  int32_t x, y;
  uint32_t rgb;
};
// The pixels of rows [y0, y1) that differ from the fill of row y0.
std::vector<Ink> ink_of(const Picture& p, int32_t y0, int32_t y1) {
  std::vector<Ink> out;
  const uint32_t fill = row_fill(p, y0);
  for (int32_t y = y0; y < y1; y++)
    for (int32_t x = 0; x < p.w; x++)
      if (p.at(x, y) != fill) out.push_back({x, y, p.at(x, y)});
  return out;
}
// Strongly red or green: a price change drawn in the style's down or up colour.
bool up_or_down(uint32_t rgb) {
  const int r = int(rgb >> 16 & 0xff), g = int(rgb >> 8 & 0xff), b = int(rgb & 0xff);
  return (r > g + 48 && r > b + 48) || (g > r + 48 && g > b + 48);
}

// The leftward shift that carries most of a's ink onto the same colours in
// b, and the share of a's ink (still on screen after the shift) it carries.
struct Shift {
  int32_t dx = -1;
  double share = 0;
};
// The move of what moved: ink of a that stands unchanged in b (the watch
// bar's cell, borders) is left out, and the rest is looked for in b at every
// shift to the left.
Shift best_shift(const Picture& a, const Picture& b, int32_t rows) {
  std::vector<Ink> ink;
  for (const Ink& i : ink_of(a, 0, rows))
    if (b.at(i.x, i.y) != i.rgb) ink.push_back(i);
  if (ink.size() < 50) return {};
  Shift best;
  int32_t most = 0;
  for (int32_t dx = 1; dx < a.w / 2; dx++) {
    int32_t hits = 0, kept = 0;
    for (const Ink& i : ink) {
      if (i.x - dx < 0) continue;
      kept++;
      hits += b.at(i.x - dx, i.y) == i.rgb;
    }
    if (hits > most && kept * 2 >= int32_t(ink.size())) {
      most = hits;
      best = {dx, double(hits) / kept};
    }
  }
  return best;
}

std::string inflate(const std::vector<uint8_t>& block) {
  growbuf gb{};
  if (growbuf_init(&gb, int32_t(block.size()) * 4 + 64, 1024) < 0) return "";
  std::string s;
  if (decblk_inflate(block.data(), int32_t(block.size()), &gb) == int32_t(block.size()))
    s.assign(reinterpret_cast<const char*>(gb.data), size_t(gb.len));
  growbuf_free(&gb);
  return s;
}

TEST(FirstRun, DefaultDesktopWithLiveData) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  sim_server* sim = nullptr;
  sim_live* live = nullptr;
  int port = 0;
  ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 60, 5, 8, &port));
  ASSERT_EQ(0, sim_feeds_start(sim, sim_local_now() & ~kSstimeSecondsMask));

  proc_tempdir home;
  const std::string port_text = std::to_string(port);
  const pid_t pid = proc_start_terminal(
      AMBIT_PROGRAM, {"Ambit", "-h", "127.0.0.1", "-P", port_text, "-u", "alice", "-p", "secret"}, home.path);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  ASSERT_GE(sim_wait_entry(sim, kVersionKind, 0, 90000, nullptr), 0) << "not online";
  const std::string xid = proc_find_window("--pid " + std::to_string(pid), end);
  ASSERT_FALSE(xid.empty());

  // The windows fill in as the requests go out (half a second after the
  // screens are up) and the replies come; then two pictures two seconds apart.
  const Region regions[] = {
      {"the list", 0.12, 0.16, 0.40, 0.45},
      {"the chart", 0.48, 0.20, 0.86, 0.50},
      {"the depth", 0.46, 0.65, 0.62, 0.88},
      {"the course of sales", 0.68, 0.65, 0.88, 0.88},
  };
  Picture first, second;
  bool drawn = false;
  while (!drawn && std::chrono::steady_clock::now() < end) {
    ASSERT_TRUE(shoot(xid, home.path + "/first.png", &first));
    drawn = true;
    for (const Region& r : regions) drawn = drawn && colours(first, r) >= 8;
    if (!drawn) usleep(200000);  // between looks; the deadline bounds the wait
  }
  for (const Region& r : regions) EXPECT_GE(colours(first, r), 8u) << r.what << " is empty";
  // Live: the list and the course of sales move while the market trades.
  bool moved = false;
  const auto live_end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!moved && std::chrono::steady_clock::now() < live_end) {
    usleep(500000);  // between looks; the deadline bounds the wait
    ASSERT_TRUE(shoot(xid, home.path + "/second.png", &second));
    moved = changed(first, second, regions[0]) > 0 && changed(first, second, regions[3]) > 0;
  }
  EXPECT_TRUE(moved) << "no live change in the list and the course of sales";

  system(("xdotool windowfocus --sync " + xid + " key super+q").c_str());
  int st = 0;
  if (!proc_wait_until(pid, end + std::chrono::seconds(30), &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    ADD_FAILURE() << "did not quit";
  } else {
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  const std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_NE(log.find(" Online\n"), std::string::npos);
  EXPECT_NE(log.find("remote config not found"), std::string::npos);
  for (const char* bad : {" ERROR: ", " FATAL: ", " OSERR: ", "splash not found", "getaddrinfo"})
    EXPECT_EQ(log.find(bad), std::string::npos) << bad << " in the log:\n" << log.substr(log.find(bad) == std::string::npos ? 0 : log.find(bad), 300);

  // The save at the quit: desktop 1 holds the four windows, linked to the list.
  std::string text;
  for (const sim_entry& e : sim_transcript(sim))
    if (e.kind == kSaveKind) text = inflate(e.data);
  for (const char* line :
       {"screen.desktop.window.role watchlist\n", "screen.desktop.window.role chart\n",
        "screen.desktop.window.role depth\n", "screen.desktop.window.role tradelist\n",
        "screen.desktop.layout \"W0 W1 W2 W3 H0.500 V0.550 H0.400 P0,1 P0,2 P0,3\"\n", "scan 1 \"Most active\"\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " not saved:\n" << text.substr(0, 600);
  sim_live_stop(live);
  sim_destroy(sim);
}

// A new user's top bars, signed on to a live market: under the alerts
// ticker (empty while no alert fires) Ticker 1 scrolls the market's price
// moves: the strip above the watch bar holds text with changes in the up or
// down colour, and a later picture holds the same text moved left. The
// watch bar under it is not an empty strip.
TEST(FirstRun, TickerScrollsTheMarketsPriceMoves) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  sim_server* sim = nullptr;
  sim_live* live = nullptr;
  int port = 0;
  ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 60, 5, 8, &port));

  proc_tempdir home;
  const std::string port_text = std::to_string(port);
  const pid_t pid = proc_start_terminal(
      AMBIT_PROGRAM, {"Ambit", "-h", "127.0.0.1", "-P", port_text, "-u", "alice", "-p", "secret"}, home.path);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  ASSERT_GE(sim_wait_entry(sim, kVersionKind, 0, 90000, nullptr), 0) << "not online";
  const std::string xid = proc_find_window("--pid " + std::to_string(pid), end);
  ASSERT_FALSE(xid.empty());

  // Price moves reach the ticker as the market trades; the watch bar below
  // it shows its one cell (the smartlist's stocks in turn, over a chart).
  Picture first;
  int32_t rows = 0;
  size_t ink = 0, coloured = 0, watched = 0;
  const auto moves_end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < moves_end) {
    ASSERT_TRUE(shoot(xid, home.path + "/first.png", &first));
    rows = top_band_rows(first);
    const std::vector<Ink> text = ink_of(first, 0, rows);
    ink = text.size();
    coloured = 0;
    for (const Ink& i : text) coloured += up_or_down(i.rgb);
    watched = ink_of(first, rows, std::min(rows + 40, first.h)).size();
    if (ink >= 200 && coloured >= 10 && watched >= 200) break;
    usleep(200000);  // between looks; the deadline bounds the wait
  }
  EXPECT_GE(ink, 200u) << "the tickbar's " << rows << " rows hold no text";
  EXPECT_GE(coloured, 10u) << "no change in the up or down colour in the tickbar";
  EXPECT_GE(watched, 200u) << "the watch bar under the tickbar's " << rows << " rows is empty";

  // Scrolling: a later picture holds the same text, moved left. Pictures
  // are compared with the one before: a change that is not a move (an item
  // entering, a bar shown above) is passed over, and the next pair tells.
  Picture second;
  Shift shift;
  const auto scroll_end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (ink >= 200 && std::chrono::steady_clock::now() < scroll_end) {
    ASSERT_TRUE(shoot(xid, home.path + "/second.png", &second));
    ASSERT_EQ(second.w, first.w);
    if (changed(first, second, {"the tickbar", 0, 0, 1, double(rows) / first.h}) > 0) {
      shift = best_shift(first, second, rows);
      if (shift.dx > 0 && shift.share >= 0.9) break;
      first = second;
    }
    usleep(100000);  // between looks; the deadline bounds the wait
  }
  EXPECT_GT(shift.dx, 0) << "the ticker's text did not move left";
  EXPECT_GE(shift.share, 0.9) << "moved by " << shift.dx << " px, but only part of the text kept its shape";

  system(("xdotool windowfocus --sync " + xid + " key super+q").c_str());
  int st = 0;
  if (!proc_wait_until(pid, end + std::chrono::seconds(30), &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    ADD_FAILURE() << "did not quit";
  }
  sim_live_stop(live);
  sim_destroy(sim);
}

// Started without a user, the program shows its login box with the splash
// picture the build wrote beside it, installed into the data tree's program
// folder over an older one: the picture's green and red bands in the box's left margin, its
// light frame at the corner, and no "splash not found".
TEST(FirstRun, LoginBoxDrawsTheSplashPicture) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  proc_tempdir home;
  // An older picture in the program folder (2 x 1 black) gives way to the
  // build's.
  ASSERT_EQ(0, system(("mkdir -p " + home.path + "/Ambit/Program").c_str()));
  {
    FILE* old = fopen((home.path + "/Ambit/Program/SPLASH").c_str(), "wb");
    ASSERT_NE(old, nullptr);
    const uint8_t two_by_one[] = {0, 2, 0, 1, 0, 0, 0, 255, 0, 0, 0, 255};
    fwrite(two_by_one, 1, sizeof two_by_one, old);
    fclose(old);
  }
  const pid_t pid = proc_start_terminal(AMBIT_PROGRAM, {"Ambit"}, home.path);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const std::string xid = proc_find_window("--pid " + std::to_string(pid), end);
  ASSERT_FALSE(xid.empty());
  // The splash file: 600 x 340, a 4-pixel frame of 0xf0f0f0, the green band
  // on rows 250-261 and the red one on 266-277; the box is 500 x 310.
  const struct {
    const char* what;
    int32_t x, y;
    uint32_t rgb;
  } samples[] = {
      {"the frame", 1, 1, 0xf0f0f0},
      {"the green band", 8, 233, 0x27c645},
      {"the red band", 8, 248, 0xd94355},
  };
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
      if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > 24) return false;
    return true;
  };
  Picture box;
  bool drawn = false;
  while (!drawn && std::chrono::steady_clock::now() < end) {
    ASSERT_TRUE(shoot(xid, home.path + "/login.png", &box));
    drawn = box.w == 500 && box.h == 310;
    for (const auto& s : samples) drawn = drawn && near(box.at(s.x, s.y), s.rgb);
    if (!drawn) usleep(200000);  // between looks; the deadline bounds the wait
  }
  EXPECT_EQ(box.w, 500);
  EXPECT_EQ(box.h, 310);
  if (box.w == 500 && box.h == 310)
    for (const auto& s : samples)
      EXPECT_TRUE(near(box.at(s.x, s.y), s.rgb)) << s.what << ": " << std::hex << box.at(s.x, s.y);
  // Quitting before any login: Command-Q.
  system(("xdotool windowfocus --sync " + xid + " key super+q").c_str());
  int st = 0;
  if (!proc_wait_until(pid, end, &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    ADD_FAILURE() << "did not quit";
  }
  const std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_EQ(log.find("splash not found"), std::string::npos);
  EXPECT_NE(log.find("installed the splash picture from "), std::string::npos) << log.substr(0, 2000);
  // The build's 600 x 340 picture now: 4 + 600 * 340 * 4 bytes.
  EXPECT_EQ(proc_read_file(home.path + "/Ambit/Program/SPLASH").size(), 4u + 600u * 340u * 4u);
}

}  // namespace
