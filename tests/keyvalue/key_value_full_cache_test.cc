// The full cache: its import gate, its creation, and its consistency under concurrent callers.
#include "storage/keyvalue/key_value_storage_full_cache_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/string_conversions.h"
#include "storage/sync/storage_sync_base.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/manual_synchroniser.h"
#include "tests/common/temp_folder.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bstr;
using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;
using Storage::CKeyValueStorageCacheBase;
using storage_test::ManualCache;
using storage_test::ManualSynchroniser;

constexpr auto kPatience = std::chrono::seconds(5);

TEST(KeyValueFullCacheTest, CallersWaitInTheImportGateUntilTheImportEnds) {
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser());
  base::scoped_refptr<ManualCache> cache(new ManualCache(sync.get()));
  auto config = kv_test::XmlConfig(u"unused");
  ATL::CComPtr<IKeyValueStorage> storage = kv_test::NewStorage(config.get(), cache.get());
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(storage.QueryInterface(info.Receive()), S_OK);

  // The importer stores while the gate is closed.
  cache->PutImportedValue(u"imported", NewValue({4, 2}));

  std::future<ULONG> counter = std::async(std::launch::async, [&] {
    ULONG count = 0;
    storage->GetCount(&count);
    return count;
  });
  std::future<Bytes> reader = std::async(std::launch::async, [&] {
    ATL::CComPtr<IValueObject> out = NewValue();
    storage->GetValue(Bstr(u"imported"), out);
    return BytesOf(out);
  });
  std::future<HRESULT> writer = std::async(
      std::launch::async, [&] { return storage->SetValue(Bstr(u"written"), NewValue({1})); });
  std::future<ULONG> failed = std::async(std::launch::async, [&] {
    ULONG flag = 9;
    info->IsImportFailed(&flag);
    return flag;
  });
  EXPECT_EQ(counter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  EXPECT_EQ(failed.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  ULONG finished = 9;
  EXPECT_EQ(info->IsImportFinished(&finished), S_OK);  // asks without waiting
  EXPECT_EQ(finished, 0u);
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());

  sync->SetImportFailed();
  sync->SetImported();
  ASSERT_EQ(counter.wait_for(kPatience), std::future_status::ready);
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
  ASSERT_EQ(failed.wait_for(kPatience), std::future_status::ready);
  const ULONG count = counter.get();
  EXPECT_TRUE(count == 1 || count == 2);  // the writer may have come first
  EXPECT_EQ(reader.get(), (Bytes{4, 2}));
  EXPECT_EQ(writer.get(), S_OK);
  EXPECT_EQ(failed.get(), 1u);
  EXPECT_EQ(info->IsImportFinished(&finished), S_OK);
  EXPECT_EQ(finished, 1u);
  // Only the caller's write was recorded, not the import.
  EXPECT_EQ(sync->pending_changes_for_testing().size(), 1u);
}

// The importer hands over the map it built while the gate is still closed: an empty cache takes
// the objects themselves, in key order, and nothing is recorded as a change.
TEST(KeyValueFullCacheTest, PutImportedValuesTakesTheWholeMapWithoutRecording) {
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser());
  base::scoped_refptr<ManualCache> cache(new ManualCache(sync.get()));
  const ATL::CComPtr<IValueObject> a = NewValue({1}), b = NewValue({2, 2});
  Storage::KeyValueMap values = {{u"b", b}, {u"a", a}, {u"none", nullptr}};
  // On another thread, so that a wait in the closed gate fails the test instead of hanging it.
  std::future<void> put =
      std::async(std::launch::async, [&] { cache->PutImportedValues(std::move(values)); });
  const std::future_status status = put.wait_for(kPatience);
  sync->SetImported();  // also lets a put that waits in the gate finish, so a failure cannot hang
  ASSERT_EQ(status, std::future_status::ready);
  EXPECT_TRUE(values.empty());

  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"a", u"b", u"none"}));
  EXPECT_EQ(cache->GetValue(u"a").get(), a.get());
  EXPECT_EQ(cache->GetValue(u"b").get(), b.get());
  EXPECT_FALSE(cache->GetValue(u"none"));
  EXPECT_EQ(kv_test::RefCount(a), 2u);  // ours and the cache's
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
}

