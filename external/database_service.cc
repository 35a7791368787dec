#include "external/database_service.h"

#include <sqlite3.h>

#include <exception>
#include <string>

#include "base/logging.h"
#include "external/database_connection.h"
#include "external/new_object.h"
#include "platform/no_destructor.h"

namespace Util {
namespace {

// How long a statement waits for another process's lock on the file before it fails.
constexpr int kBusyTimeoutMs = 1000;

}  // namespace

IDatabaseService* CDatabaseService::Instance() {
  // The process's own reference keeps the count above zero, so Release never deletes it.
  static IDatabaseService* const instance = [] {
    static platform::NoDestructor<ATL::CComObject<CDatabaseService>> object;
    object->AddRef();
    return static_cast<IDatabaseService*>(object.get());
  }();
  return instance;
}

STDMETHODIMP CDatabaseService::OpenDatabase(const char* path, IDatabaseConnection** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (path == nullptr) return E_INVALIDARG;
  ATL::CComPtr<ATL::CComObject<CDatabaseConnection>> connection;
  if (HRESULT hr = NewObject(&connection); FAILED(hr)) return hr;
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(
      path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // The engine reads the file lazily: read the schema now, so that a file that is no
    // database (or a folder) fails here and not at the caller's first statement.
    code = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
  }
  if (code != SQLITE_OK) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"database not opened: %S (%d %S)",
              path, code, db != nullptr ? sqlite3_errmsg(db) : "no memory");
    sqlite3_close_v2(db);
    return DatabaseError(code);
  }
  connection->Attach(db);
  *out = connection.Detach();
  return S_OK;
}

}  // namespace Util
