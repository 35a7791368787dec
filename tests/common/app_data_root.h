// A temporary application-data root for a whole test binary. The storage system computes its
// root once per process, so the environment must point at the test's folder before any test
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
  enum class Account {
    // $XDG_CONFIG_HOME is an existing temporary folder.
    kConfigured,
    // A new account: $HOME is an empty temporary folder and $XDG_CONFIG_HOME is unset, so
    // $HOME/.config does not exist until the system makes it.
    kFresh,
  };

  static AppDataRootEnvironment* Register(Account account = Account::kConfigured) {
    // GoogleTest takes ownership of the environment.
    return static_cast<AppDataRootEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new AppDataRootEnvironment(account)));
  }

  void SetUp() override {
    folder_ = std::make_unique<platform_test::TempFolder>();
    ASSERT_TRUE(folder_->valid());
    if (account_ == Account::kConfigured) {
      ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder_->path().c_str(), 1), 0);
    } else {
      ASSERT_EQ(::unsetenv("XDG_CONFIG_HOME"), 0);
      ASSERT_EQ(::setenv("HOME", folder_->path().c_str(), 1), 0);
    }
  }
  void TearDown() override { folder_.reset(); }

 private:
  explicit AppDataRootEnvironment(Account account) : account_(account) {}

  const Account account_;
  std::unique_ptr<platform_test::TempFolder> folder_;
};

// The per-user configuration folder as the test sees it: $XDG_CONFIG_HOME, else
// $HOME/.config.
inline std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config";
}

// "<config folder>/orvex/browser/".
inline std::string AppDataBrowserRoot() { return ConfigFolder() + "/orvex/browser/"; }

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
