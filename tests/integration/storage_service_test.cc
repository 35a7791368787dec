// The storage service and the service factory, driven through the loaded library.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/storage_service.h"
#include "tests/common/app_data_root.h"
#include "tests/integration/storage_library.h"

namespace {

using storage_test::StorageLibraryTest;

bool IsDirectory(const std::string& path) { return std::filesystem::is_directory(path); }

// A value GetStorage must not leave in its out parameter when it resets it.
IUnknown* Sentinel() {
  static int marker;
  return reinterpret_cast<IUnknown*>(&marker);
}

class StorageServiceTest : public StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(StorageServiceTest, SecondInitializeKeepsTheFirstUser) {
  EXPECT_EQ(service_->Initialize(2, 2, u"first user"), S_OK);
  EXPECT_EQ(service_->Initialize(2, 2, u"second user"), S_OK);
  EXPECT_TRUE(IsDirectory(storage_test::StyleTwoUserFolder(u"first user")));
  EXPECT_FALSE(IsDirectory(storage_test::StyleTwoUserFolder(u"second user")));

  // Once uninitialised, the service starts again with the new arguments.
  EXPECT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_EQ(service_->Initialize(2, 2, u"second user"), S_OK);
  EXPECT_TRUE(IsDirectory(storage_test::StyleTwoUserFolder(u"second user")));
}

TEST_F(StorageServiceTest, UnInitializeOnAFreshServiceIsOk) {
  EXPECT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_EQ(service_->UnInitialize(), S_OK);
  IUnknown* out = Sentinel();
  EXPECT_EQ(service_->GetStorage(Storage::kUserPrefStorageId, nullptr, &out), E_FAIL);
}

TEST_F(StorageServiceTest, GetStorageFollowsTheServiceState) {
  IUnknown* out = Sentinel();
  EXPECT_EQ(service_->GetStorage(Storage::kUserPrefStorageId, nullptr, &out), E_FAIL);
  EXPECT_EQ(out, Sentinel());  // not initialised: nothing is touched
  EXPECT_EQ(service_->CreateTempStorage(Storage::kStorageTypeBookmarkTree, &out), E_FAIL);

  ASSERT_EQ(service_->Initialize(1, 1, nullptr), S_OK);
  ATL::CComPtr<IStorageConfig> config = library_.Create<IStorageConfig>(CLSID_CCoStorageConfig);
  ASSERT_TRUE(config);
  ASSERT_EQ(config->SetFileName(u"other_file"), S_OK);
  const char16_t* const kUnknown[] = {u"B339787E-9764-4A14-91D0-1316008F5867", u"unknown", u""};
  for (const char16_t* id : kUnknown) {
    for (IStorageConfig* with : {static_cast<IStorageConfig*>(nullptr), config.get()}) {
      out = Sentinel();
      EXPECT_EQ(service_->GetStorage(id, with, &out), E_FAIL);
      EXPECT_EQ(out, nullptr);
    }
  }
  EXPECT_EQ(service_->CreateTempStorage(Storage::kStorageTypeKeyValue, &out), E_FAIL);
  ATL::CComPtr<IUnknown> temp;
  EXPECT_EQ(service_->CreateTempStorage(Storage::kStorageTypeBookmarkTree, temp.Receive()), S_OK);
  EXPECT_TRUE(temp);
  EXPECT_EQ(service_->CreateTempStorage(Storage::kStorageTypeBookmarkTree, nullptr), E_FAIL);

  ASSERT_EQ(service_->UnInitialize(), S_OK);
  out = Sentinel();
  EXPECT_EQ(service_->GetStorage(Storage::kUserPrefStorageId, nullptr, &out), E_FAIL);
  EXPECT_EQ(out, Sentinel());
}

// Hosts call by slot: each operation must sit at the vtable index its interface documents.
template <class Fn, class I>
Fn Slot(I* object, size_t index) {
  return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[index]);
}

