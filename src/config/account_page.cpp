#include "config/account_page.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "config/configbox.h"
#include "log.h"
#include "md5.h"
#include "plat.h"
#include "site.h"
#include "ssclient.h"
#include "ui/box.h"
#include "ui/label.h"
#include "ui/launch-linux.h"

const char kAccountHost[] = "accounts.kestrel-markets.invalid";

namespace {

constexpr char kSrc[] = "src/config/account_page";
constexpr uint32_t kGrey = 0xFFC8C8C8u, kWhite = 0xFFFFFFFFu;
constexpr size_t kAccountUrlMax = 256;
const char *const kNotLoggedIn[6] = {"Not logged in", "You must log in to Ambit before you can",
                                     "manage your subscription and contact details", "", "", ""};

account_page *as_page(widget *w) { return static_cast<account_page *>(w); }

void on_click(label *, void *, int) { account_open(); }

void page_show_children(widget *self) {
  account_page_refresh(as_page(self));
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->show_children) rec->show_children(self);
}

void page_motion(widget *self, int32_t, int32_t) { widget_redraw(self); }

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->motion = page_motion;
}

typeid_t register_page() {
  return object_register_class("account_page", bin_type(), sizeof(account_page), nullptr, nullptr,
                               sizeof(container_class), page_class_init, nullptr);
}

// The user name as a query value: unreserved characters stay, the rest
// become %XX, so '&', '#' or blanks can't change the address's meaning.
std::string encode(const char *text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; c++) {
    if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
        strchr("-._~", *c)) {
      out += static_cast<char>(*c);
    } else {
      out += '%';
      out += hex[*c >> 4];
      out += hex[*c & 15];
    }
  }
  return out;
}

void replace_all(std::string &s, const char *what, const std::string &with) {
  const size_t n = strlen(what);
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, n, with);
}

}  // namespace

int account_line_is_link(const char *text) {
  return text && (strstr(text, "http") || strstr(text, "www"));
}

int account_address(int site_index, const char *site_code, const char *site_url, const char *user,
                    const char *password, const char *nonce, uint32_t now, char *out, size_t size) {
  std::string url;
  if (site_index != 0) {
    if (site_url && *site_url && strlen(site_url) <= kAccountUrlMax) {
      url = site_url;
    } else {
      url = std::string("https://") + kAccountHost + "/ambit-account?Site=$SITE&User=$USER";
      replace_all(url, "$SITE", encode(site_code ? site_code : ""));
    }
    if (user) replace_all(url, "$USER", encode(user));
  } else {
    char time_text[16];
    snprintf(time_text, sizeof time_text, "%08x", now);
    md5_ctx ctx;
    md5_init(&ctx);
    for (const char *part : {nonce, static_cast<const char *>(time_text), user, password})
      if (part) md5_update(&ctx, part, static_cast<uint32_t>(strlen(part)));
    uint8_t digest[16];
    md5_final(&ctx, digest);
    char hex[33];
    for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    url = std::string("https://") + kAccountHost + "/ambit-account?" + (nonce ? nonce : "") + time_text + hex;
  }
  if (url.size() + 1 > size) return -1;
  memcpy(out, url.c_str(), url.size() + 1);
  return 0;
}

int account_open(void) {
  // An empty site field means the default site: the user name and the
  // password are what a login needs.
  const char *user = nullptr, *password = nullptr;
  const int have_login = ssclient_get_login(nullptr, &user, &password) == 0;
  const site_row *row = site_current();
  const int flag = row && row->account_flag;
  if (!have_login && !flag) {
    log(LOG_ERROR, kSrc, "wasn't logged in");
    return -1;
  }
  uint8_t bytes[16];
  plat_random_bytes(bytes, sizeof bytes);
  char nonce[33];
  for (int i = 0; i < 16; i++) snprintf(nonce + 2 * i, 3, "%02x", bytes[i]);
  char url[1024];
  // The address carries a digest of the password: it is never logged.
  if (account_address(site_index(), row ? row->code : "", row ? row->account_url : nullptr, user, password,
                      nonce, static_cast<uint32_t>(time(nullptr)), url, sizeof url) < 0) {
    log(LOG_ERROR, kSrc, "account address too long");
    return -1;
  }
  if (launch_open_url(url) == 0) return 0;
  launch_alert("Ambit Account",
               "There was a problem launching a web browser.\n\nPlease open the following link in a web "
               "browser to access your account:",
               url, 3);
  return -1;
}

typeid_t account_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

account_page *account_page_new(widget *parent) {
  auto *p = static_cast<account_page *>(widget_new(parent, account_page_type()));
  if (!p) return nullptr;
  vbox *col = vbox_new(p, 0, 6);
  int ok = col != nullptr;
  for (label *&l : p->line) {
    l = col ? label_new(col, "", 2, configbox_font(), 0, kWhite, nullptr) : nullptr;
    ok &= l != nullptr;
  }
  if (!ok) {
    widget_delete(p);
    return nullptr;
  }
  account_page_refresh(p);
  return p;
}

void account_page_refresh(account_page *p) {
  const site_row *row = site_current();
  const int logged = ssclient_login_done() || (row && row->account_flag);
  for (int i = 0; i < 6; i++) {
    const char *text = logged && row && row->account[i] ? row->account[i] : (logged ? "" : kNotLoggedIn[i]);
    label_set_text(p->line[i], text);
    const int link = i > 0 && account_line_is_link(text);
    label_set_colour(p->line[i], i == 0 || link ? kWhite : kGrey);
    label_set_click(p->line[i], link ? on_click : nullptr, p, i);
  }
}
