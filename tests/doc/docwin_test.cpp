// The document window over a recording download client and a fake page
// renderer (three pages of 612 x 792 unless a test says otherwise), in
// windows of the document role without a display: the download states it
// keeps, the flashes at either end, a page asked for before the document
// arrives, rotation and fit refused without a view yet kept through load,
// copy and hide/show, hiding cancelling the download and showing starting a
// fresh one, two windows sharing one download with a view each, clicks that
// turn pages as undo steps, the red cross of a withdrawn item, the progress
// box (and its absence in a narrow window) and the bar's width in 64 bits.
#include "windows/docwin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "docsupport.h"
#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "lib/fade.h"
#include "lib/glrecord.h"
#include "lib/splash.h"
#include "plat.h"
#include "ssmodel.h"
#include "style.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"
#include "uitest.h"
#include "undo.h"
#include "screen/screen.h"
#include "windows/histnews.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// The recording client.
struct Request {
  std::string url;
  ss_http_handler handler;
  void *context;
  ssio_progress *progress;
  bool cancelled;
};
std::vector<Request> g_requests;
int32_t fake_request(const char *url, ss_http_handler h, void *c, uint32_t, ssio_progress *p) {
  *p = ssio_progress{};
  g_requests.push_back({url, h, c, p, false});
  return (int32_t)g_requests.size();
}
int fake_cancel(int32_t id) {
  g_requests.at(id - 1).cancelled = true;
  g_requests.at(id - 1).progress->phase = kSsioProgressFailed;
  return 0;
}
void fake_progress(ssio_progress *out, const ssio_progress *p) { *out = *p; }
int fake_log_news(instr *, const uint32_t *) { return 0; }
int fake_log_profile(instr *) { return 0; }
int fake_promise(gui_promise_fn, void *, int) { return 0; }
const docmgr_client kFake = {fake_request, fake_cancel, fake_progress, fake_log_news, fake_log_profile, fake_promise};

// The fake renderer: every file has g_pages pages of g_w x g_h points.
int g_pages = 3;
double g_w = 612, g_h = 792;
void fake_render(pdf_request *r) {
  if (r->page >= g_pages) {
    r->error = 4;
    return;
  }
  r->page_count = g_pages;
  r->page_width = g_w;
  r->page_height = g_h;
  r->bottom_up = 1;
  if (r->pixels) memset(r->pixels, 0x90, (size_t)r->width * r->height * 4);
  r->error = 0;
}

