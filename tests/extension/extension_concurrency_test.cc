// The extension storage across threads: callers wait for an import posted to the sync thread
// before they touch the tables, and callers on two threads work while the sync thread writes
// the file. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "storage/sync/storage_sync_manager.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/eventually.h"
#include "tests/extension/extension_test_util.h"

namespace {

using extension_test::ExtensionFileFixture;
using extension_test::Installed;
using extension_test::NewRecord;
using extension_test::Row;
using extension_test::Rows;
using extension_test::Updates;
using Storage::ExtensionRecord;
using testing_support::Eventually;

// A synchroniser whose import the test finishes, and which counts the callers that wait for it.
class GateSynchroniser : public Storage::CStorageSyncBase {
 public:
  GateSynchroniser() : CStorageSyncBase(nullptr, nullptr, 1, nullptr) {}

  BOOL WaitForImport() override {
    ++waiting;
    return CStorageSyncBase::WaitForImport();
  }
  void performSync() override {
    if (TakePendingChanges().empty()) StopTimer();
  }

  std::atomic<int> waiting{0};
};

class GatedModel : public Storage::CExtensionStorageModel {
 public:
  explicit GatedModel(GateSynchroniser* sync) : CExtensionStorageModel(u"") {
    SetSynchroniser(base::scoped_refptr<Storage::CStorageSyncBase>(sync));
  }
};

// The file the gated import loads: "a" installed, "u" waiting for an update.
constexpr char16_t kImportedDb[] =
    uR"({"list":[{"extId":"a","path":"file","state":"1"}],"updatelist":[{"extId":"u"}]})";

TEST(ExtensionImportGateTest, CallersWaitForThePostedImportBeforeTouchingTheTables) {
  struct Case {
    const char* name;
    // Runs on a caller's thread while the import is still to come.
    std::function<HRESULT(IExtensionStorage*)> call;
    HRESULT result;
    Rows installed;  // once the import and the call are both done
    Rows updates;
  };
  const std::vector<Case> cases = {
      {"an added row is not overwritten by the file's",
       [](IExtensionStorage* s) { return s->AddExtension(NewRecord(Row(u"a", u"caller"))); },
       S_OK,
       {Row(u"a", u"caller")},
       {Row(u"u", u"", u"")}},
      {"a removed row does not come back",
       [](IExtensionStorage* s) { return s->RemoveExtension(ATL::CComBSTR(u"a")); },
       S_OK,
       {},
       {Row(u"u", u"", u"")}},
      {"the file's row is found",
       [](IExtensionStorage* s) { return s->SetExtensionState(ATL::CComBSTR(u"a"), 9); },
       S_OK,
       {Row(u"a", u"file", u"", 0, 9)},
       {Row(u"u", u"", u"")}},
      {"a cleared update list stays empty",
       [](IExtensionStorage* s) { return s->ClearUpdateList(); },
       S_OK,
       {Row(u"a", u"file", u"", 0, 1)},
       {}},
      {"a list holds the file's rows",
       [](IExtensionStorage* s) {
         return Installed(s) == Rows{Row(u"a", u"file", u"", 0, 1)} ? S_OK : E_FAIL;
       },
       S_OK,
       {Row(u"a", u"file", u"", 0, 1)},
       {Row(u"u", u"", u"")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base::scoped_refptr<GateSynchroniser> sync(new GateSynchroniser());
    base::scoped_refptr<GatedModel> model(new GatedModel(sync.get()));
    auto config = extension_test::ExtensionConfig(u"");
    ATL::CComPtr<IExtensionStorage> storage = extension_test::Attached(model.get(), config.get());

    HRESULT result = E_UNEXPECTED;
    std::thread caller([&] { result = c.call(storage); });
    // Only once the caller waits does the import run, as it would on a busy sync thread.
    const bool waited = Eventually([&] { return sync->waiting.load() > 0; });
    EXPECT_TRUE(waited) << "the caller did not wait for the import";
    EXPECT_TRUE(model->DecodeExtensionDb(kImportedDb));
    sync->SetImported();
    caller.join();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Installed(storage), c.installed);
    EXPECT_EQ(Updates(storage), c.updates);
  }
}

class ExtensionSyncThreadTest : public ExtensionFileFixture {
 protected:
  base::scoped_refptr<Storage::CStorageSyncManager> manager_{new Storage::CStorageSyncManager()};
};

TEST_F(ExtensionSyncThreadTest, AnImportOnTheSyncThreadIsAwaitedByTheFirstCall) {
  WriteFile(R"({"list":[{"extId":"a","state":"1"}]})");
  auto config = extension_test::ExtensionConfig(path(), /*import_on_create=*/0);
  model_ = Storage::CExtensionStorageModel::create(config.get(), manager_.get(), nullptr);
  ASSERT_TRUE(model_);
  storage_ = extension_test::Attached(model_.get(), config.get());
  EXPECT_EQ(storage_->SetExtensionState(ATL::CComBSTR(u"a"), 9), S_OK);
  Close();
  Open();
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"", u"", 0, 9)}));
}

