// Clipboard export: the table writer lists use to copy their rows.
#pragma once

int clipboard_init(void);  // 0 / -1
void clipboard_shutdown(void);
