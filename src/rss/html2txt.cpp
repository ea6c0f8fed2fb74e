// HTML to text. Both converters walk the text once with the same tag and
// entity rules; the layout places whole words (cut only when a word is wider
// than the full width) and keeps the words of links in a list of their own
// with a rectangle each, so the window can draw them in the link colour and
// find the word under a click. Every output byte is printable or a newline:
// numeric entities below 32, 127 and C1 become blanks. The fonts have glyphs
// for 7-bit codes only (a byte is drawn by its low 7 bits), so a character
// code above 127 from an entity is written as ASCII that draws as it reads:
// Latin-1 letters as their base letter, a few signs and typographic
// characters as stand-ins, anything else as '?'. Neither its low byte (0xA9
// would draw as ')') nor UTF-8 ("B)") would.
#include "rss/html2txt.h"

#include <cstring>

#include "growbuf.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "log.h"
#include "pool.h"
#include "rss/parse.h"
#include "ui/widget.h"

static const char kSrc[] = "html2txt";
constexpr int32_t kBufSize = 65536;
constexpr int kLinksPerPage = 1000;

static int default_layout(gmap* m, const char* word, int32_t x, int32_t y, int32_t font, rect* out) {
  return font_layout(m, word, x, y, 0, font, out);
}
static int32_t default_width(const char* text, int32_t font) {
  int32_t size[2] = {0, 0};
  font_text_size(size, font, text);
  return size[0];
}
static const html2txt_metric kFontMetric = {default_layout, gmap_count, gmap_set_count, default_width};

static struct {
  growbuf buf;
  pool links;
  bool ready;
  html2txt_metric metric;
} S = {{}, {}, false, kFontMetric};

int html2txt_init(void) {
  if (S.ready) return 0;
  if (growbuf_init(&S.buf, kBufSize, kBufSize) != 0) return -1;
  if (pool_init(&S.links, kLinksPerPage, sizeof(html2txt_link)) != 0) {
    growbuf_free(&S.buf);
    return -1;
  }
  S.ready = true;
  return 0;
}

void html2txt_shutdown(void) {
  if (!S.ready) return;
  growbuf_free(&S.buf);
  pool_destroy(&S.links);
  S.ready = false;
}

void html2txt_set_metric(const html2txt_metric* metric) { S.metric = metric ? *metric : kFontMetric; }

bool html2txt_url_is_openable(const char* url) {
  return url && (strncmp(url, "http://", 7) == 0 || strncmp(url, "https://", 8) == 0) && !strpbrk(url, " \t\r\n");
}

static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// One step of the walk: what the input at p stands for.
enum class Tok { kChar, kSpace, kNbsp, kBreak, kPara, kCell, kLinkOpen, kLinkClose, kNothing };
struct token {
  Tok kind;
  char bytes[4];  // kChar: the output bytes
  int n;
  const char* tag;  // kLinkOpen: the tag's text after "<a"
};

static bool tag_is(const char* p, const char* name) {
  size_t n = strlen(name);
  return strncmp(p, name, n) == 0 && (p[n] == '>' || is_space(p[n]));
}

// ASCII for Latin-1 161..255, at most 3 characters each; "" for the soft
// hyphen, which is not drawn.
static const char* const kLatin1[95] = {
    "!",   "c",   "GBP", "?",   "Y",   "|",   "S",   "\"",  "(c)", "a",   "<<",  "-",   "",    "(R)", "-",  // 161-175
    "o",   "+-",  "2",   "3",   "'",   "u",   "P",   ".",   ",",   "1",   "o",   ">>",  "1/4", "1/2", "3/4", "?",  // 176-191
    "A",   "A",   "A",   "A",   "A",   "A",   "AE",  "C",   "E",   "E",   "E",   "E",   "I",   "I",   "I",   "I",  // 192-207
    "D",   "N",   "O",   "O",   "O",   "O",   "O",   "x",   "O",   "U",   "U",   "U",   "U",   "Y",   "Th",  "ss", // 208-223
    "a",   "a",   "a",   "a",   "a",   "a",   "ae",  "c",   "e",   "e",   "e",   "e",   "i",   "i",   "i",   "i",  // 224-239
    "d",   "n",   "o",   "o",   "o",   "o",   "o",   "/",   "o",   "u",   "u",   "u",   "u",   "y",   "th",  "y",  // 240-255
};

