// The key-value XML synchroniser over real files: import, periodic and final writes.
#include "storage/keyvalue/key_value_storage_sync_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "platform/file_faults.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bstr;
using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;
using Storage::CKeyValueStorageCacheBase;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ItemTable version=\"1.0\">\r\n";

class KeyValueSyncFileTest : public platform_test::FileFixture {
 protected:
  base::scoped_refptr<CKeyValueStorageCacheBase> Open(Storage::CStorageSyncTimer* timer = nullptr) {
    auto config = kv_test::XmlConfig(folder_.Wide("kv"));
    return CKeyValueStorageCacheBase::create(config.get(), nullptr, timer);
  }
  std::string File() { return platform_test::ReadNative(folder_.Native("kv")); }
  void WriteFile(const std::string& content) {
    platform_test::WriteNative(folder_.Native("kv"), content);
  }

  // The UTF-8 texts of the level-37 lines without a category.
  static std::vector<std::string> Notes(const testing_support::CapturingLogController& log) {
    std::vector<std::string> notes;
    for (const testing_support::LogLine& line : log.lines()) {
      if (line.level == 37 && line.category.empty()) notes.push_back(base::WideToUTF8(line.text));
    }
    return notes;
  }
};

TEST_F(KeyValueSyncFileTest, ImportsEveryItemOfTheFile) {
  WriteFile(std::string("\xEF\xBB\xBF") + kHeader +
            "<Item key=\"upper\" value=\"01AB\">\r\n</Item>\r\n"
            "<Item key=\"lower\" value=\"01ab\">\r\n</Item>\r\n"
            "<Item key=\"odd\" value=\"1ab\">\r\n</Item>\r\n"
            "<Item key=\"twice\" value=\"01\">\r\n</Item>\r\n"
            "<Item key=\"twice\" value=\"02\">\r\n</Item>\r\n"
            "</ItemTable>\r\n");
  testing_support::CapturingLogController log;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->IsImportFinished(), 1);
  EXPECT_EQ(cache->IsImportFailed(), 0);
  EXPECT_EQ(Notes(log), (std::vector<std::string>{"加载XML", "处理XML"}));
  std::vector<std::u16string> performance = log.texts(u"performance_profile;");
  ASSERT_FALSE(performance.empty());
  EXPECT_EQ(performance.front(), u"进入函数:Storage::CKeyValueStorageSyncFile::performImport\n");

  struct Expected {
    const char16_t* key;
    Bytes bytes;
  };
  const Expected kExpected[] = {
      {u"lower", {0x01, 0xAB}}, {u"odd", {}}, {u"twice", {0x02}}, {u"upper", {0x01, 0xAB}}};
  EXPECT_EQ(cache->GetCount(), std::size(kExpected));
  for (const Expected& e : kExpected) {
    ATL::CComPtr<IValueObject> value = cache->GetValue(e.key);
    ASSERT_TRUE(value) << base::WideToUTF8(e.key);
    EXPECT_EQ(BytesOf(value), e.bytes) << base::WideToUTF8(e.key);
  }
  EXPECT_TRUE(cache->synchroniser()->pending_changes_for_testing().empty());
}

TEST_F(KeyValueSyncFileTest, ImportsThatFindNothingUsable) {
  const std::string full =
      kHeader + std::string("<Item key=\"a\" value=\"01\">\r\n</Item>\r\n") + "</ItemTable>\r\n";
  struct Case {
    const char* what;
    std::optional<std::string> content;  // none: no file
    int failed;
    std::vector<std::string> notes;
    bool kept;  // a copy of the file survives the rewrite as "kv.bad"
  };
  const std::string truncated = full.substr(0, full.size() - 8);
  const std::string other_root = "<itemtable><Item key=\"a\" value=\"01\"/></itemtable>";
  const std::string zero_inside = full.substr(0, 60) + std::string(1, '\0') + full.substr(60);
  // Deep enough to overflow the parser's stack if nesting were not bounded first.
  std::string nested = kHeader;
  for (int i = 0; i < 100000; ++i) nested += "<Item key=\"a\" value=\"01\">";
  for (int i = 0; i < 100000; ++i) nested += "</Item>";
  nested += "</ItemTable>\r\n";
  const Case kCases[] = {
      {"no file", std::nullopt, 1, {}, false},
      {"truncated", truncated, 1, {"加载XML"}, true},
      {"zero byte inside", zero_inside, 1, {"加载XML"}, true},
      {"nested 100,000 deep", nested, 1, {"加载XML"}, true},
      // Another program's file, or one a power cut left empty: kept, not imported.
      {"other root", other_root, 1, {"加载XML", "处理XML"}, true},
      {"empty file", "", 1, {"加载XML", "处理XML"}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(folder_.Native("kv").c_str());
    std::remove(folder_.Native("kv.bad").c_str());
    if (c.content) WriteFile(*c.content);
    {
      testing_support::CapturingLogController log;
      base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
      ASSERT_TRUE(cache);
      EXPECT_EQ(cache->IsImportFinished(), 1);
      EXPECT_EQ(cache->IsImportFailed(), c.failed);
      EXPECT_EQ(cache->GetCount(), 0u);
      EXPECT_EQ(Notes(log), c.notes);
    }  // the final sync replaces the file
    EXPECT_EQ(File(), std::string(kHeader) + "</ItemTable>\r\n");
    EXPECT_EQ(platform_test::Exists(folder_.Native("kv.bad")), c.kept);
    if (c.kept) {
      EXPECT_EQ(platform_test::ReadNative(folder_.Native("kv.bad")), *c.content);
    }
  }
}

TEST_F(KeyValueSyncFileTest, FinalSyncWritesTheDocumentAndNoTemporaryFile) {
  auto config = kv_test::XmlConfig(folder_.Wide("kv"));
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    ATL::CComPtr<IKeyValueStorage> storage = kv_test::NewStorage(config.get(), cache.get());
    ASSERT_EQ(storage->SetValue(Bstr(u"a"), NewValue({0x01, 0xAB})), S_OK);
    ASSERT_EQ(storage->SetValue(Bstr(u"B"), NewValue()), S_OK);
    EXPECT_FALSE(platform_test::Exists(folder_.Native("kv")));  // nothing written yet
  }  // the last reference goes: the final sync writes
  EXPECT_EQ(File(), std::string(kHeader) +
                        "<Item key=\"B\" value=\"\">\r\n"
                        "</Item>\r\n"
                        "<Item key=\"a\" value=\"01ab\">\r\n"
                        "</Item>\r\n"
                        "</ItemTable>\r\n");
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"kv"});

  // Read back, untouched, the storage writes the same bytes again.
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->IsImportFailed(), 0);
    EXPECT_EQ(cache->GetCount(), 2u);
  }
  EXPECT_EQ(File(), std::string(kHeader) + "<Item key=\"B\" value=\"\">\r\n</Item>\r\n" +
                        "<Item key=\"a\" value=\"01ab\">\r\n</Item>\r\n</ItemTable>\r\n");
}

