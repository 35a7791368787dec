// Helpers for the database tests: a database file read and written with SQLite directly, so
// that what the service and the synchronisers did is checked without them.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace database_test {

using Rows = std::vector<std::vector<std::string>>;

// A connection of the test's own to the file at `path`.
class SqliteFile {
 public:
  explicit SqliteFile(const std::string& path) {
    EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db_,
                                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
  }
  ~SqliteFile() { sqlite3_close_v2(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  sqlite3* db() const { return db_; }

  void Exec(const std::string& sql) {
    char* message = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message))
        << sql << ": " << (message ? message : "");
    sqlite3_free(message);
  }

  // Every row of `sql`, each column as its text ("NULL" for NULL).
  Rows Query(const std::string& sql) {
    Rows rows;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr)) << sql;
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        row.push_back(sqlite3_column_type(statement, i) == SQLITE_NULL
                          ? "NULL"
                          : std::string(text ? text : ""));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace database_test
