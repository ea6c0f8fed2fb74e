// The mini quote: a compact quote cell, an instrument's code and prices in
// one line, for one instrument or cycling through a scan's results or a
// watchlist's items. The watch bar holds up to 25 (kind 0); the minibar two
// (kind 1). Instruments, scans and watchlists are dropped on it; dragging
// it onto a remover empties or removes it. Main thread only.
#pragma once
#include <cstdint>

#include "ui/widget.h"

struct instr;
struct scan;
struct wlist;

constexpr uint32_t kMiniQuoteMask = 0x10db10;  // market notifications of the shown instrument
constexpr int kMiniQuotePieces = 5;

enum : int { MINI_QUOTE_BAR = 0, MINI_QUOTE_MINIBAR = 1 };

// Pieces of the line, as bits of mini_quote::shown.
enum : uint32_t {
  MQ_CODE = 0x1, MQ_BID = 0x2, MQ_OFFER = 0x4, MQ_LAST = 0x8, MQ_CHANGE = 0x10,
};

struct mini_quote_piece {
  char text[24];
  uint32_t bit;
  uint32_t colour;
  int32_t x, w;  // laid out: left edge and width
};

struct mini_quote : widget {
  int32_t kind;
  instr *in;          // the instrument shown
  scan *sc;           // the scan cycled through, or null
  instr *current;     // the current instrument of the cycle
  widget *chart;      // the day chart under the line (owned, outside the widget tree)
  int32_t need_layout;
  uint32_t change_colour;
  int32_t change_sign;
  int32_t inside;     // the pointer is inside: the cycle pauses
  int32_t previewing; // the hover preview is up for this cell
  // The laid-out line.
  int32_t font;
  int32_t baseline;
  int32_t count;
  mini_quote_piece pieces[kMiniQuotePieces];
  uint32_t shown;     // MQ_* bits of the pieces drawn
  uint32_t layouts;   // times laid out (for checks)
};

typeid_t mini_quote_type();
bool mini_quote_is(const widget *w);
mini_quote *mini_quote_new(widget *parent, int32_t kind);
instr *mini_quote_get_instr(const widget *w);
scan *mini_quote_get_scan(const widget *w);
// Does nothing when it shows that instrument already without a scan; else
// binds it and drops the scan.
void mini_quote_set_instr(widget *w, instr *in);
void mini_quote_bind(widget *w, instr *in, int drop_scan);
void mini_quote_set_scan(widget *w, scan *s);
void mini_quote_set_wlist(widget *w, wlist *wl);
// Empties the cell: scan, instrument and chart dropped.
void mini_quote_clear(widget *w);
// One step of the cycle.
void mini_quote_next(widget *w);
// Lays the line out now (drawing does it when marked).
void mini_quote_layout(widget *w);

// A dropped object (drag kinds 1 stock, 2 index, 3 issuer, 4 scan) at x.
// Kind 0 passes drops on its outer thirds to its watch bar. 1 when taken.
int mini_quote_drop_object(widget *w, int32_t x, uint32_t kind, instr *in, scan *s);
// Dragged onto a remover: kind 1 empties itself, kind 0 leaves its bar (each
// recorded for undo first).
void mini_quote_removed(widget *w);

// The one-line layout, apart from the widget so it can be checked with any
// measure: pieces in order (code first), the width available and the gap;
// measure(text) gives a text's width. Returns the MQ_* bits kept: stocks
// drop bid and offer first, then the change, then the last price; indices
// the change, then the value; nothing when the code alone does not fit.
using mini_quote_measure_fn = int32_t (*)(const char *text, void *arg);
uint32_t mini_quote_fit(mini_quote_piece *pieces, int32_t n, bool index, int32_t width, int32_t gap,
                        mini_quote_measure_fn measure, void *arg);
// The font of the sample "XXXYYY 123.45" fitted to width: the style's
// fonts of text kinds 8, 5, 0 and 2 in that order, the last when none fits.
int32_t mini_quote_pick_font(int32_t width);

// What is being dragged, as the drop operations read it.
struct mini_quote_drag {
  uint32_t kind;  // drag kind: 1 stock, 2 index, 3 issuer, 4 scan, 5 news item ...
  instr *in;      // the instrument (the issuer for kinds 3 and 5)
  scan *s;        // kind 4
};
mini_quote_drag mini_quote_dragged();
// Records what a change of w is about to change: a kind-1 cell itself, the
// whole watch bar for a kind-0 cell.
void mini_quote_record_undo(widget *w);
// Installs the undo ops of a minibar cell's record (done on first use).
void mini_quote_register_undo();

// What a cell shows, as undo keeps it: nothing, an instrument, a
// registered scan (by id), a watchlist (by id) or a temporary scan (a copy
// the state owns).
struct mini_quote_state {
  int32_t what;  // 0 empty, 1 instrument, 2 registered scan, 3 watchlist, 4 temporary scan
  instr *in;
  scan *copy;
  int32_t id;
};
void mini_quote_state_save(const widget *w, mini_quote_state *out);
// Puts it back: 0, or -1 when its scan or watchlist is not there (now).
int mini_quote_state_apply(widget *w, const mini_quote_state *st);
void mini_quote_state_free(mini_quote_state *st);

// Test seam: the watch bar's removal of a cell runs now instead of at the
// next turn of the frame loop.
void mini_quote_set_remove_now(int on);
