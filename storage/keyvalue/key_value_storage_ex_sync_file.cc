#include "storage/keyvalue/key_value_storage_ex_sync_file.h"

#include <new>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/trace.h"
#include "browserstorage/shared_objects.h"
#include "storage/keyvalue/key_value_ex_xml.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"

namespace Storage {

CKeyValueStorageExSyncFile::CKeyValueStorageExSyncFile(std::u16string file_path,
                                                       CKeyValueStorageExCacheBase* cache,
                                                       CStorageSyncManager* sync_manager,
                                                       CStorageSyncTimer* sync_timer, BSTR name,
                                                       int write_mode)
    : CStorageSyncBase(sync_manager, sync_timer, 1, name),
      file_path_(std::move(file_path)),
      write_mode_(write_mode),
      cache_(cache),
      writer_(write_mode) {}

void CKeyValueStorageExSyncFile::scheduleFinalSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ != nullptr) WriteFile();
}

void CKeyValueStorageExSyncFile::performImport() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageExSyncFile::performImport");
  {
    base::CAutoLock guard(lock_);
    if (cache_ != nullptr) ImportFile();
  }
  // On every path: the cache's callers wait for it.
  SetImported();
}

void CKeyValueStorageExSyncFile::ImportFile() {
  std::string document;
  if (!writer_.ReadFromDiskA(file_path_, &document)) {
    const DWORD error = GetLastError();
    if (CStorageFileWriter::IsMissing(file_path_)) return;  // a first start
    // It exists and cannot be read (no permission, an I/O error): it must not be replaced by
    // the empty store.
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"storage file not readable: %s (%u)",
              file_path_.c_str(), error);
    SetImportFailed();
    writer_.KeepDamagedCopy(file_path_);
    return;
  }

  // Without a name of its own the storage's values are text values: a name is needed to make
  // them, and without one every item would be lost at the next write.
  BSTR configured = name();
  const OLECHAR* interface_name =
      configured != nullptr && configured[0] != u'\0' ? configured : kTextValueInterfaceName;
  KeyValueExXmlContent content;
  bool parsed = false;
  try {
    parsed = ParseKeyValueExXml(&document, interface_name, &content);
  } catch (const std::bad_alloc&) {
    // Not damage, but nothing of the file is in memory: it must not be replaced.
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"no memory to import: %s",
              file_path_.c_str());
    SetImportFailed();
    writer_.KeepDamagedCopy(file_path_);
    return;
  }
  if (!parsed || !content.has_root) {
    // Garbage after decryption (another key, a damaged file), malformed, or another program's
    // document: nothing of it is used.
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"storage file not a document: %s",
              file_path_.c_str());
    SetImportFailed();
    writer_.KeepDamagedCopy(file_path_);
    return;
  }
  if (content.not_created != 0 || content.ill_formed != 0) {
    // The rest is imported; the next write would drop or change these items for good.
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"storage file holds %u items not imported and %u not UTF-8: %s",
              static_cast<unsigned>(content.not_created), static_cast<unsigned>(content.ill_formed),
              file_path_.c_str());
    writer_.KeepDamagedCopy(file_path_);
  }
  for (auto& [key, value] : content.items) cache_->PutImportedValue(key, value);
}

void CKeyValueStorageExSyncFile::performSync() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageExSyncFile::performSync");
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ == nullptr) return;
  // Only whether something changed matters: the file is always rewritten whole.
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty()) {
    StopTimer();
    return;
  }
  // Still dirty after a failed write: the timer's next tick tries again.
  if (!WriteFile()) RestorePendingChanges(std::move(changes));
}

bool CKeyValueStorageExSyncFile::WriteFile() {
  std::string document;
  try {
    KeyValueExMap snapshot;
    cache_->CopyAll(&snapshot);
    size_t unreadable = 0;
    document = ProduceKeyValueExXml(snapshot, &unreadable);
    if (unreadable != 0) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone,
                u"%u values gave no text and were written empty: %s",
                static_cast<unsigned>(unreadable), file_path_.c_str());
    }
  } catch (const std::bad_alloc&) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"no memory to write: %s",
              file_path_.c_str());
    return false;
  }
  return writer_.WriteToDiskA(file_path_, document);
}

int CKeyValueStorageExSyncFile::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CKeyValueStorageExSyncFile::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    cache_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
