// The depth detail popup: the orders behind one price step of one side of a
// depth window's book, in queue order, as they stood at the moment the
// window shows, kept current while the window's replay or live book moves
// on; a second form lists the trades done at the price step of one trade.
// Each screen owns one. Main thread, under the core lock.
#pragma once

#include <cstdint>

#include "lib/fade.h"
#include "sstime.h"
#include "ui/widget.h"

struct instr;
struct ss_event;
struct ss_trade;

struct depthdtl_row {
  uint32_t time;  // order or trade time (0 for an order of the live book)
  uint32_t price;
  uint64_t volume;
  uint64_t value;  // price x volume
  // Trade form: the figures of the trade's break record (its detail in the
  // model): conditions, second value, as-at date, buying and selling
  // brokers' codes; 0 / empty when the trade has none.
  uint64_t conditions;
  uint64_t second_value;
  uint32_t as_at;
  char buyer[12], seller[12];
  fade_value volume_fade, removal;
  bool removing;  // deleted, fading out
  depthdtl_row *next;
};

struct depthdtl : widget {
  instr *instrument;
  ss_time date;
  int32_t side;  // 0 bid, 1 offer, -1 the trade form
  uint32_t step;
  ss_trade *trade;
  fade_owner fades, removals;
  depthdtl_row *rows;
  uint32_t row_count, shown_rows;
  uint32_t place;  // orders of better steps ahead of the shown step
  ss_event *last_event;
  uint32_t bucket, half;
  uint32_t suppress_fades;
  uint32_t waiting;  // the day's events were requested: rows empty until they arrive
};

widget *depthdtl_new(widget *parent);
depthdtl *depthdtl_cast(widget *w);
void depthdtl_set_bucket(widget *w, uint32_t size);
void depthdtl_show_price(widget *w, instr *in, ss_time date, int32_t side, uint32_t price, ss_event *until);
void depthdtl_show_entry(widget *w, instr *in, ss_time date, ss_trade *trade, ss_event *until);
void depthdtl_follow(widget *w, ss_event *event);
instr *depthdtl_get_instr(widget *w);

// The shown rows' volumes in queue order, rows fading out left out (for
// checks and the export).
uint32_t depthdtl_volumes(widget *w, uint64_t *out, uint32_t max);

// The day-events request the build makes for a missing day (the client's by
// default); a test seam.
void depthdtl_set_day_request(int (*fn)(instr *in, ss_time date));
