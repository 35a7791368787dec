// The registry (winreg.h) over its hive file, and the hive's file form.
#include "browserplatform/winreg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_faults.h"
#include "platform/registry_hive.h"
#include "tests/common/temp_folder.h"

namespace {

using platform::RegistryHive;
using platform_test::Narrow;

std::vector<uint8_t> Sz(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::vector<uint8_t> Dword(DWORD value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// A key handle closed at the end of the test.
class Key {
 public:
  Key() = default;
  ~Key() { Close(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  HKEY get() const { return key_; }
  PHKEY Receive() {
    Close();
    return &key_;
  }
  void Close() {
    if (key_) {
      EXPECT_EQ(RegCloseKey(key_), ERROR_SUCCESS);
    }
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

LSTATUS Create(HKEY parent, const char16_t* path, Key* key, DWORD* disposition = nullptr,
               REGSAM access = KEY_ALL_ACCESS) {
  return RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key->Receive(), disposition);
}

LSTATUS Open(HKEY parent, const char16_t* path, Key* key, REGSAM access = KEY_ALL_ACCESS) {
  return RegOpenKeyExW(parent, path, 0, access, key->Receive());
}

LSTATUS Set(HKEY key, const char16_t* name, DWORD type, const std::vector<uint8_t>& data) {
  return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

struct Value {
  DWORD type;
  std::vector<uint8_t> data;
  bool operator==(const Value&) const = default;
};

// The value, or the error that reading it gave.
std::optional<Value> Get(HKEY key, const char16_t* name, LSTATUS* status = nullptr) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  Value value{type, std::vector<uint8_t>(size)};
  if (result == ERROR_SUCCESS) {
    result = RegQueryValueExW(key, name, nullptr, &type, value.data.data(), &size);
  }
  if (status) *status = result;
  if (result != ERROR_SUCCESS) return std::nullopt;
  return value;
}

// The names of a key's subkeys, in enumeration order.
std::vector<std::u16string> SubkeyNames(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD length = 256;
    LSTATUS status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::u16string> ValueNames(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD index = 0;; ++index) {
    char16_t name[64];
    DWORD length = 64;
    LSTATUS status = RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

// Each test has its own configuration folder, hence its own hive.
class RegistryTest : public platform_test::FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) saved_ = value;
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1), 0);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    FileFixture::TearDown();
  }

  std::string Folder() const { return folder_.path() + "/orvex/browser/registry"; }
  std::string HivePath() const { return Folder() + "/HKEY_CLASSES_ROOT.hive"; }
  void WriteHive(std::string_view bytes) {
    std::filesystem::create_directories(Folder());
    platform_test::WriteNative(HivePath(), bytes);
  }
  std::string HiveBytes() const { return platform_test::ReadNative(HivePath()); }

 private:
  std::optional<std::string> saved_;
};

TEST_F(RegistryTest, KeysHoldDefaultAndNamedValues) {
  // No hive yet: an empty registry, and nothing is written by reading it.
  Key missing;
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"A", &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(platform_test::Exists(Folder()));

  Key key;
  DWORD disposition = 0;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"A\\B\\C", &key, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_TRUE(platform_test::Exists(HivePath()));
  Key again;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"A\\B\\C", &again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  ASSERT_EQ(Set(key.get(), nullptr, REG_SZ, Sz(u"default")), ERROR_SUCCESS);
  ASSERT_EQ(Set(key.get(), u"Count", REG_DWORD, Dword(42)), ERROR_SUCCESS);
  ASSERT_EQ(Set(key.get(), u"Empty", REG_BINARY, {}), ERROR_SUCCESS);
  // Another handle, and the empty name, reach the default value.
  EXPECT_EQ(Get(again.get(), u""), (Value{REG_SZ, Sz(u"default")}));
  EXPECT_EQ(Get(again.get(), u"Count"), (Value{REG_DWORD, Dword(42)}));
  EXPECT_EQ(Get(again.get(), u"Empty"), (Value{REG_BINARY, {}}));
  EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"", u"Count", u"Empty"}));

