// The feed parser. It is not an XML parser: it finds the few elements it wants
// by fixed substrings, puts a NUL at the end of each section for the time it
// reads it and restores the byte after, so the document comes back unchanged.
// Feeds are hostile input: entity names are bounded, numbers saturate, and a
// section that never closes ends the walk instead of running past the text.
#include "rss/parse.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "pool.h"

static const char kSrc[] = "rss";
constexpr int kItemsPerPage = 100;
constexpr int kMaxEntityName = 31;
constexpr int kLogTextMax = 80;

static struct {
  pool items;
  bool ready;
} S;

int rss_parse_init(void) {
  if (S.ready) return 0;
  if (pool_init(&S.items, kItemsPerPage, sizeof(rss_item)) != 0) return -1;
  S.ready = true;
  return 0;
}

void rss_parse_shutdown(void) {
  if (!S.ready) return;
  pool_destroy(&S.items);
  S.ready = false;
}

static char* alloc_text(size_t len) {
  uint32_t size = dalloc_round_up((uint32_t)len + 1, 64);
  char* p = (char*)dalloc_alloc((int32_t)size);
  if (!p) log(LOG_ERROR, kSrc, "can't alloc %db rss string", (int)size);
  return p;
}

char* rss_strdup(const char* text) {
  size_t n = strlen(text);
  char* p = alloc_text(n);
  if (p) memcpy(p, text, n + 1);
  return p;
}

void rss_str_free(char* text) {
  if (text) dalloc_free(text);
}

const char* rss_log_text(const char* s) {
  static thread_local char buf[kLogTextMax + 1];
  if (!s) return "(none)";
  int i = 0;
  for (; s[i] && i < kLogTextMax; i++) buf[i] = (unsigned char)s[i] < 32 ? '.' : s[i];
  buf[i] = 0;
  return buf;
}

static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
static bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#';
}

int rss_entity_name_length(const char* amp) {
  int n = 0;
  while (n <= kMaxEntityName && is_name_char(amp[1 + n])) n++;
  return n > 0 && n <= kMaxEntityName && amp[1 + n] == ';' ? n : 0;
}

int64_t rss_entity_number(const char* name, int len) {
  int i = 1;
  int base = 10;
  if (i < len && (name[i] == 'x' || name[i] == 'X')) base = 16, i++;
  if (i >= len) return -1;
  int64_t v = 0;
  for (; i < len; i++) {
    char c = name[i];
    int d = c >= '0' && c <= '9' ? c - '0' : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return -1;
    v = v * base + d;
    if (v > 0x7fffffff) v = 0x7fffffff;
  }
  return v;
}

static int entity_char(const char* name, int len) {
  struct named {
    const char* name;
    char c;
  };
  static const named kNames[] = {{"quot", '"'}, {"amp", '&'}, {"apos", '\''}, {"lt", '<'}, {"gt", '>'}};
  for (const named& n : kNames)
    if ((int)strlen(n.name) == len && memcmp(n.name, name, len) == 0) return n.c;
  if (name[0] == '#') {
    int64_t v = rss_entity_number(name, len);
    if (v == '"' || v == '&' || v == '\'' || v == '<' || v == '>') return (int)v;
  }
  return -1;
}

void rss_decode_text(char** field, const char* text) {
  size_t len = strlen(text);
  if (len == 0) return;
  char* out = alloc_text(len);
  if (!out) return;
  const char* p = text;
  while (is_space(*p)) p++;
  char* o = out;
  while (*p) {
    if (strncmp(p, "<![CDATA[", 9) == 0) {
      const char* body = p + 9;
      const char* end = strstr(body, "]]>");
      if (!end) break;
      memcpy(o, body, end - body);
      o += end - body;
      p = end + 3;
      continue;
    }
    if (*p == '&') {
      // A name of at most 31 characters of [A-Za-z0-9#] closed by ';';
      // anything else leaves the ampersand as text.
      int n = rss_entity_name_length(p);
      if (n > 0) {
        int c = entity_char(p + 1, n);
        if (c < 0) {
          char name[kMaxEntityName + 1];
          memcpy(name, p + 1, n);
          name[n] = 0;
          log(LOG_WARN, kSrc, "unknown entity '%s'", name);
          c = '?';
        }
        *o++ = (char)c;
        p += n + 2;
        continue;
      }
    }
    *o++ = *p++;
  }
  *o = 0;
  rss_str_free(*field);
  *field = out;
}