TEST_F(StorageServiceTest, OperationsSitAtTheirSlots) {
  IStorageServiceEx* service = service_.get();
  using InitializeFn = HRESULT (*)(IStorageServiceEx*, int, int, LPCWSTR);
  using GetStorageFn = HRESULT (*)(IStorageServiceEx*, LPCWSTR, IStorageConfig*, IUnknown**);
  using UnInitializeFn = HRESULT (*)(IStorageServiceEx*);
  EXPECT_EQ(Slot<InitializeFn>(service, 5)(service, 2, 2, u"slot user"), S_OK);
  EXPECT_TRUE(IsDirectory(storage_test::StyleTwoUserFolder(u"slot user")));
  IUnknown* out = Sentinel();
  EXPECT_EQ(Slot<GetStorageFn>(service, 3)(service, u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Slot<UnInitializeFn>(service, 6)(service), S_OK);
  out = Sentinel();
  EXPECT_EQ(service->GetStorage(u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(out, Sentinel());

  ATL::CComPtr<IStorageConfig> config = library_.Create<IStorageConfig>(CLSID_CCoStorageConfig);
  ASSERT_TRUE(config);
  using SetFn = HRESULT (*)(IStorageConfig*, LPCWSTR);
  using GetFn = HRESULT (*)(IStorageConfig*, BSTR*);
  EXPECT_EQ(Slot<SetFn>(config.get(), 4)(config.get(), u"file"), S_OK);
  EXPECT_EQ(Slot<SetFn>(config.get(), 6)(config.get(), u"name"), S_OK);
  ATL::CComBSTR file_name;
  ATL::CComBSTR name;
  EXPECT_EQ(Slot<GetFn>(config.get(), 3)(config.get(), file_name.Receive()), S_OK);
  EXPECT_EQ(Slot<GetFn>(config.get(), 5)(config.get(), name.Receive()), S_OK);
  EXPECT_EQ(std::u16string(file_name.get(), file_name.Length()), u"file");
  EXPECT_EQ(std::u16string(name.get(), name.Length()), u"name");

  ATL::CComPtr<IStorageServiceFactory> factory =
      library_.Create<IStorageServiceFactory>(CLSID_CStorageServiceFactory);
  ASSERT_TRUE(factory);
  using GetServiceFn = HRESULT (*)(IStorageServiceFactory*, int, int, LPCWSTR, IStorageServiceEx**);
  using ServiceFn = HRESULT (*)(IStorageServiceFactory*);
  EXPECT_EQ(Slot<ServiceFn>(factory.get(), 3)(factory.get()), S_OK);
  ATL::CComPtr<IStorageServiceEx> from_factory;
  EXPECT_EQ(
      Slot<GetServiceFn>(factory.get(), 5)(factory.get(), 3, 1, nullptr, from_factory.Receive()),
      S_OK);
  ASSERT_TRUE(from_factory);
  EXPECT_EQ(Slot<ServiceFn>(factory.get(), 4)(factory.get()), S_OK);  // UninitService
  out = Sentinel();
  EXPECT_EQ(from_factory->GetStorage(u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(out, Sentinel());
}

class StorageServiceFactoryTest : public StorageLibraryTest {
 protected:
  ATL::CComPtr<IStorageServiceFactory> NewFactory() {
    return library_.Create<IStorageServiceFactory>(CLSID_CStorageServiceFactory);
  }

  static ATL::CComPtr<IStorageServiceEx> Get(IStorageServiceFactory* factory, int kind, int style,
                                             const char16_t* user) {
    IStorageServiceEx* out = nullptr;
    EXPECT_EQ(factory->GetStorageService(kind, style, user, &out), S_OK);
    EXPECT_NE(out, nullptr);
    ATL::CComPtr<IStorageServiceEx> service;
    service.Attach(out);
    return service;
  }
};

TEST_F(StorageServiceFactoryTest, SameLocationGivesTheSameService) {
  struct Request {
    int kind;
    int style;
    const char16_t* user;
  };
  struct Case {
    Request first;
    Request second;
    bool same;
  };
  const Case kCases[] = {
      {{2, 2, u"alice"}, {2, 2, u"alice"}, true},
      {{2, 2, u"alice"}, {2, 1, u"alice"}, false},
      {{2, 1, u"alice"}, {2, 3, u"alice"}, true},   // every style but 2 is prefixed
      {{2, 2, u"alice"}, {2, 2, u"Alice"}, false},  // names compare exactly
      {{2, 2, u"alice"}, {2, 2, u"bob"}, false},
      {{1, 1, u"alice"}, {1, 2, u"bob"}, true},  // SysData is shared
      {{1, 1, u"alice"}, {2, 1, u"alice"}, false},
      {{3, 1, u"alice"}, {3, 2, u"bob"}, true},  // kind 3 shares the empty key
      {{3, 1, u"alice"}, {7, 1, u"carol"}, true},
      {{4, 1, u"alice"}, {4, 2, u"bob"}, true},  // the executable's folder
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.first.kind << "/" << c.first.style << " vs "
                                    << c.second.kind << "/" << c.second.style);
    ATL::CComPtr<IStorageServiceFactory> factory = NewFactory();
    ASSERT_TRUE(factory);
    ATL::CComPtr<IStorageServiceEx> a = Get(factory, c.first.kind, c.first.style, c.first.user);
    ATL::CComPtr<IStorageServiceEx> b = Get(factory, c.second.kind, c.second.style, c.second.user);
    EXPECT_EQ(a.get() == b.get(), c.same);
  }
}

TEST_F(StorageServiceFactoryTest, UninitServiceUninitialisesEveryCachedService) {
  ATL::CComPtr<IStorageServiceFactory> factory = NewFactory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->InitService(), S_OK);
  ATL::CComPtr<IStorageServiceEx> user = Get(factory, 2, 2, u"uninit user");
  ATL::CComPtr<IStorageServiceEx> shared = Get(factory, 1, 1, nullptr);
  EXPECT_TRUE(IsDirectory(storage_test::StyleTwoUserFolder(u"uninit user")));

  // Initialised: an unknown identifier resets the out parameter.
  IUnknown* out = Sentinel();
  EXPECT_EQ(user->GetStorage(u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(factory->UninitService(), S_OK);
  for (IStorageServiceEx* service : {user.get(), shared.get()}) {
    out = Sentinel();
    EXPECT_EQ(service->GetStorage(u"unknown", nullptr, &out), E_FAIL);
    EXPECT_EQ(out, Sentinel());  // not initialised any more
  }
  // An uninitialised service takes new arguments again.
  EXPECT_EQ(user->Initialize(2, 2, u"uninit user 2"), S_OK);
  EXPECT_TRUE(IsDirectory(storage_test::StyleTwoUserFolder(u"uninit user 2")));

  // The cache is empty: the same location gets a new service.
  ATL::CComPtr<IStorageServiceEx> again = Get(factory, 2, 2, u"uninit user");
  EXPECT_NE(again.get(), user.get());
}

TEST_F(StorageServiceFactoryTest, ReleasingTheFactoryLeavesServicesInitialised) {
  ATL::CComPtr<IStorageServiceEx> service;
  {
    ATL::CComPtr<IStorageServiceFactory> factory = NewFactory();
    ASSERT_TRUE(factory);
    service = Get(factory, 2, 2, u"outlives factory");
  }
  IUnknown* out = Sentinel();
  EXPECT_EQ(service->GetStorage(u"unknown", nullptr, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
}

TEST_F(StorageServiceFactoryTest, NullOutIsRejected) {
  ATL::CComPtr<IStorageServiceFactory> factory = NewFactory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->GetStorageService(2, 2, u"x", nullptr), E_POINTER);
}

}  // namespace
