// The process shell and desktop services: the launcher path without video,
// the opener's narrowing (through a recording opener, and the real detached
// xdg-open against a stand-in on PATH), alerts and the About box through the
// logging switch, the menu's data, and PDF pages against pdftoppm.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/tex.h"
#include "localdata.h"
#include "plat.h"
#include "sim_live.h"
#include "testlog.h"
#include "ui/gui_plat-linux.h"
#include "ui/launch-linux.h"

#include <SDL2/SDL.h>

namespace {

class Launch : public ::testing::Test {
 public:
  static std::string root;
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOff);
    char tmpl[] = "/tmp/ambit-launch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    ASSERT_EQ(localdata_set_root(root.c_str()), 0);
  }
  static void TearDownTestSuite() {
    std::string cmd = "rm -rf '" + root + "'";
    (void)!system(cmd.c_str());
  }
};
std::string Launch::root;

// ---- the launcher path ----

int g_seen_argc;
std::vector<std::string> g_seen;
int g_video_during_main = -1;
int app_main(int argc, char **argv) {
  g_seen_argc = argc;
  for (int i = 0; i < argc; i++) g_seen.push_back(argv[i]);
  g_video_during_main = SDL_WasInit(SDL_INIT_VIDEO) != 0;
  return argv[argc] == nullptr ? 7 : 9;
}

int g_thread_ran;
void thread_body(void *arg) { g_thread_ran = *(int *)arg; }

TEST_F(Launch, MainRunsTheAppWithCopiedArgumentsAndNoVideo) {
  char a0[] = "Ambit", a1[] = "--notrap", a2[] = "-u";
  char *argv[] = {a0, a1, a2, nullptr};
  launch_main(3, argv, app_main);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"Ambit", "--notrap", "-u"}));
  EXPECT_EQ(g_video_during_main, 0);
  ASSERT_NE(launch_argv(), nullptr);
  EXPECT_NE(launch_argv()[1], argv[1]);  // a copy, not the caller's strings
  EXPECT_EQ(launch_cleanup(), 7);
  EXPECT_EQ(launch_argv(), nullptr);
  // Without an app main only the thread wrapper goes in; threads still run.
  launch_main(0, nullptr, nullptr);
  int value = 42;
  plat_slot t = plat_thread_create(thread_body, &value);
  ASSERT_GE(t, 0);
  plat_thread_join(t);
  EXPECT_EQ(g_thread_ran, 42);
  EXPECT_EQ(launch_cleanup(), 0);
}

TEST_F(Launch, ApplicationSupportFolder) {
  std::string old_xdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  std::string old_home = getenv("HOME") ? getenv("HOME") : "";
  struct {
    const char *xdg, *home;
    int ok;
    const char *want;
  } cases[] = {
      {"/data/share", "/home/u", 0, "/data/share"},
      {nullptr, "/home/u", 0, "/home/u/.local/share"},
      {"relative/path", "/home/u", 0, "/home/u/.local/share"},
      {nullptr, nullptr, -1, ""},
  };
  for (auto &c : cases) {
    if (c.xdg) setenv("XDG_DATA_HOME", c.xdg, 1); else unsetenv("XDG_DATA_HOME");
    if (c.home) setenv("HOME", c.home, 1); else unsetenv("HOME");
    char buf[1024] = "";
    EXPECT_EQ(launch_app_support_dir(buf), c.ok) << (c.xdg ? c.xdg : "-");
    if (c.ok == 0) {
      EXPECT_STREQ(buf, c.want);
    }
  }
  if (old_xdg.empty()) unsetenv("XDG_DATA_HOME"); else setenv("XDG_DATA_HOME", old_xdg.c_str(), 1);
  if (old_home.empty()) unsetenv("HOME"); else setenv("HOME", old_home.c_str(), 1);
}

TEST_F(Launch, BuiltInTexturesLoad) {
  tex_init();
  EXPECT_EQ(help_load_textures(), 0);
  EXPECT_GT(tex_stats().fonts, 0);
  EXPECT_GT(tex_stats().images, 0);
  tex_fini();
}

// ---- opening ----

std::vector<std::string> g_opened;
int record_opener(const char *target) {
  g_opened.push_back(target);
  return 0;
}

