// Price tracks. Each reported value waits as the instrument's pending value
// until a report for another second (or an update) commits it, so only the
// last value of each second counts. A commit appends to the instrument's
// stream (chained 64-byte buffers) and to the day's change list; each client
// walks the change list from its cursor up to its point in time, so an update
// costs in proportion to the changes added since the last one.
//
// A slot taken by a new client starts with every instrument's value zeroed,
// and an exchange's reset makes every client walk afresh with its as-of times
// computed again: values from a previous client or a previous day never show.
#include "sstrack.h"

#include <algorithm>
#include <cstring>

#include "dalloc.h"
#include "encode.h"
#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssmodel.h"
#include "ssnotify.h"

static const char kSrc[] = "src/sstrack";

namespace {

constexpr int32_t kRecordPool = 20000;
constexpr int32_t kBufPool = 20000;
constexpr int32_t kPricePool = 5000;
constexpr int32_t kValuePool = 1000;
constexpr int32_t kFutureSlack = 2;   // seconds a report may be ahead of the exchange
constexpr int32_t kChangeSlack = 1;   // seconds a change may be ahead
constexpr int32_t kChangeWarn = 30;   // seconds ahead that are logged

struct track_buf {
  track_buf* next;
  uint32_t used;
  uint8_t data[kTrackBufBytes];
};

struct client_values {
  uint32_t v[kTrackClients];
};

struct track_rec {
  instr* owner;
  uint32_t prev_value, pending_value;
  ss_time prev_time, pending_time;
  uint32_t length;
  track_buf* first;
  track_buf* last;
  track_rec* next_pending;
  bool pending;
  client_values* clients;
};

struct track_client {
  uint32_t refs;
  ss_time point;
  uint32_t lookback;
  ss_time asof[kExchanges];
  int32_t cursor;
};

struct change {
  instr* in;
  ss_time time;
  uint32_t value;
};

struct track_state {
  bool ready = false;
  plat_slot lock = -1;
  pool recs = {}, bufs = {}, prices = {}, values = {};
  track_client clients[kTrackClients] = {};
  change* changes = nullptr;  // the day's changes, in arrival order
  size_t count = 0;
  size_t capacity = 0;
  track_rec* pending = nullptr;
  bool new_client = false;
};

track_state T;

// The track lock for the length of a scope.
class track_lock : public plat_lock_guard {
 public:
  track_lock() : plat_lock_guard(T.lock) {}
};

track_rec* rec_of(const instr* in) { return static_cast<track_rec*>(in->track); }

void free_bufs(track_rec* r) {
  for (track_buf* b = r->first; b;) {
    track_buf* next = b->next;
    pool_free(&T.bufs, b);
    b = next;
  }
  r->first = r->last = nullptr;
  r->length = 0;
}

// Appends bytes to the stream; false when no buffer could be had.
bool append(track_rec* r, const uint8_t* bytes, uint32_t n) {
  if (!r->last || r->last->used + n > kTrackBufBytes) {
    track_buf* b = static_cast<track_buf*>(pool_alloc(&T.bufs));
    if (!b) {
      log(LOG_ERROR, kSrc, "can't alloc track buf");
      return false;
    }
    b->next = nullptr;
    b->used = 0;
    if (r->last)
      r->last->next = b;
    else
      r->first = b;
    r->last = b;
  }
  memcpy(r->last->data + r->last->used, bytes, n);
  r->last->used += n;
  r->length += n;
  return true;
}

void write_stream(track_rec* r) {
  instr* in = r->owner;
  const bool first = r->prev_time == 0;
  const ss_time ref_time = first ? ssmodel_exchange_preopen_time(in->exchange) : r->prev_time;
  uint8_t bytes[2 * kEncodeRoomVint];
  const ss_time saved = encode_ref_date();
  encode_set_ref_date(ref_time);
  int n = encode_time_delta(bytes, r->pending_time);
  encode_set_ref_date(saved);
  if (n < 0) return;
  int m;
  if (in->kind == kKindStock) {
    uint32_t ref = first ? static_cast<ss_stock*>(in)->close : r->prev_value;
    m = encode_price(bytes + n, r->pending_value, &ref);
  } else if (first) {
    m = encode_index(bytes + n, r->pending_value);
  } else {
    m = encode_index_change(bytes + n, static_cast<int32_t>(static_cast<int64_t>(r->pending_value) - r->prev_value));
  }
  if (m < 0) return;
  append(r, bytes, static_cast<uint32_t>(n + m));
}

void add_change(instr* in, ss_time time, uint32_t value) {
  const ss_exchange* ex = in->exchange;
  const ss_time now = ssmodel_exchange_now(ex);
  const int32_t ahead = sstime_diff_seconds(time, now);
  if (ahead > kChangeSlack) {
    if (ahead >= kChangeWarn)
      log(LOG_WARN, kSrc, "%s:%s %+d %s (tmoffset %d)", ex->name, in->code, ahead, sstime_format_datetime(time),
          ex->offset);
    time = now;
  }
  if (T.count == T.capacity) {
    // Grown a step at a time; the old array goes at once, since only this
    // module (under the track lock) ever reads it.
    const size_t capacity = T.capacity + kTrackChangeStep;
    change* grown = static_cast<change*>(dalloc_alloc(static_cast<int32_t>(capacity * sizeof(change))));
    if (T.count) memcpy(grown, T.changes, T.count * sizeof(change));
    if (T.changes) dalloc_free(T.changes);
    T.changes = grown;
    T.capacity = capacity;
  }
  T.changes[T.count++] = {in, time, value};
}

// Commits the instrument's pending value (track lock held).
void commit(track_rec* r) {
  if (!r || !r->pending_time) return;
  if (r->pending_value != r->prev_value || r->prev_time == 0) {
    instr* in = r->owner;
    const uint32_t flags = in->exchange->flags;
    if (flags & kExTrackStreams) write_stream(r);
    r->prev_value = r->pending_value;
    r->prev_time = r->pending_time;
    if (flags & kExClientTracks) {
      if (!r->clients) {
        pool* p = in->kind == kKindStock ? &T.prices : &T.values;
        r->clients = static_cast<client_values*>(pool_alloc(p));
        if (!r->clients)
          log(LOG_ERROR, kSrc, in->kind == kKindStock ? "can't alloc price tracking" : "can't alloc value tracking");
        else
          memset(r->clients, 0, sizeof *r->clients);
      }
      add_change(in, r->prev_time, r->prev_value);
    }
  }
  r->pending_value = 0;
  r->pending_time = 0;
}

int report(instr* in, ss_time time, uint32_t value) {
  if (!T.ready) return 0;
  const ss_exchange* ex = in->exchange;
  const ss_time now = ssmodel_exchange_now(ex);
  if (sstime_diff_seconds(time, now) > kFutureSlack)
    log(LOG_WARN, kSrc, "asking to track %s:%s %u at %s %+d (tmoffset %d - %d)", ex->name, in->code, value,
        sstime_format_datetime(time), sstime_diff_seconds(time, now), ex->offset, 0);
  track_lock lock;
  track_rec* r = rec_of(in);
  if (r && r->pending_time && r->pending_time != time) commit(r);
  if (!r) {
    r = static_cast<track_rec*>(pool_alloc(&T.recs));
    if (!r) {
      log(LOG_ERROR, kSrc, "can't alloc track");
      return -1;
    }
    memset(r, 0, sizeof *r);
    r->owner = in;
    in->track = r;
  }
  r->pending_time = time;
  r->pending_value = value;
  if (!r->pending) {
    r->pending = true;
    r->next_pending = T.pending;
    T.pending = r;
  }
  return 0;
}

void commit_pending() {
  for (track_rec* r = T.pending; r;) {
    track_rec* next = r->next_pending;
    commit(r);
    r->pending = false;
    r->next_pending = nullptr;
    r = next;
  }
  T.pending = nullptr;
}

template <class F>
void each_instrument(ss_exchange* ex, F f) {
  for (uint64_t i = 0; i < ex->stocks.count; i++) f(static_cast<instr*>(ex->stocks.sorted[i]));
  for (uint64_t i = 0; i < ex->indices.count; i++) f(static_cast<instr*>(ex->indices.sorted[i]));
}

void walk_clients() {
  bool any_new = false;
  const ss_time today = sstime_now();
  for (int slot = 0; slot < kTrackClients; slot++) {
    track_client& c = T.clients[slot];
    if (!c.refs) continue;
    bool fresh = false;
    if (c.cursor < 0) {
      c.cursor = 0;
      fresh = true;
    }
    if (static_cast<size_t>(c.cursor) >= T.count && !fresh) continue;
    for (int e = 0; e < kExchanges; e++) {
      const ss_exchange* ex = ssmodel_exchange(e);
      if (c.lookback)
        c.asof[e] = sstime_add_seconds(ex ? ssmodel_exchange_now(ex) : sstime_now(), -static_cast<int32_t>(c.lookback));
      else if (fresh)
        c.asof[e] = sstime_add_seconds(sstime_with_date(c.point, today), ex ? ex->offset : 0);
    }
    size_t i = static_cast<size_t>(c.cursor);
    for (; i < T.count; i++) {
      const change& ch = T.changes[i];
      if (ch.time > c.asof[ch.in->exchange->index]) break;
      if (ch.in->kind == kKindStock && ch.value == 0) continue;
      track_rec* r = rec_of(ch.in);
      if (!r || !r->clients) continue;
      r->clients->v[slot] = ch.value;
      if (!fresh) ssnotify_record(ch.in, kChangeTrack, nullptr);
    }
    c.cursor = static_cast<int32_t>(i);
    any_new = any_new || fresh;
  }
  if (any_new) ssnotify_record_global(kGlobalTracks);
  T.new_client = false;
}

// Zeroes one slot's value on every instrument (a slot taken again).
void zero_slot(int slot) {
  for (int e = 0; e < kExchanges; e++) {
    ss_exchange* ex = ssmodel_exchange(e);
    if (!ex) continue;
    each_instrument(ex, [slot](instr* in) {
      track_rec* r = rec_of(in);
      if (r && r->clients) r->clients->v[slot] = 0;
    });
  }
}

}  // namespace

