// A folder of real files for one test, removed with its contents afterwards, and small
// helpers that look at files without going through the layer under test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "platform/file_faults.h"

namespace platform_test {

// ASCII to UTF-16, for the test's own names.
inline std::u16string Widen(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

inline std::string Narrow(std::u16string_view ascii) {
  std::string out;
  for (char16_t c : ascii) out.push_back(static_cast<char>(c));
  return out;
}

class TempFolder {
 public:
  explicit TempFolder(std::string parent = "/tmp") {
    std::string pattern = parent + "/browserplatform-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    // Files a test made read-only still go: removal needs write access to the folder only.
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool valid() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string Native(std::string_view name) const { return path_ + "/" + std::string(name); }
  std::u16string Wide(std::string_view name) const { return Widen(Native(name)); }

  // The names in the folder, to show that nothing was left behind.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::string path_;
};

inline std::string ReadNative(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteNative(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// The descriptor the next open would get: a limit of this many descriptors makes it fail.
inline int LowestFreeDescriptor() {
  int fd = ::dup(0);
  if (fd >= 0) ::close(fd);
  return fd;
}

inline bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(path, ignored).type() !=
         std::filesystem::file_type::not_found;
}

// A test with its own folder; fault switches are off again after each test.
class FileFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.valid()); }
  void TearDown() override { platform::GetFileFaults().Reset(); }

  TempFolder folder_;
};

}  // namespace platform_test
