#include "storage/sync/storage_file_writer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/mars.h"
#include "platform/file_faults.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"

namespace {

using platform_test::ReadNative;
using platform_test::WriteNative;
using Storage::CStorageFileWriter;

class FileWriterTest : public platform_test::FileFixture {
 protected:
  std::u16string Target() { return folder_.Wide("userpref_v2"); }
  std::string TargetNative() { return folder_.Native("userpref_v2"); }
};

TEST_F(FileWriterTest, WritesExactBytesAndLeavesNoTemporary) {
  for (int mode : {1, 2}) {
    CStorageFileWriter writer(mode);
    std::string data("<?xml?>\r\n\xE4\xB8\xAD", 12);
    ASSERT_TRUE(writer.WriteToDiskA(Target(), data)) << mode;
    EXPECT_EQ(ReadNative(TargetNative()), data);
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"userpref_v2"}));
    ASSERT_TRUE(writer.WriteToDiskA(Target(), ""));
    EXPECT_EQ(ReadNative(TargetNative()), "");
  }
}

// A rename of data still in the cache could leave the name on an empty file after a power
// cut, so every mode flushes the data before the rename and the folder after it.
TEST_F(FileWriterTest, EveryModeFlushesTheDataBeforeTheRenameAndTheFolderAfter) {
  platform::FileFaults& faults = platform::GetFileFaults();
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE(mode);
    const uint64_t files = faults.file_syncs.load();
    const uint64_t folders = faults.folder_syncs.load();
    ASSERT_TRUE(CStorageFileWriter(mode).WriteToDiskA(Target(), "data"));
    EXPECT_EQ(faults.file_syncs.load(), files + 1);
    EXPECT_GT(faults.folder_syncs.load(), folders);
    EXPECT_EQ(ReadNative(TargetNative()), "data");
  }
  // A flush that fails keeps the old file in every mode.
  faults.sync_fails = true;
  EXPECT_FALSE(CStorageFileWriter(1).WriteToDiskA(Target(), "new"));
  faults.sync_fails = false;
  EXPECT_EQ(ReadNative(TargetNative()), "data");
  EXPECT_EQ(folder_.Names(), (std::set<std::string>{"userpref_v2"}));
}

// Mode 3 files: the data's length, whole 16-byte blocks each encrypted on its own, the tail
// plain; reading gives the text back.
TEST_F(FileWriterTest, EncryptedModeEncryptsWholeBlocksAndKeepsTheTailPlain) {
  const std::string text = "<Item key=\"a\" value=\"01ab\">\r\n</Item>\r\n";  // 38 bytes
  const base::mars cipher;
  for (size_t length : {20, 15, 16, 38, 0}) {
    SCOPED_TRACE(length);
    const std::string data = text.substr(0, length);
    CStorageFileWriter writer(3);
    ASSERT_TRUE(writer.WriteToDiskA(Target(), data));
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"userpref_v2"}));

    const std::string file = ReadNative(TargetNative());
    ASSERT_EQ(file.size(), length);
    const size_t whole = length / 16 * 16;
    for (size_t at = 0; at < whole; at += 16) {
      uint8_t block[16];
      cipher.encrypt(reinterpret_cast<const uint8_t*>(data.data() + at), block);
      EXPECT_EQ(file.substr(at, 16), std::string(reinterpret_cast<char*>(block), 16)) << at;
    }
    EXPECT_EQ(file.substr(whole), data.substr(whole));

    std::string out;
    ASSERT_TRUE(writer.ReadFromDiskA(Target(), &out));
    EXPECT_EQ(out, data);
  }
}

// Written by hand: the second byte of the first block is zero, so the bytes must be decrypted
// before the read cuts at the first zero byte.
TEST_F(FileWriterTest, ReadsAKnownEncryptedFile) {
  const std::string text = "name=Ada1002\r\nmail=a\r\n";
  const std::string file(
      "\x7B\x00\xE6\xCA\xD2\x7F\xDC\x28\x63\x8E\xD9\x08\x07\xFB\x04\x8A"
      "il=a\r\n",
      22);
  WriteNative(TargetNative(), file);
  std::string out;
  ASSERT_TRUE(CStorageFileWriter(3).ReadFromDiskA(Target(), &out));
  EXPECT_EQ(out, text);
  std::u16string wide;
  ASSERT_TRUE(CStorageFileWriter(3).ReadFromDisk(Target(), &wide));
  EXPECT_EQ(wide, u"name=Ada1002\r\nmail=a\r\n");

  ASSERT_TRUE(CStorageFileWriter(3).WriteToDiskA(Target(), text));
  EXPECT_EQ(ReadNative(TargetNative()), file);
}

// A plain file read as an encrypted one (or a damaged encrypted file) decrypts to other bytes
// for the caller's parser to reject; the file stays as it is.
TEST_F(FileWriterTest, APlainFileReadAsEncryptedGivesOtherBytes) {
  const std::string plain = "<?xml version=\"1.0\"?>\r\n<ItemTable/>\r\n";
  WriteNative(TargetNative(), plain);
  std::string out;
  EXPECT_TRUE(CStorageFileWriter(3).ReadFromDiskA(Target(), &out));
  EXPECT_NE(out, plain);
  EXPECT_LE(out.size(), plain.size());
  EXPECT_EQ(ReadNative(TargetNative()), plain);
}

