// The storage service: the public face of libbrowserstorage.so.
//
// A host loads the library and asks DllGetClassObject for the class object of one of three
// classes:
//   CLSID_CStorageService         a storage service (IStorageServiceEx) for one user's data;
//   CLSID_CStorageServiceFactory  one initialised service per user data location
//                                 (IStorageServiceFactory);
//   CLSID_CCoStorageConfig        per-request overrides of a storage's file name and name
//                                 string (IStorageConfig).
// All three are aggregatable, free-threaded, and answer IProvideClassInfo with E_NOTIMPL (there
// is no type library).
//
// Expected order of calls: create a service (directly or through GetStorageService),
// Initialize, any number of GetStorage / CreateTempStorage calls from any thread, UnInitialize,
// release. The host asks each IUnknown it gets for the typed interface of that storage.
//
// Ownership: every interface pointer handed out carries one reference for the caller; every
// BSTR handed out belongs to the caller (SysFreeString). Strings passed in are copied.
//
// Threads: every method may be called from any thread. A service serialises its four
// IStorageServiceEx operations with one lock; the factory serialises its own two operations.
//
// Out of memory while a string is copied is raised as Storage::CHResultException carrying
// E_OUTOFMEMORY (browserstorage/result_codes.h), where a method says so.
#pragma once

#include "browserplatform/unknwn.h"
#include "browserstorage/export.h"
#include "browserstorage/result_codes.h"

namespace Storage {

// The storages the system knows, by identifier. Identifiers match exactly, code unit by code
// unit: the lower-case letters are part of them.
inline constexpr char16_t kUserPrefStorageId[] = u"0E3E680B-197C-4425-BF73-7D47118EEECF";
inline constexpr char16_t kBrowserPrefStorageId[] = u"B339787E-9764-4a14-91D0-1316008F5867";
inline constexpr char16_t kBookmarkStorageId[] = u"05954AC7-0787-4291-8AB4-D9CA392DD36B";
inline constexpr char16_t kStartupDataStorageId[] = u"923F086F-BA2A-4f93-8F1C-A03FE451598B";
inline constexpr char16_t kFavorIconStorageId[] = u"8A6E3C07-7F41-4123-89AE-4A777F0E4BCC";
inline constexpr char16_t kExtensionStorageId[] = u"7CF27C53-9B5D-4314-BD5A-13CC4C1A1020";
inline constexpr char16_t kUserSelectedInfoStorageId[] = u"99015380-0E48-4f68-940F-7D7884032D55";
inline constexpr char16_t kAutoFillStorageId[] = u"4D06D287-87DD-4147-8C88-8E51D1832572";
inline constexpr char16_t kAutoLoginStorageId[] = u"78366C3F-192C-4364-8709-4E03C7E58DCA";

// The kinds of storage (CreateTempStorage's `type`). 4 is not a type.
enum StorageType : int {
  kStorageTypeKeyValue = 1,
  kStorageTypeKeyValueEx = 2,
  kStorageTypeBookmarkTree = 3,
  kStorageTypeExtension = 5,
  kStorageTypeIcon = 6,
};

// Where a service keeps its files (Initialize's `kind`), below the application-data root
// $XDG_CONFIG_HOME/orvex/browser/ for kinds 1 and 2.
enum DataLocationKind : int {
  kDataLocationSysData = 1,    // <root>SysData/, the same for every user
  kDataLocationUserData = 2,   // <root>UserData/<user folder>/ (any kind not listed here too)
  kDataLocationNone = 3,       // no folder: file names are used as they stand
  kDataLocationModuleDir = 4,  // the folder of the process's executable, no separator after it
};

// How the user folder is named (Initialize's `style`, for kind 2): the user name as lower-case
// hexadecimal of its UTF-16LE bytes ("abc" -> "610062006300"), alone with style 2, after the
// constant "0A73B7929C9546628F097CEEACA6E079" with any other style.
enum UserFolderStyle : int {
  kUserFolderStylePrefixed = 1,
  kUserFolderStylePlain = 2,
};

}  // namespace Storage

inline constexpr CLSID CLSID_CStorageService =
    platform::MakeGuid("03A4959A-4358-4aee-97BF-872E253EE6BF");
inline constexpr CLSID CLSID_CStorageServiceFactory =
    platform::MakeGuid("0A986E84-F696-42aa-80B5-DB50D4F84485");
inline constexpr CLSID CLSID_CCoStorageConfig =
    platform::MakeGuid("630D2AD6-C369-4b28-85DA-301CFBD0547F");

// Overrides for one storage request, passed to GetStorage. Both strings are null until set.
struct IStorageConfig : public IUnknown {
  // Slot 3. A new copy of the file name (null when none) in *file_name, S_OK; E_INVALIDARG
  // when `file_name` is null. Throws E_OUTOFMEMORY when the copy fails.
  virtual HRESULT STDMETHODCALLTYPE GetFileName(BSTR* file_name) = 0;
  // Slot 4. Stores a copy of `file_name`, relative to the user's data folder; null clears it.
  // S_OK; throws E_OUTOFMEMORY when the copy fails.
  virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR file_name) = 0;
  // Slot 5. As GetFileName, for the name string.
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* name) = 0;
  // Slot 6. As SetFileName, for the name string.
  virtual HRESULT STDMETHODCALLTYPE SetName(LPCWSTR name) = 0;
};
BROWSER_DECLARE_IID(IStorageConfig, "43011CA5-9AE5-497B-8A6E-17D29713661F");
inline constexpr const IID& IID_IStorageConfig = uuidof<IStorageConfig>();