// A character above 127 (not C1, not 160) as ASCII bytes in out (room for
// 3); the count written.
static int stand_in(int64_t v, char* out) {
  if (v >= 161 && v <= 255) {
    const char* a = kLatin1[v - 161];
    size_t n = strlen(a);
    memcpy(out, a, n);
    return (int)n;
  }
  switch (v) {
    case 8216: case 8217: case 8218: case 8242: out[0] = '\''; return 1;
    case 8220: case 8221: case 8222: case 8243: out[0] = '"'; return 1;
    case 8211: case 8212: case 8722: out[0] = '-'; return 1;
    case 8230: memcpy(out, "...", 3); return 3;
    case 8226: out[0] = '*'; return 1;
    case 8364: memcpy(out, "EUR", 3); return 3;
    default: out[0] = '?'; return 1;
  }
}

// Reads the entity at p ('&'); returns the bytes used (0: not an entity). In
// a URL (url set) Latin-1 codes are written as UTF-8, as a browser takes
// them; in text they get their ASCII stand-ins.
static int read_entity(const char* p, token* t, bool url = false) {
  int n = rss_entity_name_length(p);
  if (n == 0) return 0;
  const char* name = p + 1;
  t->kind = Tok::kChar;
  t->n = 1;
  auto is = [&](const char* s) { return (int)strlen(s) == n && memcmp(s, name, n) == 0; };
  if (is("amp")) t->bytes[0] = '&';
  else if (is("lt")) t->bytes[0] = '<';
  else if (is("gt")) t->bytes[0] = '>';
  else if (is("quot")) t->bytes[0] = '"';
  else if (is("apos")) t->bytes[0] = '\'';
  else if (is("nbsp")) t->kind = Tok::kNbsp;
  else if (name[0] == '#') {
    int64_t v = rss_entity_number(name, n);
    if (v < 0) t->kind = Tok::kNothing;
    else if (v < 32 || (v >= 127 && v < 160)) t->kind = Tok::kSpace;
    else if (v == 160) t->kind = Tok::kNbsp;
    else if (v < 127) t->bytes[0] = (char)v;
    else if (v < 256 && url) {
      t->bytes[0] = (char)(0xC0 | (v >> 6));
      t->bytes[1] = (char)(0x80 | (v & 0x3F));
      t->n = 2;
    } else if ((t->n = stand_in(v, t->bytes)) == 0) t->kind = Tok::kNothing;
  } else t->kind = Tok::kNothing;
  return n + 2;
}

// Skips a hidden element's content: up to its closing tag and that tag's '>'.
static const char* skip_hidden(const char* p, const char* close) {
  const char* c = strstr(p, close);
  if (!c) return p + strlen(p);
  const char* gt = strchr(c, '>');
  return gt ? gt + 1 : c + strlen(c);
}

// Reads one token at p and returns the position after it.
static const char* next_token(const char* p, token* t) {
  t->kind = Tok::kChar;
  t->n = 1;
  t->tag = nullptr;
  unsigned char c = (unsigned char)*p;
  if (c == '<') {
    const char* q = p + 1;
    const char* gt = strchr(q, '>');
    const char* after = gt ? gt + 1 : q + strlen(q);
    t->kind = Tok::kNothing;
    if (tag_is(q, "style")) return skip_hidden(after, "</style");
    if (tag_is(q, "script")) return skip_hidden(after, "</script");
    static const char* const kBreaks[] = {"div", "br", "tr", "h1", "h2", "h3", "h4", "h5", "h6"};
    for (const char* b : kBreaks)
      if (tag_is(q, b)) t->kind = Tok::kBreak;
    if (tag_is(q, "p")) t->kind = Tok::kPara;
    else if (tag_is(q, "td")) t->kind = Tok::kCell;
    else if (tag_is(q, "a")) t->kind = Tok::kLinkOpen, t->tag = q + 1;
    else if (tag_is(q, "/a")) t->kind = Tok::kLinkClose;
    return after;
  }
  if (c == '&') {
    int used = read_entity(p, t);
    if (used) return p + used;
    t->kind = Tok::kChar;
    t->n = 1;
  }
  if (is_space((char)c) || c < 32 || c == 127) {
    t->kind = Tok::kSpace;
    return p + 1;
  }
  t->bytes[0] = (char)c;
  return p + 1;
}

