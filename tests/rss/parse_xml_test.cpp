// The feed parser against a real XML parser (libxml2) on generated RSS and
// Atom documents: titles, links and descriptions mixing plain text, the five
// entities by name and number, CDATA sections holding markup, and UTF-8. The
// texts must be equal but for leading blanks (the parser drops those before
// the first character only, not those after an empty CDATA section).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rss/parse.h"
#include "testlog.h"

namespace {

struct Env : ::testing::Environment {
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(rss_parse_init(), 0);
    xmlInitParser();
  }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

// Random element text: every piece is well-formed XML character data.
std::string random_text(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "Profit",  " ",          "up 12%",      "&amp;",     "&lt;",       "&gt;",           "&quot;",
      "&apos;",  "&#60;",      "&#x3E;",      "&#38;",     "&#34;",      "&#39;",          "AT&amp;T",
      "caf\xC3\xA9", "\xE2\x80\x99", "\n  ",  "\t",       "<![CDATA[<b>bold</b> & more]]>",
      "<![CDATA[]]>", "<![CDATA[a </title> b]]>", "x;y",  "http://a.example/?q=1&amp;r=2"};
  std::string out;
  int n = 1 + rng() % 8;
  for (int i = 0; i < n; i++) out += kPieces[rng() % (sizeof kPieces / sizeof *kPieces)];
  return out;
}

std::string strip_leading(const std::string& s) {
  size_t i = s.find_first_not_of(" \t\r\n\f\v");
  return i == std::string::npos ? "" : s.substr(i);
}

// The text libxml2 gives an element (entities and CDATA resolved).
std::string xml_text(xmlNode* n) {
  xmlChar* c = xmlNodeGetContent(n);
  std::string s = c ? reinterpret_cast<const char*>(c) : "";
  xmlFree(c);
  return s;
}

xmlNode* child(xmlNode* parent, const char* name) {
  for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next)
    if (n->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char*>(n->name), name) == 0) return n;
  return nullptr;
}

struct Fields {
  std::string title, link, text;
};

TEST(RssParseXml, ItemTextsEqualLibxml2) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; round++) {
    bool atom = round % 2;
    int items = 1 + rng() % 5;
    std::vector<std::string> titles(items), links(items), texts(items);
    std::string doc = atom ? "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>F</title>"
                           : "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>F</title>";
    for (int i = 0; i < items; i++) {
      titles[i] = "t" + random_text(rng);  // never blank: blank titles are dropped
      texts[i] = random_text(rng);
      links[i] = "http://x.example/" + std::to_string(i) + "?a=1&amp;b=" + std::to_string(rng() % 100);
      if (atom)
        doc += "<entry><title>" + titles[i] + "</title><link rel=\"alternate\" href=\"" + links[i] +
               "\"/><content type=\"html\">" + texts[i] + "</content></entry>";
      else
        doc += "<item><title>" + titles[i] + "</title><link>" + links[i] + "</link><description>" + texts[i] +
               "</description></item>";
    }
    doc += atom ? "</feed>" : "</channel></rss>";

    xmlDoc* x = xmlReadMemory(doc.data(), (int)doc.size(), "feed.xml", nullptr, XML_PARSE_NONET);
    ASSERT_TRUE(x) << doc;
    xmlNode* root = xmlDocGetRootElement(x);
    std::vector<Fields> want;
    xmlNode* list = atom ? root : child(root, "channel");
    for (xmlNode* n = list->children; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE || strcmp((const char*)n->name, atom ? "entry" : "item") != 0) continue;
      Fields f;
      f.title = strip_leading(xml_text(child(n, "title")));
      f.text = strip_leading(xml_text(child(n, atom ? "content" : "description")));
      if (atom) {
        xmlChar* href = xmlGetProp(child(n, "link"), BAD_CAST "href");
        f.link = reinterpret_cast<const char*>(href);
        xmlFree(href);
      } else {
        f.link = strip_leading(xml_text(child(n, "link")));
      }
      want.push_back(f);
    }
    xmlFreeDoc(x);

    std::vector<char> buf(doc.begin(), doc.end());
    buf.push_back(0);
    rss_feed feed{};
    ASSERT_EQ(rss_parse(&feed, buf.data()), 0);
    ASSERT_EQ(std::string(buf.data()), doc);
    std::vector<Fields> got;
    for (rss_item* it = feed.first_item; it; it = it->next)
      got.push_back({strip_leading(it->title ? it->title : ""), strip_leading(it->link ? it->link : ""),
                     strip_leading(it->text ? it->text : "")});
    rss_items_free(&feed);
    rss_str_free(feed.title);
    rss_str_free(feed.link);
    rss_str_free(feed.description);

    ASSERT_EQ(got.size(), want.size()) << doc;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].title, want[i].title) << doc;
      EXPECT_EQ(got[i].link, want[i].link) << doc;
      EXPECT_EQ(got[i].text, want[i].text) << doc;
    }
    if (HasFailure()) break;
  }
}

}  // namespace
