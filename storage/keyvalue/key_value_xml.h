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

#include <cstddef>
#include <string>

#include "storage/keyvalue/key_value_storage_cache_base.h"

namespace Storage {

struct KeyValueXmlContent {
  // Later duplicates replace earlier ones; a value whose object could not be created is null.
  KeyValueMap items;
  // An element named "ItemTable" (exact case) was found.
  bool has_root = false;
  // Item keys that were not well-formed UTF-8: left out, never merged into U+FFFD.
  size_t invalid_keys = 0;
};

// Parses the NUL-terminated document of `length` bytes at `text` in place. False (content
// unchanged) when the document is not well-formed XML or nests deeper than the guard allows.
//
// On success *content is replaced. A leading UTF-8 byte-order mark is skipped and entities in
// attribute values are translated. The root is the first top-level element named "ItemTable";
// its child elements named "Item" are the items. An Item without both a "key" and a "value"
// attribute is skipped; a key is cut at its first NUL character and skipped when that leaves
// it empty; a value that is not an even number of hexadecimal digits gives an empty value.
// Acceptance and content are exactly those of one rapidxml parse (flags 0) of the whole
// document, but rapidxml never holds more than a batch of the root's children at a time (see
// ParseKeyValueXmlInBatches): its DOM would cost several times the file.
bool ParseKeyValueXml(char* text, size_t length, KeyValueXmlContent* content);

// ParseKeyValueXml with batches of about `batch_bytes` of the root's children (ParseKeyValueXml
// uses 12 KiB); tests and fuzzers use other sizes to cut documents everywhere.
bool ParseKeyValueXmlInBatches(char* text, size_t length, size_t batch_bytes,
                               KeyValueXmlContent* content);

// The document for `snapshot`, in its key order. Pairs with an empty key or a null value are
// left out; a value whose bytes cannot be read is written as value="".
std::string ProduceKeyValueXml(const KeyValueMap& snapshot);

}  // namespace Storage
