#include "storage/service/storage_creater.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/bookmark_storage.h"
#include "storage/service/co_storage_config.h"
#include "storage/sync/storage_config_base.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"

namespace {

using Storage::CStorageConfigBase;
using Storage::CStorageCreater;

constexpr char16_t kBasePath[] = u"/base/";

// The registry as the system defines it, written out independently of the code's table.
struct ExpectedRow {
  const char16_t* id;
  int cache_kind;
  int memory_limit;
  int sync_kind;
  int storage_type;
  const char16_t* file_name;
  int write_mode;
  int import_on_create;
};
const ExpectedRow kExpectedRegistry[] = {
    {u"0E3E680B-197C-4425-BF73-7D47118EEECF", 1, -1, 2, 1, u"userpref_v2", 2, 1},
    {u"B339787E-9764-4a14-91D0-1316008F5867", 1, -1, 2, 1, u"browserpref_v2", 2, 1},
    {u"05954AC7-0787-4291-8AB4-D9CA392DD36B", 1, -1, 2, 3, u"bookmark_v2", 1, 0},
    {u"923F086F-BA2A-4f93-8F1C-A03FE451598B", 1, -1, 3, 1, u"startupdata", 1, 1},
    {u"8A6E3C07-7F41-4123-89AE-4A777F0E4BCC", 2, 10485760, 3, 6, u"favoricon_v2", 1, 1},
    {u"7CF27C53-9B5D-4314-BD5A-13CC4C1A1020", 1, -1, 2, 5, u"localextensions\\extdb_v2.json", 1, 1},
    {u"99015380-0E48-4f68-940F-7D7884032D55", 1, -1, 2, 1, u"UserSelectedInfo_v2", 1, 1},
    {u"4D06D287-87DD-4147-8C88-8E51D1832572", 1, -1, 2, 2, u"AutoFill_v2", 3, 1},
    {u"78366C3F-192C-4364-8709-4E03C7E58DCA", 1, -1, 2, 2, u"AutoLogin_v2", 3, 1},
};

std::u16string BstrText(BSTR text) { return text ? std::u16string(text, SysStringLen(text)) : u""; }

ATL::CComPtr<IStorageConfig> NewConfig(const char16_t* file_name, const char16_t* name) {
  ATL::CComObject<Storage::CCoStorageConfig>* object = nullptr;
  EXPECT_EQ(ATL::CComObject<Storage::CCoStorageConfig>::CreateInstance(&object), S_OK);
  ATL::CComPtr<IStorageConfig> config(object);
  config->SetFileName(file_name);
  config->SetName(name);
  return config;
}

class StorageCreaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    creater_ = base::scoped_refptr<CStorageCreater>(new CStorageCreater());
    creater_->SetBasePath(kBasePath);
    ASSERT_TRUE(creater_->LoadStorageRegistry());
  }

  base::scoped_refptr<CStorageCreater> creater_;
};

TEST_F(StorageCreaterTest, EveryRegistryRowResolvesInTableOrder) {
  ASSERT_EQ(std::size(Storage::kStorageRegistry), std::size(kExpectedRegistry));
  for (size_t i = 0; i < std::size(kExpectedRegistry); ++i) {
    const ExpectedRow& row = kExpectedRegistry[i];
    SCOPED_TRACE(testing::Message() << "row " << i + 1);
    EXPECT_EQ(std::u16string(Storage::kStorageRegistry[i].id), row.id);

    base::scoped_refptr<CStorageConfigBase> config = creater_->ResolveConfig(row.id, nullptr);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->GetCacheKind(), row.cache_kind);
    EXPECT_EQ(config->GetMemoryLimit(), row.memory_limit);
    EXPECT_EQ(config->GetSyncKind(), row.sync_kind);
    EXPECT_EQ(config->GetStorageType(), row.storage_type);
    EXPECT_EQ(config->GetFilePath(), std::u16string(kBasePath) + row.file_name);
    EXPECT_EQ(config->GetWriteMode(), row.write_mode);
    EXPECT_EQ(config->GetImportOnCreate(), row.import_on_create);
    EXPECT_EQ(config->GetName(), nullptr);
  }
}