// Into a cache that holds keys already, the imported pairs are merged: an imported value
// replaces the stored one, which the cache releases; stored keys the import lacks stay.
TEST(KeyValueFullCacheTest, PutImportedValuesMergesIntoAFilledCacheAndTheImportWins) {
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser());
  base::scoped_refptr<ManualCache> cache(new ManualCache(sync.get()));
  const ATL::CComPtr<IValueObject> old_a = NewValue({1}), old_c = NewValue({3});
  const ATL::CComPtr<IValueObject> new_a = NewValue({9}), new_b = NewValue({2});
  cache->PutImportedValue(u"a", old_a);
  cache->PutImportedValue(u"c", old_c);
  Storage::KeyValueMap values = {{u"a", new_a}, {u"b", new_b}};
  cache->PutImportedValues(std::move(values));
  EXPECT_TRUE(values.empty());
  sync->SetImported();

  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_EQ(cache->GetValue(u"a").get(), new_a.get());
  EXPECT_EQ(cache->GetValue(u"b").get(), new_b.get());
  EXPECT_EQ(cache->GetValue(u"c").get(), old_c.get());
  EXPECT_EQ(kv_test::RefCount(old_a), 1u);  // released by the cache
  EXPECT_EQ(kv_test::RefCount(new_a), 2u);
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
}

TEST(KeyValueFullCacheTest, CreateBuildsAFullCacheOnlyForCacheKindOne) {
  platform_test::TempFolder folder;
  ASSERT_TRUE(folder.valid());
  for (int cache_kind : {0, 1, 2}) {
    auto config = kv_test::XmlConfig(folder.Wide("kv"));
    config->SetCacheKind(cache_kind);
    testing_support::CapturingLogController log;
    base::scoped_refptr<CKeyValueStorageCacheBase> cache =
        CKeyValueStorageCacheBase::create(config.get(), nullptr, nullptr);
    EXPECT_EQ(static_cast<bool>(cache), cache_kind == 1) << cache_kind;
    std::vector<std::u16string> expected = {u"Storage::CKeyValueStorageCacheBase::create() {"};
    if (cache_kind == 1) {
      const std::u16string args = folder.Wide("kv") + u", 1, 2, 1";
      expected.push_back(u"Storage::CStorageSyncBase::create(" + args + u") {");
      expected.push_back(u"Storage::CStorageFileWriter::ReadFromDiskA() {");
      expected.push_back(u"} Storage::CStorageFileWriter::ReadFromDiskA()");
      expected.push_back(u"} Storage::CStorageSyncBase::create(" + args + u")");
    }
    expected.push_back(u"} Storage::CKeyValueStorageCacheBase::create()");
    EXPECT_EQ(log.texts(u"function;"), expected);
  }
  EXPECT_FALSE(CKeyValueStorageCacheBase::create(nullptr, nullptr, nullptr));
}

TEST(KeyValueFullCacheTest, WithoutASynchroniserTheCacheWorksInMemory) {
  base::scoped_refptr<ManualCache> cache(new ManualCache(nullptr));
  EXPECT_TRUE(cache->SetValue(u"k", NewValue({1})));
  EXPECT_FALSE(cache->SetValue(u"k", nullptr));
  EXPECT_EQ(cache->GetCount(), 1u);
  EXPECT_EQ(cache->IsImportFailed(), 0);
  EXPECT_EQ(cache->IsImportFinished(), 0);  // nothing to import, nothing finished
  cache->Clear();
  EXPECT_EQ(cache->GetCount(), 0u);
}

