// Fundamentals files. The reader trusts nothing of the file's framing: a
// section's length is checked against the bytes left before it is read, each
// item is read with bounded fields, and a file made for another exchange is
// not applied at all (its sections would name another exchange's
// instruments). The writer reserves each item's longest form before writing
// it, so a name of any permitted length fits.
#include "decfun.h"

#include <cstdio>
#include <cstring>

#include "deccursor.h"
#include "decode.h"
#include "encode.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/decfun";
static const char kEncSrc[] = "src/encfun";

namespace {

constexpr int32_t kSectionHead = 5;
constexpr uint8_t kFunVersion = 0;
const char kNzxIndexCodes[] =
    ",ALL,MOR,A01,A02,A03,A04,A06,A07,A08,A10,A12,A11,A14,A13,A15,SEMC,T10,SCI,G01,G02,G03,G04,G05,G06,NZ50,NC50,"
    "AXAS,ZXV,NZTS,FWA,FWAI,FWPP,FWPI,NZ20,";

// Items' longest forms: codes, strings of up to 255 bytes, numbers.
constexpr uint32_t kRoomIssuer = kEncodeRoomCode + 2 * kEncodeRoomString + 4;
constexpr uint32_t kRoomStock = 2 * kEncodeRoomCode + kEncodeRoomString + 3 * kEncodeRoomVint + kEncodeRoomVlong;
constexpr uint32_t kRoomIndex = kEncodeRoomCode + 2 * kEncodeRoomString;
constexpr uint32_t kRoomSmall = 1 + 2 * kEncodeRoomCode + 2 * kEncodeRoomVint + 8;

bool index_code(const ss_exchange* ex, const char* code) {
  if (ex->index == kExchangeAsx) return strcmp(code, "XLD") == 0;
  if (ex->index != kExchangeNzx) return false;
  char key[kCodeSize + 3];
  snprintf(key, sizeof key, ",%s,", code);
  return strstr(kNzxIndexCodes, key) != nullptr;
}

// One item of the section; false when a field failed.
bool read_item(ss_exchange* ex, uint8_t tag, deccursor* c) {
  char code[kCodeSize], other[kCodeSize];
  char name1[kEncodeRoomString], name2[kEncodeRoomString];
  switch (tag) {
    case kFunIssuers: {
      uint32_t value;  // kept by the server; nothing here uses it
      if (!c->code(code) || !c->text(name1, sizeof name1) || !c->text(name2, sizeof name2) || !c->u32(&value)) return false;
      if (ss_issuer* is = ssmodel_get_issuer(ex, code)) ssmodel_set_names(is, name1, name2);
      return true;
    }
    case kFunStocks: {
      uint32_t a, b, d;
      uint64_t shares;
      if (!c->code(code) || !c->text(name1, sizeof name1) || !c->code(other) || !c->vint(&a) || !c->vint(&b) || !c->vint(&d) ||
          !c->vlong(&shares))
        return false;
      if (index_code(ex, code)) return true;
      if (ss_stock* s = ssmodel_get_stock(ex, code)) {
        ssmodel_set_stock_names(s, name1, nullptr);
        ssmodel_set_issuer_code(s, other);
        ssmodel_set_capital(s, a, b, d, shares);
      }
      return true;
    }
    case kFunIndices:
      if (!c->code(code) || !c->text(name1, sizeof name1) || !c->text(name2, sizeof name2)) return false;
      if (ss_index* x = ssmodel_get_index(ex, code)) ssmodel_set_names(x, name1, name2);
      return true;
    case kFunAliases:
      if (!c->code(code) || !c->code(other)) return false;
      ssmodel_add_alias(ex, code, other);
      return true;
    case kFunOptions: {
      uint32_t kind, first, second;
      ss_time expiry;
      if (!c->code(code) || !c->code(other) || !c->vint(&kind) || !c->date(&expiry) || !c->price(&first, nullptr) ||
          !c->vint(&second))
        return false;
      if (ss_stock* s = ssmodel_get_stock(ex, code)) ssmodel_set_option(s, other, kind, expiry, first, second);
      return true;
    }
    case kFunRemovals: {
      uint32_t number;
      if (!c->code(code) || !c->vint(&number)) return false;
      if (ss_issuer* is = ssmodel_get_issuer(ex, code)) ssmodel_remove_news(is, number);
      return true;
    }
    case kFunHistoryFrom: {
      uint8_t type;
      ss_time date;
      if (!c->byte(&type)) return false;
      if (type < kKindStock || type > kKindIssuer) {
        log(LOG_ERROR, kSrc, "bad type for basedate: %d", type);
        return false;
      }
      if (!c->code(code) || !c->date(&date)) return false;
      instr* in = type == kKindStock   ? static_cast<instr*>(ssmodel_get_stock(ex, code))
                  : type == kKindIndex ? static_cast<instr*>(ssmodel_get_index(ex, code))
                                       : static_cast<instr*>(ssmodel_get_issuer(ex, code));
      if (in) ssmodel_set_history_from(in, date);
      return true;
    }
    case kFunAdjustments: {
      ss_time date;
      uint32_t value;
      if (!c->code(code) || !c->date(&date) || !c->u32(&value)) return false;
      if (ss_stock* s = ssmodel_get_stock(ex, code))
        ssmodel_add_adjustment(s, static_cast<int32_t>(date), static_cast<int32_t>(value));
      return true;
    }
    case kFunDate: {
      uint32_t date;
      if (!c->vint(&date)) return false;
      ex->fun_date = static_cast<int32_t>(date);
      return true;
    }
  }
  return false;
}

}  // namespace

