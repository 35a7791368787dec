// The icon storage COM object: argument checks, the detached state, IStorageInfo, and the
// key-ownership contract (every key BSTR freed by the method, exactly once; under the asan
// preset a leak or a double free fails the run).
#include "storage/icon/icon_storage_base.h"

#include <gtest/gtest.h>

#include <string>

#include "browserplatform/oleauto.h"
#include "storage/sync/storage_config_base.h"
#include "tests/common/manual_synchroniser.h"
#include "tests/icon/icon_cache_test_util.h"

namespace {

using icon_test::NewIcon;
using icon_test::TestIconCache;

// A fresh BSTR to hand over: the method frees it.
BSTR Key(const std::u16string& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

base::scoped_refptr<Storage::CStorageConfigBase> IconConfig() {
  base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
  config->SetFilePath(u"unused");
  config->SetStorageType(6);
  config->SetCacheKind(Storage::kCacheKindMemoryLimited);
  config->SetMemoryLimit(10485760);
  config->SetSyncKind(Storage::kSyncKindBinaryFile);
  return config;
}

class IconStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    sync_->SetImported();
    ATL::CComObject<Storage::CIconStorageBase>* object = nullptr;
    ASSERT_EQ(ATL::CComObject<Storage::CIconStorageBase>::CreateInstance(&object), S_OK);
    unknown_ = object->GetUnknown();
    object_ = object;
    ASSERT_EQ(object_->Attach(config_.get(), cache_.get()), S_OK);
    ASSERT_EQ(unknown_->QueryInterface(IID_IIconStorage, storage_.ReceiveVoid()), S_OK);
    ASSERT_EQ(unknown_->QueryInterface(IID_IStorageInfo, info_.ReceiveVoid()), S_OK);
  }

  base::scoped_refptr<storage_test::ManualSynchroniser> sync_{
      new storage_test::ManualSynchroniser()};
  base::scoped_refptr<TestIconCache> cache_{new TestIconCache(10485760, sync_.get())};
  base::scoped_refptr<Storage::CStorageConfigBase> config_ = IconConfig();
  ATL::CComPtr<IUnknown> unknown_;
  Storage::CIconStorageBase* object_ = nullptr;
  ATL::CComPtr<IIconStorage> storage_;
  ATL::CComPtr<IStorageInfo> info_;
};

TEST_F(IconStorageTest, StoresReadsAndAnswersAbsentKeysWithNull) {
  ATL::CComPtr<IIconObject> icon = NewIcon(4, 77);
  ASSERT_EQ(storage_->SetIcon(Key(u"https://a/favicon.ico"), icon), S_OK);
  ATL::CComPtr<IIconObject> read;
  ASSERT_EQ(storage_->GetIcon(Key(u"https://a/favicon.ico"), read.Receive()), S_OK);
  EXPECT_EQ(read.get(), icon.get());  // the object itself
  BOOL exists = 0;
  ASSERT_EQ(storage_->HasIcon(Key(u"https://a/favicon.ico"), &exists), S_OK);
  EXPECT_EQ(exists, 1);

  IIconObject* absent = read.get();  // overwritten with null
  ASSERT_EQ(storage_->GetIcon(Key(u"https://b/"), &absent), S_OK);
  EXPECT_EQ(absent, nullptr);
  ASSERT_EQ(storage_->HasIcon(Key(u"https://b/"), &exists), S_OK);
  EXPECT_EQ(exists, 0);
}

TEST_F(IconStorageTest, AKeyEndsAtItsFirstNulWhateverItsLength) {
  ASSERT_EQ(storage_->SetIcon(Key(std::u16string(u"key\0tail", 8)), NewIcon(1)), S_OK);
  BOOL exists = 0;
  ASSERT_EQ(storage_->HasIcon(Key(u"key"), &exists), S_OK);
  EXPECT_EQ(exists, 1);
  // A key of only a NUL is empty.
  EXPECT_EQ(storage_->SetIcon(Key(std::u16string(u"\0x", 2)), NewIcon(1)), E_STORAGE_INVALIDARG);
}

TEST_F(IconStorageTest, BadArgumentsAndTheDetachedStorageFreeTheKeyToo) {
  ATL::CComPtr<IIconObject> icon;
  BOOL exists = 0;
  EXPECT_EQ(storage_->GetIcon(Key(u""), icon.Receive()), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetIcon(nullptr, icon.Receive()), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetIcon(Key(u"k"), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->SetIcon(Key(u""), NewIcon(1)), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->SetIcon(Key(u"k"), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->HasIcon(Key(u""), &exists), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->HasIcon(Key(u"k"), nullptr), E_STORAGE_INVALIDARG);
  ULONG flag = 9;
  EXPECT_EQ(info_->IsImportFailed(nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(info_->IsImportFinished(nullptr), E_STORAGE_INVALIDARG);
  ASSERT_EQ(info_->IsImportFinished(&flag), S_OK);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(info_->IsImportFailed(&flag), S_OK);
  EXPECT_EQ(flag, 0u);
  EXPECT_TRUE(sync_->pending_changes_for_testing().empty());

  ASSERT_EQ(object_->Detach(), S_OK);
  EXPECT_EQ(storage_->GetIcon(Key(u"k"), icon.Receive()), E_FAIL);
  EXPECT_EQ(storage_->SetIcon(Key(u"k"), NewIcon(1)), E_FAIL);
  EXPECT_EQ(storage_->HasIcon(Key(u"k"), &exists), E_FAIL);
  flag = 9;
  EXPECT_EQ(info_->IsImportFailed(&flag), E_FAIL);
  EXPECT_EQ(info_->IsImportFinished(&flag), E_FAIL);
  EXPECT_EQ(flag, 9u);
}

TEST_F(IconStorageTest, AttachRefusesWhatIsNotAnIconCache) {
  EXPECT_EQ(object_->Attach(config_.get(), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(object_->Attach(nullptr, cache_.get()), E_STORAGE_INVALIDARG);
  // The cache attached before stays.
  EXPECT_EQ(storage_->SetIcon(Key(u"k"), NewIcon(1)), S_OK);
}

TEST(IconCacheCreateTest, MakesAMemoryLimitedCacheForCacheKindTwoOnly) {
  auto config = IconConfig();
  base::scoped_refptr<Storage::CIconStorageCacheBase> cache =
      Storage::CIconStorageCacheBase::create(config.get(), nullptr, nullptr);
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->GetMemoryLimit(), 10485760);
  config->SetCacheKind(Storage::kCacheKindFull);
  EXPECT_FALSE(Storage::CIconStorageCacheBase::create(config.get(), nullptr, nullptr));
  EXPECT_FALSE(Storage::CIconStorageCacheBase::create(nullptr, nullptr, nullptr));
}

}  // namespace
