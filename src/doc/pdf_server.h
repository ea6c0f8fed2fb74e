// The PDF render thread: requests go in through pdf_server_exchange and
// come back finished through the same call. A request belongs to the
// user-interface thread until it is handed in, to the render thread until
// it is on the done list, and to the user-interface thread again once taken
// back; the render thread never touches a view.
#pragma once

#include <cstdint>

#include "doc/pdf.h"

struct pdf_request_list {
  pdf_request *first, *last;
  int32_t count;
};

void pdf_request_list_append(pdf_request_list *l, pdf_request *r);

// 0, or -1 after an ERROR line (nothing left running).
int pdf_server_start(pdf_renderer_fn render);
// Stops and joins the thread; requests it never rendered go to the done
// list with their error still 1, for the next exchange to hand back.
void pdf_server_stop(void);
// Appends `add` (emptied) to the pending list and moves the done list into
// *done (emptied first). User-interface thread.
void pdf_server_exchange(pdf_request_list *add, pdf_request_list *done);
int pdf_server_running(void);
