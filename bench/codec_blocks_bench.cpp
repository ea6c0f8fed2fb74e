// Codec blocks: reading a deflated block (shared inflate stream, output
// appended to a growbuf) beside plain zlib raw inflate of the same payload
// into a ready buffer, and framing beside plain zlib deflate with the same
// settings. Two payloads: record-like bytes with random fields that deflate
// only about 1.4:1, and repetitive text that deflates far better than 4:1,
// where the reader's first output room (four times the input) is too small
// and has to grow while inflating.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dalloc.h"
#include "decblk.h"
#include "encblk.h"
#include "log.h"
#include "plat.h"

namespace {

void start_codec() {
  static const bool started = [] {
    plat_init();
    log_init();
    log_set_stderr(0);
    dalloc_init();
    return codec_init() == 0;
  }();
  if (!started) abort();
}

// Record-like: short fields, codes from a small set, slowly moving prices.
std::vector<uint8_t> records_payload(size_t n) {
  std::vector<uint8_t> v;
  uint32_t x = 2463534242u, price = 10000;
  static const char* codes[] = {"BHP", "CBA", "NAB", "WBC", "ANZ", "RIO", "WES", "TLS"};
  while (v.size() < n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v.push_back(uint8_t(1 + x % 40));
    const char* c = codes[(x >> 8) % 8];
    v.insert(v.end(), c, c + 3);
    price += (x >> 12) % 7 - 3;
    v.push_back(uint8_t(price >> 8));
    v.push_back(uint8_t(price));
    v.push_back(uint8_t(x >> 20));
    v.push_back(uint8_t((x >> 28) * 50));
  }
  v.resize(n);
  return v;
}

std::vector<uint8_t> text_payload(size_t n) {
  static const char line[] = "BHP 4512 4513 1000 BID OFFER TRADE\n";
  std::vector<uint8_t> v;
  for (size_t i = 0; v.size() < n; i++) {
    v.insert(v.end(), line, line + sizeof line - 1);
    v.push_back(uint8_t('0' + i % 10));
  }
  v.resize(n);
  return v;
}

std::vector<uint8_t> payload_for(int kind, size_t n) { return kind == 0 ? records_payload(n) : text_payload(n); }

// The block and where its deflated bytes start.
std::vector<uint8_t> framed(const std::vector<uint8_t>& payload, int* head) {
  growbuf gb{};
  growbuf_init(&gb, 0, 65536);
  if (encblk_frame_shared(&gb, payload.data(), int32_t(payload.size())) < 0) abort();
  std::vector<uint8_t> out(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  *head = (out[0] & 0xE0) == 0xE0 ? 4 : 2;
  return out;
}

void BM_BlockRead(benchmark::State& state) {
  start_codec();
  const std::vector<uint8_t> payload = payload_for(int(state.range(0)), size_t(state.range(1)));
  int head;
  const std::vector<uint8_t> block = framed(payload, &head);
  growbuf out{};
  growbuf_init(&out, 0, 65536);
  for (auto _ : state) {
    growbuf_reset(&out);
    if (decblk_read(block.data(), int32_t(block.size()), &out) != int(block.size())) abort();
    benchmark::DoNotOptimize(out.data);
  }
  growbuf_free(&out);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
  state.counters["ratio"] = double(payload.size()) / double(block.size());
}

void BM_ZlibRawInflate(benchmark::State& state) {
  start_codec();
  const std::vector<uint8_t> payload = payload_for(int(state.range(0)), size_t(state.range(1)));
  int head;
  const std::vector<uint8_t> block = framed(payload, &head);
  std::vector<uint8_t> out(payload.size());
  z_stream zs{};
  inflateInit2(&zs, -15);
  for (auto _ : state) {
    inflateReset(&zs);
    zs.next_in = const_cast<Bytef*>(block.data() + head);
    zs.avail_in = uInt(block.size() - size_t(head));
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END) abort();
    benchmark::DoNotOptimize(out.data());
  }
  inflateEnd(&zs);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
}

void BM_BlockFrame(benchmark::State& state) {
  start_codec();
  const std::vector<uint8_t> payload = payload_for(int(state.range(0)), size_t(state.range(1)));
  growbuf out{};
  growbuf_init(&out, 0, 65536);
  for (auto _ : state) {
    growbuf_reset(&out);
    if (encblk_frame_shared(&out, payload.data(), int32_t(payload.size())) < 0) abort();
    benchmark::DoNotOptimize(out.data);
  }
  growbuf_free(&out);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
}

void BM_ZlibRawDeflate(benchmark::State& state) {
  start_codec();
  const std::vector<uint8_t> payload = payload_for(int(state.range(0)), size_t(state.range(1)));
  z_stream zs{};
  deflateInit2(&zs, kBlockLevel, Z_DEFLATED, kBlockWindowBits, kBlockMemLevel, kBlockStrategy);
  std::vector<uint8_t> out(deflateBound(&zs, payload.size()));
  for (auto _ : state) {
    deflateReset(&zs);
    zs.next_in = const_cast<Bytef*>(payload.data());
    zs.avail_in = uInt(payload.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) abort();
    benchmark::DoNotOptimize(out.data());
  }
  deflateEnd(&zs);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
}

// Arguments: payload kind (0 records, 1 text), payload bytes.
void block_sizes(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1})
    for (int n : {4096, 65536, 1 << 20}) b->Args({kind, n});
}

BENCHMARK(BM_BlockRead)->Apply(block_sizes);
BENCHMARK(BM_ZlibRawInflate)->Apply(block_sizes);
BENCHMARK(BM_BlockFrame)->Apply(block_sizes);
BENCHMARK(BM_ZlibRawDeflate)->Apply(block_sizes);

}  // namespace
