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

}  // namespace