TEST_F(Launch, OpenerGetsOnlyWebMailAndDataTreeTargets) {
  std::string doc = root + "/doc.pdf";
  std::ofstream(doc) << "%PDF";
  std::string outside = "/tmp/ambit-outside-" + std::to_string(getpid());
  std::ofstream(outside) << "x";
  std::string escape = root + "/../" + outside.substr(5);  // climbs out of the tree
  std::string long_host(5000, 'a');
  struct {
    const char *name;
    int which;  // 0 url, 1 file, 2 mailto
    std::string in;
    int result;
    std::string opened;  // "" when the opener must not be called
    const char *line;    // the OSERR text expected on refusal
  } cases[] = {
      {"bare host", 0, "www.example.com/a?b=1", 0, "http://www.example.com/a?b=1", nullptr},
      {"https", 0, "https://example.com/x", 0, "https://example.com/x", nullptr},
      {"upper-case scheme", 0, "HTTP://example.com", 0, "HTTP://example.com", nullptr},
      {"file link inside the tree", 0, "file://" + doc, 0, doc, nullptr},
      {"file link outside", 0, "file://" + outside, -1, "", "can't open file"},
      {"other scheme", 0, "ftp://example.com/f", -1, "", "can't open url"},
      {"custom handler", 0, "vnd.app://run", -1, "", "can't open url"},
      {"space inside", 0, "https://a.com/x y", -1, "", "can't open url"},
      {"too long", 0, long_host, -1, "", "can't open url"},
      {"file in the tree", 1, doc, 0, doc, nullptr},
      {"climbing out", 1, escape, -1, "", "can't open file"},
      {"missing file", 1, root + "/none.pdf", -1, "", "can't open file"},
      {"mail", 2, "desk@example.com", 0, "mailto:desk@example.com", nullptr},
      {"mail with a newline", 2, "a@b.c\n-x", -1, "", "can't open url"},
  };
  launch_opener_fn old = launch_set_opener(record_opener);
  for (auto &c : cases) {
    g_opened.clear();
    LogCapture logs;
    int r = c.which == 0 ? launch_open_url(c.in.c_str())
          : c.which == 1 ? launch_open_file(c.in.c_str())
                         : launch_mailto(c.in.c_str());
    EXPECT_EQ(r, c.result) << c.name;
    if (c.opened.empty()) {
      EXPECT_TRUE(g_opened.empty()) << c.name;
      EXPECT_TRUE(logs.has(c.line)) << c.name;
    } else {
      EXPECT_EQ(g_opened, std::vector<std::string>{c.opened}) << c.name;
    }
  }
  launch_set_opener(old);
  unlink(outside.c_str());
}