static char* reserve(const char* html) {
  size_t n = strlen(html);
  growbuf_reset(&S.buf);
  if (n > 0x3ffffff0 || !S.ready) {
    log(LOG_ERROR, kSrc, "can't alloc %db for text", (int)n);
    return nullptr;
  }
  char* out = (char*)growbuf_reserve(&S.buf, (uint32_t)(2 * n + 3));
  if (!out) log(LOG_ERROR, kSrc, "can't alloc %db for text", (int)n);
  return out;
}

const char* html2txt_plain(const char* html) {
  char* buf = reserve(html);
  if (!buf) return html;
  char* o = buf;
  *o++ = '\n';  // sentinel: the output starts "after a newline"
  auto last = [&] { return o[-1]; };
  token t;
  for (const char* p = html; *p;) {
    p = next_token(p, &t);
    switch (t.kind) {
      case Tok::kChar: memcpy(o, t.bytes, t.n), o += t.n; break;
      case Tok::kSpace:
        if (last() != ' ' && last() != '\n') *o++ = ' ';
        break;
      case Tok::kNbsp:
        if (last() != '\n') *o++ = ' ';
        break;
      case Tok::kBreak:
      case Tok::kPara:
        if (last() != '\n') *o++ = '\n';
        break;
      case Tok::kCell:
        if (last() != ' ' && last() != '\n') *o++ = ' ';
        break;
      default: break;
    }
  }
  if (o == buf + 1 || last() != '\n') *o++ = '\n';
  *o = 0;
  return buf + 1;
}

void html2txt_links_free(html2txt_link** links) {
  html2txt_link* l = *links;
  while (l) {
    html2txt_link* next = l->next;
    pool_free(&S.links, l);
    l = next;
  }
  *links = nullptr;
}

// The layout's state: one layout at a time.
struct layout {
  gmap* text;
  gmap* link_list;
  gmap* cur;
  int32_t x, y, left, right, line_height, font;
  int32_t lines;
  bool blank_pending, at_line_start;
  int para;
  char url[kHtml2txtUrlLen];
  html2txt_link* links;
  char* word;  // the pending word, in the shared buffer
  int32_t word_len;
};

static void new_line(layout* L) {
  L->x = L->left;
  L->y += L->line_height;
  L->lines++;
  L->blank_pending = false;
  L->at_line_start = true;
  L->para++;
}

static void add_link(layout* L, const rect& r) {
  html2txt_link* l = (html2txt_link*)pool_alloc(&S.links);
  if (!l) return;
  memcpy(l->url, L->url, sizeof l->url);
  l->x = r.x, l->y = r.y, l->width = r.w, l->height = r.h;
  l->next = L->links;
  L->links = l;
}

// Places a head of the word; returns its rectangle in *r.
static bool place(layout* L, const char* w, rect* r) {
  int32_t before = S.metric.count(L->cur);
  if (S.metric.layout(L->cur, w, L->x, L->y, L->font, r) != 0) return false;
  if (L->x + r->w <= L->right) return true;
  S.metric.set_count(L->cur, before);
  return false;
}

static void placed(layout* L, const rect& r) {
  L->x += r.w;
  L->blank_pending = true;
  L->at_line_start = false;
  L->para = 0;
  if (L->url[0]) add_link(L, r);
}

