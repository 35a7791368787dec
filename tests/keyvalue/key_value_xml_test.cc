// The key-value XML document, parsed and produced without files.
#include "storage/keyvalue/key_value_xml.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "tests/keyvalue/key_value_test_util.h"
#include "tests/keyvalue/key_value_xml_model.h"

namespace {

using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ItemTable version=\"1.0\">\r\n";

struct Parsed {
  bool ok = false;
  Storage::KeyValueXmlContent content;
};

Parsed Parse(std::string document) {
  Parsed parsed;
  parsed.ok = Storage::ParseKeyValueXml(document.data(), document.size(), &parsed.content);
  return parsed;
}

// Key -> bytes of what was parsed.
std::map<std::u16string, Bytes> ItemsOf(const Parsed& parsed) {
  std::map<std::u16string, Bytes> items;
  for (const auto& [key, value] : parsed.content.items) items[key] = BytesOf(value);
  return items;
}

std::string Item(const std::string& key, const std::string& value) {
  return "<Item key=\"" + key + "\" value=\"" + value + "\">\r\n</Item>\r\n";
}

TEST(KeyValueXmlTest, ProducesTheDocumentByteForByte) {
  Storage::KeyValueMap snapshot;
  snapshot[u"a"] = NewValue({0x01, 0xAB});
  snapshot[u"B"] = NewValue();
  snapshot[u""] = NewValue({1});  // never written
  snapshot[u"null"] = nullptr;    // never written
  EXPECT_EQ(Storage::ProduceKeyValueXml(snapshot),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<ItemTable version=\"1.0\">\r\n"
            "<Item key=\"B\" value=\"\">\r\n"
            "</Item>\r\n"
            "<Item key=\"a\" value=\"01ab\">\r\n"
            "</Item>\r\n"
            "</ItemTable>\r\n");
  EXPECT_EQ(Storage::ProduceKeyValueXml({}), std::string(kHeader) + "</ItemTable>\r\n");

  // Keys are UTF-8 in the file; bytes are lower-case hexadecimal.
  snapshot.clear();
  snapshot[u"\u00E9\U0001F600"] = NewValue({0x00, 0xFF, 0x10});
  EXPECT_EQ(Storage::ProduceKeyValueXml(snapshot),
            kHeader + Item("\xC3\xA9\xF0\x9F\x98\x80", "00ff10") + "</ItemTable>\r\n");
}

TEST(KeyValueXmlTest, ValuesDecodeFromEvenHexOrNothing) {
  struct Case {
    const char* text;
    Bytes bytes;
  };
  const Case kCases[] = {
      {"01AB", {0x01, 0xAB}},
      {"01ab", {0x01, 0xAB}},
      {"fF00", {0xFF, 0x00}},
      {"", {}},
      {"1ab", {}},
      {"0g", {}},
      {"01 ab", {}},
      {"0x01", {}},
      {"&#48;&#49;", {0x01}},  // entities first
  };
  for (const Case& c : kCases) {
    Parsed parsed = Parse(kHeader + Item("k", c.text) + "</ItemTable>");
    ASSERT_TRUE(parsed.ok) << c.text;
    EXPECT_EQ(ItemsOf(parsed), (std::map<std::u16string, Bytes>{{u"k", c.bytes}})) << c.text;
  }
}

TEST(KeyValueXmlTest, DocumentsThatImportNothingButAreNotBroken) {
  struct Case {
    const char* document;
    bool has_root;
  };
  const Case kCases[] = {
      {"<?xml version=\"1.0\"?><itemtable><Item key=\"k\" value=\"01\"/></itemtable>", false},
      {"<Other><Item key=\"k\" value=\"01\"/></Other>", false},
      {"<Other><ItemTable><Item key=\"k\" value=\"01\"/></ItemTable></Other>", false},
      {"<ItemTable/>", true},
      {"<ItemTable></ItemTable><ItemTable><Item key=\"k\" value=\"01\"/></ItemTable>", true},
      {"", false},
      {"   \r\n", false},
  };
  for (const Case& c : kCases) {
    Parsed parsed = Parse(c.document);
    EXPECT_TRUE(parsed.ok) << c.document;
    EXPECT_EQ(parsed.content.has_root, c.has_root) << c.document;
    EXPECT_TRUE(parsed.content.items.empty()) << c.document;
  }
}

TEST(KeyValueXmlTest, MalformedDocumentsFailAndLeaveTheContent) {
  const std::string full = kHeader + Item("a", "01") + Item("b", "02") + "</ItemTable>\r\n";
  const std::string kDocuments[] = {
      full.substr(0, full.size() / 2),  // truncated
      full.substr(0, full.size() - 5),
      "not xml",
      "<ItemTable><Item key=\"a\" value=\"01\"></ItemTable>",            // unclosed Item
      "<ItemTable><Item key=\"say \"hi\"\" value=\"01\"/></ItemTable>",  // unescaped quotes
      "<ItemTable><Item key=\"&#xZZ;\" value=\"01\"/></ItemTable>",
      "<ItemTable v=\"&#1\"><Item key=\"a\" value=\"01\"/></ItemTable>",  // in the root's tag
      full + "<after x='&#1'/>",
      "<before x='&#1'/>" + full,
  };
  for (const std::string& document : kDocuments) {
    Storage::KeyValueXmlContent content;
    content.items[u"kept"] = NewValue({1});
    content.has_root = true;
    content.invalid_keys = 7;
    std::string buffer = document;
    EXPECT_FALSE(Storage::ParseKeyValueXml(buffer.data(), buffer.size(), &content)) << document;
    EXPECT_EQ(content.items.size(), 1u) << document;
    EXPECT_TRUE(content.has_root) << document;
    EXPECT_EQ(content.invalid_keys, 7u) << document;
  }
  EXPECT_FALSE(Storage::ParseKeyValueXml(nullptr, 0, nullptr));
  // The length must point at the terminating NUL.
  std::string buffer = full;
  Storage::KeyValueXmlContent content;
  EXPECT_FALSE(Storage::ParseKeyValueXml(buffer.data(), buffer.size() - 1, &content));
}

TEST(KeyValueXmlTest, SkipsIncompleteItemsAndLaterDuplicatesWin) {
  const std::string document = std::string("\xEF\xBB\xBF") + kHeader +  // byte-order mark
                               "<Item value=\"01\"></Item>\r\n"         // no key
                               "<Item key=\"nv\"></Item>\r\n"           // no value
                               "<Other key=\"o\" value=\"01\"/>\r\n"
                               "<Other><Item key=\"deeper\" value=\"01\"/></Other>\r\n" +
                               Item("b", "02") +
                               "<Item key=\"\" value=\"03\"/>\r\n"  // empty key
                               "<Item key=\"x&#0;y\" value=\"04\"/>\r\n" +
                               Item("a", "05") + Item("b", "06") + "</ItemTable>\r\n";
  Parsed parsed = Parse(document);
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.content.has_root);
  EXPECT_EQ(ItemsOf(parsed),
            (std::map<std::u16string, Bytes>{{u"a", {5}}, {u"b", {6}}, {u"x", {4}}}));
}

