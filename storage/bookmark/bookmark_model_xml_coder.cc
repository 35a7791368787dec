#include "storage/bookmark/bookmark_model_xml_coder.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "base/trace.h"
#include "browserplatform/md5.h"
#include "browserstorage/object_factory.h"

namespace Storage {
namespace {

using XmlDocument = rapidxml::xml_document<char>;
using XmlNode = rapidxml::xml_node<char>;
using XmlAttribute = rapidxml::xml_attribute<char>;

constexpr std::string_view kRootName = "root";
constexpr std::string_view kBookmarkName = "bookmark";
constexpr std::string_view kChildrenName = "children";
constexpr std::string_view kChecksumName = "checksum";
constexpr size_t kChecksumDigits = 32;

// The file up to the checksum's digits, and the rest of the root's start tag after them.
constexpr std::string_view kFileStart =
    "<?xml version='1.0' encoding='utf-8' ?>\n<root checksum=\"";
constexpr std::string_view kRootRest = "\" version=\"1.0\"";

// How a property is written and read: text as UTF-8; numbers in decimal, read through 64 bits,
// or through 32 bits and widened (kNumber32), or the 32-bit access count.
enum class Kind { kText, kNumber, kNumber32, kCount };

struct Property {
  std::string_view name;
  Kind kind;
  HRESULT (IBookmarkItem::*get_text)(BSTR*) = nullptr;
  HRESULT (IBookmarkItem::*set_text)(BSTR) = nullptr;
  HRESULT (IBookmarkItem::*get_number)(LONGLONG*) = nullptr;
  HRESULT (IBookmarkItem::*set_number)(LONGLONG) = nullptr;
};

// The attributes of a "bookmark", in the order they are written.
const Property kProperties[] = {
    {"id", Kind::kText, &IBookmarkItem::GetId, &IBookmarkItem::SetId},
    {"name", Kind::kText, &IBookmarkItem::GetTitle, &IBookmarkItem::SetTitle},
    {"parentid", Kind::kText, &IBookmarkItem::GetParentId, &IBookmarkItem::SetParentId},
    {"url", Kind::kText, &IBookmarkItem::GetUrl, &IBookmarkItem::SetUrl},
    {"faviconurl", Kind::kText, &IBookmarkItem::GetIconUrl, &IBookmarkItem::SetIconUrl},
    {"note", Kind::kText, &IBookmarkItem::GetNote, &IBookmarkItem::SetNote},
    {"type", Kind::kNumber32, nullptr, nullptr, &IBookmarkItem::GetKind, &IBookmarkItem::SetKind},
    {"addtime", Kind::kNumber, nullptr, nullptr, &IBookmarkItem::GetTimeAdded,
     &IBookmarkItem::SetTimeAdded},
    {"accesstime", Kind::kNumber, nullptr, nullptr, &IBookmarkItem::GetLastAccessTime,
     &IBookmarkItem::SetLastAccessTime},
    {"sysdefault", Kind::kNumber32, nullptr, nullptr, &IBookmarkItem::GetSystemDefault,
     &IBookmarkItem::SetSystemDefault},
    {"accesscount", Kind::kCount},
    {"manualorder", Kind::kNumber, nullptr, nullptr, &IBookmarkItem::GetSortPosition,
     &IBookmarkItem::SetSortPosition},
    {"from", Kind::kNumber, nullptr, nullptr, &IBookmarkItem::GetOrigin, &IBookmarkItem::SetOrigin},
};
const Property& kIdProperty = kProperties[0];
const Property& kParentIdProperty = kProperties[2];
const Property& kIconUrlProperty = kProperties[4];

void LogError(const char16_t* text) {
  base::Log(base::kLogLevelError, base::kLogCategoryNone, u"%s", text);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads `text` as the C runtime's atoi family does (see the header), saturating at Int's
// bounds.
template <class Int>
Int ReadDecimal(std::string_view text) {
  using Unsigned = std::make_unsigned_t<Int>;
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const Unsigned limit =
      static_cast<Unsigned>(std::numeric_limits<Int>::max()) + (negative ? 1u : 0u);
  Unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<Unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = static_cast<Unsigned>(value * 10 + digit);
  }
  if (!negative || value == 0) return static_cast<Int>(value);
  // -(value - 1) - 1 reaches the lowest value without overflowing on the way.
  return static_cast<Int>(-static_cast<Int>(value - 1) - 1);
}

// `node` and the first of its following siblings that is an element.
const XmlNode* NextElement(const XmlNode* node) {
  do {
    node = node->next_sibling();
  } while (node != nullptr && node->type() != rapidxml::node_element);
  return node;
}

// The characters an attribute value may have to write as entities.
constexpr std::array<bool, 256> MakeEscaped() {
  std::array<bool, 256> escaped{};
  for (unsigned char c : {'<', '>', '&', '"', '\''}) escaped[c] = true;
  return escaped;
}
constexpr std::array<bool, 256> kEscaped = MakeEscaped();

// ` name="value"` as rapidxml's printer writes an attribute: in double quotes, or in single
// quotes when the value holds a double quote; & < > and the quote around the value become
// entities, the other quote stays as it is.
void AppendAttribute(std::string* out, std::string_view name, std::string_view value) {
  const auto is_escaped = [](char c) { return kEscaped[static_cast<unsigned char>(c)]; };
  size_t plain_end = 0;  // most values have nothing to escape
  while (plain_end < value.size() && !is_escaped(value[plain_end])) ++plain_end;
  const char quote = value.find('"', plain_end) == std::string_view::npos ? '"' : '\'';
  *out += ' ';
  *out += name;
  *out += '=';
  *out += quote;
  out->append(value.substr(0, plain_end));
  for (size_t i = plain_end; i < value.size(); ++i) {
    switch (value[i]) {
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '&':
        *out += "&amp;";
        break;
      case '"':
      case '\'':  // an entity only where it would end the value
        if (value[i] != quote) {
          *out += value[i];
        } else {
          *out += quote == '"' ? "&quot;" : "&apos;";
        }
        break;
      default:
        *out += value[i];
    }
  }
  *out += quote;
}

void AppendTabs(std::string* out, size_t count) { out->append(count, '\t'); }

template <class T>
HRESULT NewObject(REFIID iid, ATL::CComPtr<T>* out) {
  HRESULT hr = Util::Com::CreateObjectByIID(iid, out->ReceiveVoid());
  if (SUCCEEDED(hr) && !*out) hr = E_FAIL;
  return hr;
}

// The lower-case hexadecimal MD5 of `bytes`; empty when the digest fails.
std::string ChecksumOf(const std::string& bytes) {
  unsigned char digest[16];
  if (!OV_MD5(bytes.data(), bytes.size(), digest)) return std::string();
  return base::BytesToHexA(digest, sizeof(digest));
}

}  // namespace

// Conversion buffers, reused for every bookmark of one call.
struct CBookmarkModelXMLCoder::Scratch {
  std::string utf8;
  std::u16string wide;
};

CBookmarkModelXMLCoder::CBookmarkModelXMLCoder() : file_writer_(kWriteModePlain) {}

bool CBookmarkModelXMLCoder::EncodeToFile(IObjectList* root, const std::u16string& path) {
  if (root == nullptr || path.empty()) return false;
  std::string text;
  if (!EncodeToString(root, &text)) return false;
  return file_writer_.WriteToDiskA(path, text) != FALSE;
}

bool CBookmarkModelXMLCoder::EncodeToString(IObjectList* root, std::string* out) {
  if (root == nullptr || out == nullptr) return false;
  try {
    return Encode(root, out);
  } catch (const std::exception&) {  // running out of memory
    LogError(u"bookmark tree not encoded: out of memory");
    return false;
  }
}

bool CBookmarkModelXMLCoder::DecodeFromFile(const std::u16string& path, IObjectList** out) {
  base::CPrecisePerformanceTrace trace(u"Storage::CBookmarkModelXMLCoder::DecodeFromFile");
  if (out != nullptr) *out = nullptr;
  if (path.empty() || out == nullptr) return false;
  std::string text;
  try {
    if (!file_writer_.ReadFromDiskA(path, &text)) return false;
  } catch (const std::exception&) {  // running out of memory
    LogError(u"bookmark file not read: out of memory");
    return false;
  }
  // The string keeps a NUL after its bytes, and its bytes are ours to parse in place.
  return DecodeFromString(text.data(), text.size(), out);
}

bool CBookmarkModelXMLCoder::DecodeFromString(char* text, size_t length, IObjectList** out) {
  if (out == nullptr) return false;
  *out = nullptr;
  if (text == nullptr || text[length] != '\0') return false;
  ATL::CComPtr<IObjectList> root;
  try {
    if (!Decode(text, &root)) return false;
  } catch (const std::exception&) {  // running out of memory; what was built goes with `root`
    LogError(u"bookmark file not decoded: out of memory");
    return false;
  }
  *out = root.Detach();
  return true;
}

bool CBookmarkModelXMLCoder::Encode(IObjectList* root, std::string* out) {
  // The file is written as rapidxml's printer (flags 0) writes its document, in one pass: each
  // element at one tab per level, a line feed after each, an element without content closed
  // with "/>", and a line feed after the whole. The checksum's digits are filled in last.
  std::string text;
  // Files change little between writes: with the last one's size (and room to grow) the text
  // is allocated once, instead of being copied into ever larger blocks.
  text.reserve(last_size_ + last_size_ / 16 + 4096);
  text += kFileStart;
  const size_t checksum_at = text.size();
  text.append(kChecksumDigits, '0');
  text += kRootRest;

  // One level per child list being written, the root list first: the walk goes depth first in
  // document order without recursing, so the checksum sees the bookmarks in that order too.
  // Level n's bookmarks are indented by 2n - 1 tabs, the element holding them ("root" or a
  // "children") by 2n - 2, and the bookmark around that by 2n - 3.
  struct Level {
    ATL::CComPtr<IObjectList> list;
    UINT count;
    UINT next;
    bool has_content;  // the holding element's start tag is closed with ">"
  };
  std::vector<Level> levels;
  UINT count = 0;
  if (FAILED(root->Count(&count))) return false;
  levels.push_back({root, count, 0, false});
  std::string checksum;
  Scratch scratch;
  while (!levels.empty()) {
    Level& level = levels.back();
    const size_t depth = levels.size();
    if (level.next >= level.count) {
      if (!level.has_content) {
        text += "/>\n";
      } else {
        AppendTabs(&text, 2 * depth - 2);
        text += depth == 1 ? "</root>\n" : "</children>\n";
      }
      levels.pop_back();
      if (depth > 1) {
        AppendTabs(&text, 2 * depth - 3);
        text += "</bookmark>\n";
      }
      continue;
    }
    // A list element that is not a node (or gone since the count) is no bookmark.
    ATL::CComPtr<ITreeNode> node;
    if (FAILED(level.list->GetAt(level.next++, IID_ITreeNode, node.ReceiveVoid())) || !node) {
      continue;
    }
    if (!level.has_content) {
      text += ">\n";
      level.has_content = true;
    }
    AppendTabs(&text, 2 * depth - 1);
    ATL::CComPtr<IObjectList> children;
    if (!EncodeBookmark(node, &text, &checksum, &scratch, &children)) return false;
    UINT child_count = 0;
    if (!children || FAILED(children->Count(&child_count)) || child_count == 0) {
      text += "/>\n";
      continue;
    }
    // This bookmark's "children" would nest one element too deep for the reader: refused
    // before anything is written, which also ends a walk around a cycle.
    if (depth >= kMaxBookmarkDepth) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone,
                u"bookmark tree not written: nested deeper than %u levels, or cyclic",
                static_cast<unsigned>(kMaxBookmarkDepth));
      return false;
    }
    text += ">\n";
    AppendTabs(&text, 2 * depth);
    text += "<children";
    levels.push_back({std::move(children), child_count, 0, false});
  }
  text += '\n';

  const std::string digest = ChecksumOf(checksum);
  if (digest.size() != kChecksumDigits) {
    LogError(u"bookmark tree not encoded: no MD5 digest");
    return false;
  }
  text.replace(checksum_at, kChecksumDigits, digest);
  last_size_ = text.size();
  *out = std::move(text);
  return true;
}