class Docwin : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(root_dir.use(), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(splash_init(), 0);
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(undo_init(), 0);
    g_requests.clear();
    g_pages = 3;
    g_w = 612;
    g_h = 792;
    docmgr_set_client(&kFake);
    docmgr_set_hosts("docs.test", "profiles.test");
    ASSERT_EQ(docmgr_init(), 0);
    pdf_set_renderer(fake_render);
    ASSERT_EQ(pdf_init(), 0);
    ex0 = ssmodel_exchange(0);
    bhp = ssmodel_get_issuer(ex0, "BHP");
    const uint32_t codes[] = {2, 0};
    item = ssmodel_add_news(bhp, 4711, 0x10000000, codes, 0, "Quarterly report");
    withdrawn = ssmodel_add_news(bhp, 4712, 0x10000001, codes, kNewsWithdrawn, "Withdrawn");
  }
  void TearDown() override {
    window_destroy_all();
    pdf_shutdown();
    pdf_set_renderer(nullptr);
    docmgr_shutdown();
    docmgr_set_client(nullptr);
    docmgr_set_hosts(nullptr, nullptr);
    undo_fini();
    ssmodel_fini();
    splash_fini();
    fade_fini();
    WidgetTest::TearDown();
  }
  // A document window in root, shown, 600 x 400.
  window *doc_window() {
    window *w = window_new(root, 0);
    window_set_role(w, kRoleDocument);
    w->r = {0, 0, 600, 420};
    widget *d = w->child[kWinDoc];
    d->r = {0, 20, 600, 400};
    widget_show_subtree(w);
    return w;
  }
  static docwin *doc(window *w) { return static_cast<docwin *>(w->child[kWinDoc]); }
  // Delivers a whole body for request i and ends it.
  void complete(size_t i, size_t bytes = 4096) {
    Request &r = g_requests.at(i);
    std::string body(bytes, 'p');
    ASSERT_EQ(r.handler((const uint8_t *)body.data(), (int32_t)body.size(), r.context, 0), (int32_t)bytes);
    r.progress->received = r.progress->total = (uint32_t)bytes;
    r.progress->phase = kSsioProgressDone;
    docmgr_finish();
  }
  // Polls the views until the window's document knows its pages.
  static bool poll_until(const std::function<bool()> &cond, int ms = 5000) {
    for (int i = 0; i < ms; i++) {
      pdf_poll();
      if (cond()) return true;
      plat_sleep_ms(1);
    }
    return cond();
  }
  window *opened(int pages = 3) {
    g_pages = pages;
    window *w = doc_window();
    size_t asked = g_requests.size();
    docwin_show_news_item(doc(w), bhp, item);
    if (g_requests.size() > asked) complete(g_requests.size() - 1);
    else docmgr_finish();  // read once, it opens from disk
    EXPECT_TRUE(docwin_has_document(doc(w)));
    EXPECT_TRUE(poll_until([&] { return doc(w)->pdf->picture->w > 0; }));
    return w;
  }

  TempDataRoot root_dir{"ambit-docwin"};
  ss_exchange *ex0 = nullptr;
  ss_issuer *bhp = nullptr;
  ss_news *item = nullptr, *withdrawn = nullptr;
};

TEST_F(Docwin, TheDownloadStatesItKeeps) {
  window *w = doc_window();
  docwin *d = doc(w);
  docwin_show_profile(d, bhp);
  EXPECT_EQ(docwin_get_role(d), kDocwinProfile);
  ASSERT_EQ(g_requests.size(), 1u);
  EXPECT_EQ(g_requests[0].url, "http://profiles.test/pdf/osprey/advancedprofile/today/BHP_advancedprofile.pdf");
  struct {
    int32_t client_phase, kept;
    bool request_kept;
  } steps[] = {{0, 0, true}, {2, 2, true}, {3, 3, true}, {kSsioProgressReceiving, 4, true}, {6, 6, false}};
  for (auto &s : steps) {
    g_requests[0].progress->phase = s.client_phase;
    docmgr_finish();
    EXPECT_EQ(d->progress.phase, s.kept) << s.client_phase;
    EXPECT_EQ(d->request != nullptr, s.request_kept) << s.client_phase;
  }
  EXPECT_FALSE(docwin_has_document(d));
  // The same profile again does nothing; another document asks anew.
  docwin_show_profile(d, bhp);
  EXPECT_EQ(g_requests.size(), 1u);
  docwin_show_news_item(d, bhp, item);
  EXPECT_EQ(g_requests.size(), 2u);
  EXPECT_EQ(d->progress.phase, 0) << "ERROR stays only until another document is asked for";
}

