// Class registration and creation as a host does them: libbrowserstorage.so registers itself
// through DllRegisterServer into the registry under a temporary application-data root, and the
// classes are then created by CLSID and by ProgID through CoCreateInstance, which loads the
// library from its registered path. This program links the platform library only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/combaseapi.h"
#include "browserplatform/shell.h"
#include "browserplatform/winreg.h"
#include "browserstorage/storage_service.h"
#include "platform/critical_section_for_testing.h"
#include "tests/common/app_data_root.h"
#include "tests/common/temp_folder.h"

namespace {

const auto* const kAppDataRoot = storage_test::AppDataRootEnvironment::Register();

using platform_test::Narrow;
using platform_test::Widen;

constexpr char16_t kModuleGuid[] = u"{0B529038-75EA-4DA6-873E-8BADCD89B303}";

struct ClassRow {
  const CLSID* clsid;
  std::u16string clsid_text;
  std::u16string progid;
  std::u16string version_independent_progid;
  std::u16string friendly_name;
  const IID* own_interface;
};

const ClassRow kClasses[] = {
    {&CLSID_CStorageService, u"{03A4959A-4358-4aee-97BF-872E253EE6BF}",
     u"CStorageService.CStorageService.1", u"CStorageService.CStorageService",
     u"CStorageService Object", &IID_IStorageServiceEx},
    {&CLSID_CStorageServiceFactory, u"{0A986E84-F696-42aa-80B5-DB50D4F84485}",
     u"CStorageServiceFactory.CStorageServic.1", u"CStorageServiceFactory.CStorageServic",
     u"CStorageServiceFactory Object", &IID_IStorageServiceFactory},
    {&CLSID_CCoStorageConfig, u"{630D2AD6-C369-4b28-85DA-301CFBD0547F}",
     u"CCoStorageConfig.CCoStorageConfig.1", u"CCoStorageConfig.CCoStorageConfig",
     u"CCoStorageConfig Object", &IID_IStorageConfig},
};

std::string HivePath() {
  return storage_test::ConfigFolder() + "/orvex/browser/registry/HKEY_CLASSES_ROOT.hive";
}

// The library as a registering host reaches it: loaded by path, two entry points.
struct Registrar {
  Registrar() : handle(::dlopen(BROWSER_STORAGE_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
    if (!handle) return;
    Register = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
    Unregister = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllUnregisterServer"));
  }
  ~Registrar() {
    if (handle) ::dlclose(handle);
  }
  Registrar(const Registrar&) = delete;
  Registrar& operator=(const Registrar&) = delete;

  void* handle;
  HRESULT (*Register)() = nullptr;
  HRESULT (*Unregister)() = nullptr;
};

// Every key and every value of the registry, one line each, sorted: "KEY path" and
// "VALUE path | name = text" (string values) or "VALUE path | name : type N".
void DumpKey(HKEY key, const std::string& path, std::vector<std::string>* lines) {
  if (!path.empty()) lines->push_back("KEY " + path);
  for (DWORD index = 0;; ++index) {
    char16_t name[300];
    DWORD name_length = 300;
    DWORD type = 0;
    BYTE data[4096];
    DWORD size = sizeof(data);
    LSTATUS status = RegEnumValueW(key, index, name, &name_length, nullptr, &type, data, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    std::string line = "VALUE " + path + " | " + Narrow(std::u16string(name, name_length));
    if (type == REG_SZ && size >= 2 && size % 2 == 0) {
      std::u16string text(size / 2 - 1, u'\0');
      std::memcpy(text.data(), data, text.size() * 2);
      line += " = " + Narrow(text);
    } else {
      line += " : type " + std::to_string(type);
    }
    lines->push_back(line);
  }
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD length = 256;
    LSTATUS status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    HKEY subkey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key, name, 0, KEY_READ, &subkey), ERROR_SUCCESS);
    const std::string sub_name = Narrow(std::u16string(name, length));
    DumpKey(subkey, path.empty() ? sub_name : path + "\\" + sub_name, lines);
    RegCloseKey(subkey);
  }
}

