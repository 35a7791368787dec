// The Netscape bookmark HTML reader and writer: a file written by hand as browsers write them,
// escaping both ways, round trips, and input that a hostile file could hold.
#include "tools/bstorage/bookmark_html.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bstorage::HtmlEntry;

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(BSTORAGE_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "parent|F or B|title|url|add_date|last_modified", one line an entry.
std::string Describe(const std::vector<HtmlEntry>& entries) {
  std::string out;
  for (const HtmlEntry& e : entries) {
    out += std::to_string(e.parent) + "|" + (e.folder ? "F" : "B") + "|" + e.title + "|" + e.url +
           "|" + std::to_string(e.add_date) + "|" + std::to_string(e.last_modified) + "\n";
  }
  return out;
}

TEST(BookmarkHtmlTest, ReadsABrowserExportWrittenByHand) {
  const std::string html = Fixture("bookmarks.html");
  ASSERT_FALSE(html.empty());
  EXPECT_EQ(Describe(bstorage::ReadBookmarkHtml(html)),
            "-1|F|Bookmarks bar||1600000000|1600000500\n"
            "0|B|News & Weather|https://news.example.org/?a=1&b=2|1600000100|0\n"
            "0|F|Rezepte||1600000200|0\n"
            "2|B|K\xC3\xA4se <hart>|https://kochen.example.de/k\xC3\xA4se|1600000300|0\n"
            "0|B||https://empty-title.example.com/|1600000400|0\n"
            "-1|B|Top level \"quoted\"|https://top.example.com/|1600000600|0\n"
            "-1|F|Empty folder||0|0\n");
}

TEST(BookmarkHtmlTest, EscapesAndUnescapes) {
  struct Case {
    const char* text;
    const char* escaped;
  };
  for (const Case& c : {Case{"a & b", "a &amp; b"}, Case{"<x>", "&lt;x&gt;"},
                        Case{"\"q\" 'a'", "&quot;q&quot; &#39;a&#39;"}, Case{"plain", "plain"}}) {
    EXPECT_EQ(bstorage::HtmlEscape(c.text), c.escaped);
    EXPECT_EQ(bstorage::HtmlUnescape(c.escaped), c.text);
  }
  // References the reader meets in other browsers' files, and broken ones left as they stand.
  EXPECT_EQ(bstorage::HtmlUnescape("&#65;&#x42;&APOS;&nbsp;"), "AB' ");
  EXPECT_EQ(bstorage::HtmlUnescape("&#x1F600;"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(bstorage::HtmlUnescape("&#xD800;&#0;&#9999999;"),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(bstorage::HtmlUnescape("&amp &unknown; &#xZZ; & &;"), "&amp &unknown; &#xZZ; & &;");
}

TEST(BookmarkHtmlTest, WhatIsWrittenReadsBackTheSame) {
  std::vector<HtmlEntry> entries = {
      {-1, true, "Folder <one> & \"two\"", "", 1600000000, 1600000001},
      {0, false, "it's", "https://example.com/?q=a&r=\"b\"", 1600000002, 0},
      {0, true, "Inner", "", 0, 0},
      {2, false, "Grüße", "https://example.de/ü", -5, 0},
      {-1, false, "top", "https://top.example/", 9000000000, 0},
      {-1, true, "", "", 0, 0},
  };
  const std::string html = bstorage::WriteBookmarkHtml(entries);
  EXPECT_EQ(html.rfind("<!DOCTYPE NETSCAPE-Bookmark-file-1>", 0), 0u);
  EXPECT_NE(html.find("<DT><H3 ADD_DATE=\"1600000000\" LAST_MODIFIED=\"1600000001\">"
                      "Folder &lt;one&gt; &amp; &quot;two&quot;</H3>"),
            std::string::npos);
  EXPECT_EQ(Describe(bstorage::ReadBookmarkHtml(html)), Describe(entries));
  // The hand-written file survives a write as well.
  const auto fixture = bstorage::ReadBookmarkHtml(Fixture("bookmarks.html"));
  EXPECT_EQ(Describe(bstorage::ReadBookmarkHtml(bstorage::WriteBookmarkHtml(fixture))),
            Describe(fixture));
}

TEST(BookmarkHtmlTest, HostileInputGivesAProperShallowTree) {
  // Far deeper than any stack would take recursively; folders past the limit are attached at
  // it.
  std::string deep = "<DL>";
  for (int i = 0; i < 20000; ++i) deep += "<DT><H3>f</H3><DL>";
  deep += "<DT><A HREF=\"x\">leaf</A>";
  const auto entries = bstorage::ReadBookmarkHtml(deep);
  ASSERT_EQ(entries.size(), 20001u);
  std::vector<int> depth(entries.size(), 0);
  int deepest = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int parent = entries[i].parent;
    ASSERT_LT(parent, static_cast<int>(i));
    if (parent >= 0) {
      ASSERT_TRUE(entries[parent].folder);
      depth[i] = depth[parent] + 1;
    }
    deepest = std::max(deepest, depth[i]);
  }
  EXPECT_EQ(deepest, bstorage::kMaxHtmlDepth);
  EXPECT_EQ(bstorage::ReadBookmarkHtml(bstorage::WriteBookmarkHtml(entries)).size(),
            entries.size());

  for (const char* broken :
       {"", "<", "<DL", "<A HREF=\"never closed", "</DL></DL></DL><A HREF=x>x", "<!-- open",
        "<H3 ADD_DATE='1' ADD_DATE=\"2\">&", "<A>no address</A>", "<DT><A HREF=>e</A>"}) {
    const auto read = bstorage::ReadBookmarkHtml(broken);
    for (const HtmlEntry& e : read) EXPECT_EQ(e.parent, -1) << broken;
  }
  EXPECT_TRUE(bstorage::ReadBookmarkHtml("<A>no address</A>").empty());
  EXPECT_EQ(bstorage::ReadBookmarkHtml("<H3 ADD_DATE=99999999999999999999999>x</H3>")[0].add_date,
            0);
}

}  // namespace
