// The PDF render thread. It shares with the user-interface thread only the
// pending list, the done list and the stop flag, all under one mutex; the
// condition wakes the thread. The thread waits while there is neither work
// nor a stop, so a stop or a request signalled before it reached its wait is
// never missed, and whatever it did not render is handed back after the
// join rather than lost.
//
// Threads and locks: S.lock guards pending, done and stop; nothing else is
// taken while it is held, and the renderer runs without it.
#include "doc/pdf_server.h"

#include "lib/olist.h"
#include "log.h"
#include "plat.h"

static const char kSrc[] = "pdf";

static struct {
  plat_slot lock, cond, thread;
  pdf_request_list pending, done;
  bool stop;
  pdf_renderer_fn render;
} S = {-1, -1, -1, {}, {}, false, nullptr};

void pdf_request_list_append(pdf_request_list *l, pdf_request *r) {
  olist_insert_before(r, (pdf_request *)nullptr, l->first, l->last);
  l->count++;
}

static void list_move_all(pdf_request_list *to, pdf_request_list *from) {
  if (!from->first) return;
  if (to->last) {
    to->last->next = from->first;
    from->first->prev = to->last;
  } else {
    to->first = from->first;
  }
  to->last = from->last;
  to->count += from->count;
  *from = pdf_request_list{};
}

static void render_thread(void *) {
  for (;;) {
    pdf_request_list work{};
    {
      plat_lock_guard g(S.lock);
      while (!S.stop && !S.pending.first) plat_cond_wait(S.cond, S.lock);
      if (S.stop) return;
      work = S.pending;
      S.pending = pdf_request_list{};
    }
    for (pdf_request *r = work.first, *next; r; r = next) {
      next = r->next;
      bool stopping;
      {
        plat_lock_guard g(S.lock);
        stopping = S.stop;
      }
      if (!stopping) S.render(r);
      plat_lock_guard g(S.lock);
      pdf_request_list_append(&S.done, r);
    }
  }
}

int pdf_server_start(pdf_renderer_fn render) {
  S.pending = S.done = pdf_request_list{};
  S.stop = false;
  S.render = render;
  S.lock = plat_mutex_create();
  if (S.lock < 0) {
    log(LOG_ERROR, kSrc, "can't create pdf lock");
    return -1;
  }
  S.cond = plat_cond_create();
  if (S.cond < 0) {
    log(LOG_ERROR, kSrc, "can't create pdf condition");
    plat_mutex_destroy(S.lock);
    S.lock = -1;
    return -1;
  }
  S.thread = plat_thread_create(render_thread, nullptr);
  if (S.thread < 0) {
    log(LOG_ERROR, kSrc, "can't create pdf thread");
    plat_cond_destroy(S.cond);
    plat_mutex_destroy(S.lock);
    S.cond = S.lock = -1;
    return -1;
  }
  return 0;
}

int pdf_server_running(void) { return S.thread >= 0; }

void pdf_server_stop(void) {
  if (S.thread < 0) return;
  {
    plat_lock_guard g(S.lock);
    S.stop = true;
    plat_cond_signal(S.cond);
  }
  plat_thread_join(S.thread);
  if (plat_thread_cancel(S.thread) != 0) log(LOG_ERROR, kSrc, "can't destroy pdf thread");
  S.thread = -1;
  // Requests the thread never took are handed back unrendered (error 1).
  list_move_all(&S.done, &S.pending);
  plat_cond_destroy(S.cond);
  plat_mutex_destroy(S.lock);
  S.cond = S.lock = -1;
}

void pdf_server_exchange(pdf_request_list *add, pdf_request_list *done) {
  *done = pdf_request_list{};
  if (S.lock < 0) {
    // No server: what is handed in comes straight back unrendered.
    list_move_all(done, &S.done);
    list_move_all(done, add);
    return;
  }
  plat_lock_guard g(S.lock);
  list_move_all(&S.pending, add);
  list_move_all(done, &S.done);
  if (S.pending.first || S.stop) plat_cond_signal(S.cond);
}
