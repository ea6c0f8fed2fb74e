// The feed parser over RSS 2.0, Atom and RSS 1.0 documents shaped like real
// ones: item fields, entities and CDATA, Atom links, both date forms, and
// the document left byte for byte as it was.
#include "rss/parse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "testlog.h"

namespace {

struct Env : ::testing::Environment {
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(rss_parse_init(), 0);
  }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

std::string s(const char* p) { return p ? p : "(null)"; }

struct FeedFree {
  void operator()(rss_feed* f) const {
    rss_items_free(f);
    rss_str_free(f->title);
    rss_str_free(f->link);
    rss_str_free(f->description);
    delete f;
  }
};
using Feed = std::unique_ptr<rss_feed, FeedFree>;

// Parses a copy of doc and checks the copy is unchanged afterwards.
Feed parse(const std::string& doc, int* rc = nullptr) {
  Feed f(new rss_feed());
  std::vector<char> buf(doc.begin(), doc.end());
  buf.push_back(0);
  int r = rss_parse(f.get(), buf.data());
  EXPECT_EQ(std::string(buf.data()), doc) << "the document changed";
  if (rc) *rc = r;
  return f;
}

std::vector<std::string> field(const rss_feed* f, char* rss_item::*m) {
  std::vector<std::string> out;
  for (rss_item* it = f->first_item; it; it = it->next) out.push_back(s(it->*m));
  return out;
}
using V = std::vector<std::string>;

const char kRss2[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:content="http://purl.org/rss/1.0/modules/content/">
<channel>
  <title>Market &amp; Company News</title>
  <link>https://news.example.com/</link>
  <description><![CDATA[Daily <b>news</b> & views]]></description>
  <item>
    <title>Profit up 12% at AT&T-like firm</title>
    <link>https://news.example.com/a?id=1&amp;src=rss</link>
    <description>&lt;p&gt;Results &#60;b&#62;beat&#60;/b&#62; forecasts&lt;/p&gt;</description>
    <pubDate>Mon, 10 Feb 2014 10:30:00 +1100</pubDate>
    <dc:creator>Desk</dc:creator>
  </item>
  <item>
    <title><![CDATA[Q&A: what </title> means]]></title>
    <link>/relative/item-2</link>
    <description><![CDATA[<p>CDATA body with &amp; kept</p>]]></description>
    <pubDate>2014-02-09T23:30:00Z</pubDate>
  </item>
  <item>
    <title></title>
    <description>dropped: no title</description>
  </item>
  <item>
    <title>   Caf&#233; &copy; quotes &quot;x&quot; &apos;y&apos;</title>
    <pubDate>not a date</pubDate>
  </item>
</channel>
</rss>
)";

TEST(RssParse, Rss2ItemsAndHeader) {
  LogCapture log;
  Feed f = parse(kRss2);
  EXPECT_EQ(s(f->title), "Market & Company News");
  EXPECT_EQ(s(f->link), "https://news.example.com/");
  EXPECT_EQ(s(f->description), "Daily <b>news</b> & views");
  EXPECT_EQ(field(f.get(), &rss_item::title),
            (V{"Profit up 12% at AT&T-like firm", "Q&A: what </title> means", "Caf? ? quotes \"x\" 'y'"}));
  EXPECT_EQ(field(f.get(), &rss_item::link), (V{"https://news.example.com/a?id=1&src=rss", "/relative/item-2", "(null)"}));
  EXPECT_EQ(field(f.get(), &rss_item::text),
            (V{"<p>Results <b>beat</b> forecasts</p>", "<p>CDATA body with &amp; kept</p>", "(null)"}));
  ASSERT_EQ(f->item_count, 3u);
  // The two date forms name the same instant: both readers agree.
  EXPECT_NE(f->first_item->date, 0u);
  EXPECT_EQ(f->first_item->date, f->first_item->next->date);
  EXPECT_EQ(f->last_item->date, 0u);
  EXPECT_TRUE(log.has("bad date: not a date"));
  EXPECT_TRUE(log.has("unknown entity '#233'"));
  EXPECT_TRUE(log.has("unknown entity 'copy'"));
}

const char kAtom[] = R"(<?xml version="1.0" encoding="utf-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xml:lang="en">
  <title type="text">Exchange announcements</title>
  <author><name>Desk</name><uri>https://ex.example.org/</uri></author>
  <subtype>ignored header text</subtype>
  <link rel="self" href="https://ex.example.org/atom.xml"/>
  <entry>
    <title>Trading halt</title>
    <link rel="self" href="x"/>
    <link href="y"/>
    <published>2014-02-09T23:30:00Z</published>
    <content type="html">&lt;p&gt;Halted pending &lt;a href="/ann/1"&gt;announcement&lt;/a&gt;&lt;/p&gt;</content>
  </entry>
  <entry>
    <title>Second</title>
    <link rel='alternate' type='text/html' href='https://ex.example.org/2?a=1&amp;b=2'/>
    <published>Mon, 10 Feb 2014 10:30:00 +1100</published>
  </entry>
  <entry>
    <title>Bare href and unquoted rel</title>
    <link rel=enclosure href="https://ex.example.org/skip.mp3"/>
    <link href=https://ex.example.org/3 />
    <published>garbage</published>
  </entry>
  <entry>
    <title>No usable link</title>
    <link rel="alternate" href=""/>
    <link href="unterminated/>
  </entry>
</feed>
)";