int decfun_decode(ss_exchange* ex, const uint8_t* data, int32_t n) {
  if (n < 1) return 0;
  int32_t at = 1;  // the version byte
  bool bad = false;
  while (n - at >= kSectionHead) {
    const uint8_t tag = data[at];
    uint32_t length;
    decode_uint32(data + at + 1, kSectionHead - 1, &length);
    at += kSectionHead;
    if (tag > kFunExchange) {
      log(LOG_ERROR, kSrc, "unexpected fun type %d", tag);
      return -1;
    }
    if (length > static_cast<uint32_t>(n - at)) {
      log(LOG_ERROR, kSrc, "fun type %d of %u bytes with %d left", tag, length, n - at);
      bad = true;
      break;
    }
    deccursor c{data + at, static_cast<int32_t>(length)};
    at += static_cast<int32_t>(length);
    if (tag == kFunExchange) {
      uint8_t number;
      char name[kCodeSize];
      if (!c.byte(&number) || !c.code(name)) {
        log(LOG_ERROR, kSrc, "failed");
        bad = true;
        break;
      }
      if (number != ex->index) {
        // Another exchange's file: none of it may be applied here.
        log(LOG_ERROR, kSrc, "fun is for %d/%s not %d/%s", static_cast<int32_t>(ex->index), ex->name,
            static_cast<int32_t>(number), name);
        bad = true;
        break;
      }
      log(LOG_INFO, kSrc, "%s fun", ex->name);
      continue;
    }
    while (!c.done()) {
      if (!read_item(ex, tag, &c)) {
        log(LOG_ERROR, kSrc, "failed");
        log(LOG_WARN, kSrc, "failed to decode fun type %d", tag);
        bad = true;
        break;
      }
    }
  }
  if (bad) {
    log(LOG_WARN, kSrc, "forgetting all %s fun", ex->name);
    ex->fun_date = -1;
  }
  return 0;
}

namespace {

// A section being written: its head is reserved first and filled in last.
struct section {
  growbuf* gb;
  int32_t head;
  bool ok = true;
  section(growbuf* g, uint8_t tag) : gb(g), head(g->len) {
    uint8_t* p = growbuf_reserve(gb, kSectionHead);
    if (!p) {
      ok = false;
      return;
    }
    p[0] = tag;
    growbuf_commit(gb, kSectionHead);
  }
  template <class F>
  void item(uint32_t room, F f) {
    if (!ok) return;
    uint8_t* p = growbuf_reserve(gb, room);
    if (!p) {
      ok = false;
      return;
    }
    int r = f(p);
    if (r < 0) {
      ok = false;
      return;
    }
    growbuf_commit(gb, static_cast<uint32_t>(r));
  }
  bool close() {
    if (ok) encode_uint32(gb->data + head + 1, static_cast<uint32_t>(gb->len - head - kSectionHead));
    return ok;
  }
};

const char* name_or_code(const instr* in) { return in->name1 ? in->name1 : in->code; }
const char* second_name(const instr* in) { return in->name2 ? in->name2 : ""; }

template <class T>
T* record(const chash& t, uint64_t i) {
  return static_cast<T*>(t.sorted[i]);
}

}  // namespace

