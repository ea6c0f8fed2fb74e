// Price tracks: coalesces each instrument's reported prices per second, keeps
// the day's changes and, for up to eight shared track clients, every
// instrument's last price at or before the client's point in time.
//
// Minimal version: replaced when price tracks are built. It keeps no tracks,
// so starting, updating and resetting have nothing to do.
#include "sstrack.h"

#include <array>
#include <unordered_map>

#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/sstrack";

// What the module remembers: the client table and, per instrument, the
// prices at each client's time fed through sstrack_set_value.
static struct {
  struct {
    int32_t refs;
    uint32_t delta;
    ss_time fixed;
  } clients[kTrackClients];
  std::unordered_map<const instr*, std::array<uint32_t, kTrackClients>> values;
} T;

// Minimal version: replaced when price tracks are built.
int sstrack_init(void) { return 0; }

// Minimal version: replaced when price tracks are built.
void sstrack_fini(void) {
  T.values.clear();
  for (auto& c : T.clients) c = {};
}

// Minimal version: replaced when price tracks are built.
void sstrack_update(void) {}

// Minimal version: replaced when price tracks are built.
void sstrack_reset_exchange(ss_exchange* ex) {
  for (auto it = T.values.begin(); it != T.values.end();)
    it = it->first->exchange == ex ? T.values.erase(it) : std::next(it);
}

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

// Minimal version: replaced when price tracks are built.
int32_t sstrack_add_client(uint32_t delta_seconds, ss_time fixed_point) {
  int32_t free_slot = -1;
  for (int32_t i = 0; i < kTrackClients; i++) {
    auto& c = T.clients[i];
    if (c.refs > 0 && c.delta == delta_seconds && c.fixed == fixed_point) {
      c.refs++;
      return i;
    }
    if (c.refs == 0 && free_slot < 0) free_slot = i;
  }
  if (free_slot < 0) {
    log(LOG_ERROR, kSrc, "all track clients used (%d)", kTrackClients);
    return -1;
  }
  T.clients[free_slot] = {1, delta_seconds, fixed_point};
  for (auto& v : T.values) v.second[free_slot] = 0;
  return free_slot;
}

void sstrack_release_client(int32_t client) {
  if (client < 0 || client >= kTrackClients || T.clients[client].refs <= 0) return;
  T.clients[client].refs--;
}

int32_t sstrack_client_refs(int32_t client) {
  if (client < 0 || client >= kTrackClients) return 0;
  return T.clients[client].refs;
}

uint32_t sstrack_client_delta(int32_t client) {
  if (client < 0 || client >= kTrackClients || T.clients[client].refs <= 0) return 0;
  return T.clients[client].delta;
}

ss_time sstrack_client_fixed(int32_t client) {
  if (client < 0 || client >= kTrackClients || T.clients[client].refs <= 0) return 0;
  return T.clients[client].fixed;
}

uint32_t sstrack_value(int32_t client, const instr* in) {
  if (client < 0 || client >= kTrackClients || T.clients[client].refs <= 0) return 0;
  auto it = T.values.find(in);
  return it == T.values.end() ? 0 : it->second[client];
}

void sstrack_set_value(int32_t client, const instr* in, uint32_t value) {
  if (client < 0 || client >= kTrackClients) return;
  T.values[in][client] = value;
}
