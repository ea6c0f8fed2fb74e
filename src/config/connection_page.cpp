// The connection page: edits the four connection locations of the local
// settings in place. Every control acts on the current location at once and
// marks the page changed; the page then refreshes every control from the
// settings, so what is shown is always what is stored. While the client is
// online the location in use cannot change, so hiding the page puts back the
// location that was in use when it was shown, then saves the settings.
#include "config/connection_page.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "config/configbox.h"
#include "config/page_client.h"
#include "config/save_local.h"
#include "log.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "ui/uib.h"

namespace {

constexpr char kSrc[] = "src/config/connection_page";
constexpr char kDefaultName[] = "Default";
constexpr int32_t kMaxProxyPort = 65535;
enum : int32_t {
  kCmdNative = 30, kCmdHttp = 31, kCmdPort6080 = 33, kCmdPort443 = 34, kCmdPort80 = 35,
  kCmdProxyNone = 36, kCmdProxyHttp = 37, kCmdInternet = 41,
  kCmdName = 50, kCmdHost = 53, kCmdProxyHost = 54, kCmdProxyPort = 55, kCmdProxyUser = 56,
  kCmdProxyPassword = 57,
};

// Class slots: hide_children (save on hide), show_children (remember the
// location in use and refresh).
connection_page *as_page(widget *w) { return static_cast<connection_page *>(w); }
button_group *group(connection_page *p, int i) { return &p->groups[i]; }

void copy_text(char *to, size_t size, size_t keep, const char *from) {
  snprintf(to, size < keep + 1 ? size : keep + 1, "%s", from);
}

// After the current location lost its name: the named locations move toward
// the front in their order, the free entries to the back, and the first
// named one is used; with none left, entry 0 is "Default".
void compact_locations(local_config *lc) {
  config_location tmp[kConfigLocations];
  int n = 0;
  for (const config_location &l : lc->locations)
    if (l.name[0]) tmp[n++] = l;
  for (const config_location &l : lc->locations)
    if (!l.name[0]) tmp[n++] = l;
  memcpy(lc->locations, tmp, sizeof tmp);
  if (!lc->locations[0].name[0]) copy_text(lc->locations[0].name, sizeof lc->locations[0].name, 31, kDefaultName);
  lc->cur_location = 0;
}

// Decimal digits only, 1 to 65535; -1 otherwise.
int32_t read_port(const char *text) {
  if (!text[0]) return -1;
  for (const char *c = text; *c; c++)
    if (*c < '0' || *c > '9') return -1;
  errno = 0;
  long v = strtol(text, nullptr, 10);
  if (errno || v < 1 || v > kMaxProxyPort) return -1;
  return static_cast<int32_t>(v);
}

void set_field(textbox *t, const char *text) {
  if (strcmp(textbox_text(t), text) != 0) textbox_set_text(t, text);
}

void on_button(button *b, uint32_t state, void *arg, int32_t id) {
  connection_page *p = as_page(static_cast<widget *>(arg));
  if (!(state & BUTTON_IN_CALLBACK) || p->refreshing) return;
  local_config *lc = config_local();
  config_location *loc = config_cur_location();
  switch (id) {
    case 0: case 1: case 2: case 3: lc->cur_location = id; break;
    case kCmdNative: loc->ambit_over_http = 0; break;
    case kCmdHttp: loc->ambit_over_http = 1; break;
    case kCmdPort6080: loc->ambit_port = 6080; break;
    case kCmdPort443: loc->ambit_port = 443; break;
    case kCmdPort80: loc->ambit_port = 80; break;
    case kCmdProxyNone: loc->proxy_type = 0; break;
    case kCmdProxyHttp: loc->proxy_type = 2; break;
    case kCmdInternet: loc->ambit_uses_default_servers = (b->state & BUTTON_ACTIVE) ? 1 : 0; break;
    default: return;
  }
  p->changed = 1;
  connection_page_refresh(p);
}

void on_text(textbox *t, int code, void *arg, int32_t id) {
  connection_page *p = as_page(static_cast<widget *>(arg));
  if (code != TEXTBOX_CHANGED || p->refreshing) return;
  local_config *lc = config_local();
  config_location *loc = config_cur_location();
  const char *text = textbox_text(t);
  switch (id) {
    case kCmdName:
      copy_text(loc->name, sizeof loc->name, 31, text);
      if (!loc->name[0]) compact_locations(lc);
      break;
    case kCmdHost: copy_text(loc->ambit_hostname, sizeof loc->ambit_hostname, 79, text); break;
    case kCmdProxyHost: copy_text(loc->proxy_hostname, sizeof loc->proxy_hostname, 79, text); break;
    case kCmdProxyPort: {
      // A port outside 1-65535, or not a number, leaves the stored one.
      int32_t port = read_port(text);
      if (port > 0) loc->proxy_port = port;
      break;
    }
    case kCmdProxyUser: copy_text(loc->proxy_username, sizeof loc->proxy_username, 31, text); break;
    case kCmdProxyPassword: copy_text(loc->proxy_password, sizeof loc->proxy_password, 31, text); break;
    default: return;
  }
  p->changed = 1;
  p->editing = id;
  connection_page_refresh(p);
  p->editing = 0;
}

void page_show_children(widget *self) {
  connection_page *p = as_page(self);
  p->shown_location = page_client_get()->is_online() ? config_local()->cur_location : -1;
  connection_page_refresh(p);
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->show_children) rec->show_children(self);
}

