// The key-value database synchroniser over real SQLite files: import, replayed changes, the
// statements it sends, and databases it cannot use.
#include "storage/keyvalue/key_value_storage_sync_db.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "external/database_service_for_testing.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/database/database_test_util.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using database_test::Rows;
using database_test::SqliteFile;
using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;
using Log = std::vector<Util::DatabaseLogEntry>;
using Storage::CKeyValueStorageCacheBase;
using Util::DatabaseLogEntry;

DatabaseLogEntry Entry(DatabaseLogEntry::Kind kind, std::string_view text = "") {
  return {kind, std::string(text)};
}

// The entries of `log` of one kind.
Log OfKind(const Log& log, DatabaseLogEntry::Kind kind) {
  Log out;
  for (const DatabaseLogEntry& entry : log) {
    if (entry.kind == kind) out.push_back(entry);
  }
  return out;
}

// The scopes of `prefix` entered, in order, without the prefix.
std::vector<std::u16string> Entered(const testing_support::CapturingLogController& log,
                                    const std::u16string& prefix) {
  const std::u16string enter = u"进入函数:" + prefix;
  std::vector<std::u16string> names;
  for (const std::u16string& text : log.texts(u"performance_profile;")) {
    if (text.starts_with(enter))
      names.push_back(text.substr(enter.size(), text.size() - enter.size() - 1));
  }
  return names;
}

class KeyValueSyncDBTest : public platform_test::FileFixture {
 protected:
  std::string Path() const { return folder_.Native("kv.db"); }

  base::scoped_refptr<CKeyValueStorageCacheBase> Open(const std::string& path,
                                                      Storage::CStorageSyncTimer* timer = nullptr) {
    auto config = kv_test::XmlConfig(platform_test::Widen(path));
    config->SetSyncKind(Storage::kSyncKindDatabase);
    base::scoped_refptr<CKeyValueStorageCacheBase> cache =
        CKeyValueStorageCacheBase::create(config.get(), nullptr, timer);
    EXPECT_TRUE(cache);
    if (cache) {
      EXPECT_NE(nullptr, cache->synchroniser());
    }
    return cache;
  }
  base::scoped_refptr<CKeyValueStorageCacheBase> Open() { return Open(Path()); }

  // The table's rows as key and hexadecimal value, in key order.
  Rows Table() {
    SqliteFile file(Path());
    return file.Query("select key, hex(value) from ItemTable order by key");
  }
};

