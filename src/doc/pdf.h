// PDF views: the render thread and its page queue.
#pragma once

int pdf_init(void);  // its result is not needed to run
void pdf_shutdown(void);