void page_hide_children(widget *self) {
  connection_page *p = as_page(self);
  if (p->changed) {
    p->changed = 0;
    local_config *lc = config_local();
    if (page_client_get()->is_online() && p->shown_location >= 0 && lc->cur_location != p->shown_location) {
      log(LOG_WARN, kSrc, "changing location back to %d from %d", p->shown_location, lc->cur_location);
      lc->cur_location = p->shown_location;
    }
    save_local_config();
  }
  auto *rec = static_cast<widget_class *>(self->cls->parent);
  if (rec->hide_children) rec->hide_children(self);
}

void page_init(object *obj) { reinterpret_cast<connection_page *>(obj)->shown_location = -1; }

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
}

typeid_t register_page() {
  return object_register_class("connection_page", bin_type(), sizeof(connection_page), page_init, nullptr,
                               sizeof(container_class), page_class_init, nullptr);
}

}  // namespace

typeid_t connection_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

connection_page *connection_page_new(widget *parent) {
  auto *p = static_cast<connection_page *>(widget_new(parent, connection_page_type()));
  if (!p) return nullptr;
  // The groups are the page's own: a dialog per screen means several pages.
  button_group *groups = p->groups;
  const int32_t font = configbox_font();
  const uint32_t ink = configbox_ink();
  int32_t tb[12];
  configbox_textbox_style(tb);
  static padding pad = {2, 4, 2, 4};
  widget *content = uib_build(
      UIB_VBOX, 0, 4,
        UIB_DEF_LABEL0, 0, font, 0, ink, nullptr,
        UIB_DEF_TB0, tb[0], tb[1], tb[2], tb[3], tb[4], tb[5], tb[6], tb[7], tb[8], tb[9], tb[10], tb[11], &pad,
        UIB_TB_STYLE0, UIB_TB_CALLBACK, on_text, p,
        UIB_DEF_COLOURS0, configbox_buttons(), UIB_COLOURS0,
        UIB_BUTTON_CALLBACK, on_button, p,
        UIB_FLAGS_PUSH_SET, BUTTON_TOGGLE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Profile",
          UIB_RADIO, &groups[0],
            UIB_BUTTON, "", 0, UIB_STORE, &p->location[0],
            UIB_BUTTON, "", 1, UIB_STORE, &p->location[1],
            UIB_BUTTON, "", 2, UIB_STORE, &p->location[2],
            UIB_BUTTON, "", 3, UIB_STORE, &p->location[3],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Name",
          UIB_TEXTBOX, "", 31, 0, kCmdName, UIB_STORE, &p->name,
        UIB_CLOSE,
        UIB_LABEL0, "Ambit Server",
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Host",
          UIB_BUTTON, "Internet", kCmdInternet, UIB_STORE, &p->internet,
          UIB_TEXTBOX, "", 79, 0, kCmdHost, UIB_STORE, &p->host,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Port",
          UIB_RADIO, &groups[1],
            UIB_BUTTON, "6080", kCmdPort6080, UIB_STORE, &p->port[0],
            UIB_BUTTON, "443", kCmdPort443, UIB_STORE, &p->port[1],
            UIB_BUTTON, "80", kCmdPort80, UIB_STORE, &p->port[2],
          UIB_RADIO_END,
          UIB_LABEL0, "Connection",
          UIB_RADIO, &groups[2],
            UIB_BUTTON, "Native", kCmdNative, UIB_STORE, &p->mode[0],
            UIB_BUTTON, "HTTP", kCmdHttp, UIB_STORE, &p->mode[1],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_LABEL0, "Proxy",
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Type",
          UIB_RADIO, &groups[3],
            UIB_BUTTON, "None", kCmdProxyNone, UIB_STORE, &p->proxy[0],
            UIB_BUTTON, "HTTP", kCmdProxyHttp, UIB_STORE, &p->proxy[1],
          UIB_RADIO_END,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Host",
          UIB_TEXTBOX, "", 79, 0, kCmdProxyHost, UIB_STORE, &p->proxy_host,
          UIB_LABEL0, "Port",
          UIB_TEXTBOX, "", 5, 0, kCmdProxyPort, UIB_STORE, &p->proxy_port,
        UIB_CLOSE,
        UIB_HBOX, 0, 4,
          UIB_LABEL0, "Username",
          UIB_TEXTBOX, "", 31, 0, kCmdProxyUser, UIB_STORE, &p->proxy_user,
          UIB_LABEL0, "Password",
          UIB_TEXTBOX, "", 31, TEXTBOX_PASSWORD, kCmdProxyPassword, UIB_STORE, &p->proxy_password,
        UIB_CLOSE,
        UIB_FLAGS_POP,
      UIB_CLOSE,
      UIB_END);
  uib_build(UIB_TB_CALLBACK, nullptr, nullptr, UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_END);
  if (!content) {
    log(LOG_ERROR, kSrc, "can't build connection page");
    widget_delete(p);
    return nullptr;
  }
  container_cls(p)->add(p, content);
  connection_page_refresh(p);
  return p;
}

