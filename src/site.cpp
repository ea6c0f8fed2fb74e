// The site table. Three rows filled at start-up from the texts below; every
// text is a separate allocation with a link header in front, all hanging in
// one list so that site_fini frees them without walking the rows. Row 2 is
// the reseller brand; its texts are ours, and every web address points at
// a reserved example domain until the brands give theirs.
#include "site.h"

#include <strings.h>

#include <cstring>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/site";

namespace {

// The link header in front of every text of the table.
struct site_text {
  site_text *next;
  char text[];
};
static_assert(sizeof(site_text) == 8, "an 8-byte link header");

// The literal values of one row, turned into owned texts by site_init.
struct site_values {
  const char *code, *short_name, *name, *title;
  int32_t pictures[4];
  const char *about[5];
  const char *account[6];
  const char *account_url;
  intptr_t account_flag;
  const char *contact;
  int32_t flags[2];
  intptr_t flag;
};

const site_values kRows[kSiteRows] = {
    {"osprey", "Osprey2", "Osprey2", "Ambit",
     {17, 22, 21, -1},
     {},
     {"Manage your Osprey2 account", "Click the link below to launch your web browser",
      "You will be directed to a secure Osprey2 web page", nullptr,
      "https://www.osprey2.example/ambit-account", nullptr},
     nullptr, 0, "Please contact Osprey2", {1, 1}, 1},
    {"test", "Test", "Test", "Test Ambit",
     {17, 22, 21, 18},
     {"Test site"},
     {"Account Management", "Unavailable for Test site", "www.example.com", nullptr, nullptr,
      nullptr},
     nullptr, 0, "Please contact Osprey2", {0, 0}, 0},
    {"partner", "Partner", "Partner Markets", "Ambit",
     {17, 22, 21, -1},
     {"Provided by Partner Markets"},
     {"Manage your Partner Markets account", "Click the link below to launch your web browser",
      "You will be directed to a secure Partner Markets web page", nullptr,
      "https://www.partner.example/ambit-account", nullptr},
     nullptr, 0, "Please contact Partner Markets", {1, 1}, 1},
};

struct {
  site_row rows[kSiteRows];
  site_text *texts;  // every allocated text
  int current;
} S;

char *dup(const char *text) {
  if (!text) return nullptr;
  size_t n = strlen(text) + 1;
  auto *t = static_cast<site_text *>(dalloc_alloc(sizeof(site_text) + n));
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc %db for site string", (int)n);
    return nullptr;
  }
  memcpy(t->text, text, n);
  t->next = S.texts;
  S.texts = t;
  return t->text;
}

}  // namespace

int site_init() {
  site_fini();
  for (int i = 0; i < kSiteRows; i++) {
    const site_values &v = kRows[i];
    site_row &r = S.rows[i];
    r.code = dup(v.code);
    r.short_name = dup(v.short_name);
    r.name = dup(v.name);
    r.title = dup(v.title);
    memcpy(r.pictures, v.pictures, sizeof r.pictures);
    for (int k = 0; k < 5; k++) r.about[k] = dup(v.about[k]);
    for (int k = 0; k < 6; k++) r.account[k] = dup(v.account[k]);
    r.account_url = dup(v.account_url);
    r.account_flag = v.account_flag;
    r.contact = dup(v.contact);
    memcpy(r.flags, v.flags, sizeof r.flags);
    r.flag = v.flag;
  }
  return 0;
}

void site_fini() {
  while (site_text *t = S.texts) {
    S.texts = t->next;
    dalloc_free(t);
  }
  memset(S.rows, 0, sizeof S.rows);
  S.current = 0;
}

site_row *site_find(const char *code) {
  if (!code) return nullptr;
  for (site_row &r : S.rows)
    if (r.code && strcasecmp(r.code, code) == 0) return &r;
  return nullptr;
}

site_row *site_select(const char *code) {
  if (!code || !code[0]) {
    S.current = 0;
    return &S.rows[0];
  }
  site_row *r = site_find(code);
  if (!r) {
    log(LOG_ERROR, kSrc, "unknown site: %s", code);
    return nullptr;
  }
  S.current = (int)(r - S.rows);
  return r;
}

site_row *site_current() { return &S.rows[S.current]; }
int site_index() { return S.current; }
