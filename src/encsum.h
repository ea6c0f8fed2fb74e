// Summary writer: the whole snapshot of one exchange as the summary readers
// (decsum.h) take it, message by message: index summary, depth-only list,
// stock summary, open balances, news of the day, market state, stock states,
// quote bases, resume times and auction information. The simulator serves it
// as a catch-up and the recovery snapshot saves it.
//
// Runs under the core lock (it reads the model); one writer at a time, since
// the codec's time-delta writer keeps a process-wide reference.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssmodel.h"

// Appends every message of the exchange's snapshot to gb. options: the
// client options the reader will run with (kSumOptNoTracks leaves the track
// parts out). 0, or -1 after an ERROR or WARN line (gb may then hold the
// messages written before the failure).
int encsum_encode_stock(growbuf* gb, ss_exchange* ex, uint32_t options);
// The track blob of a stock or an index: its recorded track as a vint length
// and the bytes, or the single byte 0. 0, or -1.
int encsum_encode_stock_blob(growbuf* gb, const ss_stock* stock);
int encsum_encode_index_blob(growbuf* gb, const ss_index* index);