void connection_page_refresh(connection_page *p) {
  local_config *lc = config_local();
  const config_location *loc = config_cur_location();
  p->refreshing = 1;
  for (int i = 0; i < kConfigLocations; i++) {
    const char *name = lc->locations[i].name;
    button_set_text(p->location[i], name);
    button_set_sensitive(p->location[i], name[0] != 0);
  }
  if (!lc->locations[3].name[0]) {
    int next = 0;
    for (int i = 0; i < 3; i++)
      if (lc->locations[i].name[0]) next = i + 1;
    button_set_text(p->location[next], "New");
    button_set_sensitive(p->location[next], 1);
  }
  button_group_select(group(p, 0), lc->cur_location);
  set_field(p->name, loc->name);
  set_field(p->host, loc->ambit_hostname);
  button_set_active(p->internet, loc->ambit_uses_default_servers);
  textbox_set_editable(p->host, !loc->ambit_uses_default_servers);
  const int32_t port = loc->ambit_port == 6080 ? kCmdPort6080 : loc->ambit_port == 80 ? kCmdPort80 : kCmdPort443;
  button_group_select(group(p, 1), port);
  button_group_select(group(p, 2), loc->ambit_over_http ? kCmdHttp : kCmdNative);
  if (loc->proxy_type == 3) log(LOG_ERROR, kSrc, "SOCKS shouldn't be allowed");
  button_group_select(group(p, 3), loc->proxy_type == 2 ? kCmdProxyHttp : kCmdProxyNone);
  set_field(p->proxy_host, loc->proxy_hostname);
  char port_text[16] = "";
  if (loc->proxy_port > 0) snprintf(port_text, sizeof port_text, "%d", loc->proxy_port);
  // A field being typed in keeps its text (a port that is not yet valid).
  if (p->editing != kCmdProxyPort) set_field(p->proxy_port, port_text);
  set_field(p->proxy_user, loc->proxy_username);
  set_field(p->proxy_password, loc->proxy_password);
  const int proxied = loc->proxy_type != 0;
  const int with_user = proxied && !(loc->proxy_type == 3 && loc->proxy_version == 4);
  textbox_set_editable(p->proxy_host, proxied);
  textbox_set_editable(p->proxy_port, proxied);
  textbox_set_editable(p->proxy_user, with_user);
  textbox_set_editable(p->proxy_password, with_user);
  p->refreshing = 0;
}
