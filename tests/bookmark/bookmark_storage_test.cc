// The bookmark storage object: argument conversions, copies, and the detached state.
#include <gtest/gtest.h>

#include "browserplatform/atlcom.h"
#include "storage/bookmark/bookmark_tree_model_storage_base.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Folder;
using bookmark_test::Link;
using bookmark_test::RecordedModel;
using Storage::CBookmarkTreeModelStorageBase;

class BookmarkStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    ATL::CComObject<CBookmarkTreeModelStorageBase>* object = nullptr;
    ASSERT_EQ(S_OK, ATL::CComObject<CBookmarkTreeModelStorageBase>::CreateInstance(&object));
    storage_ = object;
    base_ = object;
    ASSERT_EQ(S_OK, base_->Attach(nullptr, m_.model.get()));
    ASSERT_EQ(S_OK, storage_->QueryInterface(IID_IStorageInfo, info_.ReceiveVoid()));
  }

  RecordedModel m_;
  ATL::CComPtr<IBookmarkTreeModelStorage> storage_;
  Storage::CStorageBase* base_ = nullptr;
  ATL::CComPtr<IStorageInfo> info_;
};

TEST_F(BookmarkStorageTest, AddStoresACopyAndUpdateTakesTheItemsIdentifier) {
  ATL::CComPtr<IBookmarkItem> mine = Link(u"a", u"http://a/");
  ASSERT_EQ(S_OK, storage_->Add(mine, nullptr, -1));
  mine->SetUrl(Bstr(u"http://changed-by-caller/"));
  ATL::CComPtr<IBookmarkItem> stored;
  ASSERT_EQ(S_OK, storage_->GetItem(Bstr(u"a"), stored.Receive()));
  EXPECT_NE(mine.get(), stored.get());
  ATL::CComBSTR url;
  stored->GetUrl(url.Receive());
  EXPECT_EQ(u"http://a/", bookmark_test::Text(url));

  ASSERT_EQ(S_OK, storage_->Update(Link(u"a", u"http://b/")));
  BOOL found = 0;
  EXPECT_EQ(S_OK, storage_->IsBookmarkByURL(Bstr(u"http://b/"), &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(E_FAIL, storage_->Update(Link(u"zz")));
  EXPECT_EQ(E_FAIL, storage_->Update(nullptr));
  EXPECT_EQ(E_FAIL, storage_->Add(nullptr, nullptr, -1));
  EXPECT_EQ(E_FAIL, storage_->GetItem(Bstr(u"zz"), stored.Receive()));
  EXPECT_EQ(E_FAIL, storage_->GetItem(Bstr(u"a"), nullptr));
}

TEST_F(BookmarkStorageTest, SortTakesOnlyTheNameAndTimeTypes) {
  ASSERT_EQ(S_OK, storage_->Add(Link(u"b", u"", 0, 1), nullptr, -1));
  ASSERT_EQ(S_OK, storage_->Add(Link(u"a", u"", 0, 2), nullptr, -1));
  m_.TakeRecords();
  for (LONG type : {0, 2, 3, 5}) EXPECT_EQ(E_FAIL, storage_->Sort(nullptr, type, 0)) << type;
  EXPECT_TRUE(m_.TakeRecords().empty());
  EXPECT_EQ("b,a", m_.RootShape());
  EXPECT_EQ(S_OK, storage_->Sort(nullptr, Storage::kBookmarkSortByName, 0));
  EXPECT_EQ("a,b", m_.RootShape());
  EXPECT_EQ(S_OK, storage_->Sort(nullptr, Storage::kBookmarkSortByTime, 1));
  EXPECT_EQ("a,b", m_.RootShape());
}

TEST_F(BookmarkStorageTest, RemoveTreeEmptiesEverythingWithoutARecord) {
  ASSERT_EQ(S_OK, storage_->Add(Folder(u"f"), nullptr, -1));
  ASSERT_EQ(S_OK, storage_->Add(Link(u"a"), Bstr(u"f"), -1));
  m_.TakeRecords();
  ASSERT_EQ(S_OK, storage_->RemoveTree());
  ULONG count = 9;
  EXPECT_EQ(S_OK, storage_->GetCount(&count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, m_.model->address_index_size_for_testing());
  EXPECT_TRUE(m_.TakeRecords().empty());
  ATL::CComPtr<IObjectList> root;
  EXPECT_EQ(S_OK, storage_->GetRoot(root.Receive()));
  EXPECT_EQ(0u, bookmark_test::CountOf(root));
}

TEST_F(BookmarkStorageTest, ADetachedStorageAnswersFailEverywhere) {
  ULONG flag = 5;
  EXPECT_EQ(S_OK, info_->IsImportFinished(&flag));
  EXPECT_EQ(1u, flag);
  EXPECT_EQ(S_OK, info_->IsImportFailed(&flag));
  EXPECT_EQ(0u, flag);
  EXPECT_EQ(E_STORAGE_INVALIDARG, info_->IsImportFailed(nullptr));
  EXPECT_EQ(E_STORAGE_INVALIDARG, base_->Attach(nullptr, nullptr));

  ASSERT_EQ(S_OK, base_->Detach());
  ATL::CComPtr<IObjectList> list;
  ULONG count = 0;
  BOOL found = 0;
  ATL::CComPtr<IBookmarkItem> item;
  const HRESULT kResults[] = {
      storage_->GetRoot(list.Receive()),
      storage_->SetRoot(nullptr),
      storage_->RemoveTree(),
      storage_->GetCount(&count),
      storage_->GetAllIds(list.Receive()),
      storage_->GetSubtreeIds(Bstr(u"a"), list.Receive()),
      storage_->GetAllItems(list.Receive()),
      storage_->GetItem(Bstr(u"a"), item.Receive()),
      storage_->GetChildren(nullptr, list.Receive()),
      storage_->Add(Link(u"a"), nullptr, -1),
      storage_->Remove(Bstr(u"a")),
      storage_->RemoveMany(list),
      storage_->Update(Link(u"a")),
      storage_->Move(Bstr(u"a"), nullptr, 1),
      storage_->MoveMany(list, nullptr, 1),
      storage_->Sort(nullptr, 1, 0),
      storage_->Search(Bstr(u"a"), -1, list.Receive()),
      storage_->SearchByURLPrefix(Bstr(u"a"), 10, list.Receive()),
      storage_->SearchByName(Bstr(u"a"), -1, list.Receive()),
      storage_->GetBookmarksByURL(Bstr(u"a"), list.Receive()),
      storage_->IsBookmarkByURL(Bstr(u"a"), &found),
      storage_->CloneTree(list.Receive()),
      storage_->AddSubTree(nullptr, nullptr, 1),
      storage_->BeginTransaction(),
      storage_->EndTransaction(1),
      info_->IsImportFailed(&flag),
      info_->IsImportFinished(&flag),
  };
  for (size_t i = 0; i < std::size(kResults); ++i) EXPECT_EQ(E_FAIL, kResults[i]) << i;
  EXPECT_EQ(1u, m_.model->ref_count_for_testing());  // the storage let go of the model
}

}  // namespace