TEST(RssParse, AtomEntriesLinksAndDates) {
  LogCapture log;
  Feed f = parse(kAtom);
  EXPECT_EQ(s(f->title), "Exchange announcements");
  EXPECT_EQ(s(f->link), "https://ex.example.org/");
  EXPECT_EQ(s(f->description), "ignored header text");
  EXPECT_EQ(field(f.get(), &rss_item::title), (V{"Trading halt", "Second", "Bare href and unquoted rel", "No usable link"}));
  EXPECT_EQ(field(f.get(), &rss_item::link),
            (V{"y", "https://ex.example.org/2?a=1&b=2", "https://ex.example.org/3", "(null)"}));
  EXPECT_EQ(field(f.get(), &rss_item::text)[0], "<p>Halted pending <a href=\"/ann/1\">announcement</a></p>");
  ASSERT_EQ(f->item_count, 4u);
  EXPECT_NE(f->first_item->date, 0u);
  EXPECT_EQ(f->first_item->date, f->first_item->next->date);
  EXPECT_EQ(f->first_item->next->next->date, 0u);
  EXPECT_TRUE(log.has("x bad date: garbage"));
}

TEST(RssParse, Rss1DocumentsYieldItemsWithoutDates) {
  Feed f = parse(R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/">
<channel rdf:about="http://r.example/"><title>Old style</title><link>http://r.example/</link>
<description>d</description><items><rdf:Seq><rdf:li resource="http://r.example/1"/></rdf:Seq></items></channel>
<item rdf:about="http://r.example/1"><title>One</title><link>http://r.example/1</link><dc:date>2014-02-09</dc:date></item>
<item rdf:about="http://r.example/2"><title>Two</title><link>http://r.example/2</link></item>
</rdf:RDF>)");
  EXPECT_EQ(s(f->title), "Old style");
  // "<items>" also opens with "<item": its section holds no title and is dropped.
  EXPECT_EQ(field(f.get(), &rss_item::title), (V{"One", "Two"}));
  EXPECT_EQ(f->first_item->date, 0u);
}

TEST(RssParse, ClosingTagsInsideAnyNumberOfCdataSections) {
  Feed f = parse("<rss><channel><item><title><![CDATA[a </title> b]]>&amp;<![CDATA[c </title> d]]></title>"
                 "</item><item><title>next</title></item></channel></rss>");
  EXPECT_EQ(field(f.get(), &rss_item::title), (V{"a </title> b&c </title> d", "next"}));
}