std::vector<std::string> Dump() {
  std::vector<std::string> lines;
  DumpKey(HKEY_CLASSES_ROOT, "", &lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// What registration writes, in Dump's form.
std::vector<std::string> RegisteredEntries() {
  const std::string guid = Narrow(kModuleGuid);
  std::vector<std::string> lines = {
      "KEY AppID",
      "KEY AppID\\" + guid,
      "VALUE AppID\\" + guid + " |  = browserstorage",
      "KEY AppID\\libbrowserstorage.so",
      "VALUE AppID\\libbrowserstorage.so | AppID = " + guid,
      "KEY CLSID",
  };
  for (const ClassRow& row : kClasses) {
    const std::string progid = Narrow(row.progid);
    const std::string vi = Narrow(row.version_independent_progid);
    const std::string name = Narrow(row.friendly_name);
    const std::string clsid = Narrow(row.clsid_text);
    const std::string key = "CLSID\\" + clsid;
    const std::vector<std::string> class_lines = {
        "KEY " + progid,
        "VALUE " + progid + " |  = " + name,
        "KEY " + progid + "\\CLSID",
        "VALUE " + progid + "\\CLSID |  = " + clsid,
        "KEY " + vi,
        "VALUE " + vi + " |  = " + name,
        "KEY " + vi + "\\CLSID",
        "VALUE " + vi + "\\CLSID |  = " + clsid,
        "KEY " + vi + "\\CurVer",
        "VALUE " + vi + "\\CurVer |  = " + progid,
        "KEY " + key,
        "VALUE " + key + " |  = " + name,
        "VALUE " + key + " | AppID = " + guid,
        "KEY " + key + "\\ProgID",
        "VALUE " + key + "\\ProgID |  = " + progid,
        "KEY " + key + "\\VersionIndependentProgID",
        "VALUE " + key + "\\VersionIndependentProgID |  = " + vi,
        "KEY " + key + "\\Programmable",
        "KEY " + key + "\\InprocServer32",
        "VALUE " + key + "\\InprocServer32 |  = " BROWSER_STORAGE_LIBRARY,
        "VALUE " + key + "\\InprocServer32 | ThreadingModel = free",
        "KEY " + key + "\\TypeLib",
        "VALUE " + key + "\\TypeLib |  = " + guid,
    };
    lines.insert(lines.end(), class_lines.begin(), class_lines.end());
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

LSTATUS CreateKey(const std::u16string& path, HKEY* key) {
  return RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, key, nullptr);
}

// Makes "CLSID\{clsid}\InprocServer32" name `file` (nothing when `file` is null).
void RegisterServer(REFCLSID clsid, const char* file) {
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(clsid, text, 39), 39);
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(u"CLSID\\" + std::u16string(text) + u"\\InprocServer32", &key),
            ERROR_SUCCESS);
  if (file) {
    const std::u16string path = Widen(file);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                             static_cast<DWORD>((path.size() + 1) * 2)),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

// The calling thread with COM initialised for a scope.
class ScopedCom {
 public:
  ScopedCom() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ScopedCom() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// Each test starts without a hive: an empty registry.
class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(registrar_.handle, nullptr) << ::dlerror();
    ASSERT_NE(registrar_.Register, nullptr);
    ASSERT_NE(registrar_.Unregister, nullptr);
    std::remove(HivePath().c_str());
    ASSERT_EQ(com_.hr(), S_OK);
  }

  Registrar registrar_;
  ScopedCom com_;
};

TEST_F(RegistrationTest, WritesExactlyTheClassAndModuleEntries) {
  // Another class's registration shares "CLSID" and must survive ours.
  HKEY other = nullptr;
  ASSERT_EQ(CreateKey(u"CLSID\\{00000000-0000-0000-0000-000000000001}", &other), ERROR_SUCCESS);
  RegCloseKey(other);

  ASSERT_EQ(registrar_.Register(), S_OK);
  std::vector<std::string> expected = RegisteredEntries();
  expected.push_back("KEY CLSID\\{00000000-0000-0000-0000-000000000001}");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Dump(), expected);

  // Registering again gives the same entries; what was left inside a class's key is gone,
  // since that key is written afresh.
  HKEY stale = nullptr;
  ASSERT_EQ(CreateKey(u"CLSID\\" + kClasses[0].clsid_text + u"\\Programmable\\Stale", &stale),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(stale, u"x", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  RegCloseKey(stale);
  ASSERT_EQ(registrar_.Register(), S_OK);
  EXPECT_EQ(Dump(), expected);

  // Unregistering removes everything written, keeps "CLSID", "AppID" and the other class; a
  // second time finds nothing to remove and succeeds.
  ASSERT_EQ(registrar_.Unregister(), S_OK);
  const std::vector<std::string> left = {"KEY AppID", "KEY CLSID",
                                         "KEY CLSID\\{00000000-0000-0000-0000-000000000001}"};
  EXPECT_EQ(Dump(), left);
  EXPECT_EQ(registrar_.Unregister(), S_OK);
  EXPECT_EQ(Dump(), left);
}

TEST_F(RegistrationTest, CreatesEachClassByClsidAndByProgId) {
  ASSERT_EQ(registrar_.Register(), S_OK);
  for (const ClassRow& row : kClasses) {
    SCOPED_TRACE(Narrow(row.progid));
    for (const std::u16string& progid : {row.progid, row.version_independent_progid}) {
      CLSID clsid{};
      ASSERT_EQ(CLSIDFromProgID(progid.c_str(), &clsid), S_OK) << Narrow(progid);
      EXPECT_EQ(clsid, *row.clsid);
      ATL::CComPtr<IUnknown> object;
      ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, *row.own_interface,
                                 object.ReceiveVoid()),
                S_OK);
      ATL::CComPtr<IUnknown> identity;
      EXPECT_EQ(object->QueryInterface(IID_IUnknown, identity.ReceiveVoid()), S_OK);
    }
    ATL::CComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(*row.clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.ReceiveVoid()),
              S_OK);
    ATL::CComPtr<IUnknown> typed;
    EXPECT_EQ(object->QueryInterface(*row.own_interface, typed.ReceiveVoid()), S_OK);
    ATL::CComPtr<IProvideClassInfo> class_info;
    ASSERT_EQ(object.QueryInterface(class_info.Receive()), S_OK);
  }

  // The objects work: a service initialises, which the library only does when fully loaded.
  ATL::CComPtr<IStorageServiceEx> service;
  ASSERT_EQ(CoCreateInstance(CLSID_CStorageService, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IStorageServiceEx, service.ReceiveVoid()),
            S_OK);
  EXPECT_EQ(service->Initialize(Storage::kDataLocationNone, 1, nullptr), S_OK);
  EXPECT_EQ(service->UnInitialize(), S_OK);

  // Unregistered, the classes are gone by either name.
  ASSERT_EQ(registrar_.Unregister(), S_OK);
  for (const ClassRow& row : kClasses) {
    void* object = &service;
    EXPECT_EQ(CoCreateInstance(*row.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(row.progid.c_str(), &clsid), CO_E_CLASSSTRING);
  }
}