  // Replacing keeps the value's place; a buffer too small is refused and told the size.
  ASSERT_EQ(Set(key.get(), nullptr, REG_SZ, Sz(u"changed")), ERROR_SUCCESS);
  EXPECT_EQ(Get(key.get(), nullptr), (Value{REG_SZ, Sz(u"changed")}));
  BYTE small[4];
  DWORD size = sizeof(small);
  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, Sz(u"changed").size());
  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, small, nullptr),
            ERROR_INVALID_PARAMETER);

  EXPECT_EQ(RegDeleteValueW(key.get(), u"Count"), ERROR_SUCCESS);
  LSTATUS status = ERROR_SUCCESS;
  EXPECT_FALSE(Get(key.get(), u"Count", &status));
  EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key.get(), u"Count"), ERROR_FILE_NOT_FOUND);

  Key middle;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"A\\B", &middle), ERROR_SUCCESS);
  EXPECT_FALSE(Get(middle.get(), nullptr, &status));  // made as a parent: no default value
  EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubkeyNames(middle.get()), std::vector<std::u16string>{u"C"});
}

TEST_F(RegistryTest, NamesCompareWithoutAsciiCase) {
  Key key;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Alpha\\Beta", &key), ERROR_SUCCESS);
  ASSERT_EQ(Set(key.get(), u"Name", REG_SZ, Sz(u"one")), ERROR_SUCCESS);

  Key other;
  DWORD disposition = 0;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"ALPHA\\beta", &other, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(Get(other.get(), u"NAME"), (Value{REG_SZ, Sz(u"one")}));
  ASSERT_EQ(Set(other.get(), u"nAmE", REG_SZ, Sz(u"two")), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key.get()), std::vector<std::u16string>{u"Name"});  // one value, first case
  EXPECT_EQ(Get(key.get(), u"Name"), (Value{REG_SZ, Sz(u"two")}));

  // Keys keep the case they were made with; enumeration is by folded name.
  Key item;
  for (const char16_t* name : {u"alpha\\zeta", u"ALPHA\\Gamma", u"Alpha\\_under"}) {
    ASSERT_EQ(Create(HKEY_CLASSES_ROOT, name, &item), ERROR_SUCCESS) << Narrow(name);
  }
  Key alpha;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"alpha", &alpha), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(alpha.get()),
            (std::vector<std::u16string>{u"Beta", u"Gamma", u"zeta", u"_under"}));

  // Only ASCII letters fold.
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"\u00e9t\u00e9", &item), ERROR_SUCCESS);
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"\u00c9T\u00c9", &item), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"\u00e9T\u00e9", &item), ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeletingKeysAndTrees) {
  Key key;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Tree\\Branch\\Leaf", &key), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Tree\\Other", &key), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"TreeTop", &key), ERROR_SUCCESS);  // a longer sibling name
  Key tree;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"Tree", &tree), ERROR_SUCCESS);
  ASSERT_EQ(Set(tree.get(), u"v", REG_SZ, Sz(u"x")), ERROR_SUCCESS);
  Key leaf;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"Tree\\Branch\\Leaf", &leaf), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Tree\\Branch"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(tree.get(), u"Branch\\Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(tree.get(), u"Branch\\Leaf"), ERROR_FILE_NOT_FOUND);
  // A handle outlives its key; its calls then say so.
  EXPECT_EQ(Set(leaf.get(), u"v", REG_SZ, Sz(u"x")), ERROR_KEY_DELETED);
  EXPECT_FALSE(Get(leaf.get(), u"v"));

  // Without a subkey name: everything inside the key goes, the key stays.
  EXPECT_EQ(RegDeleteTreeW(tree.get(), nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(SubkeyNames(tree.get()).empty());
  EXPECT_TRUE(ValueNames(tree.get()).empty());

  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Tree\\Branch\\Leaf", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"tree"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), std::vector<std::u16string>{u"TreeTop"});
  EXPECT_EQ(Set(tree.get(), u"v", REG_SZ, Sz(u"x")), ERROR_KEY_DELETED);
  EXPECT_EQ(Create(tree.get(), u"Sub", &key), ERROR_KEY_DELETED);

  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u""), ERROR_ACCESS_DENIED);  // the root stays
}

