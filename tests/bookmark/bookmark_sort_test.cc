// The comparers and the folder sort.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/collation_for_testing.h"
#include "storage/bookmark/bookmark_comparers.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Folder;
using bookmark_test::ItemSpec;
using bookmark_test::NewItem;
using bookmark_test::RecordedModel;
using Storage::CBookmarkNameComparer;
using Storage::CBookmarkSearchComparer;
using Storage::CBookmarkTimeComparer;
using Storage::NewComparer;

class BookmarkSortTest : public testing::Test {
 protected:
  void SetUp() override { platform::SetCollationLocaleForTesting("en_US"); }
  void TearDown() override { platform::SetCollationLocaleForTesting(nullptr); }

  // Children of "f", added in this order.
  void AddChildren(const std::vector<ItemSpec>& specs) {
    ASSERT_EQ(S_OK, m_.model->Add(Folder(u"f"), Bstr(u"f"), nullptr, -1));
    for (const ItemSpec& spec : specs) {
      ASSERT_EQ(S_OK, m_.model->Add(NewItem(spec), Bstr(spec.id), Bstr(u"f"), -1));
    }
    m_.TakeRecords();
  }

  std::string Sorted(IOVCompare* comparer, LONG descending) {
    EXPECT_EQ(S_OK, m_.model->Sort(Bstr(u"f"), comparer, descending));
    ATL::CComPtr<IObjectList> children;
    m_.model->GetChildren(Bstr(u"f"), children.Receive());
    return bookmark_test::Shape(children);
  }

  RecordedModel m_;
};

TEST_F(BookmarkSortTest, ComparersOrderAsDocumented) {
  ATL::CComPtr<IBookmarkItem> folder = NewItem({u"1", u"b", u"", 2, 0, 0});
  ATL::CComPtr<IBookmarkItem> early = NewItem({u"2", u"a", u"u", 1, 5, 10});
  ATL::CComPtr<IBookmarkItem> late = NewItem({u"3", u"A", u"u", 1, 5, 20});
  ATL::CComPtr<IBookmarkItem> popular = NewItem({u"4", u"c", u"u", 1, 9, 0});
  ATL::CComPtr<IUnknown> plain = bookmark_test::NewItem({}).get();
  ATL::CComPtr<IObjectList> not_an_item;
  Util::Com::CreateObjectByIID(IID_IObjectList, not_an_item.ReceiveVoid());
  struct Case {
    IOVCompare* comparer;
    IUnknown* first;
    IUnknown* second;
    HRESULT result;
    LONG before;
  };
  ATL::CComPtr<IOVCompare> name = NewComparer<CBookmarkNameComparer>();
  ATL::CComPtr<IOVCompare> time = NewComparer<CBookmarkTimeComparer>();
  ATL::CComPtr<IOVCompare> search = NewComparer<CBookmarkSearchComparer>();
  const Case kCases[] = {
      {name, folder, early, S_OK, 1},  // higher kind first
      {name, early, folder, S_OK, 0},
      {name, early, late, S_OK, 1},  // "a" before "A" at tertiary strength
      {name, late, popular, S_OK, 1},
      {name, early, early, S_OK, 0},
      {name, early, not_an_item, E_FAIL, -1},
      {time, early, late, S_OK, 1},
      {time, late, early, S_OK, 0},
      {time, nullptr, early, E_FAIL, -1},
      {search, early, popular, S_OK, 1},  // fewer visits ranks lower
      {search, early, late, S_OK, 1},     // equal visits: less recent ranks lower
      {search, late, early, S_OK, 0},
      {search, not_an_item, early, S_OK, 1},  // a missing item ranks lowest
      {search, early, not_an_item, S_OK, 0},
      {search, not_an_item, nullptr, S_OK, 0},
  };
  for (const Case& c : kCases) {
    LONG before = -1;
    EXPECT_EQ(c.result, c.comparer->Compare(c.first, c.second, &before));
    EXPECT_EQ(c.before, before);
  }
  for (IOVCompare* comparer : {name.get(), time.get(), search.get()}) {
    EXPECT_EQ(E_FAIL, comparer->Compare(early, late, nullptr));
  }
}

