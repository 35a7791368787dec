// The key-value-ex synchroniser over real files: the exact document, what the import takes and
// leaves, the damage it keeps, and its retries.
#include "storage/keyvalue/key_value_storage_ex_sync_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "platform/file_faults.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/keyvalue/key_value_ex_test_util.h"

namespace {

using kvex_test::NewText;
using kvex_test::TextOf;
using Storage::CKeyValueStorageExCacheBase;

constexpr char kHead[] = "<?xml version='1.0' encoding='utf-8' ?>\n";

class KeyValueExSyncFileTest : public platform_test::FileFixture {
 protected:
  base::scoped_refptr<CKeyValueStorageExCacheBase> Open(const char16_t* name = nullptr,
                                                        int write_mode = 1) {
    auto config = kvex_test::ExConfig(folder_.Wide("ex"), write_mode, name);
    return CKeyValueStorageExCacheBase::create(config.get(), nullptr, nullptr);
  }
  std::string File() { return platform_test::ReadNative(folder_.Native("ex")); }
  std::string Bad() { return platform_test::ReadNative(folder_.Native("ex.bad")); }
  void WriteFile(const std::string& content) {
    platform_test::WriteNative(folder_.Native("ex"), content);
  }
  static std::u16string Text(CKeyValueStorageExCacheBase* cache, const std::u16string& key) {
    ATL::CComPtr<ITextValue> value = cache->GetValue(key);
    return value ? TextOf(value) : u"(absent)";
  }
};

TEST_F(KeyValueExSyncFileTest, WritesTheDocumentAsThePrinterPrintsIt) {
  { base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open(); }
  EXPECT_EQ(File(), std::string(kHead) + "<root/>\n\n");

  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
    ASSERT_TRUE(cache->SetValue(u"b", NewText(u"x&y <z>")));
    ASSERT_TRUE(cache->SetValue(u"a\"<", NewText(u"it's")));
    ASSERT_TRUE(cache->SetValue(u"c", NewText(u"say \"it's\"")));
    ASSERT_TRUE(cache->SetValue(u"d", NewText(u"")));
    ASSERT_TRUE(cache->SetValue(u"e", NewText(std::u16string(u"up to\0here", 10))));
  }
  EXPECT_EQ(File(), std::string(kHead) +
                        "<root>\n"
                        "\t<Item key='a\"&lt;' value=\"it's\"/>\n"
                        "\t<Item key=\"b\" value=\"x&amp;y &lt;z&gt;\"/>\n"
                        "\t<Item key=\"c\" value='say \"it&apos;s\"'/>\n"
                        "\t<Item key=\"d\" value=\"\"/>\n"
                        "\t<Item key=\"e\" value=\"up to\"/>\n"
                        "</root>\n\n");
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"ex"});

  // Read back, every text is as it was set (up to a NUL).
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
  EXPECT_EQ(cache->IsImportFailed(), 0);
  EXPECT_EQ(cache->GetCount(), 5u);
  EXPECT_EQ(Text(cache.get(), u"a\"<"), u"it's");
  EXPECT_EQ(Text(cache.get(), u"b"), u"x&y <z>");
  EXPECT_EQ(Text(cache.get(), u"c"), u"say \"it's\"");
  EXPECT_EQ(Text(cache.get(), u"d"), u"");
  EXPECT_EQ(Text(cache.get(), u"e"), u"up to");
  EXPECT_TRUE(cache->synchroniser()->pending_changes_for_testing().empty());
}

