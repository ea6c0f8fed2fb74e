// NTLM proxy authentication: the negotiate message, the proxy's challenge and
// the answer with LM and NT responses (NTLMv1, or the NTLM2 session response
// when the proxy sets flag 0x80000). Strings go out as OEM bytes.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "proxy-auth.h"

constexpr uint32_t kNtlmNegotiateFlags = 0x00008206;
constexpr uint32_t kNtlmFlagUnicode = 0x00000001;
constexpr uint32_t kNtlmFlagNtlm2Session = 0x00080000;

// Step 1: accepts only an empty text (after leading blanks). Step 2: decodes
// the base64 challenge message and keeps its flags and challenge. 0, or -1
// after a log line (step and flag word unchanged).
int proxy_auth_ntlm_parse(proxy_auth* st, const char* challenge);
// Appends "Proxy-Authorization: NTLM <base64 message>\r\n" to `out`: the
// negotiate message in step 1 (ntlm_keepalive := 1), the answer to the parsed
// challenge in step 2 (ntlm_keepalive := 0). -1 after a log line on a wrong
// step, no parsed challenge, or missing, too long or CR/LF-holding
// credentials.
int proxy_auth_ntlm_header(proxy_auth* st, growbuf* out);
// MD4 of the password as UTF-16LE (each byte one unit with a zero high byte),
// followed by 5 zero bytes.
void proxy_auth_ntlm_nt_hash(uint8_t out[21], const char* password);
