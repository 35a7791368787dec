// SHGetFolderPathW, PathRemoveFileSpecW and GetModuleFileNameW.
#include "browserplatform/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "browserplatform/fileapi.h"
#include "tests/common/temp_folder.h"

namespace {

using platform_test::Narrow;
using platform_test::Widen;

// Sets or unsets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const char* value) {
    if (value) {
      ::setenv(name_, value, 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

class AppDataTest : public ::testing::Test {
 protected:
  HRESULT Get(int csidl = CSIDL_APPDATA) {
    path_[0] = u'?';
    return SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path_);
  }
  std::string path() const { return Narrow(path_); }

  ScopedEnv xdg_{"XDG_CONFIG_HOME"};
  ScopedEnv home_{"HOME"};
  char16_t path_[MAX_PATH];
};

TEST_F(AppDataTest, FollowsTheXdgRules) {
  const struct {
    const char* xdg;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/xdg/config", "/home/u", "/xdg/config"},
      {"/xdg/config//", "/home/u", "/xdg/config"},
      {"/", "/home/u", "/"},
      {nullptr, "/home/u", "/home/u/.config"},
      {"", "/home/u/", "/home/u/.config"},
      {"relative/config", "/home/u", "/home/u/.config"},  // relative XDG paths are ignored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    xdg_.Set(c.xdg);
    home_.Set(c.home);
    EXPECT_EQ(Get(), S_OK);
    EXPECT_EQ(path(), c.expected);
  }
}

TEST_F(AppDataTest, FallsBackToThePasswordDatabase) {
  xdg_.Set(nullptr);
  home_.Set(nullptr);
  ASSERT_EQ(Get(), S_OK);
  EXPECT_EQ(path().front(), '/');
  EXPECT_TRUE(path().ends_with("/.config")) << path();
}

// CSIDL_FLAG_CREATE makes a missing configuration folder owner-only, with a few missing
// parents under $XDG_CONFIG_HOME and none above ".config" under a home; a deeper gap creates
// nothing.
TEST_F(AppDataTest, CreatesAMissingFolderOwnerOnlyWithinABound) {
  namespace fs = std::filesystem;
  const struct {
    const char* xdg;   // below the test folder; null: unset
    const char* home;  // below the test folder, used when xdg is null
    HRESULT expected;
    const char* made;  // the topmost folder made, or the one that must not be made
  } cases[] = {
      {"x3/b/config", nullptr, S_OK, "x3"},
      {"x4/b/c/config", nullptr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "x4"},
      {nullptr, "home", S_OK, "home/.config"},
      {nullptr, "nohome", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "nohome"},
      {"file/config", nullptr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "file/config"},
  };
  platform_test::TempFolder folder;
  ASSERT_TRUE(folder.valid());
  fs::create_directory(folder.Native("home"));
  platform_test::WriteNative(folder.Native("file"), "x");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xdg ? c.xdg : c.home);
    const std::string xdg = c.xdg ? folder.Native(c.xdg) : "";
    const std::string home = c.home ? folder.Native(c.home) : "";
    xdg_.Set(c.xdg ? xdg.c_str() : nullptr);
    home_.Set(c.home ? home.c_str() : nullptr);
    const std::string config = c.xdg ? xdg : home + "/.config";
    ASSERT_EQ(Get(), S_OK);
    EXPECT_FALSE(fs::exists(config)) << "made without being asked";

    EXPECT_EQ(Get(CSIDL_APPDATA | CSIDL_FLAG_CREATE), c.expected);
    const std::string made = folder.Native(c.made);
    if (FAILED(c.expected)) {
      EXPECT_FALSE(fs::exists(made));
      continue;
    }
    EXPECT_EQ(path(), config);
    for (std::string level = config; level.size() >= made.size();
         level = fs::path(level).parent_path()) {
      ASSERT_TRUE(fs::is_directory(level)) << level;
      EXPECT_EQ(fs::status(level).permissions() & fs::perms::all, fs::perms::owner_all) << level;
    }
    EXPECT_EQ(Get(CSIDL_APPDATA | CSIDL_FLAG_CREATE), S_OK);  // existing is fine
  }