TEST_F(Launch, TheRealOpenerRunsXdgOpenDetached) {
  // A stand-in xdg-open first on PATH writes its argument to a file.
  std::string bin = root + "/bin", mark = root + "/opened.txt";
  mkdir(bin.c_str(), 0700);
  std::string script = bin + "/xdg-open";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << mark << ".tmp' && mv '" << mark
                        << ".tmp' '" << mark << "'\n";
  chmod(script.c_str(), 0700);
  std::string old_path = getenv("PATH");
  setenv("PATH", (bin + ":" + old_path).c_str(), 1);
  EXPECT_EQ(launch_open_url("https://example.com/q?x=1&y=2"), 0);
  setenv("PATH", old_path.c_str(), 1);
  std::string got;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream f(mark);
    if (f && std::getline(f, got)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(got, "https://example.com/q?x=1&y=2");
}

// ---- alerts, About and the menu ----

TEST_F(Launch, AlertsAreLoggedUnderTheTestSwitch) {
  launch_set_alert_log(1);
  struct {
    const char *message, *title, *text;
    uint32_t flags;
    const char *line;
  } cases[] = {
      {"Ambit Error", "There was a problem", "log tail", 3,
       "alert: critical Ambit Error: There was a problem\n\nlog tail"},
      {"Note", "", "only text", 0, "alert: info Note: only text"},
      {"Note", "only title", nullptr, 4, "alert: info Note: only title"},
  };
  for (auto &c : cases) {
    LogCapture logs;
    EXPECT_EQ(launch_alert(c.message, c.title, c.text, c.flags), 1);
    EXPECT_TRUE(logs.has(c.line)) << c.line;
  }
  launch_set_alert_log(0);
}

TEST_F(Launch, MenuHoldsItsEntriesAndRunsThemFromChords) {
  const gui_plat_menu *m = gui_plat_menu_build("Ambit");
  std::vector<std::string> app, win;
  for (int i = 0; i < m[0].count; i++)
    app.push_back(m[0].items[i].separator ? "-" : std::string(m[0].items[i].title) +
                  (m[0].items[i].key ? std::string(" ^") + m[0].items[i].key : "") +
                  (m[0].items[i].mods & GUI_PLAT_MOD_ALT ? "+alt" : ""));
  for (int i = 0; i < m[1].count; i++)
    win.push_back(m[1].items[i].separator ? "-" : std::string(m[1].items[i].title) +
                  (m[1].items[i].key ? std::string(" ^") + m[1].items[i].key : ""));
  EXPECT_EQ(std::string(m[0].title), "Ambit");
  EXPECT_EQ(app, (std::vector<std::string>{"About Ambit", "Ambit", "-", "Services", "-",
                                           "Hide Ambit ^h", "Hide Others ^h+alt", "Show All", "-",
                                           "Quit Ambit ^q"}));
  EXPECT_EQ(win, (std::vector<std::string>{"Miniaturize ^m", "Zoom", "-", "Bring All to Front"}));

  // About is a message box with the application's name, version, build and notice.
  launch_set_alert_log(1);
  launch_set_about("4.2", "4217", "Copyright Ambit");
  LogCapture logs;
  m[0].items[0].action();
  EXPECT_TRUE(logs.has("alert: info About Ambit: Version 4.2 (4217)\n\nCopyright Ambit"));

  // Credits from the bundle's resource folder beside the program join it.
  char dir[1024];
  ASSERT_EQ(launch_resources_dir(dir), 0);
  char exe[1024];
  ASSERT_EQ(launch_exe_path(exe), 0);
  std::string exe_dir = std::string(exe).substr(0, std::string(exe).rfind('/'));
  EXPECT_EQ(std::string(dir), exe_dir + "/Ambit.app/Contents/Resources");
  EXPECT_EQ(system(("mkdir -p '" + std::string(dir) + "'").c_str()), 0);
  std::ofstream(std::string(dir) + "/Credits.html")
      << "<html><body><p>Fonts:   DejaVu</p>\n<p>Thanks</p></body></html>";
  LogCapture credit_logs;
  m[0].items[1].action();  // the second item also opens the box
  EXPECT_TRUE(credit_logs.has("Copyright Ambit\n\nFonts: DejaVu Thanks"));
  (void)!system(("rm -rf '" + exe_dir + "/Ambit.app'").c_str());
  launch_set_alert_log(0);

  // The quit chord reaches the gui's quit entry; unknown chords run nothing.
  static int quits;
  gui_plat_events ev = {};
  ev.quit = [] { quits++; };
  gui_plat_set_events(&ev);
  EXPECT_EQ(gui_plat_menu_chord('q', 0), 1);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(gui_plat_menu_chord('q', GUI_PLAT_MOD_ALT), 0);
  EXPECT_EQ(gui_plat_menu_chord('k', 0), 0);
  EXPECT_EQ(quits, 1);
  gui_plat_set_events(nullptr);
}

// ---- PDF pages ----

// A one-page PDF of 200 x 100 points: red over the top-left quarter, blue in
// a strip at the bottom right, white elsewhere; every edge falls on a whole
// pixel at 1.5 pixels a point.
std::string make_pdf(const std::string &path) {
  std::string content = "1 0 0 rg 0 50 100 50 re f 0 0 1 rg 150 0 50 20 re f 0 0.5 0 rg 20 10 20 20 re f";
  std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R /Resources << >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
  };
  const std::string pdf = sim_pdf_file(objs);
  std::ofstream(path, std::ios::binary) << pdf;
  return path;
}

