// The single-widget pixel fixture.
#include "widgetpix.h"

#include "lib/gfx.h"
#include "lib/gmap.h"

int WidgetPixelTest::queued = 0;

static int count_queue(widget *, const rect *, widget_update_fn, int) {
  WidgetPixelTest::queued++;
  return 0;
}

void WidgetPixelTest::SetUpTestSuite() {
  AtlasPixelTest::SetUpTestSuite();
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
}

void WidgetPixelTest::TearDownTestSuite() {
  gmap_fini();
  AtlasPixelTest::TearDownTestSuite();
}

void WidgetPixelTest::SetUp() {
  AtlasPixelTest::SetUp();
  old_queue_ = widget_set_queue(count_queue);
  queued = 0;
}

void WidgetPixelTest::TearDown() {
  gfx_flush();
  for (widget *w : made) widget_delete(w);
  made.clear();
  widget_set_queue(old_queue_);
}