// Keys that are not well-formed UTF-8 are counted and left out: as U+FFFD both of the first two
// would have become one key.
TEST(KeyValueXmlTest, LeavesOutKeysThatAreNotUtf8) {
  const std::string document = kHeader + Item("\xFF", "01") + Item("\xFE", "02") +
                               Item("ok\xC3\xA9", "03") + Item("\xC3", "04") +
                               Item("\xED\xA0\x80", "05") +  // a surrogate
                               Item("z&#0;\xFF", "06") +     // the bad byte is past the NUL
                               "</ItemTable>\r\n";
  Parsed parsed = Parse(document);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.content.invalid_keys, 4u);
  EXPECT_EQ(ItemsOf(parsed), (std::map<std::u16string, Bytes>{{u"ok\u00E9", {3}}, {u"z", {6}}}));
}

// However the reader cuts the root's children into batches, it accepts, refuses and reads each
// document exactly as one whole-document parse does (the model).
TEST(KeyValueXmlTest, BatchesGiveWhatTheWholeDocumentGives) {
  const std::string header = kHeader;
  std::string items;
  for (int i = 0; i < 40; ++i)
    items += Item("key" + std::to_string(i % 30), "0" + std::to_string(i % 10));
  const std::string body = items + "</ItemTable>\r\n";
  struct Case {
    const char* what;
    std::string document;
  };
  const Case kCases[] = {
      {"written file", header + body},
      {"markup between items",
       header + Item("a", "01") + "<!-- <Item key='c' value='03'/> --><?pi <x> ?>" +
           "<![CDATA[ <Item key='d' value='04'/> ]]><!DOCTYPE x [<!ENTITY e '>'>]><!x>" +
           "<Item key='b' value='02'/><Other><Item key='e' value='05'/></Other>" + body},
      {"elements before and after the root",
       "<?xml version='1.0'?><Other a='&lt;'><Item key='x' value='01'/></Other>\r\n" + header +
           body + "<ItemTable><Item key='y' value='02'/></ItemTable><!-- end -->\r\n"},
      {"items with content",
       header + "<Item key='a' value='01'>text &amp; more<b/><![CDATA[x]]></Item>" + body},
      {"unvalidated end tags", header + "<Item key='a' value='01'></Other>" + items + "</Root >"},
      {"entities in keys", header + "<Item key='&lt;&#x4E2D;&#65;&quot;' value='0A'/>" + body},
      {"byte-order mark", "\xEF\xBB\xBF" + header + body},
      {"character data in the root", header + Item("a", "01") + "text" + body},
      {"empty root", "<ItemTable/>" + header + body},
      {"no root", "<itemtable>" + items + "</itemtable>"},
      {"bad reference in the root's tag", "<ItemTable v='&#1;&#xZZ;'>" + body},
      {"bad reference before the root", "<a v='&#1'/>" + header + body},
      {"bad reference after the root", header + body + "<a>&#1</a>"},
      {"bad reference in the last item",
       header + items + "<Item key='&#x110000;' value=''/>" + "</ItemTable>"},
      {"bad reference in an item's text", header + items + "<Item>&#1</Item></ItemTable>"},
      {"text after the root", header + body + "text"},
      {"truncated", (header + body).substr(0, 300)},
      {"unclosed root", header + items},
      {"zero byte after the root", header + body + std::string(1, '\0') + "<broken"},
      {"zero byte inside the root", header + items + std::string(1, '\0') + "</ItemTable>"},
  };
  const size_t kBatchSizes[] = {0, 1, 60, 500, 1 << 20};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const kv_test::XmlModel expected = kv_test::ModelParse(c.document);
    for (size_t batch : kBatchSizes) {
      EXPECT_EQ(kv_test::ReaderParse(c.document, batch), expected) << "batches of " << batch;
    }
  }
}

