#include "storage/service/data_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "browserplatform/types.h"
#include "tests/common/app_data_root.h"
#include "tests/common/fake_sandbox.h"
#include "tests/common/temp_folder.h"

namespace {

using platform_test::Narrow;
using platform_test::TempFolder;

bool IsDirectory(const std::string& path) { return std::filesystem::is_directory(path); }

TEST(DataPathTest, RootIsTheConfigFolderFollowedByOrvexBrowser) {
  EXPECT_EQ(Narrow(Storage::GetAppDataBrowserDir()), storage_test::AppDataBrowserRoot());
}

TEST(DataPathTest, FoldersUnderTheRootAreBuiltAndCreated) {
  struct Case {
    int kind;
    int style;
    const char16_t* user;
    const char* relative;  // below the root
  };
  const Case kCases[] = {
      {1, 1, u"abc", "SysData/"},
      {1, 2, nullptr, "SysData/"},
      {2, 2, u"abc", "UserData/610062006300/"},
      {2, 1, u"abc", "UserData/0A73B7929C9546628F097CEEACA6E079610062006300/"},
      {2, 7, u"abc", "UserData/0A73B7929C9546628F097CEEACA6E079610062006300/"},
      // UTF-16LE bytes, a surrogate pair included.
      {2, 2, u"\u00e9\U0001F600", "UserData/e9003dd800de/"},
      {2, 2, nullptr, "UserData//"},
      {2, 2, u"", "UserData//"},
      {2, 1, nullptr, "UserData/0A73B7929C9546628F097CEEACA6E079/"},
      {9, 2, u"abc", "UserData/610062006300/"},  // any other kind is a user folder
  };
  const std::string root = storage_test::AppDataBrowserRoot();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.relative);
    std::u16string path = Storage::BuildDataPath(c.kind, u"", c.style, c.user);
    EXPECT_EQ(Narrow(path), root + c.relative);
    EXPECT_TRUE(IsDirectory(root + c.relative));
  }
}

TEST(DataPathTest, SuffixIsAppendedAfterTheFolder) {
  EXPECT_EQ(Narrow(Storage::BuildDataPath(1, u"userpref_v2", 1, u"x")),
            storage_test::AppDataBrowserRoot() + "SysData/userpref_v2");
  EXPECT_FALSE(IsDirectory(storage_test::AppDataBrowserRoot() + "SysData/userpref_v2"));
}

TEST(DataPathTest, KindThreeIsEmptyAndKindFourIsTheExecutablesFolder) {
  EXPECT_EQ(Storage::BuildDataPath(3, u"", 1, u"abc"), u"");
  EXPECT_EQ(Storage::BuildDataPath(3, u"suffix", 2, nullptr), u"");

  const std::string exe_dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  EXPECT_EQ(Narrow(Storage::GetModuleDir()), exe_dir);
  // No separator after it, and the suffix is not appended.
  EXPECT_EQ(Narrow(Storage::BuildDataPath(4, u"suffix", 2, u"abc")), exe_dir);
}

TEST(DataPathTest, ConcurrentFirstUseAgreesOnTheRoot) {
  // In a process of its own this is the first computation of the root.
  constexpr int kThreads = 4;
  std::vector<std::u16string> roots(kThreads);
  std::vector<std::u16string> paths(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i, &roots, &paths] {
      roots[i] = Storage::GetAppDataBrowserDir();
      std::u16string user = u"concurrent" + std::u16string(1, static_cast<char16_t>(u'0' + i));
      paths[i] = Storage::BuildDataPath(2, u"", 2, user.c_str());
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(Narrow(roots[i]), storage_test::AppDataBrowserRoot());
    EXPECT_TRUE(IsDirectory(Narrow(paths[i])));
  }
}

class EnsureDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.valid()); }

  TempFolder folder_;
};

TEST_F(EnsureDirectoryTest, ExistingPathIsTrueWithoutCreatingAnything) {
  platform_test::WriteNative(folder_.Native("file"), "x");
  for (const char* name : {"", "file", "file//", "/\\/"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Storage::EnsureDirectory(folder_.Wide(name), 0), TRUE);
  }
  EXPECT_EQ(folder_.Names(), (std::set<std::string>{"file"}));
}

TEST_F(EnsureDirectoryTest, CreatesAtMostDepthMissingLevels) {
  struct Case {
    const char* relative;
    int depth;
    BOOL result;
    const char* deepest_created;  // null: nothing is created
  };
  const Case kCases[] = {
      {"a/b/c/d", 3, FALSE, nullptr},    {"a/b/c/d", 4, TRUE, "a/b/c/d"},
      {"a/b/c/d//", 4, TRUE, "a/b/c/d"}, {"a\\b", 2, TRUE, "a/b"},
      {"a", 0, FALSE, nullptr},          {"a", -1, FALSE, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.relative << " depth " << c.depth);
    TempFolder folder;
    ASSERT_TRUE(folder.valid());
    EXPECT_EQ(Storage::EnsureDirectory(folder.Wide(c.relative), c.depth), c.result);
    if (c.deepest_created) {
      EXPECT_TRUE(IsDirectory(folder.Native(c.deepest_created)));
    } else {
      EXPECT_TRUE(folder.Names().empty());
    }
  }
}

TEST_F(EnsureDirectoryTest, PathWithoutParentOrUnderAFileFails) {
  EXPECT_EQ(Storage::EnsureDirectory(u"", 3), FALSE);
  EXPECT_EQ(Storage::EnsureDirectory(u"no-separator-storage-test", 3), FALSE);
  EXPECT_FALSE(platform_test::Exists("no-separator-storage-test"));

  platform_test::WriteNative(folder_.Native("file"), "x");
  EXPECT_EQ(Storage::EnsureDirectory(folder_.Wide("file/sub"), 1), FALSE);
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST_F(EnsureDirectoryTest, LevelThatAlreadyExistsWhenCreatedCountsAsSuccess) {
  // A dangling link is not found, yet creating a folder in its place reports it exists.
  std::filesystem::create_symlink(folder_.Native("nowhere"), folder_.Native("link"));
  EXPECT_EQ(Storage::EnsureDirectory(folder_.Wide("link"), 1), TRUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST_F(EnsureDirectoryTest, SandboxPreparesEachLevelAndCreatesWhenBothQueriesHold) {
  const std::string kPrepare = "Internal_OV_Virtual_PrepareDirectoryAndRegKey";
  const std::string kCreate = "Internal_OV_Virtual_CreateDirectory";
  struct Case {
    bool ovsafe;
    bool file_hook;
    int depth;
    BOOL result;
    std::vector<std::string> calls;
  };
  const Case kCases[] = {
      {true, true, 2, TRUE, {kPrepare, kPrepare, kCreate, kCreate}},
      {true, false, 2, TRUE, {kPrepare, kPrepare}},
      {false, true, 2, TRUE, {kPrepare, kPrepare}},
      // Two missing levels, one allowed: the first level prepares, the second stops.
      {true, true, 1, FALSE, {kPrepare}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.ovsafe << c.file_hook << c.depth);
    TempFolder folder;
    ASSERT_TRUE(folder.valid());
    testing_support::FakeSandbox sandbox(c.ovsafe, /*waitable=*/false, c.file_hook);
    EXPECT_EQ(Storage::EnsureDirectory(folder.Wide("x/y"), c.depth), c.result);
    EXPECT_EQ(sandbox.calls(), c.calls);
    EXPECT_EQ(IsDirectory(folder.Native("x/y")), c.result == TRUE);
  }
}

}  // namespace
