// The settings pages' view of the market-data client: a record of the few
// client calls the pages make, pointing at the real client unless a check
// installed its own. Keeping it a plain record of functions lets a page be
// driven with a fake client that records what the page asked for.
#include "config/page_client.h"

#include "ssclient.h"

namespace {

const char *real_login_password(void) {
  const char *password = nullptr;
  ssclient_get_login(nullptr, nullptr, &password);
  return password;
}

const page_client kReal = {ssclient_is_online, real_login_password, ssclient_change_password,
                           ssclient_set_reconnect_timeout};

struct {
  const page_client *cur = &kReal;
} S;

}  // namespace

const page_client *page_client_get(void) { return S.cur; }

void page_client_set(const page_client *c) { S.cur = c ? c : &kReal; }
