// The bookmark storage as a host uses it: opened through the service, changed, persisted by
// UnInitialize and read back, on the sync thread, by the next Initialize.
#include <gtest/gtest.h>

#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/bookmark_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "tests/common/app_data_root.h"
#include "tests/integration/storage_library.h"

namespace {

ATL::CComBSTR Bstr(const std::u16string& text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

ATL::CComPtr<IBookmarkItem> Item(const std::u16string& id, LONGLONG kind, LONG count = 0) {
  ATL::CComPtr<IBookmarkItem> item;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IBookmarkItem, item.ReceiveVoid()), S_OK);
  item->SetId(Bstr(id));
  item->SetTitle(Bstr(u"title " + id));
  if (kind == kBookmarkKindUrl) item->SetUrl(Bstr(u"https://example.com/" + id));
  item->SetKind(kind);
  item->SetAccessCount(count);
  return item;
}

std::string Shape(IObjectList* list) {
  std::string out;
  UINT count = 0;
  list->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<ITreeNode> node;
    list->GetAt(i, IID_ITreeNode, node.ReceiveVoid());
    ATL::CComBSTR id;
    node->GetId(id.Receive());
    if (i > 0) out += ",";
    for (UINT c = 0; c < id.Length(); ++c) out += static_cast<char>(id.get()[c]);
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    UINT inner = 0;
    if (children) children->Count(&inner);
    if (inner > 0) out += "(" + Shape(children) + ")";
  }
  return out;
}

class BookmarkHostTest : public storage_test::StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  ATL::CComPtr<IBookmarkTreeModelStorage> Open() {
    ATL::CComPtr<IUnknown> unknown;
    EXPECT_EQ(service_->GetStorage(Storage::kBookmarkStorageId, nullptr, unknown.Receive()), S_OK);
    ATL::CComPtr<IBookmarkTreeModelStorage> storage;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(storage.Receive()), S_OK);
    }
    return storage;
  }

  static std::string RootShape(IBookmarkTreeModelStorage* storage) {
    ATL::CComPtr<IObjectList> root;
    EXPECT_EQ(storage->GetRoot(root.Receive()), S_OK);
    return root ? Shape(root) : "(none)";
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(BookmarkHostTest, TheTreeSurvivesUnInitializeAndInitialize) {
  constexpr char16_t kUser[] = u"bookmark round trip";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IBookmarkTreeModelStorage> storage = Open();
  ASSERT_TRUE(storage);
  ASSERT_EQ(storage->Add(Item(u"bar", 2), nullptr, -1), S_OK);
  ASSERT_EQ(storage->Add(Item(u"z", 1, 3), Bstr(u"bar"), -1), S_OK);
  ASSERT_EQ(storage->Add(Item(u"y", 1, 9), Bstr(u"bar"), -1), S_OK);
  ASSERT_EQ(storage->Add(Item(u"other", 2), nullptr, -1), S_OK);
  ASSERT_EQ(storage->Move(Bstr(u"y"), Bstr(u"other"), 1), S_OK);
  ASSERT_EQ(storage->Update(Item(u"z", 1, 4)), S_OK);
  ASSERT_EQ(storage->BeginTransaction(), S_OK);
  ASSERT_EQ(storage->Add(Item(u"x", 1), Bstr(u"bar"), 1), S_OK);
  ASSERT_EQ(storage->EndTransaction(TRUE), S_OK);
  ASSERT_EQ(storage->Sort(Bstr(u"bar"), Storage::kBookmarkSortByName, TRUE), S_OK);
  const std::string shape = RootShape(storage);
  EXPECT_EQ("bar(z,x),other(y)", shape);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_EQ(storage->Add(Item(u"late", 1), nullptr, -1), E_FAIL);  // detached

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IBookmarkTreeModelStorage> reopened = Open();
  ASSERT_TRUE(reopened);
  EXPECT_EQ(shape, RootShape(reopened));
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(reopened.QueryInterface(info.Receive()), S_OK);
  ULONG flag = 7;
  EXPECT_EQ(info->IsImportFailed(&flag), S_OK);
  EXPECT_EQ(0u, flag);
  EXPECT_EQ(info->IsImportFinished(&flag), S_OK);
  EXPECT_EQ(1u, flag);
  ATL::CComPtr<IBookmarkItem> z;
  ASSERT_EQ(reopened->GetItem(Bstr(u"z"), z.Receive()), S_OK);
  LONG count = 0;
  z->GetAccessCount(&count);
  EXPECT_EQ(4, count);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

TEST_F(BookmarkHostTest, CallersBeforeTheImportWaitForTheWholeTree) {
  constexpr char16_t kUser[] = u"bookmark import wait";
  constexpr ULONG kFolders = 100;
  constexpr ULONG kPerFolder = 200;
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  {
    ATL::CComPtr<IBookmarkTreeModelStorage> storage = Open();
    ASSERT_TRUE(storage);
    for (ULONG f = 0; f < kFolders; ++f) {
      const std::string folder_number = std::to_string(f);
      const std::u16string folder =
          u"f" + std::u16string(folder_number.begin(), folder_number.end());
      ASSERT_EQ(storage->Add(Item(folder, 2), nullptr, -1), S_OK);
      for (ULONG i = 0; i < kPerFolder; ++i) {
        const std::string number = std::to_string(i);
        const std::u16string id = folder + u"b" + std::u16string(number.begin(), number.end());
        ASSERT_EQ(storage->Add(Item(id, 1), Bstr(folder), -1), S_OK);
      }
    }
  }
  ASSERT_EQ(service_->UnInitialize(), S_OK);

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  // The file is read on the sync thread; the first call waits for it, whenever it comes.
  ATL::CComPtr<IBookmarkTreeModelStorage> storage = Open();
  ASSERT_TRUE(storage);
  ULONG count = 0;
  EXPECT_EQ(storage->GetCount(&count), S_OK);
  EXPECT_EQ(kFolders * (kPerFolder + 1), count);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

}  // namespace
