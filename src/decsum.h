// Summary records: the snapshot of one exchange from which a fresh terminal
// builds its model (indices, stocks with their day values and depth, and the
// sparse lists of depth-only stocks, open balances, states, quote bases,
// resume times, auction figures, and the day's news). The dispatcher frames
// each message and calls a reader with its unpacked payload; the snapshot
// writer is encsum.h.
//
// Readers run on the io thread under the core lock and return 0, or -1 after
// an ERROR line (the dispatcher then treats the stream as broken).
#pragma once
#include <cstdint>

#include "ssmodel.h"

// Summary message types.
constexpr uint32_t kSumStocks = 44;
constexpr uint32_t kSumIndices = 45;
constexpr uint32_t kSumNews = 46;
constexpr uint32_t kSumDepthOnly = 48;
constexpr uint32_t kSumQuoteBases = 190;
constexpr uint32_t kSumMarketState = 191;
constexpr uint32_t kSumStockStates = 192;
constexpr uint32_t kSumResumeTimes = 193;
constexpr uint32_t kSumOpenBalances = 194;
constexpr uint32_t kSumDepthOnlyInverted = 195;  // the exchange with index 3
constexpr uint32_t kSumAuctionInfo = 196;

// Stock summary flag byte F.
constexpr uint8_t kSumTraded = 0x01;      // a last price or a volume
constexpr uint8_t kSumLastIsClose = 0x02;
constexpr uint8_t kSumOpenIsLast = 0x04;
constexpr uint8_t kSumHighIsLast = 0x08;
constexpr uint8_t kSumLowIsLast = 0x10;
constexpr uint8_t kSumHighIsOpen = 0x20;
constexpr uint8_t kSumLowIsOpen = 0x40;
constexpr uint8_t kSumSecondPair = 0x80;  // a second volume and value follow

// Client option bit: summaries carry no track part.
constexpr uint32_t kSumOptNoTracks = 0x2;

// What the readers ask of the client, installed by the client at start-up
// (the codec calls nothing above the model). Either may be null.
struct decsum_hooks {
  int (*aborted)(void);      // the client has been told to stop
  uint32_t (*options)(void); // the client's options word
};
void decsum_set_hooks(const decsum_hooks* hooks);
uint32_t decsum_options(void);

int decsum_init(void);
void decsum_fini(void);  // frees the depth-only table
void decsum_reset_progress(void);
// Bytes of the current stock summary decoded so far and expected in all
// (exchange 0's summary; the start-up flow shows them).
void decsum_progress(uint32_t* decoded, uint32_t* expected);
// Milliseconds the last stock summary of exchange 0 took; 0 before the first.
uint32_t decsum_last_duration_ms(void);

int decsum_decode_index(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_stock(ss_exchange* ex, const uint8_t* data, int32_t n);
// inverted (type 195): the stocks named keep per-order depth, all others
// are depth-only.
int decsum_decode_depth_only(ss_exchange* ex, const uint8_t* data, int32_t n, int inverted);
int decsum_decode_open_balance(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_quote_bases(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_stock_states(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_resume_times(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_auction_info(ss_exchange* ex, const uint8_t* data, int32_t n);
int decsum_decode_news(ss_exchange* ex, const uint8_t* data, int32_t n);
