// The marking table: a hash table of marks made and dropped with the model.
// Nothing is marked in this build; the table and its item pool exist so the
// model's life cycle stays the same when marks are added.
#pragma once

constexpr int kMmarkBuckets = 24989;
constexpr int kMmarkItemsPerPage = 6247;

int mmark_init(void);  // 0, or -1 after an ERROR line
void mmark_fini(void);  // returns every chained item, frees the table