TEST_F(RegistrationTest, CreationErrors) {
  ASSERT_EQ(registrar_.Register(), S_OK);
  void* object = nullptr;

  // A thread that has not initialised COM.
  HRESULT other_thread = S_OK;
  std::thread([&] {
    other_thread = CoCreateInstance(CLSID_CStorageService, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IUnknown, &object);
  }).join();
  EXPECT_EQ(other_thread, CO_E_NOTINITIALIZED);

  EXPECT_EQ(
      CoCreateInstance(CLSID_CStorageService, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
      REGDB_E_CLASSNOTREG);
  EXPECT_EQ(
      CoCreateInstance(CLSID_CStorageService, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
      E_POINTER);
  // Aggregation hands the outer object the inner IUnknown only.
  ATL::CComPtr<IUnknown> outer;
  ASSERT_EQ(CoCreateInstance(CLSID_CCoStorageConfig, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             outer.ReceiveVoid()),
            S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_CStorageService, outer.get(), CLSCTX_INPROC_SERVER,
                             IID_IStorageServiceEx, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);

  // Registrations that lead nowhere.
  constexpr CLSID kMissingFile = platform::MakeGuid("11111111-0000-0000-0000-000000000001");
  constexpr CLSID kNoEntryPoint = platform::MakeGuid("11111111-0000-0000-0000-000000000002");
  constexpr CLSID kNotInLibrary = platform::MakeGuid("11111111-0000-0000-0000-000000000003");
  constexpr CLSID kNoServer = platform::MakeGuid("11111111-0000-0000-0000-000000000004");
  const std::string missing = storage_test::ConfigFolder() + "/no-such-library.so";
  char16_t platform_library[4096];
  ASSERT_GT(
      GetModuleFileNameW(reinterpret_cast<HMODULE>(&CoCreateInstance), platform_library, 4096), 0u);
  const std::string platform_path = Narrow(platform_library);
  RegisterServer(kMissingFile, missing.c_str());
  RegisterServer(kNoEntryPoint, platform_path.c_str());
  RegisterServer(kNotInLibrary, BROWSER_STORAGE_LIBRARY);
  RegisterServer(kNoServer, nullptr);
  struct Case {
    const CLSID* clsid;
    HRESULT expected;
  };
  const Case kCases[] = {{&kMissingFile, CO_E_DLLNOTFOUND},
                         {&kNoEntryPoint, CO_E_ERRORINDLL},
                         {&kNotInLibrary, CLASS_E_CLASSNOTAVAILABLE},
                         {&kNoServer, REGDB_E_CLASSNOTREG}};
  for (const Case& c : kCases) {
    object = &outer;
    EXPECT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              c.expected);
    EXPECT_EQ(object, nullptr);
  }
  CLSID clsid{};
  for (const char16_t* progid : {u"Unknown.Class", u"CLSID", u"Back\\Slash", u""}) {
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), CO_E_CLASSSTRING) << Narrow(progid);
  }
}