typedef void (*section_fn)(char* text, void* target);

// Finds open...close from pos, calls fn with the section's text NUL-ended in
// place, restores the byte, and returns the position after the next '>'
// after the closing pattern (null when any piece is missing). A closing
// pattern inside a CDATA section does not count; after a CDATA section that
// never ends, the next closing pattern counts. The walk over the sections is
// linear, each scanned once.
static char* extract(char* pos, const char* open, const char* close, section_fn fn, void* target) {
  char* o = strstr(pos, open);
  if (!o) return nullptr;
  char* gt = strchr(o + 1, '>');
  if (!gt) return nullptr;
  char* body = gt + 1;
  char* p = body;  // outside CDATA from here on
  char* c = nullptr;
  for (;;) {
    if (!c || c < p) c = strstr(p, close);
    if (!c) return nullptr;
    *c = 0;
    char* cd = strstr(p, "<![CDATA[");
    if (!cd) break;  // the cut stands; the NUL stays for fn
    *c = close[0];
    char* end = strstr(cd + 9, "]]>");
    if (!end) {
      // A CDATA section that never ends: the closing pattern is taken to
      // stand inside it, and the next one after it closes the section (one
      // more search, not the end of the walk, so later sections are read).
      c = strstr(c + 1, close);
      if (!c) return nullptr;
      *c = 0;
      break;
    }
    p = end + 3;
  }
  fn(body, target);
  *c = close[0];
  char* end = strchr(c, '>');
  return end ? end + 1 : nullptr;
}

static void text_fn(char* text, void* target) { rss_decode_text((char**)target, text); }

static void date_fn(char* text, ss_time* target, bool numeric_first, const char* what) {
  ss_time t = numeric_first ? sstime_parse_date_time(text) : sstime_parse_mail_date(text);
  if (!t) t = numeric_first ? sstime_parse_mail_date(text) : sstime_parse_date_time(text);
  if (!t) {
    log(LOG_WARN, kSrc, what, rss_log_text(text));
  }
  *target = t;
}
static void rss_date_fn(char* text, void* target) { date_fn(text, (ss_time*)target, false, "bad date: %s"); }
static void atom_date_fn(char* text, void* target) { date_fn(text, (ss_time*)target, true, "x bad date: %s"); }

static void rss_channel_fn(char* text, void* target) {
  rss_feed* f = (rss_feed*)target;
  extract(text, "<title", "</title", text_fn, &f->title);
  extract(text, "<link", "</link", text_fn, &f->link);
  extract(text, "<description", "</description", text_fn, &f->description);
}

static void atom_header_fn(char* text, void* target) {
  rss_feed* f = (rss_feed*)target;
  extract(text, "<title", "</title", text_fn, &f->title);
  extract(text, "<uri", "</uri", text_fn, &f->link);
  extract(text, "<subtype", "</subtype", text_fn, &f->description);
}

static void rss_item_fn(char* text, void* target) {
  rss_item* it = (rss_item*)target;
  extract(text, "<title", "</title", text_fn, &it->title);
  extract(text, "<pubDate", "</pubDate", rss_date_fn, &it->date);
  extract(text, "<description", "</description", text_fn, &it->text);
  extract(text, "<link", "</link", text_fn, &it->link);
}