TEST_F(FileWriterTest, FailedWritesKeepThePreviousFile) {
  struct Case {
    const char* name;
    std::atomic<bool> platform::FileFaults::*fault;
  };
  const Case cases[] = {
      {"create", &platform::FileFaults::open_for_write_fails},
      {"write", &platform::FileFaults::write_fails},
      {"flush", &platform::FileFaults::sync_fails},
      {"move", &platform::FileFaults::move_fails},
  };
  for (int mode : {2, 3}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " in mode " << mode);
      WriteNative(TargetNative(), "previous");
      platform::GetFileFaults().*c.fault = true;
      EXPECT_FALSE(CStorageFileWriter(mode).WriteToDiskA(Target(), "the next file's text"));
      platform::GetFileFaults().Reset();
      EXPECT_EQ(ReadNative(TargetNative()), "previous");
      EXPECT_EQ(folder_.Names(), (std::set<std::string>{"userpref_v2"}));
    }
  }
}

TEST_F(FileWriterTest, ReadsCutAtTheFirstZeroByte) {
  WriteNative(TargetNative(), std::string("0123456789\0tail", 15));
  std::string out;
  ASSERT_TRUE(CStorageFileWriter(1).ReadFromDiskA(Target(), &out));
  EXPECT_EQ(out, "0123456789");

  WriteNative(TargetNative(), "a\xE4\xB8\xAD\xFF");
  std::u16string wide;
  ASSERT_TRUE(CStorageFileWriter(1).ReadFromDisk(Target(), &wide));
  EXPECT_EQ(wide, u"a\u4e2d\uFFFD");
}

TEST_F(FileWriterTest, MissingFileFailsQuietlyAndLeavesTheOutputAlone) {
  testing_support::CapturingLogController log;
  std::u16string wide = u"unchanged";
  EXPECT_FALSE(CStorageFileWriter(1).ReadFromDisk(folder_.Wide("missing"), &wide));
  EXPECT_EQ(wide, u"unchanged");
  EXPECT_EQ(log.texts(u"function;"),
            (std::vector<std::u16string>{u"Storage::CStorageFileWriter::ReadFromDiskA() {",
                                         u"} Storage::CStorageFileWriter::ReadFromDiskA()"}));
  for (const testing_support::LogLine& line : log.lines()) EXPECT_NE(line.level, 64u);
  // A folder in place of the file cannot be opened either.
  EXPECT_FALSE(CStorageFileWriter(1).WriteToDiskA(folder_.Wide("no/such/folder"), "x"));
}

TEST_F(FileWriterTest, KeepsACopyOfADamagedFile) {
  CStorageFileWriter writer(1);
  EXPECT_FALSE(writer.KeepDamagedCopy(Target()));  // no file, no copy
  EXPECT_TRUE(folder_.Names().empty());

  WriteNative(TargetNative() + ".bad", "older damage");
  WriteNative(TargetNative(), std::string("<ItemTa\0", 8));
  ASSERT_TRUE(writer.KeepDamagedCopy(Target()));
  EXPECT_EQ(ReadNative(TargetNative() + ".bad"), std::string("<ItemTa\0", 8));
  EXPECT_EQ(ReadNative(TargetNative()), std::string("<ItemTa\0", 8));

  testing_support::CapturingLogController log;
  platform::GetFileFaults().open_for_write_fails = true;
  EXPECT_FALSE(writer.KeepDamagedCopy(Target()));
  platform::GetFileFaults().Reset();
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].level, 64u);
  EXPECT_EQ(ReadNative(TargetNative()), std::string("<ItemTa\0", 8));
}

// With no copy of a damaged file (the disk is full), nothing may replace it: it may be the only
// place the user's data still exists. Once a copy can be made, writes go ahead.
TEST_F(FileWriterTest, ADamagedFileWithoutACopyIsNotReplaced) {
  testing_support::CapturingLogController log;
  CStorageFileWriter writer(2);
  WriteNative(TargetNative(), "damaged but precious");
  platform::GetFileFaults().write_fails = true;
  EXPECT_FALSE(writer.KeepDamagedCopy(Target()));
  platform::GetFileFaults().Reset();

  // The copy fails again: the write is refused and says why.
  platform::GetFileFaults().write_fails = true;
  EXPECT_FALSE(writer.WriteToDiskA(Target(), "new"));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_FALSE(writer.WriteToDiskA(Target(), "newer"));
  platform::GetFileFaults().Reset();
  EXPECT_EQ(ReadNative(TargetNative()), "damaged but precious");

  ASSERT_TRUE(writer.WriteToDiskA(Target(), "newest"));
  EXPECT_EQ(ReadNative(TargetNative() + ".bad"), "damaged but precious");
  EXPECT_EQ(ReadNative(TargetNative()), "newest");
  // A failing streak is logged when it starts and when it ends, not at every attempt.
  std::vector<std::u16string> errors;
  for (const testing_support::LogLine& line : log.lines()) {
    if (line.level == 64u && line.text.find(u"storage file") != std::u16string::npos) {
      errors.push_back(line.text.substr(0, line.text.find(u':')));
    }
  }
  EXPECT_EQ(errors, (std::vector<std::u16string>{u"storage file not written",
                                                 u"storage file written again"}));
}

}  // namespace
