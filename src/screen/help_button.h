// The toolbar's "Help" button and the hover help: dragging the button over
// the program's widgets shows in the tooltip what the thing under the
// pointer is (for list windows, the definition of the column there). A table
// maps a widget type name to the function that writes that tooltip.
// Main thread.
#pragma once

#include <cstdint>

#include "ui/button.h"

constexpr int kHelpTipRows = 12;
constexpr int kHelpTipLine = 256;  // bytes of each tooltip line

// Writes the tooltip's two lines (each kHelpTipLine bytes, emptied before)
// for widget w at pointer (x, y).
using help_tip_fn = void (*)(widget *w, int32_t x, int32_t y, char *line1, char *line2);
struct help_tip_row {
  const char *type;
  help_tip_fn fn;
};
extern const help_tip_row kHelpTips[kHelpTipRows];

typeid_t help_button_type();
// A "Help" button of look `look`, draggable, with the callback, context and
// id given (the toolbar passes its own callback and id 46).
button *help_button_new(widget *parent, const button_colours *look, button_fn callback, void *context, int32_t id);

// Fills the tooltip for w at (x, y); 1 when w's type has a row, else 0.
int help_tip_for(widget *w, int32_t x, int32_t y);
// The first widget from w up its ancestors that has a row (its tooltip
// filled), or null after setting the tooltip to "Help".
widget *help_tip_walk(widget *w, int32_t x, int32_t y);
// Forgets the widget served last (the drag's end does).
void help_tip_forget(void);
// The two lines as last written (for checks).
const char *help_tip_line(int n);
