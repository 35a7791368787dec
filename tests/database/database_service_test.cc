// The database service over real files: statements, columns, result codes, lifetimes, threads.
#include "browserstorage/database_service.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "tests/common/temp_folder.h"
#include "tests/database/database_test_util.h"

namespace {

using ATL::CComBSTR;
using ATL::CComPtr;
using database_test::Rows;
using database_test::SqliteFile;

// SQLite's result codes the tests expect.
constexpr int kError = 1;
constexpr int kBusy = 5;
constexpr int kCantOpen = 14;
constexpr int kConstraint = 19;
constexpr int kRange = 25;
constexpr int kNotADatabase = 26;

CComPtr<IDatabaseService> Service() {
  CComPtr<IDatabaseService> service;
  EXPECT_EQ(S_OK, Util::Com::GetService(IID_IDatabaseService, service.ReceiveVoid()));
  return service;
}

CComBSTR Bstr(std::u16string_view text) {
  return CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

std::u16string Text(BSTR text) { return std::u16string(text, SysStringLen(text)); }

class DatabaseServiceTest : public platform_test::FileFixture {
 protected:
  std::string Path() const { return folder_.Native("db"); }

  CComPtr<IDatabaseConnection> Open() {
    CComPtr<IDatabaseConnection> connection;
    EXPECT_EQ(S_OK, Service()->OpenDatabase(Path().c_str(), connection.Receive()));
    return connection;
  }

  static CComPtr<IDatabaseStatement> Prepare(IDatabaseConnection* connection, const char* sql) {
    CComPtr<IDatabaseStatement> statement;
    EXPECT_EQ(S_OK, connection->Prepare(sql, statement.Receive())) << sql;
    return statement;
  }
};

TEST_F(DatabaseServiceTest, TheServiceIsOneObjectUnderItsIdentifier) {
  CComPtr<IDatabaseService> first = Service();
  CComPtr<IDatabaseService> second = Service();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(MakeHResult(0x80004003u), Util::Com::GetService(IID_IDatabaseService, nullptr));
}

TEST_F(DatabaseServiceTest, BindsStepsAndReadsEveryColumnKind) {
  CComPtr<IDatabaseConnection> connection = Open();
  ASSERT_TRUE(connection);
  ASSERT_EQ(S_OK, connection->Execute("create table t(n integer, s text, b blob, z)"));
  BOOL exists = FALSE;
  ASSERT_EQ(S_OK, connection->TableExists("T", &exists));  // names ignore ASCII case
  EXPECT_TRUE(exists);
  ASSERT_EQ(S_OK, connection->TableExists("missing", &exists));
  EXPECT_FALSE(exists);

  // Named parameters by position; the statement runs again after a reset with new bindings.
  CComPtr<IDatabaseStatement> insert =
      Prepare(connection, "insert into t values(:n, :s, :b, null)");
  ASSERT_TRUE(insert);
  const std::u16string text(u"caf\u00e9 \U0001F600 a\0b", 11);  // non-BMP, a NUL inside
  const BYTE bytes[] = {0x00, 0xFF, 0x10};
  ASSERT_EQ(S_OK, insert->BindText(2, Bstr(text)));
  ASSERT_EQ(S_OK, insert->BindBlob(3, bytes, 3));
  ASSERT_EQ(S_OK, insert->Execute());
  ASSERT_EQ(S_OK, insert->Reset());
  ASSERT_EQ(S_OK, insert->BindText(2, nullptr));  // null is the empty string, not NULL
  ASSERT_EQ(S_OK, insert->BindBlob(3, nullptr, 0));
  ASSERT_EQ(S_OK, insert->Execute());
  ASSERT_EQ(S_OK, insert->Reset());
  insert.Release();
  ASSERT_EQ(S_OK, connection->Execute("update t set n = 5000000000 where rowid = 1;"
                                      "update t set n = -7 where rowid = 2"));

  // What the file holds, read without the service: text as UTF-8, blobs as they were.
  SqliteFile file(Path());
  EXPECT_EQ(file.Query("select n, hex(s), typeof(s), hex(b), typeof(b), typeof(z) from t"),
            (Rows{{"5000000000", "636166C3A920F09F988020610062", "text", "00FF10", "blob", "null"},
                  {"-7", "", "text", "", "blob", "null"}}));

  CComPtr<IDatabaseStatement> select = Prepare(connection, "select * from t order by rowid");
  ASSERT_TRUE(select);
  BOOL row = FALSE;
  ASSERT_EQ(S_OK, select->Step(&row));
  ASSERT_TRUE(row);
  LONGLONG wide = 0;
  ASSERT_EQ(S_OK, select->GetColumnInt64(0, &wide));
  EXPECT_EQ(5000000000LL, wide);
  CComBSTR read;
  ASSERT_EQ(S_OK, select->GetColumnText(1, read.Receive()));
  EXPECT_EQ(text, Text(read));
  const BYTE* data = nullptr;
  ULONG length = 0;
  ASSERT_EQ(S_OK, select->GetColumnBlob(2, &data, &length));
  ASSERT_EQ(3u, length);
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 3), std::vector<BYTE>(data, data + length));
  // NULL reads as 0, an empty (non-null) string and no bytes.
  INT narrow = 9;
  ASSERT_EQ(S_OK, select->GetColumnInt32(3, &narrow));
  EXPECT_EQ(0, narrow);
  read.Empty();
  ASSERT_EQ(S_OK, select->GetColumnText(3, read.Receive()));
  ASSERT_NE(nullptr, read.get());
  EXPECT_EQ(0u, read.Length());
  ASSERT_EQ(S_OK, select->GetColumnBlob(3, &data, &length));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0u, length);

  ASSERT_EQ(S_OK, select->Step(&row));
  ASSERT_TRUE(row);
  ASSERT_EQ(S_OK, select->GetColumnInt32(0, &narrow));
  EXPECT_EQ(-7, narrow);
  ASSERT_EQ(S_OK, select->GetColumnBlob(2, &data, &length));
  EXPECT_EQ(0u, length);
  ASSERT_EQ(S_OK, select->Step(&row));
  EXPECT_FALSE(row);
}