TEST_F(KeyValueSyncFileTest, SyncWritesOnlyWhenChangesArePendingAndThenStopsTheTimer) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(timer.get());
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  ASSERT_NE(sync, nullptr);
  ASSERT_TRUE(cache->SetValue(u"k", NewValue({0x0F})));
  EXPECT_NE(sync->timer_for_testing(), nullptr);

  testing_support::CapturingLogController log;
  sync->performSync();
  EXPECT_EQ(File(), kHeader + std::string("<Item key=\"k\" value=\"0f\">\r\n</Item>\r\n") +
                        "</ItemTable>\r\n");
  EXPECT_NE(sync->timer_for_testing(), nullptr);  // one more tick finds nothing and stops it
  std::vector<std::u16string> performance = log.texts(u"performance_profile;");
  ASSERT_FALSE(performance.empty());
  EXPECT_EQ(performance.front(), u"进入函数:Storage::CKeyValueStorageSyncFile::performSync\n");

  WriteFile("changed behind our back");
  sync->performSync();
  EXPECT_EQ(File(), "changed behind our back");  // nothing pending: nothing written
  EXPECT_EQ(sync->timer_for_testing(), nullptr);

  ASSERT_TRUE(cache->RemoveValue(u"k"));
  EXPECT_NE(sync->timer_for_testing(), nullptr);
  sync->performSync();
  EXPECT_EQ(File(), std::string(kHeader) + "</ItemTable>\r\n");
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"kv"});
  cache = nullptr;
  timer->Uninit();
}

TEST_F(KeyValueSyncFileTest, KeysAndValuesRoundTripThroughTheFile) {
  const std::vector<std::pair<std::u16string, Bytes>> kItems = {
      {u"plain", {0x00, 0x01, 0xFE, 0xFF}},
      {u"a&b<c>\"d\"", {0x42}},
      {u"\u00E9t\u00E9 \U0001F600", {}},
      {u"&lt;", {0x10, 0x20}},
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
    EXPECT_EQ(BytesOf(value), bytes) << base::WideToUTF8(key);
  }
}

// A file that exists but cannot be read is not a first start: the storage starts empty, says
// so, and never replaces the file before a copy of it exists.
class UnreadableFileTest : public KeyValueSyncFileTest {
 protected:
  const std::string original_ =
      kHeader + std::string("<Item key=\"kept\" value=\"01\">\r\n</Item>\r\n</ItemTable>\r\n");

  // Opens the storage while `make_unreadable` holds, sets a value and syncs (which must not
  // replace the file), then drops the storage after `restore` (may do nothing).
  void OpenWhile(const std::function<void()>& make_unreadable,
                 const std::function<void()>& restore) {
    WriteFile(original_);
    base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
    testing_support::CapturingLogController log;
    {
      make_unreadable();
      base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(timer.get());
      EXPECT_EQ(cache->IsImportFailed(), 1);
      EXPECT_EQ(cache->GetCount(), 0u);
      ASSERT_TRUE(cache->SetValue(u"new", NewValue({0x02})));
      cache->synchroniser()->performSync();
      restore();
      EXPECT_EQ(File(), original_) << "replaced without a copy";
      EXPECT_FALSE(cache->synchroniser()->pending_changes_for_testing().empty());
    }  // final sync
    timer->Uninit();
    int errors = 0;
    for (const testing_support::LogLine& line : log.lines()) {
      if (line.text.find(u"storage file not readable") != std::u16string::npos) ++errors;
    }
    EXPECT_EQ(errors, 1);
  }
};

