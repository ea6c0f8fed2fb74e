// The status page of the configuration dialog: the connection (server,
// proxy, protocol, last message, bytes downloaded, status line), the user's
// exchanges, kind and provider, and the program's module versions, updated
// twice a second while shown; "Send Log" sends the log report. Main thread.
#pragma once
#include <cstdint>

#include "sstime.h"
#include "ui/container.h"

struct button;
struct label;

// What the page shows, gathered from the client (status_page_gather) or given
// by a check.
struct status_inputs {
  int logged_on;
  const char *status_line;
  int has_server;
  const char *host;
  int32_t port;
  int proxy_in_use;
  const char *proxy_host;
  int32_t proxy_port;
  int http;
  ss_time last_message;
  uint64_t received;
  const char *provider;
  int have_login;             // the login fields are all known
  int permitted[4];           // per exchange 0-3
  const char *exchange[4];    // display names
  uint32_t user_kind;
};

constexpr int kStatusText = 128;
struct status_texts {
  char status[kStatusText];
  int status_colour;          // the style colour field: 83 not connected, 82 else
  char host[kStatusText], proxy[kStatusText], protocol[16], last[16], downloaded[32];
  char provider[kStatusText];
  char exchanges[kStatusText];  // "" leaves the text as it was
  char type[16];                // "" leaves the text as it was
};

enum { STATUS_HOST, STATUS_PROXY, STATUS_PROTOCOL, STATUS_LAST, STATUS_DOWNLOADED, STATUS_STATUS,
       STATUS_EXCHANGES, STATUS_TYPE, STATUS_PROVIDER, STATUS_BLANK1, STATUS_BLANK2, STATUS_VERSION,
       STATUS_PDF, STATUS_BUILD, STATUS_BUILD_TIME, STATUS_VIDEO, kStatusValues };

struct status_page : bin {
  int32_t timer;  // -1 none
  label *value[kStatusValues];
  button *send_log;
};

typeid_t status_page_type();
status_page *status_page_new(widget *parent);
void status_page_update(status_page *p);
void status_page_gather(status_inputs *in);
void status_page_compose(const status_inputs *in, status_texts *out);
// "Build Number": the build text followed by " +64bit", at most 63 characters.
void status_page_build_text(const char *build, char *out, int size);
