// bstorage as a host of libbrowserstorage.so: finding and loading the library, creating the
// storage service, opening a profile folder's storages.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/storage_service.h"

namespace bstorage {

enum class StorageKind { kKeyValue, kKeyValueEx, kBookmark, kIcon, kExtension };

// One storage of a profile as the tool names it: its file name (the registry's, relative to
// the profile folder) and a readable alias.
struct StorageName {
  const char* alias;
  const char* file;
  const char16_t* id;
  StorageKind kind;
};

const std::vector<StorageName>& KnownStorages();
// By alias or file name, ignoring case; null when unknown.
const StorageName* FindStorage(std::string_view name);

std::u16string Wide(std::string_view utf8);
std::string Narrow(const char16_t* text, size_t length);
std::string Narrow(BSTR text);
inline std::string Narrow(const std::u16string& text) { return Narrow(text.data(), text.size()); }
ATL::CComBSTR Bstr(std::string_view utf8);

// The library the tool creates its objects from. Where it comes from, first found wins:
// $BSTORAGE_LIBRARY (a path; nothing else is tried); the registered class (CoCreateInstance,
// the library registered by DllRegisterServer); the tool's own folder; the library folder
// relative to the tool's (../lib in the build tree, the installed layout's relative path); the
// installed library folder. The last three go through DllGetClassObject.
class Library {
 public:
  // Null (with `*error` set) when it cannot be found or lacks its entry points.
  static Library* Load(std::string* error);
  HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** out) const;
  ATL::CComPtr<IStorageServiceEx> CreateService(std::string* error) const;
  const std::string& path() const { return path_; }
  bool registered() const { return registered_; }

 private:
  bool LoadRegistered();
  bool LoadFile(const std::filesystem::path& candidate, std::string* why);

  void* handle_ = nullptr;
  decltype(&::DllGetClassObject) get_class_object_ = nullptr;
  bool registered_ = false;
  std::string path_;
};

// A profile folder opened through one storage service (data location kind 3, each storage's
// file named by an IStorageConfig). Closing uninitialises the service: the final sync.
class Profile {
 public:
  Profile() = default;
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;
  ~Profile() { Close(); }

  bool Open(const std::filesystem::path& folder, std::string* error);
  void Close();
  const std::filesystem::path& folder() const { return folder_; }

  // The storage's IUnknown asked for I; null when it cannot be opened.
  template <class I>
  ATL::CComPtr<I> Get(const StorageName& name) {
    ATL::CComPtr<IUnknown> unknown = GetUnknown(name);
    ATL::CComPtr<I> typed;
    if (unknown) unknown.QueryInterface(typed.Receive());
    return typed;
  }
  ATL::CComPtr<IUnknown> GetUnknown(const StorageName& name);

 private:
  std::filesystem::path folder_;
  ATL::CComPtr<IStorageServiceEx> service_;
};

// A copy of a profile folder in a new temporary folder, removed again on destruction, so that
// opening it through the library (which may import, keep `.bad` copies and write at shutdown)
// leaves the original as it was.
class Snapshot {
 public:
  Snapshot() = default;
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot();
  bool Take(const std::filesystem::path& original, std::string* error);
  const std::filesystem::path& folder() const { return copy_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path copy_;
};

// Whether progress lines go to the terminal (stderr is one).
bool ShowProgress();
void Progress(const std::string& line);
void EndProgress();

}  // namespace bstorage
