// The feed parser on a 2000-item RSS document against libxml2 building the
// tree of the same document (the reference, same run), and HTML to text on
// an item description.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "rss/html2txt.h"
#include "rss/parse.h"

namespace {

const std::string& big_feed() {
  static std::string doc = [] {
    std::string d = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Bench</title>";
    for (int i = 0; i < 2000; i++)
      d += "<item><title>Item " + std::to_string(i) + " &amp; its <![CDATA[<b>news</b>]]></title>"
           "<link>http://x.example/" + std::to_string(i) + "?a=1&amp;b=2</link>"
           "<description>&lt;p&gt;Some &lt;a href=&quot;http://y/&quot;&gt;linked&lt;/a&gt; text about the "
           "market, long enough to look like a real summary of an announcement.&lt;/p&gt;</description>"
           "<pubDate>Mon, 10 Feb 2014 10:30:00 +1100</pubDate></item>";
    return d + "</channel></rss>";
  }();
  return doc;
}

void start() {
  runtime_once();
  static bool done = rss_parse_init() == 0 && html2txt_init() == 0;
  (void)done;
}

void BM_RssParse(benchmark::State& state) {
  start();
  std::vector<char> buf(big_feed().begin(), big_feed().end());
  buf.push_back(0);
  for (auto _ : state) {
    rss_feed f{};
    rss_parse(&f, buf.data());
    benchmark::DoNotOptimize(f.item_count);
    rss_items_free(&f);
    rss_str_free(f.title);
    rss_str_free(f.link);
    rss_str_free(f.description);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)big_feed().size());
}
BENCHMARK(BM_RssParse);

void BM_RssParseReferenceLibxml2(benchmark::State& state) {
  start();
  const std::string& d = big_feed();
  for (auto _ : state) {
    xmlDoc* x = xmlReadMemory(d.data(), (int)d.size(), "b.xml", nullptr, XML_PARSE_NONET);
    benchmark::DoNotOptimize(x);
    xmlFreeDoc(x);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)d.size());
}
BENCHMARK(BM_RssParseReferenceLibxml2);

void BM_Html2txtPlain(benchmark::State& state) {
  start();
  const char* html = "<p>Some <a href=\"http://y/\">linked</a> text about the market, long enough to look like a "
                     "real summary &amp; of an announcement.</p><br><table><tr><td>1</td><td>2</td></tr></table>";
  for (auto _ : state) benchmark::DoNotOptimize(html2txt_plain(html));
}
BENCHMARK(BM_Html2txtPlain);

}  // namespace
