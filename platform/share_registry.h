// Windows share modes, enforced between the opens of this process.
//
// Linux lets anyone open, truncate or remove a file that others hold open; the storage system
// was written against Windows, where an open states what it shares and a conflicting open or
// delete is refused. The registry keeps, for each open file, counts of what its opens use and
// share, and decides as Windows does. Thread safety: all members may be called from any
// thread; one lock covers every check together with the change it allows.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string_view>

#include "browserplatform/types.h"

namespace platform {

// A file under every name it has (hard links included).
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// What an open uses of a file and what it shares with others are both sets of these bits
// (the FILE_SHARE_* values). An open that uses none is neither checked nor recorded.
constexpr DWORD kShareRead = 1;
constexpr DWORD kShareWrite = 2;
constexpr DWORD kShareDelete = 4;

class ShareRegistry {
 public:
  static ShareRegistry& Instance();

  ShareRegistry() = default;
  ShareRegistry(const ShareRegistry&) = delete;
  ShareRegistry& operator=(const ShareRegistry&) = delete;

  // Records an open of `id`; false, recording nothing, when it conflicts with an open already
  // recorded (ERROR_SHARING_VIOLATION).
  bool TryOpen(const FileId& id, DWORD uses, DWORD shares);

  // Forgets an open that TryOpen recorded.
  void Close(const FileId& id, DWORD uses, DWORD shares);

  // Runs `operation` (a delete or rename of `paths`) while no open is recorded, unless a file
  // one of `paths` names is open without FILE_SHARE_DELETE; then returns false without
  // running it. A path names the link itself, not the file a symbolic link points to.
  bool RunIfDeletable(std::initializer_list<std::string_view> paths,
                      const std::function<void()>& operation);

 private:
  struct Counts {
    uint32_t opens = 0;
    uint32_t users[3] = {};    // opens using read, write, delete
    uint32_t sharers[3] = {};  // opens sharing read, write, delete
  };

  bool IsDeletable(std::string_view path) const;  // mutex_ held

  mutable std::mutex mutex_;
  std::map<FileId, Counts> files_;  // guarded by mutex_
};

}  // namespace platform
