// Compares the key-value XML reader, which has rapidxml parse a document in pieces, with one
// rapidxml parse of the whole document (the model in tests/keyvalue/key_value_xml_model.h).
//
// The first byte chooses the batch size (0-127 bytes, or the reader's own), so that documents
// are cut between any two children of the root. Invariant checked (abort on violation): the
// reader accepts exactly the documents the model accepts and reads the same root flag, items and
// count of keys that are not UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/keyvalue/key_value_xml_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const kv_test::XmlModel expected = kv_test::ModelParse(text);
  kv_test::XmlModel actual;
  if (data[0] < 128) {
    actual = kv_test::ReaderParse(text, data[0]);
  } else {
    std::string copy = text;
    Storage::KeyValueXmlContent content;
    actual =
        kv_test::ModelOf(Storage::ParseKeyValueXml(copy.data(), copy.size(), &content), content);
  }
  if (!(actual == expected)) std::abort();
  return 0;
}
