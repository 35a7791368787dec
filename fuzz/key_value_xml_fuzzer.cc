// Feeds arbitrary bytes to the key-value XML parser, as a storage file would reach it.
//
// Invariants checked (abort on violation): parsing never crashes or leaks; items have non-empty
// keys without NUL; what is parsed, written back and parsed again gives the same map (the
// writer escapes every key so that it reads back).
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_xml.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

using Model = std::map<std::u16string, std::vector<uint8_t>>;

// Later items replace earlier ones, as when they are stored.
Model ToModel(const std::vector<Storage::KeyValueXmlItem>& items) {
  Model model;
  for (const Storage::KeyValueXmlItem& item : items) {
    Check(!item.key.empty() && item.key.find(u'\0') == std::u16string::npos);
    model[item.key] = item.bytes;
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // rapidxml parses in place and stops at the terminating zero, as the file reader provides.
  std::string buffer(reinterpret_cast<const char*>(data), size);
  std::vector<Storage::KeyValueXmlItem> items;
  if (!Storage::ParseKeyValueXml(buffer.data(), &items)) {
    Check(items.empty());
    return 0;
  }
  const Model model = ToModel(items);

  Storage::KeyValueMap snapshot;
  for (const auto& [key, bytes] : model) {
    ATL::CComPtr<IValueObject> value;
    Check(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid()) == S_OK);
    Check(value->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size())) == S_OK);
    snapshot[key] = value;
  }
  std::string written = Storage::ProduceKeyValueXml(snapshot);
  std::vector<Storage::KeyValueXmlItem> reread;
  Check(Storage::ParseKeyValueXml(written.data(), &reread));
  Check(ToModel(reread) == model);
  return 0;
}
