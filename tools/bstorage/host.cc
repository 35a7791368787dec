#include "tools/bstorage/host.h"

#include <dlfcn.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <system_error>

#include "browserplatform/combaseapi.h"
#include "browserplatform/guid.h"
#include "browserplatform/stringapiset.h"
#include "browserplatform/winreg.h"

namespace bstorage {
namespace fs = std::filesystem;

const std::vector<StorageName>& KnownStorages() {
  static const std::vector<StorageName> kNames = {
      {"userpref", "userpref_v2", Storage::kUserPrefStorageId, StorageKind::kKeyValue},
      {"browserpref", "browserpref_v2", Storage::kBrowserPrefStorageId, StorageKind::kKeyValue},
      {"bookmark", "bookmark_v2", Storage::kBookmarkStorageId, StorageKind::kBookmark},
      {"favicon", "favoricon_v2", Storage::kFavorIconStorageId, StorageKind::kIcon},
      {"extensions", "localextensions/extdb_v2.json", Storage::kExtensionStorageId,
       StorageKind::kExtension},
      {"userselected", "UserSelectedInfo_v2", Storage::kUserSelectedInfoStorageId,
       StorageKind::kKeyValue},
      {"startupdata", "startupdata", Storage::kStartupDataStorageId, StorageKind::kKeyValue},
      {"autofill", "AutoFill_v2", Storage::kAutoFillStorageId, StorageKind::kKeyValueEx},
      {"autologin", "AutoLogin_v2", Storage::kAutoLoginStorageId, StorageKind::kKeyValueEx},
  };
  return kNames;
}

const StorageName* FindStorage(std::string_view name) {
  auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i]))) {
        return false;
      }
    }
    return true;
  };
  for (const StorageName& storage : KnownStorages()) {
    if (same(name, storage.alias) || same(name, storage.file)) return &storage;
  }
  return nullptr;
}

std::u16string Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

std::string Narrow(const char16_t* text, size_t length) {
  if (text == nullptr || length == 0) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::string Narrow(BSTR text) { return text ? Narrow(text, SysStringLen(text)) : std::string(); }

ATL::CComBSTR Bstr(std::string_view utf8) {
  const std::u16string wide = Wide(utf8);
  return ATL::CComBSTR(wide.data(), static_cast<UINT>(wide.size()));
}

namespace {

fs::path ToolFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}

std::vector<fs::path> LibraryCandidates() {
  constexpr char kName[] = "libbrowserstorage.so";
  std::vector<fs::path> candidates;
  if (const char* explicit_path = std::getenv("BSTORAGE_LIBRARY");
      explicit_path && *explicit_path) {
    candidates.emplace_back(explicit_path);
    return candidates;  // asked for by name: no other
  }
  const fs::path tool = ToolFolder();
  if (!tool.empty()) {
    candidates.push_back(tool / kName);
    candidates.push_back(tool / BSTORAGE_RELATIVE_LIBDIR / kName);
    candidates.push_back(tool / "../lib" / kName);
  }
  candidates.push_back(fs::path(BSTORAGE_INSTALL_LIBDIR) / kName);
  return candidates;
}

}  // namespace

bool Library::LoadFile(const fs::path& candidate, std::string* why) {
  std::error_code ignored;
  if (!fs::exists(candidate, ignored)) {
    *why = "not found";
    return false;
  }
  void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    *why = text ? text : "not loadable";
    return false;
  }
  auto entry =
      reinterpret_cast<decltype(&::DllGetClassObject)>(::dlsym(handle, "DllGetClassObject"));
  if (entry == nullptr) {
    *why = "no DllGetClassObject";
    ::dlclose(handle);
    return false;
  }
  handle_ = handle;
  get_class_object_ = entry;
  path_ = fs::weakly_canonical(candidate, ignored).string();
  return true;
}

bool Library::LoadRegistered() {
  // No apartments exist; the tool's only COM thread is its main thread.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  ATL::CComPtr<IStorageConfig> probe;
  if (FAILED(CoCreateInstance(CLSID_CCoStorageConfig, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IStorageConfig, probe.ReceiveVoid()))) {
    return false;
  }
  registered_ = true;
  path_ = "(registered class)";
  char16_t clsid[40] = {};
  StringFromGUID2(CLSID_CStorageService, clsid, 40);
  const std::u16string key = u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32";
  HKEY server = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server) == ERROR_SUCCESS) {
    char16_t file[1024] = {};
    DWORD size = sizeof(file) - sizeof(char16_t);
    if (RegQueryValueExW(server, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(file), &size) ==
        ERROR_SUCCESS) {
      path_ = Narrow(file, std::char_traits<char16_t>::length(file)) + " (registered class)";
    }
    RegCloseKey(server);
  }
  return true;
}

