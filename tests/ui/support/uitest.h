// Shared support of the toolkit's tests: the runtime and the class registry
// started once per test process, and `probe`, a leaf widget with a set
// requested size and fill colour that logs what the toolkit calls on it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/box.h"
#include "ui/widget.h"

// The runtime (quiet log with its memory copy) and object_init, before the
// first test: ::testing::AddGlobalTestEnvironment(new ToolkitEnv).
class ToolkitEnv : public ::testing::Environment {
 public:
  void SetUp() override;
};

// A leaf widget for tests. Its reqsize answers `req`; its draw fills its
// rect with `colour` (when not 0) through the drawing primitives. Every call
// below appends "<name>:<event>" to the log installed with probe_set_log:
// show (show_children), hide (hide_children), draw, geometry, press,
// release, key, predelete, fini.
struct probe : widget {
  size req;
  uint32_t colour;
  const char *name;
  int keeps_press;  // 1: press is handled here and not passed on
};

typeid_t probe_type();
probe *probe_new(widget *parent, const char *name, int32_t w, int32_t h, uint32_t colour = 0);
// Where probes log; null stops logging.
void probe_set_log(std::vector<std::string> *log);
// Appends an entry to the installed log (for test classes of their own).
void probe_note(const char *name, const char *event);

// A fixture for widgets that measure text, used without a window: the suite
// loads the built-in atlas (its font metrics; no GL), the drawing-list cache
// and the timers; each test drops redraw requests, has a shown vbox `root`
// to put widgets in, and ends with no focus and the root deleted.
class WidgetTest : public ::testing::Test {
 public:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 protected:
  void SetUp() override;
  void TearDown() override;
  hbox *root = nullptr;  // a vbox (the box header's one record for both)

 private:
  widget_queue_fn old_queue_ = nullptr;
};
