// Open files: the kernel object behind a CreateFileW handle, and the open itself.
#pragma once

#include <memory>
#include <string>

#include "platform/file_io.h"
#include "platform/handle_table.h"
#include "platform/share_registry.h"

namespace platform {

// An open file. Its open stays recorded in the share registry until the object dies, which
// is when the last handle is closed and no call is using it.
class File final : public KernelObject {
 public:
  // Takes `fd`, whose open of `id` was recorded with `uses` and `shares`.
  File(int fd, const FileId& id, DWORD uses, DWORD shares);
  ~File() override;

  int fd() const { return fd_.get(); }
  bool can_read() const { return (uses_ & kShareRead) != 0; }
  bool can_write() const { return (uses_ & kShareWrite) != 0; }

 private:
  ScopedFd fd_;
  const FileId id_;
  const DWORD uses_;
  const DWORD shares_;
};

// Opens `path` (native) as CreateFileW does, without making a handle. Null with the last error
// set on failure. On success the last error is ERROR_ALREADY_EXISTS when CREATE_ALWAYS or
// OPEN_ALWAYS found the file, else 0.
std::shared_ptr<File> OpenFile(const std::string& path, DWORD access, DWORD share,
                               DWORD disposition, DWORD flags_and_attributes);

}  // namespace platform
