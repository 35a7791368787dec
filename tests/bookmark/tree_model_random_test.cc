// The bookmark model against a plain reference model: long random sequences of changes, and
// after every step the whole tree, the index behind it, the change records, the searches and
// the snapshots taken earlier are compared.
//
// Seeds: a fixed list; BOOKMARK_RANDOM_SEED=<n> runs seed n alone. A failure names the seed,
// the step and the last operations.
#include <gtest/gtest.h>

#include "platform/collation_for_testing.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::RecordedModel;

// Index keys are collation sort keys: one fixed locale for the whole test.
class CollationLocale {
 public:
  CollationLocale() { platform::SetCollationLocaleForTesting("en_US"); }
  ~CollationLocale() { platform::SetCollationLocaleForTesting(nullptr); }
  CollationLocale(const CollationLocale&) = delete;
  CollationLocale& operator=(const CollationLocale&) = delete;
};

// Regression, found by the test below: the walks up from a node (path copying, depth and move
// checks) read each parent's identifier through a view of a string that was already freed. A
// change two folders down then never reached the root, and a move into the node's own subtree
// two levels down was let through.
TEST(TreeModelRandomTest, WalksUpReadLiveParentIdentifiers) {
  CollationLocale locale;
  RecordedModel m;
  ASSERT_EQ(S_OK, m.model->Add(bookmark_test::Folder(u"f"), Bstr(u"f"), nullptr, -1));
  ASSERT_EQ(S_OK, m.model->Add(bookmark_test::Folder(u"g"), Bstr(u"g"), Bstr(u"f"), -1));
  EXPECT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"x"), Bstr(u"x"), Bstr(u"g"), -1));
  EXPECT_EQ("f(g(x))", m.RootShape());
  EXPECT_EQ(E_FAIL, m.model->Move(Bstr(u"f"), Bstr(u"x"), -1));
  EXPECT_EQ("f(g(x))", m.RootShape());
  ASSERT_EQ(S_OK, m.model->BeginTransaction());
  EXPECT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"y"), Bstr(u"y"), Bstr(u"g"), -1));
  EXPECT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"z"), Bstr(u"z"), Bstr(u"x"), -1));
  EXPECT_EQ(E_FAIL, m.model->Move(Bstr(u"f"), Bstr(u"z"), -1));
  EXPECT_EQ("f(g(x(z),y))", m.RootShape());
  ASSERT_EQ(S_OK, m.model->EndTransaction(1));
  EXPECT_EQ("f(g(x(z),y))", m.RootShape());
}

// Regression, found by the test below: inside a transaction the owner's GetRoot and GetChildren
// handed out the transaction's own lists, which its later changes then edited in place, so a
// caller walking a folder while changing it saw the folder change under it.
TEST(TreeModelRandomTest, ListsHandedOutInATransactionNeverChange) {
  CollationLocale locale;
  RecordedModel m;
  ASSERT_EQ(S_OK, m.model->Add(bookmark_test::Folder(u"f"), Bstr(u"f"), nullptr, -1));
  ASSERT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"a"), Bstr(u"a"), Bstr(u"f"), -1));
  ASSERT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"b"), Bstr(u"b"), Bstr(u"f"), -1));
  ASSERT_EQ(S_OK, m.model->BeginTransaction());
  ATL::CComPtr<IObjectList> root;
  ATL::CComPtr<IObjectList> folder;
  m.model->GetRoot(root.Receive());
  m.model->GetChildren(Bstr(u"f"), folder.Receive());
  EXPECT_EQ(S_OK, m.model->Remove(Bstr(u"a")));
  EXPECT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"c"), Bstr(u"c"), nullptr, 1));
  EXPECT_EQ("f(a,b)", bookmark_test::Shape(root));
  EXPECT_EQ("a,b", bookmark_test::Shape(folder));
  // Handed out again after changes: the new lists hold still too.
  root.Release();
  folder.Release();
  m.model->GetRoot(root.Receive());
  m.model->GetChildren(Bstr(u"f"), folder.Receive());
  EXPECT_EQ(S_OK, m.model->Move(Bstr(u"b"), nullptr, -1));
  EXPECT_EQ(S_OK, m.model->Add(bookmark_test::Link(u"d"), Bstr(u"d"), Bstr(u"f"), -1));
  EXPECT_EQ("c,f(b)", bookmark_test::Shape(root));
  EXPECT_EQ("b", bookmark_test::Shape(folder));
  EXPECT_EQ(S_OK, m.model->EndTransaction(1));
  EXPECT_EQ("c,f(d),b", m.RootShape());
}

}  // namespace
