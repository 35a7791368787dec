// Storage::CStorageConfigBase: the resolved configuration of one storage request, built from
// its registry row and the caller's overrides and handed to the storage's in-memory structure.
//
// Thread safety: filled by the thread that creates the storage before anybody else sees it,
// read-only afterwards; the reference count is thread-safe.
#pragma once

#include <string>
#include <utility>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"

namespace Storage {

enum CacheKind : int {
  kCacheKindFull = 1,           // the whole data set in memory
  kCacheKindMemoryLimited = 2,  // within a byte budget
};

enum SyncKind : int {
  kSyncKindDatabase = 1,  // the database service
  kSyncKindTextFile = 2,  // XML or JSON
  kSyncKindBinaryFile = 3,
};

enum WriteMode : int {
  kWriteModePlain = 1,
  kWriteModeFlushed = 2,    // flushed to the disk before the file is replaced
  kWriteModeEncrypted = 3,  // MARS cipher
};

inline constexpr int kNoMemoryLimit = -1;

class CStorageConfigBase : public base::CRefCountedThreadSafe<CStorageConfigBase> {
 public:
  CStorageConfigBase() = default;

  const std::u16string& GetFilePath() const { return file_path_; }
  void SetFilePath(std::u16string file_path) { file_path_ = std::move(file_path); }

  int GetStorageType() const { return storage_type_; }
  void SetStorageType(int storage_type) { storage_type_ = storage_type; }

  int GetCacheKind() const { return cache_kind_; }
  void SetCacheKind(int cache_kind) { cache_kind_ = cache_kind; }

  int GetMemoryLimit() const { return memory_limit_; }
  void SetMemoryLimit(int memory_limit) { memory_limit_ = memory_limit; }

  int GetSyncKind() const { return sync_kind_; }
  void SetSyncKind(int sync_kind) { sync_kind_ = sync_kind; }

  int GetWriteMode() const { return write_mode_; }
  void SetWriteMode(int write_mode) { write_mode_ = write_mode; }

  int GetImportOnCreate() const { return import_on_create_; }
  void SetImportOnCreate(int import_on_create) { import_on_create_ = import_on_create; }

  // The name string (used by the key-value-ex storages); null when none. Borrowed: valid while
  // this configuration lives and its name is not replaced.
  BSTR GetName() const { return name_.get(); }
  void SetName(ATL::CComBSTR name) { name_ = std::move(name); }

 private:
  ~CStorageConfigBase() override = default;  // reference counted: released, never deleted

  std::u16string file_path_;
  int storage_type_ = 0;
  int cache_kind_ = 0;
  int memory_limit_ = 0;
  int sync_kind_ = 0;
  int write_mode_ = kWriteModePlain;
  int import_on_create_ = 0;
  ATL::CComBSTR name_;
};

}  // namespace Storage
