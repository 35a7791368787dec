#include "storage/keyvalue/key_value_xml.h"

#include <limits>
#include <memory>
#include <rapidxml/rapidxml.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "base/string_conversions.h"
#include "browserplatform/combaseapi.h"
#include "browserstorage/object_factory.h"
#include "storage/sync/xml_document.h"

namespace Storage {
namespace {

using XmlDocument = rapidxml::xml_document<char>;
using XmlNode = rapidxml::xml_node<char>;
using Token = CXmlScanner::Token;

// 150 to 200 Items of the usual size: their nodes (about 210 bytes an Item) fit the 64 KiB pool
// inside rapidxml's document, so every batch reuses that memory and allocates none.
constexpr size_t kBatchBytes = 12 * 1024;
constexpr char kRootName[] = "ItemTable";
constexpr char kItemName[] = "Item";

// `node` or the first sibling after it named `name` that is an element.
const XmlNode* NextElement(const XmlNode* node, const char* name) {
  while (node != nullptr && node->type() != rapidxml::node_element) node = node->next_sibling(name);
  return node;
}

std::string_view ValueOf(const rapidxml::xml_attribute<char>* attribute) {
  return std::string_view(attribute->value(), attribute->value_size());
}

// A value object holding the bytes `hex` encodes: empty when it does not decode, null when no
// object (or no memory for its bytes) could be had.
ATL::CComPtr<IValueObject> NewValue(std::string_view hex) {
  ATL::CComPtr<IValueObject> value;
  if (FAILED(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid())) || !value) {
    return nullptr;
  }
  const size_t size = hex.size() / 2;
  if (size == 0 || hex.size() % 2 != 0 || size > std::numeric_limits<ULONG>::max()) return value;
  // Decoded straight into the block the object takes over, so the bytes are not copied.
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (block == nullptr) return nullptr;
  if (!base::HexToBytes(hex, block, size) ||
      FAILED(value->AttachBuffer(block, static_cast<ULONG>(size)))) {
    CoTaskMemFree(block);
  }
  return value;
}

// Adds the item an Item element describes.
void AddItem(const XmlNode* item, KeyValueXmlContent* content) {
  const rapidxml::xml_attribute<char>* key = item->first_attribute("key");
  const rapidxml::xml_attribute<char>* value = item->first_attribute("value");
  if (key == nullptr || value == nullptr) return;
  // A character reference to NUL ends the key: a key with a NUL could not be written back.
  std::string_view key_text = ValueOf(key);
  key_text = key_text.substr(0, key_text.find('\0'));
  if (key_text.empty()) return;
  // Ill-formed keys are left out: two of them could become the same key once U+FFFD stands in
  // for their bad bytes, and one value would silently replace the other.
  std::u16string wide;
  if (!base::UTF8ToWide(key_text, &wide)) {
    ++content->invalid_keys;
    return;
  }
  // Files are written in key order, so each key usually belongs at the end: the hint makes that
  // one comparison.
  content->items.insert_or_assign(content->items.end(), std::move(wide), NewValue(ValueOf(value)));
}

// Adds the items of the Item elements among `parent`'s children.
void AddItems(const XmlNode* parent, KeyValueXmlContent* content) {
  for (const XmlNode* item = NextElement(parent->first_node(kItemName), kItemName); item != nullptr;
       item = NextElement(item->next_sibling(kItemName), kItemName)) {
    AddItem(item, content);
  }
}

// Where the root and its children lie in a document of the usual shape: a root that holds
// elements and other markup but no character data of its own. Offsets into the document.
struct Frame {
  size_t root = 0;           // the '<' of the root's start tag
  size_t children = 0;       // just after that start tag
  size_t children_end = 0;   // the '<' of the root's end tag
  size_t after_root = 0;     // just after that end tag
  std::vector<size_t> cuts;  // the '<' of each child that begins a new batch
};

enum class Shape { kRefused, kFramed, kOther };

// One scan of the whole document with the nesting guard: kRefused for a document rapidxml
// rejects or that nests too deep, kFramed with `frame` filled for the usual shape, kOther for
// anything else (no root, an empty root, character data in the root).
Shape FrameDocument(const char* text, size_t batch_bytes, Frame* frame) {
  CXmlScanner scanner(text);
  bool in_root = false, root_closed = false;
  size_t batch_begin = 0;
  for (;;) {
    const size_t depth = scanner.depth();
    const Token token = scanner.Next();
    if (token == Token::kMalformed || token == Token::kTooDeep) return Shape::kRefused;
    if (token == Token::kEnd) return root_closed ? Shape::kFramed : Shape::kOther;
    const size_t begin = static_cast<size_t>(scanner.begin() - text);
    if (!in_root && !root_closed) {
      if (depth != 0 || scanner.name() != kRootName) continue;
      if (token != Token::kStartTag) return Shape::kOther;
      in_root = true;
      frame->root = begin;
      frame->children = batch_begin = static_cast<size_t>(scanner.end() - text);
    } else if (in_root && depth == 1) {
      if (token == Token::kText) return Shape::kOther;
      if (token == Token::kEndTag) {
        in_root = false;
        root_closed = true;
        frame->children_end = begin;
        frame->after_root = static_cast<size_t>(scanner.end() - text);
      } else if (begin - batch_begin >= batch_bytes) {
        frame->cuts.push_back(batch_begin = begin);
      }
    }
  }
}

// Parses text[begin, end) alone as a document: the character at `end` stands in as the
// terminating NUL for the parse and is put back after it, whatever happens.
bool ParsePiece(XmlDocument* document, char* text, size_t begin, size_t end) {
  struct Restore {
    char* at;
    char saved;
    ~Restore() { *at = saved; }
  } restore{text + end, text[end]};
  text[end] = '\0';
  try {
    document->parse<rapidxml::parse_default>(text + begin);
  } catch (const rapidxml::parse_error&) {
    return false;
  }
  return true;
}

// Parses a framed document piece by piece. Each piece is parsed at the top level of a document
// of its own, which rapidxml treats as it treats the same markup in the whole document: the
// pieces hold whole nodes only, the root's children hold no character data, and white space
// between nodes is skipped in both places. So the pieces are accepted exactly when the whole
// document is, and they yield the same Items.
bool ParseFramed(char* text, size_t length, const Frame& frame, KeyValueXmlContent* parsed) {
  auto document = std::make_unique<XmlDocument>();
  // The markup before the root, the root's start tag on its own (its attributes may hold
  // references rapidxml refuses; rapidxml closes it with any end tag), and the markup after the
  // root.
  std::string start_tag(text + frame.root, frame.children - frame.root);
  start_tag += "</>";
  if (!ParsePiece(document.get(), text, 0, frame.root) ||
      !ParsePiece(document.get(), start_tag.data(), 0, start_tag.size()) ||
      !ParsePiece(document.get(), text, frame.after_root, length)) {
    return false;
  }
  document->clear();
  parsed->has_root = true;
  size_t begin = frame.children;
  for (size_t i = 0; i <= frame.cuts.size(); ++i) {
    const size_t end = i < frame.cuts.size() ? frame.cuts[i] : frame.children_end;
    if (!ParsePiece(document.get(), text, begin, end)) return false;
    AddItems(document.get(), parsed);
    // Each batch's nodes go before the next is parsed.
    document->clear();
    begin = end;
  }
  return true;
}

bool ParseWhole(char* text, KeyValueXmlContent* parsed) {
  auto document = std::make_unique<XmlDocument>();
  if (!ParseXmlDocument(text, document.get())) return false;
  const XmlNode* root = NextElement(document->first_node(kRootName), kRootName);
  if (root != nullptr) {
    parsed->has_root = true;
    AddItems(root, parsed);
  }
  return true;
}

// Keys hold no NUL (one would end the file when it is read back), and the characters that
// would break the attribute are written as entities, which the reader translates back.
void AppendEscapedKey(std::string* document, std::u16string_view key) {
  size_t plain = 0;  // the start of the run not yet appended
  for (size_t i = 0; i < key.size(); ++i) {
    std::string_view entity;
    switch (key[i]) {
      case u'\0':
        base::AppendUTF8(document, key.substr(plain, i - plain));
        return;
      case u'&':
        entity = "&amp;";
        break;
      case u'<':
        entity = "&lt;";
        break;
      case u'>':
        entity = "&gt;";
        break;
      case u'"':
        entity = "&quot;";
        break;
      default:
        continue;
    }
    base::AppendUTF8(document, key.substr(plain, i - plain));
    *document += entity;
    plain = i + 1;
  }
  base::AppendUTF8(document, key.substr(plain));
}

}  // namespace

