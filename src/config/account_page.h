// The account page of the configuration dialog: six lines about the user's
// subscription; a line with a web address opens the account web page, signed
// for the default site with a one-time digest of the login. Main thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ui/container.h"

struct label;

struct account_page : bin {
  label *line[6];
};

// The maker's account host.
extern const char kAccountHost[];

typeid_t account_page_type();
account_page *account_page_new(widget *parent);
// Fills the six lines for the current login state.
void account_page_refresh(account_page *p);

// The account address. site_index 0 is the default site: nonce (32 lowercase
// hex characters), now as "%08x" and the MD5 of nonce, time, user and
// password. Other sites: site_url when given, else the template with $SITE
// as the site's code; $USER becomes the user name, percent-encoded.
// 0, or -1 when the address does not fit.
int account_address(int site_index, const char *site_code, const char *site_url, const char *user,
                    const char *password, const char *nonce, uint32_t now, char *out, size_t size);
// Opens the account page for the current login; 0, or -1 (logged, or an
// alert with the address when no browser could be started).
int account_open(void);
// Whether a line's text makes it a link.
int account_line_is_link(const char *text);
