#include "config/status_page.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include <poppler-version.h>

#include "config/configbox.h"
#include "lib/fmt.h"
#include "lib/glapi.h"
#include "log.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssuser.h"
#include "startup/crash.h"
#include "ui/button.h"
#include "ui/grid.h"
#include "ui/label.h"
#include "version.h"

namespace {

constexpr char kSrc[] = "src/config/status_page";
constexpr int32_t kTickMs = 500;
constexpr int32_t kSendLog = 1;
constexpr uint32_t kGrey = 0xFFC8C8C8u;

status_page *as_page(widget *w) { return static_cast<status_page *>(w); }

int tick(void *arg, uint32_t, int64_t, float) {
  status_page_update(as_page(static_cast<widget *>(arg)));
  return 1;
}

void on_send_log(button *, uint32_t state, void *, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK) || id != kSendLog) return;
  log(LOG_INFO, kSrc, "user send log");
  crash_report_send(kCrashReportNotCrash | kCrashReportKeepState);  // reason 5: a log the user sent
}

void page_show_children(widget *self) {
  status_page *p = as_page(self);
  configbox_page_timer(&p->timer, kTickMs, tick, p);
  status_page_update(p);
  configbox_page_show_parent(self);
}

void page_hide_children(widget *self) {
  configbox_page_timer(&as_page(self)->timer, 0, nullptr, nullptr);
  configbox_page_hide_parent(self);
}

void page_init(object *obj) { reinterpret_cast<status_page *>(obj)->timer = -1; }
void page_fini(object *obj) {
  configbox_page_timer(&reinterpret_cast<status_page *>(obj)->timer, 0, nullptr, nullptr);
}

void page_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->show_children = page_show_children;
  c->hide_children = page_hide_children;
}

typeid_t register_page() {
  return object_register_class("status_page", bin_type(), sizeof(status_page), page_init, page_fini,
                               sizeof(container_class), page_class_init, nullptr);
}

void set_if_changed(label *l, const char *text) {
  if (l && strcmp(label_text(l), text) != 0) label_set_text(l, text);
}

}  // namespace

void status_page_build_text(const char *build, char *out, int size) {
  char text[64];
  snprintf(text, sizeof text, "%s +64bit", build ? build : "");
  snprintf(out, static_cast<size_t>(size), "%s", text);
}

void status_page_gather(status_inputs *in) {
  memset(in, 0, sizeof *in);
  static char line[kSsmsgTextMax + 1];
  ssmsg_get(line);
  in->status_line = line;
  in->logged_on = ssclient_logged_in();
  in->has_server = ssio_current_server(&in->host, &in->port) >= 0;
  in->proxy_in_use = ssio_proxy_in_use() && ssio_http_proxy(&in->proxy_host, &in->proxy_port) >= 0;
  in->http = ssio_http_mode();
  in->last_message = ssclient_last_data_time();
  in->received = ssio_bytes_received();
  const site_row *s = site_current();
  in->provider = s && s->name ? s->name : "";
  // An empty site field means the default site.
  in->have_login = ssclient_get_login(nullptr, nullptr, nullptr) == 0;
  for (int i = 0; i < 4; i++) {
    in->permitted[i] = ssuser_exchange_permitted(i);
    in->exchange[i] = ssmodel_exchange_display_name(i);
  }
  in->user_kind = ssuser_id();
}

void status_page_compose(const status_inputs *in, status_texts *out) {
  memset(out, 0, sizeof *out);
  if (!in->logged_on) {
    snprintf(out->status, sizeof out->status, "Not Connected");
    out->status_colour = 83;
  } else {
    snprintf(out->status, sizeof out->status, "%s", in->status_line ? in->status_line : "");
    out->status_colour = 82;
  }
  if (in->has_server && in->host)
    snprintf(out->host, sizeof out->host, "%s:%d", in->host, in->port);
  else
    snprintf(out->host, sizeof out->host, "None");
  if (in->proxy_in_use && in->proxy_host)
    snprintf(out->proxy, sizeof out->proxy, "%s:%d", in->proxy_host, in->proxy_port);
  else
    snprintf(out->proxy, sizeof out->proxy, "None");
  snprintf(out->protocol, sizeof out->protocol, "%s", in->http ? "HTTP" : "Native");
  const int32_t sec = static_cast<int32_t>(in->last_message & kSstimeSecondsMask);
  snprintf(out->last, sizeof out->last, "%2d:%02d:%02d", sec / 3600, sec / 60 % 60, sec % 60);
  // fmt_bytes takes 32 bits: a longer session's count is shown at its cap.
  const int32_t got = in->received > INT32_MAX ? INT32_MAX : static_cast<int32_t>(in->received);
  snprintf(out->downloaded, sizeof out->downloaded, "%s", fmt_bytes(got, nullptr));
  snprintf(out->provider, sizeof out->provider, "%s", in->provider ? in->provider : "");
  if (!in->have_login) {
    snprintf(out->exchanges, sizeof out->exchanges, "-");
    snprintf(out->type, sizeof out->type, "-");
    return;
  }
  size_t n = 0;
  for (int i = 0; i < 4; i++) {
    if (!in->permitted[i] || !in->exchange[i]) continue;
    n += static_cast<size_t>(snprintf(out->exchanges + n, sizeof out->exchanges - n, "%s%s", n ? " " : "",
                                      in->exchange[i]));
    if (n >= sizeof out->exchanges) n = sizeof out->exchanges - 1;
  }
  if (!n) snprintf(out->exchanges, sizeof out->exchanges, "-");
  static const char *const kinds[] = {"Normal", "Tester", "Developer"};
  if (in->user_kind >= 1 && in->user_kind <= 3) snprintf(out->type, sizeof out->type, "%s", kinds[in->user_kind - 1]);
}