static void flush(layout* L) {
  if (L->word_len == 0) return;
  char* w = L->word;
  w[L->word_len] = 0;
  L->word_len = 0;
  rect r{};
  if (place(L, w, &r)) return placed(L, r);
  int32_t full = L->right - L->left;
  if (S.metric.width(w, L->font) <= full) {
    new_line(L);
    if (place(L, w, &r)) placed(L, r);
    return;
  }
  // Wider than the whole width: cut it over as many lines as it needs,
  // starting on a line of its own.
  if (!L->at_line_start) new_line(L);
  size_t len = strlen(w);
  while (len) {
    size_t head = 0;
    for (size_t n = 1; n <= len; n++) {
      char keep = w[n];
      w[n] = 0;
      bool fits = L->x + S.metric.width(w, L->font) <= L->right;
      w[n] = keep;
      if (!fits) break;
      head = n;
    }
    // Never cut inside a UTF-8 sequence.
    while (head > 0 && head < len && ((unsigned char)w[head] & 0xC0) == 0x80) head--;
    if (head == 0) {
      log(LOG_WARN, kSrc, "todo: truncate problem!");
      return;
    }
    char keep = w[head];
    w[head] = 0;
    if (S.metric.layout(L->cur, w, L->x, L->y, L->font, &r) != 0) return;
    w[head] = keep;
    placed(L, r);
    w += head;
    len -= head;
    if (len) new_line(L);
  }
}

static void blank(layout* L) {
  flush(L);
  if (L->blank_pending) {
    L->x += S.metric.width(" ", L->font);
    L->blank_pending = false;
  }
}

// The URL of an <a> tag: the quoted value after href, decoded, within the tag.
static void link_open(layout* L, const char* tag) {
  const char* end = strchr(tag, '>');
  size_t n = end ? (size_t)(end - tag) : strlen(tag);
  const char* h = nullptr;
  for (size_t i = 0; i + 4 <= n && !h; i++)
    if (strncmp(tag + i, "href", 4) == 0 || strncmp(tag + i, "HREF", 4) == 0) h = tag + i + 4;
  if (!h) return;
  const char* stop = tag + n;
  const char* q = h;
  while (q < stop && *q != '"' && *q != '\'') q++;
  if (q >= stop) return;
  char quote = *q++;
  const char* e = q;
  while (e < stop && *e != quote) e++;
  if (e >= stop || e == q) return;
  char url[kHtml2txtUrlLen];
  size_t o = 0;
  token t;
  for (const char* p = q; p < e && o < sizeof url - 1;) {
    int used = *p == '&' ? read_entity(p, &t, true) : 0;
    if (used && t.kind == Tok::kChar && p + used <= e) {
      for (int i = 0; i < t.n && o < sizeof url - 1; i++) url[o++] = t.bytes[i];
      p += used;
    } else {
      unsigned char c = (unsigned char)*p++;
      if (c >= 32 && c != 127) url[o++] = (char)c;
    }
  }
  url[o] = 0;
  if (!o) return;
  memcpy(L->url, url, o + 1);
  L->cur = L->link_list;
}

void html2txt_links(gmap* text, gmap* link_list, const char* html, int32_t x, int32_t y, int32_t font, int32_t width,
                    int32_t line_height, int32_t* lines, html2txt_link** links) {
  html2txt_links_free(links);
  *lines = 0;
  char* buf = reserve(html);
  if (!buf) return;
  layout L{};
  L.text = text, L.link_list = link_list, L.cur = text;
  L.x = x, L.y = y, L.left = x, L.right = x + width, L.line_height = line_height, L.font = font;
  L.at_line_start = true;
  L.word = buf;
  token t;
  for (const char* p = html; *p;) {
    p = next_token(p, &t);
    switch (t.kind) {
      case Tok::kChar:
        memcpy(L.word + L.word_len, t.bytes, t.n);
        L.word_len += t.n;
        break;
      case Tok::kSpace:
      case Tok::kNbsp:
      case Tok::kCell: blank(&L); break;
      case Tok::kBreak:
      case Tok::kPara:
        flush(&L);
        if (!L.at_line_start) new_line(&L);
        if (t.kind == Tok::kPara && L.para == 1) {
          new_line(&L);
          L.para = 2;
        }
        break;
      case Tok::kLinkOpen:
        flush(&L);
        link_open(&L, t.tag);
        break;
      case Tok::kLinkClose:
        flush(&L);
        L.cur = L.text;
        L.url[0] = 0;
        break;
      default: break;
    }
  }
  flush(&L);
  int32_t n = L.lines + (L.at_line_start ? 0 : 1);
  if (L.at_line_start && L.para == 2) n--;
  *lines = n;
  *links = L.links;
}