TEST_F(KeyValueSyncDBTest, ASyncReplaysTheChangesInOneTransaction) {
  struct Case {
    const char* what;
    Rows before;  // key, hexadecimal value
    void (*changes)(CKeyValueStorageCacheBase*);
    Rows after;
    std::vector<std::string_view> runs;  // the statements run between begin and commit
  };
  const Case kCases[] = {
      {"set a, set a again, remove a",
       {},
       [](CKeyValueStorageCacheBase* cache) {
         cache->SetValue(u"a", NewValue({1}));
         cache->SetValue(u"a", NewValue({2}));
         cache->RemoveValue(u"a");
       },
       {},
       {Storage::kItemTableSetSql, Storage::kItemTableSetSql, Storage::kItemTableRemoveSql}},
      {"clear, then set b",
       {{"a", "01"}, {"c", "03"}},
       [](CKeyValueStorageCacheBase* cache) {
         cache->Clear();
         cache->SetValue(u"b", NewValue({0x0B, 0x00}));
       },
       {{"b", "0B00"}},
       {Storage::kItemTableClearSql, Storage::kItemTableSetSql}},
      {"the last write of a key wins",
       {{"a", "01"}},
       [](CKeyValueStorageCacheBase* cache) {
         cache->SetValue(u"a", NewValue({2}));
         cache->SetValue(u"b", NewValue({3}));
         cache->SetValue(u"a", NewValue({4}));
       },
       {{"a", "04"}, {"b", "03"}},
       {Storage::kItemTableSetSql, Storage::kItemTableSetSql, Storage::kItemTableSetSql}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(Path().c_str());
    {
      SqliteFile file(Path());
      file.Exec(Storage::kItemTableCreateSql);
      for (const auto& row : c.before) {
        file.Exec("insert into ItemTable(key, value) values('" + row[0] + "', x'" + row[1] + "')");
      }
    }
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    ASSERT_EQ(c.before.size(), cache->GetCount());
    c.changes(cache.get());

    Util::CScopedDatabaseLog log;
    cache->synchroniser()->performSync();
    EXPECT_EQ(c.after, Table());
    Log entries = log.Take();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(Entry(DatabaseLogEntry::kBegin), entries.front());
    EXPECT_EQ(Entry(DatabaseLogEntry::kCommit), entries.back());
    Log runs;
    for (std::string_view sql : c.runs) runs.push_back(Entry(DatabaseLogEntry::kRun, sql));
    EXPECT_EQ(runs, OfKind(entries, DatabaseLogEntry::kRun));
    EXPECT_EQ(1u, OfKind(entries, DatabaseLogEntry::kBegin).size());
  }
}

TEST_F(KeyValueSyncDBTest, TheStatementsSentAreTheDeclaredOnes) {
  // The create statement: its pieces joined by one space, ten tabs and two spaces.
  const std::string gap = " " + std::string(10, '\t') + "  ";
  const std::string create = Storage::kItemTableCreateSql;
  std::vector<std::string> pieces;
  for (size_t start = 0;;) {
    const size_t found = create.find(gap, start);
    pieces.push_back(create.substr(start, found - start));
    if (found == std::string::npos) break;
    start = found + gap.size();
  }
  EXPECT_EQ(pieces, (std::vector<std::string>{"create table ItemTable(", "id INTEGER PRIMARY KEY,",
                                              "key text not null UNIQUE ON CONFLICT REPLACE,",
                                              "value BLOB default null", ")"}));

  Util::CScopedDatabaseLog log;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  EXPECT_EQ(log.Take(), (Log{Entry(DatabaseLogEntry::kTableExists, Storage::kItemTableName),
                             Entry(DatabaseLogEntry::kExecute, Storage::kItemTableCreateSql),
                             Entry(DatabaseLogEntry::kPrepare, Storage::kItemTableSelectSql)}));
  // The engine took the text as written (it keeps it, but for the case of "create table").
  SqliteFile file(Path());
  EXPECT_EQ(file.Query("select substr(sql, 13) from sqlite_master where name = 'ItemTable'"),
            (Rows{{create.substr(12)}}));

  ASSERT_TRUE(cache->SetValue(u"a", NewValue({1})));
  ASSERT_TRUE(cache->RemoveValue(u"a"));
  cache->Clear();
  cache->synchroniser()->performSync();
  EXPECT_EQ(log.Take(), (Log{Entry(DatabaseLogEntry::kBegin),
                             Entry(DatabaseLogEntry::kPrepare, Storage::kItemTableRemoveSql),
                             Entry(DatabaseLogEntry::kPrepare, Storage::kItemTableClearSql),
                             Entry(DatabaseLogEntry::kPrepare, Storage::kItemTableSetSql),
                             Entry(DatabaseLogEntry::kRun, Storage::kItemTableSetSql),
                             Entry(DatabaseLogEntry::kRun, Storage::kItemTableRemoveSql),
                             Entry(DatabaseLogEntry::kRun, Storage::kItemTableClearSql),
                             Entry(DatabaseLogEntry::kCommit)}));
  // Prepared once: the next sync only runs them.
  ASSERT_TRUE(cache->SetValue(u"b", NewValue({2})));
  cache->synchroniser()->performSync();
  EXPECT_EQ(log.Take(), (Log{Entry(DatabaseLogEntry::kBegin),
                             Entry(DatabaseLogEntry::kRun, Storage::kItemTableSetSql),
                             Entry(DatabaseLogEntry::kCommit)}));
}

TEST_F(KeyValueSyncDBTest, ImportsTheRowsThatHoldAValue) {
  {
    SqliteFile file(Path());
    file.Exec(Storage::kItemTableCreateSql);
    file.Exec(
        "insert into ItemTable(key, value) values"
        "('a', x'01FF'), ('null', null), ('empty', x''), ('', x'02'), ('cut' || char(0) || 'x', "
        "x'03'), ('caf' || char(233), x'00')");
  }
  testing_support::CapturingLogController lines;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  EXPECT_EQ(Entered(lines, u"Storage::CKeyValueStorageSyncDB::"),
            (std::vector<std::u16string>{u"prepareForDB", u"performImport"}));
  EXPECT_EQ(0, cache->IsImportFailed());
  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  // Keys end at their first NUL, as the storage reads them; nameless rows are left out.
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"a", u"caf\u00e9", u"cut"}));
  EXPECT_EQ(BytesOf(cache->GetValue(u"a")), (Bytes{0x01, 0xFF}));
  EXPECT_EQ(BytesOf(cache->GetValue(u"caf\u00e9")), (Bytes{0x00}));
  EXPECT_TRUE(cache->synchroniser()->pending_changes_for_testing().empty());
}

