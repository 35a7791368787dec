// CDatabaseConnection: the database service's IDatabaseConnection, one SQLite connection.
//
// SQLite runs the connection without a mutex of its own (SQLITE_OPEN_NOMUTEX): `lock_` is the
// one lock of the connection and of every statement prepared on it, so a connection may move
// between threads and its statements may be released on any thread.
//
// Lifetime: statements hold the connection with a counted reference. Close (or the last
// release) rolls back an open transaction and closes the database with sqlite3_close_v2, which
// keeps the engine's connection until the last statement has been finalised; after Close
// every call answers DatabaseError(kDatabaseMisuse).
#pragma once

#include <sqlite3.h>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/database_service.h"

namespace Util {

class CDatabaseStatement;

class CDatabaseConnection : public IDatabaseConnection,
                            public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CDatabaseConnection)
  COM_INTERFACE_ENTRY(IDatabaseConnection)
  END_COM_MAP()

  CDatabaseConnection() = default;
  CDatabaseConnection(const CDatabaseConnection&) = delete;
  CDatabaseConnection& operator=(const CDatabaseConnection&) = delete;

  // Takes ownership of the open `db`.
  void Attach(sqlite3* db);
  void FinalRelease();

  STDMETHODIMP Close() override;
  STDMETHODIMP Prepare(const char* sql, IDatabaseStatement** out) override;
  STDMETHODIMP Execute(const char* sql) override;
  STDMETHODIMP TableExists(const char* name, BOOL* exists) override;
  STDMETHODIMP BeginTransaction() override;
  STDMETHODIMP CommitTransaction() override;

 private:
  friend class CDatabaseStatement;

  void CloseLocked() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // The HRESULT of an engine result code, logged with the engine's message.
  HRESULT Failure(int code, const char* what) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  base::CLock lock_;
  sqlite3* db_ GUARDED_BY(lock_) = nullptr;  // null once closed
};

}  // namespace Util