// The import takes the root's first Item and every sibling after it, whatever its name; an item
// without a value is skipped, one without a key has the empty key; anything after "</root>"
// (a tail of padding, say) is not read.
TEST_F(KeyValueExSyncFileTest, ImportsTheItemsAfterTheFirstAndIgnoresTheTail) {
  WriteFile(std::string(kHead) +
            "<root>\n"
            "\t<Other key=\"before\" value=\"0\"/>\n"
            "\t<Item key=\"k\" value=\"1\"/>\n"
            "\t<Item value=\"no key\"/>\n"
            "\t<Item key=\"no value\"/>\n"
            "\t<Thing key=\"t\" value=\"&#x263A;&#65;\">text</Thing>\n"
            "\t<Item key=\"k\" value=\"2\"/>\n"
            "</root>\n"
            "\x01\x02\x03 not XML <<");
  testing_support::CapturingLogController log;
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
  EXPECT_EQ(cache->IsImportFinished(), 1);
  EXPECT_EQ(cache->IsImportFailed(), 0);
  std::vector<std::u16string> keys;
  cache->GetKeys(&keys);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"", u"k", u"t"}));
  EXPECT_EQ(Text(cache.get(), u""), u"no key");
  EXPECT_EQ(Text(cache.get(), u"k"), u"2");
  EXPECT_EQ(Text(cache.get(), u"t"),
            u"\u263A"
            u"A");
  EXPECT_FALSE(platform_test::Exists(folder_.Native("ex.bad")));
  std::vector<std::u16string> performance = log.texts(u"performance_profile;");
  ASSERT_FALSE(performance.empty());
  EXPECT_EQ(performance.front(), u"进入函数:Storage::CKeyValueStorageExSyncFile::performImport\n");
}

// A file that exists and cannot be used is kept as "ex.bad" before the final sync replaces it,
// and only then is the import reported failed; a missing file is a first start.
TEST_F(KeyValueExSyncFileTest, FilesThatCannotBeUsedAreKeptAndReportedFailed) {
  std::string nested = std::string(kHead) + "<root>";
  for (int i = 0; i < 2000; ++i) nested += "<Item key=\"a\" value=\"b\">";
  struct Case {
    const char* what;
    std::optional<std::string> content;  // none: no file
    int failed;
  };
  const Case kCases[] = {
      {"no file", std::nullopt, 0},
      {"cut short", std::string(kHead) + "<root>\n\t<Item key=\"a\" val", 1},
      {"garbage", "\x8F\x12\xE0 binary \x01", 1},
      {"empty", "", 1},
      {"no root", std::string(kHead) + "<Root><Item key=\"a\" value=\"b\"/></Root>\n", 1},
      {"nested too deep", nested, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(folder_.Native("ex").c_str());
    std::remove(folder_.Native("ex.bad").c_str());
    if (c.content) WriteFile(*c.content);
    {
      base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
      EXPECT_EQ(cache->IsImportFailed(), c.failed);
      EXPECT_EQ(cache->GetCount(), 0u);
    }
    EXPECT_EQ(File(), std::string(kHead) + "<root/>\n\n");
    EXPECT_EQ(platform_test::Exists(folder_.Native("ex.bad")), c.content.has_value());
    if (c.content) {
      EXPECT_EQ(Bad(), *c.content);
    }
  }
}

// Without a name in the configuration the texts are made as text values; with a name that
// makes nothing, no item can be imported, so the file is kept before it is replaced.
TEST_F(KeyValueExSyncFileTest, TheValueInterfaceNameDecidesWhatTheImportMakes) {
  const std::string content =
      std::string(kHead) + "<root>\n\t<Item key=\"a\" value=\"x\"/>\n</root>\n\n";
  struct Case {
    const char* what;
    const char16_t* name;
    ULONG count;
  };
  const Case kCases[] = {
      {"no name", nullptr, 1},
      {"the text value's name", kTextValueInterfaceName, 1},
      {"an unknown name", u"Browser.Unknown", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::remove(folder_.Native("ex.bad").c_str());
    WriteFile(content);
    {
      base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open(c.name);
      EXPECT_EQ(cache->IsImportFailed(), 0);
      EXPECT_EQ(cache->GetCount(), c.count);
    }
    EXPECT_EQ(platform_test::Exists(folder_.Native("ex.bad")), c.count == 0);
    if (c.count == 0) {
      EXPECT_EQ(Bad(), content);
    } else {
      EXPECT_EQ(File(), content);
    }
  }
}

// Text that is not UTF-8 is imported with U+FFFD in its place, which the next write would keep
// for good: the file is kept first.
TEST_F(KeyValueExSyncFileTest, TextThatIsNotUtf8IsImportedAndTheFileKept) {
  const std::string content =
      std::string(kHead) + "<root>\n\t<Item key=\"a\" value=\"bad\xFF\"/>\n</root>\n";
  WriteFile(content);
  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
    EXPECT_EQ(Text(cache.get(), u"a"), u"bad\uFFFD");
  }
  EXPECT_EQ(Bad(), content);
}

TEST_F(KeyValueExSyncFileTest, AFailedWriteKeepsTheChangesForTheNextSync) {
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
  Storage::CStorageSyncBase* sync = cache->synchroniser();
  ASSERT_TRUE(cache->SetValue(u"k", NewText(u"v")));
  platform::GetFileFaults().write_fails = true;
  sync->performSync();
  platform::GetFileFaults().Reset();
  EXPECT_FALSE(platform_test::Exists(folder_.Native("ex")));
  EXPECT_EQ(sync->pending_changes_for_testing().size(), 1u);

  sync->performSync();
  EXPECT_EQ(File(), std::string(kHead) + "<root>\n\t<Item key=\"k\" value=\"v\"/>\n</root>\n\n");
  EXPECT_TRUE(sync->pending_changes_for_testing().empty());
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"ex"});
}

