// Drag and drop: the process-wide drag state. It is one small record, not a
// copy of what is dragged: the instruments and news items belong to the
// market-data model, which keeps them for the whole session; the one thing
// that may vanish mid-drag is a scan, so a held scan is watched and its
// deletion ends the drag.
#include "dnd.h"

#include <cstdio>
#include <cstring>

#include "lib/fmt.h"
#include "lib/scan.h"
#include "log.h"
#include "ssmodel.h"
#include "ui/tooltip.h"

static const char kSrc[] = "src/dnd";
constexpr int kLabelSize = 100;

static struct {
  uint32_t kind;
  instr *instrument;
  instr *index;
  instr *subject;
  ss_news *news;
  scan *held;
  ss_time time;
  char label[kLabelSize];
  char label2[kLabelSize];
} D;

static void on_scan(scan *s, int event, int32_t, instr *, void *, void *, uint32_t);

static void forget_scan() {
  if (D.held) scan_unwatch(D.held, &D);
  D.held = nullptr;
}

static void reset() {
  forget_scan();
  D.kind = DND_NONE;
  D.instrument = D.index = D.subject = nullptr;
  D.news = nullptr;
  D.time = 0;
  D.label[0] = D.label2[0] = 0;
}

static void show_label(const char *one, const char *two) {
  snprintf(D.label, sizeof D.label, "%s", one ? one : "");
  snprintf(D.label2, sizeof D.label2, "%s", two ? two : "");
  tooltip_show_text(D.label);
  if (D.label2[0]) tooltip_set_text2(D.label2);
}

const char *dnd_instr_label(const instr *in) {
  if (!in) return "";
  return in->name1 && in->name1[0] ? in->name1 : in->code;
}

int dnd_init(void) { return 0; }

void dnd_fini(void) { forget_scan(); }

void dnd_clear(void) {
  reset();
  tooltip_hide_text();
}

void dnd_begin_instr(instr *in) {
  reset();
  if (!in) {
    tooltip_hide_text();
    return;
  }
  switch (in->kind) {
    case kKindStock:
      D.kind = DND_STOCK;
      D.instrument = in;
      show_label(in->code, nullptr);
      break;
    case kKindIndex:
      D.kind = DND_INDEX;
      D.index = in;
      show_label(in->code, nullptr);
      break;
    case kKindIssuer:
      D.kind = DND_ISSUER;
      D.subject = in;
      show_label(dnd_instr_label(in), nullptr);
      break;
    default:
      tooltip_hide_text();
      break;
  }
}

void dnd_begin_stock(instr *in) {
  reset();
  D.kind = DND_STOCK;
  D.instrument = in;
  show_label(in ? in->code : "", nullptr);
}

void dnd_begin_issuer(instr *in) {
  reset();
  D.kind = DND_ISSUER;
  D.subject = in;
  show_label(dnd_instr_label(in), nullptr);
}

void dnd_begin_news(instr *in, ss_news *item) {
  reset();
  D.kind = DND_NEWS;
  D.subject = in;
  D.news = item;
  show_label(dnd_instr_label(in), item ? item->headline : nullptr);
}

void dnd_begin_profile(instr *issuer) {
  reset();
  D.kind = DND_PROFILE;
  D.subject = issuer;
  show_label(dnd_instr_label(issuer), nullptr);
}

void dnd_begin_trade(instr *stock, ss_time time) {
  reset();
  D.kind = DND_STOCK;
  D.instrument = stock;
  D.time = time;
  // The formatters share one buffer: each result is copied before the next.
  char text[kLabelSize];
  snprintf(text, sizeof text, "%s", fmt_time_hms(time));
  ss_time now = ssmodel_exchange_now(stock ? stock->exchange : nullptr);
  // Times compare by date through the bits above the second of the day; a
  // time without a date is today's.
  if (time > kSstimeSecondsMask && (time >> 17) < (now >> 17)) {
    size_t n = strlen(text);
    n += snprintf(text + n, sizeof text - n, " %s", fmt_weekday_short(time));
    snprintf(text + n, sizeof text - n, " %s", fmt_day_ordinal(time));
  }
  show_label(stock ? stock->code : "", text);
}

void dnd_begin_scan(scan *s) {
  reset();
  D.kind = DND_SCAN;
  if (!s) return;
  if (scan_watch(s, on_scan, &D, nullptr, 0) == 0) D.held = s;
  const char *name = scan_name(s);
  if (!name || !name[0]) name = s->source ? "New Watchlist" : "New Smartlist";
  show_label(name, nullptr);
}

void dnd_begin_tool_entry(void) {
  reset();
  tooltip_hide_text();
  D.kind = DND_TOOL_ENTRY;
}

// Event 6: the scan is being deleted or unlinked. A watcher must unwatch
// inside this very call.
static void on_scan(scan *s, int event, int32_t, instr *, void *, void *, uint32_t) {
  if (event != kScanDeleted) return;
  if (s == D.held) {
    dnd_clear();
    return;
  }
  log(LOG_WARN, kSrc, "watching another scan");
  scan_unwatch(s, &D);
}

uint32_t dnd_kind(void) { return D.kind; }
instr *dnd_instrument(void) { return D.instrument; }

instr *dnd_subject(void) {
  return D.kind == DND_ISSUER || D.kind == DND_NEWS || D.kind == DND_PROFILE ? D.subject : nullptr;
}

instr *dnd_object(void) {
  switch (D.kind) {
    case DND_STOCK: return D.instrument;
    case DND_INDEX: return D.index;
    case DND_ISSUER:
    case DND_NEWS:
    case DND_PROFILE: return D.subject;
    default: return D.instrument ? D.instrument : D.index;
  }
}

scan *dnd_scan(void) { return D.kind == DND_SCAN ? D.held : nullptr; }
ss_news *dnd_news_item(void) { return D.kind == DND_NEWS ? D.news : nullptr; }
int dnd_is_tool_entry(void) { return D.kind == DND_TOOL_ENTRY; }
ss_time dnd_time(void) { return D.time; }
const char *dnd_label(void) { return D.label; }
const char *dnd_label2(void) { return D.label2; }
