#include "storage/service/storage_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/string_conversions.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/service/data_path.h"
#include "storage/service/storage_service_factory.h"
#include "tests/common/app_data_root.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/service/allocation_faults.h"

namespace {

ATL::CComPtr<IStorageServiceEx> NewService() {
  ATL::CComObject<Storage::CStorageService>* object = nullptr;
  EXPECT_EQ(ATL::CComObject<Storage::CStorageService>::CreateInstance(&object), S_OK);
  return ATL::CComPtr<IStorageServiceEx>(object);
}

TEST(StorageServiceTest, InitializeAndUnInitializeWritePerformanceTraces) {
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  testing_support::CapturingLogController log;
  EXPECT_EQ(service->Initialize(Storage::kDataLocationNone, 1, nullptr), S_OK);
  EXPECT_EQ(service->Initialize(Storage::kDataLocationNone, 1, u"ignored"), S_OK);
  EXPECT_EQ(service->UnInitialize(), S_OK);

  std::vector<testing_support::LogLine> lines = log.lines();
  const char* const kPatterns[] = {
      "进入函数:Storage::CStorageService::Initialize\n",
      "离开函数:Storage::CStorageService::Initialize 执行耗时:[0-9]+\n",
      "进入函数:Storage::CStorageService::Initialize\n",
      "离开函数:Storage::CStorageService::Initialize 执行耗时:[0-9]+\n",
      "进入函数:Storage::CStorageService::UnInitialize\n",
      // The timer queue goes first, inside UnInitialize.
      "进入函数:Storage::CStorageSyncTimer::Uninit\n",
      "离开函数:Storage::CStorageSyncTimer::Uninit 执行耗时:[0-9]+\n",
      "离开函数:Storage::CStorageService::UnInitialize 执行耗时:[0-9]+\n",
  };
  ASSERT_EQ(lines.size(), std::size(kPatterns));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].level, 37u);
    EXPECT_EQ(lines[i].category, u"performance_profile;");
    std::string text = base::WideToUTF8(lines[i].text);
    EXPECT_TRUE(std::regex_match(text, std::regex(kPatterns[i]))) << text;
  }
}

