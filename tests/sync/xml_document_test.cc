// The nesting guard in front of rapidxml, against rapidxml's own view of each document.
#include "storage/sync/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using Storage::kMaxXmlDepth;

std::string Nested(size_t depth, const std::string& tail = "") {
  std::string document;
  for (size_t i = 0; i < depth; ++i) document += "<b id=\"1\">";
  document += tail;
  for (size_t i = 0; i < depth; ++i) document += "</b>";
  return document;
}

// Elements open at the deepest point of the DOM rapidxml built.
size_t DomDepth(const rapidxml::xml_node<char>* node) {
  size_t deepest = 0;
  for (auto* child = node->first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() == rapidxml::node_element) deepest = std::max(deepest, 1 + DomDepth(child));
  }
  return deepest;
}

TEST(XmlDocumentTest, ParsesUpToTheLimitAndFailsBeyondIt) {
  struct Case {
    size_t depth;
    bool parsed;
  };
  const Case kCases[] = {
      {1, true}, {kMaxXmlDepth, true}, {kMaxXmlDepth + 1, false}, {100000, false}};
  for (const Case& c : kCases) {
    std::string text = Nested(c.depth - 1, "<leaf>text</leaf>");
    auto document = std::make_unique<rapidxml::xml_document<char>>();
    EXPECT_EQ(Storage::ParseXmlDocument(text.data(), document.get()), c.parsed) << c.depth;
    if (c.parsed) {
      EXPECT_EQ(DomDepth(document.get()), c.depth);
    }
  }
  EXPECT_FALSE(Storage::ParseXmlDocument(nullptr, nullptr));
}

// Each document is one rapidxml accepts; the scan must count exactly the elements rapidxml
// nests, whatever markup hides look-alike tags.
TEST(XmlDocumentTest, CountsOnlyTheElementsRapidxmlNests) {
  constexpr size_t kLimit = 2;
  struct Case {
    const char* what;
    std::string document;
  };
  const Case kCases[] = {
      {"two levels", "<a><b></b></a>"},
      {"three levels", "<a><b><c></c></b></a>"},
      {"empty element at the limit", "<a><b><c/></b></a>"},
      {"self-closing siblings", "<a><b/><b /><b x='1'/></a>"},
      {"comment", "<a><!-- <b><c><d> --></a>"},
      {"comment with dashes", "<a><!-- <b> -- <c> - --></a>"},
      {"CDATA", "<a><![CDATA[<b><c><d>]]></a>"},
      {"CDATA with brackets", "<a><![CDATA[ ]] ]> <b><c> ]]></a>"},
      {"processing instruction", "<a><?pi <b><c><d> ? > ?></a>"},
      {"declaration", "<?xml version=\"1.0\"?>\r\n<a><?xml <b><c>?></a>"},
      {"DOCTYPE subset", "<!DOCTYPE a [<!ELEMENT a (b)><!ENTITY e \"<b><c><d>\">[]]><a/>"},
      {"other markup", "<a><!ELEMENT <b> <c/></a>"},
      {"attribute values", "<a x=\"<b><c>\" y='</a><d>' z=\"/>\"><b q='\"<c>'></b></a>"},
      {"text with markup characters", "<a>1 &gt; 0 / 2 > 1<b>]]> --> ?></b></a>"},
      {"mismatched end tags", "<a><b><c></a></b></c>"},
      {"end tags with space", "<a><b></b ></a\r\n>"},
      {"several top-level elements", "<a><b></b></a><a><b><c></c></b></a>"},
      {"hidden markup, then real nesting", "<!-- <x> --><a><b><c></c></b></a>"},
      {"byte-order mark", "\xEF\xBB\xBF<a><b><c></c></b></a>"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string copy = c.document;
    auto document = std::make_unique<rapidxml::xml_document<char>>();
    ASSERT_NO_THROW(document->parse<rapidxml::parse_default>(copy.data()));
    const bool within = DomDepth(document.get()) <= kLimit;
    EXPECT_EQ(Storage::IsXmlNestingWithin(c.document.c_str(), kLimit), within);
  }
}

// Whatever is malformed is rapidxml's to report; the guard only refuses depth.
TEST(XmlDocumentTest, LeavesMalformedDocumentsToRapidxml) {
  const std::string kDocuments[] = {
      "<a><b>",        "<a x=\"1></a>", "<a><!-- </a>", "text", "<a></a>trailing",
      "<a>&#xZZ;</a>",  // scanned as text, refused by rapidxml
      "</a>",          "< a/>",         "<a/ >",
  };
  for (const std::string& text : kDocuments) {
    EXPECT_TRUE(Storage::IsXmlNestingWithin(text.c_str())) << text;
    std::string copy = text;
    auto document = std::make_unique<rapidxml::xml_document<char>>();
    EXPECT_FALSE(Storage::ParseXmlDocument(copy.data(), document.get())) << text;
  }
}

}  // namespace