// Writers set, read and remove their own keys while another thread takes snapshots and writes
// the file from them. Every value carries its key's numbers, so a torn or misplaced value shows.
TEST(KeyValueFullCacheTest, ConcurrentCallersAndSnapshotsStayConsistent) {
  platform_test::TempFolder folder;
  ASSERT_TRUE(folder.valid());
  auto config = kv_test::XmlConfig(folder.Wide("kv"));
  base::scoped_refptr<CKeyValueStorageCacheBase> cache =
      CKeyValueStorageCacheBase::create(config.get(), nullptr, nullptr);
  ASSERT_TRUE(cache);
  ATL::CComPtr<IKeyValueStorage> storage = kv_test::NewStorage(config.get(), cache.get());

  constexpr int kWriters = 4;
  constexpr int kRounds = 300;
  constexpr int kKeysPerWriter = 8;
  auto key_of = [](int writer, int slot) {
    return u"w" + std::u16string(1, u'0' + writer) + u"-" + std::u16string(1, u'0' + slot);
  };
  std::atomic<int> broken{0};
  std::atomic<int> writers_done{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const int slot = i % kKeysPerWriter;
        const ATL::CComBSTR key = Bstr(key_of(w, slot));
        const Bytes bytes = {static_cast<uint8_t>(w), static_cast<uint8_t>(slot),
                             static_cast<uint8_t>(i)};
        if (storage->SetValue(key, NewValue(bytes)) != S_OK) ++broken;
        ATL::CComPtr<IValueObject> out = NewValue();
        // Only this thread writes the key: it reads back what it wrote.
        if (storage->GetValue(key, out) != S_OK || BytesOf(out) != bytes) ++broken;
        if (i % 3 == 0 && storage->RemoveValue(key) != S_OK) ++broken;
      }
      ++writers_done;
    });
  }
  threads.emplace_back([&] {
    int round = 0;
    while (writers_done.load() < kWriters) {
      Storage::KeyValueMap snapshot;
      cache->CopyAll(&snapshot);
      for (const auto& [key, value] : snapshot) {
        if (!value) {
          ++broken;
          continue;
        }
        const Bytes bytes = BytesOf(value);
        if (bytes.size() != 3 || key != key_of(bytes[0], bytes[1])) ++broken;
      }
      if (++round % 16 == 0) cache->synchroniser()->performSync();
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(broken.load(), 0);

  // Each writer's last round left its keys set or removed; nothing else is there.
  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  for (const std::u16string& key : keys) {
    EXPECT_EQ(key.size(), 4u);
    EXPECT_EQ(key[0], u'w');
  }
}

// A synchroniser that replays records (the database) must end where the cache ends: records
// land in the order the changes were made, clears included, whatever the threads do.
TEST(KeyValueFullCacheTest, ReplayingTheRecordsGivesTheCachesContent) {
  // Slow to take a clear record, so that a set racing a clear has room to come between.
  class SlowClearSynchroniser : public ManualSynchroniser {
   public:
    void RecordClear(int sync_now) override {
      for (int i = 0; i < 200; ++i) std::this_thread::yield();
      ManualSynchroniser::RecordClear(sync_now);
    }
  };
  base::scoped_refptr<ManualSynchroniser> sync(new SlowClearSynchroniser());
  base::scoped_refptr<ManualCache> cache(new ManualCache(sync.get()));
  sync->SetImported();
  std::set<std::u16string> replayed;
  auto replay = [&] {
    for (const Storage::PendingChange& change : sync->pending_changes_for_testing()) {
      if (change.op == Storage::kChangeOpSet) replayed.insert(change.key);
      if (change.op == Storage::kChangeOpClear) replayed.clear();
    }
    sync->performSync();  // takes the records
  };
  for (int round = 0; round < 200; ++round) {
    // A clear and a set start together; in whichever order they land, the records must say it.
    std::atomic<int> ready{0};
    std::thread clearer([&] {
      ++ready;
      while (ready.load() < 2) {
      }
      cache->Clear();
    });
    ++ready;
    while (ready.load() < 2) {
    }
    cache->SetValue(u"k" + base::UTF8ToWide(std::to_string(round)), NewValue({1}));
    clearer.join();
    replay();
    std::vector<std::u16string> keys;
    cache->GetKeys(&keys);
    ASSERT_EQ(std::vector<std::u16string>(replayed.begin(), replayed.end()), keys) << round;
  }
}

}  // namespace
