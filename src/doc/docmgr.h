// The document download manager: company profiles and announcement
// documents fetched over the market-data client's HTTP side requests and
// kept as files in the data tree. Requesters of the same final file share
// one download; a 5 ms timer reads the progress and tells every requester,
// in the order they asked, on every pass until the end, which each learns
// exactly once. User-interface thread only, but the data handler, which the
// client's io thread calls.
#pragma once

#include <cstdint>

#include "ssclient.h"
#include "ssio-state.h"
#include "ssmodel.h"
#include "ui/gui.h"

constexpr int kDocmgrNameSize = 64;     // file names: at most 63 characters
constexpr int32_t kDocmgrMinSize = 1024;  // a shorter document is never kept
// A longer one is refused as it arrives, before anything parses it: the
// largest company reports run to tens of megabytes.
constexpr int64_t kDocmgrMaxSize = int64_t(64) << 20;
constexpr int kDocmgrUrlSize = 1024;

struct docmgr_req;
struct docmgr_doc;

// Told on every pass with the final path and a copy of the progress; after
// a call with phase 5 or 6 the request no longer exists. A callback must
// not cancel requests of the download that is reporting.
typedef void (*docmgr_callback)(docmgr_req *req, const char *path, const ssio_progress *progress, void *context,
                                uint32_t argument);

struct docmgr_req {
  docmgr_doc *doc;
  docmgr_callback callback;
  void *context;
  uint32_t argument;
  docmgr_req *prev, *next;
};

struct docmgr_doc {
  int fd;           // the temporary file; -1 while none is open (io thread)
  int32_t http_id;  // -1 while no side request is active
  char *url;        // "" when none was given
  char *path;       // the final file
  char *tmp_path;   // in Temp
  ssio_progress progress;  // written by the client under the io-state lock
  int64_t written;         // body bytes in the temporary file (io thread)
  uint32_t count;
  docmgr_req *first, *last;
  docmgr_doc *prev, *next;
  int cancelled;  // its side request was cancelled: a new requester never joins it
};

int docmgr_init(void);  // 0 / -1
// Cancels the active side requests, closes and removes the temporary files
// and frees every download and request. The client's io thread must have
// stopped: its data handler holds pointers to the downloads.
void docmgr_shutdown(void);

// Each returns the new request, or null after a log line (none when there
// is no URL and no file on disk).
docmgr_req *docmgr_fetch_document(instr *in, const ss_news *item, docmgr_callback cb, void *context,
                                  uint32_t argument);
docmgr_req *docmgr_fetch_profile(instr *in, docmgr_callback cb, void *context, uint32_t argument);
// Takes over `path` (a dalloc text): it is freed wherever it is not kept.
docmgr_req *docmgr_fetch(char *path, const char *url, docmgr_callback cb, void *context, uint32_t argument);
// 0, or -1 (WARN "no download to cancel") for a request without a download.
int docmgr_cancel(docmgr_req *req);
// One pass over every download: progress to the requesters, finished ones
// moved into place (or dropped) and freed.
void docmgr_finish(void);

// The io thread's data handler (exposed for the tests).
int32_t docmgr_data_handler(const uint8_t *data, int32_t length, void *context, uint32_t argument);

// The hosts ("name" or "name:port") of the announcement documents and of
// the company profiles; null or "" for the default, the market-data server
// the client uses (the simulator in tests and demonstrations).
void docmgr_set_hosts(const char *news_host, const char *profile_host);
// The URL a fetch of that document or profile asks for, into buf (1024
// bytes); null when none can be made.
char *docmgr_document_url(char *buf, const instr *in, uint32_t number);
char *docmgr_profile_url(char *buf, const instr *in);

// What the manager asks of the client and the frame loop; tests put fakes
// here. Null restores the real ones.
struct docmgr_client {
  int32_t (*request)(const char *url, ss_http_handler handler, void *context, uint32_t argument,
                     ssio_progress *progress);
  int (*cancel)(int32_t id);
  void (*get_progress)(ssio_progress *out, const ssio_progress *progress);
  int (*log_news_item)(instr *in, const uint32_t *number);
  int (*log_profile)(instr *in);
  int (*promise)(gui_promise_fn fn, void *arg, int n);
};
void docmgr_set_client(const docmgr_client *client);

// For checks: the downloads in the list, and the timer's id (-1 stopped).
int32_t docmgr_count(void);
const docmgr_doc *docmgr_first(void);
int32_t docmgr_timer_id(void);
