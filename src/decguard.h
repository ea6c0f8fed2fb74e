// Modes the record readers switch for the length of one record: change
// recording of an exchange off, change delivery held, a stock marked as
// loading, the readers' running reference time. Each is a small guard whose
// destructor puts the mode back, so every early return of a reader restores
// it (there is no single exit to forget).
#pragma once
#include <cstdint>

#include "decode.h"
#include "ssmodel.h"
#include "ssevent.h"
#include "ssnotify.h"

// Clears the exchange's change-recording bit (kExRecord) while it lives.
class decguard_record_off {
 public:
  explicit decguard_record_off(ss_exchange* ex) : ex_(ex), had_(ex && (ex->flags & kExRecord)) {
    if (had_) ex_->flags &= ~kExRecord;
  }
  ~decguard_record_off() {
    if (had_) ex_->flags |= kExRecord;
  }
  decguard_record_off(const decguard_record_off&) = delete;
  decguard_record_off& operator=(const decguard_record_off&) = delete;

 private:
  ss_exchange* ex_;
  bool had_;
};

// Holds change delivery while it lives.
class decguard_hold {
 public:
  decguard_hold() { ssnotify_hold(1); }
  ~decguard_hold() { ssnotify_hold(0); }
  decguard_hold(const decguard_hold&) = delete;
  decguard_hold& operator=(const decguard_hold&) = delete;
};

// Sets the instrument's loading bit (kInLoading) while it lives; the bit is
// cleared afterwards unless it was set before.
class decguard_loading {
 public:
  explicit decguard_loading(instr* in) : in_(in), had_((in->flags & kInLoading) != 0) { in_->flags |= kInLoading; }
  ~decguard_loading() {
    if (!had_) in_->flags &= ~kInLoading;
  }
  decguard_loading(const decguard_loading&) = delete;
  decguard_loading& operator=(const decguard_loading&) = delete;

 private:
  instr* in_;
  bool had_;
};

// Sets the readers' running reference time and puts the old one back.
class decguard_ref_date {
 public:
  explicit decguard_ref_date(ss_time t) : saved_(decode_ref_date()) { decode_set_ref_date(t); }
  ~decguard_ref_date() { decode_set_ref_date(saved_); }
  decguard_ref_date(const decguard_ref_date&) = delete;
  decguard_ref_date& operator=(const decguard_ref_date&) = delete;

 private:
  ss_time saved_;
};

// One side of a stock's book replaced by a list reader. The side's levels are
// detached when the guard is made (the side reads as empty); commit() frees
// them after the deferral delay; without a commit the levels the reader made
// are freed and the old ones, with the side's best price, are put back, so a
// list that fails half way leaves the side as it was.
class decguard_side {
 public:
  decguard_side(ss_stock* s, int side)
      : s_(s), side_(side), old_(s->levels[side]), best_(side ? s->offer : s->bid) {
    ssevent_clear_pending();
    ssevent_forget_depth(s_);
    ssmodel_publish(s_->levels[side_], nullptr);
  }
  ~decguard_side() {
    ssevent_clear_pending();
    ssevent_forget_depth(s_);
    if (committed_) {
      ssmodel_free_depth_levels(old_);
      return;
    }
    ss_depth_level* made = s_->levels[side_];
    ssmodel_publish(s_->levels[side_], old_);
    (side_ ? s_->offer : s_->bid) = best_;
    ssmodel_free_depth_levels(made);
  }
  void commit() { committed_ = true; }
  decguard_side(const decguard_side&) = delete;
  decguard_side& operator=(const decguard_side&) = delete;

 private:
  ss_stock* s_;
  int side_;
  ss_depth_level* old_;
  uint32_t best_;
  bool committed_ = false;
};
