// A scripted user for tests under Xvfb: steps that the frame loop runs on a
// timer. Each step waits for its condition (on every pass of the loop, under
// a deadline) and then acts; a step not ready in time ends the loop with the
// failure. Header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plat.h"
#include "ui/gui.h"

struct app_step {
  const char *what;
  std::function<bool()> ready;
  std::function<void()> act;  // may be null
};

struct app_script {
  static constexpr int64_t kStepMs = 20000;
  std::vector<app_step> steps;
  size_t at = 0;
  int64_t deadline = 0;
  std::string failed;
  std::string diag;  // what a waiting step last saw, shown when it times out

  static int tick(void *arg, uint32_t, int64_t, float) {
    auto *p = static_cast<app_script *>(arg);
    if (!p->failed.empty() || p->at >= p->steps.size()) return 1;
    app_step &s = p->steps[p->at];
    if (!p->deadline) p->deadline = plat_ms() + kStepMs;
    if (s.ready()) {
      if (s.act) s.act();
      p->at++;
      p->deadline = 0;
      p->diag.clear();
    } else if (plat_ms() > p->deadline) {
      p->failed = std::string("timed out waiting: ") + s.what + (p->diag.empty() ? "" : " (" + p->diag + ")");
      gui_set_quitting();
    }
    return 1;
  }
};
