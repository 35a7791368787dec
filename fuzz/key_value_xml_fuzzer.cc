// Feeds arbitrary bytes to the key-value XML parser, as a storage file would reach it.
//
// Invariants checked (abort on violation): parsing never crashes or leaks; a refused document
// leaves the content alone; items have non-empty keys without NUL and a value; what is parsed,
// written back and parsed again gives the same map (the writer escapes every key so that it
// reads back), and writing that again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "storage/keyvalue/key_value_xml.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

using Model = std::map<std::u16string, std::vector<uint8_t>>;

Model ToModel(const Storage::KeyValueMap& items) {
  Model model;
  for (const auto& [key, value] : items) {
    Check(!key.empty() && key.find(u'\0') == std::u16string::npos && value);
    const BYTE* data = nullptr;
    ULONG size = 0;
    Check(value->GetBuffer(&data) == S_OK && value->GetSize(&size) == S_OK);
    model[key] = data != nullptr ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // rapidxml parses in place and stops at the terminating zero, as the file reader provides.
  std::string buffer(reinterpret_cast<const char*>(data), size);
  Storage::KeyValueXmlContent content;
  if (!Storage::ParseKeyValueXml(buffer.data(), buffer.size(), &content)) {
    Check(content.items.empty() && !content.has_root && content.invalid_keys == 0);
    return 0;
  }
  Check(content.has_root || content.items.empty());
  const Model model = ToModel(content.items);

  const std::string written = Storage::ProduceKeyValueXml(content.items);
  std::string parsed = written;
  Storage::KeyValueXmlContent reread;
  Check(Storage::ParseKeyValueXml(parsed.data(), parsed.size(), &reread));
  Check(reread.has_root && reread.invalid_keys == 0);
  Check(ToModel(reread.items) == model);
  // Written again, the document is the same bytes.
  Check(Storage::ProduceKeyValueXml(reread.items) == written);
  return 0;
}
