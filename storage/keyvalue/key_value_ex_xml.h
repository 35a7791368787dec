// The document of a key-value-ex file (after decryption), as bytes, without files or caches:
// parse it into items and produce it from a snapshot. The document is what rapidxml's printer
// makes of it with print flags 0: UTF-8 without a byte-order mark, LF line ends, one tab of
// indent for the items.
//
//   <?xml version='1.0' encoding='utf-8' ?>\n
//   <root>\n
//   \t<Item key="KEY" value="TEXT"/>\n
//   ... one Item per key, in key order ...
//   </root>\n
//
// An empty storage prints its root as "<root/>\n". In KEY and TEXT the printer writes & < > as
// &amp; &lt; &gt;; a text holding a double quote is enclosed in apostrophes instead, its
// apostrophes written as &apos;. Texts are written up to their first NUL character (the file
// reader stops at a zero byte).
#pragma once

#include <cstddef>
#include <string>

#include "browserplatform/types.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"

namespace Storage {

struct KeyValueExXmlContent {
  // Later duplicates replace earlier ones.
  KeyValueExMap items;
  // An element named "root" (exact case) was found at the top level.
  bool has_root = false;
  // Items left out because no value object could be made for them or take their text.
  size_t not_created = 0;
  // Items whose key or text was not well-formed UTF-8 (imported with U+FFFD in its place).
  size_t ill_formed = 0;
};

// Parses the document in *text in place: first it is cut right after its first "</root>"
// (what follows, such as a tail of padding, is ignored), then parsed with rapidxml's parse flags
// 0 behind the nesting guard. False (content unchanged) when the document is not well-formed
// or nests too deep. Other exceptions, such as running out of memory, pass on.
//
// On success *content is replaced. The root is the first top-level element named "root"; its
// items are its first child element named "Item" and every sibling node after that one,
// whatever its name. An item without a "value" attribute is skipped; one without "key" has
// the empty key. Keys and texts end at their first NUL character. Each text becomes a new
// object made by Util::Com::CreateObjectByInterface(`interface_name`) and filled with
// SetString.
bool ParseKeyValueExXml(std::string* text, const OLECHAR* interface_name,
                        KeyValueExXmlContent* content);

// The document for `snapshot`, in its key order, as rapidxml's printer prints it. Pairs with an
// empty key or a null value are left out; a value whose text cannot be read is written as
// value="" and counted in *unreadable (when given). Throws std::bad_alloc.
std::string ProduceKeyValueExXml(const KeyValueExMap& snapshot, size_t* unreadable = nullptr);

}  // namespace Storage
