// CreateFileW, the calls on file handles, and share modes.
#include "browserplatform/fileapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "browserplatform/handleapi.h"
#include "tests/common/temp_folder.h"

// Another header declares the same alias; repeating an identical alias must compile.
using LPOVERLAPPED = OVERLAPPED*;

namespace {

using platform_test::Exists;
using platform_test::FileFixture;
using platform_test::ReadNative;
using platform_test::WriteNative;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a handle when the test leaves its scope, also on a failed assertion.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

HANDLE Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool Write(HANDLE file, std::string_view data) {
  DWORD written = 0;
  return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

std::string Read(HANDLE file, DWORD size) {
  std::string data(size, '\0');
  DWORD read = 0;
  if (!ReadFile(file, data.data(), size, &read, nullptr)) return "<failed>";
  data.resize(read);
  return data;
}

bool Seek(HANDLE file, LONGLONG distance, DWORD method, LONGLONG* position = nullptr) {
  LARGE_INTEGER to, now;
  to.QuadPart = distance;
  if (!SetFilePointerEx(file, to, &now, method)) return false;
  if (position) *position = now.QuadPart;
  return true;
}

using FileTest = FileFixture;

struct DispositionCase {
  DWORD disposition;
  bool exists;
  bool succeeds;
  DWORD error;                // the last error, after success too
  const char* content_after;  // nullptr: the file must not exist
};

TEST_F(FileTest, DispositionsFollowWindows) {
  const DispositionCase cases[] = {
      {CREATE_NEW, false, true, 0, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, 0, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_EXISTING, true, true, 0, "old"},
      {OPEN_ALWAYS, false, true, 0, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {TRUNCATE_EXISTING, true, true, 0, ""},
  };
  for (const DispositionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << " exists " << c.exists);
    const std::string path = folder_.Native("file");
    std::filesystem::remove(path);
    if (c.exists) WriteNative(path, "old");
    SetLastError(12345);
    Handle file(Open(folder_.Wide("file"), kReadWrite, 0, c.disposition));
    EXPECT_EQ(file.valid(), c.succeeds);
    EXPECT_EQ(GetLastError(), c.error);
    if (c.content_after) {
      EXPECT_EQ(ReadNative(path), c.content_after);
    } else {
      EXPECT_FALSE(Exists(path));
    }
  }
}

TEST_F(FileTest, RefusesBadArgumentsAndNames) {
  const std::u16string file = folder_.Wide("file");
  const std::u16string in_missing = folder_.Wide("missing/file");
  const std::u16string unpaired = folder_.Wide("bad") + u'\xD800';
  const std::u16string folder = platform_test::Widen(folder_.path());
  struct Case {
    const char16_t* path;
    DWORD access, share, disposition, error;
  } cases[] = {
      {file.c_str(), kReadWrite, 0, 0, ERROR_INVALID_PARAMETER},
      {file.c_str(), kReadWrite, 0, 6, ERROR_INVALID_PARAMETER},
      {file.c_str(), kReadWrite, 8, CREATE_ALWAYS, ERROR_INVALID_PARAMETER},
      {file.c_str(), GENERIC_READ, 0, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
      {in_missing.c_str(), GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {in_missing.c_str(), kReadWrite, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {folder.c_str(), GENERIC_READ, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {nullptr, GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {u"", GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {unpaired.c_str(), kReadWrite, 0, CREATE_ALWAYS, ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    SetLastError(0);
    Handle handle(CreateFileW(c.path, c.access, c.share, nullptr, c.disposition, 0, nullptr));
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(GetLastError(), c.error);
  }
  // Opening the folder for writing is refused as well, and nothing was created.
  Handle opened(Open(folder, kReadWrite, 0, OPEN_ALWAYS));
  EXPECT_FALSE(opened.valid());
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(folder_.Names().empty());
}

TEST_F(FileTest, BothSeparatorsAndUnicodeNamesWork) {
  std::filesystem::create_directory(folder_.Native("sub"));
  const std::u16string name = platform_test::Widen(folder_.path()) + u"\\sub\\gr\u00FC\u00DFe.json";
  {
    Handle file(Open(name, GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(Write(file.get(), "data"));
  }
  EXPECT_EQ(ReadNative(folder_.Native("sub/gr\xC3\xBC\xC3\x9F"
                                      "e.json")),
            "data");
  Handle again(
      Open(folder_.Wide("sub/") + u"gr\u00FC\u00DFe.json", GENERIC_READ, 0, OPEN_EXISTING));
  ASSERT_TRUE(again.valid());
  EXPECT_EQ(Read(again.get(), 10), "data");
}

TEST_F(FileTest, ReadOnlyAttributeAppliesToNewFilesOnly) {
  Handle file(Open(folder_.Wide("ro"), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(file.valid());
  EXPECT_TRUE(Write(file.get(), "creator may write"));
  EXPECT_EQ(GetFileAttributesW(folder_.Wide("ro").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(
      std::filesystem::status(folder_.Native("ro")).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
          std::filesystem::perms::others_read);
}

TEST_F(FileTest, ReadWriteSeekAndSizeRoundTrip) {
  Handle file(Open(folder_.Wide("f"), kReadWrite, 0, CREATE_NEW));
  ASSERT_TRUE(file.valid());
  ASSERT_TRUE(Write(file.get(), "hello world"));
  EXPECT_TRUE(FlushFileBuffers(file.get()));

  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file.get(), &high), 11u);
  EXPECT_EQ(high, 0u);
  LONGLONG position = -1;
  ASSERT_TRUE(Seek(file.get(), 6, FILE_BEGIN, &position));
  EXPECT_EQ(position, 6);
  EXPECT_EQ(Read(file.get(), 100), "world");  // a short read up to the end
  EXPECT_EQ(Read(file.get(), 100), "");       // at the end: TRUE with 0 bytes
  ASSERT_TRUE(Seek(file.get(), -5, FILE_END, &position));
  EXPECT_EQ(position, 6);
  ASSERT_TRUE(Seek(file.get(), -1, FILE_CURRENT, &position));
  EXPECT_EQ(position, 5);

  EXPECT_FALSE(Seek(file.get(), -6, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  ASSERT_TRUE(Seek(file.get(), 0, FILE_CURRENT, &position));
  EXPECT_EQ(position, 5);  // unchanged by the refused seek
  EXPECT_FALSE(Seek(file.get(), 0, 3));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // Cut to the position, then extend past the end with zeros.
  ASSERT_TRUE(SetEndOfFile(file.get()));
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
  EXPECT_EQ(size.QuadPart, 5);
  ASSERT_TRUE(Seek(file.get(), 8, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file.get()));
  EXPECT_EQ(ReadNative(folder_.Native("f")), std::string("hello\0\0\0", 8));
}

TEST_F(FileTest, SizesBeyondThirtyTwoBits) {
  Handle file(Open(folder_.Wide("big"), kReadWrite, 0, CREATE_NEW));
  ASSERT_TRUE(file.valid());
  // Sparse files: no disk space is used.
  ASSERT_TRUE(Seek(file.get(), 0xFFFFFFFFLL, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file.get()));
  DWORD high = 99;
  SetLastError(ERROR_INVALID_FUNCTION);
  EXPECT_EQ(GetFileSize(file.get(), &high), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), 0u);  // a real size, not a failure
  EXPECT_EQ(high, 0u);

  ASSERT_TRUE(Seek(file.get(), 0x100000005LL, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file.get()));
  EXPECT_EQ(GetFileSize(file.get(), &high), 5u);
  EXPECT_EQ(high, 1u);
}

TEST_F(FileTest, CallsCheckAccessArgumentsAndHandles) {
  WriteNative(folder_.Native("f"), "abc");
  Handle write_only(Open(folder_.Wide("f"), GENERIC_WRITE, kShareAll, OPEN_EXISTING));
  Handle read_only(Open(folder_.Wide("f"), GENERIC_READ, kShareAll, OPEN_EXISTING));
  Handle query(Open(folder_.Wide("f"), 0, kShareAll, OPEN_EXISTING));
  ASSERT_TRUE(write_only.valid() && read_only.valid() && query.valid());
  char buffer[4];
  DWORD count = 77;

  EXPECT_FALSE(ReadFile(write_only.get(), buffer, 3, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(ReadFile(query.get(), buffer, 3, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WriteFile(read_only.get(), "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(FlushFileBuffers(read_only.get()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetEndOfFile(read_only.get()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileSize(query.get(), nullptr), 3u);  // a query handle may ask the size

  OVERLAPPED* overlapped = reinterpret_cast<OVERLAPPED*>(buffer);
  EXPECT_FALSE(ReadFile(read_only.get(), buffer, 3, &count, overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(ReadFile(read_only.get(), nullptr, 3, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(WriteFile(write_only.get(), nullptr, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetFileSizeEx(read_only.get(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HANDLE closed = Open(folder_.Wide("f"), GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(CloseHandle(closed));
  for (HANDLE bad : {closed, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    EXPECT_FALSE(ReadFile(bad, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST_F(FileTest, AppendOnlyHandleWritesAtTheEnd) {
  WriteNative(folder_.Native("log"), "one,");
  Handle file(Open(folder_.Wide("log"), FILE_APPEND_DATA, 0, OPEN_EXISTING));
  ASSERT_TRUE(file.valid());
  ASSERT_TRUE(Seek(file.get(), 0, FILE_BEGIN));
  ASSERT_TRUE(Write(file.get(), "two"));
  EXPECT_EQ(ReadNative(folder_.Native("log")), "one,two");
}

struct OpenMode {
  DWORD access;
  DWORD share;
};

struct ShareCase {
  OpenMode first, second;
  bool allowed;
};

TEST_F(FileTest, ShareModesFollowWindows) {
  constexpr DWORD R = FILE_SHARE_READ, W = FILE_SHARE_WRITE, D = FILE_SHARE_DELETE;
  const ShareCase cases[] = {
      {{GENERIC_READ, R}, {GENERIC_READ, R}, true},
      {{GENERIC_READ, R}, {GENERIC_WRITE, R | W}, false},  // first does not share writing
      {{GENERIC_READ, R | W}, {GENERIC_WRITE, R | W}, true},
      {{GENERIC_WRITE, R | W}, {GENERIC_READ, R}, false},  // second refuses the writer
      {{kReadWrite, 0}, {GENERIC_READ, R | W | D}, false},
      {{0, 0}, {kReadWrite, 0}, true},  // a query open neither conflicts
      {{kReadWrite, 0}, {0, 0}, true},  // ... nor is refused
      {{DELETE, R | W | D}, {GENERIC_READ, R | W}, false},
      {{GENERIC_READ, R | W | D}, {DELETE, R | W | D}, true},
      {{GENERIC_READ, R}, {DELETE, R | W | D}, false},
      {{GENERIC_WRITE, W}, {GENERIC_WRITE, W}, true},
      {{FILE_APPEND_DATA, R | W}, {GENERIC_READ, R}, false},  // appending is writing
      {{GENERIC_ALL, R | W}, {GENERIC_READ, R | W}, false},   // all includes delete
  };
  WriteNative(folder_.Native("f"), "data");
  for (const ShareCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    {
      Handle first(Open(folder_.Wide("f"), c.first.access, c.first.share, OPEN_EXISTING));
      ASSERT_TRUE(first.valid());
      SetLastError(0);
      Handle second(Open(folder_.Wide("f"), c.second.access, c.second.share, OPEN_EXISTING));
      EXPECT_EQ(second.valid(), c.allowed);
      EXPECT_EQ(GetLastError(), c.allowed ? 0u : ERROR_SHARING_VIOLATION);
    }
    // Closing forgot both opens.
    Handle exclusive(Open(folder_.Wide("f"), GENERIC_ALL, 0, OPEN_EXISTING));
    EXPECT_TRUE(exclusive.valid());
  }
}

TEST_F(FileTest, RefusedOverwriteLeavesTheOtherOpenersData) {
  Handle first(Open(folder_.Wide("f"), kReadWrite, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(first.valid());
  ASSERT_TRUE(Write(first.get(), "precious"));
  for (DWORD disposition : {CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    Handle second(Open(folder_.Wide("f"), GENERIC_WRITE, kShareAll, disposition));
    EXPECT_FALSE(second.valid());
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(ReadNative(folder_.Native("f")), "precious");
}

TEST_F(FileTest, SharingFollowsTheFileNotTheName) {
  WriteNative(folder_.Native("a"), "data");
  std::filesystem::create_hard_link(folder_.Native("a"), folder_.Native("b"));
  Handle first(Open(folder_.Wide("a"), GENERIC_WRITE, 0, OPEN_EXISTING));
  ASSERT_TRUE(first.valid());
  Handle second(Open(folder_.Wide("b"), GENERIC_READ, kShareAll, OPEN_EXISTING));
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_F(FileTest, DeleteAndMoveNeedFileShareDelete) {
  WriteNative(folder_.Native("f"), "data");
  WriteNative(folder_.Native("g"), "other");
  {
    Handle open(Open(folder_.Wide("f"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    ASSERT_TRUE(open.valid());
    EXPECT_FALSE(DeleteFileW(folder_.Wide("f").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileExW(folder_.Wide("f").c_str(), folder_.Wide("h").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // ... and as the target that a move would replace.
    EXPECT_FALSE(MoveFileExW(folder_.Wide("g").c_str(), folder_.Wide("f").c_str(),
                             MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadNative(folder_.Native("f")), "data");
    EXPECT_EQ(ReadNative(folder_.Native("g")), "other");
  }
  // Shared for deleting: the name goes, the open handle keeps reading.
  Handle open(Open(folder_.Wide("f"), GENERIC_READ, kShareAll, OPEN_EXISTING));
  ASSERT_TRUE(open.valid());
  EXPECT_TRUE(DeleteFileW(folder_.Wide("f").c_str()));
  EXPECT_FALSE(Exists(folder_.Native("f")));
  EXPECT_EQ(Read(open.get(), 10), "data");
}

TEST_F(FileTest, ConcurrentExclusiveOpensNeverOverlap) {
  WriteNative(folder_.Native("f"), "data");
  const std::u16string path = folder_.Wide("f");
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> wrong_errors{0};
  std::atomic<int> successes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        DWORD disposition = i % 2 ? CREATE_ALWAYS : OPEN_EXISTING;
        HANDLE file = Open(path, kReadWrite, 0, disposition);
        if (file == INVALID_HANDLE_VALUE) {
          if (GetLastError() != ERROR_SHARING_VIOLATION) ++wrong_errors;
          continue;
        }
        if (holders.fetch_add(1) != 0) ++overlaps;
        ++successes;
        holders.fetch_sub(1);
        CloseHandle(file);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(wrong_errors.load(), 0);
  EXPECT_GT(successes.load(), 0);
}

}  // namespace
