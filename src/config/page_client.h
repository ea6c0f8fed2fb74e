// What the configuration dialog's settings pages ask of the market-data
// client, gathered behind one record so the pages can be exercised without a
// connection. The record starts out pointing at the real client; checks may
// put in their own and restore it with null. User-interface thread only.
#pragma once
#include <cstdint>

struct page_client {
  int (*is_online)(void);
  // The password the client signed on with, or null without one.
  const char *(*login_password)(void);
  // Queues the change; 0, or -1 when it could not be queued.
  int (*change_password)(const char *text);
  void (*set_reconnect_timeout)(int32_t seconds);
};

const page_client *page_client_get(void);
// Null restores the real client.
void page_client_set(const page_client *c);
