#include "storage/keyvalue/key_value_storage_sync_db.h"

#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "base/trace.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"

namespace Storage {
namespace {

ATL::CComBSTR ToBstr(std::u16string_view text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

CKeyValueStorageSyncDB::CKeyValueStorageSyncDB(std::u16string file_path,
                                               CKeyValueStorageCacheBase* cache,
                                               CStorageSyncManager* sync_manager,
                                               CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      cache_(cache) {}

CKeyValueStorageSyncDB::~CKeyValueStorageSyncDB() {
  if (connection_) connection_->Close();
  connection_.Release();
  remove_statement_.Release();
  clear_statement_.Release();
  set_statement_.Release();
}

int CKeyValueStorageSyncDB::prepareForDB() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageSyncDB::prepareForDB");
  if (connection_) return 1;
  {
    ATL::CComPtr<IDatabaseService> service;
    if (FAILED(Util::Com::GetService(IID_IDatabaseService, service.ReceiveVoid())) || !service) {
      return 0;
    }
    std::string path;
    try {
      path = base::WideToUTF8(file_path_);
    } catch (const std::exception&) {  // allocation failures only
      return 0;
    }
    if (FAILED(service->OpenDatabase(path.c_str(), connection_.Receive())) || !connection_) {
      connection_.Release();
      return 0;
    }
  }
  BOOL exists = FALSE;
  // A question that cannot be answered is taken for a yes: creating a table that is there
  // would fail anyway.
  if (FAILED(connection_->TableExists(kItemTableName, &exists)) || exists) return 1;
  const HRESULT created = connection_->Execute(kItemTableCreateSql);
  SetImportFailed();
  return SUCCEEDED(created) ? 1 : 0;
}

void CKeyValueStorageSyncDB::performImport() {
  {
    base::CAutoLock guard(lock_);
    if (cache_ != nullptr && prepareForDB()) {
      base::CPerformanceTrace trace(u"Storage::CKeyValueStorageSyncDB::performImport");
      ImportRows();
    }
  }
  // On every path: the cache's callers wait for it.
  SetImported();
}

void CKeyValueStorageSyncDB::ImportRows() {
  ATL::CComPtr<IDatabaseStatement> statement;
  if (FAILED(connection_->Prepare(kItemTableSelectSql, statement.Receive())) || !statement) {
    return;
  }
  KeyValueMap values;
  size_t nameless = 0;
  BOOL row = FALSE;
  while (SUCCEEDED(statement->Step(&row)) && row) {
    LONGLONG id = 0;
    statement->GetColumnInt64(0, &id);  // numbered by the database; not part of the item
    ATL::CComBSTR key;
    const BYTE* data = nullptr;
    ULONG length = 0;
    statement->GetColumnText(1, key.Receive());
    // Rows without a value are not items.
    if (FAILED(statement->GetColumnBlob(2, &data, &length)) || data == nullptr || length == 0) {
      continue;
    }
    // Keys end at their first NUL, as the storage reads them.
    const std::u16string_view key_text =
        key.get() != nullptr ? std::u16string_view(key.get()) : std::u16string_view();
    if (key_text.empty()) {
      ++nameless;
      continue;
    }
    ATL::CComPtr<IValueObject> value;
    if (FAILED(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid())) || !value ||
        FAILED(value->SetBuffer(data, length))) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone, u"value of %s not imported: %s",
                std::u16string(key_text).c_str(), file_path_.c_str());
      continue;
    }
    try {
      values.insert_or_assign(std::u16string(key_text), std::move(value));
    } catch (const std::exception&) {  // allocation failures only
      base::Log(base::kLogLevelError, base::kLogCategoryNone, u"value of %s not imported: %s",
                std::u16string(key_text).c_str(), file_path_.c_str());
    }
  }
  if (nameless != 0) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"%u database rows without a key skipped: %s", static_cast<unsigned>(nameless),
              file_path_.c_str());
  }
  cache_->PutImportedValues(std::move(values));
}

bool CKeyValueStorageSyncDB::PrepareChangeStatements() {
  if (statements_prepared_) return true;
  remove_statement_.Release();
  clear_statement_.Release();
  set_statement_.Release();
  const bool prepared =
      SUCCEEDED(connection_->Prepare(kItemTableRemoveSql, remove_statement_.Receive())) &&
      remove_statement_ &&
      SUCCEEDED(connection_->Prepare(kItemTableClearSql, clear_statement_.Receive())) &&
      clear_statement_ &&
      SUCCEEDED(connection_->Prepare(kItemTableSetSql, set_statement_.Receive())) && set_statement_;
  statements_prepared_ = prepared ? 1 : 0;
  return prepared;
}

void CKeyValueStorageSyncDB::Replay(const PendingChange& change) {
  switch (change.op) {
    case kChangeOpSet: {
      ATL::CComPtr<IValueObject> value;
      if (!change.value ||
          FAILED(change.value->QueryInterface(IID_IValueObject, value.ReceiveVoid())) || !value) {
        return;
      }
      const BYTE* data = nullptr;
      ULONG length = 0;
      value->GetBuffer(&data);
      value->GetSize(&length);
      if (data == nullptr) length = 0;
      // A key that cannot be copied must not be written as the empty one.
      ATL::CComBSTR key = ToBstr(change.key);
      if (key.get() == nullptr) return;
      set_statement_->BindText(kItemTableSetKeyIndex, key);
      set_statement_->BindBlob(kItemTableSetValueIndex, data, length);
      set_statement_->Execute();
      set_statement_->Reset();
      return;
    }
    case kChangeOpRemove: {
      ATL::CComBSTR key = ToBstr(change.key);
      if (key.get() == nullptr) return;
      remove_statement_->BindText(kItemTableRemoveKeyIndex, key);
      remove_statement_->Execute();
      remove_statement_->Reset();
      return;
    }
    case kChangeOpClear:
      clear_statement_->Execute();
      clear_statement_->Reset();
      return;
    default:
      return;
  }
}

void CKeyValueStorageSyncDB::performSync() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageSyncDB::performSync");
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ == nullptr) return;
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty()) {
    StopTimer();
    return;
  }
  // No database: the storage lives in memory only.
  if (!connection_) return;
  if (HRESULT begun = connection_->BeginTransaction(); FAILED(begun)) {
    // Nothing was written: the next tick replays the same changes.
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"database transaction not begun (hr=0x%X): %s", static_cast<unsigned>(begun),
              file_path_.c_str());
    RestorePendingChanges(std::move(changes));
    return;
  }
  // A failed preparation is tried again by the next sync, not by every change of this one.
  const bool prepared = PrepareChangeStatements();
  if (prepared) {
    for (const PendingChange& change : changes) Replay(change);
  }
  if (HRESULT committed = connection_->CommitTransaction(); FAILED(committed)) {
    // The connection rolled the transaction back: none of it reached the file.
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"database transaction not committed (hr=0x%X): %s", static_cast<unsigned>(committed),
              file_path_.c_str());
    RestorePendingChanges(std::move(changes));
  }
}

int CKeyValueStorageSyncDB::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CKeyValueStorageSyncDB::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    cache_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