TEST_F(DatabaseServiceTest, FailuresAreNegativeResultsThatNameTheEngineCode) {
  CComPtr<IDatabaseConnection> connection = Open();
  ASSERT_TRUE(connection);
  ASSERT_EQ(S_OK, connection->Execute("create table t(k text unique)"));
  ASSERT_EQ(S_OK, connection->Execute("insert into t values('a')"));
  CComPtr<IDatabaseStatement> insert = Prepare(connection, "insert into t values(:k)");
  CComPtr<IDatabaseStatement> select = Prepare(connection, "select k from t");
  ASSERT_TRUE(insert && select);
  CComPtr<IDatabaseStatement> none;
  BOOL flag = FALSE;
  INT value = 0;

  struct Case {
    const char* what;
    HRESULT result;
    HRESULT expected;  // 0: DatabaseErrorCode is `code` (the primary part of it)
    int code = 0;
  };
  const Case kCases[] = {
      {"syntax error", connection->Prepare("selec 1", none.Receive()), 0, kError},
      {"unknown table", connection->Prepare("select * from missing", none.Receive()), 0, kError},
      {"unknown table, execute", connection->Execute("delete from missing"), 0, kError},
      {"commit without begin", connection->CommitTransaction(), 0, kError},
      {"bind past the parameters", insert->BindText(2, Bstr(u"x")), 0, kRange},
      {"unique key twice", (insert->BindText(1, Bstr(u"a")), insert->Execute()), 0, kConstraint},
      {"column before a step", select->GetColumnInt32(0, &value), DatabaseError(kDatabaseMisuse)},
      {"column outside the row", (select->Step(&flag), select->GetColumnInt32(1, &value)),
       E_INVALIDARG},
      {"negative column", select->GetColumnInt32(-1, &value), E_INVALIDARG},
      {"null text", connection->Execute(nullptr), E_INVALIDARG},
      {"null table name", connection->TableExists(nullptr, &flag), E_INVALIDARG},
      {"null bytes with a length", insert->BindBlob(1, nullptr, 3), E_INVALIDARG},
      {"only a comment", connection->Prepare("-- nothing", none.Receive()), E_INVALIDARG},
      {"null out", connection->Prepare("select 1", nullptr), E_POINTER},
      {"null row flag", select->Step(nullptr), E_POINTER},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_LT(c.result, 0);
    if (c.expected != 0) {
      EXPECT_EQ(c.expected, c.result);
    } else {
      EXPECT_EQ(c.code, DatabaseErrorCode(c.result) & 0xFF);
    }
  }
  EXPECT_EQ(nullptr, none.get());
  // The failed insert changed nothing; the connection goes on working.
  SqliteFile file(Path());
  EXPECT_EQ(file.Query("select k from t"), (Rows{{"a"}}));
  EXPECT_EQ(S_OK, connection->Execute("insert into t values('b')"));
}

