// Order priority and firm orders: applies the server's order-priority and
// firm-order blocks to the depth orders of the extended model.
//
// The blocks arrive encrypted without an integrity check, so what comes out
// of the cipher is treated as hostile: every field is read with the codec's
// bounded readers, sides and texts are checked, and a record that cannot be
// read ends the block. Waiting records live on their stock (extended stocks
// have a list) or, for a stock not known yet, on one global queue, which an
// exchange's reset empties of that exchange's records. In the standard model
// nothing is kept: the blocks are read and checked, and dropped.
#include "sspriority.h"

#include <cstring>

#include "decode.h"
#include "growbuf.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"

static const char kSrc[] = "src/sspriority";

namespace {

constexpr int32_t kInfoPerPageExtended = 1000;
constexpr int32_t kInfoPerPage = 10;
constexpr int32_t kFirmStep = 64000;
constexpr uint8_t kTypeWaiting = 1;
constexpr uint8_t kTypeLate = 2;

struct order_info {
  uint32_t exchange;
  char code[kCodeSize];
  uint8_t identifier[8];
  uint32_t side;
  uint32_t position;
  uint32_t number;
  char text1[kOrderTextSize];
  char text2[kOrderTextSize];
  order_info* prev;
  order_info* next;
};

struct info_list {
  uint32_t* count;
  void** head;
  void** tail;
};

struct {
  bool ready;
  pool infos;
  uint32_t count;  // the global queue
  void* head;
  void* tail;
  growbuf firm;
  ss_stock* firm_stock;
} R;

info_list global_queue() { return {&R.count, &R.head, &R.tail}; }
info_list stock_list(ss_stock* s) {
  auto* x = static_cast<ss_stock_ext*>(s);
  return {&x->info_count, &x->info_head, &x->info_tail};
}

void append(info_list l, order_info* r) {
  r->next = nullptr;
  r->prev = static_cast<order_info*>(*l.tail);
  if (r->prev)
    r->prev->next = r;
  else
    *l.head = r;
  *l.tail = r;
  ++*l.count;
}

void unlink(info_list l, order_info* r) {
  if (r->prev)
    r->prev->next = r->next;
  else
    *l.head = r->next;
  if (r->next)
    r->next->prev = r->prev;
  else
    *l.tail = r->prev;
  --*l.count;
}

// The fields every record ends with. Bytes used, 0 short, -1 bad.
struct order_fields {
  uint32_t position;
  uint8_t identifier[8];
  uint32_t number;
  char text1[kOrderTextSize];
  char text2[kOrderTextSize];
};

int read_fields(const uint8_t* in, int32_t n, order_fields* f) {
  int32_t used = 0;
  int r;
  auto step = [&](int got) {
    r = got;
    if (r > 0) used += r;
    return r > 0;
  };
  int32_t size1 = kOrderTextSize, size2 = kOrderTextSize;
  if (!step(decode_vint(in, n, &f->position)) || !step(decode_raw(in + used, n - used, f->identifier, 8)) ||
      !step(decode_vint(in + used, n - used, &f->number)) ||
      !step(decode_string(in + used, n - used, f->text1, &size1)) ||
      !step(decode_string(in + used, n - used, f->text2, &size2)))
    return r;
  return used;
}

void copy_onto(ss_depth_order* o, const uint8_t* id, uint32_t number, const char* t1, const char* t2) {
  auto* x = static_cast<ss_depth_order_ext*>(o);
  memcpy(x->identifier, id, sizeof x->identifier);
  x->number = number;
  memcpy(x->text1, t1, kOrderTextSize);
  memcpy(x->text2, t2, kOrderTextSize);
}

// Walks one side's orders by position (1 is the first order of the first
// level) and only forward.
struct order_cursor {
  ss_depth_level* level;
  ss_depth_order* order;
  uint32_t position;
  order_cursor(ss_stock* s, int side) : level(s->levels[side]), order(nullptr), position(1) {
    while (level && !level->orders) level = level->next;
    order = level ? level->orders : nullptr;
  }
  // The order at p (not before the cursor), or null.
  ss_depth_order* seek(uint32_t p) {
    while (order && position < p) {
      order = order->next;
      while (!order && level) {
        level = level->next;
        order = level ? level->orders : nullptr;
      }
      position++;
    }
    return order && position == p ? order : nullptr;
  }
};

ss_depth_order* order_at(ss_stock* s, int side, uint32_t position) {
  if (position == 0) return nullptr;
  return order_cursor(s, side).seek(position);
}

// Type 1: a waiting record, on the stock when it is known, else queued.
int wait_record(ss_exchange* ex, const char* code, uint32_t side, const order_fields& f) {
  if (!ssmodel_extended()) return 0;  // no room: read and dropped
  auto* r = static_cast<order_info*>(pool_alloc(&R.infos));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc order info");
    return -1;
  }
  memset(r, 0, sizeof *r);
  memcpy(r->identifier, f.identifier, 8);
  r->side = side;
  r->position = f.position;
  r->number = f.number;
  memcpy(r->text1, f.text1, kOrderTextSize);
  memcpy(r->text2, f.text2, kOrderTextSize);
  if (ss_stock* s = ssmodel_find_stock(ex, code)) {
    append(stock_list(s), r);
  } else {
    r->exchange = ex->index;
    memcpy(r->code, code, kCodeSize);
    append(global_queue(), r);
  }
  return 0;
}

