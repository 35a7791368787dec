// Storage::CStorageFileWriter: reads and writes a storage's whole file in one piece.
//
// A write never leaves a half-written file under the storage's name: the bytes go to
// "<path>.tmp", which then replaces the file in one rename (with the folder synced, so the
// replacement survives a power cut). Write modes: 1 plain, 2 plain and flushed to the disk
// before the rename, 3 MARS-encrypted. Mode 3 is refused (FALSE, nothing written or read)
// until the cipher exists: encrypted files are never written as plain text.
//
// The writer holds only its mode and takes no lock; callers use it from the sync thread or the
// thread that imports or finally syncs a storage.
#pragma once

#include <string>

#include "browserplatform/types.h"
#include "storage/sync/storage_config_base.h"  // WriteMode

namespace Storage {

class CStorageFileWriter {
 public:
  explicit CStorageFileWriter(int write_mode) : write_mode_(write_mode) {}

  // Replaces the file at `path` by `data`. FALSE when the file could not be written; the
  // previous file is then untouched and no temporary file is left.
  BOOL WriteToDiskA(const std::u16string& path, const std::string& data);
  // The same with `text` converted to UTF-8.
  BOOL WriteToDisk(const std::u16string& path, const std::u16string& text);

  // Reads the whole file; the result is cut at its first zero byte. FALSE when the file is
  // missing or unreadable, or not every byte could be read (`out` then holds what was read).
  BOOL ReadFromDiskA(const std::u16string& path, std::string* out);
  // The same converted from UTF-8; on failure `out` is unchanged.
  BOOL ReadFromDisk(const std::u16string& path, std::u16string* out);

  // Copies a file that exists but could not be imported to "<path>.bad" (replacing an older
  // copy): the storage starts empty and its next write replaces the damaged file, which may
  // still hold most of the user's data. FALSE when there is no file or the copy failed.
  BOOL KeepDamagedCopy(const std::u16string& path);

  int write_mode() const { return write_mode_; }

 private:
  const int write_mode_;
};

}  // namespace Storage
