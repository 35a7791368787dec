#include "storage/sync/storage_sync_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/eventually.h"
#include "tests/common/manual_synchroniser.h"

namespace {

using testing_support::Eventually;

using Storage::CStorageSyncBase;
using Storage::PendingChange;
using storage_test::ManualCache;
using storage_test::ManualSynchroniser;

constexpr auto kPatience = std::chrono::seconds(5);

ATL::CComPtr<IValueObject> NewValue() {
  ATL::CComPtr<IValueObject> value;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid()), S_OK);
  return value;
}

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(StorageSyncBaseTest, WaitForImportBlocksUntilSetImportedFromAnotherThread) {
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser());
  EXPECT_EQ(sync->IsImported(), 0);
  std::future<BOOL> waiter = std::async(std::launch::async, [&] { return sync->WaitForImport(); });
  // Not a wait for an event: a wait that wrongly returns early has time to show.
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);

  sync->SetImported();
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_NE(waiter.get(), FALSE);
  EXPECT_NE(sync->WaitForImport(), FALSE);  // at once now
  EXPECT_EQ(sync->IsImported(), 1);
  EXPECT_EQ(sync->IsImportFailed(), 0);
}

TEST(StorageSyncBaseTest, RecordsAppendInOrderAndEmptyKeysRecordNothing) {
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser());
  ATL::CComPtr<IValueObject> value = NewValue();
  const ULONG before = RefCount(value);

  sync->RecordSet(u"", value, 0);
  sync->RecordRemove(u"", 0);
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());

  sync->RecordSet(u"k", value, 0);
  sync->RecordRemove(u"k", 0);
  sync->RecordClear(0);
  EXPECT_EQ(RefCount(value), before + 1);  // the set record holds the value

  struct Expected {
    const char16_t* key;
    int op;
    bool has_value;
  };
  const Expected kExpected[] = {{u"k", 1, true}, {u"k", 2, false}, {u"", 3, false}};
  std::vector<PendingChange> pending = sync->pending_changes_for_testing();
  ASSERT_EQ(pending.size(), std::size(kExpected));
  for (size_t i = 0; i < pending.size(); ++i) {
    EXPECT_EQ(pending[i].key, kExpected[i].key) << i;
    EXPECT_EQ(pending[i].op, kExpected[i].op) << i;
    EXPECT_EQ(pending[i].value.get() != nullptr, kExpected[i].has_value) << i;
  }
  pending.clear();

  sync->performSync();  // takes the list
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
  EXPECT_EQ(RefCount(value), before);
}

TEST(StorageSyncBaseTest, OneTimerForABurstStoppedByAnEmptySync) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser(timer.get()));
  ATL::CComPtr<IValueObject> value = NewValue();

  sync->RecordSet(u"", value, 0);
  EXPECT_EQ(sync->timer_for_testing(), nullptr);  // nothing recorded, no timer

  sync->RecordSet(u"k0", value, 0);
  HANDLE first = sync->timer_for_testing();
  ASSERT_NE(first, nullptr);
  for (int i = 1; i < 10; ++i) sync->RecordSet(u"k" + std::u16string(1, u'0' + i), value, 0);
  EXPECT_EQ(sync->timer_for_testing(), first);
  EXPECT_EQ(sync->pending_changes_for_testing().size(), 10u);

  sync->performSync();  // wrote something: the timer keeps running
  EXPECT_EQ(sync->timer_for_testing(), first);
  sync->performSync();  // nothing left: the timer stops
  EXPECT_EQ(sync->timer_for_testing(), nullptr);
  sync->RecordClear(0);  // and the next change starts it again
  EXPECT_NE(sync->timer_for_testing(), nullptr);
  timer->Uninit();
}

TEST(StorageSyncBaseTest, TimerCallsSyncNowEachPeriodUntilStopped) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  base::scoped_refptr<ManualSynchroniser> sync(new ManualSynchroniser(timer.get(), 5));
  sync->RecordClear(0);
  ASSERT_TRUE(Eventually([&] { return sync->sync_now_calls.load() >= 2; }));
  sync->StopTimer();
  const int after_stop = sync->sync_now_calls.load();
  // Not a wait for an event: a tick that wrongly comes after StopTimer has time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(sync->sync_now_calls.load(), after_stop);

  // Without a sync timer nothing ticks; the changes wait for a sync.
  base::scoped_refptr<ManualSynchroniser> timerless(new ManualSynchroniser(nullptr, 5));
  timerless->RecordClear(0);
  EXPECT_EQ(timerless->timer_for_testing(), nullptr);
  timer->Uninit();
}