TEST_F(UnreadableFileTest, AnIoErrorKeepsTheFile) {
  OpenWhile([] { platform::GetFileFaults().read_fails = true; }, [] {});
  platform::GetFileFaults().Reset();
  EXPECT_EQ(File(), original_);  // not even the final sync replaced it
  EXPECT_FALSE(platform_test::Exists(folder_.Native("kv.bad")));
}

TEST_F(UnreadableFileTest, ExhaustedDescriptorsKeepTheFileUntilACopyIsMade) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  OpenWhile(
      [&] {
        // No descriptor left beyond those open now.
        rlimit tight = saved;
        tight.rlim_cur = platform_test::LowestFreeDescriptor();
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
      },
      [&] { ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0); });
  setrlimit(RLIMIT_NOFILE, &saved);
  // Descriptors came back before the final sync: the copy was made, then the file written.
  EXPECT_EQ(platform_test::ReadNative(folder_.Native("kv.bad")), original_);
  EXPECT_EQ(File(), kHeader + std::string("<Item key=\"new\" value=\"02\">\r\n</Item>\r\n") +
                        "</ItemTable>\r\n");
}

TEST_F(UnreadableFileTest, AFileWithoutReadPermissionKeepsItsContent) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = folder_.Native("kv");
  OpenWhile([&] { WriteFile(original_), chmod(path.c_str(), 0200); },
            [&] { chmod(path.c_str(), 0600); });
  EXPECT_EQ(platform_test::ReadNative(folder_.Native("kv.bad")), original_);
}

// Damaged content whose copy cannot be made (here ".bad" is a folder) is not rewritten.
TEST_F(KeyValueSyncFileTest, DamagedFileWithoutACopyIsNotRewritten) {
  const std::string damaged = kHeader + std::string("<Item key=\"a\" value=\"01\">\r\n");
  WriteFile(damaged);
  ASSERT_EQ(mkdir(folder_.Native("kv.bad").c_str(), 0700), 0);
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->IsImportFailed(), 1);
    ASSERT_TRUE(cache->SetValue(u"b", NewValue({0x02})));
  }
  EXPECT_EQ(File(), damaged);
}

// Keys that are not UTF-8 would all become U+FFFD and overwrite one another. The file is kept
// as ".bad" and the valid items are imported.
TEST_F(KeyValueSyncFileTest, KeysThatAreNotUtf8AreLeftOutAndTheFileKept) {
  const std::string content = kHeader +
                              std::string(
                                  "<Item key=\"bad\xFF\" value=\"01\">\r\n</Item>\r\n"
                                  "<Item key=\"bad\xFE\" value=\"02\">\r\n</Item>\r\n"
                                  "<Item key=\"good\" value=\"03\">\r\n</Item>\r\n") +
                              "</ItemTable>\r\n";
  WriteFile(content);
  {
    base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open();
    EXPECT_EQ(cache->IsImportFailed(), 0);
    EXPECT_EQ(cache->GetCount(), 1u);
    EXPECT_EQ(BytesOf(cache->GetValue(u"good")), Bytes{0x03});
  }
  EXPECT_EQ(platform_test::ReadNative(folder_.Native("kv.bad")), content);
  EXPECT_EQ(File(), kHeader + std::string("<Item key=\"good\" value=\"03\">\r\n</Item>\r\n") +
                        "</ItemTable>\r\n");
}

// A periodic write that fails leaves the storage dirty; the next tick writes the change.
TEST_F(KeyValueSyncFileTest, AFailedWriteKeepsTheChangesForTheNextTick) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = Open(timer.get());
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  ASSERT_TRUE(cache->SetValue(u"k", NewValue({0x0F})));
  ASSERT_TRUE(cache->RemoveValue(u"k"));
  ASSERT_TRUE(cache->SetValue(u"k", NewValue({0x0E})));
  platform::GetFileFaults().write_fails = true;
  sync->performSync();
  ASSERT_TRUE(cache->SetValue(u"later", NewValue()));
  platform::GetFileFaults().Reset();
  EXPECT_FALSE(platform_test::Exists(folder_.Native("kv")));
  // Still pending, in the order made, and the timer still runs to retry.
  std::vector<int> ops;
  for (const Storage::PendingChange& change : sync->pending_changes_for_testing()) {
    ops.push_back(change.op);
  }
  EXPECT_EQ(ops, (std::vector<int>{1, 2, 1, 1}));
  EXPECT_NE(sync->timer_for_testing(), nullptr);

  sync->performSync();
  EXPECT_EQ(File(), kHeader + std::string("<Item key=\"k\" value=\"0e\">\r\n</Item>\r\n") +
                        "<Item key=\"later\" value=\"\">\r\n</Item>\r\n</ItemTable>\r\n");
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
  cache = nullptr;
  timer->Uninit();
}

}  // namespace
