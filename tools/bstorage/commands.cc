#include "tools/bstorage/commands.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "browserplatform/atlbase.h"
#include "browserplatform/combaseapi.h"
#include "browserstorage/bookmark_storage.h"
#include "browserstorage/extension_storage.h"
#include "browserstorage/icon_storage.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "tools/bstorage/bookmark_html.h"
#include "tools/bstorage/host.h"
#include "tools/bstorage/icon_file.h"

namespace bstorage {
namespace fs = std::filesystem;
namespace {

// The kind the tool gives folders; bookmarks with an address have kBookmarkKindUrl.
constexpr LONGLONG kFolderKind = 2;

struct Args {
  std::vector<std::string> positional;
  std::vector<std::string> flags;
  std::map<std::string, std::string> options;  // --into FOLDER
  bool Has(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
  }
};

// Splits `raw` into positional arguments and the flags in `known_flags`; options in
// `known_options` take the next argument. False for anything else that starts with "--".
bool Parse(const std::vector<std::string>& raw, const std::vector<std::string>& known_flags,
           const std::vector<std::string>& known_options, Args* out) {
  for (size_t i = 0; i < raw.size(); ++i) {
    const std::string& arg = raw[i];
    if (arg.size() > 2 && arg.starts_with("--")) {
      if (std::find(known_flags.begin(), known_flags.end(), arg) != known_flags.end()) {
        out->flags.push_back(arg);
      } else if (std::find(known_options.begin(), known_options.end(), arg) !=
                     known_options.end() &&
                 i + 1 < raw.size()) {
        out->options[arg] = raw[++i];
      } else {
        return false;
      }
    } else {
      out->positional.push_back(arg);
    }
  }
  return true;
}

int Usage(const char* help, const std::string& problem) {
  std::cerr << "bstorage: " << problem << "\n" << help;
  return kExitUsage;
}

int Fail(const std::string& problem) {
  std::cerr << "bstorage: " << problem << "\n";
  return kExitProblems;
}

template <class I>
ATL::CComPtr<I> NewObject() {
  ATL::CComPtr<I> object;
  Util::Com::CreateObjectByIID(uuidof<I>(), object.ReceiveVoid());
  return object;
}

std::string Hex(const BYTE* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

bool FromHex(std::string_view text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

bool IsUtf8Text(const BYTE* data, size_t size) {
  if (size == 0) return true;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Wide(bytes);
  if (wide.find(u'\uFFFD') != std::u16string::npos) return false;
  return std::all_of(wide.begin(), wide.end(),
                     [](char16_t c) { return c >= 0x20 || c == '\n' || c == '\t'; });
}

// UTF-16LE text of printable characters; the text in UTF-8.
bool Utf16Text(const BYTE* data, size_t size, std::string* text) {
  if (size == 0 || size % 2 != 0) return false;
  std::u16string wide(size / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (wide[i] < 0x20 && wide[i] != '\n' && wide[i] != '\t') return false;
  }
  *text = Narrow(wide);
  return Wide(*text) == wide;  // unpaired surrogates do not come back
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  return out + "\"";
}

std::string ReadFile(const fs::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *ok = static_cast<bool>(in) || in.eof();
  return bytes.str();
}

bool WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string SizeText(uintmax_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(text, sizeof(text), "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024) {
    std::snprintf(text, sizeof(text), "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof(text), "%ju B", bytes);
  }
  return text;
}

// ------------------------------------------------------------------------------------------
// Reading storages

struct KeyValueEntry {
  std::string key;
  std::string bytes;
};

std::vector<KeyValueEntry> ReadKeyValues(IKeyValueStorage* storage) {
  std::vector<KeyValueEntry> entries;
  ATL::CComPtr<IObjectList> keys = NewObject<IObjectList>();
  if (!keys || FAILED(storage->GetAllKeys(keys))) return entries;
  UINT count = 0;
  keys->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR key;
    if (FAILED(keys->GetStringAt(i, key.Receive()))) continue;
    ATL::CComPtr<IValueObject> value = NewObject<IValueObject>();
    if (!value || FAILED(storage->GetValue(key, value))) continue;
    const BYTE* data = nullptr;
    ULONG size = 0;
    value->GetBuffer(&data);
    value->GetSize(&size);
    entries.push_back({Narrow(key), std::string(reinterpret_cast<const char*>(data), size)});
  }
  return entries;
}

ATL::CComPtr<ITextValue> NewText(std::string_view utf8 = {}) {
  ATL::CComPtr<ITextValue> text;
  Util::Com::CreateObjectByInterface(kTextValueInterfaceName, text.ReceiveVoid());
  if (text && !utf8.empty()) text->SetString(Bstr(utf8));
  return text;
}

// The records of a key-value-ex storage, decrypted by the library: key and text.
std::vector<KeyValueEntry> ReadTextValues(IKeyValueStorageEx* storage) {
  std::vector<KeyValueEntry> entries;
  ATL::CComPtr<IObjectList> keys;
  if (FAILED(storage->GetAllKeys(keys.Receive())) || !keys) return entries;
  UINT count = 0;
  keys->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR key;
    if (FAILED(keys->GetStringAt(i, key.Receive()))) continue;
    ATL::CComPtr<ITextValue> value = NewText();
    ATL::CComBSTR text;
    if (!value || FAILED(storage->GetValue(key, value)) ||
        FAILED(value->GetString(text.Receive()))) {
      continue;
    }
    entries.push_back({Narrow(key), Narrow(text)});
  }
  return entries;
}

// The bookmark tree in document order, each entry naming its parent's index.
struct TreeEntry {
  int parent = -1;
  int depth = 0;
  std::string id, title, url;
  LONGLONG kind = 0, time_added = 0, last_access = 0;
  LONG access_count = 0;
};

std::vector<TreeEntry> ReadTree(IBookmarkTreeModelStorage* storage) {
  std::vector<TreeEntry> entries;
  ATL::CComPtr<IObjectList> root;
  if (FAILED(storage->GetRoot(root.Receive())) || !root) return entries;
  struct Level {
    ATL::CComPtr<IObjectList> list;
    UINT next;
    int parent;
  };
  std::vector<Level> stack;
  stack.push_back({root, 0, -1});
  while (!stack.empty()) {
    Level& level = stack.back();
    UINT count = 0;
    level.list->Count(&count);
    if (level.next >= count) {
      stack.pop_back();
      continue;
    }
    ATL::CComPtr<ITreeNode> node;
    level.list->GetAt(level.next++, IID_ITreeNode, node.ReceiveVoid());
    if (!node) continue;
    ATL::CComPtr<IBookmarkItem> item;
    node->GetItem(item.Receive());
    TreeEntry entry;
    entry.parent = level.parent;
    entry.depth = static_cast<int>(stack.size()) - 1;
    if (item) {
      ATL::CComBSTR id, title, url;
      item->GetId(id.Receive());
      item->GetTitle(title.Receive());
      item->GetUrl(url.Receive());
      item->GetKind(&entry.kind);
      item->GetTimeAdded(&entry.time_added);
      item->GetLastAccessTime(&entry.last_access);
      item->GetAccessCount(&entry.access_count);
      entry.id = Narrow(id);
      entry.title = Narrow(title);
      entry.url = Narrow(url);
    }
    const int index = static_cast<int>(entries.size());
    entries.push_back(std::move(entry));
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    if (children) stack.push_back({children, 0, index});
  }
  return entries;
}

struct ExtensionRow {
  std::string id, path, manifest;
  INT type = 0, state = 0;
};

std::vector<ExtensionRow> ReadExtensions(IExtensionStorage* storage, bool updates) {
  std::vector<ExtensionRow> rows;
  ATL::CComPtr<IObjectList> list;
  const HRESULT hr = updates ? storage->GetUpdateList(list.Receive())
                             : storage->GetExtensionList(0, 0, list.Receive());
  if (FAILED(hr) || !list) return rows;
  UINT count = 0;
  list->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<IExtensionRecord> record;
    if (FAILED(list->GetAt(i, IID_IExtensionRecord, record.ReceiveVoid())) || !record) continue;
    ATL::CComBSTR id, path, manifest;
    ExtensionRow row;
    record->GetExtensionId(id.Receive());
    record->GetPath(path.Receive());
    record->GetManifest(manifest.Receive());
    record->GetType(&row.type);
    record->GetState(&row.state);
    row.id = Narrow(id);
    row.path = Narrow(path);
    row.manifest = Narrow(manifest);
    rows.push_back(std::move(row));
  }
  return rows;
}

IconFile ReadIcons(const fs::path& folder) {
  bool ok = false;
  const std::string bytes = ReadFile(folder / "favoricon_v2", &ok);
  if (!ok) return IconFile{};
  return ReadIconFile(bytes);
}

// Opens `dir` read-only: a snapshot copy opened through the library.
struct ReadOnlyProfile {
  Snapshot snapshot;
  Profile profile;
  bool Open(const std::string& dir, std::string* error) {
    return snapshot.Take(dir, error) && profile.Open(snapshot.folder(), error);
  }
};

const StorageName* StorageArg(const std::string& name, const char* help, int* exit_code) {
  const StorageName* storage = FindStorage(name);
  if (storage == nullptr) *exit_code = Usage(help, "unknown storage '" + name + "'");
  return storage;
}

// ------------------------------------------------------------------------------------------
// dump

constexpr char kDumpHelp[] =
    "usage: bstorage dump DIR STORAGE [--json]\n"
    "Prints a storage's contents: key-value entries as hex and, when they are UTF-8 or\n"
    "UTF-16LE text, as text; the bookmark tree; icon keys, sizes and times; extensions.\n"
    "The profile is read from a temporary copy and never changed.\n";

void DumpKeyValues(IKeyValueStorage* storage, bool json) {
  const std::vector<KeyValueEntry> entries = ReadKeyValues(storage);
  if (json) std::cout << "{\"entries\":[";
  bool first = true;
  for (const KeyValueEntry& entry : entries) {
    const auto* data = reinterpret_cast<const BYTE*>(entry.bytes.data());
    std::string text;
    bool is_text = false;
    if (IsUtf8Text(data, entry.bytes.size())) {
      text = entry.bytes;
      is_text = true;
    } else if (Utf16Text(data, entry.bytes.size(), &text)) {
      is_text = true;
    }
    if (json) {
      std::cout << (first ? "" : ",") << "{\"key\":" << JsonString(entry.key)
                << ",\"hex\":" << JsonString(Hex(data, entry.bytes.size()));
      if (is_text) std::cout << ",\"text\":" << JsonString(text);
      std::cout << "}";
    } else {
      std::cout << entry.key << " = " << Hex(data, entry.bytes.size());
      if (is_text) std::cout << "  \"" << text << "\"";
      std::cout << "\n";
    }
    first = false;
  }
  if (json) std::cout << "]}\n";
}

void DumpTextValues(IKeyValueStorageEx* storage, bool json) {
  const std::vector<KeyValueEntry> entries = ReadTextValues(storage);
  if (json) std::cout << "{\"entries\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (json) {
      std::cout << (i ? "," : "") << "{\"key\":" << JsonString(entries[i].key)
                << ",\"text\":" << JsonString(entries[i].bytes) << "}";
    } else {
      std::cout << entries[i].key << " = \"" << entries[i].bytes << "\"\n";
    }
  }
  if (json) std::cout << "]}\n";
}