int sstrack_init(void) {
  if (T.ready) sstrack_fini();
  struct {
    pool* p;
    int32_t n, size;
    const char* what;
  } pools[] = {{&T.recs, kRecordPool, sizeof(track_rec), "can't init track pool"},
               {&T.bufs, kBufPool, sizeof(track_buf), "can't init track buf pool"},
               {&T.prices, kPricePool, sizeof(client_values), "can't init track price pool"},
               {&T.values, kValuePool, sizeof(client_values), "can't init track value pool"}};
  for (auto& p : pools) {
    if (pool_init(p.p, p.n, p.size) < 0) {
      log(LOG_ERROR, kSrc, "%s", p.what);
      return -1;
    }
  }
  T.lock = plat_mutex_create();
  if (T.lock < 0) return -1;
  memset(T.clients, 0, sizeof T.clients);
  T.count = 0;
  T.pending = nullptr;
  T.new_client = false;
  T.ready = true;
  return 0;
}

void sstrack_fini(void) {
  if (!T.ready) return;
  for (pool* p : {&T.recs, &T.bufs, &T.prices, &T.values}) pool_destroy(p);
  if (T.changes) dalloc_free(T.changes);
  T.changes = nullptr;
  T.count = T.capacity = 0;
  plat_mutex_destroy(T.lock);
  T.lock = -1;
  T.pending = nullptr;
  T.ready = false;
}

