// The document window: the content of a window in the document role. It
// shows one PDF, the company profile of an instrument or the document of
// one announcement: asks the download manager for the file, shows the
// download's state and progress meanwhile, then opens a PDF view and draws
// its page. Pages turn by clicks, Page Up / Page Down and the tool panel;
// the page scrolls by dragging and through the window's rows. Main thread.
#pragma once

#include <cstdint>

#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "lib/fade.h"
#include "ssmodel.h"
#include "windows/content.h"

enum : uint32_t { kDocwinNone = 0, kDocwinProfile = 1, kDocwinNewsItem = 2 };
enum : uint32_t { kDocwinFitAuto = 0, kDocwinFitWidth = 1, kDocwinFitHeight = 2 };

struct docwin : content {
  uint32_t role;      // kDocwin*
  instr *subject;     // the instrument shown (profile or news)
  ss_news *news_item; // &item_copy while a news item is shown
  docmgr_req *request;
  ssio_progress progress;  // the last one the download reported
  pdf_view *pdf;
  uint32_t pending_page;  // the page to show once open; kept while hidden
  uint32_t fit;           // kDocwinFit*
  int32_t scroll;
  int32_t drag_offset;
  fade_value flash;
  int32_t flash_timer;
  const char *flash_text;
  ss_news item_copy;
  // Kept for the view to come: the rotation (quarter turns) and fit given
  // while none was open (loading, copying) or when it closed on hiding.
  uint32_t want_rotation;
  uint32_t after_draw;  // bits of the work queued after the draw
  int32_t row_limit;    // the row count the after-draw work sets
  fade_owner owner;
  docwin *prev_live, *next_live;  // every document window, for the poll
};

typeid_t docwin_type();
widget *docwin_new(widget *parent);
bool docwin_is(const widget *w);

uint32_t docwin_get_role(widget *w);
instr *docwin_get_profile_issuer(widget *w);
const ss_news *docwin_get_news_item(widget *w);
int docwin_has_document(widget *w);
void docwin_show_profile(widget *w, instr *in);
void docwin_show_news_item(widget *w, instr *in, const ss_news *item);
// The page wanted of the view (0 without one), and the page count.
int32_t docwin_get_page(widget *w);
int32_t docwin_get_page_count(widget *w);
// 0, or -1 when the page is not there (a flash then says so) or no view is
// open (the page is then kept for it).
int docwin_goto_page(widget *w, int32_t page);
const char *docwin_get_title(widget *w);  // the file, or null
// Degrees 0, 90, 180, 270.
int32_t docwin_get_rotation(widget *w);
// -1 without a view; degrees 0/90/180/270, or -1 for the next quarter turn.
int docwin_set_rotation(widget *w, int32_t degrees);
uint32_t docwin_get_fit(widget *w);
int docwin_set_fit(widget *w, uint32_t mode);  // -1 without a view
// 1, 0, or -1 while the page's size is not known.
int docwin_fits_height(widget *w);
int docwin_is_landscape(widget *w);
bool docwin_fit_is_width(widget *w);
void docwin_get_page_size(widget *w, int32_t *width, int32_t *height);
// Copies the document state of `from` (the window copy, after role and
// instrument).
void docwin_copy(widget *w, widget *from);
// Asks for the document of the current role again.
void docwin_request(widget *w);

// Configuration keys inside the window's block ("docwin.*"). Loading reads
// them below the current cell, shows the window's subject again (the
// instrument the window loaded before) and restores page, rotation and fit.
void docwin_config_save(widget *w);
void docwin_config_load(widget *w);

// The progress bar's width in a box `box_w` wide.
int32_t docwin_progress_bar_width(int32_t box_w, uint32_t received, uint32_t total);
// The flash's text, or null while none runs.
const char *docwin_flash_text(widget *w);