void status_page_update(status_page *p) {
  status_inputs in;
  status_texts t;
  status_page_gather(&in);
  status_page_compose(&in, &t);
  set_if_changed(p->value[STATUS_STATUS], t.status);
  label_set_colour(p->value[STATUS_STATUS], configbox_colour(t.status_colour, t.status_colour == 83 ? 0xff3030ffu : 0xff30ff30u));
  set_if_changed(p->value[STATUS_HOST], t.host);
  set_if_changed(p->value[STATUS_PROXY], t.proxy);
  set_if_changed(p->value[STATUS_PROTOCOL], t.protocol);
  set_if_changed(p->value[STATUS_LAST], t.last);
  set_if_changed(p->value[STATUS_DOWNLOADED], t.downloaded);
  set_if_changed(p->value[STATUS_PROVIDER], t.provider);
  if (t.exchanges[0]) set_if_changed(p->value[STATUS_EXCHANGES], t.exchanges);
  if (t.type[0]) set_if_changed(p->value[STATUS_TYPE], t.type);
  // The renderer is known once the page is shown in a window with a context.
  if (!label_text(p->value[STATUS_VIDEO])[0]) {
    const char *renderer = reinterpret_cast<const char *>(gl->GetString(0x1F01));  // GL_RENDERER
    if (renderer) label_set_text(p->value[STATUS_VIDEO], renderer);
  }
  set_if_changed(p->value[STATUS_BLANK1], "");
  set_if_changed(p->value[STATUS_BLANK2], "");
}

typeid_t status_page_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_page);
}

status_page *status_page_new(widget *parent) {
  auto *p = static_cast<status_page *>(widget_new(parent, status_page_type()));
  if (!p) return nullptr;
  grid *g = grid_new(p, 11, 4, 2);
  if (!g) {
    widget_delete(p);
    return nullptr;
  }
  const int32_t font = configbox_font();
  int ok = 1;
  auto text = [&](const char *t, uint32_t c) {
    label *l = label_new(g, t, 0, font, 0, c, nullptr);
    ok &= l != nullptr;
    return l;
  };
  auto heading = [&](const char *t) {
    label *l = text(t, 0xffffffffu);
    if (l) grid_set_span(g, l, 1, 2);
  };
  auto pair = [&](const char *caption, int slot) {
    text(caption, kGrey);
    label *v = text("", 0xffffffffu);
    if (slot >= 0) p->value[slot] = v;
  };
  heading("Connection");
  heading("Program");
  const char *left[] = {"Host", "Proxy", "Protocol", "Last Message", "Downloaded", "Status"};
  const int left_slot[] = {STATUS_HOST, STATUS_PROXY, STATUS_PROTOCOL, STATUS_LAST, STATUS_DOWNLOADED, STATUS_STATUS};
  const char *right[] = {"Exchange(s)", "Type", "Provider", "", "", ""};
  const int right_slot[] = {STATUS_EXCHANGES, STATUS_TYPE, STATUS_PROVIDER, STATUS_BLANK1, STATUS_BLANK2, -1};
  for (int i = 0; i < 6; i++) {
    pair(left[i], left_slot[i]);
    pair(right[i], right_slot[i]);
  }
  heading("Modules");
  heading("");
  pair("Ambit Version", STATUS_VERSION);
  pair("PDF", STATUS_PDF);
  pair("Build Number", STATUS_BUILD);
  pair("Build Time", STATUS_BUILD_TIME);
  pair("Video Driver", STATUS_VIDEO);
  p->send_log = button_new(g, "Send Log", -1, 0, 0, nullptr, configbox_buttons(), on_send_log, p, kSendLog);
  if (!ok || !p->send_log) {
    widget_delete(p);
    return nullptr;
  }
  label_set_text(p->value[STATUS_VERSION], version_short());
  label_set_text(p->value[STATUS_PDF], poppler::version_string().c_str());
  char build[64];
  status_page_build_text(version_build_text(), build, sizeof build);
  label_set_text(p->value[STATUS_BUILD], build);
  label_set_text(p->value[STATUS_BUILD_TIME], version_date());
  return p;
}
