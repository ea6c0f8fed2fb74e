// Key-to-screen latency as a user sees it, for scripts/latency.sh: presses a
// key through the X server's test extension and polls the screen until the
// picture shows the key's effect. The key is meant to toggle something that
// covers the middle of the screen (the help window): a calibration learns
// the pixels of both states, then each trial presses the key, notes the
// time, and reads the middle of the screen back until it has the other state.
//
//   latency_probe shot FILE.ppm        the root window as a binary PPM
//   latency_probe keys KEY TRIALS      calibrates, then TRIALS toggles; one
//                                      line "latency_ms N" a trial, then a
//                                      summary line
//
// Built by scripts/latency.sh with: c++ -O2 -o probe latency_probe.cpp -lX11 -ldl
// The test extension is loaded at run time (its headers need not be there).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using clk = std::chrono::steady_clock;
using fake_key_fn = int (*)(Display *, unsigned int, int, unsigned long);

Display *g_d;
Window g_root;
fake_key_fn g_fake_key;
int g_w, g_h;

double ms_since(clk::time_point t0) {
  return std::chrono::duration<double, std::milli>(clk::now() - t0).count();
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The sampled middle of the screen: a grid of points across its middle half.
constexpr int kGridX = 96, kGridY = 64;
std::vector<uint32_t> grab_middle() {
  const int x0 = g_w / 4, y0 = g_h / 4, w = g_w / 2, h = g_h / 2;
  XImage *im = XGetImage(g_d, g_root, x0, y0, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
  std::vector<uint32_t> out;
  if (!im) return out;
  out.reserve(kGridX * kGridY);
  for (int j = 0; j < kGridY; j++)
    for (int i = 0; i < kGridX; i++)
      out.push_back((uint32_t)XGetPixel(im, i * w / kGridX, j * h / kGridY) & 0xffffffu);
  XDestroyImage(im);
  return out;
}

void press(KeyCode code) {
  g_fake_key(g_d, code, True, 0);
  g_fake_key(g_d, code, False, 0);
  XFlush(g_d);
}

int shot(const char *path) {
  XImage *im = XGetImage(g_d, g_root, 0, 0, (unsigned)g_w, (unsigned)g_h, AllPlanes, ZPixmap);
  if (!im) return 1;
  FILE *f = fopen(path, "wb");
  if (!f) return 1;
  fprintf(f, "P6\n%d %d\n255\n", g_w, g_h);
  for (int y = 0; y < g_h; y++)
    for (int x = 0; x < g_w; x++) {
      unsigned long p = XGetPixel(im, x, y);
      unsigned char rgb[3] = {(unsigned char)(p >> 16), (unsigned char)(p >> 8), (unsigned char)p};
      fwrite(rgb, 1, 3, f);
    }
  fclose(f);
  XDestroyImage(im);
  return 0;
}

// The share of the chosen points that show the "shown" picture.
double shown_share(const std::vector<uint32_t> &img, const std::vector<int> &pts,
                   const std::vector<uint32_t> &shown) {
  if (img.empty() || pts.empty()) return -1;
  int n = 0;
  for (int p : pts) n += img[p] == shown[p];
  return (double)n / (double)pts.size();
}

int keys(const char *key, int trials) {
  KeySym sym = XStringToKeysym(key);
  KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(g_d, sym);
  if (!code) {
    fprintf(stderr, "latency_probe: no key code for %s\n", key);
    return 1;
  }
  // Calibration: two pictures in each state, a second apart from the key.
  std::vector<uint32_t> h1 = grab_middle();
  pause_ms(300);
  std::vector<uint32_t> h2 = grab_middle();
  press(code);
  pause_ms(2000);
  std::vector<uint32_t> s1 = grab_middle();
  pause_ms(300);
  std::vector<uint32_t> s2 = grab_middle();
  press(code);
  pause_ms(2000);
  std::vector<uint32_t> h3 = grab_middle();
  if (h1.empty() || s1.empty() || h3.empty()) {
    fprintf(stderr, "latency_probe: can't read the screen\n");
    return 1;
  }
  // Points steady while shown and different from every hidden picture.
  std::vector<int> pts;
  for (size_t p = 0; p < s1.size(); p++)
    if (s1[p] == s2[p] && s1[p] != h1[p] && s1[p] != h2[p] && s1[p] != h3[p]) pts.push_back((int)p);
  printf("calibration points %zu of %zu, hidden again %.2f\n", pts.size(), s1.size(),
         shown_share(h3, pts, s1));
  if (pts.size() < 50 || shown_share(h3, pts, s1) > 0.2) {
    fprintf(stderr, "latency_probe: the key does not toggle a steady picture in the middle\n");
    return 2;
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> gap(150, 400);
  std::vector<double> got;
  int timeouts = 0;
  bool shown = false;
  for (int t = 0; t < trials; t++) {
    const bool want = !shown;
    clk::time_point t0 = clk::now();
    press(code);
    double lat = -1;
    while (ms_since(t0) < 3000) {
      const double share = shown_share(grab_middle(), pts, s1);
      if ((want && share >= 0.9) || (!want && share <= 0.3)) {
        lat = ms_since(t0);
        break;
      }
    }
    if (lat < 0) {
      timeouts++;
      // Find out where it stands before going on.
      pause_ms(1000);
      shown = shown_share(grab_middle(), pts, s1) >= 0.9;
      printf("timeout\n");
    } else {
      shown = want;
      got.push_back(lat);
      printf("latency_ms %.1f %s\n", lat, want ? "show" : "hide");
    }
    fflush(stdout);
    pause_ms(gap(rng));
  }
  if (shown) press(code);
  std::sort(got.begin(), got.end());
  auto pct = [&](double q) { return got.empty() ? -1.0 : got[std::min(got.size() - 1, (size_t)(q * got.size()))]; };
  printf("summary n %zu timeouts %d min %.1f p50 %.1f p90 %.1f max %.1f\n", got.size(), timeouts,
         got.empty() ? -1.0 : got.front(), pct(0.5), pct(0.9), got.empty() ? -1.0 : got.back());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: latency_probe shot FILE | keys KEY TRIALS\n");
    return 1;
  }
  g_d = XOpenDisplay(nullptr);
  if (!g_d) {
    fprintf(stderr, "latency_probe: no display\n");
    return 1;
  }
  g_root = DefaultRootWindow(g_d);
  XWindowAttributes a;
  XGetWindowAttributes(g_d, g_root, &a);
  g_w = a.width;
  g_h = a.height;
  if (!strcmp(argv[1], "shot")) return shot(argv[2]);
  void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
  g_fake_key = xtst ? (fake_key_fn)dlsym(xtst, "XTestFakeKeyEvent") : nullptr;
  if (!g_fake_key) {
    fprintf(stderr, "latency_probe: no X test extension library\n");
    return 1;
  }
  if (!strcmp(argv[1], "keys") && argc >= 4) return keys(argv[2], atoi(argv[3]));
  fprintf(stderr, "usage: latency_probe shot FILE | keys KEY TRIALS\n");
  return 1;
}
