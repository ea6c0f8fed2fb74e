// Test support of the document tests: pdftoppm's images read back, files
// read whole, recorded GL calls counted, and the market client logged in to
// the simulator on loopback with its io thread running (the HTTP side
// requests of the downloads need it). Header-only.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "lib/glrecord.h"
#include "plat.h"
#include "sim.h"
#include "ssclient.h"
#include "ssio.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"

// An RGB image, rows top first, as pdftoppm writes it (binary PPM).
struct ppm_image {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  const uint8_t *at(int x, int y) const { return &rgb[((size_t)y * w + x) * 3]; }
  // As the gui tests' pixels: red in the low byte, alpha 255.
  uint32_t colour_at(int x, int y) const {
    const uint8_t *p = at(x, y);
    return 0xFF000000u | p[0] | p[1] << 8 | p[2] << 16;
  }
};

inline bool read_ppm(const std::string &path, ppm_image *out) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> out->w >> out->h >> maxval;
  f.get();
  if (!f || magic != "P6" || maxval != 255) return false;
  out->rgb.resize((size_t)out->w * out->h * 3);
  f.read((char *)out->rgb.data(), (std::streamsize)out->rgb.size());
  return (bool)f;
}

inline std::string file_text(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Recorded GL calls that contain `needle`.
inline int count_calls(const std::string &needle) {
  int n = 0;
  for (const std::string &c : glrecord_calls()) n += c.find(needle) != std::string::npos;
  return n;
}

// The simulator and the client signed on to it, its io thread running.
// start() through ASSERT_NO_FATAL_FAILURE; stop() ends both.
struct loopback_client {
  sim_server *sim = nullptr;
  int port = 0;
  plat_slot thread = -1;
  std::atomic<bool> done{false};

  void start() {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50, nullptr));
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    ssio_set_select_timeout(10);
    done = false;
    thread = plat_thread_create(
        [](void *arg) {
          ssclient_run();
          static_cast<loopback_client *>(arg)->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
    ASSERT_TRUE(sim_wait_logins(sim, 1, 8000));
    ASSERT_TRUE(wait_for([] { return ssclient_is_online() != 0; }, 8000));
  }
  // Stops the io thread: before the document manager shuts down, so that
  // no download the thread still runs writes into its freed records.
  void stop_thread() {
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }, 30000));
      plat_thread_join(thread);
      thread = -1;
    }
  }
  void stop() {
    stop_thread();
    if (sim) sim_destroy(sim);
    sim = nullptr;
    ssclient_fini();
  }
};
