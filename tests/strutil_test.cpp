#include "strutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

// Search results as offsets, -1 for none.
long offset_of(const char* found, const char* text) { return found ? found - text : -1; }

TEST(StrutilSearch, CaseInsensitiveTable) {
  struct Case {
    const char* text;
    const char* word;
    long want;
  } cases[] = {
      {"Proxy-Authenticate: NTLM", "ntlm", 20},
      {"Proxy-Authenticate: NtLm TlRMTVNTUAAB", "NTLM", 20},
      {"abc", "abcd", -1},  // word longer than the text
      {"basic realm=x", "digest", -1},
      {"xxABAB", "abab", 2},
      {"aaab", "AAB", 1},  // restarts after a partial match
      {"word", "", 0},
      {"", "x", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.word);
    EXPECT_EQ(offset_of(strutil_strcasestr(c.text, c.word), c.text), c.want);
  }
}

TEST(StrutilSearch, LengthLimitedReadsOnlyItsBytes) {
  // A buffer without terminator, exactly sized so that ASan catches any read
  // past it; a NUL inside is compared like any byte.
  const char raw[] = {'H', 'T', 'T', 'P', '\0', 'x', '\r', '\n', '\r', '\n'};
  std::vector<char> buf(raw, raw + sizeof raw);
  EXPECT_EQ(offset_of(strutil_strncasestr(buf.data(), 10, "\r\n\r\n"), buf.data()), 6);
  EXPECT_EQ(offset_of(strutil_strncasestr(buf.data(), 9, "\r\n\r\n"), buf.data()), -1);
  EXPECT_EQ(offset_of(strutil_strncasestr(buf.data(), 10, "X\r"), buf.data()), 5);
  EXPECT_EQ(offset_of(strutil_strncasestr(buf.data(), 4, "http"), buf.data()), 0);
  EXPECT_EQ(offset_of(strutil_strncasestr(buf.data(), 3, "http"), buf.data()), -1);
}

TEST(StrutilCopyWord, Table) {
  struct Case {
    const char* src;
    int32_t size;
    const char* want;
  } cases[] = {
      {"\"quoted value\" rest", 64, "quoted value"},
      {"word rest", 64, "word"},
      {"word,next rest", 64, "word,next"},  // only a space ends a word here
      {" lead rest", 64, " lead"},          // the first character is always taken
      {"abcdefghijk", 8, "abcdefg"},        // 11 characters into 8 bytes
      {"\"abcdefghijk\"", 8, "abcdefg"},
      {"", 8, ""},
      {"x", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    std::vector<char> dst(c.size, '#');
    strutil_copy_word(dst.data(), c.src, c.size);
    EXPECT_STREQ(dst.data(), c.want);
  }
}

TEST(StrutilCopyWord, UnterminatedQuoteCopiesToEndAndWarns) {
  char dst[32];
  testing::internal::CaptureStderr();
  strutil_copy_word(dst, "\"no closing quote", sizeof dst);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_STREQ(dst, "no closing quote");
  EXPECT_NE(err.find("missing terminating quote"), std::string::npos) << err;
}

TEST(StrutilAuthParam, Table) {
  struct Case {
    const char* text;
    const char* name;
    int32_t size;
    int want_rc;
    const char* want;  // dst afterwards ("-" stays when untouched)
  } cases[] = {
      {"realm=\"proxy one\", nonce=abc", "realm=", 64, 1, "proxy one"},
      {"realm=\"proxy one\", nonce=abc", "nonce=", 64, 1, "abc"},
      {"qop=auth, nonce=\"n\"", "qop=", 64, 1, "auth"},  // a comma ends a bare value
      {"qop=auth,nonce=\"n\"", "qop=", 64, 1, "auth"},
      {"QOP=\"auth,auth-int\"", "qop=", 64, 1, "auth,auth-int"},
      {"Realm=x\r\n", "realm=", 64, 1, "x"},
      {"cnonce=\"c\", nonce=\"n\"", "nonce=", 64, 1, "n"},           // not inside another name
      {"realm=\"a nonce=evil\", nonce=good", "nonce=", 64, 1, "good"},  // not inside a quoted value
      {"realm=\"a, nonce=evil\"", "nonce=", 64, 0, "-"},
      {"realm=x", "nonce=", 64, 0, "-"},
      {"nonce=", "nonce=", 64, 1, ""},
      {"nonce=\"1234567\"", "nonce=", 8, 1, "1234567"},  // just fits
      {"nonce=\"12345678\"", "nonce=", 8, -1, "-"},      // refused, not cut
      {"nonce=12345678", "nonce=", 8, -1, "-"},
      {"nonce=\"a\r\nX-Evil: 1\"", "nonce=", 64, -1, "-"},
      {"nonce=a\"b", "nonce=", 64, -1, "-"},
      {"nonce=\"open", "nonce=", 64, 1, "open"},  // missing quote: to the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.name);
    std::vector<char> dst(c.size, '#');
    strcpy(dst.data(), "-");
    EXPECT_EQ(strutil_auth_param(dst.data(), c.size, c.text, c.name), c.want_rc);
    EXPECT_STREQ(dst.data(), c.want);
  }
}

std::string b64(const std::string& s) {
  std::vector<char> out(strutil_base64_size(static_cast<int32_t>(s.size())));
  strutil_base64_encode(out.data(), s.data(), static_cast<int32_t>(s.size()));
  return out.data();
}

// Decodes with exactly `cap` bytes of room (heap-allocated, so ASan sees any
// write past it); returns the text or "<fail>".
std::string unb64(const char* text, int32_t cap = 64) {
  std::vector<uint8_t> out(cap > 0 ? cap : 1);
  int32_t n = strutil_base64_decode(out.data(), cap, text);
  if (n < 0) return "<fail>";
  return std::string(out.begin(), out.begin() + n);
}

TEST(StrutilBase64, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
      {"ab", "YWI="},   {"a", "YQ=="},
  };
  for (const auto& [plain, coded] : vectors) {
    SCOPED_TRACE(plain);
    EXPECT_EQ(b64(plain), coded);
    EXPECT_EQ(unb64(coded), plain);
  }
}