std::vector<uint8_t> read_png(const std::string &path, int *w, int *h) {
  std::vector<uint8_t> out;
  png_image img = {};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return out;
  img.format = PNG_FORMAT_RGB;
  out.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) out.clear();
  *w = (int)img.width;
  *h = (int)img.height;
  return out;
}

TEST_F(Launch, PdfPageRendersInEveryTurnLikePdftoppm) {
  std::string pdf = make_pdf(root + "/page.pdf");
  const int W = 300, H = 150;
  std::string cmd = "pdftoppm -png -singlefile -scale-to-x " + std::to_string(W) + " -scale-to-y " +
                    std::to_string(H) + " '" + pdf + "' '" + root + "/ref'";
  ASSERT_EQ(system(cmd.c_str()), 0) << "pdftoppm (poppler-utils) is needed";
  int rw = 0, rh = 0;
  std::vector<uint8_t> ref = read_png(root + "/ref.png", &rw, &rh);
  ASSERT_EQ(rw, W);
  ASSERT_EQ(rh, H);
  for (int rot = 0; rot < 4; rot++) {
    int w = (rot & 1) ? H : W, h = (rot & 1) ? W : H;
    std::vector<uint8_t> px((size_t)w * h * 4, 0);
    launch_pdf_job job = {};
    job.path = pdf.c_str();
    job.page = 0;
    job.pixels = px.data();
    job.width = w;
    job.height = h;
    job.rotation = rot;
    EXPECT_EQ(launch_render_pdf_page(&job), 0);
    EXPECT_EQ(job.error, 0);
    EXPECT_EQ(job.done, 1);
    EXPECT_EQ(job.page_count, 1);
    EXPECT_FLOAT_EQ(job.page_w, 200);
    EXPECT_FLOAT_EQ(job.page_h, 100);
    ASSERT_EQ(job.bottom_up, 1);
    int bad = 0;
    std::string first;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        // The reference pixel that this turn brings to (x, y).
        int ox, oy;
        switch (rot) {
          case 0: ox = x; oy = y; break;
          case 1: ox = y; oy = H - 1 - x; break;          // clockwise
          case 2: ox = W - 1 - x; oy = H - 1 - y; break;
          default: ox = W - 1 - y; oy = x; break;         // counter-clockwise
        }
        const uint8_t *r = &ref[((size_t)oy * W + ox) * 3];
        const uint8_t *g = &px[((size_t)(h - 1 - y) * w + x) * 4];  // first row at the bottom
        for (int c = 0; c < 3; c++)
          if (abs(r[c] - g[c]) > 8) {
            if (!bad++) {
              std::ostringstream s;
              s << "(" << x << "," << y << ") " << (int)g[0] << "," << (int)g[1] << "," << (int)g[2]
                << " want " << (int)r[0] << "," << (int)r[1] << "," << (int)r[2];
              first = s.str();
            }
            break;
          }
      }
    EXPECT_EQ(bad, 0) << "turn " << rot << ", first at " << first;
  }
}

TEST_F(Launch, PdfFailuresAreReportedInTheJob) {
  std::string pdf = make_pdf(root + "/page2.pdf");
  std::string junk = root + "/junk.pdf";
  std::ofstream(junk) << "not a pdf";
  struct {
    const char *name;
    std::string path;
    int page, count;
  } cases[] = {
      {"missing file", root + "/none.pdf", 0, 0},
      {"not a pdf", junk, 0, 0},
      {"page past the end", pdf, 1, 1},
      {"negative page", pdf, -1, 1},
  };
  for (auto &c : cases) {
    launch_pdf_job job = {};
    job.path = c.path.c_str();
    job.page = c.page;
    EXPECT_EQ(launch_render_pdf_page(&job), 0) << c.name;
    EXPECT_EQ(job.error, 1) << c.name;
    EXPECT_EQ(job.done, 1) << c.name;
    EXPECT_EQ(job.page_count, c.count) << c.name;
  }
  // No pixels asked: the size and count alone.
  launch_pdf_job job = {};
  job.path = pdf.c_str();
  EXPECT_EQ(launch_render_pdf_page(&job), 0);
  EXPECT_EQ(job.error, 0);
  EXPECT_FLOAT_EQ(job.page_w, 200);
}

}  // namespace
