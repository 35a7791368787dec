// The bookmark database synchroniser over real SQLite files: the tree its rows make, rows that
// do not make a tree, and the database it never writes.
#include "storage/bookmark/bookmark_storage_sync_db.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "browserstorage/storage_service.h"
#include "external/database_service_for_testing.h"
#include "platform/collation_for_testing.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/sync/storage_config_base.h"
#include "tests/bookmark/bookmark_test_util.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/database/database_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Text;
using database_test::SqliteFile;
using Storage::CBookmarkTreeModel;
using Log = std::vector<Util::DatabaseLogEntry>;
using Util::DatabaseLogEntry;

struct Row {
  std::u16string id;
  std::u16string parent;
};

constexpr char kCreateBookmarkTable[] =
    "create table bookmark(id text, parentid text, title text, type integer, url text, "
    "note text, accesstime integer, manualorder integer, unused integer, sysdefault integer, "
    "accesscount integer, addtime integer)";

class BookmarkSyncDBTest : public platform_test::FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    platform::SetCollationLocaleForTesting("en_US");
  }
  void TearDown() override {
    platform::SetCollationLocaleForTesting(nullptr);
    FileFixture::TearDown();
  }

  std::string Path() const { return folder_.Native("bookmark.db"); }

  // A fresh "bookmark" table holding `rows` in this order; the title is the identifier.
  void WriteRows(const std::vector<Row>& rows) {
    std::remove(Path().c_str());
    SqliteFile file(Path());
    file.Exec(kCreateBookmarkTable);
    file.Exec("begin");
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(file.db(),
                                            "insert into bookmark(id, parentid, title, type) "
                                            "values(?1, ?2, ?1, 1)",
                                            -1, &insert, nullptr));
    for (const Row& row : rows) {
      sqlite3_bind_text16(insert, 1, row.id.data(), static_cast<int>(row.id.size() * 2),
                          SQLITE_TRANSIENT);
      sqlite3_bind_text16(insert, 2, row.parent.data(), static_cast<int>(row.parent.size() * 2),
                          SQLITE_TRANSIENT);
      EXPECT_EQ(SQLITE_DONE, sqlite3_step(insert));
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    file.Exec("commit");
  }

  base::scoped_refptr<CBookmarkTreeModel> Open(const std::string& path) {
    base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
    config->SetFilePath(platform_test::Widen(path));
    config->SetStorageType(Storage::kStorageTypeBookmarkTree);
    config->SetCacheKind(Storage::kCacheKindFull);
    config->SetSyncKind(Storage::kSyncKindDatabase);
    config->SetImportOnCreate(1);
    base::scoped_refptr<CBookmarkTreeModel> model(
        new CBookmarkTreeModel(config.get(), nullptr, nullptr));
    EXPECT_NE(nullptr, model->synchroniser());
    return model;
  }
  base::scoped_refptr<CBookmarkTreeModel> Open() { return Open(Path()); }

  static std::string Shape(CBookmarkTreeModel* model) {
    ATL::CComPtr<IObjectList> root;
    model->GetRoot(root.Receive());
    return root ? bookmark_test::Shape(root) : "(no root)";
  }
};