// A written file of many batches: every key comes back, and writing what was read gives the
// same bytes.
TEST(KeyValueXmlTest, ReadsLargeFilesBatchByBatch) {
  Storage::KeyValueMap snapshot;
  for (int i = 0; i < 2000; ++i) {
    const std::u16string accents(static_cast<size_t>(i % 7 + 1), u'\u00E9');
    snapshot[u"pref." + accents + base::UTF8ToWide(std::to_string(i))] =
        NewValue(Bytes(static_cast<size_t>(i % 40), static_cast<uint8_t>(i)));
  }
  std::string document = Storage::ProduceKeyValueXml(snapshot);
  ASSERT_GT(document.size(), 100 * 1024u);
  const kv_test::XmlModel expected = kv_test::ModelParse(document);
  Parsed parsed = Parse(document);
  EXPECT_EQ(kv_test::ModelOf(parsed.ok, parsed.content), expected);
  EXPECT_EQ(parsed.content.items.size(), snapshot.size());
  EXPECT_EQ(Storage::ProduceKeyValueXml(parsed.content.items), document);
}

// Keys holding & < > " are written as entities, so the file reads back; other keys are written
// as they stand.
TEST(KeyValueXmlTest, KeysWithMarkupCharactersRoundTrip) {
  const std::u16string kKeys[] = {u"a&b",  u"<tag>",     u"say \"hi\"", u"&amp;",
                                  u"it's", u"tab\there", u"\u00E9"};
  Storage::KeyValueMap snapshot;
  for (const std::u16string& key : kKeys) snapshot[key] = NewValue({0x5A});
  const std::string document = Storage::ProduceKeyValueXml(snapshot);
  EXPECT_NE(document.find("key=\"a&amp;b\""), std::string::npos);
  EXPECT_NE(document.find("key=\"&lt;tag&gt;\""), std::string::npos);
  EXPECT_NE(document.find("key=\"say &quot;hi&quot;\""), std::string::npos);
  EXPECT_NE(document.find("key=\"&amp;amp;\""), std::string::npos);
  EXPECT_NE(document.find("key=\"it's\""), std::string::npos);

  Parsed parsed = Parse(document);
  ASSERT_TRUE(parsed.ok);
  std::map<std::u16string, Bytes> expected;
  for (const auto& [key, value] : snapshot) expected[key] = {0x5A};
  EXPECT_EQ(ItemsOf(parsed), expected);
}

}  // namespace