Library* Library::Load(std::string* error) {
  static Library library;
  if (library.handle_ != nullptr || library.registered_) return &library;
  const char* explicit_path = std::getenv("BSTORAGE_LIBRARY");
  const bool named = explicit_path != nullptr && *explicit_path != '\0';
  if (!named && library.LoadRegistered()) return &library;
  std::string tried;
  for (const fs::path& candidate : LibraryCandidates()) {
    std::string why;
    if (library.LoadFile(candidate, &why)) return &library;
    tried += "\n  " + candidate.string() + ": " + why;
  }
  *error = "libbrowserstorage.so not found (set BSTORAGE_LIBRARY):" + tried;
  return nullptr;
}

HRESULT Library::CreateInstance(REFCLSID clsid, REFIID iid, void** out) const {
  if (registered_) return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
  ATL::CComPtr<IClassFactory> factory;
  const HRESULT hr = get_class_object_(clsid, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, out);
}

ATL::CComPtr<IStorageServiceEx> Library::CreateService(std::string* error) const {
  ATL::CComPtr<IStorageServiceEx> service;
  const HRESULT hr =
      CreateInstance(CLSID_CStorageService, IID_IStorageServiceEx, service.ReceiveVoid());
  if (FAILED(hr)) {
    char text[64];
    std::snprintf(text, sizeof(text), "storage service not created (0x%08X)",
                  static_cast<unsigned>(hr));
    *error = text;
  }
  return service;
}

bool Profile::Open(const fs::path& folder, std::string* error) {
  Library* library = Library::Load(error);
  if (library == nullptr) return false;
  service_ = library->CreateService(error);
  if (!service_) return false;
  // Kind 3: no data folder of the library's own; every file name below is a full path.
  const HRESULT hr = service_->Initialize(Storage::kDataLocationNone, 0, nullptr);
  if (FAILED(hr)) {
    *error = "storage service not initialised";
    service_.Release();
    return false;
  }
  folder_ = folder;
  return true;
}

ATL::CComPtr<IUnknown> Profile::GetUnknown(const StorageName& name) {
  ATL::CComPtr<IUnknown> unknown;
  if (!service_) return unknown;
  std::string error;
  Library* library = Library::Load(&error);
  ATL::CComPtr<IStorageConfig> config;
  if (library == nullptr ||
      FAILED(library->CreateInstance(CLSID_CCoStorageConfig, IID_IStorageConfig,
                                     config.ReceiveVoid()))) {
    return unknown;
  }
  const std::u16string path = (folder_ / name.file).u16string();
  config->SetFileName(path.c_str());
  service_->GetStorage(name.id, config, unknown.Receive());
  return unknown;
}

void Profile::Close() {
  if (service_) {
    service_->UnInitialize();
    service_.Release();
  }
}

Snapshot::~Snapshot() {
  if (!root_.empty()) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
}

bool Snapshot::Take(const fs::path& original, std::string* error) {
  std::error_code code;
  if (!fs::is_directory(original, code)) {
    *error = original.string() + ": not a folder";
    return false;
  }
  std::random_device random;
  const fs::path temp = fs::temp_directory_path(code);
  if (code) {
    *error = "no temporary folder: " + code.message();
    return false;
  }
  for (int attempt = 0; attempt < 16 && root_.empty(); ++attempt) {
    fs::path candidate = temp / ("bstorage-" + std::to_string(random()));
    if (fs::create_directory(candidate, code)) root_ = candidate;
  }
  if (root_.empty()) {
    *error = "no temporary folder could be made in " + temp.string();
    return false;
  }
  copy_ = root_ / "profile";
  fs::copy(original, copy_, fs::copy_options::recursive, code);
  if (code) {
    *error = "copy of " + original.string() + " failed: " + code.message();
    return false;
  }
  return true;
}

bool ShowProgress() {
  static const bool terminal = [] {
    std::error_code error;
    const std::string target = fs::read_symlink("/proc/self/fd/2", error).string();
    return !error && (target.starts_with("/dev/pts/") || target.starts_with("/dev/tty"));
  }();
  return terminal;
}

void Progress(const std::string& line) {
  if (ShowProgress()) std::cerr << "\r\033[K" << line << std::flush;
}

void EndProgress() {
  if (ShowProgress()) std::cerr << "\r\033[K" << std::flush;
}

}  // namespace bstorage