// The first "<link .../>" of the entry that is an alternate (or has no rel)
// and has a usable href. The href is decoded like any text.
static void atom_link(char* text, rss_item* it) {
  char* p = text;
  while ((p = strstr(p, "<link")) != nullptr) {
    // The element ends at "/>", or at its own '>' when it is written with an
    // end tag (<link href="..."></link>).
    char* end = strstr(p, "/>");
    char* own_gt = strchr(p, '>');
    if (!end || (own_gt && own_gt < end)) end = own_gt;
    if (!end) return;
    char* cd = strstr(p, "<![CDATA[");
    if (cd && cd < end && !strstr(cd, "]]>")) {
      end = strstr(cd, "/>");
      if (!end) return;
    }
    // Cut the element at its own '>' when that comes before "/>", so a
    // non-empty link element does not take the attributes of a later one.
    char* gt = strchr(p, '>');
    if (gt && gt < end) end = gt;
    char saved = *end;
    *end = 0;
    bool usable = true;
    char* rel = strstr(p, "rel=");
    if (rel) {
      const char* v = rel + 4;
      if (*v == '"' || *v == '\'') v++;
      if (strncmp(v, "alternate", 9) != 0) usable = false;
    }
    char* value = nullptr;
    char* href = usable ? strstr(p, "href=") : nullptr;
    if (href) {
      char* v = href + 5;
      char* stop = nullptr;
      if (*v == '"' || *v == '\'') {
        stop = strchr(v + 1, *v);
        v++;
      } else {
        stop = v;
        while (*stop && !is_space(*stop)) stop++;
        if (!*stop) stop = nullptr;
      }
      if (stop && stop > v) {
        char keep = *stop;
        *stop = 0;
        char* decoded = nullptr;
        rss_decode_text(&decoded, v);
        *stop = keep;
        value = decoded;
      }
    }
    *end = saved;
    if (value) {
      rss_str_free(it->link);
      it->link = value;
      return;
    }
    p = strchr(end, '>');
    if (!p) return;
    p++;
  }
}

static void atom_entry_fn(char* text, void* target) {
  rss_item* it = (rss_item*)target;
  extract(text, "<title", "</title", text_fn, &it->title);
  extract(text, "<published", "</published", atom_date_fn, &it->date);
  extract(text, "<content", "</content", text_fn, &it->text);
  atom_link(text, it);
}

static void item_free(rss_item* it) {
  rss_str_free(it->title);
  rss_str_free(it->link);
  rss_str_free(it->text);
  pool_free(&S.items, it);
}

static void item_append(rss_feed* f, rss_item* it) {
  it->next = nullptr;
  it->prev = f->last_item;
  if (f->last_item) f->last_item->next = it;
  else f->first_item = it;
  f->last_item = it;
  f->item_count++;
}

int rss_parse(rss_feed* feed, char* document) {
  bool atom = strstr(document, "<feed ") || strstr(document, "<feed>");
  const char* open = atom ? "<entry" : "<item";
  const char* close = atom ? "</entry" : "</item";
  section_fn header = atom ? atom_header_fn : rss_channel_fn;
  // A feed without items still has its header: the section then runs to the
  // end of the channel or feed element.
  char* head_open = atom ? (char*)"<feed" : (char*)"<channel";
  if (!extract(document, head_open, open, header, feed))
    extract(document, head_open, atom ? "</feed" : "</channel", header, feed);
  section_fn item_fn = atom ? atom_entry_fn : rss_item_fn;
  char* pos = document;
  while (pos) {
    rss_item* it = (rss_item*)pool_alloc(&S.items);
    if (!it) {
      log(LOG_ERROR, kSrc, "can't alloc rss item");
      return -1;
    }
    memset(it, 0, sizeof *it);
    pos = extract(pos, open, close, item_fn, it);
    if (it->title && it->title[0]) item_append(feed, it);
    else item_free(it);
  }
  return 0;
}

void rss_items_free(rss_feed* feed) {
  rss_item* it = feed->first_item;
  while (it) {
    rss_item* next = it->next;
    item_free(it);
    it = next;
  }
  feed->first_item = feed->last_item = nullptr;
  feed->item_count = 0;
}

static char* dup_or_null(const char* s, bool* ok) {
  if (!s) return nullptr;
  char* p = rss_strdup(s);
  if (!p) *ok = false;
  return p;
}

int rss_items_copy(rss_feed* dst, const rss_feed* src) {
  rss_items_free(dst);
  for (const rss_item* s = src->first_item; s; s = s->next) {
    rss_item* it = (rss_item*)pool_alloc(&S.items);
    if (!it) {
      log(LOG_ERROR, kSrc, "can't alloc rss item");
      return -1;
    }
    memset(it, 0, sizeof *it);
    bool ok = true;
    it->title = dup_or_null(s->title, &ok);
    it->link = dup_or_null(s->link, &ok);
    it->text = dup_or_null(s->text, &ok);
    it->date = s->date;
    item_append(dst, it);
    if (!ok) return -1;
  }
  return 0;
}
