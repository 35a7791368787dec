#include "external/database_connection.h"

#include <exception>

#include "base/logging.h"
#include "external/database_log.h"
#include "external/database_statement.h"
#include "external/new_object.h"

namespace Util {

void CDatabaseConnection::Attach(sqlite3* db) {
  base::CAutoLock guard(lock_);
  db_ = db;
}

void CDatabaseConnection::FinalRelease() {
  base::CAutoLock guard(lock_);
  CloseLocked();
}

void CDatabaseConnection::CloseLocked() {
  if (db_ == nullptr) return;
  // Statements still held keep the engine's connection until they go: reset them, so that
  // none holds a read lock on the file meanwhile, and end a transaction left open.
  for (sqlite3_stmt* statement = sqlite3_next_stmt(db_, nullptr); statement != nullptr;
       statement = sqlite3_next_stmt(db_, statement)) {
    sqlite3_reset(statement);
  }
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

HRESULT CDatabaseConnection::Failure(int code, const char* what) {
  base::Log(base::kLogLevelError, base::kLogCategoryNone, u"database %S failed: %d %S", what, code,
            db_ != nullptr ? sqlite3_errmsg(db_) : "closed");
  return DatabaseError(code);
}

STDMETHODIMP CDatabaseConnection::Close() {
  base::CAutoLock guard(lock_);
  CloseLocked();
  return S_OK;
}

STDMETHODIMP CDatabaseConnection::Prepare(const char* sql, IDatabaseStatement** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (sql == nullptr) return E_INVALIDARG;
  RecordDatabaseCall(DatabaseLogEntry::kPrepare, sql);
  ATL::CComPtr<ATL::CComObject<CDatabaseStatement>> statement;
  if (HRESULT hr = NewObject(&statement); FAILED(hr)) return hr;
  base::CAutoLock guard(lock_);
  if (db_ == nullptr) return DatabaseError(kDatabaseMisuse);
  sqlite3_stmt* prepared = nullptr;
  const int code = sqlite3_prepare_v2(db_, sql, -1, &prepared, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_finalize(prepared);
    return Failure(code, "prepare");
  }
  // Only white space or a comment: nothing to run.
  if (prepared == nullptr) return E_INVALIDARG;
  statement->Attach(this, prepared);
  *out = statement.Detach();
  return S_OK;
}

STDMETHODIMP CDatabaseConnection::Execute(const char* sql) {
  if (sql == nullptr) return E_INVALIDARG;
  RecordDatabaseCall(DatabaseLogEntry::kExecute, sql);
  base::CAutoLock guard(lock_);
  if (db_ == nullptr) return DatabaseError(kDatabaseMisuse);
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK ? S_OK : Failure(code, "execute");
}

STDMETHODIMP CDatabaseConnection::TableExists(const char* name, BOOL* exists) {
  if (exists == nullptr) return E_POINTER;
  *exists = FALSE;
  if (name == nullptr) return E_INVALIDARG;
  RecordDatabaseCall(DatabaseLogEntry::kTableExists, name);
  base::CAutoLock guard(lock_);
  if (db_ == nullptr) return DatabaseError(kDatabaseMisuse);
  sqlite3_stmt* query = nullptr;
  int code = sqlite3_prepare_v2(
      db_, "select 1 from sqlite_master where type = 'table' and name = ?1 collate nocase", -1,
      &query, nullptr);
  if (code == SQLITE_OK) code = sqlite3_bind_text(query, 1, name, -1, SQLITE_STATIC);
  if (code == SQLITE_OK) code = sqlite3_step(query);
  if (code == SQLITE_ROW) *exists = TRUE;
  sqlite3_finalize(query);
  return code == SQLITE_ROW || code == SQLITE_DONE ? S_OK : Failure(code, "table query");
}

STDMETHODIMP CDatabaseConnection::BeginTransaction() {
  RecordDatabaseCall(DatabaseLogEntry::kBegin, "");
  base::CAutoLock guard(lock_);
  if (db_ == nullptr) return DatabaseError(kDatabaseMisuse);
  // Immediate: the write lock is taken here, so that a file another connection is writing
  // fails the begin (after the busy time-out) rather than each statement of the transaction.
  const int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  return code == SQLITE_OK ? S_OK : Failure(code, "begin");
}

STDMETHODIMP CDatabaseConnection::CommitTransaction() {
  RecordDatabaseCall(DatabaseLogEntry::kCommit, "");
  base::CAutoLock guard(lock_);
  if (db_ == nullptr) return DatabaseError(kDatabaseMisuse);
  const int code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return S_OK;
  const HRESULT failure = Failure(code, "commit");
  // A commit that could not finish (a busy file, a full disk) leaves the transaction open; the
  // caller's next begin would fail on it for ever.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return failure;
}

}  // namespace Util
