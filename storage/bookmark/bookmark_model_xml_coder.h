// Storage::CBookmarkModelXMLCoder: converts the bookmark tree (a root list of ITreeNode nodes,
// each holding an IBookmarkItem and a child list) to and from the bookmark file "bookmark_v2".
//
// The file is, byte for byte, what rapidxml's printer makes of this document with print flags
// 0: each level indented by one tab more than its parent, a line feed after every node and one
// more at the end, elements without content closed as <name .../>.
//
//   <?xml version='1.0' encoding='utf-8' ?>
//   <root checksum="MD5" version="1.0">
//     <bookmark id=".." name=".." parentid=".." url=".." faviconurl=".." note=".." type="N"
//               addtime="N" accesstime="N" sysdefault="N" accesscount="N" manualorder="N"
//               from="N">                       (all on one line)
//       <children>
//         <bookmark .../>
//       </children>
//     </bookmark>
//     <bookmark/>
//   </root>
//
// - One "bookmark" per node, in list order; "children" only when the node's child list is not
//   empty (it is <children/> when the list holds no nodes). A node without an item (or whose item
//   lacks IBookmarkItemProperty) is a bare <bookmark/>, without attributes or children.
// - Strings are UTF-8, cut at their first NUL (a NUL would end the file when it is read back);
//   & < > are written as entities, and so is the quote around the value: double quotes, or
//   single quotes when the value holds a double quote. Numbers are plain signed
//   decimal; "accesscount" is 32-bit, the others 64-bit.
// - MD5 is the lower-case hexadecimal MD5 of the "id" and then the "parentid" bytes of every
//   "bookmark", in document order, without separators; an empty tree has the MD5 of no bytes.
//   Only identifiers are covered: titles and addresses may be edited by hand.
//
// Reading accepts exactly what one rapidxml parse (flags 0) accepts, within the nesting guard
// of storage/sync/xml_document.h, and fails as a whole (no partial tree) when "root" or its
// "checksum" is missing or the checksum differs in any byte (upper-case digits included). A
// leading UTF-8 byte-order mark is skipped. The "bookmark" children of "root" are its first
// child element named "bookmark" and every element after it, whatever its name; inside
// "children" only elements named "bookmark" count. Missing attributes keep the item's defaults;
// an empty "faviconurl" is not set. Text that is not UTF-8 reads with U+FFFD in place of each
// bad sequence, while the checksum covers the bytes as they stand. Numbers read like the C
// runtime's atoi: leading white space, an optional sign, digits up to the first non-digit, 0
// without digits; a value beyond its type saturates at the type's bound. "type" and
// "sysdefault" read through 32 bits (4294967297 reads as 2147483647) and are widened with their
// sign; "accesscount" reads through 32 bits, the others through 64. A node's own parent
// identifier is its actual parent's identifier (empty at the top level), whatever the file's
// "parentid" says: the tree model relies on it. Items keep the file's "parentid".
//
// Neither direction recurses on the depth of the tree: both walk it with a stack of their own.
// The writer produces the printer's bytes itself, in one pass and without a document, so it
// needs no stack per level; rapidxml's parse does (about 200 bytes a level when optimised, 2 to
// 3 KiB under AddressSanitizer without optimisation), so the reader parses through the nesting
// guard (kMaxXmlDepth element levels). The writer refuses a tree the reader would refuse: a
// bookmark level costs two element levels ("bookmark" and "children") and "root" one, so at
// most kMaxBookmarkDepth levels are written. A child list that holds one of its own ancestors
// (a cycle) is refused the same way.
//
// Running out of memory makes the call fail (logged); no exception leaves the coder.
//
// Thread safety: none of its own. The synchroniser that owns the coder calls it under its lock;
// a decode builds objects no other thread sees before it returns them.
#pragma once

#include <cstddef>
#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/shared_objects.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/xml_document.h"

namespace Storage {

// Bookmark levels the file can hold: the deepest bookmark without children sits at element
// level 2 * depth, inside "root".
inline constexpr size_t kMaxBookmarkDepth = kMaxXmlDepth / 2;

class CBookmarkModelXMLCoder {
 public:
  CBookmarkModelXMLCoder();
  CBookmarkModelXMLCoder(const CBookmarkModelXMLCoder&) = delete;
  CBookmarkModelXMLCoder& operator=(const CBookmarkModelXMLCoder&) = delete;

  // Encodes the tree under `root` and replaces the file at `path` with it through the file
  // writer. False for a null `root` or an empty `path`, when encoding fails, or when the
  // writer does not replace the file.
  bool EncodeToFile(IObjectList* root, const std::u16string& path);
  // The file for the tree under `root` in *out. False (and *out unchanged) for null
  // arguments, a tree nested deeper than kMaxBookmarkDepth or holding a cycle, a property that
  // cannot be read, or no memory.
  bool EncodeToString(IObjectList* root, std::string* out);

  // Reads and decodes the file at `path` (DecodeFromString), timed by a precise performance
  // trace. False when `path` is empty, `out` is null, or the file cannot be read or decoded.
  bool DecodeFromFile(const std::u16string& path, IObjectList** out);
  // Decodes the `length` bytes at `text`, which must be followed by a NUL; the buffer is
  // parsed in place, so its content afterwards is unspecified. On success *out is a new root
  // list whose one reference the caller owns; on failure *out is null and nothing was built.
  bool DecodeFromString(char* text, size_t length, IObjectList** out);

  // The writer the files go through, for the synchroniser's checks on the same file.
  CStorageFileWriter* file_writer() { return &file_writer_; }

 private:
  using XmlNode = rapidxml::xml_node<char>;
  struct Scratch;

  // Appends the start of the "bookmark" element of `node` (its name and attributes, not the
  // end of the tag) to `out`, and its "id" and "parentid" bytes to `checksum`; *children is
  // the child list to write inside it, or null. False when a property of the item cannot be
  // read.
  static bool EncodeBookmark(ITreeNode* node, std::string* out, std::string* checksum,
                             Scratch* scratch, ATL::CComPtr<IObjectList>* children);
  // A new node for `element` (its item and an empty child list set) under the node
  // identified by `parent_id` (null at the top), with the "id" and "parentid" bytes appended
  // to `checksum`. False when an object cannot be made or a property not set.
  static bool DecodeBookmark(const XmlNode* element, BSTR parent_id, std::string* checksum,
                             Scratch* scratch, ATL::CComPtr<ITreeNode>* node,
                             ATL::CComPtr<IObjectList>* children);

  bool Encode(IObjectList* root, std::string* out);
  static bool Decode(char* text, ATL::CComPtr<IObjectList>* out);

  CStorageFileWriter file_writer_;
  // The size of the last file encoded; the next is usually about as large.
  size_t last_size_ = 0;
};

}  // namespace Storage
