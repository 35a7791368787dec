#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_faults.h"

namespace platform {
namespace {

// Large transfers go in pieces: Linux moves at most about 2 GiB per call anyway.
constexpr size_t kMaxChunk = size_t{1} << 30;

// How much of a write of `size` bytes the disk-full fault lets through.
size_t AllowedWriteSize(size_t size) {
  std::atomic<int64_t>& left = GetFileFaults().bytes_until_disk_full;
  size_t chunk = std::min(size, kMaxChunk);
  int64_t budget = left.load();
  int64_t take;
  do {
    if (budget < 0) return chunk;
    take = std::min(budget, static_cast<int64_t>(chunk));
  } while (!left.compare_exchange_weak(budget, budget - take));
  return static_cast<size_t>(take);
}

}  // namespace

ScopedFd::~ScopedFd() { Close(); }

int ScopedFd::Close() {
  if (fd_ < 0) return 0;
  // Never retried: Linux releases the descriptor even when close reports EINTR.
  int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

int ReadFully(int fd, void* buffer, size_t size, size_t* done) {
  char* out = static_cast<char*>(buffer);
  *done = 0;
  if (GetFileFaults().read_fails) return EIO;
  while (*done < size) {
    size_t chunk = std::min(size - *done, kMaxChunk);
    ssize_t n = RetryOnEintr([&] { return ::read(fd, out + *done, chunk); });
    if (n < 0) return errno;
    if (n == 0) break;
    *done += static_cast<size_t>(n);
  }
  return 0;
}

int WriteFully(int fd, const void* buffer, size_t size, size_t* done) {
  const char* in = static_cast<const char*>(buffer);
  *done = 0;
  FileFaults& faults = GetFileFaults();
  if (faults.write_fails) return ENOSPC;
  while (*done < size) {
    size_t chunk = AllowedWriteSize(size - *done);
    if (chunk == 0) return ENOSPC;
    ssize_t n = RetryOnEintr([&] { return ::write(fd, in + *done, chunk); });
    if (n < 0) return errno;
    // A regular file takes no bytes only when the device is full.
    if (n == 0) return ENOSPC;
    *done += static_cast<size_t>(n);
  }
  return 0;
}

int SyncFile(int fd) {
  FileFaults& faults = GetFileFaults();
  if (faults.sync_fails) return EIO;
  if (RetryOnEintr([&] { return ::fsync(fd); }) != 0) return errno;
  ++faults.file_syncs;
  return 0;
}

int SyncFolder(const std::string& path) {
  FileFaults& faults = GetFileFaults();
  if (faults.sync_fails) return EIO;
  ScopedFd folder(
      RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!folder.valid()) return errno;
  if (RetryOnEintr([&] { return ::fsync(folder.get()); }) != 0) return errno;
  ++faults.folder_syncs;
  return 0;
}

int MoveFault() { return GetFileFaults().move_fails ? EACCES : 0; }

int OpenForWriteFault() { return GetFileFaults().open_for_write_fails ? EACCES : 0; }

}  // namespace platform
