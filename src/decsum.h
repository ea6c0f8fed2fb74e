// Summary reader: decodes the snapshot of an exchange (indices, stocks,
// depth, states, news of the day) that a fresh terminal builds its model from.
// Minimal version: replaced when the summary records are built.
#pragma once
#include <cstdint>

// Minimal version: replaced when the summary records are built.
int decsum_init(void);
void decsum_fini(void);

struct ss_exchange;
// The exchange's news summary list: news items with their issuer codes, each
// added to its issuer (found or added) unless older than a month; then the
// exchange's news-summary flag is set. 0, or -1 after "can't decode news".
// Minimal version: replaced when the summary records are built.
int decsum_decode_news(ss_exchange* ex, const uint8_t* data, int32_t n);
