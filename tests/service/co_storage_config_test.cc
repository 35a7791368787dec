#include "storage/service/co_storage_config.h"

#include <gtest/gtest.h>

#include <string>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"

namespace {

class CoStorageConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ATL::CComObject<Storage::CCoStorageConfig>* object = nullptr;
    ASSERT_EQ(ATL::CComObject<Storage::CCoStorageConfig>::CreateInstance(&object), S_OK);
    config_ = object;
  }

  ATL::CComPtr<IStorageConfig> config_;
};

using Getter = HRESULT (IStorageConfig::*)(BSTR*);
using Setter = HRESULT (IStorageConfig::*)(LPCWSTR);
struct Accessors {
  const char* name;
  Getter get;
  Setter set;
};
const Accessors kAccessors[] = {
    {"file name", &IStorageConfig::GetFileName, &IStorageConfig::SetFileName},
    {"name", &IStorageConfig::GetName, &IStorageConfig::SetName},
};

TEST_F(CoStorageConfigTest, StringsStartNullAndAreCopiedBothWays) {
  for (const Accessors& a : kAccessors) {
    SCOPED_TRACE(a.name);
    IStorageConfig* config = config_.get();
    ATL::CComBSTR value;
    EXPECT_EQ((config->*a.get)(value.Receive()), S_OK);
    EXPECT_EQ(value.get(), nullptr);
    EXPECT_EQ((config->*a.get)(nullptr), E_INVALIDARG);

    std::u16string input = u"userpref_custom";
    EXPECT_EQ((config->*a.set)(input.c_str()), S_OK);
    input[0] = u'X';  // the object keeps its own copy
    ATL::CComBSTR first;
    ATL::CComBSTR second;
    EXPECT_EQ((config->*a.get)(first.Receive()), S_OK);
    EXPECT_EQ((config->*a.get)(second.Receive()), S_OK);
    EXPECT_EQ(std::u16string(first.get(), first.Length()), u"userpref_custom");
    EXPECT_NE(first.get(), second.get());  // each call hands out a new copy

    EXPECT_EQ((config->*a.set)(u""), S_OK);
    EXPECT_EQ((config->*a.get)(value.Receive()), S_OK);
    ASSERT_NE(value.get(), nullptr);
    EXPECT_EQ(value.Length(), 0u);

    EXPECT_EQ((config->*a.set)(nullptr), S_OK);
    EXPECT_EQ((config->*a.get)(value.Receive()), S_OK);
    EXPECT_EQ(value.get(), nullptr);
  }
  // The two strings are independent.
  config_->SetFileName(u"f");
  ATL::CComBSTR name;
  config_->GetName(name.Receive());
  EXPECT_EQ(name.get(), nullptr);
}

TEST_F(CoStorageConfigTest, AnswersItsInterfacesAndNoTypeInfo) {
  ATL::CComPtr<IProvideClassInfo> class_info;
  ASSERT_EQ(config_.QueryInterface(class_info.Receive()), S_OK);
  EXPECT_EQ(class_info->GetClassInfo(nullptr), E_NOTIMPL);

  ATL::CComPtr<IUnknown> from_config;
  ATL::CComPtr<IUnknown> from_class_info;
  ASSERT_EQ(config_.QueryInterface(from_config.Receive()), S_OK);
  ASSERT_EQ(class_info.QueryInterface(from_class_info.Receive()), S_OK);
  EXPECT_EQ(from_config.get(), from_class_info.get());

  ATL::CComPtr<IStorageServiceEx> service;
  EXPECT_EQ(config_.QueryInterface(service.Receive()), E_NOINTERFACE);
}

}  // namespace