TEST_F(DatabaseServiceTest, FilesThatCannotBeOpenedFailTheOpen) {
  platform_test::WriteNative(folder_.Native("text"), std::string(4096, 'x'));
  struct Case {
    const char* what;
    std::string path;
    int code;  // 0: any failure
  };
  const Case kCases[] = {
      {"inside a missing folder", folder_.Native("missing/db"), kCantOpen},
      {"a folder", folder_.path(), 0},
      {"not a database", folder_.Native("text"), kNotADatabase},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    CComPtr<IDatabaseConnection> connection;
    const HRESULT hr = Service()->OpenDatabase(c.path.c_str(), connection.Receive());
    EXPECT_LT(hr, 0);
    if (c.code != 0) {
      EXPECT_EQ(c.code, DatabaseErrorCode(hr) & 0xFF);
    }
    EXPECT_EQ(nullptr, connection.get());
  }
  EXPECT_EQ(std::string(4096, 'x'), platform_test::ReadNative(folder_.Native("text")));
  EXPECT_FALSE(platform_test::Exists(folder_.Native("missing")));
  CComPtr<IDatabaseConnection> connection;
  EXPECT_EQ(E_INVALIDARG, Service()->OpenDatabase(nullptr, connection.Receive()));
  EXPECT_EQ(E_POINTER, Service()->OpenDatabase(Path().c_str(), nullptr));
}

TEST_F(DatabaseServiceTest, TransactionsCommitOrLeaveNothing) {
  CComPtr<IDatabaseConnection> connection = Open();
  ASSERT_EQ(S_OK, connection->Execute("create table t(k)"));
  SqliteFile file(Path());

  ASSERT_EQ(S_OK, connection->BeginTransaction());
  EXPECT_LT(connection->BeginTransaction(), 0);  // one at a time
  ASSERT_EQ(S_OK, connection->Execute("insert into t values(1)"));
  EXPECT_EQ(file.Query("select k from t"), Rows{});  // not before the commit
  ASSERT_EQ(S_OK, connection->CommitTransaction());
  EXPECT_EQ(file.Query("select k from t"), (Rows{{"1"}}));

  // Another connection writing: the begin waits, then fails.
  file.Exec("begin immediate");
  EXPECT_EQ(kBusy, DatabaseErrorCode(connection->BeginTransaction()) & 0xFF);
  file.Exec("commit");

  // A reader in the middle of its rows: the commit cannot finish and rolls back, so the
  // connection is out of the transaction and can begin again.
  ASSERT_EQ(S_OK, connection->BeginTransaction());
  ASSERT_EQ(S_OK, connection->Execute("insert into t values(2)"));
  sqlite3_stmt* reader = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(file.db(), "select k from t", -1, &reader, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(reader));
  EXPECT_EQ(kBusy, DatabaseErrorCode(connection->CommitTransaction()) & 0xFF);
  sqlite3_finalize(reader);
  EXPECT_EQ(file.Query("select k from t"), (Rows{{"1"}}));
  ASSERT_EQ(S_OK, connection->BeginTransaction());
  ASSERT_EQ(S_OK, connection->CommitTransaction());

  // Released in the middle of a transaction: nothing of it stays.
  ASSERT_EQ(S_OK, connection->BeginTransaction());
  ASSERT_EQ(S_OK, connection->Execute("insert into t values(3)"));
  connection.Release();
  EXPECT_EQ(file.Query("select k from t"), (Rows{{"1"}}));
}

