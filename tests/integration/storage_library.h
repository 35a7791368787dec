// libbrowserstorage.so as a host sees it: loaded once per process with dlopen, reached only
// through its exported entry points, objects created through their class objects.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "browserplatform/atlbase.h"
#include "browserstorage/storage_service.h"

namespace storage_test {

class StorageLibrary {
 public:
  // The process's instance; the library stays loaded until the process ends.
  static StorageLibrary& Get() {
    static StorageLibrary library;
    return library;
  }

  bool loaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

  decltype(&::DllGetClassObject) DllGetClassObject = nullptr;
  decltype(&::DllCanUnloadNow) DllCanUnloadNow = nullptr;
  decltype(&::DllRegisterServer) DllRegisterServer = nullptr;
  decltype(&::DllUnregisterServer) DllUnregisterServer = nullptr;
  decltype(&::BrowserStorageInit) BrowserStorageInit = nullptr;
  decltype(&::BrowserStorageMain) BrowserStorageMain = nullptr;
  decltype(&::BrowserStorageUninit) BrowserStorageUninit = nullptr;

  ATL::CComPtr<IClassFactory> ClassObject(REFCLSID clsid) const {
    ATL::CComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    return factory;
  }

  // A new object of `clsid` asked for interface I; null (with a test failure) when that fails.
  template <class I>
  ATL::CComPtr<I> Create(REFCLSID clsid) const {
    ATL::CComPtr<I> object;
    ATL::CComPtr<IClassFactory> factory = ClassObject(clsid);
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, uuidof<I>(), object.ReceiveVoid()), S_OK);
    }
    return object;
  }

 private:
  StorageLibrary() : handle_(::dlopen(BROWSER_STORAGE_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    Bind(&DllGetClassObject, "DllGetClassObject");
    Bind(&DllCanUnloadNow, "DllCanUnloadNow");
    Bind(&DllRegisterServer, "DllRegisterServer");
    Bind(&DllUnregisterServer, "DllUnregisterServer");
    Bind(&BrowserStorageInit, "BrowserStorageInit");
    Bind(&BrowserStorageMain, "BrowserStorageMain");
    Bind(&BrowserStorageUninit, "BrowserStorageUninit");
  }

  template <class F>
  void Bind(F* slot, const char* name) {
    *slot = reinterpret_cast<F>(::dlsym(handle_, name));
  }

  void* handle_;
};

// A fixture whose library is loaded with every entry point found.
class StorageLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded()) << ::dlerror();
    ASSERT_NE(library_.DllGetClassObject, nullptr);
    ASSERT_NE(library_.DllCanUnloadNow, nullptr);
  }

  StorageLibrary& library_ = StorageLibrary::Get();
};

}  // namespace storage_test
