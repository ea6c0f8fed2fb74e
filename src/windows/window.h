// Market windows: the frame around each window's content.
#pragma once

// Deletes every market window (at shutdown).
void window_destroy_all(void);