int sstrack_add_client(uint32_t lookback, ss_time point) {
  if (!T.ready) return -1;
  if (point) point = sstime_with_date(point, sstime_now());
  track_lock lock;
  for (int i = 0; i < kTrackClients; i++) {
    track_client& c = T.clients[i];
    if (c.refs && c.lookback == lookback && (c.point & kSstimeSecondsMask) == (point & kSstimeSecondsMask)) {
      c.refs++;
      return i;
    }
  }
  for (int i = 0; i < kTrackClients; i++) {
    track_client& c = T.clients[i];
    if (c.refs) continue;
    c = track_client{1, point, lookback, {0, 0, 0, 0}, -1};
    zero_slot(i);
    T.new_client = true;
    return i;
  }
  log(LOG_ERROR, kSrc, "all track clients used (%d)", kTrackClients);
  return -1;
}

void sstrack_release_client(int slot) {
  if (!T.ready || slot < 0 || slot >= kTrackClients) return;
  track_lock lock;
  if (T.clients[slot].refs) T.clients[slot].refs--;
}

ss_time sstrack_client_time(int slot, int exchange) {
  if (slot < 0 || slot >= kTrackClients || exchange < 0 || exchange >= kExchanges) return 0;
  return T.clients[slot].asof[exchange];
}

int sstrack_client_added(void) {
  if (!T.ready) return 0;
  track_lock lock;  // the io thread asks between passes, without the core lock
  return T.new_client ? 1 : 0;
}