bool CBookmarkModelXMLCoder::EncodeBookmark(ITreeNode* node, std::string* out,
                                            std::string* checksum, Scratch* scratch,
                                            ATL::CComPtr<IObjectList>* children) {
  *out += "<bookmark";
  ATL::CComPtr<IBookmarkItem> item;
  ATL::CComPtr<IBookmarkItemProperty> property;
  if (FAILED(node->GetItem(item.Receive())) || !item ||
      FAILED(item.QueryInterface(property.Receive())) || !property) {
    return true;  // bare: its subtree is not written
  }
  for (const Property& p : kProperties) {
    HRESULT hr = S_OK;
    char number[24];
    std::string_view value;
    switch (p.kind) {
      case Kind::kText: {
        ATL::CComBSTR text;
        hr = (property->*p.get_text)(text.Receive());
        if (FAILED(hr)) break;
        std::u16string_view wide(text.get() != nullptr ? text.get() : u"", text.Length());
        wide = wide.substr(0, wide.find(u'\0'));
        scratch->utf8.clear();
        base::AppendUTF8(&scratch->utf8, wide);
        value = scratch->utf8;
        if (&p == &kIdProperty || &p == &kParentIdProperty) checksum->append(value);
        break;
      }
      case Kind::kNumber:
      case Kind::kNumber32: {
        LONGLONG n = 0;
        hr = (property->*p.get_number)(&n);
        value = std::string_view(number, std::to_chars(number, number + sizeof(number), n).ptr);
        break;
      }
      case Kind::kCount: {
        LONG n = 0;
        hr = property->GetAccessCount(&n);
        value = std::string_view(number, std::to_chars(number, number + sizeof(number), n).ptr);
        break;
      }
    }
    if (FAILED(hr)) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone,
                u"bookmark tree not written: its \"%S\" could not be read (hr=0x%X)",
                std::string(p.name).c_str(), static_cast<unsigned>(hr));
      return false;
    }
    AppendAttribute(out, p.name, value);
  }
  if (FAILED(node->GetChildList(children->Receive()))) children->Release();
  return true;
}

