// The depthwin content of a market window. Minimal version: an empty content
// widget of its own class that keeps the subject it is given.
#include "windows/content.h"

widget *depthwin_new(widget *parent) { return content_new(parent, "depthwin"); }
