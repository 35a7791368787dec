#include "platform/share_registry.h"

#include <sys/stat.h>

#include <string>

#include "platform/no_destructor.h"

namespace platform {
namespace {

constexpr DWORD kBits[3] = {kShareRead, kShareWrite, kShareDelete};

}  // namespace

ShareRegistry& ShareRegistry::Instance() {
  // Handles may be closed by static destructors of other libraries.
  static NoDestructor<ShareRegistry> registry;
  return *registry;
}

bool ShareRegistry::TryOpen(const FileId& id, DWORD uses, DWORD shares) {
  if (uses == 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  // A file without opens cannot conflict, so a new entry is always kept.
  Counts& counts = files_[id];
  for (int i = 0; i < 3; ++i) {
    // Each earlier open must share what the new one uses, and the new one must share what
    // any earlier open uses.
    bool uses_unshared = (uses & kBits[i]) && counts.sharers[i] < counts.opens;
    bool refuses_used = !(shares & kBits[i]) && counts.users[i] > 0;
    if (uses_unshared || refuses_used) return false;
  }
  ++counts.opens;
  for (int i = 0; i < 3; ++i) {
    if (uses & kBits[i]) ++counts.users[i];
    if (shares & kBits[i]) ++counts.sharers[i];
  }
  return true;
}

void ShareRegistry::Close(const FileId& id, DWORD uses, DWORD shares) {
  if (uses == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(id);
  if (it == files_.end()) return;
  Counts& counts = it->second;
  for (int i = 0; i < 3; ++i) {
    if (uses & kBits[i]) --counts.users[i];
    if (shares & kBits[i]) --counts.sharers[i];
  }
  if (--counts.opens == 0) files_.erase(it);
}

bool ShareRegistry::RunIfDeletable(std::initializer_list<std::string_view> paths,
                                   const std::function<void()>& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::string_view path : paths) {
    if (!IsDeletable(path)) return false;
  }
  operation();
  return true;
}

bool ShareRegistry::IsDeletable(std::string_view path) const {
  struct stat st;
  // A name that cannot be looked up is left to the operation to report.
  if (::lstat(std::string(path).c_str(), &st) != 0) return true;
  auto it = files_.find(FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
  return it == files_.end() || it->second.sharers[2] == it->second.opens;
}

}  // namespace platform
