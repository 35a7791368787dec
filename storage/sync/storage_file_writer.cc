#include "storage/sync/storage_file_writer.h"

#include <cstring>

#include "base/logging.h"
#include "base/mars.h"
#include "base/string_conversions.h"
#include "base/trace.h"
#include "browserplatform/fileapi.h"
#include "browserplatform/handleapi.h"
#include "storage/sync/scoped_file.h"

namespace Storage {
namespace {

// Closes and removes a temporary file whose contents must not replace anything, keeping the
// thread's last error for the caller.
BOOL DiscardTemporary(ScopedFile& file, const std::u16string& temporary) {
  DWORD error = GetLastError();
  file.Close();
  DeleteFileW(temporary.c_str());
  SetLastError(error);
  return FALSE;
}

}  // namespace

BOOL CStorageFileWriter::WriteToDiskA(const std::u16string& path, const std::string& data) {
  BOOL written;
  if (owed_copy_ == path && !IsMissing(path) && !CopyToBad(path)) {
    written = FALSE;  // still no copy of the damaged file: it stays as it is
  } else {
    if (owed_copy_ == path) owed_copy_.clear();
    written = Replace(path, data);
  }
  // Logging keeps the last error, which tells the caller why a write failed.
  if (!written && !failing_) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"storage file not written: %s (%u)",
              path.c_str(), GetLastError());
  } else if (written && failing_) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"storage file written again: %s",
              path.c_str());
  }
  failing_ = !written;
  return written;
}

BOOL CStorageFileWriter::Replace(const std::u16string& path, const std::string& data) {
  if (data.size() > 0xFFFFFFFFu) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return FALSE;
  }
  const std::string* bytes = &data;
  std::string encrypted;
  if (write_mode_ == kWriteModeEncrypted) {
    encrypted = data;
    base::mars().encrypt_buffer(reinterpret_cast<uint8_t*>(encrypted.data()), encrypted.size());
    bytes = &encrypted;
  }
  const std::u16string temporary = path + u".tmp";
  ScopedFile file(CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return FALSE;

  const DWORD length = static_cast<DWORD>(bytes->size());
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes->data(), length, &written, nullptr) || written != length) {
    return DiscardTemporary(file, temporary);
  }
  // In every mode: renaming a file whose data may still be in the cache could leave the name
  // on an empty file after a power cut. A flush that fails keeps the old file.
  if (!FlushFileBuffers(file.get())) return DiscardTemporary(file, temporary);
  file.Close();
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    ScopedFile none(INVALID_HANDLE_VALUE);
    return DiscardTemporary(none, temporary);
  }
  return TRUE;
}

BOOL CStorageFileWriter::WriteToDisk(const std::u16string& path, const std::u16string& text) {
  return WriteToDiskA(path, base::WideToUTF8(text));
}

BOOL CStorageFileWriter::ReadFromDiskA(const std::u16string& path, std::string* out) {
  base::CFunctionTrace trace(u"Storage::CStorageFileWriter::ReadFromDiskA");
  if (out == nullptr) return FALSE;
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return FALSE;

  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetFileSize(file.get(), &high);
  if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"%u", GetLastError());
    return FALSE;
  }
  if (high != 0) {  // 4 GiB or more is no storage file of ours
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"%u", ERROR_FILE_TOO_LARGE);
    return FALSE;
  }

  out->assign(size, '\0');
  DWORD read = 0;
  BOOL ok = ReadFile(file.get(), out->data(), size, &read, nullptr);
  out->resize(ok ? read : 0);
  DecodeFileBytes(write_mode_, out);
  return ok && read == size;
}

void CStorageFileWriter::DecodeFileBytes(int write_mode, std::string* bytes) {
  if (write_mode == kWriteModeEncrypted) {
    base::mars().decrypt_buffer(reinterpret_cast<uint8_t*>(bytes->data()), bytes->size());
  }
  // Text files carry no zero bytes; anything behind one is dropped.
  size_t zero = bytes->find('\0');
  if (zero != std::string::npos) bytes->resize(zero);
}

BOOL CStorageFileWriter::ReadFromDisk(const std::u16string& path, std::u16string* out) {
  if (out == nullptr) return FALSE;
  std::string bytes;
  if (!ReadFromDiskA(path, &bytes)) return FALSE;
  *out = base::UTF8ToWide(bytes);
  return TRUE;
}

BOOL CStorageFileWriter::KeepDamagedCopy(const std::u16string& path) {
  if (IsMissing(path)) return FALSE;
  if (CopyToBad(path)) {
    if (owed_copy_ == path) owed_copy_.clear();
    return TRUE;
  }
  owed_copy_ = path;
  return FALSE;
}

bool CStorageFileWriter::IsMissing(const std::u16string& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

BOOL CStorageFileWriter::CopyToBad(const std::u16string& path) {
  const std::u16string copy = path + u".bad";
  if (!CopyFileW(path.c_str(), copy.c_str(), FALSE)) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"damaged file not kept, and not replaced until it can be: %s (%u)", path.c_str(),
              GetLastError());
    return FALSE;
  }
  base::Log(base::kLogLevelError, base::kLogCategoryNone, u"damaged file kept as %s", copy.c_str());
  return TRUE;
}

}  // namespace Storage
