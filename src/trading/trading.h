// The trading tables: the process-wide broker table (three slots), the
// account and order lists and the module's other lists, with the pools
// their records come from; and the order list view, one row per order.
// The module keeps and lists what it is given: nothing here places orders.
// Main thread only.
#pragma once

#include <cstdint>

#include "lib/fade.h"
#include "windows/content.h"

struct ss_stock;
struct ss_issuer;

constexpr int kTradingBrokers = 3;
constexpr int kOrderlistColumns = 15;

struct trading_broker {
  int32_t number;
  char name[28];
};

struct trading_account {  // from the 64-byte pool
  int32_t broker;
  int32_t state;  // negative: not in use
  char id[32];
  trading_account *prev, *next;
};
static_assert(sizeof(trading_account) <= 64, "accounts come from the 64-byte pool");

struct trading_order {  // from the 112-byte pool
  uint32_t exchange;
  char code[12];
  char account[24];
  uint32_t side;  // 0 buy, 1 sell
  uint32_t price;
  uint64_t volume, unfilled;
  uint32_t placed, expiry;
  uint32_t pad[8];
  trading_order *next;
};
static_assert(sizeof(trading_order) == 112, "orders are 112-byte records");

struct trading_item {  // a record of the module's own list, from the 200-byte pool
  char data[184];
  trading_item *prev, *next;
};
static_assert(sizeof(trading_item) == 200, "module records are 200 bytes");

template <class T>
struct trading_list {
  uint32_t count;
  T *head, *tail;
};

// 0, or -1 when a pool cannot be made (the application then stops starting).
int trading_init(void);
// Frees the module list and the accounts (counts kept right), the broker
// records and the pools.
void trading_fini(void);
// After sign-on: every account in use (state not negative) whose broker is
// outside the table or not there logs ERROR "can't find broker #%d".
// Returns how many were missing.
int trading_check_brokers(void);

// The tables, for the code that fills them (none in this program yet) and
// the tests.
int trading_set_broker(int32_t number, const char *name);  // 0; -1 outside 0-2
trading_broker *trading_broker_at(int32_t number);          // null when empty or outside
trading_account *trading_add_account(int32_t broker, int32_t state, const char *id);  // null: pool empty
trading_order *trading_add_order(uint32_t exchange, const char *code);                // appended; null: pool empty
trading_item *trading_add_item(void);                                                   // null: pool empty
const trading_list<trading_account> *trading_accounts(void);
const trading_list<trading_order> *trading_orders(void);
const trading_list<trading_item> *trading_items(void);
// Test seam: pool number n (0 orders, 1 the 64-byte, 2 the 200-byte, 3 the
// 32-byte pool) fails at the next trading_init; -1 none.
void trading_fail_pool(int n);

// The order list view.
struct orderlist_row {
  int32_t y;
  trading_order *order;
  ss_stock *stock;
  ss_issuer *issuer;
  orderlist_row *next;
};

struct orderlist : content {
  orderlist_row *rows;
  int32_t row_height;
  fade_owner fades;
  int32_t view_a, view_b;
};

typeid_t orderlist_type();
widget *orderlist_new(widget *parent);
// The tooltip of the shown column that contains x, or null.
const char *orderlist_column_name(orderlist *v, int32_t x);
void orderlist_set_view_a(orderlist *v, int32_t value);
void orderlist_set_view_b(orderlist *v, int32_t value);
// Only while the view is shown: INFO "orderlist %d %d" (view_b, view_a),
// then one row per order from the head of the order list.
void orderlist_rebuild(orderlist *v);
int orderlist_row_count(const orderlist *v);