TEST_F(KeyValueSyncDBTest, ADatabaseWithoutTheTableGetsItAndReportsTheImportFailed) {
  struct Case {
    const char* what;
    const char* setup;  // null: no file at all
  };
  const Case kCases[] = {
      {"no file", nullptr},
      {"another table only", "create table other(x)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(Path().c_str());
    if (c.setup != nullptr) SqliteFile(Path()).Exec(c.setup);
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(1, cache->IsImportFailed());
    EXPECT_EQ(0u, cache->GetCount());
    ASSERT_TRUE(cache->SetValue(u"k", NewValue({7})));
    cache->synchroniser()->performSync();
    EXPECT_EQ(Table(), (Rows{{"k", "07"}}));
  }
}

TEST_F(KeyValueSyncDBTest, ValuesSurviveAReopen) {
  const Bytes binary = {0x00, 0x01, 0x00, 0xFF};
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    ASSERT_TRUE(cache->SetValue(u"binary", NewValue(binary)));
    ASSERT_TRUE(cache->SetValue(u"\u4e2d\u6587 \U0001F600", NewValue({0x42})));
  }  // the final sync replays what is pending
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  EXPECT_EQ(0, cache->IsImportFailed());
  EXPECT_EQ(2u, cache->GetCount());
  EXPECT_EQ(BytesOf(cache->GetValue(u"binary")), binary);
  EXPECT_EQ(BytesOf(cache->GetValue(u"\u4e2d\u6587 \U0001F600")), (Bytes{0x42}));
}

TEST_F(KeyValueSyncDBTest, AnIdleTickRunsNoTransactionAndStopsTheTimer) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(Path(), timer.get());
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  ASSERT_TRUE(cache->SetValue(u"k", NewValue({1})));
  EXPECT_NE(nullptr, sync->timer_for_testing());

  Util::CScopedDatabaseLog log;
  testing_support::CapturingLogController lines;
  sync->performSync();
  EXPECT_EQ(1u, OfKind(log.Take(), DatabaseLogEntry::kBegin).size());
  EXPECT_NE(nullptr, sync->timer_for_testing());  // one more tick finds nothing and stops it
  std::vector<std::u16string> performance = lines.texts(u"performance_profile;");
  ASSERT_FALSE(performance.empty());
  EXPECT_EQ(u"进入函数:Storage::CKeyValueStorageSyncDB::performSync\n", performance.front());

  sync->performSync();
  EXPECT_EQ(log.Take(), Log{});
  EXPECT_EQ(nullptr, sync->timer_for_testing());
}

TEST_F(KeyValueSyncDBTest, ADatabaseThatCannotBeOpenedLeavesTheStorageInMemory) {
  platform_test::WriteNative(folder_.Native("text"), "not a database, not ours to replace");
  ASSERT_TRUE(std::filesystem::create_directory(folder_.Native("folder")));
  struct Case {
    const char* what;
    std::string path;
  };
  const Case kCases[] = {
      {"inside a missing folder", folder_.Native("missing/kv.db")},
      {"a folder", folder_.Native("folder")},
      {"not a database", folder_.Native("text")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Util::CScopedDatabaseLog log;
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(c.path);
    EXPECT_EQ(1, cache->IsImportFinished());
    EXPECT_EQ(0, cache->IsImportFailed());
    EXPECT_EQ(0u, cache->GetCount());
    ASSERT_TRUE(cache->SetValue(u"k", NewValue({1})));
    EXPECT_EQ(1u, cache->GetCount());
    cache->synchroniser()->performSync();  // discards the changes
    EXPECT_TRUE(cache->synchroniser()->pending_changes_for_testing().empty());
    cache.reset();
    EXPECT_EQ(log.Take(), Log{});
  }
  EXPECT_EQ("not a database, not ours to replace",
            platform_test::ReadNative(folder_.Native("text")));
  EXPECT_FALSE(platform_test::Exists(folder_.Native("missing")));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Native("folder")));
}

TEST_F(KeyValueSyncDBTest, ATransactionThatCannotBeginOrCommitIsTriedAgain) {
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  SqliteFile file(Path());

  // Another connection writes: the begin fails.
  ASSERT_TRUE(cache->SetValue(u"a", NewValue({1})));
  file.Exec("begin immediate");
  sync->performSync();
  file.Exec("commit");
  EXPECT_EQ(1u, sync->pending_changes_for_testing().size());
  EXPECT_EQ(Table(), Rows{});

  // Another connection reads: the commit cannot finish. Changes made meanwhile come after.
  sqlite3_stmt* reader = nullptr;
  ASSERT_EQ(SQLITE_OK,
            sqlite3_prepare_v2(file.db(), "select 1 from sqlite_master", -1, &reader, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(reader));
  sync->performSync();
  sqlite3_finalize(reader);
  ASSERT_TRUE(cache->RemoveValue(u"a"));
  ASSERT_TRUE(cache->SetValue(u"b", NewValue({2})));
  EXPECT_EQ(3u, sync->pending_changes_for_testing().size());
  EXPECT_EQ(Table(), Rows{});

  sync->performSync();
  EXPECT_EQ(Table(), (Rows{{"b", "02"}}));
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
}

}  // namespace
