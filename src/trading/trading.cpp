// The trading tables and the order list view. Every record comes from one
// of four pools made at start, so the module's memory is fixed from then
// on; the order list view's rows come from a fifth, made with the view
// class. The view settings are kept and reported but do not filter.
//
// Slots (orderlist): geometry_changed, draw, show_children, hide_children.
#include "trading/trading.h"

#include <cstring>

#include "lib/font.h"
#include "lib/gfx.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/object.h"

static const char kSrc[] = "src/trading/trading";

namespace {

struct pool_spec {
  int32_t items;
  int32_t size;
};
const pool_spec kPools[4] = {{100, 112}, {10, 64}, {10, 200}, {10, 32}};

const char *const kColumnTips[kOrderlistColumns] = {
    "Account",      "Date Placed",  "Short Company Name", "Code",
    "Buy or Sell",  "Limit Price",  "Unfilled Volume",    "Total Volume",
    "Distance from Market", "Distance from Market (Percent)", "Top Bid", "Top Ask",
    "Last Traded Price", "Expiry Date", "Name of Stock"};
constexpr int32_t kColumnWidth = 80;  // pixels per column of the view

struct {
  trading_broker *brokers[kTradingBrokers];
  trading_list<trading_account> accounts;
  trading_list<trading_order> orders;
  trading_list<trading_item> items;  // linked both ways, drained at stop
  pool pools[4];
  int ready[4];
  int fail_pool = -1;
  pool rows;
  int rows_ready;
} T;

void destroy_pools() {
  for (int i = 0; i < 4; i++) {
    if (T.ready[i]) pool_destroy(&T.pools[i]);
    T.ready[i] = 0;
  }
}

}  // namespace

void trading_fail_pool(int n) { T.fail_pool = n; }

int trading_init(void) {
  T.accounts = {};
  T.orders = {};
  T.items = {};
  for (int i = 0; i < 4; i++) {
    // The seam gives an item size the pool refuses, so the failure is the pool's own.
    int32_t size = T.fail_pool == i ? 1 : kPools[i].size;
    if (pool_init(&T.pools[i], kPools[i].items, size) < 0) {
      T.fail_pool = -1;
      destroy_pools();
      return -1;
    }
    T.ready[i] = 1;
  }
  return 0;
}

void trading_fini(void) {
  for (trading_item *it = T.items.head; it;) {
    trading_item *next = it->next;
    pool_free(&T.pools[2], it);
    T.items.count--;
    it = next;
  }
  T.items.head = T.items.tail = nullptr;
  for (trading_account *a = T.accounts.head; a;) {
    trading_account *next = a->next;
    pool_free(&T.pools[1], a);
    T.accounts.count--;
    a = next;
  }
  T.accounts.head = T.accounts.tail = nullptr;
  T.orders = {};
  for (trading_broker *&b : T.brokers) {
    delete b;
    b = nullptr;
  }
  destroy_pools();
}

int trading_check_brokers(void) {
  int missing = 0;
  for (trading_account *a = T.accounts.head; a; a = a->next) {
    if (a->state < 0) continue;
    // A negative number is as unknown as one past the table.
    if (a->broker < 0 || a->broker >= kTradingBrokers || !T.brokers[a->broker]) {
      log(LOG_ERROR, kSrc, "can't find broker #%d", a->broker);
      missing++;
    }
  }
  return missing;
}

int trading_set_broker(int32_t number, const char *name) {
  if (number < 0 || number >= kTradingBrokers) return -1;
  if (!T.brokers[number]) T.brokers[number] = new trading_broker{};
  T.brokers[number]->number = number;
  snprintf(T.brokers[number]->name, sizeof T.brokers[number]->name, "%s", name ? name : "");
  return 0;
}

trading_broker *trading_broker_at(int32_t number) {
  return number >= 0 && number < kTradingBrokers ? T.brokers[number] : nullptr;
}

trading_account *trading_add_account(int32_t broker, int32_t state, const char *id) {
  if (!T.ready[1]) return nullptr;
  auto *a = static_cast<trading_account *>(pool_alloc(&T.pools[1]));
  if (!a) return nullptr;
  memset(static_cast<void *>(a), 0, sizeof *a);
  a->broker = broker;
  a->state = state;
  snprintf(a->id, sizeof a->id, "%s", id ? id : "");
  a->prev = T.accounts.tail;
  if (T.accounts.tail) T.accounts.tail->next = a; else T.accounts.head = a;
  T.accounts.tail = a;
  T.accounts.count++;
  return a;
}

trading_order *trading_add_order(uint32_t exchange, const char *code) {
  if (!T.ready[0]) return nullptr;
  auto *o = static_cast<trading_order *>(pool_alloc(&T.pools[0]));
  if (!o) return nullptr;
  memset(static_cast<void *>(o), 0, sizeof *o);
  o->exchange = exchange;
  snprintf(o->code, sizeof o->code, "%s", code ? code : "");
  if (T.orders.tail) T.orders.tail->next = o; else T.orders.head = o;
  T.orders.tail = o;
  T.orders.count++;
  return o;
}