TEST_F(RegistryTest, RefusesBadNamesHandlesAndRights) {
  Key key;
  const std::u16string too_long(256, u'k');
  const std::u16string longest(255, u'k');
  const char16_t lone_surrogate[] = {u'a', 0xD800, u'\0'};
  struct Case {
    std::u16string path;
    LSTATUS expected;
  };
  const Case kPaths[] = {
      {u"\\Leading", ERROR_INVALID_PARAMETER},
      {u"Trailing\\", ERROR_INVALID_PARAMETER},
      {u"Two\\\\Separators", ERROR_INVALID_PARAMETER},
      {u"Tab\tName", ERROR_INVALID_PARAMETER},
      {too_long, ERROR_INVALID_PARAMETER},
      {longest, ERROR_SUCCESS},
      {lone_surrogate, ERROR_NO_UNICODE_TRANSLATION},
  };
  for (const Case& c : kPaths) {
    EXPECT_EQ(Create(HKEY_CLASSES_ROOT, c.path.c_str(), &key), c.expected) << Narrow(c.path);
  }

  // 512 keys deep is the limit, and such a hive reads back.
  std::u16string deep = u"d";
  for (size_t i = 1; i < platform::kMaxRegistryKeyDepth; ++i) deep += u"\\d";
  EXPECT_EQ(Create(HKEY_CLASSES_ROOT, deep.c_str(), &key), ERROR_SUCCESS);
  EXPECT_EQ(Create(HKEY_CLASSES_ROOT, (deep + u"\\d").c_str(), &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, deep.c_str(), &key), ERROR_SUCCESS);

  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Rights", &key), ERROR_SUCCESS);
  EXPECT_EQ(Set(key.get(), lone_surrogate, REG_SZ, Sz(u"x")), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(RegSetValueExW(key.get(), u"v", 0, REG_BINARY, nullptr, 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(
      Set(key.get(), u"big", REG_BINARY, std::vector<uint8_t>(platform::kMaxRegistryValueSize + 1)),
      ERROR_INVALID_PARAMETER);
  EXPECT_EQ(
      Set(key.get(), u"big", REG_BINARY, std::vector<uint8_t>(platform::kMaxRegistryValueSize)),
      ERROR_SUCCESS);

  Key reader;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"Rights", &reader, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(Set(reader.get(), u"v", REG_SZ, Sz(u"x")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader.get(), u"big"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create(reader.get(), u"Sub", &key), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Get(reader.get(), u"big"));
  Key writer;
  ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"Rights", &writer, KEY_WRITE), ERROR_SUCCESS);
  EXPECT_FALSE(Get(writer.get(), u"big"));
  char16_t name[16];
  DWORD length = 16;
  EXPECT_EQ(RegEnumKeyExW(writer.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);

  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Rights", 0, KEY_READ, &closed), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  HKEY made_up = reinterpret_cast<HKEY>(uintptr_t{0x1234});
  for (HKEY bad : {closed, made_up, static_cast<HKEY>(nullptr)}) {
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Set(bad, u"v", REG_SZ, Sz(u"x")), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Open(bad, u"", &key), ERROR_INVALID_HANDLE);
  }
}

TEST_F(RegistryTest, WritersAtOnceLoseNothing) {
  // Each call opens the lock file anew, so threads exclude each other as processes do.
  constexpr int kWriters = 3;
  constexpr DWORD kKeysEach = 15;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&failures, w] {
      for (DWORD i = 0; i < kKeysEach; ++i) {
        const std::u16string path = u"Writer" + std::u16string(1, u'0' + w) + u"\\" +
                                    platform_test::Widen(std::to_string(i));
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        const std::vector<uint8_t> data = Dword(i);
        if (RegSetValueExW(key, u"i", 0, REG_DWORD, data.data(), 4) != ERROR_SUCCESS) ++failures;
        RegCloseKey(key);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failures.load(), 0);

  for (int w = 0; w < kWriters; ++w) {
    Key writer;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, (u"Writer" + std::u16string(1, u'0' + w)).c_str(), &writer),
              ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(writer.get()).size(), kKeysEach);
    for (DWORD i = 0; i < kKeysEach; ++i) {
      Key key;
      ASSERT_EQ(Open(writer.get(), platform_test::Widen(std::to_string(i)).c_str(), &key),
                ERROR_SUCCESS);
      EXPECT_EQ(Get(key.get(), u"i"), (Value{REG_DWORD, Dword(i)}));
    }
  }
  EXPECT_FALSE(platform_test::Exists(HivePath() + ".tmp"));
}

