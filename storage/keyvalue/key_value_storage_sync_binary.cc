#include "storage/keyvalue/key_value_storage_sync_binary.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "browserplatform/combaseapi.h"
#include "browserplatform/fileapi.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_binary.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/sync/scoped_file.h"

namespace Storage {
namespace {

bool ReadAll(HANDLE file, uint8_t* bytes, uint64_t size) {
  if (size > 0xFFFFFFFFu) return false;
  DWORD read = 0;
  return ReadFile(file, bytes, static_cast<DWORD>(size), &read, nullptr) && read == size;
}

// A value object that owns a copy of `bytes`; null when none can be made.
ATL::CComPtr<IValueObject> NewValue(std::span<const uint8_t> bytes) {
  ATL::CComPtr<IValueObject> value;
  if (FAILED(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid())) || !value) {
    return nullptr;
  }
  // Copied once, into the block the object takes over.
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(bytes.size()));
  if (block == nullptr) return nullptr;
  std::memcpy(block, bytes.data(), bytes.size());
  if (FAILED(value->AttachBuffer(block, static_cast<ULONG>(bytes.size())))) {
    CoTaskMemFree(block);
    return nullptr;
  }
  return value;
}

}  // namespace

CKeyValueStorageSyncBinary::CKeyValueStorageSyncBinary(std::u16string file_path,
                                                       CKeyValueStorageCacheBase* cache,
                                                       CStorageSyncManager* sync_manager,
                                                       CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      cache_(cache),
      writer_(kWriteModePlain) {}

void CKeyValueStorageSyncBinary::scheduleFinalSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ != nullptr && WriteFile()) write_owed_ = false;
}

void CKeyValueStorageSyncBinary::performImport() {
  {
    base::CAutoLock guard(lock_);
    if (cache_ != nullptr) ImportFile();
  }
  // On every path: the cache's callers wait for it.
  SetImported();
}

void CKeyValueStorageSyncBinary::ImportFile() {
  size_t imported = 0;
  if (LoadFile(&imported)) return;

  // Not read whole. The file may hold more than was read: keep it, then remove it so that no
  // later start reads the damage again; what was read reaches a new file at the next sync.
  base::Log(base::kLogLevelError, base::kLogCategoryNone,
            u"key-value file damaged, %u records read: %s", static_cast<unsigned>(imported),
            file_path_.c_str());
  if (writer_.KeepDamagedCopy(file_path_)) DeleteFileW(file_path_.c_str());
  write_owed_ = true;
  StartTimer();
}

bool CKeyValueStorageSyncBinary::LoadFile(size_t* imported) {
  ScopedFile file(CreateFileW(file_path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // A first start has no file; one that exists and cannot be opened is not read whole.
  if (!file.valid()) return CStorageFileWriter::IsMissing(file_path_);
  LARGE_INTEGER size;
  uint8_t header[kKeyValueBinaryHeaderSize];
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < LONGLONG{kKeyValueBinaryHeaderSize} ||
      !ReadAll(file.get(), header, sizeof(header))) {
    return false;
  }
  // Checked against the file before anything is allocated: a hostile N costs nothing.
  const uint64_t body_length = KeyValueBinaryBodyLength(header);
  if (body_length > static_cast<uint64_t>(size.QuadPart) - kKeyValueBinaryHeaderSize) {
    return false;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(kKeyValueBinaryHeaderSize + body_length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(bytes.data(), header, sizeof(header));
  if (!ReadAll(file.get(), bytes.data() + kKeyValueBinaryHeaderSize, body_length)) return false;
  file.Close();

  // The lambda cannot show the analysis that `lock_` is held: it gets the cache itself.
  CKeyValueStorageCacheBase* const cache = cache_;
  return ParseKeyValueBinaryFile(bytes, [&](const KeyValueBinaryRecord& record) {
    ATL::CComPtr<IValueObject> value = NewValue(record.value);
    if (!value) return false;
    cache->PutImportedValue(std::u16string(record.key), value);
    ++*imported;
    return true;
  });
}

void CKeyValueStorageSyncBinary::performSync() {
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ == nullptr) return;
  // Only whether something changed matters: the file is always rewritten whole.
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty() && !write_owed_) {
    StopTimer();
    return;
  }
  if (WriteFile()) {
    write_owed_ = false;
    return;
  }
  // Still dirty after a failed write: the timer's next tick tries again.
  RestorePendingChanges(std::move(changes));
}

bool CKeyValueStorageSyncBinary::WriteFile() {
  std::string file;
  try {
    KeyValueMap snapshot;
    cache_->CopyAll(&snapshot);
    std::vector<KeyValueBinaryRecord> records;
    records.reserve(snapshot.size());
    for (const auto& [key, value] : snapshot) {
      if (!value) continue;
      // The cache never changes an object it stores, so the buffer stays valid while we read it.
      const BYTE* data = nullptr;
      ULONG size = 0;
      if (FAILED(value->GetBuffer(&data)) || FAILED(value->GetSize(&size)) || data == nullptr) {
        size = 0;
      }
      // Empty values are left out of the file as it stands; a value too long for it is lost at
      // the next start, so say so.
      if (size > kMaxWrittenBinaryValueLength) {
        base::Log(base::kLogLevelError, base::kLogCategoryNone,
                  u"value of %s too long for the file (%u bytes): %s", key.c_str(),
                  static_cast<unsigned>(size), file_path_.c_str());
      }
      records.push_back({key, std::span<const uint8_t>(data, size)});
    }
    file = ProduceKeyValueBinaryFile(records);
  } catch (const std::bad_alloc&) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"no memory to write the key-value file: %s", file_path_.c_str());
    return false;
  }
  return writer_.WriteToDiskA(file_path_, file);
}

int CKeyValueStorageSyncBinary::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CKeyValueStorageSyncBinary::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    cache_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
