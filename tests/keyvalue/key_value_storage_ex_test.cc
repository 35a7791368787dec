// The key-value-ex storage object over its cache: arguments, results, the lists it hands out,
// what it records, and its interface identities.
#include "storage/keyvalue/key_value_storage_ex_base.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browserstorage/result_codes.h"
#include "storage/sync/storage_sync_base.h"
#include "tests/keyvalue/key_value_ex_test_util.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bstr;
using kvex_test::NewText;
using kvex_test::Strings;
using kvex_test::TextOf;
using Storage::CKeyValueStorageExCacheBase;

// A storage whose file is in a folder that does not exist: it starts empty and never writes.
class KeyValueExStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = kvex_test::ExConfig(u"/nonexistent/folder/ex");
    cache_ = CKeyValueStorageExCacheBase::create(config_.get(), nullptr, nullptr);
    ASSERT_TRUE(cache_);
    storage_ = kvex_test::NewStorage(config_.get(), cache_.get());
  }

  std::vector<int> RecordedOps() {
    std::vector<int> ops;
    for (const Storage::PendingChange& change :
         cache_->synchroniser()->pending_changes_for_testing()) {
      ops.push_back(change.op);
    }
    return ops;
  }

  base::scoped_refptr<Storage::CStorageConfigBase> config_;
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache_;
  ATL::CComPtr<IKeyValueStorageEx> storage_;
};

TEST_F(KeyValueExStorageTest, GetValueCopiesTheStoredTextIntoTheCallersObject) {
  ATL::CComPtr<ITextValue> stored = NewText(u"secret");
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), stored), S_OK);
  const ULONG references = kv_test::RefCount(stored);
  ATL::CComPtr<ITextValue> out = NewText(u"old");
  ASSERT_EQ(storage_->GetValue(Bstr(u"k"), out), S_OK);
  EXPECT_EQ(TextOf(out), u"secret");
  EXPECT_EQ(kv_test::RefCount(stored), references);  // none handed out or kept

  ATL::CComPtr<ITextValue> untouched = NewText(u"old");
  EXPECT_EQ(storage_->GetValue(Bstr(u"absent"), untouched), E_FAIL);
  EXPECT_EQ(TextOf(untouched), u"old");
  // A key with an embedded NUL names the part before it.
  EXPECT_EQ(storage_->GetValue(Bstr(std::u16string(u"k\0x", 3)), untouched), S_OK);
  EXPECT_EQ(TextOf(untouched), u"secret");
}

TEST_F(KeyValueExStorageTest, InvalidArgumentsAndMissingKeys) {
  ATL::CComPtr<ITextValue> value = NewText(u"v");
  IObjectList* list = nullptr;
  EXPECT_EQ(storage_->GetValue(nullptr, value), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetValue(Bstr(u""), value), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetValue(Bstr(u"k"), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->SetValue(Bstr(u""), value), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->SetValue(Bstr(u"k"), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->RemoveValue(Bstr(std::u16string(u"\0k", 2))), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->RemoveValue(Bstr(u"absent")), E_FAIL);
  EXPECT_EQ(storage_->GetAllKeys(nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetAllValues(nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(RecordedOps().empty());
}

// Every SetValue is a change, the same object stored again included; remove and clear record
// theirs.
TEST_F(KeyValueExStorageTest, EverySetRecordsAChange) {
  ATL::CComPtr<ITextValue> value = NewText(u"v");
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), value), S_OK);
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), value), S_OK);
  ASSERT_EQ(storage_->RemoveValue(Bstr(u"k")), S_OK);
  ASSERT_EQ(storage_->Clear(), S_OK);
  EXPECT_EQ(RecordedOps(), (std::vector<int>{1, 1, 2, 3}));
}

