// The feed content of a market window: mode 0 the RSS feed, mode 1 the
// search-engine feed. Minimal version: an empty content widget of its own
// class per mode that keeps the subject it is given.
#include "windows/content.h"

widget *rsswin_new(widget *parent, int mode) { return content_new(parent, mode ? "rsswin1" : "rsswin"); }
