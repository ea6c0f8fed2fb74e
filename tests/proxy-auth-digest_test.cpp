#include "proxy-auth-digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "growbuf.h"
#include "plat.h"

#ifdef AMBIT_HAVE_OPENSSL
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#endif

namespace {

// The challenge and credentials of the example in RFC 2617 section 3.5.
constexpr char kRfcChallenge[] =
    "realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
    "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

class ProxyAuthDigest : public testing::Test {
 protected:
  void SetUp() override {
    plat_init();
    growbuf_init(&out_, 1024, 1024);
    st_ = proxy_auth{};
    st_.user = "Mufasa";
    st_.password = "Circle Of Life";
    proxy_auth_digest_set_nonce_count(0);
    proxy_auth_digest_set_test_cnonce("0a4f113b");
  }
  void TearDown() override {
    proxy_auth_digest_set_test_cnonce(nullptr);
    plat_set_test_random(nullptr);
    growbuf_free(&out_);
  }
  std::string take() {
    std::string s(reinterpret_cast<const char*>(out_.data), out_.len);
    growbuf_reset(&out_);
    return s;
  }

  growbuf out_{};
  proxy_auth st_{};
};

// The parameters of one header line, quotes removed.
std::map<std::string, std::string> params(const std::string& line) {
  std::map<std::string, std::string> m;
  const std::string prefix = "Proxy-Authorization: Digest ";
  EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  size_t i = prefix.size();
  while (i < line.size() - 2) {
    size_t eq = line.find('=', i);
    std::string name = line.substr(i, eq - i);
    std::string value;
    size_t end;
    if (line[eq + 1] == '"') {
      end = line.find('"', eq + 2);
      value = line.substr(eq + 2, end - eq - 2);
      end++;
    } else {
      end = line.find_first_of(",\r", eq + 1);
      value = line.substr(eq + 1, end - eq - 1);
    }
    m[name] = value;
    i = end;
    if (line.compare(i, 2, ", ") == 0) i += 2;
  }
  return m;
}

TEST_F(ProxyAuthDigest, Rfc2617Example) {
  ASSERT_EQ(proxy_auth_digest_parse(&st_, kRfcChallenge), 0);
  EXPECT_STREQ(st_.qop, "auth");  // chosen from "auth,auth-int"
  ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "GET", "/dir/index.html"), 0);
  EXPECT_EQ(take(),
            "Proxy-Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", cnonce=\"0a4f113b\", "
            "nc=00000001, qop=\"auth\", response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n");
}

#ifdef AMBIT_HAVE_OPENSSL
std::string md5_hex(const std::string& s) {
  unsigned char d[16];
  MD5(reinterpret_cast<const unsigned char*>(s.data()), s.size(), d);
  char hex[33];
  for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

// Checks a header's response against one computed here with OpenSSL.
void expect_response(const std::map<std::string, std::string>& p, const char* password, const char* method) {
  std::string ha1 = md5_hex(p.at("username") + ":" + p.at("realm") + ":" + password);
  std::string ha2 = md5_hex(std::string(method) + ":" + p.at("uri"));
  std::string want = p.count("qop") ? md5_hex(ha1 + ":" + p.at("nonce") + ":" + p.at("nc") + ":" + p.at("cnonce") +
                                              ":" + p.at("qop") + ":" + ha2)
                                    : md5_hex(ha1 + ":" + p.at("nonce") + ":" + ha2);
  EXPECT_EQ(p.at("response"), want);
}

TEST_F(ProxyAuthDigest, ConnectIsAnsweredForItsOwnMethodAndTarget) {
  ASSERT_EQ(proxy_auth_digest_parse(&st_, kRfcChallenge), 0);
  ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "CONNECT", "feed.example.net:443"), 0);
  auto connect = params(take());
  EXPECT_EQ(connect.at("uri"), "feed.example.net:443");
  expect_response(connect, "Circle Of Life", "CONNECT");

  // The same request answered as a GET would give another response.
  ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "GET", "feed.example.net:443"), 0);
  auto get = params(take());
  expect_response(get, "Circle Of Life", "GET");
  EXPECT_NE(get.at("response"), connect.at("response"));

  ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "POST", "http://feed.example.net/AMBIT/6"), 0);
  expect_response(params(take()), "Circle Of Life", "POST");
}

TEST_F(ProxyAuthDigest, PlainFormWithoutAuthQop) {
  const char* challenges[] = {
      "realm=\"r\", nonce=\"n1\"",                   // no qop at all
      "realm=\"r\", nonce=\"n1\", qop=\"auth-int\"",  // only a qop this side can't give
  };
  for (const char* challenge : challenges) {
    SCOPED_TRACE(challenge);
    ASSERT_EQ(proxy_auth_digest_parse(&st_, challenge), 0);
    ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "GET", "/x"), 0);
    std::string line = take();
    auto p = params(line);
    EXPECT_EQ(p.count("cnonce") + p.count("nc") + p.count("qop") + p.count("opaque"), 0u) << line;
    expect_response(p, "Circle Of Life", "GET");
  }
}
#endif

TEST_F(ProxyAuthDigest, NonceCountIsProcessWideAndHex) {
  ASSERT_EQ(proxy_auth_digest_parse(&st_, kRfcChallenge), 0);
  proxy_auth other = st_;  // a second connection shares the count
  std::string ncs;
  for (int i = 1; i <= 10; i++) {
    ASSERT_EQ(proxy_auth_digest_header(i % 2 ? &st_ : &other, &out_, "GET", "/"), 0);
    ncs += params(take()).at("nc") + " ";
  }
  EXPECT_EQ(ncs,
            "00000001 00000002 00000003 00000004 00000005 00000006 00000007 00000008 00000009 0000000a ");
  EXPECT_EQ(proxy_auth_digest_nonce_count(), 10);
}