// The stored object is the caller's: a change made to it later reaches the file with the next
// write, though it records no change by itself.
TEST_F(KeyValueExSyncFileTest, ValuesAreStoredByReference) {
  ATL::CComPtr<ITextValue> value = NewText(u"first");
  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open();
    ASSERT_TRUE(cache->SetValue(u"k", value));
    EXPECT_EQ(cache->GetValue(u"k").get(), value.get());
    ASSERT_EQ(value->SetString(ATL::CComBSTR(u"second")), S_OK);
    EXPECT_EQ(cache->synchroniser()->pending_changes_for_testing().size(), 1u);
  }
  EXPECT_EQ(File(),
            std::string(kHead) + "<root>\n\t<Item key=\"k\" value=\"second\"/>\n</root>\n\n");
}

// Encrypted (write mode 3): the file is the document encrypted, the same length, and reads
// back; a document the key does not decrypt (a plain file, another key's) is kept and reported.
TEST_F(KeyValueExSyncFileTest, EncryptedFilesRoundTripAndOthersAreKept) {
  const std::u16string kSecret = u"password=correct horse battery staple";
  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open(nullptr, 3);
    ASSERT_TRUE(cache->SetValue(u"login", NewText(kSecret)));
  }
  const std::string encrypted = File();
  const std::string plain = std::string(kHead) + "<root>\n\t<Item key=\"login\" value=\"" +
                            base::WideToUTF8(kSecret) + "\"/>\n</root>\n\n";
  EXPECT_EQ(encrypted.size(), plain.size());
  EXPECT_EQ(encrypted.find("password"), std::string::npos);
  EXPECT_EQ(encrypted.find("<root>"), std::string::npos);
  // Only the tail of length mod 16 bytes stays plain.
  EXPECT_EQ(encrypted.substr(encrypted.size() / 16 * 16), plain.substr(plain.size() / 16 * 16));
  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open(nullptr, 3);
    EXPECT_EQ(cache->IsImportFailed(), 0);
    EXPECT_EQ(Text(cache.get(), u"login"), kSecret);
  }
  EXPECT_EQ(File(), encrypted);  // the same document, the same bytes
  EXPECT_FALSE(platform_test::Exists(folder_.Native("ex.bad")));

  WriteFile(plain);
  {
    base::scoped_refptr<CKeyValueStorageExCacheBase> cache = Open(nullptr, 3);
    EXPECT_EQ(cache->IsImportFailed(), 1);
    EXPECT_EQ(cache->GetCount(), 0u);
  }
  EXPECT_EQ(Bad(), plain);
}

}  // namespace