void DumpTree(IBookmarkTreeModelStorage* storage, bool json) {
  const std::vector<TreeEntry> entries = ReadTree(storage);
  if (!json) {
    for (const TreeEntry& entry : entries) {
      std::cout << std::string(2 * std::min(entry.depth, 40), ' ');
      if (entry.kind == kBookmarkKindUrl) {
        std::cout << entry.title << " <" << entry.url << ">\n";
      } else {
        std::cout << "[" << entry.title << "]\n";
      }
    }
    return;
  }
  // A flat list with parent indexes: deep trees need no nesting in the output either.
  std::cout << "{\"bookmarks\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const TreeEntry& e = entries[i];
    std::cout << (i ? "," : "") << "{\"id\":" << JsonString(e.id) << ",\"parent\":" << e.parent
              << ",\"kind\":" << e.kind << ",\"title\":" << JsonString(e.title)
              << ",\"url\":" << JsonString(e.url) << ",\"time_added\":" << e.time_added
              << ",\"last_access\":" << e.last_access << ",\"access_count\":" << e.access_count
              << "}";
  }
  std::cout << "]}\n";
}

void DumpIcons(const IconFile& icons, bool json) {
  if (json) std::cout << "{\"icons\":[";
  for (size_t i = 0; i < icons.records.size(); ++i) {
    const IconRecord& r = icons.records[i];
    if (json) {
      std::cout << (i ? "," : "") << "{\"key\":" << JsonString(r.key)
                << ",\"first_text\":" << JsonString(r.first_text) << ",\"bytes\":" << r.data_length
                << ",\"time\":" << r.time << "}";
    } else {
      std::cout << r.key << "  " << r.data_length << " bytes  time " << r.time << "\n";
    }
  }
  if (json) std::cout << "]}\n";
}

void DumpExtensions(IExtensionStorage* storage, bool json) {
  const char* lists[] = {"installed", "updates"};
  if (json) std::cout << "{";
  for (int l = 0; l < 2; ++l) {
    const std::vector<ExtensionRow> rows = ReadExtensions(storage, l == 1);
    if (json) {
      std::cout << (l ? "," : "") << JsonString(lists[l]) << ":[";
    } else {
      std::cout << lists[l] << ":\n";
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      const ExtensionRow& r = rows[i];
      if (json) {
        std::cout << (i ? "," : "") << "{\"id\":" << JsonString(r.id) << ",\"type\":" << r.type
                  << ",\"state\":" << r.state << ",\"path\":" << JsonString(r.path)
                  << ",\"manifest\":" << JsonString(r.manifest) << "}";
      } else {
        std::cout << "  " << r.id << "  type " << r.type << "  state " << r.state << "  " << r.path
                  << "\n    " << r.manifest << "\n";
      }
    }
    if (json) std::cout << "]";
  }
  if (json) std::cout << "}\n";
}

