// Scan evaluation: gathers the instruments that pass a scan's filters (or
// the items of its source watchlist), orders them by one of twenty orders,
// cuts them to the limit and publishes the difference from the previous
// result to the watchers as remove, insert and move events. One evaluation
// at a time, on the user-interface thread, while the model stands still.
#pragma once
#include <cstdint>

struct instr;
struct ss_stock;
struct ss_index;
struct scan;

int scan_refresh_init(void);
void scan_refresh_fini(void);  // frees the candidate array

int scan_refresh(scan* s, int full);  // 0 / -1
int scan_refresh_wlist(scan* s);      // 0 / -1
void scan_refresh_prepare(scan* s);
int scan_test_stock(scan* s, ss_stock* stock);
int scan_test_index(scan* s, ss_index* index);
// The keyword prepared by scan_refresh_prepare.
int scan_keyword_match(const instr* in, const instr* issuer);
void scan_publish(scan* s);
int scan_append_result(scan* s, instr* in);  // 0 / -1

// The primary comparator of `order` as the evaluator uses it (after
// scan_refresh_prepare for the scan): negative when a comes first. With
// reversed the result is negated, ties included.
int scan_compare(const scan* s, const instr* a, const instr* b);
// Instruments the last evaluation found passing (before the limit's cut).
int32_t scan_refresh_matched(void);
