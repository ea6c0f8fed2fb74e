// Fundamentals: the static data of one exchange (issuer, stock and index
// names, issuer codes and capital, aliases, option details, news removals,
// history-from dates, price adjustments) as the data cache keeps it in a
// file: a version byte, then sections of a tag, a 4-byte length and the
// items, ended by the fundamentals date.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssmodel.h"

// Section tags, in the order the writer emits them.
constexpr uint8_t kFunExchange = 9;
constexpr uint8_t kFunIssuers = 2;
constexpr uint8_t kFunStocks = 1;
constexpr uint8_t kFunIndices = 3;
constexpr uint8_t kFunAliases = 5;
constexpr uint8_t kFunOptions = 4;
constexpr uint8_t kFunRemovals = 7;
constexpr uint8_t kFunHistoryFrom = 6;
constexpr uint8_t kFunAdjustments = 8;
constexpr uint8_t kFunDate = 0;

// Applies the file to the exchange. 0 (a file that failed anywhere makes the
// exchange forget its fundamentals date, so it is asked for again), or -1
// after an ERROR on an unknown section tag.
int decfun_decode(ss_exchange* ex, const uint8_t* data, int32_t n);
// Appends the exchange's file; nothing when it has no fundamentals date.
// 0, or -1 after an ERROR.
int encfun_encode(growbuf* gb, ss_exchange* ex);
