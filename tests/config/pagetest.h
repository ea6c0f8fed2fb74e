// Shared support of the settings pages' checks: a fake market-data client
// that records what a page asks of it, the toolkit without a window, the
// configuration module on a temporary data root, and small helpers that
// click a button and edit a text field the way the widgets report it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/page_client.h"
#include "localdata.h"
#include "ui/button.h"
#include "ui/textbox.h"
#include "uitest.h"

struct FakeClient {
  int online = 0;
  std::string login = "oldpass";  // empty: no login password
  int refuse_queue = 0;           // change_password fails to queue
  std::vector<std::string> sent;  // passwords handed over
  std::vector<int32_t> timeouts;  // reconnect time-outs handed over
};

inline FakeClient g_fake;

inline const page_client *fake_client() {
  static const page_client c = {
      [] { return g_fake.online; },
      []() -> const char * { return g_fake.login.empty() ? nullptr : g_fake.login.c_str(); },
      [](const char *text) {
        if (g_fake.refuse_queue) return -1;
        g_fake.sent.push_back(text);
        return 0;
      },
      [](int32_t seconds) { g_fake.timeouts.push_back(seconds); },
  };
  return &c;
}

// A press and a release inside the button, as the pointer gives them; an
// insensitive button ignores both.
inline void click(button *b) {
  if (b->r.w <= 0 || b->r.h <= 0) b->r = {1, 1, 20, 10};
  const int32_t x = b->r.x + b->r.w / 2, y = b->r.y + b->r.h / 2;
  b->cls->press(b, x, y, 1);
  b->cls->release(b, x, y, 1);
}

// New text in a field and the edit reported to the field's owner, as the
// text box does after a key changed its text; a read-only field takes none.
inline void type(textbox *t, const char *text) {
  if (!textbox_is_editable(t)) return;
  textbox_set_text(t, text);
  if (t->callback) t->callback(t, TEXTBOX_CHANGED, t->arg, t->id);
}

inline bool active(const button *b) { return (b->state & BUTTON_ACTIVE) != 0; }
inline bool sensitive(const button *b) { return (b->state & BUTTON_INSENSITIVE) == 0; }

class PageTest : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    char tmpl[] = "/tmp/ambit-pages-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    base_ = tmpl;
    ASSERT_EQ(0, localdata_init());
    ASSERT_EQ(0, localdata_set_root((base_ + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    g_fake = FakeClient{};
    page_client_set(fake_client());
  }
  void TearDown() override {
    WidgetTest::TearDown();
    page_client_set(nullptr);
    config_shutdown();
    localdata_fini();
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  // Puts a page into the shown root, which shows it.
  template <class T>
  T *shown(T *page) {
    EXPECT_NE(page, nullptr);
    if (page) container_cls(root)->add(root, page);
    widget_show(page);
    return page;
  }
  // Takes a page out of the root and deletes it.
  void drop(widget *page) {
    container_cls(root)->remove(root, page);
    widget_delete(page);
  }
  std::string base_;
};
