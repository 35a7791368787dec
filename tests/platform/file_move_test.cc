// MoveFileExW and CopyFileW, and the fault switches on the storage system's save sequence.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/file_faults.h"
#include "browserplatform/fileapi.h"
#include "browserplatform/handleapi.h"
#include "tests/common/temp_folder.h"

namespace {

using platform::GetFileFaults;
using platform_test::Exists;
using platform_test::FileFixture;
using platform_test::ReadNative;
using platform_test::TempFolder;
using platform_test::WriteNative;
using Names = std::set<std::string>;

// The storage system's save: write "<file>.tmp", flush it, move it over the file. Returns 0
// or the last error of the step that failed, after cleaning up as the system does.
DWORD Save(const std::u16string& file, std::string_view data) {
  const std::u16string tmp = file + u".tmp";
  HANDLE handle = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  DWORD error = 0;
  if (!WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      !FlushFileBuffers(handle)) {
    error = GetLastError();
  }
  CloseHandle(handle);
  if (!error &&
      !MoveFileExW(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error) DeleteFileW(tmp.c_str());
  return error;
}

using MoveTest = FileFixture;

TEST_F(MoveTest, SaveReplacesTheFileDurably) {
  WriteNative(folder_.Native("data"), "old");
  uint64_t file_syncs = GetFileFaults().file_syncs;
  uint64_t folder_syncs = GetFileFaults().folder_syncs;
  ASSERT_EQ(Save(folder_.Wide("data"), "new"), 0u);
  EXPECT_EQ(ReadNative(folder_.Native("data")), "new");
  EXPECT_EQ(folder_.Names(), Names{"data"});
  EXPECT_EQ(GetFileFaults().file_syncs, file_syncs + 1);
  EXPECT_EQ(GetFileFaults().folder_syncs, folder_syncs + 1);  // one folder: one sync
}

TEST_F(MoveTest, FolderSyncsFollowBothFolders) {
  std::filesystem::create_directory(folder_.Native("a"));
  WriteNative(folder_.Native("f"), "data");
  uint64_t before = GetFileFaults().folder_syncs;
  ASSERT_TRUE(
      MoveFileExW(folder_.Wide("f").c_str(), folder_.Wide("a/f").c_str(), MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(GetFileFaults().folder_syncs, before + 2);
  before = GetFileFaults().folder_syncs;
  ASSERT_TRUE(MoveFileExW(folder_.Wide("a/f").c_str(), folder_.Wide("a/g").c_str(), 0));
  EXPECT_EQ(GetFileFaults().folder_syncs, before);  // not asked to
}

struct FaultCase {
  const char* name;
  void (*arm)();
  DWORD error;
};

TEST_F(MoveTest, FailedSaveNeverDamagesTheOldFile) {
  const FaultCase cases[] = {
      {"write fails", [] { GetFileFaults().write_fails = true; }, ERROR_DISK_FULL},
      {"disk fills mid-write", [] { GetFileFaults().bytes_until_disk_full = 2; }, ERROR_DISK_FULL},
      {"sync fails", [] { GetFileFaults().sync_fails = true; }, ERROR_WRITE_FAULT},
      {"move fails", [] { GetFileFaults().move_fails = true; }, ERROR_ACCESS_DENIED},
      {"open fails", [] { GetFileFaults().open_for_write_fails = true; }, ERROR_ACCESS_DENIED},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteNative(folder_.Native("data"), "old content");
    c.arm();
    EXPECT_EQ(Save(folder_.Wide("data"), "new content"), c.error);
    GetFileFaults().Reset();
    EXPECT_EQ(ReadNative(folder_.Native("data")), "old content");
    EXPECT_EQ(folder_.Names(), Names{"data"});
  }
}

TEST_F(MoveTest, DiskFullWritesWhatFits) {
  HANDLE file =
      CreateFileW(folder_.Wide("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  GetFileFaults().bytes_until_disk_full = 3;
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(file, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(written, 3u);
  EXPECT_FALSE(WriteFile(file, "g", 1, &written, nullptr));
  EXPECT_EQ(written, 0u);
  CloseHandle(file);
  EXPECT_EQ(ReadNative(folder_.Native("f")), "abc");
}

TEST_F(MoveTest, FailedFolderSyncIsReported) {
  WriteNative(folder_.Native("f"), "data");
  GetFileFaults().sync_fails = true;
  EXPECT_FALSE(
      MoveFileExW(folder_.Wide("f").c_str(), folder_.Wide("g").c_str(), MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
}

TEST_F(MoveTest, RefusesToReplaceUnlessAsked) {
  WriteNative(folder_.Native("a"), "A");
  WriteNative(folder_.Native("b"), "B");
  EXPECT_FALSE(MoveFileExW(folder_.Wide("a").c_str(), folder_.Wide("b").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(MoveFileW(folder_.Wide("a").c_str(), folder_.Wide("b").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadNative(folder_.Native("a")), "A");
  EXPECT_EQ(ReadNative(folder_.Native("b")), "B");
  // A new name needs no permission; folders move too.
  EXPECT_TRUE(MoveFileW(folder_.Wide("a").c_str(), folder_.Wide("c").c_str()));
  std::filesystem::create_directory(folder_.Native("d"));
  EXPECT_TRUE(MoveFileExW(folder_.Wide("d").c_str(), folder_.Wide("e").c_str(), 0));
  EXPECT_EQ(folder_.Names(), (Names{"b", "c", "e"}));
}

TEST_F(MoveTest, ErrorsFollowWindows) {
  WriteNative(folder_.Native("f"), "data");
  std::filesystem::create_directory(folder_.Native("dir"));
  const std::u16string f = folder_.Wide("f"), dir = folder_.Wide("dir");
  const std::u16string missing = folder_.Wide("missing"), deep = folder_.Wide("no/such");
  struct Case {
    const char16_t* from;
    const char16_t* to;
    DWORD flags, error;
  } cases[] = {
      {missing.c_str(), f.c_str(), MOVEFILE_REPLACE_EXISTING, ERROR_FILE_NOT_FOUND},
      {deep.c_str(), missing.c_str(), 0, ERROR_PATH_NOT_FOUND},
      {f.c_str(), deep.c_str(), 0, ERROR_PATH_NOT_FOUND},
      {f.c_str(), dir.c_str(), MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {f.c_str(), nullptr, MOVEFILE_REPLACE_EXISTING, ERROR_INVALID_PARAMETER},
      {f.c_str(), missing.c_str(), 4, ERROR_INVALID_PARAMETER},
      {nullptr, missing.c_str(), 0, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(c.from, c.to, c.flags));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(folder_.Names(), (Names{"dir", "f"}));
}

// /dev/shm is a separate file system on Linux, so a move from there must copy.
class CrossDeviceMoveTest : public FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    if (!other_.valid() || DeviceOf(other_.path()) == DeviceOf(folder_.path())) {
      GTEST_SKIP() << "no /dev/shm on another file system";
    }
    WriteNative(other_.Native("src"), "moved data");
    std::filesystem::permissions(other_.Native("src"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_write |
                                                           std::filesystem::perms::group_read);
    WriteNative(folder_.Native("data"), "old");
  }

  BOOL Move(DWORD flags) {
    return MoveFileExW(other_.Wide("src").c_str(), folder_.Wide("data").c_str(), flags);
  }

  static dev_t DeviceOf(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_dev : 0;
  }

  TempFolder other_{"/dev/shm"};
};

TEST_F(CrossDeviceMoveTest, CopiesDurablyWhenAllowed) {
  EXPECT_FALSE(Move(MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);
  EXPECT_FALSE(Move(MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  uint64_t file_syncs = GetFileFaults().file_syncs;
  ASSERT_TRUE(Move(MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadNative(folder_.Native("data")), "moved data");
  EXPECT_EQ(GetFileFaults().file_syncs, file_syncs + 1);
  EXPECT_EQ(
      std::filesystem::status(folder_.Native("data")).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
          std::filesystem::perms::group_read);
  EXPECT_EQ(folder_.Names(), Names{"data"});
  EXPECT_TRUE(other_.Names().empty());
}

TEST_F(CrossDeviceMoveTest, FailedCopyLeavesEverythingAsItWas) {
  for (auto arm : {+[] { GetFileFaults().bytes_until_disk_full = 4; },
                   +[] { GetFileFaults().sync_fails = true; }}) {
    arm();
    EXPECT_FALSE(Move(MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
    GetFileFaults().Reset();
    EXPECT_EQ(ReadNative(folder_.Native("data")), "old");
    EXPECT_EQ(folder_.Names(), Names{"data"});  // no temporary left behind
    EXPECT_EQ(other_.Names(), Names{"src"});
  }
}

using CopyTest = FileFixture;

TEST_F(CopyTest, CopiesDataAndPermissions) {
  WriteNative(folder_.Native("src"), "payload");
  std::filesystem::permissions(folder_.Native("src"), std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::group_read);
  ASSERT_TRUE(CopyFileW(folder_.Wide("src").c_str(), folder_.Wide("dst").c_str(), TRUE));
  EXPECT_EQ(ReadNative(folder_.Native("dst")), "payload");
  EXPECT_EQ(GetFileAttributesW(folder_.Wide("dst").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadNative(folder_.Native("src")), "payload");
}

TEST_F(CopyTest, ExistingTargetsAndErrors) {
  WriteNative(folder_.Native("src"), "new");
  WriteNative(folder_.Native("dst"), "old");
  EXPECT_FALSE(CopyFileW(folder_.Wide("src").c_str(), folder_.Wide("dst").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadNative(folder_.Native("dst")), "old");
  EXPECT_TRUE(CopyFileW(folder_.Wide("src").c_str(), folder_.Wide("dst").c_str(), FALSE));
  EXPECT_EQ(ReadNative(folder_.Native("dst")), "new");

  EXPECT_FALSE(CopyFileW(folder_.Wide("none").c_str(), folder_.Wide("x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Onto itself: the read open does not share writing, so nothing is truncated.
  EXPECT_FALSE(CopyFileW(folder_.Wide("src").c_str(), folder_.Wide("src").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadNative(folder_.Native("src")), "new");
  EXPECT_EQ(folder_.Names(), (Names{"dst", "src"}));
}

TEST_F(CopyTest, FailedCopyRemovesThePartialTarget) {
  WriteNative(folder_.Native("src"), "some longer payload");
  GetFileFaults().bytes_until_disk_full = 5;
  EXPECT_FALSE(CopyFileW(folder_.Wide("src").c_str(), folder_.Wide("dst").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_FALSE(Exists(folder_.Native("dst")));
}

}  // namespace
