// A temporary application-data root for a whole test binary. The storage system computes its
// root once per process, so $XDG_CONFIG_HOME must point at the test's folder before any test
// runs: a global test environment sets it and removes the folder at the end.
//
// Register it once per binary, at namespace scope in one source file:
//   const auto* const kAppDataRoot = storage_test::AppDataRootEnvironment::Register();
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "tests/common/temp_folder.h"

namespace storage_test {

class AppDataRootEnvironment : public ::testing::Environment {
 public:
  static AppDataRootEnvironment* Register() {
    // GoogleTest takes ownership of the environment.
    return static_cast<AppDataRootEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new AppDataRootEnvironment()));
  }

  void SetUp() override {
    folder_ = std::make_unique<platform_test::TempFolder>();
    ASSERT_TRUE(folder_->valid());
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder_->path().c_str(), 1), 0);
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<platform_test::TempFolder> folder_;
};

// "$XDG_CONFIG_HOME/orvex/browser/", as the test sees it.
inline std::string AppDataBrowserRoot() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  return std::string(config ? config : "") + "/orvex/browser/";
}

// The data folder of a user with folder style 2, with its trailing separator: "UserData/"
// and the hexadecimal of the name's UTF-16LE bytes.
inline std::string StyleTwoUserFolder(std::u16string_view user) {
  std::string hex;
  char pair[5];
  for (char16_t c : user) {
    std::snprintf(pair, sizeof(pair), "%02x%02x", c & 0xFF, c >> 8);
    hex += pair;
  }
  return AppDataBrowserRoot() + "UserData/" + hex + "/";
}

}  // namespace storage_test