bool CBookmarkModelXMLCoder::Decode(char* text, ATL::CComPtr<IObjectList>* out) {
  ATL::CComPtr<IObjectList> root_list;
  if (FAILED(NewObject(IID_IObjectList, &root_list))) {
    LogError(u"bookmark file not decoded: no object list");
    return false;
  }
  auto document = std::make_unique<XmlDocument>();
  if (!ParseXmlDocument(text, document.get())) {
    LogError(u"bookmark file not decoded: not well-formed XML, or nested too deep");
    return false;
  }
  const XmlNode* root = document->first_node(kRootName.data(), kRootName.size());
  if (root == nullptr) {
    LogError(u"bookmark file not decoded: no root element");
    return false;
  }

  // One level per "bookmark" list being read, the root's first; depth first in document
  // order, as the checksum was computed.
  struct Level {
    const XmlNode* next;  // the next element to read at this level
    ATL::CComPtr<IObjectList> list;
    ATL::CComBSTR parent_id;  // the identifier of the node that holds `list`; null at the top
  };
  std::vector<Level> levels;
  levels.push_back({root->first_node(kBookmarkName.data(), kBookmarkName.size()), root_list, {}});
  std::string checksum;
  Scratch scratch;
  while (!levels.empty()) {
    Level& level = levels.back();
    const XmlNode* element = level.next;
    if (element == nullptr) {
      levels.pop_back();
      continue;
    }
    // At the top every element after the first "bookmark" counts, whatever its name.
    const bool top_level = levels.size() == 1;
    level.next = top_level ? NextElement(element)
                           : element->next_sibling(kBookmarkName.data(), kBookmarkName.size());
    ATL::CComPtr<ITreeNode> node;
    ATL::CComPtr<IObjectList> children;
    if (!DecodeBookmark(element, level.parent_id, &checksum, &scratch, &node, &children) ||
        FAILED(level.list->Append(IID_ITreeNode, node))) {
      LogError(u"bookmark file not decoded: a bookmark could not be built");
      return false;
    }
    const XmlNode* children_element =
        element->first_node(kChildrenName.data(), kChildrenName.size());
    if (children_element == nullptr) continue;
    if (const XmlNode* first =
            children_element->first_node(kBookmarkName.data(), kBookmarkName.size())) {
      ATL::CComBSTR id;
      node->GetId(id.Receive());
      levels.push_back({first, std::move(children), std::move(id)});
    }
  }

  const XmlAttribute* stored = root->first_attribute(kChecksumName.data(), kChecksumName.size());
  const std::string digest = ChecksumOf(checksum);
  if (stored == nullptr || digest.size() != kChecksumDigits ||
      std::string_view(stored->value(), stored->value_size()) != digest) {
    LogError(u"bookmark file not decoded: checksum missing or wrong");
    return false;
  }
  *out = std::move(root_list);
  return true;
}