long g_random_step;
long sequence_random() {
  const long values[] = {0x00, 0x09, 0x0a, 0x7f, 0x80, 0xff, 0x123, 0x37};
  return values[g_random_step++ % 8];
}

TEST_F(ProxyAuthDigest, ClientNonceIsEightDigitsOfRandomBytes) {
  proxy_auth_digest_set_test_cnonce(nullptr);
  g_random_step = 0;
  plat_set_test_random(sequence_random);
  ASSERT_EQ(proxy_auth_digest_parse(&st_, kRfcChallenge), 0);
  ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "GET", "/"), 0);
  // Bytes 00 09 0a 7f 80 ff 23 37: 0x80 is -128, read as 4294967168 (8);
  // 0xff is -1, read as 4294967295 (5).
  EXPECT_EQ(params(take()).at("cnonce"), "09078555");
}

TEST_F(ProxyAuthDigest, ParseTable) {
  const std::string n255(255, 'n'), n256(256, 'n');
  const std::string long_nonce = "nonce=\"" + n255 + "\"";
  const std::string too_long_nonce = "nonce=\"" + n256 + "\"";
  struct Case {
    std::string challenge;
    int rc;
    const char* qop;
    const char* opaque;
    const char* nonce;  // null: the 255-character one
  } cases[] = {
      {"realm=\"r\", nonce=\"abc\", qop=auth, opaque=o", 0, "auth", "o", "abc"},
      {"realm=r, nonce=abc, qop=auth,", 0, "auth", "", "abc"},  // bare value ends at the comma
      {"nonce=abc,qop=auth-int,auth", 0, "auth-int", "", "abc"},  // bare list: only its first value
      {"nonce=\"abc\", qop=\"auth-int, auth\"", 0, "auth", "", "abc"},
      {"NONCE=\"abc\", QOP=\"AUTH\"", 0, "AUTH", "", "abc"},  // names ignore case, values keep it
      {"nonce=\"abc\", qop=\"auth-conf,auth-int\"", -1, "old", "old", "old"},  // no auth, too long
      {long_nonce, 0, "", "", nullptr},
      {too_long_nonce, -1, "old", "old", "old"},
      {"nonce=\"a\r\nX: y\"", -1, "old", "old", "old"},
      {"realm=\"r\", opaque=\"o\"", -1, "old", "old", "old"},  // no nonce
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.challenge.substr(0, 60));
    strcpy(st_.qop, "old");
    strcpy(st_.opaque, "old");
    strcpy(st_.nonce, "old");
    EXPECT_EQ(proxy_auth_digest_parse(&st_, c.challenge.c_str()), c.rc);
    EXPECT_STREQ(st_.qop, c.qop);
    EXPECT_STREQ(st_.opaque, c.opaque);
    EXPECT_STREQ(st_.nonce, c.nonce ? c.nonce : n255.c_str());
  }
}

// An algorithm name longer than its field is cut, and the answer is the same
// MD5 answer as for a challenge without one: a long name never stops Digest.
TEST_F(ProxyAuthDigest, LongAlgorithmIsCutAndDoesNotChangeTheAnswer) {
  proxy_auth_digest_set_test_cnonce("0a4f113b");
  const std::string plain = std::string(kRfcChallenge);
  const char* names[] = {"MD5", "SHA-512-256-sess", "a-very-long-algorithm-name-of-the-future"};
  std::string first;
  for (const char* name : names) {
    SCOPED_TRACE(name);
    std::string challenge = plain + ", algorithm=" + name;
    ASSERT_EQ(proxy_auth_digest_parse(&st_, challenge.c_str()), 0);
    EXPECT_EQ(std::string(name).substr(0, kProxyAuthTokenMax), st_.algorithm);
    proxy_auth_digest_set_nonce_count(0);
    ASSERT_EQ(proxy_auth_digest_header(&st_, &out_, "GET", "/dir/index.html"), 0);
    std::string response = params(take()).at("response");
    if (first.empty()) first = response;
    EXPECT_EQ(first, response);
  }
}

TEST_F(ProxyAuthDigest, RefusedHeadersWriteNothingAndKeepTheCount) {
  ASSERT_EQ(proxy_auth_digest_parse(&st_, kRfcChallenge), 0);
  const std::string long_user(256, 'u');
  struct Case {
    const char* user;
    const char* password;
    const char* method;
    const char* uri;
  } cases[] = {
      {"Mu\"fasa", "pw", "GET", "/"},
      {"Mufasa\r\nX-Evil: 1", "pw", "GET", "/"},
      {"Mufasa", "pw\n", "GET", "/"},
      {long_user.c_str(), "pw", "GET", "/"},
      {nullptr, "pw", "GET", "/"},
      {"Mufasa", "pw", nullptr, "/"},
      {"Mufasa", "pw", "GET", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user ? std::string(c.user).substr(0, 20) : "(null)");
    st_.user = c.user;
    st_.password = c.password;
    EXPECT_EQ(proxy_auth_digest_header(&st_, &out_, c.method, c.uri), -1);
    EXPECT_EQ(out_.len, 0);
  }
  proxy_auth fresh{};
  fresh.user = "Mufasa";
  fresh.password = "pw";
  EXPECT_EQ(proxy_auth_digest_header(&fresh, &out_, "GET", "/"), -1);  // no challenge yet
  EXPECT_EQ(out_.len, 0);
  EXPECT_EQ(proxy_auth_digest_nonce_count(), 0);
}

}  // namespace