uint32_t sstrack_client_value(const instr* in, int slot) {
  if (slot < 0 || slot >= kTrackClients) return 0;
  const track_rec* r = rec_of(in);
  return r && r->clients ? r->clients->v[slot] : 0;
}

int sstrack_track_stock(ss_stock* stock, ss_time time, uint32_t price) { return report(stock, time, price); }
int sstrack_track_index(ss_index* index, ss_time time, uint32_t value) { return report(index, time, value); }

void sstrack_track_price(ss_stock* stock) {
  if (!T.ready) return;
  track_lock lock;
  commit(rec_of(stock));
}

void sstrack_track_value(ss_index* index) {
  if (!T.ready) return;
  track_lock lock;
  commit(rec_of(index));
}

void sstrack_update(void) {
  if (!T.ready) return;
  track_lock lock;
  commit_pending();
  walk_clients();
}

void sstrack_reset_after_sort(void) {
  if (!T.ready) return;
  track_lock lock;
  commit_pending();
  std::stable_sort(T.changes, T.changes + T.count, [](const change& a, const change& b) {
    return sstime_add_seconds(a.time, -a.in->exchange->offset) < sstime_add_seconds(b.time, -b.in->exchange->offset);
  });
  int used = 0;
  for (track_client& c : T.clients)
    if (c.refs) {
      c.cursor = 0;
      used++;
    }
  log(LOG_INFO, kSrc, "reset %d client tracks after sort", used);
}

void sstrack_reset_exchange(ss_exchange* ex) {
  if (!T.ready) return;
  log(LOG_INFO, kSrc, "reset %s tracks", ex->name);
  sstrack_update();
  {
    track_lock lock;
    int32_t counts[2][3] = {};  // stocks, indices: with client values, records given back, all
    each_instrument(ex, [&counts](instr* in) {
      int32_t* c = counts[in->kind == kKindStock ? 0 : 1];
      c[2]++;
      track_rec* r = rec_of(in);
      if (!r) return;
      if (r->clients) {
        c[0]++;
        pool_free(in->kind == kKindStock ? &T.prices : &T.values, r->clients);
      }
      free_bufs(r);
      pool_free(&T.recs, r);
      in->track = nullptr;
      c[1]++;
    });
    log(LOG_INFO, kSrc, "reset %s tracks: %d,%d/%d stocks", ex->name, counts[0][0], counts[0][1], counts[0][2]);
    log(LOG_INFO, kSrc, "reset %s tracks: %d,%d/%d indices", ex->name, counts[1][0], counts[1][1], counts[1][2]);
    T.pending = nullptr;
    const size_t before = T.count;
    T.count = static_cast<size_t>(std::remove_if(T.changes, T.changes + T.count,
                                                 [ex](const change& c) { return c.in->exchange == ex; }) -
                                  T.changes);
    log(LOG_INFO, kSrc, "reset %s tracks: %d->%d changes", ex->name, static_cast<int32_t>(before),
        static_cast<int32_t>(T.count));
    // Every client walks again from the start, as a new client: a fixed
    // client's as-of times are computed for the new date, not left on the
    // old one.
    const ss_time date = ex->date;
    for (track_client& c : T.clients) {
      if (!c.refs) continue;
      c.cursor = -1;
      if (!c.lookback && c.point) c.point = sstime_with_date(c.point, date);
    }
  }
  sstrack_update();
}

int32_t sstrack_stream_length(const instr* in) {
  const track_rec* r = rec_of(in);
  return r ? static_cast<int32_t>(r->length) : 0;
}

void sstrack_copy_stream(const instr* in, uint8_t* out) {
  const track_rec* r = rec_of(in);
  for (const track_buf* b = r ? r->first : nullptr; b; b = b->next) {
    memcpy(out, b->data, b->used);
    out += b->used;
  }
}

void sstrack_test_set_client_value(instr* in, int slot, uint32_t value) {
  if (!T.ready || slot < 0 || slot >= kTrackClients) return;
  track_lock lock;
  track_rec* r = rec_of(in);
  if (!r) {
    r = static_cast<track_rec*>(pool_alloc(&T.recs));
    if (!r) return;
    memset(r, 0, sizeof *r);
    r->owner = in;
    in->track = r;
  }
  if (!r->clients) {
    r->clients = static_cast<client_values*>(pool_alloc(in->kind == kKindStock ? &T.prices : &T.values));
    if (!r->clients) return;
    memset(r->clients, 0, sizeof *r->clients);
  }
  r->clients->v[slot] = value;
}
