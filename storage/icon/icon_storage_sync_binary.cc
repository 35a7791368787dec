#include "storage/icon/icon_storage_sync_binary.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/logging.h"
#include "base/trace.h"
#include "browserplatform/clock.h"
#include "browserplatform/fileapi.h"
#include "browserplatform/handleapi.h"
#include "browserstorage/object_factory.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/sync/scoped_file.h"

namespace Storage {
namespace {

bool Seek(HANDLE file, uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  LARGE_INTEGER reached;
  reached.QuadPart = -1;
  return SetFilePointerEx(file, distance, &reached, FILE_BEGIN) &&
         reached.QuadPart == static_cast<LONGLONG>(position);
}

bool WriteAll(HANDLE file, const uint8_t* bytes, size_t size) {
  if (size > 0xFFFFFFFFu) return false;
  DWORD written = 0;
  return WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool ReadAll(HANDLE file, uint8_t* bytes, size_t size) {
  if (size > 0xFFFFFFFFu) return false;
  DWORD read = 0;
  return ReadFile(file, bytes, static_cast<DWORD>(size), &read, nullptr) && read == size;
}

std::u16string TextOf(BSTR text) {
  return text == nullptr ? std::u16string() : std::u16string(text, SysStringLen(text));
}

// The five fields of `icon`; `record.data` points into the object.
IconRecord RecordOf(IIconObject* icon) {
  IconRecord record;
  const BYTE* data = nullptr;
  INT length = 0;
  // A host's own object may answer a length without data: such an icon has no data.
  if (SUCCEEDED(icon->GetData(&data)) && SUCCEEDED(icon->GetDataLength(&length)) &&
      data != nullptr && length > 0) {
    record.data = std::span<const uint8_t>(data, static_cast<size_t>(length));
  }
  LONGLONG time = 0;
  if (SUCCEEDED(icon->GetTime(&time))) record.time = time;
  ATL::CComBSTR first;
  if (SUCCEEDED(icon->GetFirstText(first.Receive()))) record.first_text = TextOf(first);
  ATL::CComBSTR second;
  if (SUCCEEDED(icon->GetSecondText(second.Receive()))) record.second_text = TextOf(second);
  return record;
}

// A new icon object holding `record`'s fields; null when none can be made.
ATL::CComPtr<IIconObject> NewIcon(const IconRecord& record) {
  ATL::CComPtr<IIconObject> icon;
  if (FAILED(Util::Com::CreateObjectByIID(IID_IIconObject, icon.ReceiveVoid())) || !icon) {
    return nullptr;
  }
  // Only bytes that are there: a length that did not fit left `data` empty.
  icon->SetData(record.data.empty() ? nullptr : record.data.data(),
                static_cast<INT>(record.data.size()));
  icon->SetTime(record.time);
  ATL::CComBSTR first(record.first_text.data(), static_cast<UINT>(record.first_text.size()));
  ATL::CComBSTR second(record.second_text.data(), static_cast<UINT>(record.second_text.size()));
  icon->SetFirstText(first);
  icon->SetSecondText(second);
  return icon;
}

void LogSkippedIcon(const std::u16string& key) {
  base::Log(base::kLogLevelError, base::kLogCategoryNone, u"icon too large for the file: %s",
            key.c_str());
}

}  // namespace

CIconStorageSyncBinary::CIconStorageSyncBinary(std::u16string file_path,
                                               CIconStorageCacheBase* cache,
                                               CStorageSyncManager* sync_manager,
                                               CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      cache_(cache),
      writer_(kWriteModePlain) {}

void CIconStorageSyncBinary::scheduleFinalSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  performSync();
}

void CIconStorageSyncBinary::performImport() {
  {
    base::CPrecisePerformanceTrace trace(u"Storage::CIconStorageSyncBinary::performImport");
    base::CAutoLock guard(lock_);
    if (cache_ != nullptr) ImportFile();
  }
  // On every path: the cache's callers wait for it.
  SetImported();
}

void CIconStorageSyncBinary::ImportFile() {
  size_t imported = 0;
  bool whole = false;
  {
    ScopedFile file(CreateFileW(file_path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && CStorageFileWriter::IsMissing(file_path_)) return;  // a first start
    uint8_t header_bytes[kIconFileHeaderSize];
    if (file.valid() && ReadAll(file.get(), header_bytes, sizeof(header_bytes)) &&
        CheckIconFileHeader(header_bytes)) {
      const uint32_t body_length = IconFileHeader::Decode(header_bytes).body_length;
      std::vector<uint8_t> body;
      if (body_length <= kMaxIconBodyLength) {
        try {
          body.resize(body_length);
        } catch (const std::bad_alloc&) {
          body.clear();
        }
      }
      // The lambda cannot show the analysis that `lock_` is held: it gets the cache itself.
      CIconStorageCacheBase* const cache = cache_;
      if (body.size() == body_length && ReadAll(file.get(), body.data(), body.size())) {
        whole = ParseIconFileBody(body, [&](const IconRecord& record) {
          // An icon without a second text has no key to be found by.
          if (record.second_text.empty()) return;
          ATL::CComPtr<IIconObject> icon = NewIcon(record);
          if (!icon) return;
          cache->PutImportedValue(record.second_text, icon);
          ++imported;
        });
      }
    }
  }
  if (whole) return;

  // Not read whole. The file may hold more than was read: keep it before anything replaces
  // it, and replace it with what was read (plus later changes) at the next sync.
  base::Log(base::kLogLevelError, base::kLogCategoryNone, u"icon file damaged, %u icons read: %s",
            static_cast<unsigned>(imported), file_path_.c_str());
  copy_owed_ = !writer_.KeepDamagedCopy(file_path_) && !CStorageFileWriter::IsMissing(file_path_);
  dump_owed_ = true;
  // The icons read live in memory only until that write: do not wait for a change.
  if (imported > 0) StartTimer();
}

void CIconStorageSyncBinary::performSync() {
  base::CPrecisePerformanceTrace trace(u"Storage::CIconStorageSyncBinary::performSync");
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (cache_ == nullptr) return;
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty() && !dump_owed_) {
    StopTimer();
    return;
  }
  bool written = false;
  if (!dump_owed_ && !HasRemoveOrClear(changes) && FileSizeIs(file_path_, PreallocatedLength())) {
    written = DoAppend(changes);
  }
  if (!written) written = DoDump();
  if (written) {
    dump_owed_ = false;
    return;
  }
  // Still dirty: the timer's next tick (or the final sync) tries again.
  RestorePendingChanges(std::move(changes));
}

bool CIconStorageSyncBinary::DoAppend(const std::vector<PendingChange>& changes) {
  base::CPrecisePerformanceTrace trace(u"Storage::CIconStorageSyncBinary::DoAppend");
  ScopedFile file(CreateFileW(file_path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  uint8_t old_header[kIconFileHeaderSize];
  if (!ReadAll(file.get(), old_header, sizeof(old_header)) || !CheckIconFileHeader(old_header)) {
    return false;
  }
  IconFileHeader header = IconFileHeader::Decode(old_header);
  const uint32_t limit = AppendLimit();
  if (header.body_length > limit) return false;

  std::vector<uint8_t> records;
  try {
    records.reserve(50);
    for (const PendingChange& change : changes) {
      if (change.op != kChangeOpSet || !change.value) continue;
      ATL::CComPtr<IIconObject> icon;
      if (FAILED(change.value->QueryInterface(IID_IIconObject, icon.ReceiveVoid())) || !icon) {
        continue;
      }
      if (!AppendIconRecord(RecordOf(icon), &records)) LogSkippedIcon(change.key);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Past the limit the file would outgrow its pre-allocated length: the caller rewrites it.
  const uint64_t body_length = uint64_t{header.body_length} + records.size();
  if (body_length > limit) return false;

  // The records go after the valid body and reach the disk before the header that counts them.
  if (!Seek(file.get(), kIconFileHeaderSize + uint64_t{header.body_length})) return false;
  if (!records.empty() &&
      (!WriteAll(file.get(), records.data(), records.size()) || !FlushFileBuffers(file.get()))) {
    return false;
  }
  header.body_length = static_cast<uint32_t>(body_length);
  header.record_count += static_cast<uint32_t>(changes.size());
  header.time = _time64(nullptr);
  uint8_t new_header[kIconFileHeaderSize];
  header.Encode(new_header);
  if (!Seek(file.get(), 0)) return false;
  if (!WriteAll(file.get(), new_header, sizeof(new_header))) {
    // A header written in part would make the whole file unreadable: put the old one back.
    if (Seek(file.get(), 0)) WriteAll(file.get(), old_header, sizeof(old_header));
    return false;
  }
  return FlushFileBuffers(file.get());
}

bool CIconStorageSyncBinary::DoDump() {
  base::CPrecisePerformanceTrace trace(u"Storage::CIconStorageSyncBinary::DoDump");
  if (cache_ == nullptr) return false;
  if (copy_owed_) {
    if (!CStorageFileWriter::IsMissing(file_path_) && !writer_.KeepDamagedCopy(file_path_)) {
      return false;
    }
    copy_owed_ = false;
  }

  IconFileHeader header;
  std::vector<uint8_t> body;
  try {
    std::vector<IconEntry> snapshot;
    cache_->CopyAll(&snapshot);
    body.reserve(50);
    for (const IconEntry& entry : snapshot) {
      if (entry.key.empty() || !entry.icon) continue;
      const IconRecord record = RecordOf(entry.icon);
      // A body the import would refuse loses every icon: leave out what would not fit.
      if (body.size() + IconPayloadLength(record) + kIconRecordFraming > kMaxIconBodyLength ||
          !AppendIconRecord(record, &body)) {
        LogSkippedIcon(entry.key);
      }
    }
    header.record_count = static_cast<uint32_t>(snapshot.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  header.body_length = static_cast<uint32_t>(body.size());
  header.time = _time64(nullptr);
  uint8_t header_bytes[kIconFileHeaderSize];
  header.Encode(header_bytes);

  // The new file is made whole beside the old one and then renamed over it.
  const std::u16string temporary = file_path_ + u".tmp";
  ScopedFile file(CreatePreallocatedFile(temporary, PreallocatedLength()));
  if (!file.valid()) return false;
  const bool written = WriteAll(file.get(), header_bytes, sizeof(header_bytes)) &&
                       (body.empty() || WriteAll(file.get(), body.data(), body.size())) &&
                       FlushFileBuffers(file.get());
  file.Close();
  if (!written ||
      !MoveFileExW(temporary.c_str(), file_path_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"icon file not written: %s (%u)",
              file_path_.c_str(), error);
    return false;
  }
  return true;
}

HANDLE CIconStorageSyncBinary::CreatePreallocatedFile(const std::u16string& path, uint64_t length) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!Seek(file, length) || !SetEndOfFile(file) || !Seek(file, 0)) {
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool CIconStorageSyncBinary::FileSizeIs(const std::u16string& path, uint64_t length) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  LARGE_INTEGER size;
  return GetFileSizeEx(file.get(), &size) && static_cast<uint64_t>(size.QuadPart) == length;
}

bool CIconStorageSyncBinary::HasRemoveOrClear(const std::vector<PendingChange>& changes) {
  return std::any_of(changes.begin(), changes.end(), [](const PendingChange& change) {
    return change.op == kChangeOpRemove || change.op == kChangeOpClear;
  });
}

bool CIconStorageSyncBinary::CheckIconFileHeader(const uint8_t header[kIconFileHeaderSize]) {
  return IconFileHeader::IsValid(header);
}

uint32_t CIconStorageSyncBinary::AppendLimit() {
  return static_cast<uint32_t>(std::max(cache_->GetMemoryLimit(), 0));
}

uint64_t CIconStorageSyncBinary::PreallocatedLength() {
  return uint64_t{AppendLimit()} + kIconFileHeaderSize;
}

int CIconStorageSyncBinary::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CIconStorageSyncBinary::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    cache_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
