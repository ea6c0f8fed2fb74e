// Test support for scans: the rows a watcher keeps by applying the published
// events to its copy of the result (rows found by instrument), and whether an
// event did not fit the rows it had.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "lib/scan.h"

struct ScanRows {
  std::vector<instr*> rows;
  std::vector<int> kinds;
  bool bad = false;
};

// A scan_watch_fn; arg is the ScanRows.
inline void scan_rows_apply(scan* s, int event, int32_t index, instr* in, void* owner, void* arg,
                            uint32_t n) {
  (void)s;
  (void)owner;
  (void)n;
  ScanRows* r = static_cast<ScanRows*>(arg);
  r->kinds.push_back(event);
  auto at = std::find(r->rows.begin(), r->rows.end(), in);
  switch (event) {
    case kScanInserted:
      if (at != r->rows.end() || index > (int32_t)r->rows.size()) r->bad = true;
      else r->rows.insert(r->rows.begin() + index, in);
      break;
    case kScanMoved:
      if (at == r->rows.end()) { r->bad = true; break; }
      r->rows.erase(at);
      if (index > (int32_t)r->rows.size()) r->bad = true;
      else r->rows.insert(r->rows.begin() + index, in);
      break;
    case kScanRemoved:
      if (at == r->rows.end()) r->bad = true;
      else r->rows.erase(at);
      break;
    case kScanCleared:
      if (!r->rows.empty()) r->bad = true;  // every row was removed first
      break;
  }
}
