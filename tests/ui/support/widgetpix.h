// Pixel tests of single widgets over the built-in atlas: drawing lists
// ready, redraw requests counted instead of queued (there is no gui
// window), the widgets a test made deleted after it, and no primitive left
// open for the next test's clear.
#pragma once

#include <vector>

#include "atlasref.h"
#include "ui/widget.h"

class WidgetPixelTest : public AtlasPixelTest {
 public:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  // Redraw requests since the test began (or the count was reset).
  static int queued;

 protected:
  std::vector<widget *> made;  // deleted after the test
  void SetUp() override;
  void TearDown() override;

 private:
  widget_queue_fn old_queue_ = nullptr;
};
