// DeleteFileW, CreateDirectoryW, RemoveDirectoryW and GetFileAttributesW.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "browserplatform/fileapi.h"
#include "tests/common/temp_folder.h"

namespace {

using platform_test::Exists;
using platform_test::FileFixture;
using platform_test::WriteNative;

// A folder holding a file "file", an empty folder "empty" and a folder "full" with one file.
class FileOpsTest : public FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    WriteNative(folder_.Native("file"), "data");
    std::filesystem::create_directory(folder_.Native("empty"));
    std::filesystem::create_directory(folder_.Native("full"));
    WriteNative(folder_.Native("full/inner"), "x");
  }

  std::u16string At(const char* name) const { return folder_.Wide(name); }
};

struct NameCase {
  const char* name;
  bool succeeds;
  DWORD error;
};

TEST_F(FileOpsTest, DeleteFile) {
  const NameCase cases[] = {
      {"missing", false, ERROR_FILE_NOT_FOUND},
      {"missing/file", false, ERROR_PATH_NOT_FOUND},
      {"file/below", false, ERROR_PATH_NOT_FOUND},
      {"empty", false, ERROR_ACCESS_DENIED},
      {"file", true, 0},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(DeleteFileW(At(c.name).c_str()), c.succeeds ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(Exists(folder_.Native("file")));
  EXPECT_TRUE(Exists(folder_.Native("empty")));
}

TEST_F(FileOpsTest, CreateDirectory) {
  const NameCase cases[] = {
      {"new", true, 0},
      {"new\\below", true, 0},
      {"empty", false, ERROR_ALREADY_EXISTS},
      {"file", false, ERROR_ALREADY_EXISTS},
      {"missing/below", false, ERROR_PATH_NOT_FOUND},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(CreateDirectoryW(At(c.name).c_str(), nullptr), c.succeeds ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder_.Native("new/below")));
}

TEST_F(FileOpsTest, RemoveDirectory) {
  const NameCase cases[] = {
      {"full", false, ERROR_DIR_NOT_EMPTY},
      {"file", false, ERROR_DIRECTORY},
      {"missing", false, ERROR_FILE_NOT_FOUND},
      {"missing/below", false, ERROR_PATH_NOT_FOUND},
      {"empty", true, 0},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(RemoveDirectoryW(At(c.name).c_str()), c.succeeds ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(Exists(folder_.Native("empty")));
  EXPECT_TRUE(Exists(folder_.Native("full/inner")));
}

TEST_F(FileOpsTest, GetFileAttributes) {
  WriteNative(folder_.Native("readonly"), "x");
  std::filesystem::permissions(folder_.Native("readonly"), std::filesystem::perms::owner_read);
  const struct {
    const char* name;
    DWORD attributes;
    DWORD error;
  } cases[] = {
      {"file", FILE_ATTRIBUTE_NORMAL, 0},
      {"readonly", FILE_ATTRIBUTE_READONLY, 0},
      {"empty", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"full\\inner", FILE_ATTRIBUTE_NORMAL, 0},
      {"missing", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"missing/below", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"file/below", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(At(c.name).c_str()), c.attributes);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

}  // namespace
