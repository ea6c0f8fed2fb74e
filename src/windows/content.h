// The content kinds a market window shows, one child of each per window,
// and the tool panels beside them. Each kind is a widget class registered
// under its own name; the frame hands a kind its subject and reads nothing
// back. Main thread.
//
// Every kind keeps the instrument it was last given and counts the calls;
// a kind built in its own module takes the instrument through its class's
// set_instr. The tool panels are made by name (`toolpanel_new`).
#pragma once

#include <cstdint>

#include "term/terminal.h"  // the terminal kind is the terminal widget itself
#include "ui/container.h"

struct instr;

// Every content kind is a bin: a kind that holds a widget of its own (a
// chart, a terminal) has it as its one child filling it; the others have
// none.
struct content : bin {
  const char *name;  // the class name
  instr *instrument; // the last instrument given, or null
  uint32_t given;    // how many times a subject was given
  uint32_t restyled; // how many times the frame told it of a new selection
  int32_t req_h;     // the height it asks for (tool panels)
};

// The class record of the content kinds: a kind built in its own module
// takes its subject through set_instr (null: the subject is only kept).
struct content_class : container_class {
  void (*set_instr)(widget *self, instr *in);
};

// The "content" class; a kind of its own registers with it as parent and
// sizeof(content_class) as class size.
typeid_t content_type();
// A new content widget of the named kind (registered on first use).
content *content_new(widget *parent, const char *name);
bool content_is(const widget *w);
// Hands the content an instrument (null: none): kept in the record, then
// passed to the kind's set_instr.
void content_set_instr(widget *w, instr *in);

// The content kinds, by module.
widget *quotebar_new(widget *parent);
widget *depthwin_new(widget *parent);
widget *tradelist_new(widget *parent);
widget *tradechart_new(widget *parent);
widget *histnews_new(widget *parent);
widget *newstoday_new(widget *parent);
widget *watchlist_new(widget *parent);
widget *alerts_new(widget *parent);
widget *indexlist_new(widget *parent);
widget *indexchart_new(widget *parent);
widget *searchwin_new(widget *parent);
widget *rsswin_new(widget *parent, int mode);
widget *logwin_new(widget *parent);
widget *docwin_new(widget *parent);
widget *nuchart_new(widget *parent);
widget *optionlist_new(widget *parent);
widget *forexlist_new(widget *parent);
// A tool panel of the named kind bound to its content child.
widget *toolpanel_new(widget *parent, const char *name, widget *content);
// The quote bar's height, which the frame lays out above the content.
int32_t quotebar_height();
