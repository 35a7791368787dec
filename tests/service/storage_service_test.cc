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

// Each call of Initialize and UnInitialize, whether it changes anything or not, logs its
// performance entry and exit lines under its own name.
TEST(StorageServiceTest, InitializeAndUnInitializeTraceEveryCall) {
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  struct Case {
    const char* what;
    bool initialize;  // else UnInitialize
  };
  const Case kCases[] = {
      {"UnInitialize, never initialised", false},
      {"Initialize", true},
      {"Initialize again, no effect", true},
      {"UnInitialize", false},
      {"UnInitialize again", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    testing_support::CapturingLogController log;
    EXPECT_EQ(c.initialize ? service->Initialize(Storage::kDataLocationNone, 1, nullptr)
                           : service->UnInitialize(),
              S_OK);
    const std::string name =
        std::string("Storage::CStorageService::") + (c.initialize ? "Initialize" : "UnInitialize");
    std::vector<std::string> own;  // this call's lines; what it calls may trace too
    for (const testing_support::LogLine& line : log.lines(u"performance_profile;")) {
      EXPECT_EQ(line.level, 37u);
      std::string text = base::WideToUTF8(line.text);
      if (text.find(name + "\n") != std::string::npos ||
          text.find(name + " ") != std::string::npos) {
        own.push_back(text);
      }
    }
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0], "进入函数:" + name + "\n");
    EXPECT_TRUE(std::regex_match(own[1], std::regex("离开函数:" + name + " 执行耗时:[0-9]+\n")))
        << own[1];
  }
}

// Storages are handed out only while the service is initialised; before, the out pointer is
// left alone, and an identifier the registry does not know, or a storage that cannot open,
// gives a null one. UnInitialize detaches what was handed out.
TEST(StorageServiceTest, StoragesAreHandedOutOnlyWhileInitialised) {
  IUnknown* const kUnset = reinterpret_cast<IUnknown*>(uintptr_t{0x10});
  enum class Out { kUnset, kNull, kStorage };
  struct Case {
    const char* state;
    const char16_t* id;
    HRESULT result;
    Out out;
  };
  const Case kCases[] = {
      {"fresh", Storage::kUserPrefStorageId, E_FAIL, Out::kUnset},
      {"initialised", Storage::kUserPrefStorageId, S_OK, Out::kStorage},
      {"initialised", u"unknown", E_FAIL, Out::kNull},
      {"initialised", u"0e3e680b-197c-4425-bf73-7d47118eeecf", E_FAIL, Out::kNull},
      {"uninitialised", Storage::kUserPrefStorageId, E_FAIL, Out::kUnset},
  };
  ATL::CComPtr<IStorageServiceEx> service = NewService();
  ATL::CComPtr<IKeyValueStorage> handed_out;
  std::string state = "fresh";
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.state << " " << base::WideToUTF8(c.id));
    if (state != c.state) {
      state = c.state;
      EXPECT_EQ(state == "initialised"
                    ? service->Initialize(Storage::kDataLocationUserData, 2, u"handed out")
                    : service->UnInitialize(),
                S_OK);
    }
    IUnknown* out = kUnset;
    EXPECT_EQ(service->GetStorage(c.id, nullptr, &out), c.result);
    IUnknown* temp = kUnset;
    EXPECT_EQ(service->CreateTempStorage(Storage::kStorageTypeKeyValue, &temp), E_FAIL);
    switch (c.out) {
      case Out::kUnset:
        EXPECT_EQ(out, kUnset);
        break;
      case Out::kNull:
        EXPECT_EQ(out, nullptr);
        break;
      case Out::kStorage: {
        ASSERT_NE(out, nullptr);
        ASSERT_NE(out, kUnset);
        ATL::CComPtr<IUnknown> storage;
        storage.Attach(out);
        ATL::CComPtr<IUnknown> again;
        EXPECT_EQ(service->GetStorage(c.id, nullptr, again.Receive()), S_OK);
        EXPECT_EQ(again.get(), storage.get()) << "one object per identifier";
        ASSERT_EQ(storage.QueryInterface(handed_out.Receive()), S_OK);
        ULONG count = 9;
        EXPECT_EQ(handed_out->GetCount(&count), S_OK);
        break;
      }
    }
  }
  ASSERT_TRUE(handed_out);
  ULONG count = 9;
  EXPECT_EQ(handed_out->GetCount(&count), E_FAIL) << "still attached after UnInitialize";
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