int encfun_encode(growbuf* gb, ss_exchange* ex) {
  if (ex->fun_date == -1) return 0;
  // The file lists each table in code order: records the stream added since
  // a table's last merge are merged in first.
  for (chash* t : {&ex->issuers, &ex->stocks, &ex->indices, &ex->aliases}) chash_settle(t);
  const int32_t start = gb->len;
  const uint8_t version = kFunVersion;
  bool ok = growbuf_append(gb, &version, 1) == 0;
  auto run = [&](uint8_t tag, auto items) {
    if (!ok) return;
    section s(gb, tag);
    items(s);
    ok = s.close();
  };
  run(kFunExchange, [&](section& s) {
    s.item(1 + kEncodeRoomCode, [&](uint8_t* p) {
      int n = encode_byte(p, ex->index);
      int m = encode_code(p + n, ex->name);
      return m < 0 ? -1 : n + m;
    });
  });
  run(kFunIssuers, [&](section& s) {
    for (uint64_t i = 0; i < ex->issuers.count; i++) {
      const ss_issuer* is = record<ss_issuer>(ex->issuers, i);
      s.item(kRoomIssuer, [is](uint8_t* p) {
        int n = encode_code(p, is->code);
        int a = n < 0 ? -1 : encode_string(p + n, name_or_code(is));
        int b = a < 0 ? -1 : encode_string(p + n + a, second_name(is));
        return b < 0 ? -1 : n + a + b + encode_uint32(p + n + a + b, 0);
      });
    }
  });
  run(kFunStocks, [&](section& s) {
    for (uint64_t i = 0; i < ex->stocks.count; i++) {
      const ss_stock* st = record<ss_stock>(ex->stocks, i);
      s.item(kRoomStock, [st](uint8_t* p) {
        int n = encode_code(p, st->code);
        if (n < 0) return -1;
        int r = encode_string(p + n, name_or_code(st));
        if (r < 0) return -1;
        n += r;
        if ((r = encode_code(p + n, st->issuer)) < 0) return -1;
        n += r;
        for (uint32_t v : st->capital) n += encode_vint(p + n, v);
        r = encode_vlong(p + n, st->shares);
        return r < 0 ? -1 : n + r;
      });
    }
  });
  run(kFunIndices, [&](section& s) {
    for (uint64_t i = 0; i < ex->indices.count; i++) {
      const ss_index* x = record<ss_index>(ex->indices, i);
      s.item(kRoomIndex, [x](uint8_t* p) {
        int n = encode_code(p, x->code);
        int a = n < 0 ? -1 : encode_string(p + n, name_or_code(x));
        int b = a < 0 ? -1 : encode_string(p + n + a, second_name(x));
        return b < 0 ? -1 : n + a + b;
      });
    }
  });
  run(kFunAliases, [&](section& s) {
    for (uint64_t i = 0; i < ex->aliases.count; i++) {
      const ss_alias* al = record<ss_alias>(ex->aliases, i);
      s.item(kRoomSmall, [al](uint8_t* p) {
        int n = encode_code(p, al->from);
        int m = n < 0 ? -1 : encode_code(p + n, al->to);
        return m < 0 ? -1 : n + m;
      });
    }
  });
  run(kFunOptions, [&](section& s) {
    for (uint64_t i = 0; i < ex->stocks.count; i++) {
      const ss_stock* st = record<ss_stock>(ex->stocks, i);
      if (!st->option_kind) continue;
      s.item(kRoomSmall, [st](uint8_t* p) {
        int n = encode_code(p, st->code);
        int m = n < 0 ? -1 : encode_code(p + n, st->underlying);
        if (m < 0) return -1;
        n += m;
        n += encode_vint(p + n, st->option_kind);
        n += encode_date16(p + n, st->expiry);
        n += encode_price(p + n, st->option_number, nullptr);
        return n + encode_vint(p + n, st->multiplier);
      });
    }
  });
  run(kFunRemovals, [&](section& s) {
    for (uint64_t i = 0; i < ex->issuers.count; i++) {
      const ss_issuer* is = record<ss_issuer>(ex->issuers, i);
      for (const ss_news_removal* r = is->removals.head; r; r = r->next)
        s.item(kRoomSmall, [is, r](uint8_t* p) {
          int n = encode_code(p, is->code);
          return n < 0 ? -1 : n + encode_vint(p + n, r->number);
        });
    }
  });
  run(kFunHistoryFrom, [&](section& s) {
    auto each = [&](const chash& t, uint8_t type) {
      for (uint64_t i = 0; i < t.count; i++) {
        const instr* in = static_cast<const instr*>(t.sorted[i]);
        if (!in->history_from) continue;
        s.item(kRoomSmall, [in, type](uint8_t* p) {
          int n = encode_byte(p, type);
          int m = encode_code(p + n, in->code);
          return m < 0 ? -1 : n + m + encode_date16(p + n + m, in->history_from);
        });
      }
    };
    each(ex->stocks, kKindStock);
    each(ex->indices, kKindIndex);
    each(ex->issuers, kKindIssuer);
  });
  run(kFunAdjustments, [&](section& s) {
    for (uint64_t i = 0; i < ex->stocks.count; i++) {
      const ss_stock* st = record<ss_stock>(ex->stocks, i);
      for (const ss_adjustment* a = st->adjustments.head; a; a = a->next)
        s.item(kRoomSmall, [st, a](uint8_t* p) {
          int n = encode_code(p, st->code);
          if (n < 0) return -1;
          n += encode_date16(p + n, static_cast<ss_time>(a->date));
          return n + encode_uint32(p + n, static_cast<uint32_t>(a->factor));
        });
    }
  });
  run(kFunDate, [&](section& s) {
    s.item(kEncodeRoomVint, [ex](uint8_t* p) { return encode_vint(p, static_cast<uint32_t>(ex->fun_date)); });
  });
  if (!ok) {
    growbuf_truncate(gb, start);
    log(LOG_ERROR, kEncSrc, "failed to encode %s fun", ex->name);
    return -1;
  }
  return 0;
}