int RunDump(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {"--json"}, {}, &args) || args.positional.size() != 2) {
    return Usage(kDumpHelp, "dump needs DIR and STORAGE");
  }
  int exit_code = kExitOk;
  const StorageName* name = StorageArg(args.positional[1], kDumpHelp, &exit_code);
  if (name == nullptr) return exit_code;
  const bool json = args.Has("--json");
  ReadOnlyProfile ro;
  std::string error;
  if (!ro.Open(args.positional[0], &error)) return Fail(error);
  switch (name->kind) {
    case StorageKind::kKeyValue:
      if (auto storage = ro.profile.Get<IKeyValueStorage>(*name)) {
        DumpKeyValues(storage, json);
        return kExitOk;
      }
      break;
    case StorageKind::kBookmark:
      if (auto storage = ro.profile.Get<IBookmarkTreeModelStorage>(*name)) {
        DumpTree(storage, json);
        return kExitOk;
      }
      break;
    case StorageKind::kIcon: {
      const IconFile icons = ReadIcons(ro.snapshot.folder());
      DumpIcons(icons, json);
      return icons.problem.empty() ? kExitOk : Fail("favoricon_v2: " + icons.problem);
    }
    case StorageKind::kExtension:
      if (auto storage = ro.profile.Get<IExtensionStorage>(*name)) {
        DumpExtensions(storage, json);
        return kExitOk;
      }
      break;
    case StorageKind::kKeyValueEx:
      if (auto storage = ro.profile.Get<IKeyValueStorageEx>(*name)) {
        DumpTextValues(storage, json);
        return kExitOk;
      }
      break;
  }
  return Fail(std::string(name->alias) + ": storage not opened");
}

// ------------------------------------------------------------------------------------------
// get / set / rm

constexpr char kGetHelp[] =
    "usage: bstorage get DIR STORAGE KEY [--hex]\n"
    "Prints the value of KEY: in a key-value storage (userpref, browserpref, userselected,\n"
    "startupdata) as text when it is UTF-8, else (or with --hex) as hex; in a key-value-ex\n"
    "storage (autofill, autologin) its text, decrypted. Exit 1 when KEY is absent.\n";
constexpr char kSetHelp[] =
    "usage: bstorage set DIR STORAGE KEY VALUE [--hex]\n"
    "Stores VALUE under KEY through the library: its UTF-8 bytes (with --hex, the bytes it\n"
    "spells in hex) in a key-value storage, its text in a key-value-ex storage (encrypted in\n"
    "the file). The file is written when the tool exits.\n";
constexpr char kRmHelp[] =
    "usage: bstorage rm DIR STORAGE KEY\n"
    "Removes KEY from a key-value or key-value-ex storage. Exit 1 when it is absent.\n";

int GetValue(Profile& profile, const StorageName& name, const std::string& key, bool hex) {
  if (name.kind == StorageKind::kKeyValueEx) {
    auto storage = profile.Get<IKeyValueStorageEx>(name);
    if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
    ATL::CComPtr<ITextValue> value = NewText();
    ATL::CComBSTR text;
    if (!value || FAILED(storage->GetValue(Bstr(key), value)) ||
        FAILED(value->GetString(text.Receive()))) {
      return Fail("no key '" + key + "'");
    }
    std::cout << Narrow(text) << "\n";
    return kExitOk;
  }
  auto storage = profile.Get<IKeyValueStorage>(name);
  if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
  ATL::CComPtr<IValueObject> value = NewObject<IValueObject>();
  if (!value || FAILED(storage->GetValue(Bstr(key), value))) return Fail("no key '" + key + "'");
  const BYTE* data = nullptr;
  ULONG size = 0;
  value->GetBuffer(&data);
  value->GetSize(&size);
  if (!hex && IsUtf8Text(data, size)) {
    std::cout << std::string(reinterpret_cast<const char*>(data), size) << "\n";
  } else {
    std::cout << Hex(data, size) << "\n";
  }
  return kExitOk;
}

int SetValue(Profile& profile, const StorageName& name, const std::string& key,
             const std::string& bytes) {
  if (name.kind == StorageKind::kKeyValueEx) {
    auto storage = profile.Get<IKeyValueStorageEx>(name);
    if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
    ATL::CComPtr<ITextValue> value = NewText(bytes);
    if (!value || FAILED(storage->SetValue(Bstr(key), value))) return Fail("value not stored");
    return kExitOk;
  }
  auto storage = profile.Get<IKeyValueStorage>(name);
  if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
  ATL::CComPtr<IValueObject> value = NewObject<IValueObject>();
  if (!value || FAILED(value->SetBuffer(reinterpret_cast<const BYTE*>(bytes.data()),
                                        static_cast<ULONG>(bytes.size())))) {
    return Fail("out of memory");
  }
  return FAILED(storage->SetValue(Bstr(key), value)) ? Fail("value not stored") : kExitOk;
}

int RemoveValue(Profile& profile, const StorageName& name, const std::string& key) {
  HRESULT hr = E_FAIL;
  if (name.kind == StorageKind::kKeyValueEx) {
    auto storage = profile.Get<IKeyValueStorageEx>(name);
    if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
    hr = storage->RemoveValue(Bstr(key));
  } else {
    auto storage = profile.Get<IKeyValueStorage>(name);
    if (!storage) return Fail(std::string(name.alias) + ": storage not opened");
    hr = storage->RemoveValue(Bstr(key));
  }
  return FAILED(hr) ? Fail("no key '" + key + "'") : kExitOk;
}

int RunKeyValue(const std::vector<std::string>& raw, const char* help, const std::string& verb) {
  Args args;
  const size_t positional = verb == "set" ? 4 : 3;
  const std::vector<std::string> flags =
      verb == "rm" ? std::vector<std::string>{} : std::vector<std::string>{"--hex"};
  if (!Parse(raw, flags, {}, &args) || args.positional.size() != positional) {
    return Usage(help, verb + ": wrong arguments");
  }
  int exit_code = kExitOk;
  const StorageName* name = StorageArg(args.positional[1], help, &exit_code);
  if (name == nullptr) return exit_code;
  if (name->kind != StorageKind::kKeyValue && name->kind != StorageKind::kKeyValueEx) {
    return Usage(help, std::string(name->alias) + " is not a key-value storage");
  }
  if (name->kind == StorageKind::kKeyValueEx && args.Has("--hex")) {
    return Usage(help, "--hex is for key-value storages; key-value-ex values are text");
  }
  const std::string& key = args.positional[2];
  if (key.empty()) return Usage(help, "empty key");
  std::string bytes;
  if (verb == "set") {
    if (!args.Has("--hex")) {
      bytes = args.positional[3];
    } else if (!FromHex(args.positional[3], &bytes)) {
      return Usage(help, "VALUE is not hex");
    }
  }
  std::string error;
  if (verb == "get") {
    ReadOnlyProfile ro;
    if (!ro.Open(args.positional[0], &error)) return Fail(error);
    return GetValue(ro.profile, *name, key, args.Has("--hex"));
  }
  std::error_code code;
  if (!fs::is_directory(args.positional[0], code)) {
    return Fail(args.positional[0] + ": not a folder");
  }
  // The profile's destructor uninitialises the service: the final sync writes the file.
  Profile profile;
  if (!profile.Open(args.positional[0], &error)) return Fail(error);
  return verb == "set" ? SetValue(profile, *name, key, bytes) : RemoveValue(profile, *name, key);
}