TEST(StorageSyncBaseTest, CreatePicksTheSynchroniserByTypeAndKinds) {
  struct Case {
    int storage_type;
    int sync_kind;
    int cache_kind;
    bool created;
  };
  const Case kCases[] = {
      {1, 2, 1, true},   // key-value XML file
      {1, 1, 1, true},   // key-value database
      {1, 3, 1, true},   // key-value binary file
      {2, 2, 1, false},  // key-value-ex XML file: it keeps a key-value-ex cache
      {3, 1, 1, false},  // bookmark database: it keeps a bookmark model, not a cache
      {3, 2, 1, false},  // bookmark XML file: it keeps a bookmark model, not a cache
      {5, 2, 1, false},  // extension JSON file: it keeps an extension model, not this one
      {6, 3, 2, false},  // icon binary file: it keeps an icon cache, not this one
      {4, 2, 1, false},  // no such type
      {6, 3, 1, false},  // icons need the memory-limited cache
      {1, 2, 2, false}, {1, 0, 1, false},
  };
  base::scoped_refptr<ManualCache> owner(new ManualCache(nullptr));
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.storage_type << "/" << c.sync_kind << "/" << c.cache_kind);
    base::scoped_refptr<CStorageSyncBase> out;
    // No file there: the synchronous import fails, and ends.
    CStorageSyncBase::create(out, u"/nonexistent/kv", c.storage_type, c.sync_kind, c.cache_kind,
                             owner.get(), nullptr, nullptr, 1, nullptr, 1);
    EXPECT_EQ(static_cast<bool>(out), c.created);
    if (out) {
      EXPECT_EQ(out->IsImported(), 1);
      // The XML file's absence fails the import; the binary file's absence is a first start,
      // and a database that cannot be opened does not count as a failed import either.
      EXPECT_EQ(out->IsImportFailed(), c.sync_kind == 2 ? 1 : 0);
      out->DetachOwner();
    }
  }
  // The XML synchroniser keeps a key-value cache and nothing else.
  base::scoped_refptr<CStorageSyncBase> out;
  CStorageSyncBase::create(out, u"/nonexistent/kv", 1, 2, 1, nullptr, nullptr, nullptr, 1, nullptr,
                           1);
  EXPECT_FALSE(out);
}

// An import that is not run at creation is posted to the sync thread; when nothing can run it
// there (no manager, or a manager whose thread has stopped) it runs in create, else every
// caller of the cache would wait in the import gate for ever.
TEST(StorageSyncBaseTest, ImportThatCannotBePostedRunsInCreate) {
  base::scoped_refptr<Storage::CStorageSyncManager> stopped(new Storage::CStorageSyncManager());
  ASSERT_TRUE(stopped->EnsureThread());
  ASSERT_TRUE(stopped->StopThread());
  for (Storage::CStorageSyncManager* manager :
       {static_cast<Storage::CStorageSyncManager*>(nullptr), stopped.get()}) {
    SCOPED_TRACE(manager ? "stopped thread" : "no manager");
    base::scoped_refptr<ManualCache> owner(new ManualCache(nullptr));
    base::scoped_refptr<CStorageSyncBase> out;
    CStorageSyncBase::create(out, u"/nonexistent/kv", 1, 2, 1, owner.get(), manager, nullptr, 0,
                             nullptr, 1);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->IsImported(), 1);
    EXPECT_NE(out->WaitForImport(), FALSE);
    out->DetachOwner();
  }
}

TEST(StorageSyncBaseTest, CreateTracesItsArguments) {
  testing_support::CapturingLogController log;
  base::scoped_refptr<CStorageSyncBase> out;
  CStorageSyncBase::create(out, nullptr, 4, 2, 1, nullptr, nullptr, nullptr, 1, nullptr, 1);
  CStorageSyncBase::create(out, u"/p/f", 1, 3, 1, nullptr, nullptr, nullptr, 1, nullptr, 1);
  const std::vector<std::u16string> kExpected = {
      u"Storage::CStorageSyncBase::create((null), 4, 2, 1) {",
      u"} Storage::CStorageSyncBase::create((null), 4, 2, 1)",
      u"Storage::CStorageSyncBase::create(/p/f, 1, 3, 1) {",
      u"} Storage::CStorageSyncBase::create(/p/f, 1, 3, 1)",
  };
  EXPECT_EQ(log.texts(u"function;"), kExpected);
}

}  // namespace