// A hive written by hand from its description in docs/formats.md.
constexpr std::string_view kFixture =
    "orvex-registry-hive 1\n"
    "[]\n"
    "\"\"=sz:\"root default\"\n"
    "[Zebra]\n"
    "[CLSID]\n"
    "[clsid\\{630D2AD6-C369-4b28-85DA-301CFBD0547F}]\n"
    "\"\"=sz:\"CCoStorageConfig Object\"\n"
    "\"Quote\\\" and \\\\ \\x09\\x7F\"=sz:\"caf\xC3\xA9 \xF0\x9F\x98\x80\"\n"
    "\"Raw\"=hex(3):00FFa0\n"
    "\"Count\"=hex(4):2a000000\n"
    "\"Empty\"=hex(0):\n"
    "\"NoNul\"=hex(1):4100\n"
    "end\n";

TEST(RegistryHiveTest, ReadsAFixtureWrittenFromTheFormat) {
  RegistryHive hive;
  std::string why;
  ASSERT_EQ(platform::ParseRegistryHive(kFixture, &hive, &why), ERROR_SUCCESS) << why;

  RegistryHive expected;
  bool created = false;
  expected.Create(u"", &created)->SetValue(u"", REG_SZ, Sz(u"root default"));
  expected.Create(u"Zebra", &created);
  platform::RegistryKey* clsid =
      expected.Create(u"CLSID\\{630D2AD6-C369-4b28-85DA-301CFBD0547F}", &created);
  clsid->SetValue(u"", REG_SZ, Sz(u"CCoStorageConfig Object"));
  clsid->SetValue(u"Quote\" and \\ \t\x7F", REG_SZ, Sz(u"caf\u00e9 \U0001F600"));
  clsid->SetValue(u"Raw", REG_BINARY, {0x00, 0xFF, 0xA0});
  clsid->SetValue(u"Count", REG_DWORD, Dword(42));
  clsid->SetValue(u"Empty", REG_NONE, {});
  clsid->SetValue(u"NoNul", REG_SZ, {0x41, 0x00});
  EXPECT_EQ(hive, expected);

  // Written again: keys by folded path, the parent's spelling, text where it is plain text.
  EXPECT_EQ(platform::SerializeRegistryHive(hive),
            "orvex-registry-hive 1\n"
            "[]\n"
            "\"\"=sz:\"root default\"\n"
            "[CLSID]\n"
            "[CLSID\\{630D2AD6-C369-4b28-85DA-301CFBD0547F}]\n"
            "\"\"=sz:\"CCoStorageConfig Object\"\n"
            "\"Quote\\\" and \\\\ \\x09\\x7f\"=sz:\"caf\xC3\xA9 \xF0\x9F\x98\x80\"\n"
            "\"Raw\"=hex(3):00ffa0\n"
            "\"Count\"=hex(4):2a000000\n"
            "\"Empty\"=hex(0):\n"
            "\"NoNul\"=hex(1):4100\n"
            "[Zebra]\n"
            "end\n");
}

TEST_F(RegistryTest, FixtureIsWhatTheCallsSee) {
  WriteHive(kFixture);
  Key key;
  ASSERT_EQ(
      Open(HKEY_CLASSES_ROOT, u"CLSID\\{630D2AD6-C369-4B28-85DA-301CFBD0547F}", &key, KEY_READ),
      ERROR_SUCCESS);
  EXPECT_EQ(Get(key.get(), u"count"), (Value{REG_DWORD, Dword(42)}));
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, nullptr), (Value{REG_SZ, Sz(u"root default")}));
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), (std::vector<std::u16string>{u"CLSID", u"Zebra"}));
  EXPECT_EQ(HiveBytes(), kFixture);  // reading writes nothing
}

TEST(RegistryHiveTest, EveryHiveReadsBackEqual) {
  RegistryHive hive;
  bool created = false;
  const char16_t lone_surrogate[] = {0xDC00, u'\0'};
  platform::RegistryKey* key = hive.Create(u"K\u00e9y\\[Sub]\\\"quoted\"", &created);
  key->SetValue(u"", REG_SZ, Sz(u"line\nbreak\r\x01"));
  key->SetValue(u"\x1f\\\"", REG_EXPAND_SZ, Sz(u"%PATH%"));
  key->SetValue(u"embedded nul", REG_SZ, Sz(std::u16string(u"a\0b", 3)));
  key->SetValue(u"bad text", REG_SZ, Sz(lone_surrogate));
  key->SetValue(u"odd", REG_SZ, {0x41, 0x00, 0x00});
  key->SetValue(u"max type", 0xFFFFFFFF, {1, 2, 3});
  key->SetValue(u"\U0001F600", REG_BINARY, std::vector<uint8_t>(256, 0x5C));
  hive.Create(u"a\\b\\c\\d", &created);
  hive.Create(u"A B", &created);  // sorts between "A" and "A\..."

  const std::string written = platform::SerializeRegistryHive(hive);
  RegistryHive read;
  std::string why;
  ASSERT_EQ(platform::ParseRegistryHive(written, &read, &why), ERROR_SUCCESS) << why;
  EXPECT_EQ(read, hive);
  EXPECT_EQ(platform::SerializeRegistryHive(read), written);
}