trading_item *trading_add_item(void) {
  if (!T.ready[2]) return nullptr;
  auto *it = static_cast<trading_item *>(pool_alloc(&T.pools[2]));
  if (!it) return nullptr;
  memset(static_cast<void *>(it), 0, sizeof *it);
  it->prev = T.items.tail;
  if (T.items.tail) T.items.tail->next = it; else T.items.head = it;
  T.items.tail = it;
  T.items.count++;
  return it;
}

const trading_list<trading_account> *trading_accounts(void) { return &T.accounts; }
const trading_list<trading_order> *trading_orders(void) { return &T.orders; }
const trading_list<trading_item> *trading_items(void) { return &T.items; }

// Order list view ---------------------------------------------------------------

namespace {

void free_rows(orderlist *v) {
  for (orderlist_row *r = v->rows; r;) {
    orderlist_row *next = r->next;
    pool_free(&T.rows, r);
    r = next;
  }
  v->rows = nullptr;
}

int32_t row_height() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

void ol_geometry_changed(widget *self) { orderlist_rebuild(static_cast<orderlist *>(self)); }

void ol_draw(widget *self) {
  auto *v = static_cast<orderlist *>(self);
  const style *st = style_cur();
  colour bg = st ? style_colour(st, SC_GRID_BACKGROUND) | 0xff000000u : 0xff101010u;
  colour fg = st ? style_colour(st, SC_TEXT) | 0xff000000u : 0xffe0e0e0u;
  int32_t font = st ? st->font[0] : 0;
  gfx_fill_rect(v->r.x, v->r.y, v->r.w, v->r.h, bg);
  for (orderlist_row *r = v->rows; r; r = r->next) {
    if (r->y + v->row_height > v->r.y + v->r.h) break;
    const trading_order *o = r->order;
    font_draw(o->account, v->r.x + 2, r->y + v->row_height - 3, 0, font, fg, nullptr);
    font_draw(o->code, v->r.x + 3 * kColumnWidth + 2, r->y + v->row_height - 3, 0, font, fg, nullptr);
  }
}

void ol_show_children(widget *self) { orderlist_rebuild(static_cast<orderlist *>(self)); }

void ol_hide_children(widget *self) {
  auto *v = static_cast<orderlist *>(self);
  fade_stop_owner(&v->fades);
}

void ol_fade_done(fade_value *, void *, uint32_t) {}

void ol_init(object *o) {
  auto *v = reinterpret_cast<orderlist *>(o);
  v->row_height = row_height();
  fade_owner_add(&v->fades, ol_fade_done);
}

void ol_fini(object *o) {
  auto *v = reinterpret_cast<orderlist *>(o);
  free_rows(v);
  fade_owner_remove(&v->fades);
}

void ol_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  k->geometry_changed = ol_geometry_changed;
  k->draw = ol_draw;
  k->show_children = ol_show_children;
  k->hide_children = ol_hide_children;
  if (!T.rows_ready && pool_init(&T.rows, 100, sizeof(orderlist_row)) == 0) T.rows_ready = 1;
}

void ol_class_fini(object_class *) {
  if (T.rows_ready) pool_destroy(&T.rows);
  T.rows_ready = 0;
}

typeid_t register_orderlist() {
  return object_register_class("orderlist", content_type(), sizeof(orderlist), ol_init, ol_fini,
                               sizeof(content_class), ol_class_init, ol_class_fini);
}

}  // namespace

typeid_t orderlist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_orderlist);
}

widget *orderlist_new(widget *parent) {
  auto *v = static_cast<orderlist *>(widget_new(parent, orderlist_type()));
  if (v) v->name = "orderlist";
  return v;
}

const char *orderlist_column_name(orderlist *v, int32_t x) {
  int32_t col = (x - v->r.x) / kColumnWidth;
  if (x < v->r.x || col >= kOrderlistColumns) return nullptr;
  return kColumnTips[col];
}

void orderlist_set_view_a(orderlist *v, int32_t value) {
  if (v->view_a == value) return;
  v->view_a = value;
  orderlist_rebuild(v);
}

void orderlist_set_view_b(orderlist *v, int32_t value) {
  if (v->view_b == value) return;
  v->view_b = value;
  orderlist_rebuild(v);
}

void orderlist_rebuild(orderlist *v) {
  if (!widget_is_shown(v)) return;
  log(LOG_INFO, kSrc, "orderlist %d %d", v->view_b, v->view_a);
  fade_stop_owner(&v->fades);
  free_rows(v);
  v->row_height = row_height();
  int32_t y = v->r.y;
  orderlist_row **tail = &v->rows;
  for (trading_order *o = T.orders.head; o; o = o->next) {
    auto *r = T.rows_ready ? static_cast<orderlist_row *>(pool_alloc(&T.rows)) : nullptr;
    if (!r) {
      log(LOG_ERROR, kSrc, "can't alloc row");
      break;
    }
    r->y = y;
    r->order = o;
    ss_exchange *ex = ssmodel_exchange(static_cast<int32_t>(o->exchange));
    r->stock = ex ? ssmodel_find_stock(ex, o->code) : nullptr;
    r->issuer = ex ? ssmodel_find_issuer(ex, o->code) : nullptr;
    r->next = nullptr;
    *tail = r;
    tail = &r->next;
    y += v->row_height;
  }
  widget_redraw(v);
}

int orderlist_row_count(const orderlist *v) {
  int n = 0;
  for (const orderlist_row *r = v->rows; r; r = r->next) n++;
  return n;
}
