// Code utilities of the model: price steps, code-form tests, index lists, news
// helpers, the signed link to a news document and the derived
// volume-comparison figures of a stock. Exchange indices: 0 ASX, 1 NZX, 2 GLB,
// 3 AXO. The tests answer 1 or 0.
#pragma once
#include <cstdint>

struct instr;
struct ss_stock;
struct ss_index;
struct ss_news;

// Prices are in hundredths of a cent. The step is 0 where the exchange has
// none (ASX below 10, GLB, AXO).
uint32_t ssutil_price_step(int32_t exchange, uint32_t price);
// 1 when the price is a multiple of its step (always on exchanges without one).
int ssutil_price_on_step(int32_t exchange, uint32_t price);

// Code forms, on an instrument (its exchange and code) or on an exchange and a
// code. A null instrument or code answers 0.
// NZX, six characters, the fourth to sixth digits.
int ssutil_nzx_numbered_code(const instr* in);
int ssutil_nzx_numbered_code(int32_t exchange, const char* code);
// NZX and numbered, or NZX with five characters of which the fourth is F or H.
int ssutil_nzx_special_code(const instr* in);
int ssutil_nzx_special_code(int32_t exchange, const char* code);
// An option (nonzero option kind) on any exchange; on NZX any code other than
// those of 3 or 4 characters and the numbered ones.
int ssutil_nzx_plain_code(const ss_stock* stock);
// ASX, and the text after the first "_" is exactly "CX" or "PM".
int ssutil_is_cx_pm_code(const instr* in);
int ssutil_is_cx_pm_code(int32_t exchange, const char* code);
int ssutil_is_benchmark_index(const ss_index* index);
int ssutil_is_sector_index(const ss_index* index);

// 1 when the item has at least one code and all its codes are in the set of
// document-type codes the news-document link serves.
int ssutil_news_codes_in_set(const ss_news* item);
// 1 when needle occurs in the first 79 characters of text upper-cased (the
// needle is taken as given).
int ssutil_text_contains(const char* text, const char* needle);

// Writes the signed link to news document `number` of `code` into buf.
// Returns buf with *size set to the link's length + 1; when it does not fit,
// null with *size set to the length + 1 it needs. Null with *size 0 (after a
// log line) for an exchange past 3 or a missing or over-long code.
char* ssutil_news_pdf_url(char* buf, uint32_t* size, int32_t exchange, const char* code, uint32_t number);
// The same for an instrument's exchange and code.
char* ssutil_news_pdf_url_for(char* buf, uint32_t* size, const instr* in, uint32_t number);

// For each of the stock's three reference volumes: difference = volume -
// reference, and that difference in hundredths of a percent of the reference,
// rounded to nearest (0 when the reference is 0). Both are clamped to their
// fields.
void ssutil_stock_vcmp_derive(ss_stock* stock);

// The change from `before` to `now` in hundredths of a percent of `before`,
// rounded to the nearest in single precision as the displays round it; 0 when
// either value is 0; clamped to the 32-bit range.
int32_t ssutil_change_pct(uint32_t now, uint32_t before);