TEST_F(BookmarkSortTest, ByNamePutsHigherKindsFirstThenTitlesInCollationOrder) {
  AddChildren({{u"1", u"banana", u"u"},
               {u"2", u"Zeta", u"", 2},
               {u"3", u"Éclair", u"u"},
               {u"4", u"apple", u"u"},
               {u"5", u"Apple", u"u"},
               {u"6", u"alpha", u"", 2},
               {u"7", u"eclair", u"u"}});
  ATL::CComPtr<IOVCompare> name = NewComparer<CBookmarkNameComparer>();
  EXPECT_EQ("6,2,4,5,1,7,3", Sorted(name, 0));
  EXPECT_EQ("3,7,1,5,4,2,6", Sorted(name, 1));
  EXPECT_EQ((std::vector<std::string>{"+sync-sort", "+sync-sort"}), m_.TakeRecords());
}

TEST_F(BookmarkSortTest, ByTimeIsStableAndDescendingIsItsExactReverse) {
  AddChildren({{u"a", u"", u"u", 1, 0, 30},
               {u"b", u"", u"u", 1, 0, 10},
               {u"c", u"", u"u", 1, 0, 30},
               {u"d", u"", u"u", 1, 0, 20},
               {u"e", u"", u"u", 1, 0, 10}});
  ATL::CComPtr<IObjectList> before;
  m_.model->GetChildren(Bstr(u"f"), before.Receive());
  ATL::CComPtr<IOVCompare> time = NewComparer<CBookmarkTimeComparer>();
  EXPECT_EQ("b,e,d,a,c", Sorted(time, 0));
  EXPECT_EQ("c,a,d,e,b", Sorted(time, 1));
  EXPECT_EQ("a,b,c,d,e", bookmark_test::Shape(before));  // a snapshot keeps the old order
  EXPECT_EQ("f(c,a,d,e,b)", m_.RootShape());
}

TEST_F(BookmarkSortTest, UnknownFoldersFailButStillAskForARewrite) {
  AddChildren({{u"a", u"", u"u"}});
  ATL::CComPtr<IOVCompare> time = NewComparer<CBookmarkTimeComparer>();
  EXPECT_EQ(E_FAIL, m_.model->Sort(Bstr(u"nope"), time, 0));
  EXPECT_EQ((std::vector<std::string>{"+sync-sort"}), m_.TakeRecords());
  EXPECT_EQ(E_FAIL, m_.model->Sort(Bstr(u"f"), nullptr, 0));
  EXPECT_TRUE(m_.TakeRecords().empty());
  // The top level sorts too.
  EXPECT_EQ(S_OK, m_.model->Sort(nullptr, time, 1));
  EXPECT_EQ("f(a)", m_.RootShape());
}

TEST_F(BookmarkSortTest, ChildrenWithoutAnItemStayAfterTheSortedOnes) {
  AddChildren({{u"b", u"", u"u", 1, 0, 2}, {u"a", u"", u"u", 1, 0, 1}});
  ATL::CComPtr<ITreeNode> bare;
  Util::Com::CreateObjectByIID(IID_ITreeNode, bare.ReceiveVoid());
  bare->SetId(Bstr(u"x"));
  bare->SetParentId(Bstr(u"f"));
  ASSERT_EQ(S_OK, m_.model->AddSubTree(bare, Bstr(u"f"), 1));
  ATL::CComPtr<IOVCompare> time = NewComparer<CBookmarkTimeComparer>();
  EXPECT_EQ("a,b,x", Sorted(time, 0));
  ULONG count = 0;
  m_.model->GetCount(&count);
  EXPECT_EQ(4u, count);
}

}  // namespace