int RunGet(const std::vector<std::string>& raw) { return RunKeyValue(raw, kGetHelp, "get"); }
int RunSet(const std::vector<std::string>& raw) { return RunKeyValue(raw, kSetHelp, "set"); }
int RunRm(const std::vector<std::string>& raw) { return RunKeyValue(raw, kRmHelp, "rm"); }

// ------------------------------------------------------------------------------------------
// bookmarks

constexpr char kBookmarksHelp[] =
    "usage: bstorage bookmarks DIR search TEXT\n"
    "       bstorage bookmarks DIR tree\n"
    "       bstorage bookmarks DIR export FILE.html\n"
    "       bstorage bookmarks DIR import FILE.html [--into FOLDER]\n"
    "search: bookmarks whose address starts with TEXT, as the address bar completes it, then\n"
    "those whose title contains TEXT. export writes the Netscape bookmark HTML file every\n"
    "browser reads; import adds such a file's folders and bookmarks (under the top-level\n"
    "folder FOLDER, made when missing), through the library.\n";

void PrintItems(const std::string& heading, IObjectList* items, const std::string& indent = "  ") {
  UINT count = 0;
  if (items) items->Count(&count);
  std::cout << heading << " (" << count << "):\n";
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<IBookmarkItem> item;
    items->GetAt(i, IID_IBookmarkItem, item.ReceiveVoid());
    if (!item) continue;
    ATL::CComBSTR title, url;
    item->GetTitle(title.Receive());
    item->GetUrl(url.Receive());
    std::cout << indent << Narrow(title) << " <" << Narrow(url) << ">\n";
  }
}

std::vector<HtmlEntry> ToHtml(const std::vector<TreeEntry>& tree) {
  std::vector<HtmlEntry> html;
  html.reserve(tree.size());
  for (const TreeEntry& e : tree) {
    HtmlEntry entry;
    entry.parent = e.parent;
    entry.folder = e.kind != kBookmarkKindUrl;
    entry.title = e.title;
    entry.url = e.url;
    entry.add_date = e.time_added;
    entry.last_modified = entry.folder ? e.last_access : 0;
    html.push_back(std::move(entry));
  }
  return html;
}

// A fresh identifier: a prefix of this run and a counter, skipping any the tree holds.
class IdMaker {
 public:
  explicit IdMaker(IBookmarkTreeModelStorage* storage) : storage_(storage) {
    prefix_ = "html-" +
              std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count()) +
              "-";
  }
  ATL::CComBSTR Next() {
    for (;;) {
      ATL::CComBSTR id = Bstr(prefix_ + std::to_string(++counter_));
      ATL::CComPtr<IBookmarkItem> existing;
      if (FAILED(storage_->GetItem(id, existing.Receive()))) return id;
    }
  }

 private:
  IBookmarkTreeModelStorage* storage_;
  std::string prefix_;
  uint64_t counter_ = 0;
};

// Adds `entries` under `parent_id` (empty: the top level). The number added.
size_t AddEntries(IBookmarkTreeModelStorage* storage, const std::vector<HtmlEntry>& entries,
                  const ATL::CComBSTR& parent_id, std::string* error) {
  IdMaker ids(storage);
  std::vector<ATL::CComBSTR> made(entries.size());
  size_t added = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const HtmlEntry& e = entries[i];
    ATL::CComPtr<IBookmarkItem> item = NewObject<IBookmarkItem>();
    if (!item) {
      *error = "out of memory";
      break;
    }
    made[i] = ids.Next();
    item->SetId(made[i]);
    item->SetTitle(Bstr(e.title));
    item->SetKind(e.folder ? kFolderKind : kBookmarkKindUrl);
    if (!e.folder) item->SetUrl(Bstr(e.url));
    item->SetTimeAdded(e.add_date);
    if (e.folder) item->SetLastAccessTime(e.last_modified);
    const bool nested =
        e.parent >= 0 && static_cast<size_t>(e.parent) < i && made[e.parent].Length() > 0;
    const BSTR parent = nested ? made[e.parent].get() : parent_id.get();
    if (FAILED(storage->Add(item, parent, -1))) {
      // Too deep, or a parent that was not added: the entry is skipped, not the import.
      made[i] = ATL::CComBSTR();
      continue;
    }
    ++added;
    if (added % 500 == 0) {
      Progress("imported " + std::to_string(added) + " of " + std::to_string(entries.size()));
    }
  }
  EndProgress();
  return added;
}

// The identifier of the top-level folder titled `title`, made when missing.
ATL::CComBSTR TopFolder(IBookmarkTreeModelStorage* storage, const std::string& title) {
  for (const TreeEntry& e : ReadTree(storage)) {
    if (e.parent == -1 && e.kind != kBookmarkKindUrl && e.title == title) return Bstr(e.id);
  }
  IdMaker ids(storage);
  ATL::CComPtr<IBookmarkItem> folder = NewObject<IBookmarkItem>();
  ATL::CComBSTR id = ids.Next();
  folder->SetId(id);
  folder->SetTitle(Bstr(title));
  folder->SetKind(kFolderKind);
  folder->SetTimeAdded(std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count());
  if (FAILED(storage->Add(folder, ATL::CComBSTR(u""), -1))) return ATL::CComBSTR();
  return id;
}

