// State shared by the three proxy authentication schemes (Basic, Digest,
// NTLM). The HTTP transport embeds one `proxy_auth` in its connection state,
// points it at the proxy credentials and the local host name, and asks the
// scheme modules to parse challenges and write "Proxy-Authorization:" lines.
// Only the io thread uses it.
#pragma once
#include <cstdint>

// Longest realm, nonce and opaque value kept from a Digest challenge; a
// challenge with a longer one is refused rather than answered with a cut value.
constexpr int kProxyAuthValueMax = 255;
// Longest Basic realm.
constexpr int kProxyAuthBasicRealmMax = 127;
// Longest Digest algorithm and qop values.
constexpr int kProxyAuthTokenMax = 11;
// Longest user name, password and host name any scheme accepts.
constexpr int kProxyAuthCredentialMax = 255;

// NTLM steps, kept by the transport.
constexpr int32_t kProxyNtlmNegotiate = 1;
constexpr int32_t kProxyNtlmAnswer = 2;

struct proxy_auth {
  // Set by the transport; not owned. The user may be "domain\user" or
  // "domain/user" for NTLM. `host` is the machine's name without its domain.
  const char* user;
  const char* password;
  const char* host;

  // Basic
  char basic_realm[kProxyAuthBasicRealmMax + 1];

  // Digest
  char realm[kProxyAuthValueMax + 1];
  char nonce[kProxyAuthValueMax + 1];
  char opaque[kProxyAuthValueMax + 1];
  char algorithm[kProxyAuthTokenMax + 1];
  char qop[kProxyAuthTokenMax + 1];

  // NTLM
  int32_t ntlm_step;            // kProxyNtlmNegotiate or kProxyNtlmAnswer
  uint32_t ntlm_flags;          // the proxy's flags from its challenge
  uint8_t ntlm_challenge[8];    // the proxy's 8-byte challenge
  uint8_t ntlm_target[8];       // target-name descriptor of the challenge (kept, unused)
  int32_t ntlm_have_challenge;  // 1 once a challenge has been parsed
  // 1 after the negotiate message went out, 0 after the answer: the
  // transport keeps the proxy connection alive while it is 1.
  uint32_t ntlm_keepalive;
};
