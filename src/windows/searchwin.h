// The search window: instruments whose code or name holds a keyword, on
// the chosen exchanges, in a grid of mode 4. Setters coalesce: each queues
// at most one rerun before the next redraw. Main thread only.
#pragma once

#include "windows/watchlist.h"

constexpr int kSearchKeyword = 32;  // 31 characters and the terminator

struct searchwin : watchlist {
  int exchange[4];
  char keyword[kSearchKeyword];
  char keyword_upper[kSearchKeyword];
  uint32_t derivatives;          // 1
  uint32_t all_venues;           // 0
  uint32_t indices;              // 1
  uint32_t news_only;            // 0
  uint32_t sensitive_news_only;  // 0
  uint32_t traded_only;          // 0
  uint32_t quoted_only;          // 0
  int rerun_queued;
  uint32_t reruns;               // reruns made
};

typeid_t searchwin_type();
searchwin *searchwin_cast(widget *w);
void searchwin_rerun(searchwin *s);
// The scan's instrument-class bits of the current flags.
uint32_t searchwin_class_bits(const searchwin *s);

void searchwin_set_traded_only(searchwin *s, uint32_t on);
void searchwin_set_quoted_only(searchwin *s, uint32_t on);
void searchwin_set_indices(searchwin *s, uint32_t on);
void searchwin_set_derivatives(searchwin *s, uint32_t on);
void searchwin_set_all_venues(searchwin *s, uint32_t on);
void searchwin_set_news_only(searchwin *s, uint32_t on);
void searchwin_set_sensitive_news_only(searchwin *s, uint32_t on);
uint32_t searchwin_get_traded_only(const searchwin *s);
uint32_t searchwin_get_quoted_only(const searchwin *s);
uint32_t searchwin_get_indices(const searchwin *s);
uint32_t searchwin_get_derivatives(const searchwin *s);
uint32_t searchwin_get_all_venues(const searchwin *s);
uint32_t searchwin_get_news_only(const searchwin *s);
uint32_t searchwin_get_sensitive_news_only(const searchwin *s);
void searchwin_set_keyword(searchwin *s, const char *text);
void searchwin_clear_keyword(searchwin *s);
const char *searchwin_get_keyword(const searchwin *s);
const char *searchwin_get_keyword_upper(const searchwin *s);
int searchwin_has_keyword(const searchwin *s);
void searchwin_set_exchange_shown(searchwin *s, int n, int on);
int searchwin_get_exchange_shown(const searchwin *s, int n);
void searchwin_hide_exchange(searchwin *s, int n);
void searchwin_include_exchange(searchwin *s, int n);
void searchwin_clear_exchanges(searchwin *s);
void searchwin_show_all_exchanges(searchwin *s, int on);
// The seven flags and the keyword.
void searchwin_copy(searchwin *target, const searchwin *source);
void searchwin_export(searchwin *s);