  // An existing folder keeps its permissions.
  const std::string shared = folder.Native("shared");
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  xdg_.Set(shared.c_str());
  EXPECT_EQ(Get(CSIDL_APPDATA | CSIDL_FLAG_CREATE), S_OK);
  EXPECT_EQ(fs::status(shared).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

TEST_F(AppDataTest, RefusesWhatDoesNotFitOrIsUnknown) {
  std::string longest = "/" + std::string(MAX_PATH - 2, 'a');
  xdg_.Set(longest.c_str());
  EXPECT_EQ(Get(), S_OK);
  EXPECT_EQ(path(), longest);
  std::string too_long = longest + "a";
  xdg_.Set(too_long.c_str());
  EXPECT_EQ(Get(), E_FAIL);
  EXPECT_EQ(path(), "");

  EXPECT_EQ(Get(0x0005), E_INVALIDARG);  // CSIDL_PERSONAL
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
}

TEST(PathRemoveFileSpecTest, RemovesTheLastElement) {
  const struct {
    const char16_t* in;
    const char16_t* out;
    BOOL removed;
  } cases[] = {
      {u"/a/b", u"/a", TRUE},    {u"/a/b/", u"/a/b", TRUE}, {u"/a", u"/", TRUE},
      {u"/", u"/", FALSE},       {u"name", u"", TRUE},      {u"", u"", FALSE},
      {u"\\a\\b", u"\\a", TRUE}, {u"a/b\\c", u"a/b", TRUE}, {u"\\", u"\\", FALSE},
      {u"dir/", u"dir", TRUE},
  };
  for (const auto& c : cases) {
    std::u16string path = c.in;
    EXPECT_EQ(PathRemoveFileSpecW(path.data()), c.removed) << Narrow(c.in);
    EXPECT_EQ(std::u16string(path.c_str()), c.out) << Narrow(c.in);
  }
  EXPECT_FALSE(PathRemoveFileSpecW(nullptr));
}

void FunctionInThisBinary() {}

TEST(GetModuleFileNameTest, NamesTheExecutableAndLibraries) {
  const std::u16string self = Widen(std::filesystem::read_symlink("/proc/self/exe").string());
  char16_t buffer[1024];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
  EXPECT_EQ(std::u16string(buffer, n), self);
  EXPECT_EQ(buffer[n], u'\0');

  HMODULE in_self = reinterpret_cast<HMODULE>(&FunctionInThisBinary);
  n = GetModuleFileNameW(in_self, buffer, 1024);
  EXPECT_EQ(std::u16string(buffer, n), self);

  HMODULE in_library = reinterpret_cast<HMODULE>(&CreateFileW);
  n = GetModuleFileNameW(in_library, buffer, 1024);
  std::string library = Narrow(std::u16string(buffer, n));
  EXPECT_EQ(library.front(), '/');
  EXPECT_TRUE(library.ends_with("/libbrowserplatform.so")) << library;

  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(uintptr_t{16}), buffer, 1024), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(GetModuleFileNameTest, TruncatesLikeWindows) {
  const std::u16string self = Widen(std::filesystem::read_symlink("/proc/self/exe").string());
  const DWORD length = static_cast<DWORD>(self.size());
  std::u16string buffer(length + 8, u'#');

  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), length + 1), length);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(buffer.substr(0, length + 1), self + u'\0');

  for (DWORD size : {length, DWORD{5}, DWORD{1}}) {
    SCOPED_TRACE(size);
    buffer.assign(length + 8, u'#');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size), size);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer.substr(0, size + 1), self.substr(0, size - 1) + u'\0' + u'#');
  }
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetModuleFileNameW(nullptr, nullptr, 10), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
