// The document of a key-value XML file, as bytes, without files or caches: parse it into items
// and produce it from a snapshot.
//
//   <?xml version="1.0" encoding="UTF-8"?>\r\n
//   <ItemTable version="1.0">\r\n
//   <Item key="KEY" value="HEX">\r\n
//   </Item>\r\n
//   ... one Item per key, in key order ...
//   </ItemTable>\r\n
//
// UTF-8 without a byte-order mark. HEX is the value's bytes in lower-case hexadecimal, two
// digits per byte, high nibble first. In KEY the characters & < > " are written as the entities
// &amp; &lt; &gt; &quot; (a key without them is written as it stands), so that every key reads
// back as it was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/keyvalue/key_value_storage_cache_base.h"

namespace Storage {

struct KeyValueXmlItem {
  std::u16string key;
  std::vector<uint8_t> bytes;
};

// Parses the NUL-terminated document at `text` in place (the parser changes the buffer) and
// appends its items to *items in document order; duplicates are kept, the later one wins when
// they are stored. A leading UTF-8 byte-order mark is skipped and entities in attribute values
// are translated. The root is the first element named "ItemTable" (case-sensitive); without it
// there are no items. Item elements without both a "key" and a "value" attribute are skipped;
// a key is cut at its first NUL character and skipped when that leaves it empty; a value that is
// not an even number of hexadecimal digits gives no bytes.
// Returns false, with *items unchanged, when the document is not well-formed XML.
bool ParseKeyValueXml(char* text, std::vector<KeyValueXmlItem>* items);

// The document for `snapshot`, in its key order. Pairs with an empty key or a null value are
// left out; a value whose bytes cannot be read is written as value="".
std::string ProduceKeyValueXml(const KeyValueMap& snapshot);

}  // namespace Storage
