// Feeds arbitrary bytes to the extension database reader, as the file "extdb_v2.json" would
// reach it: cut at the first zero byte and converted from UTF-8 to UTF-16, then decoded into a
// model that has no synchroniser.
//
// Invariants checked (abort on violation): decoding never crashes, over-reads or leaks; what
// the model writes reads back whole into a fresh model, which writes the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/ref_counted.h"
#include "base/string_conversions.h"
#include "storage/extension/extension_storage_model.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::u16string Encode(Storage::CExtensionStorageModel* model) {
  std::u16string text;
  model->EncodeExtensionDb(&text);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t zero = bytes.find('\0');
  if (zero != std::string::npos) bytes.resize(zero);
  const std::u16string text = base::UTF8ToWide(bytes);

  base::scoped_refptr<Storage::CExtensionStorageModel> first(
      new Storage::CExtensionStorageModel(u""));
  first->DecodeExtensionDb(text);
  const std::u16string once = Encode(first.get());

  base::scoped_refptr<Storage::CExtensionStorageModel> second(
      new Storage::CExtensionStorageModel(u""));
  Check(second->DecodeExtensionDb(once));
  Check(Encode(second.get()) == once);
  return 0;
}