// A CDATA section that never closes: the closing pattern after it is taken
// to stand inside it, one more is searched for, and the items after that are
// still read.
TEST(RssParse, AnUnterminatedCdataSearchesOnceMore) {
  const struct {
    const char* what;
    std::string items;
    V titles;
  } cases[] = {
      {"no second closing pattern: no item", "<item><title>x<![CDATA[open </title></item>", V{}},
      {"the item takes in the next one, the third is read",
       "<item><title>x<![CDATA[open </title></item><item><title>second</title></item>"
       "<item><title>third</title></item>",
       V{"x", "third"}},
      {"in a description",
       "<item><title>T1</title><description><![CDATA[oops</description></item>"
       "<item><title>T2</title><description>d2</description></item><item><title>T3</title></item>",
       V{"T1", "T3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Feed f = parse("<rss><channel>" + c.items + "</channel></rss>");
    EXPECT_EQ(field(f.get(), &rss_item::title), c.titles);
  }
}

TEST(RssParse, FeedWithoutItemsStillHasItsHeader) {
  Feed f = parse("<rss><channel><title>Empty &amp; quiet</title><link>http://e/</link></channel></rss>");
  EXPECT_EQ(s(f->title), "Empty & quiet");
  EXPECT_EQ(f->item_count, 0u);
}

struct DecodeCase {
  const char* in;
  const char* out;
  const char* logged;  // a line expected in the log, or null
};

TEST(RssParse, TextDecodingTable) {
  const DecodeCase cases[] = {
      {"&#60;b&#62;", "<b>", nullptr},
      {"&#x3C;i&#x3e;", "<i>", nullptr},
      {"&#169;", "?", "unknown entity '#169'"},
      {"&copy;", "?", "unknown entity 'copy'"},
      {"AT&T", "AT&T", nullptr},
      {"Q&A about it; more", "Q&A about it; more", nullptr},  // not a name: '&' stays
      {"&#99999999999999999999999;", "?", "unknown entity '#99999999999999999999999'"},
      {"&#;", "?", "unknown entity '#'"},
      {"&averyveryveryveryverylongentityname;", "&averyveryveryveryverylongentityname;", nullptr},
      {"  \n\t lead blanks go, trailing stay  ", "lead blanks go, trailing stay  ", nullptr},
      {"a<![CDATA[&amp;<x>]]>b&amp;", "a&amp;<x>b&", nullptr},
      {"cut<![CDATA[never closed", "cut", nullptr},
      {"\xE2\x80\x99 UTF-8 \xC3\xA9", "\xE2\x80\x99 UTF-8 \xC3\xA9", nullptr},
  };
  for (const DecodeCase& c : cases) {
    LogCapture log;
    char* field = nullptr;
    rss_decode_text(&field, c.in);
    EXPECT_EQ(s(field), c.out) << c.in;
    if (c.logged) {
      EXPECT_TRUE(log.has(c.logged)) << c.in;
    }
    rss_str_free(field);
  }
  char* kept = rss_strdup("old");
  rss_decode_text(&kept, "");
  EXPECT_EQ(s(kept), "old");  // an empty section leaves the field
  rss_str_free(kept);
}

TEST(RssParse, TruncatedDocumentsKeepCompleteItemsAndStayUnchanged) {
  const std::string docs[] = {kRss2, kAtom};
  for (const std::string& doc : docs) {
    size_t complete = parse(doc)->item_count;
    for (size_t n = 0; n <= doc.size(); n += 7) {
      int rc = -2;
      Feed f = parse(doc.substr(0, n), &rc);
      EXPECT_EQ(rc, 0);
      EXPECT_LE(f->item_count, complete);
    }
  }
}

TEST(RssParse, RandomDamageNeverChangesTheDocument) {
  std::mt19937 rng(7);
  const char alphabet[] = "<>/&;#![]CDATA\"' =x\n";
  for (int round = 0; round < 400; round++) {
    std::string doc = round % 2 ? kRss2 : kAtom;
    for (int k = 0; k < 12; k++) doc[rng() % doc.size()] = alphabet[rng() % (sizeof alphabet - 1)];
    Feed f = parse(doc);
    for (rss_item* it = f->first_item; it; it = it->next) ASSERT_TRUE(it->title && it->title[0]);
  }
}

TEST(RssParse, ItemsCopyAndFree) {
  Feed src = parse(kRss2);
  rss_feed dst{};
  parse(kAtom);
  ASSERT_EQ(rss_items_copy(&dst, src.get()), 0);
  EXPECT_EQ(field(&dst, &rss_item::title), field(src.get(), &rss_item::title));
  EXPECT_EQ(dst.first_item->date, src->first_item->date);
  EXPECT_NE(dst.first_item->title, src->first_item->title);  // duplicated texts
  rss_items_free(&dst);
  EXPECT_EQ(dst.item_count, 0u);
  EXPECT_EQ(dst.first_item, nullptr);
}

}  // namespace
