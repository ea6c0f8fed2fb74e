// The document download manager. Every download is one record keyed by its
// final path: requesters of the same file join it, and a file already on
// disk (1024 bytes or more) is complete without a request, told on the
// next frame by a promise rather than inside the fetch, so a caller never
// meets its callback before the fetch returned. The io thread's data
// handler touches only the download's fd, url and tmp_path; everything else,
// and the progress copied under the io-state lock, is the user-interface
// thread's. A download whose side request was cancelled is never joined:
// its temporary file is about to go, so a new requester starts afresh under
// a temporary name of its own.
#include "doc/docmgr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dalloc.h"
#include "lib/timer.h"
#include "lib/olist.h"
#include "localdata.h"
#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssio.h"
#include "ssutil.h"

static const char kSrc[] = "docmgr";
constexpr int kItemsPerPage = 32;
constexpr int64_t kPollMs = 5;
constexpr uint32_t kDirAnnouncements = 2;
constexpr uint32_t kDirProfiles = 4;
constexpr uint32_t kDirTemp = 14;
constexpr char kProfilePath[] = "/pdf/osprey/advancedprofile/today/%s%s_advancedprofile.pdf";

static const docmgr_client kRealClient = {ssclient_request_http, ssclient_cancel_http,   ssio_state_get_progress,
                                          ssclient_log_news_item, ssclient_log_profile, gui_promise};

static struct {
  docmgr_doc *first, *last;
  int32_t count;
  int32_t timer;
  pool docs, reqs;
  bool ready;
  uint32_t tmp_serial;  // tells temporary names of the same file apart
  docmgr_client client;
  char news_host[256];
  char profile_host[256];
} S = {nullptr, nullptr, 0, -1, {}, {}, false, 0, kRealClient, {}, {}};

void docmgr_set_client(const docmgr_client *client) { S.client = client ? *client : kRealClient; }

void docmgr_set_hosts(const char *news_host, const char *profile_host) {
  snprintf(S.news_host, sizeof S.news_host, "%s", news_host ? news_host : "");
  snprintf(S.profile_host, sizeof S.profile_host, "%s", profile_host ? profile_host : "");
}

int32_t docmgr_count(void) { return S.count; }
const docmgr_doc *docmgr_first(void) { return S.first; }
int32_t docmgr_timer_id(void) { return S.timer; }

int docmgr_init(void) {
  if (pool_init(&S.docs, kItemsPerPage, (int32_t)sizeof(docmgr_doc)) != 0 ||
      pool_init(&S.reqs, kItemsPerPage, (int32_t)sizeof(docmgr_req)) != 0) {
    log(LOG_ERROR, kSrc, "can't initialize doc pools");
    return -1;
  }
  S.first = S.last = nullptr;
  S.count = 0;
  S.timer = -1;
  S.ready = true;
  return 0;
}

static void free_doc_texts(docmgr_doc *d) {
  if (d->url) dalloc_free(d->url);
  if (d->path) dalloc_free(d->path);
  if (d->tmp_path) dalloc_free(d->tmp_path);
  d->url = d->path = d->tmp_path = nullptr;
}

static void unlink_doc(docmgr_doc *d) {
  olist_unlink(d, S.first, S.last);
  S.count--;
}

void docmgr_shutdown(void) {
  if (!S.ready) return;
  if (S.timer >= 0) timer_stop(S.timer);
  S.timer = -1;
  for (docmgr_doc *d = S.first, *next; d; d = next) {
    next = d->next;
    if (d->http_id >= 0) S.client.cancel(d->http_id);
    d->http_id = -1;
    // The side request is cancelled, so the io thread writes no more: the
    // half-written temporary file is closed and removed, not left behind.
    if (d->fd >= 0) close(d->fd);
    d->fd = -1;
    if (d->tmp_path) unlink(d->tmp_path);
    free_doc_texts(d);
  }
  S.first = S.last = nullptr;
  S.count = 0;
  pool_destroy(&S.reqs);
  pool_destroy(&S.docs);
  S.ready = false;
}

// Hosts ----------------------------------------------------------------------

