#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "browserplatform/shell.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/utf.h"
#include "platform/win_error.h"

namespace platform {
namespace {

// Below the configuration folder; the storage library's application-data root is the same
// "orvex/browser" folder.
constexpr char kHiveBelowConfig[] = "/orvex/browser/registry/HKEY_CLASSES_ROOT.hive";

// "registry", "browser", "orvex" and the configuration folder itself: deeper gaps are a
// misconfigured environment, not a place to grow folders in.
constexpr size_t kCreatableLevels = 4;

// Makes `folder` and up to kCreatableLevels - 1 missing parents, owner-only.
DWORD CreateFolders(const std::string& folder) {
  std::vector<std::string> missing;  // deepest first
  std::string level = folder;
  struct stat st;
  while (::stat(level.c_str(), &st) != 0) {
    if (errno != ENOENT) return Win32ErrorFromErrno(errno);
    if (missing.size() == kCreatableLevels) return ERROR_PATH_NOT_FOUND;
    missing.push_back(level);
    level = ParentFolder(level);
  }
  if (!S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    // Made by another writer meanwhile is fine.
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return Win32ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

// Holds an flock on the lock file beside a hive until destroyed (closing the file unlocks).
class HiveLock {
 public:
  // The shared lock when the lock file exists (a hive without one was never written by this
  // layer); false only when the file exists and cannot be locked.
  bool LockShared(const std::string& hive) {
    fd_.emplace(RetryOnEintr([&] { return ::open(LockPath(hive).c_str(), O_RDONLY | O_CLOEXEC); }));
    return !fd_->valid() || Flock(LOCK_SH);
  }
  // The exclusive lock, creating the lock file; 0 or a Win32 error.
  DWORD LockExclusive(const std::string& hive) {
    fd_.emplace(RetryOnEintr(
        [&] { return ::open(LockPath(hive).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); }));
    if (!fd_->valid()) return Win32ErrorFromErrno(errno);
    return Flock(LOCK_EX) ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
  }

 private:
  static std::string LockPath(const std::string& hive) { return hive + ".lock"; }
  bool Flock(int operation) {
    return RetryOnEintr([&] { return ::flock(fd_->get(), operation); }) == 0;
  }

  std::optional<ScopedFd> fd_;
};

// Reads and parses the hive while the caller holds a lock.
DWORD ReadLocked(const std::string& path, RegistryHive* hive) {
  ScopedFd file(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!file.valid()) {
    if (errno != ENOENT) return ERROR_CANTREAD;
    *hive = RegistryHive();
    return ERROR_SUCCESS;
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_CANTREAD;
  if (static_cast<uint64_t>(st.st_size) > kMaxRegistryHiveSize) return ERROR_BADDB;
  // Hives are replaced by renames, never written in place: the size stands.
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  if (ReadFully(file.get(), bytes.data(), bytes.size(), &done) != 0 || done != bytes.size()) {
    return ERROR_CANTREAD;
  }
  return ParseRegistryHive(bytes, hive, nullptr);
}

// Writes `bytes` as the new hive: temporary file, flush, rename, folder flush.
DWORD Replace(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp";
  if (int error = OpenForWriteFault()) return Win32ErrorFromErrno(error);
  ScopedFd file(RetryOnEintr(
      [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); }));
  if (!file.valid()) return Win32ErrorFromErrno(errno);
  size_t done = 0;
  int error = WriteFully(file.get(), bytes.data(), bytes.size(), &done);
  if (error == 0) error = SyncFile(file.get());
  if (error == 0) error = file.Close();
  if (error == 0) error = MoveFault();
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return Win32ErrorFromErrno(error);
  }
  // The new hive is in place; a failed folder flush only weakens its durability.
  SyncFolder(ParentFolder(path));
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ClassesRootHivePath(std::string* path) {
  char16_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return ERROR_PATH_NOT_FOUND;
  }
  *path = Utf16ToUtf8(folder) + kHiveBelowConfig;
  return ERROR_SUCCESS;
}

DWORD ReadHive(const std::string& path, RegistryHive* hive) {
  HiveLock lock;
  if (!lock.LockShared(path)) return ERROR_CANTREAD;
  return ReadLocked(path, hive);
}

DWORD ChangeHive(const std::string& path, const HiveChange& change) {
  if (DWORD error = CreateFolders(ParentFolder(path))) return error;
  HiveLock lock;
  if (DWORD error = lock.LockExclusive(path)) return error;
  RegistryHive hive;
  if (DWORD error = ReadLocked(path, &hive)) return error;
  bool changed = false;
  if (DWORD error = change(hive, &changed)) return error;
  if (!changed) return ERROR_SUCCESS;
  const std::string bytes = SerializeRegistryHive(hive);
  if (bytes.size() > kMaxRegistryHiveSize) return ERROR_NOT_ENOUGH_QUOTA;
  return Replace(path, bytes);
}

}  // namespace platform