int RunBookmarks(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {}, {"--into"}, &args) || args.positional.size() < 2) {
    return Usage(kBookmarksHelp, "bookmarks needs DIR and an action");
  }
  const std::string& dir = args.positional[0];
  const std::string& action = args.positional[1];
  const StorageName& name = *FindStorage("bookmark");
  std::string error;
  if (action == "import") {
    if (args.positional.size() != 3) return Usage(kBookmarksHelp, "import needs FILE.html");
    bool ok = false;
    const std::string html = ReadFile(args.positional[2], &ok);
    if (!ok) return Fail(args.positional[2] + ": not readable");
    std::error_code code;
    if (!fs::is_directory(dir, code)) return Fail(dir + ": not a folder");
    const std::vector<HtmlEntry> entries = ReadBookmarkHtml(html);
    Profile profile;
    if (!profile.Open(dir, &error)) return Fail(error);
    auto storage = profile.Get<IBookmarkTreeModelStorage>(name);
    if (!storage) return Fail("bookmark: storage not opened");
    ATL::CComBSTR parent(u"");
    if (auto into = args.options.find("--into"); into != args.options.end()) {
      parent = TopFolder(storage, into->second);
      if (parent.Length() == 0) return Fail("folder '" + into->second + "' not made");
    }
    const size_t added = AddEntries(storage, entries, parent, &error);
    std::cout << "imported " << added << " of " << entries.size() << " entries\n";
    return added == entries.size() ? kExitOk : Fail(error.empty() ? "some entries skipped" : error);
  }
  ReadOnlyProfile ro;
  if (!ro.Open(dir, &error)) return Fail(error);
  auto storage = ro.profile.Get<IBookmarkTreeModelStorage>(name);
  if (!storage) return Fail("bookmark: storage not opened");
  if (action == "tree" && args.positional.size() == 2) {
    DumpTree(storage, false);
    return kExitOk;
  }
  if (action == "export" && args.positional.size() == 3) {
    const std::string html = WriteBookmarkHtml(ToHtml(ReadTree(storage)));
    if (!WriteFile(args.positional[2], html)) return Fail(args.positional[2] + ": not written");
    return kExitOk;
  }
  if (action == "search" && args.positional.size() == 3) {
    const ATL::CComBSTR text = Bstr(args.positional[2]);
    if (text.Length() == 0) return Usage(kBookmarksHelp, "empty search text");
    ATL::CComPtr<IObjectList> by_prefix, by_title;
    storage->SearchByURLPrefix(text, 20, by_prefix.Receive());
    storage->SearchByName(text, 20, by_title.Receive());
    PrintItems("address starts with", by_prefix);
    PrintItems("title contains", by_title);
    return kExitOk;
  }
  return Usage(kBookmarksHelp, "unknown or incomplete action '" + action + "'");
}

// ------------------------------------------------------------------------------------------
// icons

constexpr char kIconsHelp[] =
    "usage: bstorage icons DIR list [--json]\n"
    "       bstorage icons DIR extract KEY FILE\n"
    "list: every icon in favoricon_v2 with its size and time (read from the file).\n"
    "extract: writes the image bytes of the icon stored under KEY to FILE.\n";

int RunIcons(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {"--json"}, {}, &args) || args.positional.size() < 2) {
    return Usage(kIconsHelp, "icons needs DIR and an action");
  }
  const std::string& action = args.positional[1];
  if (action == "list" && args.positional.size() == 2) {
    std::error_code code;
    if (!fs::is_directory(args.positional[0], code)) {
      return Fail(args.positional[0] + ": not a folder");
    }
    const IconFile icons = ReadIcons(args.positional[0]);
    DumpIcons(icons, args.Has("--json"));
    return icons.problem.empty() ? kExitOk : Fail("favoricon_v2: " + icons.problem);
  }
  if (action == "extract" && args.positional.size() == 4) {
    ReadOnlyProfile ro;
    std::string error;
    if (!ro.Open(args.positional[0], &error)) return Fail(error);
    auto storage = ro.profile.Get<IIconStorage>(*FindStorage("favicon"));
    if (!storage) return Fail("favicon: storage not opened");
    ATL::CComPtr<IIconObject> icon;
    // The storage takes the key and frees it.
    storage->GetIcon(Bstr(args.positional[2]).Detach(), icon.Receive());
    if (!icon) return Fail("no icon '" + args.positional[2] + "'");
    const BYTE* data = nullptr;
    INT length = 0;
    icon->GetData(&data);
    icon->GetDataLength(&length);
    if (!WriteFile(args.positional[3],
                   std::string_view(reinterpret_cast<const char*>(data),
                                    data ? static_cast<size_t>(std::max(length, 0)) : 0))) {
      return Fail(args.positional[3] + ": not written");
    }
    return kExitOk;
  }
  return Usage(kIconsHelp, "unknown or incomplete action '" + action + "'");
}

// ------------------------------------------------------------------------------------------
// info and check: every storage of a profile opened from a snapshot

struct StorageReport {
  const StorageName* name = nullptr;
  bool exists = false;
  uintmax_t size = 0;
  long long items = -1;    // -1: not known
  int import_failed = -1;  // IStorageInfo::IsImportFailed; -1: not asked (no such interface)
  bool bad_copy = false;   // the library kept a .bad copy while reading it
  std::string format_problem;
};

long long CountItems(Profile& profile, const StorageName& name, const fs::path& folder,
                     int* import_failed) {
  ATL::CComPtr<IUnknown> unknown = profile.GetUnknown(name);
  if (!unknown) return -1;
  ATL::CComPtr<IStorageInfo> info;
  if (SUCCEEDED(unknown.QueryInterface(info.Receive())) && info) {
    ULONG failed = 0;
    if (SUCCEEDED(info->IsImportFailed(&failed))) *import_failed = failed ? 1 : 0;
  }
  switch (name.kind) {
    case StorageKind::kKeyValue: {
      ATL::CComPtr<IKeyValueStorage> kv;
      ULONG count = 0;
      if (SUCCEEDED(unknown.QueryInterface(kv.Receive())) && SUCCEEDED(kv->GetCount(&count))) {
        return count;
      }
      return -1;
    }
    case StorageKind::kBookmark: {
      ATL::CComPtr<IBookmarkTreeModelStorage> tree;
      ULONG count = 0;
      if (SUCCEEDED(unknown.QueryInterface(tree.Receive())) && SUCCEEDED(tree->GetCount(&count))) {
        return count;
      }
      return -1;
    }
    case StorageKind::kExtension: {
      ATL::CComPtr<IExtensionStorage> ext;
      if (FAILED(unknown.QueryInterface(ext.Receive()))) return -1;
      return static_cast<long long>(ReadExtensions(ext, false).size() +
                                    ReadExtensions(ext, true).size());
    }
    case StorageKind::kIcon:
      return static_cast<long long>(ReadIcons(folder).records.size());
    case StorageKind::kKeyValueEx: {
      ATL::CComPtr<IKeyValueStorageEx> kv;
      if (FAILED(unknown.QueryInterface(kv.Receive()))) return -1;
      return static_cast<long long>(ReadTextValues(kv).size());
    }
  }
  return -1;
}

// Reads every storage file of `dir` through the library, in a snapshot. Files that were
// already kept as .bad in the original are listed in `earlier_bad`.
bool Examine(const std::string& dir, std::vector<StorageReport>* reports,
             std::vector<std::string>* earlier_bad, std::string* error) {
  Snapshot snapshot;
  if (!snapshot.Take(dir, error)) return false;
  const fs::path copy = snapshot.folder();
  std::error_code code;
  for (const StorageName& name : KnownStorages()) {
    StorageReport report;
    report.name = &name;
    const fs::path file = fs::path(dir) / name.file;
    report.exists = fs::is_regular_file(file, code);
    if (report.exists) report.size = fs::file_size(file, code);
    const fs::path bad = copy / (std::string(name.file) + ".bad");
    if (fs::exists(bad, code)) {
      earlier_bad->push_back((fs::path(dir) / (std::string(name.file) + ".bad")).string());
      fs::remove(bad, code);
    }
    if (report.exists && name.kind == StorageKind::kIcon) {
      bool ok = false;
      const std::string bytes = ReadFile(file, &ok);
      report.format_problem = ok ? ReadIconFile(bytes).problem : "not readable";
    }
    reports->push_back(std::move(report));
  }
  {
    Profile profile;
    if (!profile.Open(copy, error)) return false;
    size_t done = 0;
    for (StorageReport& report : *reports) {
      Progress("reading " + std::string(report.name->file) + " (" + std::to_string(++done) +
               " of " + std::to_string(reports->size()) + ")");
      if (!report.exists) continue;
      report.items = CountItems(profile, *report.name, copy, &report.import_failed);
    }
    EndProgress();
  }  // uninitialised here: whatever the library does at shutdown happens to the copy
  for (StorageReport& report : *reports) {
    report.bad_copy = fs::exists(copy / (std::string(report.name->file) + ".bad"), code);
  }
  return true;
}

