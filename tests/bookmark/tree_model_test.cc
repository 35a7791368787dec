// The copy-on-write tree: positions, adds, removals, updates, moves, snapshots, refused
// graphs, transactions.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::CountOf;
using bookmark_test::Folder;
using bookmark_test::IdOf;
using bookmark_test::Link;
using bookmark_test::NodeAt;
using bookmark_test::RecordedModel;
using bookmark_test::Shape;
using bookmark_test::Strings;
using Storage::CBookmarkTreeModel;

// f(a,b(c)),d
void AddSample(RecordedModel& m) {
  ASSERT_EQ(S_OK, m.model->Add(Folder(u"f"), Bstr(u"f"), nullptr, -1));
  ASSERT_EQ(S_OK, m.model->Add(Link(u"a"), Bstr(u"a"), Bstr(u"f"), -1));
  ASSERT_EQ(S_OK, m.model->Add(Folder(u"b"), Bstr(u"b"), Bstr(u"f"), -1));
  ASSERT_EQ(S_OK, m.model->Add(Link(u"c"), Bstr(u"c"), Bstr(u"b"), -1));
  ASSERT_EQ(S_OK, m.model->Add(Link(u"d"), Bstr(u"d"), nullptr, -1));
  m.TakeRecords();
}

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
  EXPECT_EQ((std::vector<std::string>{"+f", "+a"}), m.TakeRecords());

  // Nested nodes name their parent; top-level ones have an empty parent identifier.
  ATL::CComPtr<IObjectList> root;
  m.model->GetRoot(root.Receive());
  ATL::CComPtr<IObjectList> children;
  NodeAt(root, 0)->GetChildList(children.Receive());
  ATL::CComBSTR parent;
  NodeAt(children, 0)->GetParentId(parent.Receive());
  EXPECT_EQ(u"f", bookmark_test::Text(parent));
  NodeAt(root, 0)->GetParentId(parent.Receive());
  EXPECT_EQ(u"", bookmark_test::Text(parent));
}

TEST(TreeModelTest, PositionsAreOneBasedFinalPositions) {
  struct Case {
    LONG position;
    const char* shape;
  };
  const Case kCases[] = {{1, "x,a,b,c"}, {0, "x,a,b,c"}, {-7, "x,a,b,c"}, {2, "a,x,b,c"},
                         {3, "a,b,x,c"}, {4, "a,b,c,x"}, {-1, "a,b,c,x"}, {100, "a,b,c,x"}};
  for (const Case& c : kCases) {
    RecordedModel m;
    for (const char16_t* id : {u"a", u"b", u"c"}) {
      ASSERT_EQ(S_OK, m.model->Add(Link(id), Bstr(id), nullptr, -1));
    }
    ASSERT_EQ(S_OK, m.model->Add(Link(u"x"), Bstr(u"x"), nullptr, c.position));
    EXPECT_EQ(c.shape, m.RootShape()) << c.position;
    // Move follows the same rule.
    ASSERT_EQ(S_OK, m.model->Move(Bstr(u"x"), nullptr, -1));
    ASSERT_EQ(S_OK, m.model->Move(Bstr(u"x"), nullptr, c.position));
    EXPECT_EQ(c.position == 3 ? "a,b,x,c" : c.shape, m.RootShape()) << c.position;
  }
}

