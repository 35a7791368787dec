#include "storage/keyvalue/key_value_ex_xml.h"

#include <iterator>
#include <memory>
#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_print.hpp>
#include <string_view>
#include <utility>

#include "base/string_conversions.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "storage/sync/xml_document.h"

namespace Storage {
namespace {

using XmlDocument = rapidxml::xml_document<char>;
using XmlNode = rapidxml::xml_node<char>;
using XmlAttribute = rapidxml::xml_attribute<char>;

constexpr std::string_view kRootEnd = "</root>";

// The attribute's value up to its first NUL (a character reference can put one there).
std::string_view TextOf(const XmlAttribute* attribute) {
  std::string_view text(attribute->value(), attribute->value_size());
  return text.substr(0, text.find('\0'));
}

std::u16string_view UpToNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

// A new text value holding `text`; null when none can be made or it refuses the text.
ATL::CComPtr<ITextValue> NewText(const OLECHAR* interface_name, const std::u16string& text) {
  ATL::CComPtr<IUnknown> object;
  if (FAILED(Util::Com::CreateObjectByInterface(interface_name, object.ReceiveVoid())) || !object) {
    return nullptr;
  }
  // Whatever the name made, only its text value face is used.
  ATL::CComPtr<ITextValue> value;
  if (FAILED(object->QueryInterface(IID_ITextValue, value.ReceiveVoid())) || !value) {
    return nullptr;
  }
  ATL::CComBSTR string(text.data(), static_cast<UINT>(text.size()));
  if (!text.empty() && !string) return nullptr;
  if (FAILED(value->SetString(string))) return nullptr;
  return value;
}

void AddItem(const XmlNode* item, const OLECHAR* interface_name, KeyValueExXmlContent* content) {
  const XmlAttribute* value = item->first_attribute("value");
  if (value == nullptr) return;
  const XmlAttribute* key = item->first_attribute("key");
  std::u16string key_text, value_text;
  bool well_formed = key == nullptr || base::UTF8ToWide(TextOf(key), &key_text);
  well_formed = base::UTF8ToWide(TextOf(value), &value_text) && well_formed;
  if (!well_formed) ++content->ill_formed;
  ATL::CComPtr<ITextValue> object = NewText(interface_name, value_text);
  if (!object) {
    ++content->not_created;
    return;
  }
  content->items.insert_or_assign(std::move(key_text), std::move(object));
}

// An attribute whose name and value live in `document`'s memory.
void AddAttribute(XmlDocument* document, XmlNode* node, const char* name,
                  std::u16string_view text) {
  const std::string utf8 = base::WideToUTF8(UpToNul(text));
  // allocate_string with a size copies exactly that many bytes; the printer reads value_size.
  char* value = utf8.empty() ? nullptr : document->allocate_string(utf8.data(), utf8.size());
  node->append_attribute(document->allocate_attribute(name, value ? value : "", 0, utf8.size()));
}

}  // namespace

bool ParseKeyValueExXml(std::string* text, const OLECHAR* interface_name,
                        KeyValueExXmlContent* content) {
  if (text == nullptr || interface_name == nullptr || content == nullptr) return false;
  if (size_t end = text->find(kRootEnd); end != std::string::npos) {
    text->resize(end + kRootEnd.size());
  }
  auto document = std::make_unique<XmlDocument>();
  // std::string keeps its bytes NUL-terminated, and they are ours to change.
  if (!ParseXmlDocument(text->data(), document.get())) return false;

  KeyValueExXmlContent parsed;
  if (const XmlNode* root = document->first_node("root")) {
    parsed.has_root = true;
    for (const XmlNode* item = root->first_node("Item"); item != nullptr;
         item = item->next_sibling()) {
      AddItem(item, interface_name, &parsed);
    }
  }
  *content = std::move(parsed);
  return true;
}

std::string ProduceKeyValueExXml(const KeyValueExMap& snapshot, size_t* unreadable) {
  auto document = std::make_unique<XmlDocument>();
  document->append_node(
      document->allocate_node(rapidxml::node_pi, "xml version='1.0' encoding='utf-8'"));
  XmlNode* root = document->allocate_node(rapidxml::node_element, "root");
  document->append_node(root);
  size_t failed = 0;
  for (const auto& [key, value] : snapshot) {
    if (key.empty() || !value) continue;
    ATL::CComBSTR text;
    if (FAILED(value->GetString(text.Receive()))) {
      ++failed;
      text.Empty();
    }
    XmlNode* item = document->allocate_node(rapidxml::node_element, "Item");
    AddAttribute(document.get(), item, "key", key);
    AddAttribute(document.get(), item, "value",
                 std::u16string_view(text.get() ? text.get() : u"", text.Length()));
    root->append_node(item);
  }
  if (unreadable != nullptr) *unreadable = failed;
  std::string printed;
  rapidxml::print(std::back_inserter(printed), *document, 0);
  return printed;
}

}  // namespace Storage