constexpr char kInfoHelp[] =
    "usage: bstorage info DIR\n"
    "Each storage of the profile: its file, size, item count, whether it loaded and whether\n"
    "it needed its backup. The profile is read from a temporary copy and never changed.\n";

int RunInfo(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {}, {}, &args) || args.positional.size() != 1) {
    return Usage(kInfoHelp, "info needs DIR");
  }
  std::vector<StorageReport> reports;
  std::vector<std::string> earlier_bad;
  std::string error;
  if (!Examine(args.positional[0], &reports, &earlier_bad, &error)) return Fail(error);
  std::printf("%-13s %-31s %10s %7s  %s\n", "storage", "file", "size", "items", "state");
  for (const StorageReport& r : reports) {
    std::string state = "missing";
    if (r.exists) {
      const bool damaged = r.bad_copy || r.import_failed == 1 || !r.format_problem.empty();
      state = !damaged ? "loaded" : r.import_failed == 1 ? "not loaded (damaged)" : "damaged";
      if (r.name->kind == StorageKind::kBookmark && r.bad_copy && r.import_failed == 0) {
        state = "loaded from its backup (.bak)";
      }
    }
    std::printf("%-13s %-31s %10s %7s  %s\n", r.name->alias, r.name->file,
                r.exists ? SizeText(r.size).c_str() : "-",
                r.items >= 0 ? std::to_string(r.items).c_str() : "-", state.c_str());
  }
  for (const std::string& bad : earlier_bad)
    std::printf("earlier damage kept as %s\n", bad.c_str());
  return kExitOk;
}

constexpr char kCheckHelp[] =
    "usage: bstorage check DIR\n"
    "Verifies every storage file of the profile (parse, checksum, CRC, header, decryption) and\n"
    "names each damaged file with what is wrong. The profile is not changed: the files are\n"
    "read through the library from a temporary copy, and each damage the library notices (a\n"
    "file it keeps as .bad, a file it cannot import) is reported against the original file.\n"
    "Exit 1 when any file is damaged.\n";

int RunCheck(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {}, {}, &args) || args.positional.size() != 1) {
    return Usage(kCheckHelp, "check needs DIR");
  }
  const std::string& dir = args.positional[0];
  std::vector<StorageReport> reports;
  std::vector<std::string> earlier_bad;
  std::string error;
  if (!Examine(dir, &reports, &earlier_bad, &error)) return Fail(error);
  int problems = 0;
  for (const StorageReport& r : reports) {
    if (!r.exists) continue;
    const std::string file = (fs::path(dir) / r.name->file).string();
    std::vector<std::string> what;
    if (!r.format_problem.empty()) what.push_back(r.format_problem);
    if (r.import_failed == 1) {
      what.push_back("not loadable: the storage would start empty");
    } else if (r.bad_copy && r.name->kind == StorageKind::kBookmark) {
      what.push_back("damaged: the storage would load its backup bookmark_v2.bak");
    } else if (r.bad_copy) {
      what.push_back("damaged: not read whole, the library would keep it as .bad");
    }
    for (const std::string& line : what) {
      std::cout << file << ": " << line << "\n";
      ++problems;
    }
  }
  for (const std::string& bad : earlier_bad) {
    std::cout << "note: earlier damage kept as " << bad << "\n";
  }
  if (problems == 0) {
    std::cout << "ok: every file of " << dir << " reads whole\n";
    return kExitOk;
  }
  return kExitProblems;
}

// ------------------------------------------------------------------------------------------
// demo

constexpr char kDemoHelp[] =
    "usage: bstorage demo [DIR]\n"
    "Plays a short browser session on a fresh profile in DIR: preferences, start-up data, a\n"
    "few hundred bookmarks in folders, favicons, two extensions, auto-fill and auto-login\n"
    "records; shuts the service down (the final\n"
    "sync), reopens the profile, verifies every value, runs an address-prefix and a title\n"
    "search and prints the files written with their sizes. Exit 1 when a value did not come\n"
    "back.\n"
    "DIR defaults to demo-profile in the build tree (beside bin/) or ./bstorage-demo. DIR is\n"
    "wiped first, so it must be empty, missing or an earlier demo profile (it holds the\n"
    "marker file .bstorage-demo).\n";

constexpr char kDemoMarker[] = ".bstorage-demo";

fs::path DefaultDemoFolder() {
  std::error_code code;
  const fs::path tool = fs::read_symlink("/proc/self/exe", code).parent_path();
  if (!code && fs::exists(tool.parent_path() / "CMakeCache.txt", code)) {
    return tool.parent_path() / "demo-profile";
  }
  return fs::current_path(code) / "bstorage-demo";
}

struct DemoData {
  std::vector<KeyValueEntry> prefs;
  std::vector<KeyValueEntry> startup;                      // bytes
  std::vector<KeyValueEntry> autofill;                     // text
  std::vector<KeyValueEntry> autologin;                    // text
  std::vector<TreeEntry> tree;                             // ids, parents, titles, addresses
  std::vector<std::pair<std::string, std::string>> icons;  // key, bytes
  std::vector<ExtensionRow> extensions;
};