TEST(TreeModelTest, BeforeTheFirstSetRootThereIsNoTree) {
  base::scoped_refptr<CBookmarkTreeModel> model(new CBookmarkTreeModel(nullptr, nullptr, nullptr));
  ATL::CComPtr<IObjectList> root;
  EXPECT_EQ(S_OK, model->GetRoot(root.Receive()));
  EXPECT_FALSE(root);
  ULONG count = 9;
  EXPECT_EQ(S_OK, model->GetCount(&count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(E_FAIL, model->Add(Link(u"a"), Bstr(u"a"), nullptr, -1));
  EXPECT_EQ(E_FAIL, model->BeginTransaction());
  EXPECT_EQ(E_FAIL, model->CloneTree(root.Receive()));
  EXPECT_EQ(E_INVALIDARG, model->GetCount(nullptr));
}

TEST(TreeModelTest, SnapshotsTakenBeforeAChangeNeverChange) {
  RecordedModel m;
  AddSample(m);
  ATL::CComPtr<IObjectList> root;
  ATL::CComPtr<IObjectList> folder_children;
  ATL::CComPtr<IBookmarkItem> item_a;
  m.model->GetRoot(root.Receive());
  m.model->GetChildren(Bstr(u"f"), folder_children.Receive());
  ATL::CComPtr<ITreeNode> folder = NodeAt(root, 0);
  m.model->GetItem(Bstr(u"a"), item_a.Receive());

  ASSERT_EQ(S_OK, m.model->Add(Link(u"e"), Bstr(u"e"), Bstr(u"b"), 1));
  ASSERT_EQ(S_OK, m.model->Update(Bstr(u"a"), Link(u"a", u"http://changed/")));
  ASSERT_EQ(S_OK, m.model->Move(Bstr(u"d"), Bstr(u"f"), 1));
  ASSERT_EQ(S_OK, m.model->Remove(Bstr(u"c")));

  EXPECT_EQ("f(a,b(c)),d", Shape(root));
  EXPECT_EQ("a,b(c)", Shape(folder_children));
  ATL::CComPtr<IObjectList> kept;
  folder->GetChildList(kept.Receive());
  EXPECT_EQ(folder_children.get(), kept.get());
  ATL::CComBSTR url;
  item_a->GetUrl(url.Receive());
  EXPECT_EQ(u"http://a/", bookmark_test::Text(url));
  EXPECT_EQ("f(d,a,b(e)),", m.RootShape() + ",");
}

TEST(TreeModelTest, UpdateKeepsPlaceAndChildrenAndRecordsARemovalThenASet) {
  RecordedModel m;
  AddSample(m);
  ATL::CComPtr<IBookmarkItem> stored;
  m.model->GetItem(Bstr(u"b"), stored.Receive());
  stored->SetTimeAdded(1234);  // a stored property the update must keep
  ATL::CComPtr<IBookmarkItem> update = Folder(u"b");
  update->SetTitle(Bstr(u"renamed"));
  update->SetTimeAdded(99);
  ASSERT_EQ(S_OK, m.model->Update(Bstr(u"b"), update));
  EXPECT_EQ("f(a,b(c)),d", m.RootShape());
  EXPECT_EQ((std::vector<std::string>{"-b", "+b"}), m.TakeRecords());

  ATL::CComPtr<IBookmarkItem> now;
  m.model->GetItem(Bstr(u"b"), now.Receive());
  EXPECT_NE(now.get(), update.get());  // a merged copy, never the caller's object
  ATL::CComBSTR title;
  now->GetTitle(title.Receive());
  EXPECT_EQ(u"renamed", bookmark_test::Text(title));
  LONGLONG added = 0;
  now->GetTimeAdded(&added);
  EXPECT_EQ(1234, added);
  EXPECT_EQ(E_FAIL, m.model->Update(Bstr(u"zz"), update));
  EXPECT_EQ(E_FAIL, m.model->Update(Bstr(u"b"), nullptr));
  EXPECT_TRUE(m.TakeRecords().empty());
}

TEST(TreeModelTest, RemovingAFolderUnindexesItsSubtreeWithOneRecord) {
  RecordedModel m;
  AddSample(m);
  ASSERT_EQ(3u, m.model->address_index_size_for_testing());
  ASSERT_EQ(S_OK, m.model->Remove(Bstr(u"f")));
  EXPECT_EQ("d", m.RootShape());
  EXPECT_EQ((std::vector<std::string>{"-f"}), m.TakeRecords());
  ULONG count = 0;
  m.model->GetCount(&count);
  EXPECT_EQ(1u, count);
  ATL::CComPtr<IBookmarkItem> item;
  EXPECT_EQ(E_FAIL, m.model->GetItem(Bstr(u"c"), item.Receive()));
  EXPECT_EQ(1u, m.model->address_index_size_for_testing());
  EXPECT_EQ(E_FAIL, m.model->Remove(Bstr(u"f")));
  EXPECT_EQ(E_INVALIDARG, m.model->Remove(nullptr));
}

TEST(TreeModelTest, RefusedMovesLoseNothing) {
  RecordedModel m;
  AddSample(m);
  struct Case {
    const char16_t* id;
    const char16_t* parent;
  };
  const Case kRefused[] = {
      {u"zz", u""},   // unknown node
      {u"a", u"zz"},  // unknown parent
      {u"f", u"f"},   // under itself
      {u"f", u"b"},   // into its own subtree
      {u"f", u"c"},   // deeper into it
  };
  for (const Case& c : kRefused) {
    EXPECT_EQ(E_FAIL, m.model->Move(Bstr(c.id), Bstr(c.parent), -1)) << (char)c.id[0];
    EXPECT_EQ("f(a,b(c)),d", m.RootShape());
    ULONG count = 0;
    m.model->GetCount(&count);
    EXPECT_EQ(5u, count);
  }
  ASSERT_EQ(S_OK, m.model->Move(Bstr(u"b"), nullptr, 1));
  ASSERT_EQ(S_OK, m.model->Move(Bstr(u"d"), Bstr(u"b"), 1));
  EXPECT_EQ("b(d,c),f(a)", m.RootShape());
  EXPECT_TRUE(m.TakeRecords().empty());  // a move makes no record
  ATL::CComPtr<IObjectList> ids;
  ASSERT_EQ(S_OK, m.model->GetSubtreeIds(Bstr(u"b"), ids.Receive()));
  EXPECT_EQ((std::vector<std::u16string>{u"d", u"c"}), Strings(ids));
}

TEST(TreeModelTest, NothingNestsDeeperThanTheFileCanHold) {
  RecordedModel m;
  std::u16string parent;
  for (size_t level = 1; level <= Storage::kMaxTreeDepth; ++level) {
    std::u16string id = u"n" + std::u16string(1, static_cast<char16_t>(u'0' + level % 10)) +
                        std::u16string(level / 10, u'x');
    ASSERT_EQ(S_OK, m.model->Add(Folder(id), Bstr(id), Bstr(parent), -1)) << level;
    parent = id;
  }
  EXPECT_EQ(E_FAIL, m.model->Add(Link(u"deep"), Bstr(u"deep"), Bstr(parent), -1));
  // A two-level subtree fits at the top but not under the deepest folder's parent.
  ASSERT_EQ(S_OK, m.model->Add(Folder(u"t"), Bstr(u"t"), nullptr, -1));
  ASSERT_EQ(S_OK, m.model->Add(Link(u"u"), Bstr(u"u"), Bstr(u"t"), -1));
  ATL::CComPtr<IBookmarkItem> deepest;
  ASSERT_EQ(S_OK, m.model->GetItem(Bstr(parent), deepest.Receive()));
  ATL::CComPtr<IObjectList> ids;
  m.model->GetAllIds(ids.Receive());
  const std::u16string second_deepest = Strings(ids)[Storage::kMaxTreeDepth - 2];
  EXPECT_EQ(E_FAIL, m.model->Move(Bstr(u"t"), Bstr(second_deepest), -1));
  EXPECT_EQ(S_OK, m.model->Move(Bstr(u"u"), Bstr(second_deepest), -1));
}

// A node of a hand-built graph.
ATL::CComPtr<ITreeNode> Node(const char16_t* id, const char16_t* parent,
                             std::vector<ATL::CComPtr<ITreeNode>> children = {}) {
  ATL::CComPtr<ITreeNode> node;
  EXPECT_EQ(S_OK, Util::Com::CreateObjectByIID(IID_ITreeNode, node.ReceiveVoid()));
  node->SetId(Bstr(id));
  node->SetParentId(Bstr(parent));
  node->SetItem(Link(id));
  ATL::CComPtr<IObjectList> list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  for (auto& child : children) list->Append(IID_ITreeNode, child);
  node->SetChildList(list);
  return node;
}

ATL::CComPtr<IObjectList> List(std::vector<ATL::CComPtr<ITreeNode>> nodes) {
  ATL::CComPtr<IObjectList> list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  for (auto& node : nodes) list->Append(IID_ITreeNode, node);
  return list;
}

TEST(TreeModelTest, SetRootAndAddSubTreeTakeOnlyProperTrees) {
  RecordedModel m;
  AddSample(m);
  ATL::CComPtr<ITreeNode> shared = Node(u"s", u"");
  ATL::CComPtr<ITreeNode> looped = Node(u"l", u"");
  ATL::CComPtr<IObjectList> loop_children;
  looped->GetChildList(loop_children.Receive());
  looped->SetParentId(Bstr(u""));
  ATL::CComPtr<ITreeNode> inner = Node(u"i", u"l");
  inner->SetChildList(List({looped}));  // l -> i -> l
  loop_children->Append(IID_ITreeNode, inner);
  const std::vector<ATL::CComPtr<IObjectList>> kRefused = {
      List({shared, shared}),                       // one node in two places
      List({looped}),                               // a cycle
      List({Node(u"p", u"", {Node(u"q", u"x")})}),  // a parent identifier that lies
      List({Node(u"p", u"zz")}),                    // a top-level node with a parent
      List({Node(u"", u"", {Node(u"q", u"")})}),    // children of a nameless node
  };
  for (const auto& graph : kRefused) {
    EXPECT_EQ(E_INVALIDARG, m.model->SetRoot(graph));
    EXPECT_EQ("f(a,b(c)),d", m.RootShape());
  }
  loop_children->RemoveAt(0);  // let the test's objects go

  // A ready-made subtree joins the index and the address index, without a record.
  ASSERT_EQ(S_OK, m.model->AddSubTree(Node(u"p", u"b", {Node(u"q", u"p")}), Bstr(u"b"), 1));
  EXPECT_EQ("f(a,b(p(q),c)),d", m.RootShape());
  EXPECT_EQ(5u, m.model->address_index_size_for_testing());
  EXPECT_TRUE(m.TakeRecords().empty());
  ATL::CComPtr<IBookmarkItem> q;
  EXPECT_EQ(S_OK, m.model->GetItem(Bstr(u"q"), q.Receive()));
  // A node of the tree cannot be added a second time; an unknown parent is a quiet no.
  ATL::CComPtr<IObjectList> root;
  m.model->GetRoot(root.Receive());
  EXPECT_EQ(E_INVALIDARG, m.model->AddSubTree(NodeAt(root, 1), Bstr(u"b"), 1));
  EXPECT_EQ(S_OK, m.model->AddSubTree(Node(u"z", u"nope"), Bstr(u"nope"), 1));
  EXPECT_EQ(E_INVALIDARG, m.model->AddSubTree(nullptr, nullptr, 1));
  EXPECT_EQ("f(a,b(p(q),c)),d", m.RootShape());
}

TEST(TreeModelTest, ReadsOfUnknownNodesLeaveTheOutValue) {
  RecordedModel m;
  AddSample(m);
  IObjectList* const sentinel = reinterpret_cast<IObjectList*>(0x10);
  IObjectList* out = sentinel;
  EXPECT_EQ(S_OK, m.model->GetChildren(Bstr(u"zz"), &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(S_OK, m.model->GetSubtreeIds(Bstr(u"zz"), &out));
  EXPECT_EQ(sentinel, out);

  ATL::CComPtr<IObjectList> ids;
  ASSERT_EQ(S_OK, m.model->GetAllIds(ids.Receive()));
  EXPECT_EQ((std::vector<std::u16string>{u"f", u"a", u"b", u"c", u"d"}), Strings(ids));
  ATL::CComPtr<IObjectList> items;
  ASSERT_EQ(S_OK, m.model->GetAllItems(items.Receive()));
  EXPECT_EQ((std::vector<std::u16string>{u"f", u"a", u"b", u"c", u"d"}),
            bookmark_test::ItemIds(items));
}

TEST(TreeModelTest, SearchExaminesAtMostLimitEntriesInIdentifierOrder) {
  RecordedModel m;
  for (char16_t c = u'9'; c >= u'0'; --c) {
    std::u16string id(1, c);
    ASSERT_EQ(S_OK, m.model->Add(Link(id), Bstr(id), nullptr, -1));
  }
  struct Case {
    LONG limit;
    std::vector<std::u16string> ids;
  };
  const Case kCases[] = {{3, {u"0", u"1", u"2"}}, {0, {}}, {-2, {}}, {1, {u"0"}}};
  for (const Case& c : kCases) {
    ATL::CComPtr<IObjectList> found;
    ASSERT_EQ(S_OK, m.model->Search(Bstr(u"HTTP"), c.limit, found.Receive()));
    EXPECT_EQ(c.ids, bookmark_test::ItemIds(found)) << c.limit;
  }
  ATL::CComPtr<IObjectList> all;
  ASSERT_EQ(S_OK, m.model->Search(Bstr(u"/5/"), -1, all.Receive()));
  EXPECT_EQ((std::vector<std::u16string>{u"5"}), bookmark_test::ItemIds(all));
}

TEST(TreeModelTest, CloneTreeSharesNothing) {
  RecordedModel m;
  AddSample(m);
  ATL::CComPtr<IObjectList> copy;
  ASSERT_EQ(S_OK, m.model->CloneTree(copy.Receive()));
  EXPECT_EQ("f(a,b(c)),d", Shape(copy));
  ATL::CComPtr<IObjectList> root;
  m.model->GetRoot(root.Receive());
  EXPECT_NE(root.get(), copy.get());
  ATL::CComPtr<IBookmarkItem> original;
  ATL::CComPtr<IBookmarkItem> copied;
  NodeAt(root, 1)->GetItem(original.Receive());
  NodeAt(copy, 1)->GetItem(copied.Receive());
  EXPECT_NE(original.get(), copied.get());
  EXPECT_EQ(u"d", IdOf(copied));
  EXPECT_NE(NodeAt(root, 0).get(), NodeAt(copy, 0).get());
}

TEST(TreeModelTest, ATransactionIsTheOwnersUntilItEnds) {
  RecordedModel m;
  AddSample(m);
  ASSERT_EQ(S_OK, m.model->BeginTransaction());
  EXPECT_EQ(E_FAIL, m.model->BeginTransaction());
  HRESULT other_begin = S_OK;
  HRESULT other_end = E_FAIL;
  std::string other_shape;
  auto from_other_thread = [&] {
    std::thread([&] {
      other_begin = m.model->BeginTransaction();
      other_end = m.model->EndTransaction(1);
      other_shape = m.RootShape();
    }).join();
  };

  ASSERT_EQ(S_OK, m.model->Add(Link(u"x"), Bstr(u"x"), Bstr(u"b"), 1));
  ASSERT_EQ(S_OK, m.model->Remove(Bstr(u"a")));
  ASSERT_EQ(S_OK, m.model->Move(Bstr(u"d"), Bstr(u"f"), 1));
  ASSERT_EQ(S_OK, m.model->Update(Bstr(u"c"), Link(u"c", u"http://new/")));
  EXPECT_EQ(E_FAIL, m.model->Move(Bstr(u"f"), Bstr(u"b"), 1));
  EXPECT_EQ("f(d,b(x,c))", m.RootShape());
  ULONG count = 0;
  m.model->GetCount(&count);
  EXPECT_EQ(5u, count);

  from_other_thread();
  EXPECT_EQ(E_FAIL, other_begin);
  EXPECT_EQ(S_OK, other_end);  // not the owner: the transaction stays open
  EXPECT_EQ("f(a,b(c)),d", other_shape);
  EXPECT_EQ("f(d,b(x,c))", m.RootShape());
  // Searches show the committed tree meanwhile.
  BOOL found = 1;
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://new/"), &found));
  EXPECT_EQ(0, found);

  ASSERT_EQ(S_OK, m.model->EndTransaction(1));
  EXPECT_EQ("f(d,b(x,c))", m.RootShape());
  EXPECT_EQ((std::vector<std::string>{"+cmd-sync-after-commit"}), m.TakeRecords());
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://new/"), &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://a/"), &found));
  EXPECT_EQ(0, found);
  EXPECT_EQ(E_FAIL, m.model->EndTransaction(1));
}

TEST(TreeModelTest, ADiscardedTransactionLeavesNoTrace) {
  RecordedModel m;
  AddSample(m);
  ATL::CComPtr<IObjectList> before;
  m.model->GetRoot(before.Receive());
  ASSERT_EQ(S_OK, m.model->BeginTransaction());
  ASSERT_EQ(S_OK, m.model->Add(Link(u"x"), Bstr(u"x"), nullptr, 1));
  ASSERT_EQ(S_OK, m.model->Remove(Bstr(u"b")));
  ASSERT_EQ(S_OK, m.model->Update(Bstr(u"a"), Link(u"a", u"http://other/")));
  ATL::CComPtr<IBookmarkItem> removed;
  EXPECT_EQ(E_FAIL, m.model->GetItem(Bstr(u"c"), removed.Receive()));  // gone with its folder
  ASSERT_EQ(S_OK, m.model->EndTransaction(0));

  ATL::CComPtr<IObjectList> after;
  m.model->GetRoot(after.Receive());
  EXPECT_EQ(before.get(), after.get());
  EXPECT_EQ("f(a,b(c)),d", Shape(before));
  EXPECT_TRUE(m.TakeRecords().empty());
  EXPECT_EQ(3u, m.model->address_index_size_for_testing());
  BOOL found = 1;
  m.model->IsBookmarkByURL(Bstr(u"http://other/"), &found);
  EXPECT_EQ(0, found);
  EXPECT_EQ(S_OK, m.model->BeginTransaction());  // the next one may start
  // What the owner adds to the committed tree meanwhile is indexed there, addresses included.
  ASSERT_EQ(S_OK, m.model->AddSubTree(Node(u"s", u""), nullptr, -1));
  EXPECT_EQ(S_OK, m.model->EndTransaction(0));
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://s/"), &found));
  EXPECT_EQ(1, found);
}

}  // namespace
