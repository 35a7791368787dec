// CDatabaseStatement: the database service's IDatabaseStatement, one prepared SQLite
// statement. It keeps its connection alive and runs every call under the connection's lock.
#pragma once

#include <sqlite3.h>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/database_service.h"
#include "external/database_connection.h"

namespace Util {

class CDatabaseStatement : public IDatabaseStatement,
                           public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CDatabaseStatement)
  COM_INTERFACE_ENTRY(IDatabaseStatement)
  END_COM_MAP()

  CDatabaseStatement() = default;
  CDatabaseStatement(const CDatabaseStatement&) = delete;
  CDatabaseStatement& operator=(const CDatabaseStatement&) = delete;

  // Takes ownership of `statement`, prepared on `connection`'s database; the caller holds
  // `connection`'s lock. (The analysis cannot see that `connection` becomes `owner_`.)
  void Attach(CDatabaseConnection* connection, sqlite3_stmt* statement)
      EXCLUSIVE_LOCKS_REQUIRED(connection->lock_) NO_THREAD_SAFETY_ANALYSIS;
  void FinalRelease();

  STDMETHODIMP Reset() override;
  STDMETHODIMP BindText(INT index, BSTR text) override;
  STDMETHODIMP BindBlob(INT index, const BYTE* data, ULONG length) override;
  STDMETHODIMP Execute() override;
  STDMETHODIMP Step(BOOL* row) override;
  STDMETHODIMP GetColumnInt32(INT column, INT* value) override;
  STDMETHODIMP GetColumnInt64(INT column, LONGLONG* value) override;
  STDMETHODIMP GetColumnText(INT column, BSTR* out) override;
  STDMETHODIMP GetColumnBlob(INT column, const BYTE** data, ULONG* length) override;

 private:
  // S_OK when the connection is open; the misuse code once it is closed.
  HRESULT CheckOpen() EXCLUSIVE_LOCKS_REQUIRED(owner_->lock_);
  // S_OK when `column` is a column of the current row.
  HRESULT CheckColumn(INT column) EXCLUSIVE_LOCKS_REQUIRED(owner_->lock_);
  HRESULT Failure(int code) EXCLUSIVE_LOCKS_REQUIRED(owner_->lock_);

  // Set once by Attach, before the statement is handed out.
  ATL::CComPtr<IDatabaseConnection> connection_;  // the reference that keeps `owner_` alive
  CDatabaseConnection* owner_ = nullptr;
  sqlite3_stmt* statement_ GUARDED_BY(owner_->lock_) = nullptr;
  bool has_row_ GUARDED_BY(owner_->lock_) = false;
};

}  // namespace Util
