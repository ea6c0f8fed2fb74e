// News feeds.
#pragma once

int rss_init(void);  // 0 / -1
void rss_shutdown(void);
