#include "storage/keyvalue/key_value_xml.h"

#include <iterator>
#include <memory>
#include <rapidxml/rapidxml.hpp>
#include <string_view>
#include <utility>

#include "base/string_conversions.h"
#include "storage/sync/xml_document.h"

namespace Storage {
namespace {

using XmlNode = rapidxml::xml_node<char>;

// `node` or the first sibling after it named `name` that is an element.
XmlNode* NextElement(XmlNode* node, const char* name) {
  while (node != nullptr && node->type() != rapidxml::node_element) node = node->next_sibling(name);
  return node;
}

std::string_view ValueOf(const rapidxml::xml_attribute<char>* attribute) {
  return std::string_view(attribute->value(), attribute->value_size());
}

// Keys hold no NUL (one would end the file when it is read back), and the characters that
// would break the attribute are written as entities, which the reader translates back.
void AppendEscapedKey(std::u16string* document, const std::u16string& key) {
  for (char16_t c : key) {
    switch (c) {
      case u'\0':
        return;
      case u'&':
        *document += u"&amp;";
        break;
      case u'<':
        *document += u"&lt;";
        break;
      case u'>':
        *document += u"&gt;";
        break;
      case u'"':
        *document += u"&quot;";
        break;
      default:
        document->push_back(c);
    }
  }
}

}  // namespace

bool ParseKeyValueXml(char* text, std::vector<KeyValueXmlItem>* items) {
  if (text == nullptr || items == nullptr) return false;
  // The document keeps a large node pool inline: on the heap, not the stack.
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  if (!ParseXmlDocument(text, document.get())) return false;

  std::vector<KeyValueXmlItem> parsed;
  XmlNode* root = NextElement(document->first_node("ItemTable"), "ItemTable");
  if (root != nullptr) {
    for (XmlNode* item = NextElement(root->first_node("Item"), "Item"); item != nullptr;
         item = NextElement(item->next_sibling("Item"), "Item")) {
      const rapidxml::xml_attribute<char>* key = item->first_attribute("key");
      const rapidxml::xml_attribute<char>* value = item->first_attribute("value");
      if (key == nullptr || value == nullptr) continue;
      KeyValueXmlItem entry;
      entry.key = base::UTF8ToWide(ValueOf(key));
      if (size_t nul = entry.key.find(u'\0'); nul != std::u16string::npos) entry.key.resize(nul);
      if (entry.key.empty()) continue;
      if (!base::HexToBytes(ValueOf(value), &entry.bytes)) entry.bytes.clear();
      parsed.push_back(std::move(entry));
    }
  }
  items->insert(items->end(), std::make_move_iterator(parsed.begin()),
                std::make_move_iterator(parsed.end()));
  return true;
}

std::string ProduceKeyValueXml(const KeyValueMap& snapshot) {
  std::u16string document =
      u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      u"<ItemTable version=\"1.0\">\r\n";
  for (const auto& [key, value] : snapshot) {
    if (key.empty() || !value) continue;
    // The cache never changes an object it stores, so the buffer stays valid while we read it.
    const BYTE* data = nullptr;
    ULONG size = 0;
    if (FAILED(value->GetBuffer(&data)) || FAILED(value->GetSize(&size)) || data == nullptr) {
      size = 0;
    }
    document += u"<Item key=\"";
    AppendEscapedKey(&document, key);
    document += u"\" value=\"";
    document += base::BytesToHexW(data, size);
    document += u"\">\r\n</Item>\r\n";
  }
  document += u"</ItemTable>\r\n";
  return base::WideToUTF8(document);
}

}  // namespace Storage