TEST(RegistryHiveTest, RefusesDamageAndSaysWhy) {
  const std::string magic = "orvex-registry-hive 1\n[]\n";
  const std::string deep = [] {
    std::string lines, path;
    for (size_t i = 0; i <= platform::kMaxRegistryKeyDepth; ++i) {
      path += i == 0 ? "d" : "\\d";
      lines += "[" + path + "]\n";
    }
    return lines;
  }();
  struct Case {
    std::string file;
    std::string why;
  };
  const Case kCases[] = {
      {"", "cut short"},
      {"hello\n", "line 1: not a registry hive"},
      {"orvex-registry-hive 2\n[]\nend\n", "line 1: unsupported hive version"},
      {"orvex-registry-hive 1\n[A]\nend\n", "line 2: the root key"},
      {magic, "line 2: cut short"},
      {magic + "end", "cut short"},
      {magic + "end\n\n", "text after the end line"},
      {magic + "[]\r\nend\n", "control character"},
      {magic + "[\xC0\x80]\nend\n", "not well-formed UTF-8"},
      {magic + "[\xED\xA0\x80]\nend\n", "not well-formed UTF-8"},
      {magic + "[]\nend\n", "line 3: the root key twice"},
      {magic + "[A\\B]\nend\n", "line 3: a key whose parent"},
      {magic + "[A]\n[a]\nend\n", "line 4: a key listed twice"},
      {magic + "[A\\\\B]\nend\n", "key name"},
      {magic + "[" + std::string(256, 'k') + "]\nend\n", "key name"},
      {magic + deep + "end\n", "line 515: a key more than 512 levels deep"},
      {magic + "[A\nend\n", "must end in ']'"},
      {magic + "plain\nend\n", "neither a key nor a value"},
      {magic + "\"v\"=sz:\"1\"\n\"V\"=sz:\"2\"\nend\n", "line 4: a value listed twice"},
      {magic + "\"v=sz:\"1\"\nend\n", "needs =sz:"},
      {magic + "\"v\nend\n", "closing"},
      {magic + "\"v\\\nend\n", "closing"},
      {magic + "\"\\q\"=sz:\"\"\nend\n", "bad escape"},
      {magic + "\"\\x00\"=sz:\"\"\nend\n", "bad escape"},
      {magic + "\"\\x41\"=sz:\"\"\nend\n", "bad escape"},
      {magic + "\"\\x4\"=sz:\"\"\nend\n", "bad escape"},
      {magic + "\"v\"=sz:\"a\"b\nend\n", "text after the value"},
      {magic + "\"v\"=dword:00000001\nend\n", "needs =sz:"},
      {magic + "\"v\"=hex(3):abc\nend\n", "odd number"},
      {magic + "\"v\"=hex(3):zz\nend\n", "not hexadecimal"},
      {magic + "\"v\"=hex(4294967296):\nend\n", "32-bit"},
      {magic + "\"v\"=hex(01):\nend\n", "32-bit"},
      {magic + "\"v\"=hex():\nend\n", "32-bit"},
      {magic + "\"v\"=hex(-1):\nend\n", "32-bit"},
      {magic + "\"v\"=hex(3)00\nend\n", "\"):\""},
      {magic + "\"v\"=hex(3):" + std::string(2 * platform::kMaxRegistryValueSize + 2, '0') +
           "\nend\n",
       "larger than 1 MiB"},
      {magic + "\"v\"=sz:\"" + std::string(platform::kMaxRegistryValueSize / 2, 'x') + "\"\nend\n",
       "larger than 1 MiB"},
      {magic + "\"" + std::string(platform::kMaxRegistryValueNameLength + 1, 'n') +
           "\"=hex(0):\nend\n",
       "too long"},
      {std::string(platform::kMaxRegistryHiveSize + 1, 'x'), "larger than 16 MiB"},
  };
  for (const Case& c : kCases) {
    RegistryHive hive;
    bool created = false;
    hive.Create(u"kept", &created);
    const RegistryHive before = hive;
    std::string why;
    EXPECT_EQ(platform::ParseRegistryHive(c.file, &hive, &why), ERROR_BADDB)
        << c.file.substr(0, 80);
    EXPECT_NE(why.find(c.why), std::string::npos) << why << " / expected: " << c.why;
    EXPECT_EQ(hive, before);
  }
}