// Type 2: details for an order already in the book.
int late_record(ss_exchange* ex, const char* code, uint32_t side, const order_fields& f) {
  ss_stock* s = ssmodel_find_stock(ex, code);
  if (!s) {
    log(LOG_WARN, kSrc, "can't find stock %s:%s for late order info", ex->name, code);
    return -1;
  }
  ss_depth_order* o = order_at(s, static_cast<int>(side), f.position);
  if (!o) {
    log(LOG_ERROR, kSrc, "can't find position %d", static_cast<int>(f.position));
    log(LOG_WARN, kSrc, "can't find %s:%s order for late order info", ex->name, code);
    return 0;
  }
  if (ssmodel_extended()) copy_onto(o, f.identifier, f.number, f.text1, f.text2);
  return 0;
}

void drop_firm(void) {
  growbuf_truncate(&R.firm, 0);
  R.firm_stock = nullptr;
}

// One side of a firm-order block onto the stock's orders: 0 or -1.
int apply_side(ss_stock* s, int side, const uint8_t* in, int32_t n) {
  order_cursor cur(s, side);
  int32_t used = 0;
  while (used < n) {
    order_fields f;
    int r = read_fields(in + used, n - used, &f);
    if (r <= 0) {
      log(LOG_ERROR, kSrc, "bad firm order record at %d", static_cast<int>(used));
      return -1;
    }
    used += r;
    ss_depth_order* o = nullptr;
    if (f.position < cur.position)
      log(LOG_ERROR, kSrc, "shouldn't be going backwards from %d to %d", static_cast<int>(cur.position),
          static_cast<int>(f.position));
    else if (!(o = cur.seek(f.position)))
      log(LOG_ERROR, kSrc, "can't find position %d", static_cast<int>(f.position));
    if (!o) {
      log(LOG_ERROR, kSrc, "can't find %s:%s %c %d for firm order %s", s->exchange->name, s->code,
          side == 0 ? 'B' : 'S', static_cast<int>(f.position), f.text1);
      log(LOG_ERROR, kSrc, "failed");
      return -1;
    }
    if (ssmodel_extended()) copy_onto(o, f.identifier, f.number, f.text1, f.text2);
  }
  return 0;
}

// The two 24-bit side lengths of a firm-order block that holds them whole.
int firm_lengths(const uint8_t* data, int32_t length, uint32_t* bid, uint32_t* offer) {
  if (decode_int24(data, length, bid) <= 0 || decode_int24(data + 3, length - 3, offer) <= 0 ||
      int64_t(6) + *bid + *offer > length) {
    log(LOG_ERROR, kSrc, "bad firm order block of %db", static_cast<int>(length));
    return -1;
  }
  return 0;
}

}  // namespace