DemoData MakeDemoData() {
  DemoData data;
  data.prefs = {
      {"browser.startup.homepage", "https://start.example.org/"},
      {"browser.search.engine", "example-search"},
      {"browser.download.dir", "/home/user/Downloads"},
      {"browser.theme", "dark"},
      {"browser.window.size", std::string("\x80\x07\x38\x04\x01", 5)},  // binary
  };
  const std::u16string wide = u"Grüße aus Zürich";
  data.prefs.push_back({"browser.greeting.utf16",
                        std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)});
  for (int i = 0; i < 60; ++i) {
    data.prefs.push_back({"site.zoom." + std::to_string(i), std::to_string(100 + 10 * (i % 7))});
  }
  for (int tab = 0; tab < 8; ++tab) {
    data.startup.push_back({"session.window.0.tab." + std::to_string(tab),
                            "https://site" + std::to_string(tab * 7) + ".example.com/"});
  }
  data.startup.push_back({"session.last_exit", std::string("\x00\x5e\x6a\x65\x00\x00\x00\x00", 8)});
  data.autofill = {
      {"form.name", "Ada Lovelace"},
      {"form.email", "ada@example.org"},
      {"form.address", "12 Analytical Row, London"},
      {"form.phone", "+44 20 7946 0000"},
  };
  data.autologin = {
      {"https://mail.example.com/login", "ada\tcorrect horse battery staple"},
      {"https://shop.example.net/account", "ada.l\tTr0ub4dor&3"},
  };
  static const char* kFolders[] = {"News",    "Work",  "Projects", "Reading", "Travel",
                                   "Recipes", "Music", "Shopping", "Tools",   "Reference"};
  int serial = 0;
  auto add = [&](int parent, LONGLONG kind, std::string title, std::string url) {
    TreeEntry e;
    e.parent = parent;
    e.id = "demo-" + std::to_string(++serial);
    e.kind = kind;
    e.title = std::move(title);
    e.url = std::move(url);
    e.time_added = 1700000000 + serial * 60;
    e.last_access = e.time_added + 3600;
    e.access_count = serial % 13;
    data.tree.push_back(std::move(e));
    return static_cast<int>(data.tree.size()) - 1;
  };
  std::vector<int> folders;
  for (const char* name : kFolders) folders.push_back(add(-1, kFolderKind, name, ""));
  // Two folders inside "Work".
  folders.push_back(add(folders[1], kFolderKind, "Clients", ""));
  folders.push_back(add(folders[11 - 1], kFolderKind, "Archive", ""));
  for (int i = 0; i < 320; ++i) {
    const int folder = folders[i % folders.size()];
    const std::string site = "site" + std::to_string(i) + ".example.com";
    const std::string title = data.tree[folder].title + " page " + std::to_string(i) +
                              (i % 5 == 0 ? " & more <news>" : "");
    add(folder, kBookmarkKindUrl, title, "https://" + site + "/index.html");
  }
  for (int i = 0; i < 40; ++i) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    for (int b = 0; b < 200 + i; ++b) bytes.push_back(static_cast<char>((b * 31 + i) & 0xFF));
    data.icons.emplace_back("https://site" + std::to_string(i) + ".example.com/favicon.ico",
                            std::move(bytes));
  }
  data.extensions = {
      {"abcdefghijklmnopabcdefghijklmnop", "/opt/browser/ext/adblock",
       R"({"name":"Ad Blocker","permissions":["tabs"],"version":"2.1.0"})", 1, 1},
      {"ponmlkjihgfedcbaponmlkjihgfedcba", "/opt/browser/ext/notes",
       R"({"name":"Notes","version":"0.9"})", 2, 0},
  };
  return data;
}

bool WriteBytes(Profile& profile, const char* alias, const std::vector<KeyValueEntry>& entries,
                std::string* error) {
  auto storage = profile.Get<IKeyValueStorage>(*FindStorage(alias));
  for (const KeyValueEntry& entry : entries) {
    ATL::CComPtr<IValueObject> value = NewObject<IValueObject>();
    if (!storage || !value ||
        FAILED(value->SetBuffer(reinterpret_cast<const BYTE*>(entry.bytes.data()),
                                static_cast<ULONG>(entry.bytes.size()))) ||
        FAILED(storage->SetValue(Bstr(entry.key), value))) {
      *error = std::string(alias) + ": " + entry.key + " not stored";
      return false;
    }
  }
  return true;
}

bool WriteTexts(Profile& profile, const char* alias, const std::vector<KeyValueEntry>& entries,
                std::string* error) {
  auto storage = profile.Get<IKeyValueStorageEx>(*FindStorage(alias));
  for (const KeyValueEntry& entry : entries) {
    ATL::CComPtr<ITextValue> value = NewText(entry.bytes);
    if (!storage || !value || FAILED(storage->SetValue(Bstr(entry.key), value))) {
      *error = std::string(alias) + ": " + entry.key + " not stored";
      return false;
    }
  }
  return true;
}

// One line per entry of `expected` that `read` lacks or holds otherwise, and one for extras.
void CompareEntries(const char* alias, const std::vector<KeyValueEntry>& expected,
                    std::vector<KeyValueEntry> read, std::vector<std::string>* wrong) {
  std::map<std::string, std::string> stored;
  for (KeyValueEntry& e : read) stored[e.key] = std::move(e.bytes);
  for (const KeyValueEntry& entry : expected) {
    auto it = stored.find(entry.key);
    if (it == stored.end() || it->second != entry.bytes) {
      wrong->push_back(std::string(alias) + " " + entry.key);
    }
  }
  if (stored.size() != expected.size()) wrong->push_back(std::string(alias) + " count");
}

bool WriteDemo(Profile& profile, const DemoData& data, std::string* error) {
  if (!WriteBytes(profile, "userpref", data.prefs, error) ||
      !WriteBytes(profile, "startupdata", data.startup, error) ||
      !WriteTexts(profile, "autofill", data.autofill, error) ||
      !WriteTexts(profile, "autologin", data.autologin, error)) {
    return false;
  }
  auto prefs = profile.Get<IKeyValueStorage>(*FindStorage("userpref"));
  auto tree = profile.Get<IBookmarkTreeModelStorage>(*FindStorage("bookmark"));
  auto icons = profile.Get<IIconStorage>(*FindStorage("favicon"));
  auto extensions = profile.Get<IExtensionStorage>(*FindStorage("extensions"));
  if (!prefs || !tree || !icons || !extensions) {
    *error = "a storage did not open";
    return false;
  }
  for (const TreeEntry& e : data.tree) {
    ATL::CComPtr<IBookmarkItem> item = NewObject<IBookmarkItem>();
    item->SetId(Bstr(e.id));
    item->SetTitle(Bstr(e.title));
    item->SetKind(e.kind);
    if (!e.url.empty()) item->SetUrl(Bstr(e.url));
    item->SetTimeAdded(e.time_added);
    item->SetLastAccessTime(e.last_access);
    item->SetAccessCount(e.access_count);
    const ATL::CComBSTR parent = e.parent >= 0 ? Bstr(data.tree[e.parent].id) : Bstr("");
    if (FAILED(tree->Add(item, parent, -1))) {
      *error = "bookmark " + e.id + " not added";
      return false;
    }
  }
  for (const auto& [key, bytes] : data.icons) {
    ATL::CComPtr<IIconObject> icon = NewObject<IIconObject>();
    icon->SetData(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<INT>(bytes.size()));
    icon->SetFirstText(Bstr(key));
    icon->SetSecondText(Bstr(key));
    icon->SetTime(1700000000);
    if (FAILED(icons->SetIcon(Bstr(key).Detach(), icon))) {
      *error = "icon " + key + " not stored";
      return false;
    }
  }
  for (const ExtensionRow& row : data.extensions) {
    ATL::CComPtr<IExtensionRecord> record = NewObject<IExtensionRecord>();
    record->SetExtensionId(Bstr(row.id));
    record->SetPath(Bstr(row.path));
    record->SetManifest(Bstr(row.manifest));
    record->SetType(row.type);
    record->SetState(row.state);
    if (FAILED(extensions->AddExtension(record))) {
      *error = "extension " + row.id + " not added";
      return false;
    }
  }
  return true;
}