// The configured host, else the market-data server the client uses, as
// "host[:port]"; false when neither is known.
static bool host_for(const char *configured, char *out, size_t n) {
  if (configured[0]) {
    snprintf(out, n, "%s", configured);
    return true;
  }
  const char *host = nullptr;
  int32_t port = 0;
  if (ssio_current_server(&host, &port) < 0 || !host || !host[0]) return false;
  if (port > 0 && port != 80) snprintf(out, n, "%s:%d", host, port);
  else snprintf(out, n, "%s", host);
  return true;
}

char *docmgr_document_url(char *buf, const instr *in, uint32_t number) {
  char link[kDocmgrUrlSize];
  uint32_t size = sizeof link;
  if (!ssutil_news_pdf_url_for(link, &size, in, number)) return nullptr;
  char host[256];
  if (!host_for(S.news_host, host, sizeof host)) {
    snprintf(buf, kDocmgrUrlSize, "%s", link);
    return buf;
  }
  // The signed link's path and query on the chosen host.
  const char *rest = strstr(link, "://");
  rest = rest ? strchr(rest + 3, '/') : nullptr;
  int n = snprintf(buf, kDocmgrUrlSize, "http://%s%s", host, rest ? rest : "/");
  return n < kDocmgrUrlSize ? buf : nullptr;
}

char *docmgr_profile_url(char *buf, const instr *in) {
  char host[256];
  if (!in || !host_for(S.profile_host, host, sizeof host)) return nullptr;
  char path[kDocmgrUrlSize];
  bool nz = in->exchange && in->exchange->index == 1;
  snprintf(path, sizeof path, kProfilePath, in->code, nz ? "-NZ" : "");
  int n = snprintf(buf, kDocmgrUrlSize, "http://%s%s", host, path);
  return n < kDocmgrUrlSize ? buf : nullptr;
}

// Fetching ---------------------------------------------------------------------

static void finish_promise(void *, int) {
  if (S.ready) docmgr_finish();
}

static int timer_cb(void *, uint32_t, int64_t, float) {
  docmgr_finish();
  if (S.count > 0) return 1;
  S.timer = -1;
  return 0;
}

static void ensure_timer(void) {
  if (S.timer >= 0) return;
  S.timer = timer_start(kPollMs, timer_cb, nullptr, 0);
  if (S.timer < 0) log(LOG_ERROR, kSrc, "can't start doc timer");
}

static void append_req(docmgr_doc *d, docmgr_req *r) {
  r->doc = d;
  olist_insert_before(r, (docmgr_req *)nullptr, d->first, d->last);
  d->count++;
}

static bool tmp_path_taken(const char *tmp) {
  for (docmgr_doc *d = S.first; d; d = d->next)
    if (d->tmp_path && strcmp(d->tmp_path, tmp) == 0) return true;
  return false;
}

// The temporary file: the final file's base name in Temp, with a serial
// number when another download (a cancelled one on its way out) still
// holds that name.
static char *make_tmp_path(const char *path) {
  const char *base = plat_basename(path);
  char *tmp = localdata_path_alloc(kDirTemp, base);
  while (tmp && tmp_path_taken(tmp)) {
    dalloc_free(tmp);
    char name[kDocmgrNameSize + 16];
    snprintf(name, sizeof name, "%u-%s", ++S.tmp_serial, base);
    tmp = localdata_path_alloc(kDirTemp, name);
  }
  return tmp;
}

static void free_reqs(docmgr_doc *d) {
  for (docmgr_req *r = d->first, *next; r; r = next) {
    next = r->next;
    pool_free(&S.reqs, r);
  }
  d->first = d->last = nullptr;
  d->count = 0;
}