TEST_F(Docwin, FlashesAtEitherEnd) {
  struct {
    int pages;
    int32_t from, to;
    int rc;
    const char *flash;
  } cases[] = {
      {3, 2, 3, -1, "Last Page"},   {3, 2, 99, -1, "Last Page"},   {3, 0, 0, -1, "First Page"},
      {3, 0, -4, -1, "First Page"}, {1, 0, 0, -1, "Single Page"}, {1, 0, 1, -1, "Single Page"},
      {3, 0, 1, 0, nullptr},        {3, 2, 0, 0, nullptr},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.pages) + " pages, " + std::to_string(c.from) + " -> " + std::to_string(c.to));
    g_requests.clear();
    window *w = opened(c.pages);
    docwin *d = doc(w);
    ASSERT_EQ(docwin_get_page_count(d), c.pages);
    if (c.from) {
      ASSERT_EQ(docwin_goto_page(d, c.from), 0);
    }
    EXPECT_EQ(docwin_goto_page(d, c.to), c.rc);
    if (c.flash) {
      EXPECT_STREQ(docwin_flash_text(d), c.flash);
      EXPECT_EQ(docwin_get_page(d), c.from) << "nothing changes";
    } else {
      EXPECT_EQ(docwin_flash_text(d), nullptr);
      EXPECT_EQ(docwin_get_page(d), c.to);
    }
    window_destroy_all();
    docmgr_finish();
  }
}

TEST_F(Docwin, APageAskedBeforeTheDocumentIsKeptForIt) {
  window *w = doc_window();
  docwin *d = doc(w);
  docwin_show_news_item(d, bhp, item);
  EXPECT_EQ(docwin_goto_page(d, 7), -1) << "no view yet";
  EXPECT_EQ(d->pending_page, 7u) << "stored unchanged";
  EXPECT_EQ(docwin_goto_page(d, 2), -1);
  complete(0);
  ASSERT_TRUE(d->pdf);
  EXPECT_EQ(d->pdf->want_page, 2u) << "handed to the view when it opens";
  ASSERT_TRUE(poll_until([&] { return pdf_page(d->pdf) == 2; }));
}

TEST_F(Docwin, RotationAndFitRefusedWithoutAViewButKeptThroughLoadCopyAndHiding) {
  window *w = doc_window();
  docwin *d = doc(w);
  docwin_show_news_item(d, bhp, item);
  EXPECT_EQ(docwin_set_rotation(d, 90), -1);
  EXPECT_EQ(docwin_set_fit(d, kDocwinFitHeight), -1);
  EXPECT_EQ(docwin_get_rotation(d), 0) << "keeps nothing";
  EXPECT_EQ(docwin_get_fit(d), 0u);
  complete(0);
  ASSERT_TRUE(poll_until([&] { return d->pdf->picture->w > 0; }));
  {
    LogCapture log;
    EXPECT_EQ(docwin_set_rotation(d, 45), -1);
    EXPECT_TRUE(log.has("can't rotate 45 degrees"));
  }
  ASSERT_EQ(docwin_set_rotation(d, 270), 0);
  ASSERT_EQ(docwin_set_fit(d, kDocwinFitHeight), 0);
  ASSERT_EQ(docwin_goto_page(d, 1), 0);
  EXPECT_EQ(docwin_set_rotation(d, -1), 0);
  EXPECT_EQ(docwin_get_rotation(d), 0) << "270 and a quarter turn";
  ASSERT_EQ(docwin_set_rotation(d, 90), 0);

  // A copy made while its document is still downloading.
  window *w2 = doc_window();
  docwin *d2 = doc(w2);
  docwin_show_news_item(d2, bhp, item);
  docwin_copy(d2, d);
  EXPECT_EQ(docwin_get_rotation(d2), 90);
  EXPECT_EQ(docwin_get_fit(d2), (uint32_t)kDocwinFitHeight);
  EXPECT_EQ(docwin_get_page(d2), 1);

  // Hidden: the download stops, page and rotation stay for the next time.
  widget_hide_subtree(w);
  EXPECT_FALSE(docwin_has_document(d));
  EXPECT_EQ(docwin_get_page(d), 1);
  EXPECT_EQ(docwin_get_rotation(d), 90);
  widget_show_subtree(w);
  EXPECT_EQ(g_requests.size(), 1u) << "read once, it opens from disk";
  docmgr_finish();
  ASSERT_TRUE(d->pdf);
  EXPECT_EQ(d->pdf->want_rotation, 1u);
  EXPECT_EQ(d->pdf->want_page, 1u);
  EXPECT_EQ(d->pdf->want_fit, 1u);
  ASSERT_TRUE(poll_until([&] { return d2->pdf && d2->pdf->want_rotation == 1 && d2->pdf->want_page == 1; }))
      << "the copy's view opened with what it was given";
}

