// A planted fault for scripts/fuzz.sh to find before the campaign runs: an
// input that begins "UB" adds its third byte to the largest int32, a signed
// overflow that only the sanitizer sees. Built with the targets' flags, it
// must end the run with a failure; a build that only reports undefined
// behaviour and carries on would pass it, and the script then refuses to
// trust the campaign.
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || data[0] != 'U' || data[1] != 'B') return 0;
  volatile int32_t top = INT32_MAX;
  int32_t sum = top + int32_t(data[2] | 1);
  printf("planted sum %d\n", sum);
  return 0;
}
