// Moving and copying files: MoveFileExW, MoveFileW, CopyFileW.
//
// The storage system saves each file by writing "<file>.tmp", flushing it and moving it over
// the old file, so a move must replace atomically and must never leave the old file damaged:
// rename(2) does both on one file system, and across file systems the copy goes to a
// temporary file beside the target that is renamed over it only once complete and durable.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "browserplatform/fileapi.h"
#include "platform/file.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/share_registry.h"
#include "platform/win_error.h"

namespace platform {
namespace {

constexpr DWORD kMoveFlags =
    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
constexpr size_t kCopyBufferSize = 64 * 1024;

// A file created beside `target` that is removed again unless Keep() is called.
class TempFile {
 public:
  explicit TempFile(const std::string& target)
      : path_(target + ".moveXXXXXX"), fd_(::mkostemp(path_.data(), O_CLOEXEC)) {
    if (!fd_.valid()) path_.clear();
  }
  ~TempFile() {
    fd_.Close();
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool valid() const { return !path_.empty(); }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  int Close() { return fd_.Close(); }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
  ScopedFd fd_;
};

// Copies what is left of `from` to `to`, then gives `to` the permission bits of `mode`.
int CopyContents(int from, int to, mode_t mode) {
  auto buffer = std::make_unique<char[]>(kCopyBufferSize);
  for (;;) {
    size_t read = 0;
    if (int error = ReadFully(from, buffer.get(), kCopyBufferSize, &read)) return error;
    if (read == 0) break;
    size_t written = 0;
    if (int error = WriteFully(to, buffer.get(), read, &written)) return error;
  }
  if (RetryOnEintr([&] { return ::fchmod(to, mode & 0777); }) != 0) return errno;
  return 0;
}

// Renames `from` to `to`, replacing an existing file only when `replace`. Returns a Win32
// error or 0. Run under the share registry, so no open slips in after the sharing check.
DWORD RenameOver(const std::string& from, const std::string& to, bool replace) {
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    if (!replace) return ERROR_ALREADY_EXISTS;
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  }
  int result;
  if (replace) {
    result = ::rename(from.c_str(), to.c_str());
  } else {
    // Refused atomically by the kernel, in case another process creates the target now.
    result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
      result = ::rename(from.c_str(), to.c_str());  // a file system without the flag
    }
  }
  if (result == 0) return ERROR_SUCCESS;
  if (errno == EEXIST) return ERROR_ALREADY_EXISTS;
  return PathErrorFromErrno(errno, to);
}

// The part of MoveFileExW that crosses file systems: copy beside the target, make the copy
// durable, rename it over the target, remove the source.
DWORD MoveByCopy(const std::string& from, const std::string& to, bool replace) {
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    if (!replace) return ERROR_ALREADY_EXISTS;
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  }
  std::shared_ptr<File> source =
      OpenFile(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
  if (!source) return GetLastError();
  if (::fstat(source->fd(), &st) != 0) return Win32ErrorFromErrno(errno);

  TempFile temp(to);
  if (!temp.valid()) return PathErrorFromErrno(errno, to);
  int error = CopyContents(source->fd(), temp.fd(), st.st_mode);
  if (!error) error = SyncFile(temp.fd());
  if (!error) error = temp.Close();
  if (error) return Win32ErrorFromErrno(error);

  DWORD result = ERROR_SUCCESS;
  bool ran = ShareRegistry::Instance().RunIfDeletable({from, to}, [&] {
    result = RenameOver(temp.path(), to, replace);
    if (result != ERROR_SUCCESS) return;
    temp.Keep();
    if (::unlink(from.c_str()) != 0) result = PathErrorFromErrno(errno, from);
  });
  return ran ? result : ERROR_SHARING_VIOLATION;
}

// Makes a finished move durable: the entries of both folders it changed.
int SyncFoldersOf(const std::string& from, const std::string& to) {
  const std::string to_folder = ParentFolder(to);
  const std::string from_folder = ParentFolder(from);
  if (int error = SyncFolder(to_folder)) return error;
  struct stat a, b;
  bool same = ::stat(to_folder.c_str(), &a) == 0 && ::stat(from_folder.c_str(), &b) == 0 &&
              a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  return same ? 0 : SyncFolder(from_folder);
}

}  // namespace
}  // namespace platform

using platform::FailWith;
using platform::FailWithErrno;

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
  std::string from, to;
  if (!platform::NativePath(existing, &from)) return FALSE;
  if (!target || (flags & ~platform::kMoveFlags) != 0) return FailWith(ERROR_INVALID_PARAMETER);
  if (!platform::NativePath(target, &to)) return FALSE;
  if (int error = platform::MoveFault()) return FailWithErrno(error);

  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return platform::FailWithPathErrno(errno, from);
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  DWORD result = ERROR_SUCCESS;
  bool ran = platform::ShareRegistry::Instance().RunIfDeletable(
      {from, to}, [&] { result = platform::RenameOver(from, to, replace); });
  if (!ran) return FailWith(ERROR_SHARING_VIOLATION);
  if (result == ERROR_NOT_SAME_DEVICE && (flags & MOVEFILE_COPY_ALLOWED) && S_ISREG(st.st_mode)) {
    result = platform::MoveByCopy(from, to, replace);
  }
  if (result != ERROR_SUCCESS) return FailWith(result);
  if (flags & MOVEFILE_WRITE_THROUGH) {
    if (int error = platform::SyncFoldersOf(from, to)) return FailWithErrno(error);
  }
  return TRUE;
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR target) {
  return MoveFileExW(existing, target, MOVEFILE_COPY_ALLOWED);
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL fail_if_exists) {
  std::string from, to;
  if (!platform::NativePath(existing, &from) || !platform::NativePath(target, &to)) return FALSE;
  std::shared_ptr<platform::File> source =
      platform::OpenFile(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
  if (!source) return FALSE;
  struct stat st;
  if (::fstat(source->fd(), &st) != 0) return FailWithErrno(errno);
  std::shared_ptr<platform::File> copy =
      platform::OpenFile(to, GENERIC_WRITE, 0, fail_if_exists ? CREATE_NEW : CREATE_ALWAYS, 0);
  if (!copy) return FALSE;
  if (int error = platform::CopyContents(source->fd(), copy->fd(), st.st_mode)) {
    // Removed while still held without sharing, so nobody else has it open.
    ::unlink(to.c_str());
    return FailWithErrno(error);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
