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
    if (cache_ != nullptr) {
      std::string document;
      KeyValueXmlContent content;
      bool imported = false;
      if (writer_.ReadFromDiskA(file_path_, &document)) {
        base::Log(base::kLogLevelPerformance, base::kLogCategoryNone, u"加载XML");
        // The read string is NUL-terminated and ours to change: rapidxml parses it in place.
        imported = ParseKeyValueXml(document.data(), document.size(), &content);
        if (imported) base::Log(base::kLogLevelPerformance, base::kLogCategoryNone, u"处理XML");
      }
      if (!imported) {
        SetImportFailed();
        // The final sync rewrites the file from the empty cache: keep what was there.
        writer_.KeepDamagedCopy(file_path_);
      }
      // Each entry leaves the parsed map as it enters the cache, so no key is held twice.
      while (!content.items.empty()) {
        auto entry = content.items.extract(content.items.begin());
        cache_->PutImportedValue(entry.key(), entry.mapped());
      }
    }
  }
  // On every path: the cache's callers wait for it.
  SetImported();
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
  WriteFile();
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

void CKeyValueStorageSyncFile::WriteFile() {
  KeyValueMap snapshot;
  cache_->CopyAll(&snapshot);
  writer_.WriteToDiskA(file_path_, ProduceKeyValueXml(snapshot));
}

}  // namespace Storage