TEST_F(DatabaseServiceTest, ObjectsMayBeReleasedInAnyOrder) {
  {
    CComPtr<IDatabaseConnection> connection = Open();
    ASSERT_EQ(S_OK, connection->Execute("create table t(k); insert into t values(1), (2)"));
  }
  // The statement keeps the connection: released first, the connection still serves it.
  {
    CComPtr<IDatabaseConnection> connection = Open();
    CComPtr<IDatabaseStatement> select = Prepare(connection, "select k from t");
    connection.Release();
    BOOL row = FALSE;
    INT value = 0;
    ASSERT_EQ(S_OK, select->Step(&row));
    ASSERT_TRUE(row);
    ASSERT_EQ(S_OK, select->GetColumnInt32(0, &value));
    EXPECT_EQ(1, value);
  }
  // The statement released first.
  {
    CComPtr<IDatabaseConnection> connection = Open();
    CComPtr<IDatabaseStatement> select = Prepare(connection, "select k from t");
    select.Release();
    EXPECT_EQ(S_OK, connection->Execute("insert into t values(3)"));
  }
  // Closed while a statement is in the middle of its rows: the statement fails from then on,
  // its read lock is gone, and it may still be released afterwards.
  {
    CComPtr<IDatabaseConnection> connection = Open();
    CComPtr<IDatabaseStatement> select = Prepare(connection, "select k from t");
    BOOL row = FALSE;
    ASSERT_EQ(S_OK, select->Step(&row));
    ASSERT_EQ(S_OK, connection->Close());
    EXPECT_EQ(S_OK, connection->Close());
    const HRESULT closed = DatabaseError(kDatabaseMisuse);
    INT value = 0;
    EXPECT_EQ(closed, select->Step(&row));
    EXPECT_EQ(closed, select->GetColumnInt32(0, &value));
    EXPECT_EQ(closed, select->Reset());
    EXPECT_EQ(closed, connection->Execute("select 1"));
    CComPtr<IDatabaseStatement> none;
    EXPECT_EQ(closed, connection->Prepare("select 1", none.Receive()));
    EXPECT_EQ(closed, connection->BeginTransaction());

    SqliteFile file(Path());
    file.Exec("insert into t values(4)");  // no lock left behind
    connection.Release();
  }
  SqliteFile file(Path());
  EXPECT_EQ(file.Query("select k from t"), (Rows{{"1"}, {"2"}, {"3"}, {"4"}}));
}

TEST_F(DatabaseServiceTest, AConnectionMovesBetweenThreads) {
  CComPtr<IDatabaseConnection> connection = Open();
  ASSERT_EQ(S_OK, connection->Execute("create table t(k integer)"));
  CComPtr<IDatabaseStatement> insert = Prepare(connection, "insert into t values(:k)");
  // One thread after the other, each with the connection and the statement of the last.
  for (int round = 0; round < 4; ++round) {
    std::thread worker([&] {
      ASSERT_EQ(S_OK, connection->BeginTransaction());
      for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(S_OK,
                  insert->BindText(1, Bstr(platform_test::Widen(std::to_string(round * 100 + i)))));
        EXPECT_EQ(S_OK, insert->Execute());
        EXPECT_EQ(S_OK, insert->Reset());
      }
      ASSERT_EQ(S_OK, connection->CommitTransaction());
    });
    worker.join();
  }
  // The last thread releases everything.
  std::thread([&] {
    insert.Release();
    connection.Release();
  }).join();
  SqliteFile file(Path());
  EXPECT_EQ(file.Query("select count(*) from t"), (Rows{{"100"}}));
}

}  // namespace
