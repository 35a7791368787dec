// A model of the key-value XML reader for tests and fuzzers: one rapidxml parse of the whole
// document and a plain walk of its DOM, with conversions of its own. The reader must give
// exactly what the model gives, however it cuts the document up.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <rapidxml/rapidxml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/stringapiset.h"
#include "storage/keyvalue/key_value_xml.h"
#include "storage/sync/xml_document.h"

namespace kv_test {

struct XmlModel {
  bool ok = false;
  bool has_root = false;
  size_t invalid_keys = 0;
  // Key -> bytes; nullopt for a null value object.
  std::map<std::u16string, std::optional<std::vector<uint8_t>>> items;

  bool operator==(const XmlModel&) const = default;
};

// Hexadecimal pairs of either case; anything else gives no bytes.
inline std::vector<uint8_t> ModelHex(std::string_view text) {
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  if (text.size() % 2 != 0) return {};
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return {};
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

// The model's reading of `text` (a copy: rapidxml changes what it parses).
inline XmlModel ModelParse(std::string text) {
  XmlModel model;
  // Only so that the model itself survives deep documents; those must fail.
  if (!Storage::IsXmlNestingWithin(text.c_str())) return model;
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  try {
    document->parse<rapidxml::parse_default>(text.data());
  } catch (const rapidxml::parse_error&) {
    return model;
  }
  model.ok = true;
  rapidxml::xml_node<char>* root = document->first_node();
  while (root != nullptr && (root->type() != rapidxml::node_element ||
                             std::string_view(root->name(), root->name_size()) != "ItemTable")) {
    root = root->next_sibling();
  }
  if (root == nullptr) return model;
  model.has_root = true;
  for (auto* item = root->first_node(); item != nullptr; item = item->next_sibling()) {
    if (item->type() != rapidxml::node_element ||
        std::string_view(item->name(), item->name_size()) != "Item") {
      continue;
    }
    auto* key = item->first_attribute("key");
    auto* value = item->first_attribute("value");
    if (key == nullptr || value == nullptr) continue;
    std::string key_text(key->value(), key->value_size());
    key_text = key_text.substr(0, key_text.find('\0'));
    if (key_text.empty()) continue;
    const int length = static_cast<int>(key_text.size());
    std::u16string wide(key_text.size(), u'\0');
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, key_text.data(), length,
                                          wide.data(), length);
    if (units == 0) {
      ++model.invalid_keys;
      continue;
    }
    wide.resize(static_cast<size_t>(units));
    model.items[wide] = ModelHex(std::string_view(value->value(), value->value_size()));
  }
  return model;
}

// What the reader gave, in the model's terms.
inline XmlModel ModelOf(bool ok, const Storage::KeyValueXmlContent& content) {
  XmlModel model;
  model.ok = ok;
  if (!ok) return model;
  model.has_root = content.has_root;
  model.invalid_keys = content.invalid_keys;
  for (const auto& [key, value] : content.items) {
    std::optional<std::vector<uint8_t>>& bytes = model.items[key];
    if (!value) continue;
    const BYTE* data = nullptr;
    ULONG size = 0;
    value->GetBuffer(&data);
    value->GetSize(&size);
    bytes = data != nullptr ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
  }
  return model;
}

// Parses a copy of `text` with the reader in batches of about `batch_bytes`.
inline XmlModel ReaderParse(std::string text, size_t batch_bytes) {
  Storage::KeyValueXmlContent content;
  const bool ok =
      Storage::ParseKeyValueXmlInBatches(text.data(), text.size(), batch_bytes, &content);
  return ModelOf(ok, content);
}

}  // namespace kv_test
