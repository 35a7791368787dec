// CreateFileW and the calls on file handles.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "browserplatform/fileapi.h"
#include "platform/path.h"
#include "platform/win_error.h"

namespace platform {
namespace {

constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
constexpr DWORD kWriteDataAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA;
constexpr DWORD kWriteAccess = kWriteDataAccess | FILE_APPEND_DATA;
constexpr DWORD kDeleteAccess = GENERIC_ALL | DELETE;
constexpr DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another thread may remove the file between the exclusive create and the plain open of
// OPEN_ALWAYS / CREATE_ALWAYS; the race is retried this often before giving up.
constexpr int kCreateAttempts = 8;

DWORD UsesOf(DWORD access) {
  DWORD uses = 0;
  if (access & kReadAccess) uses |= kShareRead;
  if (access & kWriteAccess) uses |= kShareWrite;
  if (access & kDeleteAccess) uses |= kShareDelete;
  return uses;
}

std::shared_ptr<File> FailOpen(DWORD error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace

File::File(int fd, const FileId& id, DWORD uses, DWORD shares)
    : KernelObject(ObjectKind::kFile), fd_(fd), id_(id), uses_(uses), shares_(shares) {}

File::~File() { ShareRegistry::Instance().Close(id_, uses_, shares_); }

std::shared_ptr<File> OpenFile(const std::string& path, DWORD access, DWORD share,
                               DWORD disposition, DWORD flags_and_attributes) {
  if ((share & ~kAllShares) != 0 || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  if (disposition == TRUNCATE_EXISTING && (access & kWriteDataAccess) == 0) {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  const DWORD uses = UsesOf(access);
  if (uses & kShareWrite) {
    if (int error = OpenForWriteFault()) return FailOpen(PathErrorFromErrno(error, path));
  }

  // Overwriting truncates, so CREATE_ALWAYS needs a writable descriptor even when the handle
  // only queries. O_NONBLOCK keeps an open of a FIFO from hanging; it does nothing to a
  // regular file, and nothing else is accepted.
  const bool readable = (uses & kShareRead) != 0;
  const bool writable = (uses & kShareWrite) != 0 || disposition == CREATE_ALWAYS;
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  flags |= readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
  if ((uses & kShareWrite) && (access & kWriteDataAccess) == 0) flags |= O_APPEND;
  if (flags_and_attributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
  const mode_t mode = (flags_and_attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  const auto open_file = [&](int extra) {
    return RetryOnEintr([&] { return ::open(path.c_str(), flags | extra, mode); });
  };

  bool existed = false;
  int fd = -1;
  switch (disposition) {
    case CREATE_NEW:
      fd = open_file(O_CREAT | O_EXCL);
      if (fd < 0 && errno == EEXIST) return FailOpen(ERROR_FILE_EXISTS);
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      fd = open_file(0);
      existed = true;
      break;
    default:  // CREATE_ALWAYS, OPEN_ALWAYS
      // Windows reports whether the file was there, so try creating it first.
      for (int attempt = 0; attempt < kCreateAttempts && fd < 0; ++attempt) {
        fd = open_file(O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) break;
        fd = open_file(0);
        existed = fd >= 0;
        if (fd < 0 && errno != ENOENT) break;
      }
      break;
  }
  if (fd < 0) return FailOpen(PathErrorFromErrno(errno, path));
  ScopedFd owned(fd);

  struct stat st;
  if (::fstat(fd, &st) != 0) return FailOpen(Win32ErrorFromErrno(errno));
  if (!S_ISREG(st.st_mode)) return FailOpen(ERROR_ACCESS_DENIED);
  const FileId id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  // Checked and recorded in one step, and before truncating: a refused open must leave the
  // other opener's data alone.
  if (!ShareRegistry::Instance().TryOpen(id, uses, share)) {
    return FailOpen(ERROR_SHARING_VIOLATION);
  }
  auto file = std::make_shared<File>(owned.Release(), id, uses, share);

  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
    if (RetryOnEintr([&] { return ::ftruncate(fd, 0); }) != 0) {
      return FailOpen(Win32ErrorFromErrno(errno));
    }
  }
  const bool report_existing =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(report_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file;
}

}  // namespace platform

using platform::FailWith;
using platform::FailWithErrno;
using platform::File;

namespace {

std::shared_ptr<File> LookupFile(HANDLE handle) {
  return platform::LookupHandleAs<File>(handle, platform::ObjectKind::kFile);
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags_and_attributes, HANDLE template_file) {
  std::string native;
  if (!platform::NativePath(path, &native)) return INVALID_HANDLE_VALUE;
  std::shared_ptr<File> file =
      platform::OpenFile(native, access, share, disposition, flags_and_attributes);
  if (!file) return INVALID_HANDLE_VALUE;
  HANDLE handle = platform::InsertHandle(std::move(file));
  return handle ? handle : INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD size, DWORD* read, LPOVERLAPPED overlapped) {
  if (read) *read = 0;
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  if (overlapped || (!buffer && size > 0)) return FailWith(ERROR_INVALID_PARAMETER);
  if (!file->can_read()) return FailWith(ERROR_ACCESS_DENIED);
  size_t done = 0;
  int error = platform::ReadFully(file->fd(), buffer, size, &done);
  if (read) *read = static_cast<DWORD>(done);
  return error ? FailWithErrno(error) : TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, DWORD* written, LPOVERLAPPED overlapped) {
  if (written) *written = 0;
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  if (overlapped || (!buffer && size > 0)) return FailWith(ERROR_INVALID_PARAMETER);
  if (!file->can_write()) return FailWith(ERROR_ACCESS_DENIED);
  size_t done = 0;
  int error = platform::WriteFully(file->fd(), buffer, size, &done);
  if (written) *written = static_cast<DWORD>(done);
  return error ? FailWithErrno(error) : TRUE;
}

BOOL FlushFileBuffers(HANDLE handle) {
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  if (!file->can_write()) return FailWith(ERROR_ACCESS_DENIED);
  int error = platform::SyncFile(file->fd());
  return error ? FailWithErrno(error) : TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  if (!size) return FailWith(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (::fstat(file->fd(), &st) != 0) return FailWithErrno(errno);
  size->QuadPart = st.st_size;
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, DWORD* size_high) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
  if (size_high) *size_high = static_cast<DWORD>(size.u.HighPart);
  // The caller cannot tell this size from a failure but by the last error.
  if (size.u.LowPart == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return size.u.LowPart;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* new_position,
                      DWORD method) {
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  int64_t origin;
  switch (method) {
    case FILE_BEGIN:
      origin = 0;
      break;
    case FILE_CURRENT:
      origin = ::lseek(file->fd(), 0, SEEK_CUR);
      if (origin < 0) return FailWithErrno(errno);
      break;
    case FILE_END: {
      struct stat st;
      if (::fstat(file->fd(), &st) != 0) return FailWithErrno(errno);
      origin = st.st_size;
      break;
    }
    default:
      return FailWith(ERROR_INVALID_PARAMETER);
  }
  int64_t position;
  if (__builtin_add_overflow(origin, distance.QuadPart, &position)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (position < 0) return FailWith(ERROR_NEGATIVE_SEEK);
  if (::lseek(file->fd(), position, SEEK_SET) < 0) return FailWithErrno(errno);
  if (new_position) new_position->QuadPart = position;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
  std::shared_ptr<File> file = LookupFile(handle);
  if (!file) return FALSE;
  if (!file->can_write()) return FailWith(ERROR_ACCESS_DENIED);
  off_t position = ::lseek(file->fd(), 0, SEEK_CUR);
  if (position < 0) return FailWithErrno(errno);
  if (platform::RetryOnEintr([&] { return ::ftruncate(file->fd(), position); }) != 0) {
    return FailWithErrno(errno);
  }
  return TRUE;
}