TEST_F(StorageCreaterTest, IdentifiersMatchExactly) {
  const char16_t* const kUnknown[] = {
      nullptr,
      u"",
      u"B339787E-9764-4A14-91D0-1316008F5867",  // row 2 in upper case
      u"0e3e680b-197c-4425-bf73-7d47118eeecf",
      u"{0E3E680B-197C-4425-BF73-7D47118EEECF}",
      u"0E3E680B-197C-4425-BF73-7D47118EEECF ",
  };
  for (const char16_t* id : kUnknown) {
    SCOPED_TRACE(id ? testing::PrintToString(std::u16string(id)) : "(null)");
    EXPECT_FALSE(creater_->ResolveConfig(id, nullptr));
    IUnknown* out = reinterpret_cast<IUnknown*>(this);  // must be overwritten
    EXPECT_EQ(creater_->GetStorage(id, nullptr, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(StorageCreaterTest, CallerConfigOverridesFileNameAndName) {
  struct Case {
    const char16_t* file_name;
    const char16_t* name;
    const char16_t* expected_path;
    const char16_t* expected_name;  // null: none
  };
  const Case kCases[] = {
      {nullptr, nullptr, u"/base/userpref_v2", nullptr},
      {u"", u"", u"/base/userpref_v2", nullptr},
      {u"custom.xml", u"profile", u"/base/custom.xml", u"profile"},
      {u"sub\\file", nullptr, u"/base/sub\\file", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.expected_path)));
    ATL::CComPtr<IStorageConfig> overrides = NewConfig(c.file_name, c.name);
    base::scoped_refptr<CStorageConfigBase> config =
        creater_->ResolveConfig(Storage::kUserPrefStorageId, overrides);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->GetFilePath(), c.expected_path);
    if (c.expected_name) {
      EXPECT_EQ(BstrText(config->GetName()), c.expected_name);
    } else {
      EXPECT_EQ(config->GetName(), nullptr);
    }
  }
}

// Every registered storage opens with its synchroniser (a storage without one must not open in
// memory only, ignoring its file).
TEST(StorageCreaterBuildTest, OnlyStoragesWithASynchroniserOpen) {
  platform_test::TempFolder folder;
  ASSERT_TRUE(folder.valid());
  base::scoped_refptr<CStorageCreater> creater(new CStorageCreater());
  creater->SetBasePath(platform_test::Widen(folder.path() + "/"));
  ASSERT_TRUE(creater->LoadStorageRegistry());

  const std::set<std::u16string> kOpening = {
      Storage::kUserPrefStorageId,    Storage::kBrowserPrefStorageId,
      Storage::kStartupDataStorageId, Storage::kUserSelectedInfoStorageId,
      Storage::kBookmarkStorageId,    Storage::kFavorIconStorageId,
      Storage::kExtensionStorageId,   Storage::kAutoFillStorageId,
      Storage::kAutoLoginStorageId};
  for (const Storage::StorageRegistryEntry& entry : Storage::kStorageRegistry) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(entry.id)));
    const bool opens = kOpening.count(entry.id) > 0;
    // A null out builds nothing, so nothing is read or written for it.
    EXPECT_EQ(creater->GetStorage(entry.id, nullptr, nullptr), opens ? E_POINTER : E_FAIL);
    IUnknown* out = reinterpret_cast<IUnknown*>(&folder);
    EXPECT_EQ(creater->GetStorage(entry.id, nullptr, &out), opens ? S_OK : E_FAIL);
    if (!opens) {
      EXPECT_EQ(out, nullptr);
      continue;
    }
    ATL::CComPtr<IUnknown> first;
    first.Attach(out);
    ATL::CComPtr<IUnknown> second;
    EXPECT_EQ(creater->GetStorage(entry.id, nullptr, second.Receive()), S_OK);
    EXPECT_EQ(first.get(), second.get());
  }
  // Imports only read; the extension database's folder is made for it.
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"localextensions"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.Native("localextensions")));

  // Detaching runs each storage's final sync: one file per opened key-value and key-value-ex
  // storage, nothing else (the bookmark, icon and extension files are written only when
  // something changed).
  creater->ReleaseAllStorages();
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"userpref_v2", "browserpref_v2", "startupdata",
                                                   "UserSelectedInfo_v2", "AutoFill_v2",
                                                   "AutoLogin_v2", "localextensions"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.Native("localextensions")));

  for (int type : {-1, 0, 1, 2, 4, 5, 6, 7}) {
    IUnknown* out = nullptr;
    EXPECT_EQ(creater->CreateTempStorage(type, &out), E_FAIL) << type;
    EXPECT_EQ(out, nullptr);
  }
  // The bookmark tree: a new file-less storage on every call, whose only reference is the
  // caller's and which never waits for an import.
  ATL::CComPtr<IUnknown> first;
  ATL::CComPtr<IUnknown> second;
  ASSERT_EQ(creater->CreateTempStorage(Storage::kStorageTypeBookmarkTree, first.Receive()), S_OK);
  ASSERT_EQ(creater->CreateTempStorage(Storage::kStorageTypeBookmarkTree, second.Receive()), S_OK);
  EXPECT_NE(first.get(), second.get());
  ATL::CComPtr<IBookmarkTreeModelStorage> temp;
  ASSERT_EQ(first->QueryInterface(IID_IBookmarkTreeModelStorage, temp.ReceiveVoid()), S_OK);
  ULONG count = 1;
  EXPECT_EQ(temp->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ULONG finished = 7;
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(first->QueryInterface(IID_IStorageInfo, info.ReceiveVoid()), S_OK);
  EXPECT_EQ(info->IsImportFinished(&finished), E_FAIL);  // no file, nothing to import
  temp.Release();
  info.Release();
  EXPECT_EQ(first.Detach()->Release(), 0u);
  EXPECT_EQ(creater->CreateTempStorage(Storage::kStorageTypeBookmarkTree, nullptr), E_FAIL);
}