TEST_F(RegistrationTest, DamagedHiveFailsRegistrationAndStays) {
  ASSERT_EQ(registrar_.Register(), S_OK);
  const std::string damaged = platform_test::ReadNative(HivePath()) + "damage\n";
  platform_test::WriteNative(HivePath(), damaged);

  const HRESULT kBadDb = HRESULT_FROM_WIN32(ERROR_BADDB);
  EXPECT_EQ(registrar_.Register(), kBadDb);
  EXPECT_EQ(registrar_.Unregister(), kBadDb);
  void* object = nullptr;
  EXPECT_EQ(
      CoCreateInstance(CLSID_CStorageService, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
      kBadDb);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(kClasses[0].progid.c_str(), &clsid), kBadDb);
  EXPECT_EQ(platform_test::ReadNative(HivePath()), damaged);
}

// The library's load-time start-up fails (its critical section cannot be made): it stays
// loadable, but refuses its class objects, and CoCreateInstance lets it go so that a later load
// starts it again. Runs in a fresh process, where nothing has loaded the library yet.
int CreateWhileStartUpFails() {
  if (::dlopen(BROWSER_STORAGE_LIBRARY, RTLD_NOW | RTLD_NOLOAD)) return 10;
  RegisterServer(CLSID_CCoStorageConfig, BROWSER_STORAGE_LIBRARY);
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 11;

  platform::SetCriticalSectionInitFailsForTesting(true);
  void* object = nullptr;
  const HRESULT failed = CoCreateInstance(CLSID_CCoStorageConfig, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IStorageConfig, &object);
  platform::SetCriticalSectionInitFailsForTesting(false);
  if (failed != E_UNEXPECTED || object) return 12;
  if (::dlopen(BROWSER_STORAGE_LIBRARY, RTLD_NOW | RTLD_NOLOAD)) return 13;  // let go

  if (CoCreateInstance(CLSID_CCoStorageConfig, nullptr, CLSCTX_INPROC_SERVER, IID_IStorageConfig,
                       &object) != S_OK) {
    return 14;
  }
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();
  return 0;
}

TEST(RegistrationStartUpTest, FailedStartUpRefusesClassObjectsAndIsLetGo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(CreateWhileStartUpFails()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