TEST_F(ExtensionSyncThreadTest, TwoCallersChangeTheTablesWhileTheSyncThreadWrites) {
  constexpr int kCallers = 2;
  constexpr int kSteps = 300;
  testing_support::CapturingLogController log(base::kLogLevelPerformance);
  auto config = extension_test::ExtensionConfig(path());
  model_ = Storage::CExtensionStorageModel::create(config.get(), manager_.get(), nullptr);
  ASSERT_TRUE(model_);
  storage_ = extension_test::Attached(model_.get(), config.get());
  auto writes = [&] { return log.texts(u"ext;").size(); };
  // Every sync that ran either wrote or, finding nothing pending, stopped the timer.
  auto syncs = [&] {
    size_t count = writes();
    for (const std::u16string& text : log.texts(u"performance_profile;")) {
      if (text.find(u"进入函数:Storage::CStorageSyncBase::StopTimer") == 0) ++count;
    }
    return count;
  };

  // Each caller has identifiers of its own, so the outcome is known: the expected tables.
  std::map<std::u16string, ExtensionRecord> installed[kCallers];
  std::map<std::u16string, ExtensionRecord> updates[kCallers];
  std::atomic<int> running{kCallers};
  std::latch start(kCallers + 1);
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; ++t) {
    callers.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kSteps; ++i) {
        const std::u16string id = u"c" + std::u16string(1, u'0' + t) + u"-" +
                                  std::u16string(1, static_cast<char16_t>(u'a' + i % 20));
        const ExtensionRecord row = Row(id, u"p" + std::u16string(1, u'0' + i % 10), u"{}", i, 0);
        EXPECT_EQ(storage_->AddExtension(NewRecord(row)), S_OK);
        installed[t][id] = row;
        EXPECT_EQ(storage_->SetExtensionState(ATL::CComBSTR(id.c_str()), -i), S_OK);
        installed[t][id].state = -i;
        if (i % 7 == 0) {
          EXPECT_EQ(storage_->RemoveExtension(ATL::CComBSTR(id.c_str())), S_OK);
          installed[t].erase(id);
        }
        if (i % 3 == 0) {
          EXPECT_EQ(storage_->AddUpdateItem(NewRecord(row)), S_OK);
          updates[t][id] = row;
        }
        Installed(storage_);
        // Half way, the sync thread has written at least once while the callers work.
        if (i == kSteps / 2) {
          EXPECT_TRUE(Eventually([&] { return writes() > 0; }));
        }
      }
      --running;
    });
  }
  start.arrive_and_wait();
  // Ask the sync thread for a sync, wait for it to run, again, until the callers are done.
  while (running.load() > 0) {
    const size_t before = syncs();
    model_->synchroniser()->SyncNow();
    ASSERT_TRUE(Eventually([&] { return syncs() > before; }));
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_GT(writes(), 0u);

  Close();  // the last changes are written by the final sync
  manager_.reset();
  Open();
  Rows expected_installed, expected_updates;
  std::map<std::u16string, ExtensionRecord> all_installed, all_updates;
  for (int t = 0; t < kCallers; ++t) {
    all_installed.insert(installed[t].begin(), installed[t].end());
    all_updates.insert(updates[t].begin(), updates[t].end());
  }
  for (const auto& [id, row] : all_installed) expected_installed.push_back(row);
  for (const auto& [id, row] : all_updates) expected_updates.push_back(row);
  EXPECT_EQ(Installed(storage_), expected_installed);
  EXPECT_EQ(Updates(storage_), expected_updates);
}

}  // namespace
