#include "external/database_statement.h"

#include <exception>
#include <string>
#include <string_view>

#include "base/string_conversions.h"
#include "browserplatform/oleauto.h"
#include "external/database_log.h"

namespace Util {

void CDatabaseStatement::Attach(CDatabaseConnection* connection, sqlite3_stmt* statement) {
  connection_ = connection;
  owner_ = connection;
  statement_ = statement;
}

void CDatabaseStatement::FinalRelease() {
  if (owner_ == nullptr) return;
  {
    // Finalising is allowed after the connection closed: it is what lets the engine free it.
    base::CAutoLock guard(owner_->lock_);
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
  connection_.Release();
}

HRESULT CDatabaseStatement::CheckOpen() {
  return owner_ != nullptr && owner_->db_ != nullptr ? S_OK : DatabaseError(kDatabaseMisuse);
}

HRESULT CDatabaseStatement::CheckColumn(INT column) {
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  // The engine's column readers are undefined off a row or outside it.
  if (!has_row_) return DatabaseError(kDatabaseMisuse);
  if (column < 0 || column >= sqlite3_data_count(statement_)) return E_INVALIDARG;
  return S_OK;
}

HRESULT CDatabaseStatement::Failure(int code) { return owner_->Failure(code, "statement"); }

STDMETHODIMP CDatabaseStatement::Reset() {
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  has_row_ = false;
  // The engine repeats the failure of the last run here; that run has reported it already.
  sqlite3_reset(statement_);
  return S_OK;
}

STDMETHODIMP CDatabaseStatement::BindText(INT index, BSTR text) {
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  std::string utf8;
  try {
    utf8 = base::WideToUTF8(text != nullptr ? std::u16string_view(text, SysStringLen(text))
                                            : std::u16string_view());
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  const int code = sqlite3_bind_text64(statement_, index, utf8.data(), utf8.size(),
                                       SQLITE_TRANSIENT, SQLITE_UTF8);
  return code == SQLITE_OK ? S_OK : Failure(code);
}

STDMETHODIMP CDatabaseStatement::BindBlob(INT index, const BYTE* data, ULONG length) {
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  if (data == nullptr && length != 0) return E_INVALIDARG;
  static const BYTE kNoBytes = 0;
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  // A null pointer would bind NULL rather than an empty blob.
  const int code = sqlite3_bind_blob64(statement_, index, data != nullptr ? data : &kNoBytes,
                                       length, SQLITE_TRANSIENT);
  return code == SQLITE_OK ? S_OK : Failure(code);
}

STDMETHODIMP CDatabaseStatement::Execute() {
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  RecordDatabaseCall(DatabaseLogEntry::kRun, sqlite3_sql(statement_));
  has_row_ = false;
  int code;
  do {
    code = sqlite3_step(statement_);
  } while (code == SQLITE_ROW);
  return code == SQLITE_DONE ? S_OK : Failure(code);
}

STDMETHODIMP CDatabaseStatement::Step(BOOL* row) {
  if (row == nullptr) return E_POINTER;
  *row = FALSE;
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  const int code = sqlite3_step(statement_);
  has_row_ = code == SQLITE_ROW;
  if (has_row_) *row = TRUE;
  return code == SQLITE_ROW || code == SQLITE_DONE ? S_OK : Failure(code);
}

STDMETHODIMP CDatabaseStatement::GetColumnInt32(INT column, INT* value) {
  if (value == nullptr) return E_POINTER;
  *value = 0;
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckColumn(column); FAILED(hr)) return hr;
  *value = sqlite3_column_int(statement_, column);
  return S_OK;
}

STDMETHODIMP CDatabaseStatement::GetColumnInt64(INT column, LONGLONG* value) {
  if (value == nullptr) return E_POINTER;
  *value = 0;
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckColumn(column); FAILED(hr)) return hr;
  *value = sqlite3_column_int64(statement_, column);
  return S_OK;
}

STDMETHODIMP CDatabaseStatement::GetColumnText(INT column, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckColumn(column); FAILED(hr)) return hr;
  const auto* text = static_cast<const OLECHAR*>(sqlite3_column_text16(statement_, column));
  const int bytes = sqlite3_column_bytes16(statement_, column);
  if (text == nullptr && sqlite3_column_type(statement_, column) != SQLITE_NULL) {
    return E_OUTOFMEMORY;  // the engine could not convert the value
  }
  *out = SysAllocStringLen(text, text != nullptr ? static_cast<UINT>(bytes) / 2 : 0);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CDatabaseStatement::GetColumnBlob(INT column, const BYTE** data, ULONG* length) {
  if (data == nullptr || length == nullptr) return E_POINTER;
  *data = nullptr;
  *length = 0;
  if (owner_ == nullptr) return DatabaseError(kDatabaseMisuse);
  base::CAutoLock guard(owner_->lock_);
  if (HRESULT hr = CheckColumn(column); FAILED(hr)) return hr;
  const auto* bytes = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
  const int size = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr && size > 0) return E_OUTOFMEMORY;
  *data = bytes;
  *length = bytes != nullptr ? static_cast<ULONG>(size) : 0;
  return S_OK;
}

}  // namespace Util