TEST_F(RegistryTest, DamagedOrUnreadableHiveFailsEveryCallAndStays) {
  Key key;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Existing", &key), ERROR_SUCCESS);
  key.Close();
  const std::string damaged = HiveBytes() + "trailing damage\n";
  WriteHive(damaged);

  auto expect_every_call_fails = [&](LSTATUS code) {
    Key opened;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"Existing", &opened), code);
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"", &opened), code);
    EXPECT_EQ(Create(HKEY_CLASSES_ROOT, u"New", &opened), code);
    EXPECT_EQ(Set(HKEY_CLASSES_ROOT, u"v", REG_SZ, Sz(u"x")), code);
    LSTATUS status = ERROR_SUCCESS;
    EXPECT_FALSE(Get(HKEY_CLASSES_ROOT, u"v", &status));
    EXPECT_EQ(status, code);
    EXPECT_EQ(RegDeleteValueW(HKEY_CLASSES_ROOT, u"v"), code);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Existing"), code);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, nullptr), code);
    char16_t name[16];
    DWORD length = 16;
    EXPECT_EQ(
        RegEnumKeyExW(HKEY_CLASSES_ROOT, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
        code);
  };
  expect_every_call_fails(ERROR_BADDB);
  EXPECT_EQ(HiveBytes(), damaged);
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"orvex"});
  EXPECT_FALSE(platform_test::Exists(HivePath() + ".tmp"));
  EXPECT_FALSE(platform_test::Exists(HivePath() + ".bad"));

  // A hive that cannot be read at all: here a folder in its place.
  std::filesystem::remove(HivePath());
  std::filesystem::create_directory(HivePath());
  expect_every_call_fails(ERROR_CANTREAD);
  EXPECT_TRUE(std::filesystem::is_directory(HivePath()));
}

TEST_F(RegistryTest, FailedWriteLeavesTheHiveAsItWas) {
  Key key;
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Kept", &key), ERROR_SUCCESS);
  ASSERT_EQ(Set(key.get(), u"v", REG_SZ, Sz(u"before")), ERROR_SUCCESS);
  const std::string before = HiveBytes();

  platform::FileFaults& faults = platform::GetFileFaults();
  struct Case {
    std::atomic<bool>* fault;
    LSTATUS expected;
  };
  const Case kCases[] = {{&faults.write_fails, ERROR_DISK_FULL},
                         {&faults.sync_fails, ERROR_WRITE_FAULT},
                         {&faults.move_fails, ERROR_ACCESS_DENIED},
                         {&faults.open_for_write_fails, ERROR_ACCESS_DENIED}};
  for (const Case& c : kCases) {
    *c.fault = true;
    EXPECT_EQ(Set(key.get(), u"v", REG_SZ, Sz(u"after")), c.expected);
    *c.fault = false;
    EXPECT_EQ(HiveBytes(), before);
    EXPECT_FALSE(platform_test::Exists(HivePath() + ".tmp"));
    EXPECT_EQ(Get(key.get(), u"v"), (Value{REG_SZ, Sz(u"before")}));
  }
  // A change that would outgrow the largest hive the reader takes is refused before writing.
  std::string full = "orvex-registry-hive 1\n[]\n[Kept]\n";
  const std::string megabyte(2 * platform::kMaxRegistryValueSize, 'a');  // hex: 2 digits a byte
  for (char name = 'a'; name < 'h'; ++name) {
    full += std::string("\"") + name + "\"=hex(3):" + megabyte + "\n";
  }
  const std::string fill_line = "\"fill\"=hex(3):\nend\n";
  const size_t room = platform::kMaxRegistryHiveSize - full.size() - fill_line.size() - 40;
  full += "\"fill\"=hex(3):" + std::string(room - room % 2, 'b') + "\nend\n";
  WriteHive(full);
  EXPECT_EQ(Set(key.get(), u"more", REG_BINARY, std::vector<uint8_t>(32)), ERROR_NOT_ENOUGH_QUOTA);
  EXPECT_EQ(HiveBytes(), full);
}

}  // namespace
