// The byte path of a local-display terminal against libvterm on the same
// streams: coloured log lines as the log window writes them (scrolling a
// 24 x 80 screen), and a stream of hostile counts. Run:
// ./build/release/ambit_term_bench
#include <benchmark/benchmark.h>
#include <vterm.h>

#include <string>

#include "lib/timer.h"
#include "term/tt_io.h"

namespace {

std::string log_lines() {
  std::string s;
  const char *colours[] = {"\033[32m", "\033[33m", "\033[31m", "\033[36m"};
  for (int k = 0; k < 1000; k++) {
    s += "12:34:";
    s += std::to_string(10 + k % 50);
    s += " ";
    s += colours[k % 4];
    s += "INFO ssclient: received block of " + std::to_string(k * 37 % 9000) + " bytes";
    s += "\033[0m\r\n";
  }
  return s;
}

std::string hostile() {
  std::string s;
  for (int k = 0; k < 1000; k++) s += "\033[16383L\033[16383M\033[16383@\033[16383P\033[99999999X";
  return s;
}

void run_ours(benchmark::State &state, const std::string &bytes) {
  timer_init();
  int i = tt_open(1, nullptr, nullptr, 80, 24, nullptr, nullptr, 0);
  tt_set_quiet(1);
  for (auto _ : state) tt_send(i, (const uint8_t *)bytes.data(), (int)bytes.size());
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes.size());
  tt_shutdown();
  timer_fini();
}

void run_vterm(benchmark::State &state, const std::string &bytes) {
  VTerm *vt = vterm_new(24, 80);
  vterm_set_utf8(vt, 0);
  vterm_screen_reset(vterm_obtain_screen(vt), 1);
  for (auto _ : state) vterm_input_write(vt, bytes.data(), bytes.size());
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes.size());
  vterm_free(vt);
}

void BM_LogLines_Ours(benchmark::State &s) { run_ours(s, log_lines()); }
void BM_LogLines_Libvterm(benchmark::State &s) { run_vterm(s, log_lines()); }
void BM_HostileCounts_Ours(benchmark::State &s) { run_ours(s, hostile()); }
void BM_HostileCounts_Libvterm(benchmark::State &s) { run_vterm(s, hostile()); }

BENCHMARK(BM_LogLines_Ours);
BENCHMARK(BM_LogLines_Libvterm);
BENCHMARK(BM_HostileCounts_Ours);
BENCHMARK(BM_HostileCounts_Libvterm);

}  // namespace
