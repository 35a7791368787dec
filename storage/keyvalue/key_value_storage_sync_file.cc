#include "storage/keyvalue/key_value_storage_sync_file.h"

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/trace.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/keyvalue/key_value_xml.h"

namespace Storage {

CKeyValueStorageSyncFile::CKeyValueStorageSyncFile(std::u16string file_path,
                                                   CKeyValueStorageCacheBase* cache,
                                                   CStorageSyncManager* sync_manager,
                                                   CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      cache_(cache),
      writer_(cache != nullptr ? cache->GetWriteMode() : kWriteModePlain) {}

void CKeyValueStorageSyncFile::scheduleFinalSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ != nullptr) WriteFile();
}

void CKeyValueStorageSyncFile::performImport() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageSyncFile::performImport");
  {
    base::CAutoLock guard(lock_);
    if (cache_ != nullptr) ImportFile();
  }
  // On every path: the cache's callers wait for it.
  SetImported();
}

void CKeyValueStorageSyncFile::ImportFile() {
  std::string document;
  if (!writer_.ReadFromDiskA(file_path_, &document)) {
    const DWORD error = GetLastError();
    SetImportFailed();
    // A first start has no file yet. One that exists and cannot be read (no permission, no
    // descriptors left, an I/O error) must not be replaced by the empty store.
    if (!CStorageFileWriter::IsMissing(file_path_)) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone, u"storage file not readable: %s (%u)",
                file_path_.c_str(), error);
      writer_.KeepDamagedCopy(file_path_);
    }
    return;
  }
  base::Log(base::kLogLevelPerformance, base::kLogCategoryNone, u"加载XML");
  KeyValueXmlContent content;
  // The read string is NUL-terminated and ours to change: the parser works in place.
  const bool parsed = ParseKeyValueXml(document.data(), document.size(), &content);
  if (parsed) base::Log(base::kLogLevelPerformance, base::kLogCategoryNone, u"处理XML");
  if (!parsed || !content.has_root) {
    // Malformed, cut short, empty, or another program's file: nothing of it is used.
    SetImportFailed();
    writer_.KeepDamagedCopy(file_path_);
    return;
  }
  if (content.invalid_keys != 0) {
    // The valid items are imported; the next write would drop the others for good.
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"storage file holds %u keys that are not UTF-8: %s",
              static_cast<unsigned>(content.invalid_keys), file_path_.c_str());
    writer_.KeepDamagedCopy(file_path_);
  }
  cache_->PutImportedValues(std::move(content.items));
}

void CKeyValueStorageSyncFile::performSync() {
  base::CPerformanceTrace trace(u"Storage::CKeyValueStorageSyncFile::performSync");
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

int CKeyValueStorageSyncFile::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CKeyValueStorageSyncFile::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    cache_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

bool CKeyValueStorageSyncFile::WriteFile() {
  KeyValueMap snapshot;
  cache_->CopyAll(&snapshot);
  return writer_.WriteToDiskA(file_path_, ProduceKeyValueXml(snapshot));
}

}  // namespace Storage
