// The POSIX calls under the file layer: the one EINTR loop, full reads and writes, syncs.
//
// The fault switches of platform/file_faults.h act here, as the errno the real failure
// would give, so that they travel the same error paths as real failures. Every function
// returns 0 or an errno value.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

namespace platform {

// Repeats a system call that was interrupted by a signal before it did anything.
template <class Call>
auto RetryOnEintr(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// Owns a file descriptor.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd();
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor now; 0 or the errno of close.
  int Close();
  // Gives up ownership and returns the descriptor.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Reads until `size` bytes or the end of the file; *done is the count read, also on error.
int ReadFully(int fd, void* buffer, size_t size, size_t* done);

// Writes all `size` bytes, retrying short writes; *done is the count written, also on error.
int WriteFully(int fd, const void* buffer, size_t size, size_t* done);

// fsync of a file, and of the folder `path` so that renames and creations in it are durable.
int SyncFile(int fd);
int SyncFolder(const std::string& path);

// The fault switches of operations that do not pass through the calls above.
int MoveFault();
int OpenForWriteFault();

}  // namespace platform
