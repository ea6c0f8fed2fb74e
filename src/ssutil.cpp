// Code utilities of the model: small rules about prices and codes that the
// windows, scans, events and the protocol share, the signed link to a news
// document, and the volume-comparison figures derived on every stock change.
//
// The news link is signed with HMAC-MD5. The key is never held as such: only
// its two prepared pad blocks are, built the way HMAC builds them, so that the
// digest is MD5(outer block, MD5(inner block, message)).
#include "ssutil.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "md5.h"
#include "ssmodel.h"

static const char kSrc[] = "src/ssutil";

namespace {

// The product token of the news link and the document server it points at.
constexpr char kNewsProduct[] = "ambit";
constexpr char kNewsDocumentHost[] = "https://news.ambit.example";
constexpr char kNewsDocumentPath[] = "/news-pdf";

// HMAC over MD5: 64-byte blocks; our key is 16 bytes, stored as key XOR the
// inner pad and key XOR the outer pad. The rest of each block is the pad
// byte itself.
constexpr int kHmacBlock = 64;
constexpr int kNewsKeyBytes = 16;
constexpr uint8_t kHmacInnerPad = 0x36;
constexpr uint8_t kHmacOuterPad = 0x5c;
constexpr uint8_t kNewsKeyInner[kNewsKeyBytes] = {0xae, 0x4f, 0xcd, 0x37, 0x02, 0xd8, 0x2a, 0x7e,
                                                  0xd5, 0x3f, 0x65, 0x39, 0xe0, 0xd8, 0x32, 0xb3};
constexpr uint8_t kNewsKeyOuter[kNewsKeyBytes] = {0xc4, 0x25, 0xa7, 0x5d, 0x68, 0xb2, 0x40, 0x14,
                                                  0xbf, 0x55, 0x0f, 0x53, 0x8a, 0xb2, 0x58, 0xd9};

// Document-type codes of news items that have a document behind them.
constexpr uint32_t kDocumentCodes[] = {13, 14, 18, 59, 60, 171, 174};

constexpr int kTextContainsChars = 79;
// Volumes below 2^48 take the 64-bit way of the volume comparison.
constexpr int kVcmpNarrowBits = 48;

const char kAsxBenchmarks[] = " XTL XFL XTO XJO X2C XKO XMD XSO XAO ";
const char kNzxBenchmarks[] = " ALL AXAS NC50 NCM NZ20 NZ50 NZTS SCI SEMC T10 T30 T40 ZXV ";
const char kAsxSectors[] = " XDJ XEJ XFJ XXJ XGD XHJ XNJ XIJ XMJ XMM XPJ XSJ XTJ XUJ ";

// ASX price steps, from the top: the first row whose floor the price reaches.
struct price_band {
  uint32_t floor;
  uint32_t step;
};
constexpr price_band kAsxBands[] = {{10000000, 10000}, {20000, 100}, {1000, 50}, {10, 10}};
constexpr uint32_t kNzxBandFloor = 2000;
constexpr uint32_t kNzxLowStep = 10;
constexpr uint32_t kNzxHighStep = 100;

int32_t exchange_of(const instr* in) {
  return in && in->exchange ? (int32_t)in->exchange->index : -1;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// " code " occurs in the space-separated list.
bool listed(const char* list, const char* code, size_t len) {
  char word[kCodeSize + 2];
  if (len == 0 || len > (size_t)kCodeMax) return false;
  word[0] = ' ';
  memcpy(word + 1, code, len);
  word[len + 1] = ' ';
  word[len + 2] = '\0';
  return strstr(list, word) != nullptr;
}

void hmac_md5_news(const char* message, size_t len, uint8_t digest[16]) {
  uint8_t block[kHmacBlock];
  uint8_t inner[16];
  md5_ctx ctx;

  memcpy(block, kNewsKeyInner, kNewsKeyBytes);
  memset(block + kNewsKeyBytes, kHmacInnerPad, kHmacBlock - kNewsKeyBytes);
  md5_init(&ctx);
  md5_update(&ctx, block, kHmacBlock);
  md5_update(&ctx, message, (uint32_t)len);
  md5_final(&ctx, inner);

  memcpy(block, kNewsKeyOuter, kNewsKeyBytes);
  memset(block + kNewsKeyBytes, kHmacOuterPad, kHmacBlock - kNewsKeyBytes);
  md5_init(&ctx);
  md5_update(&ctx, block, kHmacBlock);
  md5_update(&ctx, inner, sizeof inner);
  md5_final(&ctx, digest);
}

// Percent-escapes everything outside the URL's unreserved characters, so a
// code can never add a parameter of its own to the query. out holds 3 bytes
// per input byte and a NUL.
void url_escape(char* out, const char* in) {
  static const char kHex[] = "0123456789ABCDEF";
  for (; *in; in++) {
    unsigned char c = (unsigned char)*in;
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      *out++ = (char)c;
    } else {
      *out++ = '%';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
  }
  *out = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------
// Prices

uint32_t ssutil_price_step(int32_t exchange, uint32_t price) {
  if (exchange == kExchangeNzx) return price < kNzxBandFloor ? kNzxLowStep : kNzxHighStep;
  if (exchange != kExchangeAsx) return 0;
  for (const price_band& b : kAsxBands)
    if (price >= b.floor) return b.step;
  return 0;
}

int ssutil_price_on_step(int32_t exchange, uint32_t price) {
  if (exchange != kExchangeNzx && exchange != kExchangeAsx) return 1;
  uint32_t step = ssutil_price_step(exchange, price);
  return step == 0 || price % step == 0;
}

// ---------------------------------------------------------------------------
// Code forms

int ssutil_nzx_numbered_code(int32_t exchange, const char* code) {
  // Asked on every depth change, so the exchange goes first and the code is
  // read a character at a time, stopping at its end: six characters, the
  // last three digits.
  if (exchange != kExchangeNzx || !code) return 0;
  return code[0] && code[1] && code[2] && is_digit(code[3]) && is_digit(code[4]) && is_digit(code[5]) && !code[6];
}

int ssutil_nzx_numbered_code(const instr* in) {
  if (!in || !in->exchange || in->exchange->index != static_cast<uint32_t>(kExchangeNzx)) return 0;
  return ssutil_nzx_numbered_code(kExchangeNzx, in->code);
}

int ssutil_nzx_special_code(int32_t exchange, const char* code) {
  if (exchange != kExchangeNzx || !code) return 0;
  if (ssutil_nzx_numbered_code(exchange, code)) return 1;
  return strlen(code) == 5 && (code[3] == 'F' || code[3] == 'H');
}

int ssutil_nzx_special_code(const instr* in) {
  return in ? ssutil_nzx_special_code(exchange_of(in), in->code) : 0;
}

int ssutil_nzx_plain_code(const ss_stock* stock) {
  if (!stock) return 0;
  if (stock->option_kind != 0) return 1;
  int32_t exchange = exchange_of(stock);
  if (exchange != kExchangeNzx) return 0;
  size_t len = strlen(stock->code);
  if (len == 3 || len == 4) return 0;
  return !ssutil_nzx_numbered_code(exchange, stock->code);
}

int ssutil_is_cx_pm_code(int32_t exchange, const char* code) {
  if (exchange != kExchangeAsx || !code) return 0;
  const char* under = strchr(code, '_');
  if (!under) return 0;
  return strcmp(under + 1, "CX") == 0 || strcmp(under + 1, "PM") == 0;
}

int ssutil_is_cx_pm_code(const instr* in) {
  return in ? ssutil_is_cx_pm_code(exchange_of(in), in->code) : 0;
}

int ssutil_is_benchmark_index(const ss_index* index) {
  if (!index || !index->code[0]) return 0;
  int32_t exchange = exchange_of(index);
  const char* code = index->code;
  size_t len = strnlen(code, kCodeSize);
  switch (exchange) {
    case kExchangeGlb:
    case kExchangeAxo:
      return 1;
    case kExchangeAsx:
      return listed(kAsxBenchmarks, code, len);
    case kExchangeNzx:
      if (listed(kNzxBenchmarks, code, len)) return 1;
      // A gross variant of a listed index: the code with a "G" on the end.
      return len >= 2 && code[len - 1] == 'G' && listed(kNzxBenchmarks, code, len - 1);
    default:
      return 0;
  }
}

int ssutil_is_sector_index(const ss_index* index) {
  if (!index || !index->code[0]) return 0;
  const char* code = index->code;
  switch (exchange_of(index)) {
    case kExchangeNzx:
      return (code[0] == 'G' || code[0] == 'A') && is_digit(code[1]);
    case kExchangeAsx:
      // A plain substring test, so part of a listed code matches too.
      return strstr(kAsxSectors, code) != nullptr;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// News

int ssutil_news_codes_in_set(const ss_news* item) {
  if (!item || item->codes[0] == 0) return 0;
  for (int i = 0; i < kNewsCodes && item->codes[i] != 0; i++) {
    bool found = false;
    for (uint32_t c : kDocumentCodes) found = found || c == item->codes[i];
    if (!found) return 0;
  }
  return 1;
}

int ssutil_text_contains(const char* text, const char* needle) {
  if (!text || !needle) return 0;
  char upper[kTextContainsChars + 1];
  int n = 0;
  for (; n < kTextContainsChars && text[n]; n++) upper[n] = (char)toupper((unsigned char)text[n]);
  upper[n] = '\0';
  return strstr(upper, needle) != nullptr;
}

char* ssutil_news_pdf_url(char* buf, uint32_t* size, int32_t exchange, const char* code, uint32_t number) {
  if (!size) return nullptr;
  const char* name = ssmodel_exchange_name(exchange);
  if (!name) {
    log(LOG_ERROR, kSrc, "no news link for exchange %d", exchange);
    *size = 0;
    return nullptr;
  }
  if (exchange == kExchangeNzx) name = "NZSE";
  size_t code_len = code ? strnlen(code, kCodeSize) : 0;
  if (code_len == 0 || code_len > (size_t)kCodeMax) {
    log(LOG_ERROR, kSrc, "no news link for code %.*s", (int)code_len, code ? code : "");
    *size = 0;
    return nullptr;
  }

  char message[sizeof kNewsProduct + kCodeSize * 2 + 16];
  int mlen = snprintf(message, sizeof message, "%s|%s|%s|%u", kNewsProduct, name, code, number);
  uint8_t digest[16];
  hmac_md5_news(message, (size_t)mlen, digest);
  char hex[33];
  for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);

  char escaped[kCodeMax * 3 + 1];
  url_escape(escaped, code);
  static const char kFormat[] = "%s%s?ID=%s&E=%s&S=%s&N=%u&X=1&HMAC=%s";
  int len = snprintf(nullptr, 0, kFormat, kNewsDocumentHost, kNewsDocumentPath, kNewsProduct, name, escaped,
                     number, hex);
  uint32_t need = (uint32_t)len + 1;
  if (!buf || *size < need) {
    *size = need;
    return nullptr;
  }
  snprintf(buf, need, kFormat, kNewsDocumentHost, kNewsDocumentPath, kNewsProduct, name, escaped, number, hex);
  *size = need;
  return buf;
}

char* ssutil_news_pdf_url_for(char* buf, uint32_t* size, const instr* in, uint32_t number) {
  if (!in) {
    if (size) *size = 0;
    log(LOG_ERROR, kSrc, "no news link without an instrument");
    return nullptr;
  }
  return ssutil_news_pdf_url(buf, size, exchange_of(in), in->code, number);
}

// ---------------------------------------------------------------------------
// Volume comparison

namespace {

// One comparison the wide way. Volumes are unsigned 64-bit, so their
// difference needs 65 bits and the ratio's numerator about 79: both are
// worked out in 128 bits. Out of line: its registers would otherwise burden
// every call for the sake of volumes no market reaches.
[[gnu::noinline]] void vcmp_wide(uint64_t volume, uint64_t ref, int64_t* diff_out, int32_t* pct_out) {
  constexpr __int128 kI64Max = INT64_MAX, kI64Min = INT64_MIN;
  constexpr __int128 kI32Max = INT32_MAX, kI32Min = INT32_MIN;
  __int128 diff = (__int128)volume - (__int128)ref;
  *diff_out = (int64_t)(diff > kI64Max ? kI64Max : diff < kI64Min ? kI64Min : diff);
  if (ref == 0) {
    *pct_out = 0;
    return;
  }
  __int128 num = diff * 10000;
  __int128 mag = num < 0 ? -num : num;
  __int128 q = (2 * mag + ref) / (2 * (__int128)ref);  // nearest, halves away from zero
  if (num < 0) q = -q;
  *pct_out = (int32_t)(q > kI32Max ? kI32Max : q < kI32Min ? kI32Min : q);
}

}  // namespace

void ssutil_stock_vcmp_derive(ss_stock* stock) {
  const uint64_t volume = stock->volume;
  for (int i = 0; i < 3; i++) {
    const uint64_t ref = stock->vcmp_volume[i];
    if (((volume | ref) >> kVcmpNarrowBits) != 0) {
      vcmp_wide(volume, ref, &stock->vcmp_diff[i], &stock->vcmp_pct[i]);
      continue;
    }
    // Both below 2^48 (every real volume): the difference fits 64 bits
    // without clamping, its ratio's numerator stays below 2^62 and the
    // rounding sum below 2^63, so 64-bit arithmetic gives the same figures
    // as the wide way.
    const int64_t diff = static_cast<int64_t>(volume) - static_cast<int64_t>(ref);
    stock->vcmp_diff[i] = diff;
    if (ref == 0) {
      stock->vcmp_pct[i] = 0;
      continue;
    }
    const uint64_t mag = (diff < 0 ? static_cast<uint64_t>(-diff) : static_cast<uint64_t>(diff)) * 10000;
    const int64_t q = static_cast<int64_t>((2 * mag + ref) / (2 * ref));  // nearest, halves away from zero
    const int64_t pct = diff < 0 ? -q : q;
    stock->vcmp_pct[i] = static_cast<int32_t>(pct > INT32_MAX ? INT32_MAX : pct < INT32_MIN ? INT32_MIN : pct);
  }
}

int32_t ssutil_change_pct(uint32_t now, uint32_t before) {
  if (!now || !before) return 0;
  const float pct = static_cast<float>(static_cast<int64_t>(now) - before) * 10000.0f / static_cast<float>(before);
  const float rounded = pct < 0 ? pct - 0.5f : pct + 0.5f;
  // A value thousands of times its base would not fit: clamped, not wrapped.
  if (rounded >= 2147483520.0f) return INT32_MAX;  // the largest float below 2^31
  return static_cast<int32_t>(rounded);
}