bool ParseKeyValueXml(char* text, size_t length, KeyValueXmlContent* content) {
  return ParseKeyValueXmlInBatches(text, length, kBatchBytes, content);
}

bool ParseKeyValueXmlInBatches(char* text, size_t length, size_t batch_bytes,
                               KeyValueXmlContent* content) {
  if (text == nullptr || content == nullptr || text[length] != '\0') return false;
  KeyValueXmlContent parsed;
  Frame frame;
  switch (FrameDocument(text, batch_bytes, &frame)) {
    case Shape::kRefused:
      return false;
    case Shape::kFramed:
      if (!ParseFramed(text, length, frame, &parsed)) return false;
      break;
    case Shape::kOther:
      if (!ParseWhole(text, &parsed)) return false;
      break;
  }
  *content = std::move(parsed);
  return true;
}

std::string ProduceKeyValueXml(const KeyValueMap& snapshot) {
  constexpr std::string_view kHead =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<ItemTable version=\"1.0\">\r\n";
  constexpr std::string_view kKeyStart = "<Item key=\"";
  constexpr std::string_view kValueStart = "\" value=\"";
  constexpr std::string_view kItemEnd = "\">\r\n</Item>\r\n";
  constexpr std::string_view kTail = "</ItemTable>\r\n";

  // Each value's bytes are read once; the sizes let the document be allocated once (exactly,
  // for keys of ASCII characters without entities).
  struct Entry {
    const std::u16string* key;
    const BYTE* data;
    ULONG size;
  };
  std::vector<Entry> entries;
  entries.reserve(snapshot.size());
  size_t size = kHead.size() + kTail.size();
  for (const auto& [key, value] : snapshot) {
    if (key.empty() || !value) continue;
    // The cache never changes an object it stores, so the buffer stays valid while we read it.
    const BYTE* data = nullptr;
    ULONG bytes = 0;
    if (FAILED(value->GetBuffer(&data)) || FAILED(value->GetSize(&bytes)) || data == nullptr) {
      bytes = 0;
    }
    entries.push_back({&key, data, bytes});
    size +=
        kKeyStart.size() + key.size() + kValueStart.size() + 2 * size_t{bytes} + kItemEnd.size();
  }

  std::string document;
  document.reserve(size);
  document += kHead;
  for (const Entry& entry : entries) {
    document += kKeyStart;
    AppendEscapedKey(&document, *entry.key);
    document += kValueStart;
    base::AppendHexA(&document, entry.data, entry.size);
    document += kItemEnd;
  }
  document += kTail;
  return document;
}

}  // namespace Storage
