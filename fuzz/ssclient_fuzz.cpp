// Feeds arbitrary server bytes to the link's data handler after sign-on
// (ssclient_on_data), the way the io layer does: bytes arrive in chunks, the
// handler takes the complete messages and the rest waits in a buffer for the
// next chunk. The input's first byte picks the chunk size. Checked on every
// call:
//  - the handler never takes more than it was given;
//  - the waiting bytes stay below the dispatcher's pending cap, so garbage
//    that claims a huge length cannot make the buffer grow without bound;
//  - a protocol error (-1) leaves every stream position reset, so the next
//    sign-on asks for everything again.
// Starting the client is costly (the model's tables and pools), so one
// client serves many inputs: each starts with the dispatcher's counters and
// every exchange reset, and a fresh client replaces it after a sign-off or
// abort (which only a new run clears) and every 1000 inputs, so that what
// inputs add to the model cannot pile up.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_client.h"
#include "ssclient_int.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"

namespace {

constexpr int kInputsPerClient = 1000;

bool g_started = false;
int g_inputs = 0;

void start_client() {
  if (g_started) ssclient_fini();
  FUZZ_CHECK(fuzz_start_client());  // no pauses in the middle of a run
  g_started = true;
  g_inputs = 0;
}

// The state a link has right after its sign-on went.
void prepare() {
  if (!g_started || ssclient_abort_requested() || ++g_inputs >= kInputsPerClient) start_client();
  ssclient_set_logged_in(1);
  ssclient_set_online(0);
  ssclient_private_clear();
  ssclient_io_lock();
  ssproto_reset_counters();
  ssmodel_reset_all(1);
  ssproto_reset_positions();
  ssclient_io_unlock();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  prepare();
  const size_t chunk = 1 + data[0] % 64 * 8;
  data++;
  size--;
  std::vector<uint8_t> pending;
  const size_t cap = static_cast<size_t>(ssproto_max_pending());
  for (size_t at = 0; at < size;) {
    const size_t n = size - at < chunk ? size - at : chunk;
    pending.insert(pending.end(), data + at, data + at + n);
    at += n;
    const int32_t used = ssclient_on_data(pending.data(), static_cast<int32_t>(pending.size()));
    if (used < 0) {
      if (!ssclient_abort_requested())
        for (int32_t i = 0; i < kProtoPositions; i++) FUZZ_CHECK(ssproto_exchange_position(i) == kProtoPositionNone);
      break;
    }
    FUZZ_CHECK(static_cast<size_t>(used) <= pending.size());
    pending.erase(pending.begin(), pending.begin() + used);
    FUZZ_CHECK(pending.size() < cap);
  }
  if (ssclient_io_has_lock()) ssclient_io_unlock();
  return 0;
}
