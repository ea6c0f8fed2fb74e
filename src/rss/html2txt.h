// HTML to text for feed items: plain text with line breaks, or a word layout
// wrapped to a width into drawing lists, with a clickable rectangle per
// linked word. Not an HTML parser: one pass over the text with a handful of
// tags and entities. User-interface thread only; both functions share one
// buffer, so a result is valid until the next call of either.
#pragma once

#include <cstdint>

struct gmap;
struct rect;

constexpr int kHtml2txtUrlLen = 256;

struct html2txt_link {
  char url[kHtml2txtUrlLen];  // at most 255 characters
  int32_t x, y, width, height;
  html2txt_link* next;
};

int html2txt_init(void);  // 0 / -1
void html2txt_shutdown(void);

// Plain text ending in exactly one newline, in the shared buffer; the input
// itself when the buffer can't grow.
const char* html2txt_plain(const char* html);

// Lays the html out at (x, y) wrapped to width: words outside links into
// text, words of links into link_list. *links is the list of the previous
// layout of the same text (returned to the pool) and receives the new one,
// most recent first. *lines receives the number of lines used.
void html2txt_links(gmap* text, gmap* link_list, const char* html, int32_t x, int32_t y, int32_t font, int32_t width,
                    int32_t line_height, int32_t* lines, html2txt_link** links);
// Returns every record of a list to the pool.
void html2txt_links_free(html2txt_link** links);

// Whether a link may be handed to the opener: http and https only.
bool html2txt_url_is_openable(const char* url);

// The measuring seam of the layout (tests use a fixed advance): lay a word
// out at (x, y) into a list and report its rectangle; the list's count and
// truncation, for taking a word back; the width of a text. Null restores
// the font's functions.
struct html2txt_metric {
  int (*layout)(gmap* m, const char* word, int32_t x, int32_t y, int32_t font, rect* out);
  int32_t (*count)(const gmap* m);
  void (*set_count)(gmap* m, int32_t n);
  int32_t (*width)(const char* text, int32_t font);
};
void html2txt_set_metric(const html2txt_metric* metric);