docmgr_req *docmgr_fetch(char *path, const char *url, docmgr_callback cb, void *context, uint32_t argument) {
  if (!path) return nullptr;
  if (!S.ready) {
    dalloc_free(path);
    return nullptr;
  }
  auto *r = static_cast<docmgr_req *>(pool_alloc(&S.reqs));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc doc req");
    dalloc_free(path);
    return nullptr;
  }
  memset(r, 0, sizeof *r);
  r->callback = cb;
  r->context = context;
  r->argument = argument;

  for (docmgr_doc *d = S.first; d; d = d->next) {
    if (d->cancelled || strcmp(d->path, path) != 0) continue;
    append_req(d, r);
    ensure_timer();
    dalloc_free(path);
    return r;
  }

  auto *d = static_cast<docmgr_doc *>(pool_alloc(&S.docs));
  if (!d) {
    log(LOG_ERROR, kSrc, "can't alloc document");
    pool_free(&S.reqs, r);
    dalloc_free(path);
    return nullptr;
  }
  memset(d, 0, sizeof *d);
  d->fd = -1;
  d->http_id = -1;
  d->path = path;
  d->tmp_path = make_tmp_path(path);
  if (!d->tmp_path) {
    log(LOG_ERROR, kSrc, "can't alloc space for doc tmp filename");
  } else {
    d->url = dalloc_strdup(url ? url : "");
  }
  if (!d->tmp_path || !d->url) {
    if (d->tmp_path) log(LOG_ERROR, kSrc, "can't alloc space for doc url");
    free_doc_texts(d);
    pool_free(&S.docs, d);
    pool_free(&S.reqs, r);
    return nullptr;
  }

  bool complete = false;
  struct stat sb;
  if (stat(path, &sb) == 0) {
    if (sb.st_size >= kDocmgrMinSize) {
      complete = true;
      uint32_t size = sb.st_size > UINT32_MAX ? UINT32_MAX : (uint32_t)sb.st_size;
      d->progress = ssio_progress{kSsioProgressDone, size, size, 0, 0};
    } else {
      log(LOG_ERROR, kSrc, "%s is only %db, removing", path, (int)sb.st_size);
      unlink(path);
    }
  }
  if (!complete) {
    int32_t id = d->url[0] ? S.client.request(d->url, docmgr_data_handler, d, 0, &d->progress) : -1;
    if (id < 0) {
      free_doc_texts(d);
      pool_free(&S.docs, d);
      pool_free(&S.reqs, r);
      return nullptr;
    }
    d->http_id = id;
  }

  olist_insert_before(d, (docmgr_doc *)nullptr, S.first, S.last);
  S.count++;
  append_req(d, r);
  ensure_timer();
  if (complete) S.client.promise(finish_promise, nullptr, 0);
  return r;
}

// The path of `name` in `dir`; null after the log line.
static char *doc_path(uint32_t dir, const char *name) {
  char *path = localdata_path_alloc(dir, name);
  if (!path) log(LOG_ERROR, kSrc, "can't alloc space for doc filename");
  return path;
}

static const char *exchange_short(const instr *in) {
  const char *name = in->exchange ? ssmodel_exchange_name((int32_t)in->exchange->index) : nullptr;
  return name ? name : "";
}

docmgr_req *docmgr_fetch_document(instr *in, const ss_news *item, docmgr_callback cb, void *context,
                                  uint32_t argument) {
  if (!in || !item) return nullptr;
  char name[kDocmgrNameSize];
  snprintf(name, sizeof name, "%s-%s-%d.pdf", exchange_short(in), in->code, (int)item->number);
  char *path = doc_path(kDirAnnouncements, name);
  if (!path) return nullptr;
  char url[kDocmgrUrlSize];
  const char *u = docmgr_document_url(url, in, item->number);
  docmgr_req *r = docmgr_fetch(path, u, cb, context, argument);
  if (r) {
    uint32_t number = item->number;
    S.client.log_news_item(in, &number);
  }
  return r;
}

docmgr_req *docmgr_fetch_profile(instr *in, docmgr_callback cb, void *context, uint32_t argument) {
  if (!in) return nullptr;
  char name[kDocmgrNameSize];
  snprintf(name, sizeof name, "%s-%s.pdf", exchange_short(in), in->code);
  char *path = doc_path(kDirProfiles, name);
  if (!path) return nullptr;
  char url[kDocmgrUrlSize];
  const char *u = docmgr_profile_url(url, in);
  docmgr_req *r = docmgr_fetch(path, u, cb, context, argument);
  if (r) S.client.log_profile(in);
  return r;
}

