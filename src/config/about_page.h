// The about page of the configuration dialog: a cycle of fading slides, the
// current site's own (when it has a logo), the maker's and the company
// profile provider's, each an image over a few centred lines; a "www." line
// is a link to that web page. Main thread.
#pragma once
#include <cstdint>

#include "lib/gfx.h"
#include "lib/gmap.h"
#include "ui/widget.h"

struct about_page : widget {
  gmap text;             // the slide's laid-out lines
  int32_t slide;         // -1 none
  int32_t image;         // atlas image, -1 none
  const char *const *lines;  // null-ended
  colour fade, drawn;    // the fade colour and the one last drawn
  int32_t timer;         // -1 none
  rect link;             // the "www." line's box; w 0 none
  int dirty;
};

// The maker's and the data provider's names and web addresses.
extern const char kAboutMaker[], kAboutMakerWeb[], kAboutProvider[], kAboutProviderWeb[];

typeid_t about_page_type();
about_page *about_page_new(widget *parent);
// The slide shown t seconds after the page was shown (0 the site's, 1 the
// maker's, 2 the provider's) and the fade's alpha then.
int32_t about_slide_at(double t, int site_logo);
int32_t about_alpha_at(double t);
// The lines of a slide (null-ended) and its image; slide 0 uses the site's.
const char *const *about_slide_lines(int32_t slide);
int32_t about_slide_image(int32_t slide);
// Advances the page to t seconds; 1 when it is to be redrawn.
int about_page_step(about_page *p, double t);