TEST(StorageServiceTest, GetStorageRunsTheCreaterUnderTheService) {
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  ASSERT_EQ(service->Initialize(Storage::kDataLocationNone, 1, nullptr), S_OK);
  testing_support::CapturingLogController log;
  IUnknown* out = nullptr;
  EXPECT_EQ(service->GetStorage(u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(log.texts(u"function;").size(), 4u);
}

// Memory running out anywhere inside Initialize answers E_FAIL and leaves the service
// uninitialised, ready for another Initialize; no exception reaches the host.
TEST(StorageServiceTest, InitializeAnswersEFailWhenAnAllocationFails) {
  // The first Initialize of the process computes the application-data root, which is kept.
  ASSERT_EQ(NewService()->Initialize(Storage::kDataLocationUserData, 2, u"oom"), S_OK);
  int failures = 0;
  for (size_t nth = 1;; ++nth) {
    SCOPED_TRACE(testing::Message() << "allocation " << nth << " fails");
    ATL::CComPtr<IStorageServiceEx> service = NewService();
    HRESULT hr = S_OK;
    service_test::FailNthAllocation(nth);
    try {
      hr = service->Initialize(Storage::kDataLocationUserData, 2, u"oom");
    } catch (const std::bad_alloc&) {
      service_test::StopFailingAllocations();
      FAIL() << "std::bad_alloc escaped";
    }
    if (!service_test::StopFailingAllocations()) {
      EXPECT_EQ(hr, S_OK);  // every allocation of Initialize has failed once
      break;
    }
    ++failures;
    ASSERT_EQ(hr, E_FAIL);
    IUnknown* storage = nullptr;
    EXPECT_EQ(service->GetStorage(Storage::kUserPrefStorageId, nullptr, &storage), E_FAIL);
    ASSERT_EQ(service->Initialize(Storage::kDataLocationUserData, 2, u"oom"), S_OK);
    ASSERT_EQ(service->GetStorage(Storage::kUserPrefStorageId, nullptr, &storage), S_OK);
    storage->Release();
    EXPECT_EQ(service->UnInitialize(), S_OK);
  }
  EXPECT_GT(failures, 0);
}

// This binary runs as a new account without a configuration folder: the service makes it,
// for the owner only, and a write reaches the disk.
TEST(StorageServiceTest, AFreshAccountGetsItsConfigFolderAndWritesReachTheDisk) {
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  ASSERT_EQ(service->Initialize(Storage::kDataLocationUserData, 2, u"fresh"), S_OK);
  ATL::CComPtr<IUnknown> unknown;
  ASSERT_EQ(service->GetStorage(Storage::kUserPrefStorageId, nullptr, unknown.Receive()), S_OK);
  ATL::CComPtr<IKeyValueStorage> storage;
  ASSERT_EQ(unknown.QueryInterface(storage.Receive()), S_OK);
  ATL::CComPtr<IValueObject> value;
  ASSERT_EQ(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid()), S_OK);
  const BYTE kBytes[] = {0xAB, 0x01};
  ASSERT_EQ(value->SetBuffer(kBytes, 2), S_OK);
  ATL::CComBSTR key(u"written");
  ASSERT_EQ(storage->SetValue(key.get(), value), S_OK);
  EXPECT_EQ(service->UnInitialize(), S_OK);  // the final sync

  const std::string config = storage_test::ConfigFolder();
  ASSERT_TRUE(std::filesystem::is_directory(config));
  EXPECT_EQ(std::filesystem::status(config).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  const std::string file = storage_test::StyleTwoUserFolder(u"fresh") + "userpref_v2";
  EXPECT_NE(platform_test::ReadNative(file).find("<Item key=\"written\" value=\"ab01\">"),
            std::string::npos)
      << file;
}

// Host threads race on one service; the service lock keeps every call consistent.
TEST(StorageServiceTest, ConcurrentCallsOnOneService) {
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        IUnknown* out = nullptr;
        HRESULT hr = S_OK;
        switch ((t + i) % 4) {
          case 0:
            hr = service->Initialize(Storage::kDataLocationSysData, 2, u"racer");
            break;
          case 1:
            hr = service->GetStorage(Storage::kUserPrefStorageId, nullptr, &out);
            // A storage is handed out exactly when the call succeeds.
            if ((out != nullptr) != (hr == S_OK)) ++unexpected;
            break;
          case 2:
            hr = service->CreateTempStorage(Storage::kStorageTypeKeyValue, &out);
            break;
          default:
            hr = service->UnInitialize();
            break;
        }
        if (hr != S_OK && hr != E_FAIL) ++unexpected;
        if (out != nullptr) out->Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(unexpected.load(), 0);
}

// Whatever allocation fails inside GetStorageService, the caller gets a failing code and a
// null service (never its own pointer back), and the factory keeps working.
TEST(StorageServiceFactoryTest, EveryFailureAnswersAFailingCodeAndANullService) {
  IStorageServiceEx* const kUnset = reinterpret_cast<IStorageServiceEx*>(uintptr_t{0x10});
  int failures = 0;
  for (size_t nth = 1;; ++nth) {
    SCOPED_TRACE(testing::Message() << "allocation " << nth << " fails");
    ATL::CComObject<Storage::CStorageServiceFactory>* object = nullptr;
    ASSERT_EQ(ATL::CComObject<Storage::CStorageServiceFactory>::CreateInstance(&object), S_OK);
    ATL::CComPtr<IStorageServiceFactory> factory(object);
    IStorageServiceEx* service = kUnset;
    HRESULT hr = S_OK;
    service_test::FailNthAllocation(nth);
    try {
      hr = factory->GetStorageService(Storage::kDataLocationSysData, 2, u"oom", &service);
    } catch (const std::bad_alloc&) {
      service_test::StopFailingAllocations();
      FAIL() << "std::bad_alloc escaped";
    }
    const bool failed = service_test::StopFailingAllocations();
    if (SUCCEEDED(hr)) {
      ASSERT_NE(service, kUnset);
      ASSERT_NE(service, nullptr);
      service->Release();
      if (!failed) break;  // past the last allocation
      continue;
    }
    ++failures;
    EXPECT_EQ(service, nullptr);
    ASSERT_EQ(factory->GetStorageService(Storage::kDataLocationSysData, 2, u"oom", &service), S_OK);
    ASSERT_NE(service, nullptr);
    service->Release();
    EXPECT_EQ(factory->UninitService(), S_OK);
  }
  EXPECT_GT(failures, 0);
}

TEST(StorageServiceFactoryTest, ServiceKeys) {
  struct Case {
    int kind;
    int style;
    const char16_t* user;
    std::u16string key;
  };
  const Case kCases[] = {
      {1, 1, u"bob", u"SysData/"},
      {1, 2, nullptr, u"SysData/"},
      {2, 2, u"bob", u"UserData/bob/"},
      {2, 1, u"bob", u"UserData/0A73B7929C9546628F097CEEACA6E079bob/"},
      {2, 0, u"Bob", u"UserData/0A73B7929C9546628F097CEEACA6E079Bob/"},
      {3, 2, u"bob", u""},
      {0, 1, u"bob", u""},
      {5, 2, u"bob", u""},
      {4, 1, u"bob", Storage::GetModuleDir() + u"/"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Storage::CStorageServiceFactory::BuildServiceKey(c.kind, c.style, c.user), c.key)
        << c.kind << "/" << c.style;
  }
}

}  // namespace