TEST_F(StorageCreaterTest, ReleaseAllStoragesKeepsTheRegistry) {
  creater_->ReleaseAllStorages();
  EXPECT_TRUE(creater_->ResolveConfig(Storage::kAutoLoginStorageId, nullptr));
}

TEST_F(StorageCreaterTest, GetStorageTracesItselfAndCreateStorage) {
  // A storage that fails before anything is built: the traces of the two calls only.
  for (const char16_t* id : {u"unknown"}) {
    testing_support::CapturingLogController log;
    IUnknown* out = nullptr;
    creater_->GetStorage(id, nullptr, &out);
    std::vector<testing_support::LogLine> lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    const std::u16string kTexts[] = {
        u"Storage::CStorageCreater::GetStorage() {",
        u"Storage::CStorageCreater::CreateStorage() {",
        u"} Storage::CStorageCreater::CreateStorage()",
        u"} Storage::CStorageCreater::GetStorage()",
    };
    const int kIndents[] = {0, 1, 1, 0};
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].level, 5u);
      EXPECT_EQ(lines[i].category, u"function;");
      EXPECT_EQ(lines[i].text, kTexts[i]);
      EXPECT_EQ(lines[i].indent, kIndents[i]);
    }
  }
}

TEST(StorageConfigBaseTest, DefaultsAndAccessors) {
  base::scoped_refptr<CStorageConfigBase> config(new CStorageConfigBase());
  EXPECT_EQ(config->GetFilePath(), u"");
  EXPECT_EQ(config->GetStorageType(), 0);
  EXPECT_EQ(config->GetCacheKind(), 0);
  EXPECT_EQ(config->GetMemoryLimit(), 0);
  EXPECT_EQ(config->GetSyncKind(), 0);
  EXPECT_EQ(config->GetWriteMode(), 1);
  EXPECT_EQ(config->GetImportOnCreate(), 0);
  EXPECT_EQ(config->GetName(), nullptr);

  config->SetFilePath(u"/p/f");
  config->SetStorageType(6);
  config->SetCacheKind(2);
  config->SetMemoryLimit(10485760);
  config->SetSyncKind(3);
  config->SetWriteMode(3);
  config->SetImportOnCreate(1);
  config->SetName(ATL::CComBSTR(u"name"));
  EXPECT_EQ(config->GetFilePath(), u"/p/f");
  EXPECT_EQ(config->GetStorageType(), 6);
  EXPECT_EQ(config->GetCacheKind(), 2);
  EXPECT_EQ(config->GetMemoryLimit(), 10485760);
  EXPECT_EQ(config->GetSyncKind(), 3);
  EXPECT_EQ(config->GetWriteMode(), 3);
  EXPECT_EQ(config->GetImportOnCreate(), 1);
  EXPECT_EQ(BstrText(config->GetName()), u"name");
  config->SetName(ATL::CComBSTR());
  EXPECT_EQ(config->GetName(), nullptr);
}

}  // namespace