TEST_F(Docwin, HidingCancelsAndShowingAsksAfresh) {
  window *w = doc_window();
  docwin *d = doc(w);
  docwin_show_news_item(d, bhp, item);
  g_requests[0].progress->received = 100;
  g_requests[0].progress->total = 100000;
  widget_hide_subtree(w);
  EXPECT_TRUE(g_requests[0].cancelled);
  EXPECT_EQ(d->request, nullptr);
  widget_show_subtree(w);
  ASSERT_EQ(g_requests.size(), 2u) << "not joined to the dying download";
  docmgr_finish();
  EXPECT_NE(d->progress.phase, 6);
  complete(1);
  EXPECT_TRUE(docwin_has_document(d));
}

TEST_F(Docwin, TwoWindowsShareOneDownloadWithAViewEach) {
  window *a = doc_window(), *b = doc_window();
  docwin_show_news_item(doc(a), bhp, item);
  docwin_show_news_item(doc(b), bhp, item);
  ASSERT_EQ(g_requests.size(), 1u);
  complete(0);
  ASSERT_TRUE(doc(a)->pdf && doc(b)->pdf);
  EXPECT_NE(doc(a)->pdf, doc(b)->pdf);
  EXPECT_STREQ(docwin_get_title(doc(a)), docwin_get_title(doc(b)));
}

TEST_F(Docwin, ClicksTurnPagesAsUndoSteps) {
  window *w = opened(3);
  docwin *d = doc(w);
  uint32_t before = (uint32_t)undo_count();
  d->cls->release(d, 100, d->r.y + d->r.h / 2, 1);  // the middle counts as the lower half
  EXPECT_EQ(docwin_get_page(d), 1);
  EXPECT_EQ((uint32_t)undo_count(), before + 1);
  d->cls->release(d, 100, d->r.y + 10, 1);
  EXPECT_EQ(docwin_get_page(d), 0);
  d->cls->release(d, 100, d->r.y + 10, 1);  // before the first page: nothing, no step
  EXPECT_EQ(docwin_get_page(d), 0);
  EXPECT_STREQ(docwin_flash_text(d), "First Page");
  EXPECT_EQ((uint32_t)undo_count(), before + 2);
  d->cls->release(d, 100, d->r.y + 300, 1);
  ASSERT_EQ(docwin_get_page(d), 1);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(docwin_get_page(d), 0) << "undo returns to the page before the click";
  d->cls->release(d, 100, d->r.y + 300, 3);  // other buttons do nothing
  EXPECT_EQ(docwin_get_page(d), 0);
}

TEST_F(Docwin, WithdrawnItemsAreCrossedOut) {
  for (ss_news *it : {item, withdrawn}) {
    window *w = doc_window();
    docwin *d = doc(w);
    docwin_show_news_item(d, bhp, it);
    complete(g_requests.size() - 1);
    ASSERT_TRUE(poll_until([&] { return d->pdf->picture->w > 0; }));
    gfx_reset();
    glrecord_scope rec;
    d->cls->draw(d);
    EXPECT_EQ(count_calls("Color4ub(255,0,0,200)") > 0, it == withdrawn) << glrecord_text();
    EXPECT_EQ(count_calls("LineWidth(1.5)") > 0, it == withdrawn);
    window_destroy_all();
    docmgr_finish();
  }
}

