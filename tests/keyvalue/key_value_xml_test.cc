// The key-value XML document, parsed and produced without files.
#include "storage/keyvalue/key_value_xml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bytes;
using kv_test::NewValue;
using Storage::KeyValueXmlItem;

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ItemTable version=\"1.0\">\r\n";

struct Parsed {
  bool ok = false;
  std::vector<KeyValueXmlItem> items;
};

Parsed Parse(std::string document) {
  Parsed parsed;
  parsed.ok = Storage::ParseKeyValueXml(document.data(), &parsed.items);
  return parsed;
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
    ASSERT_EQ(parsed.items.size(), 1u) << c.text;
    EXPECT_EQ(parsed.items[0].bytes, c.bytes) << c.text;
  }
}

TEST(KeyValueXmlTest, DocumentsThatImportNothingButAreNotBroken) {
  const char* const kDocuments[] = {
      "<?xml version=\"1.0\"?><itemtable><Item key=\"k\" value=\"01\"/></itemtable>",
      "<Other><Item key=\"k\" value=\"01\"/></Other>",
      "<ItemTable/>",
      "",
      "   \r\n",
  };
  for (const char* document : kDocuments) {
    Parsed parsed = Parse(document);
    EXPECT_TRUE(parsed.ok) << document;
    EXPECT_TRUE(parsed.items.empty()) << document;
  }
}

TEST(KeyValueXmlTest, MalformedDocumentsFailAndYieldNothing) {
  const std::string full = kHeader + Item("a", "01") + Item("b", "02") + "</ItemTable>\r\n";
  const std::string kDocuments[] = {
      full.substr(0, full.size() / 2),  // truncated
      full.substr(0, full.size() - 5),
      "not xml",
      "<ItemTable><Item key=\"a\" value=\"01\"></ItemTable>",            // unclosed Item
      "<ItemTable><Item key=\"say \"hi\"\" value=\"01\"/></ItemTable>",  // unescaped quotes
      "<ItemTable><Item key=\"&#xZZ;\" value=\"01\"/></ItemTable>",
  };
  for (const std::string& document : kDocuments) {
    std::vector<KeyValueXmlItem> items = {{u"kept", {}}};
    std::string buffer = document;
    EXPECT_FALSE(Storage::ParseKeyValueXml(buffer.data(), &items)) << document;
    ASSERT_EQ(items.size(), 1u) << document;
  }
  EXPECT_FALSE(Storage::ParseKeyValueXml(nullptr, nullptr));
}

TEST(KeyValueXmlTest, ReadsItemsInDocumentOrderAndSkipsIncompleteOnes) {
  const std::string document = std::string("\xEF\xBB\xBF") + kHeader +  // byte-order mark
                               "<Item value=\"01\"></Item>\r\n"         // no key
                               "<Item key=\"nv\"></Item>\r\n"           // no value
                               "<Other key=\"o\" value=\"01\"/>\r\n" +
                               Item("b", "02") +
                               "<Item key=\"\" value=\"03\"/>\r\n"  // empty key
                               "<Item key=\"x&#0;y\" value=\"04\"/>\r\n" +
                               Item("a", "05") + Item("b", "06") + "</ItemTable>\r\n";
  Parsed parsed = Parse(document);
  ASSERT_TRUE(parsed.ok);
  const std::vector<std::u16string> kKeys = {u"b", u"x", u"a", u"b"};
  const std::vector<Bytes> kBytes = {{2}, {4}, {5}, {6}};
  ASSERT_EQ(parsed.items.size(), kKeys.size());
  for (size_t i = 0; i < kKeys.size(); ++i) {
    EXPECT_EQ(parsed.items[i].key, kKeys[i]) << i;
    EXPECT_EQ(parsed.items[i].bytes, kBytes[i]) << i;
  }
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
  ASSERT_EQ(parsed.items.size(), snapshot.size());
  auto expected = snapshot.begin();
  for (const KeyValueXmlItem& item : parsed.items) {
    EXPECT_EQ(item.key, (expected++)->first);
    EXPECT_EQ(item.bytes, Bytes{0x5A});
  }
}

}  // namespace