TEST_F(BookmarkSyncDBTest, RowsMakeTheSameTreeInAnyOrder) {
  struct Case {
    const char* what;
    std::vector<Row> rows;
    std::string shape;
  };
  const Case kCases[] = {
      {"parents first",
       {{u"a", u""}, {u"b", u"a"}, {u"c", u"b"}, {u"d", u"a"}, {u"e", u""}},
       "a(b(c),d),e"},
      {"children first",
       {{u"c", u"b"}, {u"b", u"a"}, {u"d", u"a"}, {u"a", u""}, {u"e", u""}},
       "a(b(c),d),e"},
      {"a top-level row after its children keeps them",
       {{u"b", u"a"}, {u"d", u"a"}, {u"e", u""}, {u"c", u"b"}, {u"a", u""}},
       "e,a(b(c),d)"},
      {"top-level order is row order", {{u"z", u""}, {u"m", u""}, {u"a", u""}}, "z,m,a"},
      {"no rows", {}, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteRows(c.rows);
    base::scoped_refptr<CBookmarkTreeModel> model = Open();
    EXPECT_EQ(c.shape, Shape(model.get()));
    ULONG failed = 9;
    EXPECT_EQ(S_OK, model->IsImportFailed(&failed));
    EXPECT_EQ(0u, failed);
  }
}

TEST_F(BookmarkSyncDBTest, EachColumnFillsItsProperty) {
  {
    SqliteFile file(Path());
    file.Exec(kCreateBookmarkTable);
    file.Exec(
        "insert into bookmark values('f', '', 'Folder', 2, '', '', 0, 0, 0, 0, 0, 0),"
        "('x', 'f', 'Title', 1, 'http://x/', 'a note', 8589934592, -2, 77, -1, 12, 9)");
  }
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  ASSERT_EQ("f(x)", Shape(model.get()));
  ATL::CComPtr<IBookmarkItem> item;
  ASSERT_EQ(S_OK, model->GetItem(Bstr(u"x"), item.Receive()));
  const auto text = [&](HRESULT (IBookmarkItem::*getter)(BSTR*)) {
    ATL::CComBSTR value;
    EXPECT_EQ(S_OK, (item->*getter)(value.Receive()));
    return Text(value);
  };
  const auto number = [&](HRESULT (IBookmarkItem::*getter)(LONGLONG*)) {
    LONGLONG value = 99;
    EXPECT_EQ(S_OK, (item->*getter)(&value));
    return value;
  };
  EXPECT_EQ(u"x", text(&IBookmarkItem::GetId));
  EXPECT_EQ(u"f", text(&IBookmarkItem::GetParentId));
  EXPECT_EQ(u"Title", text(&IBookmarkItem::GetTitle));
  EXPECT_EQ(u"http://x/", text(&IBookmarkItem::GetUrl));
  EXPECT_EQ(u"a note", text(&IBookmarkItem::GetNote));
  EXPECT_EQ(u"", text(&IBookmarkItem::GetIconUrl));  // not a column: the item's default
  EXPECT_EQ(1, number(&IBookmarkItem::GetKind));
  EXPECT_EQ(8589934592, number(&IBookmarkItem::GetLastAccessTime));
  EXPECT_EQ(-2, number(&IBookmarkItem::GetSortPosition));  // 32 bits, sign kept
  EXPECT_EQ(-1, number(&IBookmarkItem::GetSystemDefault));
  EXPECT_EQ(9, number(&IBookmarkItem::GetTimeAdded));
  EXPECT_EQ(0, number(&IBookmarkItem::GetOrigin));
  LONG count = 0;
  EXPECT_EQ(S_OK, item->GetAccessCount(&count));
  EXPECT_EQ(12, count);
  BOOL found = FALSE;
  EXPECT_EQ(S_OK, model->IsBookmarkByURL(Bstr(u"http://x/"), &found));
  EXPECT_TRUE(found);
}

TEST_F(BookmarkSyncDBTest, RowsThatDoNotMakeATreeCostOnlyThemselves) {
  std::vector<Row> deep = {{u"top", u""}};
  for (int level = 1; level < 600; ++level) {
    deep.push_back({u"n" + platform_test::Widen(std::to_string(level)),
                    level == 1 ? u"top" : u"n" + platform_test::Widen(std::to_string(level - 1))});
  }
  struct Case {
    const char* what;
    std::vector<Row> rows;
    const char* shape;  // null: not compared
    ULONG count;        // nodes in the model
  };
  const Case kCases[] = {
      {"an identifier twice: the first row wins",
       {{u"a", u""}, {u"b", u"a"}, {u"a", u"b"}, {u"b", u""}},
       "a(b)",
       2},
      {"a parent cycle", {{u"c", u""}, {u"a", u"b"}, {u"b", u"a"}, {u"d", u"a"}}, "c", 1},
      {"its own parent", {{u"a", u"a"}, {u"b", u""}}, "b", 1},
      {"no identifier", {{u"", u""}, {u"", u"a"}, {u"a", u""}, {u"b", u""}}, "a,b", 2},
      {"a parent never read", {{u"a", u"ghost"}, {u"b", u""}}, "b", 1},
      {"the identifier after a NUL does not count",
       {{u"a", u""}, {std::u16string(u"a\0x", 3), u""}, {u"b", std::u16string(u"a\0y", 3)}},
       "a(b)",
       2},
      // Spelled apart, collated alike: one identifier, linked by the parent's own spelling.
      {"one identifier in two spellings",
       {{u"e\u0301", u"caf\u00e9"}, {u"caf\u00e9", u""}, {u"x", u"e\u0301"}, {u"y", u"\u00e9"}},
       nullptr,
       4},
      {"a chain deeper than the tree may be", deep, nullptr, 500},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteRows(c.rows);
    testing_support::CapturingLogController log;
    base::scoped_refptr<CBookmarkTreeModel> model = Open();
    if (c.shape != nullptr) {
      EXPECT_EQ(c.shape, Shape(model.get()));
    }
    // The model took the tree: a refused one would leave it without a root.
    ULONG count = 0;
    EXPECT_EQ(S_OK, model->GetCount(&count));
    EXPECT_EQ(c.count, count);
    // Every row left out is accounted for in the log.
    if (c.rows.size() != c.count) {
      EXPECT_FALSE(log.texts(u"").empty());
    }
  }
}

TEST_F(BookmarkSyncDBTest, ADatabaseThatCannotBeOpenedLeavesNoRootAndBlocksNobody) {
  platform_test::WriteNative(folder_.Native("text"), "not a database");
  for (const std::string& path : {folder_.Native("missing/bookmark.db"), folder_.Native("text")}) {
    SCOPED_TRACE(path);
    Util::CScopedDatabaseLog log;
    base::scoped_refptr<CBookmarkTreeModel> model = Open(path);
    ULONG finished = 0;
    EXPECT_EQ(S_OK, model->IsImportFinished(&finished));
    EXPECT_EQ(1u, finished);
    ULONG failed = 9;
    EXPECT_EQ(S_OK, model->IsImportFailed(&failed));
    EXPECT_EQ(0u, failed);
    EXPECT_EQ("(no root)", Shape(model.get()));
    ULONG count = 9;
    EXPECT_EQ(S_OK, model->GetCount(&count));
    EXPECT_EQ(0u, count);
    model->synchroniser()->RecordSet(u"k", nullptr, 0);
    model->synchroniser()->performSync();
    EXPECT_TRUE(model->synchroniser()->pending_changes_for_testing().empty());
    model.reset();
    EXPECT_EQ(log.Take(), Log{});
  }
  EXPECT_EQ("not a database", platform_test::ReadNative(folder_.Native("text")));
}

TEST_F(BookmarkSyncDBTest, ADatabaseWithoutTheTableGivesAnEmptyTree) {
  SqliteFile(Path()).Exec("create table other(x)");
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  EXPECT_EQ("", Shape(model.get()));
  ASSERT_EQ(S_OK, model->Add(bookmark_test::Link(u"a"), Bstr(u"a"), nullptr, -1));
  EXPECT_EQ("a", Shape(model.get()));
}

TEST_F(BookmarkSyncDBTest, SyncsWriteNothing) {
  WriteRows({{u"f", u""}, {u"a", u"f"}});
  const std::string before = platform_test::ReadNative(Path());
  {
    Util::CScopedDatabaseLog log;
    testing_support::CapturingLogController lines;
    base::scoped_refptr<CBookmarkTreeModel> model = Open();
    EXPECT_EQ(log.Take(), (Log{{DatabaseLogEntry::kPrepare, Storage::kBookmarkSelectSql}}));
    std::vector<std::u16string> scopes;
    const std::u16string enter = u"进入函数:Storage::CBookmarkStorageSyncDB::";
    for (const std::u16string& text : lines.texts(u"performance_profile;")) {
      if (text.starts_with(enter)) scopes.push_back(text.substr(enter.size()));
    }
    EXPECT_EQ(scopes, (std::vector<std::u16string>{u"performImport\n", u"prepareForDB\n",
                                                   u"GetWholeTree\n", u"GetAllBookmarkItem\n"}));
    ASSERT_EQ(S_OK, model->Add(bookmark_test::Link(u"new"), Bstr(u"new"), Bstr(u"f"), -1));
    ASSERT_EQ(S_OK, model->Remove(Bstr(u"a")));
    EXPECT_EQ("f(new)", Shape(model.get()));
    model->synchroniser()->performSync();
    EXPECT_EQ(log.Take(), (Log{{DatabaseLogEntry::kBegin, ""}, {DatabaseLogEntry::kCommit, ""}}));
    model->synchroniser()->performSync();  // nothing pending: no transaction
    EXPECT_EQ(log.Take(), Log{});
    ASSERT_EQ(S_OK, model->Update(Bstr(u"new"), bookmark_test::Link(u"new", u"http://other/")));
  }  // and the final sync
  EXPECT_EQ(before, platform_test::ReadNative(Path()));
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  EXPECT_EQ("f(a)", Shape(model.get()));
}

}  // namespace
