// Feeds arbitrary bytes to the link's handshake handler as the server's
// answer to the greeting (its name, the challenge and the session value),
// with a password taken from the input too, since the password's bytes steer
// the walk over the challenge. Checked on every call:
//  - a reply shorter than its fixed size is not taken (0), a whole one is
//    taken exactly;
//  - the session value is the reply's four bytes at their offset;
//  - the sign-on message written fits the room reserved for it.
// The input: one byte for the password's length (0-31), the password, the
// reply.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_client.h"
#include "growbuf.h"
#include "ssio-state.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = fuzz_start_client();
  FUZZ_CHECK(ready);
  if (size < 1) return 0;
  size_t plen = data[0] % 32;
  if (plen > size - 1) plen = size - 1;
  std::string password(reinterpret_cast<const char*>(data + 1), plen);
  password.resize(strnlen(password.c_str(), plen));
  data += 1 + plen;
  size -= 1 + plen;
  if (size > static_cast<size_t>(kSignOnReplyBytes) * 2) size = static_cast<size_t>(kSignOnReplyBytes) * 2;
  ssclient_set_login("fuzz", password.c_str());
  growbuf* sent = &ssio_state_at(0)->sbuf;
  growbuf_reset(sent);
  const int32_t used = ssclient_handshake(data, static_cast<int32_t>(size));
  if (size < static_cast<size_t>(kSignOnReplyBytes)) {
    FUZZ_CHECK(used == 0);
    return 0;
  }
  FUZZ_CHECK(used == kSignOnReplyBytes);
  const uint8_t* s = data + kSessionValueOffset;
  FUZZ_CHECK(ssclient_session_value() == (uint32_t(s[0]) << 24 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 8 | s[3]));
  FUZZ_CHECK(sent->len > 0 && sent->len <= kSignOnRoom);
  growbuf_reset(sent);
  ssclient_set_logged_in(0);
  return 0;
}