TEST_F(KeyValueExStorageTest, ListsHoldTheKeysAndTheStoredObjectsInKeyOrder) {
  ATL::CComPtr<IObjectList> keys;
  ATL::CComPtr<IObjectList> values;
  ASSERT_EQ(storage_->GetAllKeys(keys.Receive()), S_OK);
  ASSERT_EQ(storage_->GetAllValues(values.Receive()), S_OK);
  ASSERT_TRUE(keys && values);
  EXPECT_TRUE(Strings(keys).empty());
  UINT count = 9;
  EXPECT_EQ(values->Count(&count), S_OK);
  EXPECT_EQ(count, 0u);

  const std::vector<std::u16string> kKeys = {u"b", u"B", u"a"};
  std::vector<ATL::CComPtr<ITextValue>> stored;
  for (const std::u16string& key : kKeys) {
    stored.push_back(NewText(key + u" text"));
    ASSERT_EQ(storage_->SetValue(Bstr(key), stored.back()), S_OK);
  }
  keys.Release();
  values.Release();
  ASSERT_EQ(storage_->GetAllKeys(keys.Receive()), S_OK);
  ASSERT_EQ(storage_->GetAllValues(values.Receive()), S_OK);
  EXPECT_EQ(Strings(keys), (std::vector<std::u16string>{u"B", u"a", u"b"}));
  ASSERT_EQ(values->Count(&count), S_OK);
  ASSERT_EQ(count, 3u);
  const ITextValue* const kExpected[] = {stored[1], stored[2], stored[0]};
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<ITextValue> element;
    ASSERT_EQ(values->GetAt(i, IID_ITextValue, element.ReceiveVoid()), S_OK);
    EXPECT_EQ(element.get(), kExpected[i]) << i;
  }
}

// The key-value identifier yields the ex table; IStorageInfo is the second interface.
TEST_F(KeyValueExStorageTest, AnswersTheKeyValueIdentifierWithItsOwnTable) {
  void* by_key_value_iid = nullptr;
  ASSERT_EQ(storage_->QueryInterface(IID_IKeyValueStorage, &by_key_value_iid), S_OK);
  EXPECT_EQ(by_key_value_iid, static_cast<void*>(storage_.get()));
  static_cast<IUnknown*>(by_key_value_iid)->Release();

  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(storage_.QueryInterface(info.Receive()), S_OK);
  EXPECT_NE(static_cast<void*>(info.get()), static_cast<void*>(storage_.get()));
  ULONG flag = 7;
  EXPECT_EQ(info->IsImportFinished(&flag), S_OK);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(info->IsImportFailed(&flag), S_OK);
  EXPECT_EQ(flag, 0u);  // no file: a first start
  void* other = nullptr;
  EXPECT_EQ(storage_->QueryInterface(IID_IValueObject, &other), E_NOINTERFACE);
}

TEST_F(KeyValueExStorageTest, ADetachedStorageFailsKeyedCallsAndListsNothing) {
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), NewText(u"v")), S_OK);
  auto* object = static_cast<Storage::CKeyValueStorageExBase*>(storage_.get());
  ASSERT_EQ(object->Detach(), S_OK);
  ATL::CComPtr<ITextValue> value = NewText(u"v");
  EXPECT_EQ(storage_->GetValue(Bstr(u"k"), value), E_FAIL);
  EXPECT_EQ(storage_->SetValue(Bstr(u"k"), value), E_FAIL);
  EXPECT_EQ(storage_->RemoveValue(Bstr(u"k")), E_FAIL);
  EXPECT_EQ(storage_->Clear(), S_OK);
  ATL::CComPtr<IObjectList> keys;
  ASSERT_EQ(storage_->GetAllKeys(keys.Receive()), S_OK);
  EXPECT_TRUE(Strings(keys).empty());
  // Attach wants a configuration and a key-value-ex cache.
  EXPECT_EQ(object->Attach(nullptr, cache_.get()), E_STORAGE_INVALIDARG);
  EXPECT_EQ(object->Attach(config_.get(), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(object->Attach(config_.get(), cache_.get()), S_OK);
  EXPECT_EQ(storage_->GetValue(Bstr(u"k"), value), S_OK);
}

}  // namespace