TEST(StrutilBase64, DecodeEdges) {
  struct Case {
    const char* text;
    int32_t cap;
    const char* want;
  } cases[] = {
      {"YWI=", 2, "ab"},            // exact room
      {"YWI=", 1, "<fail>"},        // one byte short
      {"Zm9vYmFy", 5, "<fail>"},
      {"Zm9v\r\n", 64, "foo"},      // stops at a character outside the alphabet
      {"Zm9v YmFy", 64, "foo"},
      {"Zm9vYg", 64, "foob"},       // unpadded final group
      {"Zm9vYmE", 64, "fooba"},
      {"Zm9vY", 64, "foo"},         // a lone character holds no whole byte
      {"YQ==YWJj", 64, "a"},        // nothing after padding
      {"=YWJj", 64, ""},
      {"Y===", 64, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(unb64(c.text, c.cap), c.want);
  }
}

#ifdef AMBIT_HAVE_OPENSSL
TEST(StrutilBase64, MatchesOpenSslOnRandomData) {
  std::mt19937 rng(7);
  for (int len = 0; len <= 100; len++) {
    std::vector<uint8_t> data(len);  // exact size: ASan catches reads past it
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<char> ours(strutil_base64_size(len));
    strutil_base64_encode(ours.data(), data.data(), len);
    std::vector<unsigned char> ref(strutil_base64_size(len));
    EVP_EncodeBlock(ref.data(), data.data(), len);
    ASSERT_STREQ(ours.data(), reinterpret_cast<char*>(ref.data())) << len;

    std::vector<uint8_t> back(len > 0 ? len : 1);
    ASSERT_EQ(strutil_base64_decode(back.data(), len, ours.data()), len);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin())) << len;
  }
}
#endif

TEST(StrutilHex, LowerCaseHighNibbleFirst) {
  const uint8_t two[] = {0x00, 0xAB};
  char out[5];
  strutil_hex_encode(out, two, 2);
  EXPECT_STREQ(out, "00ab");

  uint8_t all[256];
  for (int i = 0; i < 256; i++) all[i] = static_cast<uint8_t>(i);
  std::vector<char> hex(513);
  strutil_hex_encode(hex.data(), all, 256);
  std::string want;
  for (int i = 0; i < 256; i++) {
    char b[3];
    snprintf(b, sizeof b, "%02x", i);
    want += b;
  }
  EXPECT_EQ(hex.data(), want);
  strutil_hex_encode(out, two, 0);
  EXPECT_STREQ(out, "");
}

TEST(StrutilReplaceAll, Table) {
  struct Case {
    const char* text;
    int32_t cap;
    const char* from;
    const char* to;
    int32_t want_rc;
    const char* want;
  } cases[] = {
      {"ab-ab-ab", 16, "ab", "x", 3, "x-x-x"},
      {"a.b.c", 16, ".", "::", 2, "a::b::c"},
      {"a.b.c", 8, ".", "::", 2, "a::b::c"},      // 7 characters and the NUL just fit
      {"a.b.c", 7, ".", "::", -1, "a::b.c"},      // the second one does not
      {"aabb", 16, "ab", "a", 2, "aa"},           // a replacement joining a new occurrence
      {"none here", 16, "xyz", "q", 0, "none here"},
      {"loop", 16, "o", "oo", -1, "loop"},        // would never end
      {"text", 16, "", "x", -1, "text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " " + c.from + "->" + c.to);
    std::vector<char> buf(c.cap);  // exact capacity on the heap
    strcpy(buf.data(), c.text);
    EXPECT_EQ(strutil_replace_all(buf.data(), c.cap, c.from, c.to), c.want_rc);
    EXPECT_STREQ(buf.data(), c.want);
  }
}

}  // namespace
