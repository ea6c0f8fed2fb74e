#include "proxy-auth-ntlm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "growbuf.h"
#include "plat.h"
#include "strutil.h"
#include "testhex.h"

#ifdef AMBIT_HAVE_OPENSSL
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/md4.h>
#include <openssl/md5.h>
#endif

namespace {

using bytes = std::vector<uint8_t>;


uint16_t get16(const bytes& m, size_t at) { return static_cast<uint16_t>(m[at] | (m[at + 1] << 8)); }
uint32_t get32(const bytes& m, size_t at) { return get16(m, at) | (uint32_t{get16(m, at + 2)} << 16); }

// The bytes a security buffer descriptor at `at` points to.
std::string field(const bytes& m, size_t at) {
  uint16_t len = get16(m, at);
  EXPECT_EQ(get16(m, at + 2), len);
  uint32_t off = get32(m, at + 4);
  EXPECT_LE(off + len, m.size());
  return std::string(m.begin() + off, m.begin() + off + len);
}

// A challenge message (type 2) as a proxy sends it, base64 coded.
std::string challenge_text(uint32_t flags, const bytes& challenge, size_t len = 48, uint32_t type = 2) {
  bytes m(std::max<size_t>(len, 32), 0);  // built whole, then cut to `len`
  const char sig[] = "NTLMSSP";
  memcpy(m.data(), sig, 8);
  for (int i = 0; i < 4; i++) {
    m[8 + i] = static_cast<uint8_t>(type >> (8 * i));
    m[20 + i] = static_cast<uint8_t>(flags >> (8 * i));
  }
  m[12] = 6;  // a target-name descriptor, kept but unused
  m[14] = 6;
  m[16] = 40;
  memcpy(m.data() + 24, challenge.data(), 8);
  std::vector<char> out(strutil_base64_size(static_cast<int32_t>(len)));
  strutil_base64_encode(out.data(), m.data(), static_cast<int32_t>(len));
  return out.data();
}

constexpr char kServerChallenge[] = "0123456789abcdef";

class ProxyAuthNtlm : public testing::Test {
 protected:
  void SetUp() override {
    plat_init();
    growbuf_init(&out_, 1024, 1024);
    st_ = proxy_auth{};
    st_.user = "Domain\\User";
    st_.password = "Password";
    st_.host = "COMPUTER";
  }
  void TearDown() override {
    plat_set_test_random(nullptr);
    growbuf_free(&out_);
  }
  // Takes the header line written and returns its message, decoded here by
  // OpenSSL where present.
  bytes take_message() {
    std::string line(reinterpret_cast<const char*>(out_.data), out_.len);
    growbuf_reset(&out_);
    const std::string prefix = "Proxy-Authorization: NTLM ";
    EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    std::string coded = line.substr(prefix.size(), line.size() - prefix.size() - 2);
    bytes m(coded.size());
#ifdef AMBIT_HAVE_OPENSSL
    int n = EVP_DecodeBlock(m.data(), reinterpret_cast<const unsigned char*>(coded.data()), static_cast<int>(coded.size()));
    EXPECT_GE(n, 0);
    n -= static_cast<int>(std::count(coded.end() - 2, coded.end(), '='));
#else
    int32_t n = strutil_base64_decode(m.data(), static_cast<int32_t>(m.size()), coded.c_str());
#endif
    m.resize(n);
    return m;
  }
  int answer(uint32_t flags, const bytes& challenge) {
    st_.ntlm_step = kProxyNtlmAnswer;
    std::string text = challenge_text(flags, challenge);
    if (proxy_auth_ntlm_parse(&st_, text.c_str()) != 0) return -1;
    return proxy_auth_ntlm_header(&st_, &out_);
  }

