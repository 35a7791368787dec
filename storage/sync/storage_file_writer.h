// Storage::CStorageFileWriter: reads and writes a storage's whole file in one piece.
//
// A write never leaves a half-written file under the storage's name: the bytes go to
// "<path>.tmp", which is flushed to the disk and then replaces the file in one rename, after
// which the folder is flushed too. So after a power cut the name holds either the old file or
// the whole new one, never an empty or partial file, and a write that returned TRUE is
// durable. (Write mode 2 asks for the flush by name; modes 1 and 3 get it as well, with the
// same bytes on disk.) Write modes: 1 plain, 2 plain and flushed, 3 MARS-encrypted: the file
// has the data's length, its whole 16-byte blocks encrypted one by one under base::kMarsFixedKey
// and the last length mod 16 bytes plain (docs/formats.md). Reading in mode 3 decrypts the same
// blocks before the cut at the first zero byte; a damaged file, or a plain one, decrypts to
// other bytes, which the caller's parser rejects.
//
// A file that exists but could not be imported is copied to "<path>.bad" (KeepDamagedCopy)
// before anything replaces it. When that copy fails, the writer refuses to replace the file
// until a later attempt at the copy succeeds: the user's only copy is never overwritten.
//
// Thread safety: none of its own; one synchroniser uses it, under that synchroniser's lock,
// from the sync thread or the thread that imports or finally syncs the storage.
#pragma once

#include <string>

#include "browserplatform/types.h"
#include "storage/sync/storage_config_base.h"  // WriteMode

namespace Storage {

class CStorageFileWriter {
 public:
  explicit CStorageFileWriter(int write_mode) : write_mode_(write_mode) {}

  // Replaces the file at `path` by `data`. FALSE when the file could not be written, or when
  // it is a damaged file whose copy is still owed (see KeepDamagedCopy); the previous file is
  // then untouched, no temporary file is left, and GetLastError() tells why. The first failure
  // after a success is logged, and so is the next success.
  BOOL WriteToDiskA(const std::u16string& path, const std::string& data);
  // The same with `text` converted to UTF-8.
  BOOL WriteToDisk(const std::u16string& path, const std::u16string& text);

  // Reads the whole file (decrypted in mode 3); the result is cut at its first zero byte.
  // FALSE when the file is missing or unreadable, or not every byte could be read (`out` then
  // holds what was read).
  BOOL ReadFromDiskA(const std::u16string& path, std::string* out);
  // The same converted from UTF-8; on failure `out` is unchanged.
  BOOL ReadFromDisk(const std::u16string& path, std::u16string* out);
  // What ReadFromDiskA makes of the bytes it read from a file of `write_mode`: decrypted in
  // mode 3, then cut at the first zero byte. For readers of file bytes that do not come from
  // a file (fuzzers).
  static void DecodeFileBytes(int write_mode, std::string* bytes);

  // Copies a file that exists but could not be imported (or only in part) to "<path>.bad",
  // replacing an older copy: the storage goes on without what it could not read, and its next
  // write replaces the damaged file, which may still hold most of the user's data. TRUE when
  // the copy was made. FALSE when there is no file (nothing to keep) or the copy failed; in
  // the second case no write replaces `path` until a copy has been made.
  BOOL KeepDamagedCopy(const std::u16string& path);

  // True when `path` does not exist (neither the file nor its folder), as opposed to existing
  // and not being readable.
  static bool IsMissing(const std::u16string& path);

  int write_mode() const { return write_mode_; }

 private:
  BOOL Replace(const std::u16string& path, const std::string& data);
  // Copies `path` to "<path>.bad"; logs the outcome.
  static BOOL CopyToBad(const std::u16string& path);

  const int write_mode_;
  // A damaged file that may not be replaced before it has been copied; empty when none.
  std::u16string owed_copy_;
  bool failing_ = false;  // the last write failed
};

}  // namespace Storage
