// The start-up data synchroniser over real files: the exact bytes, the damage it keeps and
// recovers from, its limits and its retries.
#include "storage/keyvalue/key_value_storage_sync_binary.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "platform/file_faults.h"
#include "storage/keyvalue/key_value_binary.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;
using Storage::CKeyValueStorageCacheBase;

std::string U32(uint32_t value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
  return bytes;
}

// A record of an ASCII key.
std::string Record(std::string_view key, std::string_view value) {
  std::string record = U32(static_cast<uint32_t>(2 * key.size()));
  for (char c : key) record += std::string{c, '\0'};
  return record + U32(static_cast<uint32_t>(value.size())) + std::string(value);
}

std::string FileOf(const std::string& body) {
  return U32(static_cast<uint32_t>(body.size())) + body;
}

std::string FromHex(std::string_view hex) {
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits.push_back(c);
  }
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(base::HexToBytes(digits, &bytes));
  return std::string(bytes.begin(), bytes.end());
}

class KeyValueSyncBinaryTest : public platform_test::FileFixture {
 protected:
  void TearDown() override {
    FileFixture::TearDown();
    timer_->Uninit();
  }

  base::scoped_refptr<CKeyValueStorageCacheBase> Open() {
    auto config = kv_test::BinaryConfig(folder_.Wide("kv"));
    return CKeyValueStorageCacheBase::create(config.get(), nullptr, timer_.get());
  }
  std::string File() { return platform_test::ReadNative(folder_.Native("kv")); }
  std::string Bad() { return platform_test::ReadNative(folder_.Native("kv.bad")); }
  void WriteFile(const std::string& content) {
    platform_test::WriteNative(folder_.Native("kv"), content);
  }

  base::scoped_refptr<Storage::CStorageSyncTimer> timer_{new Storage::CStorageSyncTimer()};
};

TEST_F(KeyValueSyncBinaryTest, WritesTheExactBytesThroughATemporaryFile) {
  { base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(); }
  EXPECT_EQ(File(), FromHex("00000000"));

  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    ASSERT_TRUE(cache->SetValue(u"ab", NewValue({0x01, 0x02})));
    ASSERT_TRUE(cache->SetValue(u"empty", NewValue()));  // 0 bytes: not written
  }
  EXPECT_EQ(File(), FromHex("0E000000 04000000 6100 6200 02000000 0102"));
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"kv"});
}

TEST_F(KeyValueSyncBinaryTest, PairsRoundTripThroughTheFile) {
  const Bytes longest(Storage::kMaxWrittenBinaryValueLength, 0x5A);
  const std::vector<std::pair<std::u16string, Bytes>> kItems = {
      {u"B", {0x00}},
      {u"a", {0xFF, 0x00, 0x7F}},
      {u"\u00E9t\u00E9 \U0001F600", {0x10, 0x20}},
      {u"longest", longest},
  };
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    for (const auto& [key, bytes] : kItems) ASSERT_TRUE(cache->SetValue(key, NewValue(bytes)));
  }
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  EXPECT_EQ(cache->IsImportFailed(), 0);
  EXPECT_EQ(cache->GetCount(), kItems.size());
  for (const auto& [key, bytes] : kItems) {
    ATL::CComPtr<IValueObject> value = cache->GetValue(key);
    ASSERT_TRUE(value) << base::WideToUTF8(key);
    EXPECT_TRUE(BytesOf(value) == bytes) << base::WideToUTF8(key);
  }
  EXPECT_TRUE(cache->synchroniser()->pending_changes_for_testing().empty());
  EXPECT_EQ(cache->synchroniser()->timer_for_testing(), nullptr);
}

// Accepted as they stand: an odd key length (the odd byte is skipped), bytes after the N
// counted, and a value of the largest length read, which is never written back.
TEST_F(KeyValueSyncBinaryTest, ReadsWhatTheWriterWouldNotWrite) {
  const std::string largest(Storage::kMaxReadBinaryValueLength, '\x33');
  const std::string content =
      FileOf(U32(3) + std::string("a\0X", 3) + U32(1) + "\x07" + Record("big", largest)) +
      "trailing";
  WriteFile(content);
  testing_support::CapturingLogController log;
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->GetCount(), 2u);
    EXPECT_EQ(BytesOf(cache->GetValue(u"a")), Bytes{0x07});
    EXPECT_EQ(BytesOf(cache->GetValue(u"big")).size(), largest.size());
    EXPECT_EQ(cache->synchroniser()->timer_for_testing(), nullptr);  // nothing owed
    EXPECT_EQ(File(), content);
  }
  EXPECT_FALSE(platform_test::Exists(folder_.Native("kv.bad")));
  EXPECT_EQ(File(), FileOf(Record("a", "\x07")));
  int too_long = 0;
  for (const testing_support::LogLine& line : log.lines()) {
    if (line.level == 64 && line.text.find(u"value of big too long") == 0) ++too_long;
  }
  EXPECT_EQ(too_long, 1);
}

