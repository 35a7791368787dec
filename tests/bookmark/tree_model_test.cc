// The copy-on-write tree: positions, adds, removals, updates, moves, snapshots, transactions.
#include <gtest/gtest.h>

#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Folder;
using bookmark_test::Link;
using bookmark_test::RecordedModel;

TEST(TreeModelTest, AddsUnderParentsAndRefusesDuplicatesAndUnknownParents) {
  RecordedModel m;
  EXPECT_EQ(S_OK, m.model->Add(Folder(u"f"), Bstr(u"f"), nullptr, -1));
  EXPECT_EQ(S_OK, m.model->Add(Link(u"a"), Bstr(u"a"), Bstr(u"f"), -1));
  EXPECT_EQ(E_FAIL, m.model->Add(Link(u"a"), Bstr(u"a"), nullptr, -1));
  EXPECT_EQ(E_FAIL, m.model->Add(Link(u"b"), Bstr(u"b"), Bstr(u"nope"), -1));
  EXPECT_EQ(E_INVALIDARG, m.model->Add(nullptr, Bstr(u"c"), nullptr, -1));
  EXPECT_EQ(E_INVALIDARG, m.model->Add(Link(u"c"), Bstr(u""), nullptr, -1));
  EXPECT_EQ("f(a)", m.RootShape());
  ULONG count = 0;
  EXPECT_EQ(S_OK, m.model->GetCount(&count));
  EXPECT_EQ(2u, count);
}

}  // namespace
