#include <gtest/gtest.h>

#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::Bstr;
using objects_test::GetText;
using objects_test::New;
using objects_test::RefCount;

TEST(TreeNodeTest, FreshNodeHasNothing) {
  CComPtr<ITreeNode> node = New<ITreeNode>();
  IBookmarkItem* item = reinterpret_cast<IBookmarkItem*>(&node);
  IObjectList* list = reinterpret_cast<IObjectList*>(&node);
  ASSERT_EQ(S_OK, node->GetItem(&item));
  EXPECT_EQ(nullptr, item);
  ASSERT_EQ(S_OK, node->GetChildList(&list));
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(u"", GetText(node.get(), &ITreeNode::GetId));
  EXPECT_EQ(u"", GetText(node.get(), &ITreeNode::GetParentId));
  EXPECT_EQ(E_POINTER, node->GetItem(nullptr));
  EXPECT_EQ(E_POINTER, node->GetChildList(nullptr));
  EXPECT_EQ(E_POINTER, node->GetId(nullptr));
  EXPECT_EQ(E_POINTER, node->Clone(nullptr));
}

// A node holding item 7 under parent 1, with a child list.
class FilledTreeNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, node->SetItem(item));
    ASSERT_EQ(S_OK, node->SetChildList(list));
    ASSERT_EQ(S_OK, node->SetId(Bstr(u"7")));
    ASSERT_EQ(S_OK, node->SetParentId(Bstr(u"1")));
  }

  CComPtr<ITreeNode> node = New<ITreeNode>();
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  CComPtr<IObjectList> list = New<IObjectList>();
};

TEST_F(FilledTreeNodeTest, HoldsWhatItIsGiven) {
  CComPtr<IBookmarkItem> got_item;
  CComPtr<IObjectList> got_list;
  ASSERT_EQ(S_OK, node->GetItem(got_item.Receive()));
  ASSERT_EQ(S_OK, node->GetChildList(got_list.Receive()));
  EXPECT_EQ(item.get(), got_item.get());
  EXPECT_EQ(list.get(), got_list.get());
  EXPECT_EQ(u"7", GetText(node.get(), &ITreeNode::GetId));
  EXPECT_EQ(u"1", GetText(node.get(), &ITreeNode::GetParentId));

  got_item.Release();
  got_list.Release();
  ASSERT_EQ(S_OK, node->SetItem(nullptr));
  ASSERT_EQ(S_OK, node->SetChildList(nullptr));
  EXPECT_EQ(1u, RefCount(item));
  EXPECT_EQ(1u, RefCount(list));
  ASSERT_EQ(S_OK, node->GetItem(got_item.Receive()));
  EXPECT_EQ(nullptr, got_item.get());
}

TEST_F(FilledTreeNodeTest, CloneIsShallow) {
  CComPtr<ITreeNode> clone;
  ASSERT_EQ(S_OK, node->Clone(clone.Receive()));
  ASSERT_NE(node.get(), clone.get());
  CComPtr<IBookmarkItem> clone_item;
  CComPtr<IObjectList> clone_list;
  ASSERT_EQ(S_OK, clone->GetItem(clone_item.Receive()));
  ASSERT_EQ(S_OK, clone->GetChildList(clone_list.Receive()));
  EXPECT_EQ(item.get(), clone_item.get());
  EXPECT_EQ(list.get(), clone_list.get());
  EXPECT_EQ(u"7", GetText(clone.get(), &ITreeNode::GetId));
  EXPECT_EQ(u"1", GetText(clone.get(), &ITreeNode::GetParentId));

  // The identifiers are the clone's own; the item and list are shared.
  ASSERT_EQ(S_OK, clone->SetId(Bstr(u"8")));
  ASSERT_EQ(S_OK, clone->SetItem(nullptr));
  EXPECT_EQ(u"7", GetText(node.get(), &ITreeNode::GetId));
  ASSERT_EQ(S_OK, clone_list->AppendString(Bstr(u"child")));
  UINT count = 0;
  ASSERT_EQ(S_OK, list->Count(&count));
  EXPECT_EQ(1u, count);
  CComPtr<IBookmarkItem> still;
  ASSERT_EQ(S_OK, node->GetItem(still.Receive()));
  EXPECT_EQ(item.get(), still.get());
}

}  // namespace