// Each damaged file is kept as "kv.bad" and removed; the records before the damage stay and
// reach a new file at the next tick, though nothing changed.
TEST_F(KeyValueSyncBinaryTest, DamagedFilesAreKeptRemovedAndRewrittenWithWhatWasRead) {
  const std::string good = Record("a", "\x01");
  struct Case {
    const char* what;
    std::string content;
    size_t kept;  // records read before the damage: 0 or `good`
  };
  const Case kCases[] = {
      {"empty file", "", 0},
      {"short header", std::string("\x02\x00", 2), 0},
      {"N past the end", U32(100) + good, 0},
      // Not allocated: N is checked against the file first.
      {"N of 4 GiB - 1", U32(0xFFFFFFFF) + good, 0},
      {"no room for K", FileOf(good + std::string("\x01\x00", 2)), 1},
      {"key past N", FileOf(good + U32(50) + "xy"), 1},
      {"no room for V", FileOf(good + U32(2) + std::string("b\0", 2)), 1},
      {"value of 0 bytes", FileOf(good + Record("b", "")), 1},
      {"value past N", FileOf(good + U32(2) + std::string("b\0", 2) + U32(5) + "xy"), 1},
      {"value above the limit",
       FileOf(good + U32(2) + std::string("b\0", 2) + U32(Storage::kMaxReadBinaryValueLength + 1) +
              "x"),
       1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(folder_.Native("kv.bad").c_str());
    WriteFile(c.content);
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->IsImportFailed(), 0);
    EXPECT_EQ(cache->GetCount(), c.kept);
    EXPECT_EQ(Bad(), c.content);
    EXPECT_FALSE(platform_test::Exists(folder_.Native("kv")));
    Storage::CStorageSyncBase* sync = cache->synchroniser();
    EXPECT_NE(sync->timer_for_testing(), nullptr);

    sync->performSync();  // no change pending: the owed write
    EXPECT_EQ(File(), c.kept ? FileOf(good) : U32(0));
    sync->performSync();  // nothing owed now: the timer stops
    EXPECT_EQ(sync->timer_for_testing(), nullptr);
  }
}

// A damaged file whose copy cannot be made (".bad" is a folder) is neither removed nor
// replaced, not even by the final sync.
TEST_F(KeyValueSyncBinaryTest, DamagedFileWithoutACopyStaysAsItIs) {
  const std::string damaged = FileOf(Record("a", "\x01") + U32(9));
  WriteFile(damaged);
  ASSERT_EQ(mkdir(folder_.Native("kv.bad").c_str(), 0700), 0);
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->GetCount(), 1u);
    ASSERT_TRUE(cache->SetValue(u"b", NewValue({0x02})));
    cache->synchroniser()->performSync();
    EXPECT_EQ(File(), damaged);
  }
  EXPECT_EQ(File(), damaged);
}

// A file that exists but cannot be read is kept until a copy of it exists.
TEST_F(KeyValueSyncBinaryTest, AnUnreadableFileIsKeptUntilItCanBeCopied) {
  const std::string original = FileOf(Record("kept", "\x01"));
  WriteFile(original);
  {
    platform::GetFileFaults().read_fails = true;
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->GetCount(), 0u);
    ASSERT_TRUE(cache->SetValue(u"new", NewValue({0x02})));
    cache->synchroniser()->performSync();
    EXPECT_EQ(File(), original);
    platform::GetFileFaults().Reset();
  }  // the final sync makes the copy, then writes
  EXPECT_EQ(Bad(), original);
  EXPECT_EQ(File(), FileOf(Record("new", "\x02")));
}

TEST_F(KeyValueSyncBinaryTest, AFailedWriteKeepsTheChangesForTheNextTick) {
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  ASSERT_TRUE(cache->SetValue(u"k", NewValue({0x0F})));
  platform::GetFileFaults().write_fails = true;
  sync->performSync();
  platform::GetFileFaults().Reset();
  EXPECT_FALSE(platform_test::Exists(folder_.Native("kv")));
  EXPECT_EQ(sync->pending_changes_for_testing().size(), 1u);
  EXPECT_NE(sync->timer_for_testing(), nullptr);

  sync->performSync();
  EXPECT_EQ(File(), FileOf(Record("k", "\x0F")));
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"kv"});
}

// A write that stops part-way (the disk fills) leaves the previous file whole.
TEST_F(KeyValueSyncBinaryTest, AWriteCutShortLeavesThePreviousFile) {
  { base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(); }
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  ASSERT_TRUE(cache->SetValue(u"k", NewValue(Bytes(100, 0x01))));
  platform::GetFileFaults().bytes_until_disk_full = 50;
  cache->synchroniser()->performSync();
  platform::GetFileFaults().Reset();
  EXPECT_EQ(File(), U32(0));
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"kv"});
}

}  // namespace
