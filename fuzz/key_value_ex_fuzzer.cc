// Feeds arbitrary bytes to the key-value-ex import as the encrypted file "AutoFill_v2" would
// reach it: decrypted and cut at the first zero byte as the file reader does, then parsed into
// text values as the import does.
//
// Invariants checked (abort on violation): nothing crashes or leaks; a refused document leaves
// the content alone; keys and texts hold no NUL; what is parsed, written back, encrypted,
// decrypted and parsed again gives the same keys and texts (those with a non-empty key, which
// the writer keeps), and writing that again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "base/mars.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/shared_objects.h"
#include "storage/keyvalue/key_value_ex_xml.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_file_writer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

using Model = std::map<std::u16string, std::u16string>;

Model ToModel(const Storage::KeyValueExMap& items, bool keep_empty_key) {
  Model model;
  for (const auto& [key, value] : items) {
    Check(key.find(u'\0') == std::u16string::npos && value);
    ATL::CComBSTR text;
    Check(value->GetString(text.Receive()) == S_OK);
    const std::u16string string(text.get() ? text.get() : u"", text.Length());
    Check(string.find(u'\0') == std::u16string::npos);
    if (!key.empty() || keep_empty_key) model[key] = string;
  }
  return model;
}

// The file bytes the writer makes of `document`, read back as the reader reads them.
std::string ThroughTheFile(std::string document) {
  base::mars().encrypt_buffer(reinterpret_cast<uint8_t*>(document.data()), document.size());
  Storage::CStorageFileWriter::DecodeFileBytes(Storage::kWriteModeEncrypted, &document);
  return document;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  Storage::CStorageFileWriter::DecodeFileBytes(Storage::kWriteModeEncrypted, &text);
  Storage::KeyValueExXmlContent content;
  if (!Storage::ParseKeyValueExXml(&text, kTextValueInterfaceName, &content)) {
    Check(content.items.empty() && !content.has_root && content.not_created == 0);
    return 0;
  }
  Check(content.has_root || content.items.empty());
  Check(content.not_created == 0);  // every text value takes its text
  const Model written_model = ToModel(content.items, false);

  const std::string written = Storage::ProduceKeyValueExXml(content.items);
  std::string read = ThroughTheFile(written);
  Check(read == written);  // the printer writes no zero byte
  Storage::KeyValueExXmlContent reread;
  Check(Storage::ParseKeyValueExXml(&read, kTextValueInterfaceName, &reread));
  Check(reread.has_root && reread.ill_formed == 0 && reread.not_created == 0);
  Check(ToModel(reread.items, true) == written_model);
  Check(Storage::ProduceKeyValueExXml(reread.items) == written);
  return 0;
}