struct IStorageServiceEx : public IUnknown {
  // Slot 3. The storage named `id` (one of Storage::k*StorageId) in *out, with a reference for
  // the caller, S_OK. The first request for an identifier creates the storage; every later one,
  // until UnInitialize, returns the same object and ignores `config`. On the first request a
  // non-empty file name in `config` replaces the registered file name (still relative to the
  // data folder) and a non-empty name string is given to the storage.
  // E_FAIL when the service is not initialised (*out untouched); E_FAIL with *out null for an
  // identifier that is not registered or a storage that cannot be built. With a null `out`:
  // E_POINTER for a storage that exists or can be built, else E_FAIL.
  virtual HRESULT STDMETHODCALLTYPE GetStorage(LPCWSTR id, IStorageConfig* config,
                                               IUnknown** out) = 0;
  // Slot 4. A storage of Storage::StorageType `type` that has no file and is shared with
  // nobody, in *out with the caller's only reference. E_FAIL when the service is not
  // initialised, when `out` is null, and for types that cannot be made this way.
  virtual HRESULT STDMETHODCALLTYPE CreateTempStorage(int type, IUnknown** out) = 0;
  // Slot 5. Initialises the service for a data location (Storage::DataLocationKind), a user
  // folder style (Storage::UserFolderStyle) and a user name (may be null), and creates the
  // data folder when it is missing (a folder that cannot be created is not reported). S_OK;
  // on an initialised service S_OK without any effect. E_FAIL, the service still
  // uninitialised, when memory runs out on the way. Throws E_OUTOFMEMORY when copying the user
  // name fails.
  virtual HRESULT STDMETHODCALLTYPE Initialize(int kind, int style, LPCWSTR user_name) = 0;
  // Slot 6. Detaches every storage handed out (they stay alive as COM objects while held, but
  // answer E_FAIL from then on) and returns the service to uninitialised. Always S_OK.
  virtual HRESULT STDMETHODCALLTYPE UnInitialize() = 0;
};
BROWSER_DECLARE_IID(IStorageServiceEx, "ADB1B665-4EA9-417E-9567-A6A72B29A8AF");
inline constexpr const IID& IID_IStorageServiceEx = uuidof<IStorageServiceEx>();

struct IService : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE InitService() = 0;    // slot 3
  virtual HRESULT STDMETHODCALLTYPE UninitService() = 0;  // slot 4
};
BROWSER_DECLARE_IID(IService, "CDFCC9E3-3374-43DF-BA6E-2DE8B9AA10EB");
inline constexpr const IID& IID_IService = uuidof<IService>();

// Keeps one initialised service per user data location. InitService does nothing (S_OK).
// UninitService uninitialises every service handed out so far, in the order of their keys,
// and forgets them (S_OK). Releasing the factory forgets them without uninitialising them.
struct IStorageServiceFactory : public IService {
  // Slot 5. The service for (kind, style, user name), initialised, in *out with a reference for
  // the caller, S_OK. Callers that name the same location get the same service: kind 1 has one
  // (whatever the user), kind 2 one per user name (compared exactly) and per style (2, or any
  // other), kind 4 one, and every other kind shares one. When no service can be made or
  // initialised, *out is null and the result the failure's code (E_OUTOFMEMORY, E_FAIL).
  // E_POINTER when `out` is null. Throws E_OUTOFMEMORY when copying the user name fails.
  virtual HRESULT STDMETHODCALLTYPE GetStorageService(int kind, int style, LPCWSTR user_name,
                                                      IStorageServiceEx** out) = 0;
};
BROWSER_DECLARE_IID(IStorageServiceFactory, "77E3516B-7C36-4F4B-8501-1A18EF736B10");
inline constexpr const IID& IID_IStorageServiceFactory = uuidof<IStorageServiceFactory>();

// The library's entry points (the only symbols it exports).

// The class object (IClassFactory) of one of the three classes above; CLASS_E_CLASSNOTAVAILABLE
// for any other CLSID, E_POINTER for a null `object`.
BROWSER_STORAGE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
// S_OK when no object of the library is alive and no IClassFactory::LockServer(TRUE) is
// outstanding, so the host may unload it; S_FALSE otherwise.
BROWSER_STORAGE_EXPORT HRESULT DllCanUnloadNow();
// Class registration is not available yet: E_NOTIMPL.
BROWSER_STORAGE_EXPORT HRESULT DllRegisterServer();
BROWSER_STORAGE_EXPORT HRESULT DllUnregisterServer();
// Do nothing and return 0; the three names are one function.
BROWSER_STORAGE_EXPORT INT BrowserStorageInit();
BROWSER_STORAGE_EXPORT INT BrowserStorageMain();
BROWSER_STORAGE_EXPORT INT BrowserStorageUninit();
