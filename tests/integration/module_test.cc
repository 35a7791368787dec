// The library's entry points, class objects, lock count and aggregation.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/storage_service.h"
#include "tests/integration/storage_library.h"

namespace {

using storage_test::StorageLibraryTest;

const CLSID* const kClasses[] = {&CLSID_CStorageService, &CLSID_CStorageServiceFactory,
                                 &CLSID_CCoStorageConfig};

// An object that aggregates one inner object: its IUnknown is the identity, every other
// interface comes from the inner object. It lives on the test's stack.
class OuterObject final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
  STDMETHODIMP_(ULONG) Release() override { return --count_; }
  ULONG count() const { return count_.load(); }

  ATL::CComPtr<IUnknown> inner;  // the non-delegating unknown of the aggregated object

 private:
  std::atomic<ULONG> count_{1};
};

using ModuleTest = StorageLibraryTest;

TEST_F(ModuleTest, EveryEntryPointIsExported) {
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "BrowserStorageInit",
                           "BrowserStorageMain", "BrowserStorageUninit"}) {
    EXPECT_NE(library_.Symbol(name), nullptr) << name;
  }
}

TEST_F(ModuleTest, BrowserStorageMainIsOneFunctionUnderThreeNames) {
  EXPECT_EQ(library_.BrowserStorageMain(), 0);
  EXPECT_EQ(library_.BrowserStorageInit(), 0);
  EXPECT_EQ(library_.BrowserStorageUninit(), 0);
  EXPECT_EQ(library_.Symbol("BrowserStorageInit"), library_.Symbol("BrowserStorageMain"));
  EXPECT_EQ(library_.Symbol("BrowserStorageUninit"), library_.Symbol("BrowserStorageMain"));
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);  // and it holds nothing
}

TEST_F(ModuleTest, ClassObjectsOfTheThreeClasses) {
  void* object = nullptr;
  EXPECT_EQ(library_.DllGetClassObject(IID_IStorageServiceEx, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(library_.DllGetClassObject(CLSID_CStorageService, IID_IClassFactory, nullptr),
            E_POINTER);

  struct Case {
    const CLSID* clsid;
    const IID* iid;
  };
  const Case kCases[] = {
      {&CLSID_CStorageService, &IID_IStorageServiceEx},
      {&CLSID_CStorageServiceFactory, &IID_IStorageServiceFactory},
      {&CLSID_CStorageServiceFactory, &IID_IService},
      {&CLSID_CCoStorageConfig, &IID_IStorageConfig},
  };
  for (const Case& c : kCases) {
    ATL::CComPtr<IUnknown> instance = library_.Create<IUnknown>(*c.clsid);
    ASSERT_TRUE(instance);
    ATL::CComPtr<IUnknown> typed;
    EXPECT_EQ(instance->QueryInterface(*c.iid, typed.ReceiveVoid()), S_OK);
    ATL::CComPtr<IProvideClassInfo> class_info;
    ASSERT_EQ(instance.QueryInterface(class_info.Receive()), S_OK);
    EXPECT_EQ(class_info->GetClassInfo(nullptr), E_NOTIMPL);
  }
}

TEST_F(ModuleTest, DllCanUnloadNowFollowsTheLockCount) {
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);
  ATL::CComPtr<IClassFactory> factory = library_.ClassObject(CLSID_CStorageService);
  ASSERT_TRUE(factory);
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);  // a class object alone does not lock

  ATL::CComPtr<IStorageServiceEx> service;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IStorageServiceEx, service.ReceiveVoid()), S_OK);
  EXPECT_EQ(library_.DllCanUnloadNow(), S_FALSE);
  service.Release();
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(library_.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);

  // A service handed out by the factory keeps the library locked after the factory is gone.
  ATL::CComPtr<IStorageServiceFactory> service_factory =
      library_.Create<IStorageServiceFactory>(CLSID_CStorageServiceFactory);
  ASSERT_TRUE(service_factory);
  IStorageServiceEx* cached = nullptr;
  ASSERT_EQ(service_factory->GetStorageService(3, 1, nullptr, &cached), S_OK);
  service.Attach(cached);
  service_factory.Release();
  EXPECT_EQ(library_.DllCanUnloadNow(), S_FALSE);
  service.Release();
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, StorageConfigAggregatesIntoAnOuterObject) {
  OuterObject outer;
  ATL::CComPtr<IClassFactory> factory = library_.ClassObject(CLSID_CCoStorageConfig);
  ASSERT_TRUE(factory);
  void* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IStorageConfig, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.ReceiveVoid()), S_OK);
  EXPECT_EQ(outer.count(), 1u);  // the inner object holds no reference to its outer one

  ATL::CComPtr<IStorageConfig> config;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IStorageConfig, config.ReceiveVoid()), S_OK);
  EXPECT_EQ(outer.count(), 2u);  // the interface's references are the outer object's

  ATL::CComPtr<IUnknown> identity;
  ASSERT_EQ(config->QueryInterface(IID_IUnknown, identity.ReceiveVoid()), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
  identity.Release();

  ATL::CComPtr<IStorageConfig> through_outer;
  ASSERT_EQ(outer.QueryInterface(IID_IStorageConfig, through_outer.ReceiveVoid()), S_OK);
  EXPECT_EQ(through_outer.get(), config.get());
  ASSERT_EQ(config->SetFileName(u"aggregated"), S_OK);
  ATL::CComBSTR file_name;
  ASSERT_EQ(through_outer->GetFileName(file_name.Receive()), S_OK);
  EXPECT_EQ(std::u16string(file_name.get(), file_name.Length()), u"aggregated");

  through_outer.Release();
  config.Release();
  EXPECT_EQ(outer.count(), 1u);
  EXPECT_EQ(library_.DllCanUnloadNow(), S_FALSE);
  outer.inner.Release();
  EXPECT_EQ(library_.DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, EveryClassIsAggregatable) {
  for (const CLSID* clsid : kClasses) {
    OuterObject outer;
    ATL::CComPtr<IClassFactory> factory = library_.ClassObject(*clsid);
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.ReceiveVoid()), S_OK);
    ATL::CComPtr<IProvideClassInfo> class_info;
    ASSERT_EQ(outer.QueryInterface(IID_IProvideClassInfo, class_info.ReceiveVoid()), S_OK);
    EXPECT_EQ(class_info->GetClassInfo(nullptr), E_NOTIMPL);
  }
}

}  // namespace