TEST_F(Docwin, TheProgressBoxAndItsBar) {
  ASSERT_EQ(style_init(), 0);
  ASSERT_EQ(style_select(0), 0);
  struct {
    int32_t width;
    bool box;
  } cases[] = {{600, true}, {60, false}};
  for (auto &c : cases) {
    SCOPED_TRACE(c.width);
    window *w = doc_window();
    docwin *d = doc(w);
    d->r.w = c.width;
    docwin_show_news_item(d, bhp, item);
    Request &r = g_requests.back();
    r.progress->phase = kSsioProgressReceiving;
    r.progress->received = 3000000;
    r.progress->total = 9000000;
    r.progress->rate = 120000;
    r.progress->seconds_left = 50;
    docmgr_finish();
    gfx_reset();
    glrecord_scope rec;
    d->cls->draw(d);
    EXPECT_EQ(count_calls("Color4ub(0,0,0,80)") > 0, c.box) << glrecord_text();
    EXPECT_EQ(count_calls("Color4ub(255,255,255,160)") > 0, c.box) << "the bar's gradient";
    window_destroy_all();
    docmgr_finish();
  }
  style_fini();

  struct {
    int32_t box;
    uint32_t received, total;
    int32_t bar;
  } bars[] = {
      {202, 0, 100, 0},
      {202, 50, 100, 100},
      {202, 100, 100, 200},
      {202, 300, 100, 200},                       // more than the total: full
      {202, 1610612736u, 2147483648u, 150},       // 1.5 of 2 GB: no 32-bit overflow
      {1002, 4000000000u, 4294967295u, 931},
      {202, 10, 0, 0},
  };
  for (auto &b : bars)
    EXPECT_EQ(docwin_progress_bar_width(b.box, b.received, b.total), b.bar) << b.received << "/" << b.total;
}

}  // namespace

namespace {

TEST_F(Docwin, ConfigurationRoundTripKeepsPageRotationAndFit) {
  window *w = opened(3);
  docwin *d = doc(w);
  ASSERT_EQ(docwin_goto_page(d, 2), 0);
  ASSERT_EQ(docwin_set_rotation(d, 180), 0);
  ASSERT_EQ(docwin_set_fit(d, kDocwinFitHeight), 0);
  ASSERT_EQ(config_init(), 0);
  config_out_reset();
  docwin_config_save(d);
  std::string text = config_out_buffer(nullptr);
  EXPECT_EQ(text,
            "docwin.role newsitem\ndocwin.page 2\ndocwin.rotation 180\ndocwin.fit 2\ndocwin.news_item 4711\n");

  // Loaded into a window that is not shown yet: nothing is open, and what
  // the keys say waits for the view.
  window *fresh = window_new(root, 0);
  window_set_role(fresh, kRoleDocument);
  fresh->r = {0, 0, 600, 420};
  fresh->child[kWinDoc]->r = {0, 20, 600, 400};
  window_set_instrument(fresh, bhp);
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    ASSERT_EQ(config_parse_line(text.c_str() + start, (int32_t)(nl - start)), 0);
  docwin *f = doc(fresh);
  docwin_config_load(f);
  EXPECT_EQ(docwin_get_role(f), kDocwinNewsItem);
  ASSERT_TRUE(docwin_get_news_item(f));
  EXPECT_EQ(docwin_get_news_item(f)->number, 4711u);
  EXPECT_EQ(docwin_get_rotation(f), 180);
  EXPECT_EQ(docwin_get_fit(f), (uint32_t)kDocwinFitHeight);
  widget_show_subtree(fresh);
  docmgr_finish();  // on disk since the first window read it
  ASSERT_TRUE(f->pdf);
  EXPECT_EQ(f->pdf->want_page, 2u);
  EXPECT_EQ(f->pdf->want_rotation, 2u);
  EXPECT_EQ(f->pdf->want_fit, 1u);
  config_shutdown();
}

}  // namespace