bool CBookmarkModelXMLCoder::DecodeBookmark(const XmlNode* element, BSTR parent_id,
                                            std::string* checksum, Scratch* scratch,
                                            ATL::CComPtr<ITreeNode>* node,
                                            ATL::CComPtr<IObjectList>* children) {
  ATL::CComPtr<ITreeNode> new_node;
  ATL::CComPtr<IBookmarkItem> item;
  ATL::CComPtr<IBookmarkItemProperty> property;
  ATL::CComPtr<IObjectList> list;
  if (FAILED(NewObject(IID_ITreeNode, &new_node)) || FAILED(NewObject(IID_IBookmarkItem, &item)) ||
      FAILED(NewObject(IID_IObjectList, &list)) ||
      FAILED(item.QueryInterface(property.Receive())) || !property ||
      FAILED(new_node->SetItem(item)) || FAILED(new_node->SetChildList(list)) ||
      FAILED(new_node->SetParentId(parent_id))) {
    return false;
  }
  for (const Property& p : kProperties) {
    const XmlAttribute* attribute = element->first_attribute(p.name.data(), p.name.size());
    if (attribute == nullptr) continue;
    const std::string_view value(attribute->value(), attribute->value_size());
    HRESULT hr = S_OK;
    switch (p.kind) {
      case Kind::kText: {
        const bool is_id = &p == &kIdProperty;
        const bool is_parent_id = &p == &kParentIdProperty;
        if (is_id || is_parent_id) checksum->append(value);
        base::UTF8ToWide(value, &scratch->wide);
        if (scratch->wide.empty() && &p == &kIconUrlProperty) break;
        // A null BSTR is the empty string: no allocation for empty values.
        ATL::CComBSTR wide;
        if (!scratch->wide.empty()) {
          if (scratch->wide.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) {
            return false;
          }
          wide = ATL::CComBSTR(scratch->wide.data(), static_cast<UINT>(scratch->wide.size()));
          if (wide.get() == nullptr) return false;
        }
        hr = (property->*p.set_text)(wide);
        if (SUCCEEDED(hr) && is_id) hr = new_node->SetId(wide);
        break;
      }
      case Kind::kNumber:
        hr = (property->*p.set_number)(ReadDecimal<int64_t>(value));
        break;
      case Kind::kNumber32:
        hr = (property->*p.set_number)(ReadDecimal<int32_t>(value));
        break;
      case Kind::kCount:
        hr = property->SetAccessCount(ReadDecimal<int32_t>(value));
        break;
    }
    if (FAILED(hr)) return false;
  }
  *node = std::move(new_node);
  *children = std::move(list);
  return true;
}

}  // namespace Storage
