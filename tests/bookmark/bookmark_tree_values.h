// The bookmark tree as plain values: trees of shared objects are built from it and read back
// into it, so that tests, fuzzers and benchmarks compare whole trees with ==. And the bookmark
// file as rapidxml itself would print it.
#pragma once

#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_print.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"

namespace bookmark_test {

struct Item {
  std::u16string id;
  std::u16string title;
  std::u16string parent_id;
  std::u16string url;
  std::u16string icon_url;
  std::u16string note;
  LONGLONG kind = 0;
  LONGLONG time_added = 0;
  LONGLONG access_time = 0;
  LONGLONG system_default = 0;
  LONG access_count = 0;
  LONGLONG sort_position = 0;
  LONGLONG origin = 0;
  bool operator==(const Item&) const = default;
};

struct Node {
  std::optional<Item> item;  // none: the node holds no item
  std::u16string id;         // the node's own identifiers
  std::u16string parent_id;
  std::vector<Node> children;
  bool operator==(const Node&) const = default;
};

// For failure messages: a node's identifiers and title, and its children in brackets.
inline void PrintTo(const Node& node, std::ostream* out) {
  const auto ascii = [](const std::u16string& text) {
    std::string narrow;
    for (char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
  };
  *out << "{" << ascii(node.id) << "/" << ascii(node.parent_id);
  if (node.item) {
    *out << " item " << ascii(node.item->id) << "/" << ascii(node.item->parent_id) << " \""
         << ascii(node.item->title) << "\"";
  }
  for (const Node& child : node.children) PrintTo(child, out);
  *out << "}";
}

// A top-level or nested bookmark whose node identifiers agree with its item, as the tree model
// keeps them (top-level nodes have no parent identifier of their own).
inline Node Bookmark(Item item, bool top_level, std::vector<Node> children = {}) {
  Node node;
  node.id = item.id;
  node.parent_id = top_level ? u"" : item.parent_id;
  node.item = std::move(item);
  node.children = std::move(children);
  return node;
}

inline ATL::CComBSTR Bstr(std::u16string_view text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

inline std::u16string String(BSTR text) {
  return text != nullptr ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

template <class T>
ATL::CComPtr<T> New(REFIID iid) {
  ATL::CComPtr<T> object;
  Util::Com::CreateObjectByIID(iid, object.ReceiveVoid());
  return object;
}

inline ATL::CComPtr<IBookmarkItem> NewItem(const Item& values) {
  auto item = New<IBookmarkItem>(IID_IBookmarkItem);
  if (!item) return nullptr;
  item->SetId(Bstr(values.id));
  item->SetTitle(Bstr(values.title));
  item->SetParentId(Bstr(values.parent_id));
  item->SetUrl(Bstr(values.url));
  item->SetIconUrl(Bstr(values.icon_url));
  item->SetNote(Bstr(values.note));
  item->SetKind(values.kind);
  item->SetTimeAdded(values.time_added);
  item->SetLastAccessTime(values.access_time);
  item->SetSystemDefault(values.system_default);
  item->SetAccessCount(values.access_count);
  item->SetSortPosition(values.sort_position);
  item->SetOrigin(values.origin);
  return item;
}

// The shared objects for `nodes`: each node with its item (if any) and a child list, empty or
// not. Null when an object cannot be made.
inline ATL::CComPtr<IObjectList> Build(const std::vector<Node>& nodes) {
  auto list = New<IObjectList>(IID_IObjectList);
  if (!list) return nullptr;
  for (const Node& values : nodes) {
    auto node = New<ITreeNode>(IID_ITreeNode);
    ATL::CComPtr<IObjectList> children = Build(values.children);
    if (!node || !children) return nullptr;
    if (values.item) {
      ATL::CComPtr<IBookmarkItem> item = NewItem(*values.item);
      if (!item) return nullptr;
      node->SetItem(item);
    }
    node->SetId(Bstr(values.id));
    node->SetParentId(Bstr(values.parent_id));
    node->SetChildList(children);
    list->Append(IID_ITreeNode, node);
  }
  return list;
}

inline std::u16string Read(ITreeNode* node, HRESULT (ITreeNode::*get)(BSTR*)) {
  ATL::CComBSTR text;
  (node->*get)(text.Receive());
  return String(text);
}

inline std::u16string Read(IBookmarkItem* item, HRESULT (IBookmarkItem::*get)(BSTR*)) {
  ATL::CComBSTR text;
  (item->*get)(text.Receive());
  return String(text);
}

inline Item ItemOf(IBookmarkItem* item) {
  Item values;
  values.id = Read(item, &IBookmarkItem::GetId);
  values.title = Read(item, &IBookmarkItem::GetTitle);
  values.parent_id = Read(item, &IBookmarkItem::GetParentId);
  values.url = Read(item, &IBookmarkItem::GetUrl);
  values.icon_url = Read(item, &IBookmarkItem::GetIconUrl);
  values.note = Read(item, &IBookmarkItem::GetNote);
  item->GetKind(&values.kind);
  item->GetTimeAdded(&values.time_added);
  item->GetLastAccessTime(&values.access_time);
  item->GetSystemDefault(&values.system_default);
  item->GetAccessCount(&values.access_count);
  item->GetSortPosition(&values.sort_position);
  item->GetOrigin(&values.origin);
  return values;
}

// The values of the tree under `list`; list elements that are not nodes are left out.
inline std::vector<Node> Read(IObjectList* list) {
  std::vector<Node> nodes;
  UINT count = 0;
  if (list == nullptr || FAILED(list->Count(&count))) return nodes;
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<ITreeNode> node;
    if (FAILED(list->GetAt(i, IID_ITreeNode, node.ReceiveVoid())) || !node) continue;
    Node values;
    ATL::CComPtr<IBookmarkItem> item;
    node->GetItem(item.Receive());
    if (item) values.item = ItemOf(item);
    values.id = Read(node, &ITreeNode::GetId);
    values.parent_id = Read(node, &ITreeNode::GetParentId);
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    values.children = Read(children);
    nodes.push_back(std::move(values));
  }
  return nodes;
}

// What rapidxml's own printer (flags 0) makes of `file` once rapidxml has parsed it; the
// declaration, which the parse drops, goes back in first. `file` must be well-formed.
inline std::string Reprinted(std::string file) {
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  document->parse<rapidxml::parse_default>(file.data());
  document->prepend_node(
      document->allocate_node(rapidxml::node_pi, "xml version='1.0' encoding='utf-8'", ""));
  std::string printed;
  rapidxml::print(std::back_inserter(printed), *document, 0);
  return printed;
}

}  // namespace bookmark_test