int sspriority_init(void) {
  R.count = 0;
  R.head = R.tail = nullptr;
  R.firm_stock = nullptr;
  int32_t per_page = ssmodel_extended() ? kInfoPerPageExtended : kInfoPerPage;
  if (pool_init(&R.infos, per_page, sizeof(order_info)) < 0) return -1;
  if (growbuf_init(&R.firm, 0, kFirmStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc firm buffer");
    pool_destroy(&R.infos);
    return -1;
  }
  R.ready = true;
  return 0;
}

void sspriority_fini(void) {
  if (!R.ready) return;
  growbuf_free(&R.firm);
  pool_destroy(&R.infos);
  R.count = 0;
  R.head = R.tail = nullptr;
  R.firm_stock = nullptr;
  R.ready = false;
}

int sspriority_decode(ss_exchange* ex, const uint8_t* data, int32_t length) {
  if (!ex || !R.ready) return -1;
  int32_t used = 0;
  while (used < length) {
    const uint8_t* in = data + used;
    const int32_t n = length - used;
    uint8_t type, side;
    char code[kCodeSize];
    order_fields f;
    int32_t at = 0;
    int r = decode_byte(in, n, &type);
    if (r <= 0) return r;
    at += r;
    if (type != kTypeWaiting && type != kTypeLate) {
      log(LOG_ERROR, kSrc, "bad priority type %d", type);
      return -1;
    }
    if ((r = decode_code(in + at, n - at, code, kCodeSize)) <= 0) return r;
    at += r;
    if ((r = decode_byte(in + at, n - at, &side)) <= 0) return r;
    at += r;
    if (side > 1) {
      log(LOG_ERROR, kSrc, "bad priority side %d", side);
      return -1;
    }
    if ((r = read_fields(in + at, n - at, &f)) <= 0) return r;
    at += r;
    int done = type == kTypeWaiting ? wait_record(ex, code, side, f) : late_record(ex, code, side, f);
    if (done < 0) return -1;
    used += at;
  }
  return used;
}

void sspriority_take(ss_stock* stock, ss_depth_order* order, int side, uint32_t position) {
  if (!ssmodel_extended() || !stock || !order) return;
  static_cast<ss_depth_order_ext*>(order)->position = position;
  // The stock's own waiting records first. Their side is compared too: a
  // bid's details must not land on the offer of the same position.
  info_list own = stock_list(stock);
  auto* r = static_cast<order_info*>(*own.head);
  while (r && !(r->position == position && r->side == static_cast<uint32_t>(side))) r = r->next;
  info_list from = own;
  if (!r) {
    from = global_queue();
    r = static_cast<order_info*>(R.head);
    while (r && !(r->side == static_cast<uint32_t>(side) && r->position == position &&
                  r->exchange == stock->exchange->index && strcmp(r->code, stock->code) == 0))
      r = r->next;
  }
  if (!r) return;
  copy_onto(order, r->identifier, r->number, r->text1, r->text2);
  unlink(from, r);
  pool_free(&R.infos, r);
}

int sspriority_store_firm(ss_stock* stock, const uint8_t* data, int32_t length) {
  if (!stock || !R.ready) return -1;
  uint32_t bid, offer;
  if (firm_lengths(data, length, &bid, &offer) < 0) return -1;
  drop_firm();
  if (growbuf_append(&R.firm, data, static_cast<uint32_t>(6 + bid + offer)) < 0) return -1;
  R.firm_stock = stock;
  return 0;
}

int sspriority_apply_firm(ss_stock* stock) {
  if (!R.firm_stock) return 0;
  ss_stock* held = R.firm_stock;
  if (held != stock) {
    // A block whose fill never came would otherwise fail every other
    // stock's fill until its own: it is dropped.
    log(LOG_ERROR, kSrc, "mixed up %s:%s and %s:%s firm orders", held->exchange->name, held->code,
        stock->exchange->name, stock->code);
    drop_firm();
    return -1;
  }
  uint32_t bid, offer;
  const uint8_t* data = R.firm.data;
  int rc = 0;
  if (firm_lengths(data, R.firm.len, &bid, &offer) < 0) {
    rc = -1;
  } else {
    if (apply_side(stock, 0, data + 6, static_cast<int32_t>(bid)) < 0) {
      log(LOG_ERROR, kSrc, "can't decode %s:%s firm bid info", stock->exchange->name, stock->code);
      rc = -1;
    }
    if (apply_side(stock, 1, data + 6 + bid, static_cast<int32_t>(offer)) < 0) {
      log(LOG_ERROR, kSrc, "can't decode %s:%s firm offer info", stock->exchange->name, stock->code);
      rc = -1;
    }
  }
  drop_firm();
  return rc;
}

ss_stock* sspriority_firm_stock(void) { return R.firm_stock; }

void sspriority_clear(ss_stock* stock) {
  if (!ssmodel_extended() || !stock) return;
  info_list l = stock_list(stock);
  while (auto* r = static_cast<order_info*>(*l.head)) {
    unlink(l, r);
    pool_free(&R.infos, r);
  }
}

void sspriority_clear_exchange(const ss_exchange* ex) {
  if (!ex) return;
  info_list q = global_queue();
  for (auto* r = static_cast<order_info*>(R.head); r;) {
    order_info* next = r->next;
    if (r->exchange == ex->index) {
      unlink(q, r);
      pool_free(&R.infos, r);
    }
    r = next;
  }
  if (R.firm_stock && R.firm_stock->exchange == ex) drop_firm();
}

int sspriority_queued(void) { return static_cast<int>(R.count); }