int docmgr_cancel(docmgr_req *r) {
  docmgr_doc *d = r ? r->doc : nullptr;
  if (!d) {
    log(LOG_WARN, kSrc, "no download to cancel");
    return -1;
  }
  olist_unlink(r, d->first, d->last);
  d->count--;
  pool_free(&S.reqs, r);
  if (d->count > 0) return 0;

  ssio_progress p;
  S.client.get_progress(&p, &d->progress);
  // An orphan that has a third of a known total goes on: its file is kept
  // for the next time it is asked for.
  if (p.total != 0 && p.received >= p.total / 3) return 0;
  if (d->http_id >= 0) {
    S.client.cancel(d->http_id);
    d->http_id = -1;
    d->cancelled = 1;
  }
  return 0;
}

// The temporary file of a finished download: moved into place for phase
// 5, removed in every case. Returns the phase the requesters are told.
static int32_t settle_file(docmgr_doc *d, int32_t phase) {
  bool opened = d->fd >= 0;
  if (opened) {
    close(d->fd);
    d->fd = -1;
  }
  if (phase == kSsioProgressDone && d->http_id >= 0) {
    if (!opened) {
      // The side request ended well without one byte of body: nothing to
      // keep, and nothing to show.
      log(LOG_ERROR, kSrc, "%s is only 0b, not keeping", d->path);
      phase = kSsioProgressFailed;
    } else {
      struct stat sb;
      if (stat(d->tmp_path, &sb) != 0) sb.st_size = 0;
      if (sb.st_size < kDocmgrMinSize) {
        log(LOG_ERROR, kSrc, "%s is only %db, not keeping", d->path, (int)sb.st_size);
        phase = kSsioProgressFailed;
      } else if (rename(d->tmp_path, d->path) != 0) {
        log(LOG_ERROR, kSrc, "can't rename %s to %s", d->tmp_path, d->path);
        phase = kSsioProgressFailed;
      }
    }
  }
  if (d->http_id >= 0 || opened) unlink(d->tmp_path);
  return phase;
}

void docmgr_finish(void) {
  if (!S.ready) return;
  for (docmgr_doc *d = S.first, *next; d; d = next) {
    next = d->next;
    ssio_progress p;
    S.client.get_progress(&p, &d->progress);
    // The client reports the body's arrival as its own receiving phase;
    // requesters see it as phase 4.
    if (p.phase == kSsioProgressReceiving) p.phase = kSsioProgressSent;
    bool finished = p.phase == kSsioProgressDone || p.phase == kSsioProgressFailed;
    if (finished) {
      p.phase = settle_file(d, p.phase);
      unlink_doc(d);
    }
    for (docmgr_req *r = d->first, *rn; r; r = rn) {
      rn = r->next;
      if (r->callback) r->callback(r, d->path, &p, r->context, r->argument);
    }
    if (finished) {
      free_reqs(d);
      free_doc_texts(d);
      pool_free(&S.docs, d);
    }
  }
}

int32_t docmgr_data_handler(const uint8_t *data, int32_t length, void *context, uint32_t) {
  auto *d = static_cast<docmgr_doc *>(context);
  if (d->fd < 0) {
    d->fd = plat_open(d->tmp_path, O_WRONLY | O_CREAT | O_TRUNC);
    if (d->fd < 0) {
      log(LOG_OSERR, kSrc, "can't save %s to %s", d->url, d->tmp_path);
      return -1;
    }
  }
  if (length <= 0) return 0;
  if (d->written + length > kDocmgrMaxSize) {
    log(LOG_ERROR, kSrc, "%s is over %dMB, not keeping", d->url, int(kDocmgrMaxSize >> 20));
    return -1;
  }
  d->written += length;
  if (plat_write_all(d->fd, data, length) != length) {
    log(LOG_OSERR, kSrc, "can't write %db to %s", length, d->tmp_path);
    return -1;
  }
  return length;
}