  growbuf out_{};
  proxy_auth st_{};
};

TEST_F(ProxyAuthNtlm, NtHashOfThePublishedExample) {
  uint8_t h[21];
  memset(h, 0xee, sizeof h);
  proxy_auth_ntlm_nt_hash(h, "Password");
  EXPECT_EQ(hex(h, 21), "a4f49c406510bdcab6824ee7c30fd852" "0000000000");
  proxy_auth_ntlm_nt_hash(h, "");
  EXPECT_EQ(hex(h, 16), "31d6cfe0d16ae931b73c59d7e0c089c0");  // MD4 of nothing
}

TEST_F(ProxyAuthNtlm, NegotiateMessage) {
  st_.ntlm_step = kProxyNtlmNegotiate;
  EXPECT_EQ(proxy_auth_ntlm_parse(&st_, ""), 0);
  EXPECT_EQ(proxy_auth_ntlm_parse(&st_, "  \t"), 0);
  ASSERT_EQ(proxy_auth_ntlm_header(&st_, &out_), 0);
  EXPECT_EQ(st_.ntlm_keepalive, 1u);
  EXPECT_EQ(hex(take_message()), "4e544c4d53535000" "01000000" "06820000" + std::string(32, '0'));
}

TEST_F(ProxyAuthNtlm, NtlmV1AnswerMatchesThePublishedExample) {
  st_.ntlm_keepalive = 1;
  // The Unicode bit (0x1) offered by the proxy is cleared in the answer.
  const uint32_t flags = 0xe2028235;
  ASSERT_EQ(answer(flags & ~kNtlmFlagNtlm2Session, unhex(kServerChallenge)), 0);
  EXPECT_EQ(st_.ntlm_keepalive, 0u);
  bytes m = take_message();
  ASSERT_EQ(m.size(), 112u + 6 + 4 + 8);
  EXPECT_EQ(hex(m.data(), 12), "4e544c4d5353500003000000");
  EXPECT_EQ(get32(m, 60), (flags & ~kNtlmFlagNtlm2Session) & ~1u);
  EXPECT_EQ(get16(m, 12), 24);
  EXPECT_EQ(get32(m, 16), 64u);
  EXPECT_EQ(get32(m, 24), 88u);
  EXPECT_EQ(get32(m, 32), 112u);
  EXPECT_EQ(hex(m.data() + 52, 8), "0000000000000000");
  EXPECT_EQ(hex(m.data() + 64, 24), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");  // LM
  EXPECT_EQ(hex(m.data() + 88, 24), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");  // NT
  EXPECT_EQ(field(m, 28), "Domain");
  EXPECT_EQ(field(m, 36), "User");
  EXPECT_EQ(field(m, 44), "COMPUTER");
}

long all_aa() { return 0xaa; }

TEST_F(ProxyAuthNtlm, Ntlm2SessionResponseMatchesThePublishedExample) {
  plat_set_test_random(all_aa);  // client challenge aaaaaaaaaaaaaaaa
  ASSERT_EQ(answer(0x00088201, unhex(kServerChallenge)), 0);
  bytes m = take_message();
  EXPECT_EQ(hex(m.data() + 64, 24), "aaaaaaaaaaaaaaaa" + std::string(32, '0'));
  EXPECT_EQ(hex(m.data() + 88, 24), "7537f803ae367128ca458204bde7caf81e97ed2683267232");
  EXPECT_EQ(get32(m, 60), 0x00088200u);
}

TEST_F(ProxyAuthNtlm, UserNameSplitting) {
  struct Case {
    const char* configured;
    const char* domain;
    const char* user;
  } cases[] = {
      {"Domain\\User", "Domain", "User"},
      {"Domain/User", "Domain", "User"},
      {"User", "", "User"},
      {"a\\b/c", "a", "b/c"},  // the backslash wins
      {"a/b\\c", "a/b", "c"},
      {"\\User", "", "User"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.configured);
    std::string configured = c.configured;
    st_.user = configured.c_str();
    for (int round = 0; round < 2; round++) {  // the same both times
      ASSERT_EQ(answer(0x8201, unhex(kServerChallenge)), 0);
      bytes m = take_message();
      EXPECT_EQ(field(m, 28), c.domain);
      EXPECT_EQ(field(m, 36), c.user);
      EXPECT_EQ(get32(m, 44 + 4), 112u + strlen(c.domain) + strlen(c.user));
    }
    EXPECT_EQ(configured, c.configured);
  }
}

#ifdef AMBIT_HAVE_OPENSSL
// Reference responses built from OpenSSL's MD4, MD5 and DES.
bytes ref_des3(const uint8_t hash16[16], const uint8_t in[8]) {
  uint8_t h[21] = {};
  memcpy(h, hash16, 16);
  bytes out(24);
  for (int k = 0; k < 3; k++) {
    const uint8_t* s = h + 7 * k;
    DES_cblock key = {s[0], static_cast<uint8_t>(s[0] << 7 | s[1] >> 1), static_cast<uint8_t>(s[1] << 6 | s[2] >> 2),
                      static_cast<uint8_t>(s[2] << 5 | s[3] >> 3), static_cast<uint8_t>(s[3] << 4 | s[4] >> 4),
                      static_cast<uint8_t>(s[4] << 3 | s[5] >> 5), static_cast<uint8_t>(s[5] << 2 | s[6] >> 6),
                      static_cast<uint8_t>(s[6] << 1)};
    DES_key_schedule ks;
    DES_set_key_unchecked(&key, &ks);
    DES_cblock block;
    memcpy(block, in, 8);
    DES_ecb_encrypt(&block, reinterpret_cast<DES_cblock*>(out.data() + 8 * k), &ks, DES_ENCRYPT);
  }
  return out;
}

bytes ref_nt_hash(const std::string& pw) {
  bytes u;
  for (char c : pw) u.insert(u.end(), {static_cast<uint8_t>(c), 0});
  bytes h(16);
  MD4(u.data(), u.size(), h.data());
  return h;
}

bytes ref_lm_hash(const std::string& pw) {
  uint8_t up[16] = {};  // 14 characters, padded for the 16-byte reader below
  for (size_t i = 0; i < pw.size() && i < 14; i++) up[i] = static_cast<uint8_t>(toupper(static_cast<unsigned char>(pw[i])));
  bytes magic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  bytes r = ref_des3(up, magic.data());  // its first 16 bytes are the two halves
  r.resize(16);
  return r;
}

TEST_F(ProxyAuthNtlm, ReferenceModelAgreesWithThePublishedHashes) {
  EXPECT_EQ(hex(ref_nt_hash("Password").data(), 16), "a4f49c406510bdcab6824ee7c30fd852");
  EXPECT_EQ(hex(ref_lm_hash("Password").data(), 16), "e52cac67419a9a224a3b108f3fa6cb6d");
}

long g_random_value;
long fixed_random() { return g_random_value; }

TEST_F(ProxyAuthNtlm, MatchesOpenSslReferenceOnRandomInputs) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 40; i++) {
    std::string pw;
    int len = static_cast<int>(rng() % 20);
    for (int j = 0; j < len; j++) pw += static_cast<char>(' ' + rng() % 95);
    bytes server(8);
    for (uint8_t& b : server) b = static_cast<uint8_t>(rng());
    bool ntlm2 = i % 2;
    g_random_value = static_cast<long>(rng() % 256);
    plat_set_test_random(fixed_random);
    st_.password = pw.c_str();
    SCOPED_TRACE(pw + (ntlm2 ? " ntlm2" : " v1"));

    uint8_t nt21[21];
    proxy_auth_ntlm_nt_hash(nt21, pw.c_str());
    bytes nt = ref_nt_hash(pw);
    ASSERT_EQ(hex(nt21, 16), hex(nt.data(), 16));

    ASSERT_EQ(answer(ntlm2 ? 0x88201 : 0x8201, server), 0);
    bytes m = take_message();
    bytes want_lm, want_nt;
    if (ntlm2) {
      bytes client(8, static_cast<uint8_t>(g_random_value));
      want_lm = client;
      want_lm.resize(24, 0);
      bytes both = server;
      both.insert(both.end(), client.begin(), client.end());
      uint8_t session[16];
      MD5(both.data(), both.size(), session);
      want_nt = ref_des3(nt.data(), session);
    } else {
      want_nt = ref_des3(nt.data(), server.data());
      want_lm = ref_des3(ref_lm_hash(pw).data(), server.data());
    }
    EXPECT_EQ(hex(m.data() + 64, 24), hex(want_lm.data(), 24));
    EXPECT_EQ(hex(m.data() + 88, 24), hex(want_nt.data(), 24));
  }
}
#endif

TEST_F(ProxyAuthNtlm, ChallengeParseFailuresKeepTheState) {
  std::string bad_sig = challenge_text(0x8201, unhex(kServerChallenge));
  bad_sig[0] = 'U';  // "TlRM" -> "UlRM": first byte no longer 'N'
  std::string too_long(3000, 'A');
  struct Case {
    std::string text;
    const char* log;
  } cases[] = {
      {challenge_text(0x8201, unhex(kServerChallenge), 20), "20b ntml data too short"},
      {challenge_text(0x8201, unhex(kServerChallenge), 48, 3), "type should be 2 in step 2, not 03000000"},
      {bad_sig, "missing ntml signature"},
      {too_long, "failed to decode ntml data"},
      {"", "0b ntml data too short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    st_.ntlm_step = kProxyNtlmAnswer;
    st_.ntlm_flags = 0x1234;
    st_.ntlm_keepalive = 1;
    memset(st_.ntlm_challenge, 0x5a, 8);
    testing::internal::CaptureStderr();
    EXPECT_EQ(proxy_auth_ntlm_parse(&st_, c.text.c_str()), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.log), std::string::npos) << err;
    EXPECT_EQ(st_.ntlm_flags, 0x1234u);
    EXPECT_EQ(hex(st_.ntlm_challenge, 8), "5a5a5a5a5a5a5a5a");
    EXPECT_EQ(st_.ntlm_step, kProxyNtlmAnswer);
    EXPECT_EQ(st_.ntlm_keepalive, 1u);
  }
}

TEST_F(ProxyAuthNtlm, ChallengeKeptWithLeadingBlanksAndLineEnd) {
  st_.ntlm_step = kProxyNtlmAnswer;
  std::string text = "  " + challenge_text(0xa2898205, unhex(kServerChallenge)) + "\r\n";
  ASSERT_EQ(proxy_auth_ntlm_parse(&st_, text.c_str()), 0);
  EXPECT_EQ(st_.ntlm_flags, 0xa2898205u);
  EXPECT_EQ(hex(st_.ntlm_challenge, 8), kServerChallenge);
  EXPECT_EQ(hex(st_.ntlm_target, 8), "0600060028000000");
}

TEST_F(ProxyAuthNtlm, RefusalsWriteNothing) {
  const std::string long_name(256, 'h');
  // Step 1 takes no challenge; steps other than 1 and 2 do nothing.
  st_.ntlm_step = kProxyNtlmNegotiate;
  EXPECT_EQ(proxy_auth_ntlm_parse(&st_, "TlRMTVNTUAACAAAA"), -1);
  st_.ntlm_step = 3;
  EXPECT_EQ(proxy_auth_ntlm_parse(&st_, ""), -1);
  EXPECT_EQ(proxy_auth_ntlm_header(&st_, &out_), -1);
  // Step 2 before any challenge was parsed.
  st_.ntlm_step = kProxyNtlmAnswer;
  st_.ntlm_keepalive = 1;
  EXPECT_EQ(proxy_auth_ntlm_header(&st_, &out_), -1);

  struct Case {
    const char* user;
    const char* password;
    const char* host;
  } cases[] = {
      {"Domain\\User", "Password", "HOST\r\nX-Evil: 1"},
      {"Domain\\Us\ner", "Password", "HOST"},
      {"Domain\\User", "Pass\r", "HOST"},
      {long_name.c_str(), "Password", "HOST"},
      {"Domain\\User", "Password", long_name.c_str()},
      {nullptr, "Password", "HOST"},
      {"Domain\\User", "Password", nullptr},
  };
  std::string text = challenge_text(0x8201, unhex(kServerChallenge));
  ASSERT_EQ(proxy_auth_ntlm_parse(&st_, text.c_str()), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host ? std::string(c.host).substr(0, 10) : "(null)");
    st_.user = c.user;
    st_.password = c.password;
    st_.host = c.host;
    EXPECT_EQ(proxy_auth_ntlm_header(&st_, &out_), -1);
    EXPECT_EQ(st_.ntlm_keepalive, 1u);
  }
  EXPECT_EQ(out_.len, 0);

  // The longest accepted names fit the message.
  const std::string longest(255, 'n');
  const std::string user = longest + "\\" + longest;
  st_.user = user.c_str();
  st_.password = "Password";
  st_.host = longest.c_str();
  ASSERT_EQ(proxy_auth_ntlm_header(&st_, &out_), 0);
  bytes m = take_message();
  EXPECT_EQ(m.size(), 112u + 3 * 255);
  EXPECT_EQ(field(m, 44), longest);
}

}  // namespace
