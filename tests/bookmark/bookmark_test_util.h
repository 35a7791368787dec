// Helpers for the bookmark model tests: items, models with a recording synchroniser, and a
// compact text form of a tree ("a(b,c),d": identifiers, children in parentheses).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "tests/common/manual_synchroniser.h"

namespace bookmark_test {

struct ItemSpec {
  std::u16string id;
  std::u16string title;
  std::u16string url;
  LONGLONG kind = kBookmarkKindUrl;
  LONG count = 0;
  LONGLONG time = 0;
};

inline ATL::CComBSTR Bstr(std::u16string_view text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

inline ATL::CComPtr<IBookmarkItem> NewItem(const ItemSpec& spec) {
  ATL::CComPtr<IBookmarkItem> item;
  EXPECT_EQ(S_OK, Util::Com::CreateObjectByIID(IID_IBookmarkItem, item.ReceiveVoid()));
  item->SetId(Bstr(spec.id));
  item->SetTitle(Bstr(spec.title));
  item->SetUrl(Bstr(spec.url));
  item->SetKind(spec.kind);
  item->SetAccessCount(spec.count);
  item->SetLastAccessTime(spec.time);
  return item;
}

inline ATL::CComPtr<IBookmarkItem> Folder(std::u16string id) { return NewItem({id, id, u"", 2}); }

inline ATL::CComPtr<IBookmarkItem> Link(std::u16string id, std::u16string url = u"", LONG count = 0,
                                        LONGLONG time = 0) {
  return NewItem({id, id, url.empty() ? u"http://" + id + u"/" : url, 1, count, time});
}

inline std::u16string Text(BSTR text) {
  return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

inline std::u16string IdOf(IBookmarkItem* item) {
  ATL::CComBSTR id;
  item->GetId(id.Receive());
  return Text(id);
}

inline std::u16string NodeIdOf(ITreeNode* node) {
  ATL::CComBSTR id;
  node->GetId(id.Receive());
  return Text(id);
}

inline UINT CountOf(IObjectList* list) {
  UINT count = 0;
  if (list) list->Count(&count);
  return count;
}

inline ATL::CComPtr<ITreeNode> NodeAt(IObjectList* list, UINT index) {
  ATL::CComPtr<ITreeNode> node;
  list->GetAt(index, IID_ITreeNode, node.ReceiveVoid());
  return node;
}

// "a(b,c),d" for the list; identifiers of the nodes, children in parentheses.
inline std::string Shape(IObjectList* list) {
  std::string out;
  for (UINT i = 0; i < CountOf(list); ++i) {
    if (i > 0) out += ",";
    ATL::CComPtr<ITreeNode> node = NodeAt(list, i);
    for (char16_t c : NodeIdOf(node)) out += static_cast<char>(c);
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    if (CountOf(children) > 0) out += "(" + Shape(children) + ")";
  }
  return out;
}

// Identifiers of the items of a result list (elements of any interface).
inline std::vector<std::u16string> ItemIds(IObjectList* list) {
  std::vector<std::u16string> ids;
  for (UINT i = 0; i < CountOf(list); ++i) {
    ATL::CComPtr<IBookmarkItem> item;
    EXPECT_EQ(S_OK, list->GetAt(i, IID_IBookmarkItem, item.ReceiveVoid()));
    ids.push_back(IdOf(item));
  }
  return ids;
}

inline std::vector<std::u16string> Strings(IObjectList* list) {
  std::vector<std::u16string> out;
  for (UINT i = 0; i < CountOf(list); ++i) {
    ATL::CComBSTR text;
    list->GetStringAt(i, text.Receive());
    out.push_back(Text(text));
  }
  return out;
}

// A model with a recording synchroniser whose import has finished.
struct RecordedModel {
  RecordedModel() : sync(new storage_test::ManualSynchroniser()) {
    sync->SetImported();
    model = base::scoped_refptr<Storage::CBookmarkTreeModel>(new Storage::CBookmarkTreeModel(
        base::scoped_refptr<Storage::CStorageSyncBase>(sync.get())));
    EXPECT_EQ(S_OK, model->SetRoot(nullptr));
  }

  // The pending records as "+id" (set) and "-id" (remove), oldest first; clears them.
  std::vector<std::string> TakeRecords() {
    std::vector<std::string> out;
    for (const Storage::PendingChange& change : sync->pending_changes_for_testing()) {
      std::string text = change.op == Storage::kChangeOpSet ? "+" : "-";
      for (char16_t c : change.key) text += static_cast<char>(c);
      out.push_back(text);
    }
    sync->performSync();
    return out;
  }

  std::string RootShape() {
    ATL::CComPtr<IObjectList> root;
    model->GetRoot(root.Receive());
    return Shape(root);
  }

  base::scoped_refptr<storage_test::ManualSynchroniser> sync;
  base::scoped_refptr<Storage::CBookmarkTreeModel> model;
};

}  // namespace bookmark_test
