// Price tracks: coalesces each instrument's reported prices per second, keeps
// the day's changes and, for up to eight shared track clients, every
// instrument's last price at or before the client's point in time.
//
// Minimal version: replaced when price tracks are built. It keeps no tracks,
// so starting, updating and resetting have nothing to do.
#include "sstrack.h"

// Minimal version: replaced when price tracks are built.
int sstrack_init(void) { return 0; }

// Minimal version: replaced when price tracks are built.
void sstrack_fini(void) {}

// Minimal version: replaced when price tracks are built.
void sstrack_update(void) {}

// Minimal version: replaced when price tracks are built.
void sstrack_reset_exchange(ss_exchange* ex) { (void)ex; }

// Minimal version: replaced when price tracks are built. No tracks are kept,
// so a reported price has nowhere to go.
int sstrack_track_stock(ss_stock* stock, ss_time time, uint32_t price) {
  (void)stock;
  (void)time;
  (void)price;
  return 0;
}

// Minimal version: replaced when price tracks are built.
int sstrack_track_index(ss_index* index, ss_time time, uint32_t value) {
  (void)index;
  (void)time;
  (void)value;
  return 0;
}