// Every value of `data` as read back; one line per difference.
std::vector<std::string> VerifyDemo(Profile& profile, const DemoData& data) {
  std::vector<std::string> wrong;
  auto prefs = profile.Get<IKeyValueStorage>(*FindStorage("userpref"));
  auto tree = profile.Get<IBookmarkTreeModelStorage>(*FindStorage("bookmark"));
  auto icons = profile.Get<IIconStorage>(*FindStorage("favicon"));
  auto extensions = profile.Get<IExtensionStorage>(*FindStorage("extensions"));
  if (!prefs || !tree || !icons || !extensions) return {"a storage did not reopen"};
  CompareEntries("userpref", data.prefs, ReadKeyValues(prefs), &wrong);
  auto startup = profile.Get<IKeyValueStorage>(*FindStorage("startupdata"));
  auto autofill = profile.Get<IKeyValueStorageEx>(*FindStorage("autofill"));
  auto autologin = profile.Get<IKeyValueStorageEx>(*FindStorage("autologin"));
  if (!startup || !autofill || !autologin) return {"a storage did not reopen"};
  CompareEntries("startupdata", data.startup, ReadKeyValues(startup), &wrong);
  CompareEntries("autofill", data.autofill, ReadTextValues(autofill), &wrong);
  CompareEntries("autologin", data.autologin, ReadTextValues(autologin), &wrong);
  const std::vector<TreeEntry> read = ReadTree(tree);
  std::map<std::string, const TreeEntry*> by_id;
  for (const TreeEntry& e : read) by_id[e.id] = &e;
  for (const TreeEntry& e : data.tree) {
    auto it = by_id.find(e.id);
    const std::string parent = e.parent >= 0 ? data.tree[e.parent].id : "";
    if (it == by_id.end() || it->second->title != e.title || it->second->url != e.url ||
        it->second->kind != e.kind || it->second->time_added != e.time_added ||
        it->second->access_count != e.access_count ||
        (it->second->parent >= 0 ? read[it->second->parent].id : "") != parent) {
      wrong.push_back("bookmark " + e.id);
    }
  }
  if (read.size() != data.tree.size()) wrong.push_back("bookmark count");
  for (const auto& [key, bytes] : data.icons) {
    ATL::CComPtr<IIconObject> icon;
    icons->GetIcon(Bstr(key).Detach(), icon.Receive());
    const BYTE* got = nullptr;
    INT length = 0;
    if (icon) {
      icon->GetData(&got);
      icon->GetDataLength(&length);
    }
    if (!icon || static_cast<size_t>(length) != bytes.size() ||
        std::memcmp(got, bytes.data(), bytes.size()) != 0) {
      wrong.push_back("icon " + key);
    }
  }
  const std::vector<ExtensionRow> rows = ReadExtensions(extensions, false);
  for (const ExtensionRow& row : data.extensions) {
    const bool found = std::any_of(rows.begin(), rows.end(), [&](const ExtensionRow& r) {
      return r.id == row.id && r.path == row.path && r.manifest == row.manifest &&
             r.type == row.type && r.state == row.state;
    });
    if (!found) wrong.push_back("extension " + row.id);
  }
  return wrong;
}

int RunDemo(const std::vector<std::string>& raw) {
  Args args;
  if (!Parse(raw, {}, {}, &args) || args.positional.size() > 1) {
    return Usage(kDemoHelp, "demo takes at most DIR");
  }
  const auto start = std::chrono::steady_clock::now();
  const fs::path dir = args.positional.empty() ? DefaultDemoFolder() : fs::path(args.positional[0]);
  std::error_code code;
  if (fs::exists(dir, code)) {
    if (!fs::is_directory(dir, code)) return Fail(dir.string() + ": not a folder");
    if (!fs::is_empty(dir, code) && !fs::exists(dir / kDemoMarker, code)) {
      return Fail(dir.string() + ": not empty and not a demo profile; not wiped");
    }
    fs::remove_all(dir, code);
  }
  if (!fs::create_directories(dir, code) && code) {
    return Fail(dir.string() + ": not created: " + code.message());
  }
  WriteFile(dir / kDemoMarker, "bstorage demo profile: `bstorage demo` wipes this folder\n");
  const DemoData data = MakeDemoData();
  std::string error;
  {
    Profile profile;
    if (!profile.Open(dir, &error)) return Fail(error);
    if (!WriteDemo(profile, data, &error)) return Fail(error);
  }  // UnInitialize: the final sync writes every file
  Profile profile;
  if (!profile.Open(dir, &error)) return Fail(error);
  const std::vector<std::string> wrong = VerifyDemo(profile, data);
  auto tree = profile.Get<IBookmarkTreeModelStorage>(*FindStorage("bookmark"));
  std::cout << "bstorage demo: " << dir.string() << "\n";
  std::cout << "  library " << Library::Load(&error)->path() << "\n";
  std::cout << "  session: " << data.prefs.size() << " preferences, " << data.startup.size()
            << " start-up entries, " << data.tree.size() << " bookmarks and folders,\n"
            << "           " << data.icons.size() << " favicons, " << data.extensions.size()
            << " extensions, " << data.autofill.size() << " auto-fill and " << data.autologin.size()
            << " auto-login records\n";
  if (tree) {
    ATL::CComPtr<IObjectList> by_prefix, by_title;
    tree->SearchByURLPrefix(Bstr("site1"), 5, by_prefix.Receive());
    tree->SearchByName(Bstr("news page 1"), 5, by_title.Receive());
    PrintItems("  address bar 'site1'", by_prefix, "    ");
    PrintItems("  title search 'news page 1'", by_title, "    ");
  }
  profile.Close();
  std::cout << "  files:\n";
  for (const StorageName& name : KnownStorages()) {
    const fs::path file = dir / name.file;
    if (fs::is_regular_file(file, code)) {
      std::printf("    %-31s %10s\n", name.file, SizeText(fs::file_size(file, code)).c_str());
    }
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  if (!wrong.empty()) {
    std::cout << "  verification FAILED (" << wrong.size() << " values):\n";
    for (size_t i = 0; i < wrong.size() && i < 20; ++i) std::cout << "    " << wrong[i] << "\n";
    return kExitProblems;
  }
  std::cout << "  every value came back after shutdown and reopen (" << elapsed.count() << " ms)\n";
  return kExitOk;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"demo", kDemoHelp, RunDemo},    {"info", kInfoHelp, RunInfo},
      {"check", kCheckHelp, RunCheck}, {"dump", kDumpHelp, RunDump},
      {"get", kGetHelp, RunGet},       {"set", kSetHelp, RunSet},
      {"rm", kRmHelp, RunRm},          {"bookmarks", kBookmarksHelp, RunBookmarks},
      {"icons", kIconsHelp, RunIcons},
  };
  return kCommands;
}

}  // namespace bstorage
