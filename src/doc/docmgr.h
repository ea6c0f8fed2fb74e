// The document manager: downloads of company profiles and announcements.
#pragma once

int docmgr_init(void);  // 0 / -1
void docmgr_shutdown(void);
