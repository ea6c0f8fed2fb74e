// The title bar of a market window: one line naming what the window shows
// (the instrument's name, or its code in a linked window, or a text the
// role sets), the tool panel's summary as a caption, the exchange's icon
// away from the default exchange, and on the right the stock's quote basis
// and session state and an icon for the issuer's flags. It follows the
// model's changes of what it shows, drags the window's subject, and a click
// on the issuer icon opens the issuer's latest news. Main thread only.
#pragma once

#include <cstdint>

#include "ui/widget.h"

struct instr;
struct ss_stock;
struct ss_index;
struct ss_issuer;
struct ss_news;

constexpr int kTitleText = 200;  // bytes of text and caption, with the NUL

struct titlebar : widget {
  char text[kTitleText];
  char caption[kTitleText];
  int relayout;
  int32_t exchange_number;  // -1 none
  rect state_hit;           // the session-state text as last drawn
  rect basis_hit;           // the quote-basis text as last drawn
  rect title_hit;           // the title text as last drawn (w 0: dropped)
  rect caption_hit;         // the caption as last drawn (w 0: dropped)
  rect exchange_hit;        // the exchange icon as last drawn (w 0: none)
  rect issuer_hit;          // the issuer's flag icon as last drawn (w 0: none)
  ss_stock *stock;
  ss_index *index;
  ss_issuer *issuer;
  const ss_news *news_item;  // a document window's item, shown after the issuer's name
  uint32_t changes;  // changes delivered (for the window to see it follow)
};

typeid_t titlebar_type();
titlebar *titlebar_new(widget *parent);
void titlebar_set_instr(titlebar *t, instr *in);
// Clears the instrument and shows text (at most 199 characters).
void titlebar_set_text(titlebar *t, const char *text);
// The issuer and, with a headline, ": " and the item's headline after its
// long name (a document window's announcement).
void titlebar_set_news_item(titlebar *t, instr *issuer, const ss_news *item);
void titlebar_set_caption(titlebar *t, const char *text);
void titlebar_clear_caption(titlebar *t);
const char *titlebar_get_text(const titlebar *t);
// The instrument's short name (long_only 0 and not empty), else its long
// name, else its code; on exchange 0 a code with "_CX" or "_PM" gets its
// venue appended. At most 199 characters and the NUL into dest[200].
void titlebar_instr_name(char *dest, const instr *in, int long_only);
// The bar's height: the style's line height x 5 / 4.
int32_t titlebar_height();
// The longest leading run of whole words of text (cut at blanks) whose width
// in font is at most room; returns its length (0 when no word fits).
int titlebar_shorten(const char *text, int32_t room, int32_t font);
// The quote-basis text drawn on the right ("" when none).
const char *titlebar_basis_text(const titlebar *t);
// The state text drawn on the right ("" when none), as the last format made it.
const char *titlebar_state_text(const titlebar *t);