namespace {

TEST_F(Docwin, PageKeysTurnPagesAtTheEndsOfTheScroll) {
  window *w = opened(3);
  docwin *d = doc(w);
  key_event down{1010, 0, 0}, up{1009, 0, 0};
  window_set_row_count(w, 5000);
  window_select_row(w, 0);
  d->cls->key_press(d, &down);
  EXPECT_EQ(docwin_get_page(d), 0) << "not scrolled to the end: the window scrolls";
  window_select_row(w, (int32_t)window_get_row_count(w));
  ASSERT_EQ(window_get_selection(w), window_get_row_count(w));
  d->cls->key_press(d, &down);
  EXPECT_EQ(docwin_get_page(d), 1);
  EXPECT_EQ(window_get_selection(w), 0u) << "a new page starts at its top";
  d->cls->key_press(d, &up);
  EXPECT_EQ(docwin_get_page(d), 0);
  d->cls->key_press(d, &up);
  EXPECT_STREQ(docwin_flash_text(d), "First Page");
}

TEST_F(Docwin, DraggingScrollsWithinThePicture) {
  window *w = opened(3);
  docwin *d = doc(w);
  ASSERT_EQ(docwin_set_fit(d, kDocwinFitWidth), 0);
  ASSERT_TRUE(poll_until([&] { return d->pdf->picture->h == 776; }))  // 612 x 792 at 600 wide
      << d->pdf->picture->h;
  drag_record rec{};
  rec.w = d;
  ASSERT_EQ(d->cls->drag_begin(d, 100, d->r.y + 100, 1, &rec), 1);
  struct {
    int32_t to, scroll;
  } moves[] = {{250, 150}, {120, 20}, {0, 0}, {2000, 376}};
  for (auto &m : moves) {
    d->cls->drag_motion(d, 100, d->r.y + m.to, 1, &rec);
    gfx_reset();
    glrecord_scope rec_gl;
    d->cls->draw(d);
    EXPECT_EQ(d->scroll, m.scroll) << m.to;
  }
  (void)w;
}

}  // namespace

namespace {

TEST_F(Docwin, AnnouncementsOpenInThePopupOrInTheirOwnWindowUnderTheZoom) {
  ASSERT_EQ(config_init(), 0);
  ASSERT_EQ(screen_init(), 0);
  screen_select(0);
  window *w = doc_window();
  window_set_role(w, kRoleHistnews);
  widget *list = w->child[kWinHistnews];

  // Without the zoom: the popup document window, at page 0.
  news_open_item(list, bhp, item);
  window *p = screen_popup_document();
  ASSERT_TRUE(p);
  EXPECT_EQ(news_last_open()->popup, 1);
  EXPECT_EQ(window_get_role(p), (uint32_t)kRoleDocument);
  ASSERT_TRUE(docwin_get_news_item(p->child[kWinDoc]));
  EXPECT_EQ(docwin_get_news_item(p->child[kWinDoc])->number, 4711u);
  EXPECT_EQ(docwin_get_profile_issuer(p->child[kWinDoc]), static_cast<instr *>(bhp));
  EXPECT_TRUE(screen_bars_shown() & BAR_POPUP_DOCUMENT);
  EXPECT_EQ(window_get_role(w), (uint32_t)kRoleHistnews) << "the list's own window stays";

  // Under the zoom: the window's own document child, one undo step.
  screen_show_bars(BAR_ZOOM);
  int before = undo_count();
  news_open_item(list, bhp, withdrawn);
  EXPECT_EQ(news_last_open()->popup, 0);
  EXPECT_EQ(window_get_role(w), (uint32_t)kRoleDocument);
  ASSERT_TRUE(docwin_get_news_item(doc(w)));
  EXPECT_EQ(docwin_get_news_item(doc(w))->number, 4712u);
  EXPECT_GT(undo_count(), before);
  ASSERT_EQ(g_requests.size(), 1u) << "only the shown window asks for its document";
  EXPECT_NE(g_requests[0].url.find("N=4712"), std::string::npos) << g_requests[0].url;
  screen_shutdown();
  config_shutdown();
}

}  // namespace
