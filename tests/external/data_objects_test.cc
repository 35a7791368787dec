// The icon object, the extension record and the text value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::Bstr;
using objects_test::GetText;
using objects_test::New;

std::vector<BYTE> IconData(IIconObject* icon) {
  const BYTE* data = nullptr;
  INT length = -1;
  EXPECT_EQ(S_OK, icon->GetData(&data));
  EXPECT_EQ(S_OK, icon->GetDataLength(&length));
  if (length <= 0) return {};
  return std::vector<BYTE>(data, data + length);
}

TEST(IconObjectTest, FreshAndRoundTrip) {
  CComPtr<IIconObject> icon = New<IIconObject>();
  EXPECT_TRUE(IconData(icon).empty());
  EXPECT_EQ(u"", GetText(icon.get(), &IIconObject::GetFirstText));
  EXPECT_EQ(u"", GetText(icon.get(), &IIconObject::GetSecondText));
  LONGLONG time = -1;
  ASSERT_EQ(S_OK, icon->GetTime(&time));
  EXPECT_EQ(0, time);

  std::vector<BYTE> png = {0x89, 'P', 'N', 'G', 0};
  ASSERT_EQ(S_OK, icon->SetData(png.data(), static_cast<INT>(png.size())));
  png[0] = 0;  // the icon holds a copy
  ASSERT_EQ(S_OK, icon->SetFirstText(Bstr(u"https://example.org/favicon.ico")));
  ASSERT_EQ(S_OK, icon->SetSecondText(Bstr(u"example.org")));
  ASSERT_EQ(S_OK, icon->SetTime(1234567890123LL));
  EXPECT_EQ((std::vector<BYTE>{0x89, 'P', 'N', 'G', 0}), IconData(icon));
  EXPECT_EQ(u"https://example.org/favicon.ico", GetText(icon.get(), &IIconObject::GetFirstText));
  EXPECT_EQ(u"example.org", GetText(icon.get(), &IIconObject::GetSecondText));
  ASSERT_EQ(S_OK, icon->GetTime(&time));
  EXPECT_EQ(1234567890123LL, time);
}

TEST(IconObjectTest, BadDataChangesNothing) {
  CComPtr<IIconObject> icon = New<IIconObject>();
  const BYTE one = 1;
  ASSERT_EQ(S_OK, icon->SetData(&one, 1));
  EXPECT_EQ(E_INVALIDARG, icon->SetData(&one, -1));
  EXPECT_EQ(E_INVALIDARG, icon->SetData(nullptr, 3));
  EXPECT_EQ(std::vector<BYTE>{1}, IconData(icon));
  ASSERT_EQ(S_OK, icon->SetData(nullptr, 0));
  EXPECT_TRUE(IconData(icon).empty());
  EXPECT_EQ(E_POINTER, icon->GetData(nullptr));
  EXPECT_EQ(E_POINTER, icon->GetDataLength(nullptr));
  EXPECT_EQ(E_POINTER, icon->GetTime(nullptr));
}

TEST(ExtensionRecordTest, FreshAndRoundTrip) {
  CComPtr<IExtensionRecord> record = New<IExtensionRecord>();
  INT type = -1, state = -1;
  ASSERT_EQ(S_OK, record->GetType(&type));
  ASSERT_EQ(S_OK, record->GetState(&state));
  EXPECT_EQ(0, type);
  EXPECT_EQ(0, state);
  EXPECT_EQ(u"", GetText(record.get(), &IExtensionRecord::GetExtensionId));
  EXPECT_EQ(u"", GetText(record.get(), &IExtensionRecord::GetPath));
  EXPECT_EQ(u"", GetText(record.get(), &IExtensionRecord::GetManifest));

  ASSERT_EQ(S_OK, record->SetExtensionId(Bstr(u"abcdef")));
  ASSERT_EQ(S_OK, record->SetType(2));
  ASSERT_EQ(S_OK, record->SetState(-1));
  ASSERT_EQ(S_OK, record->SetPath(Bstr(u"ext/abcdef/1.0")));
  ASSERT_EQ(S_OK, record->SetManifest(Bstr(u"{\"name\":\"x\"}")));
  EXPECT_EQ(u"abcdef", GetText(record.get(), &IExtensionRecord::GetExtensionId));
  EXPECT_EQ(u"ext/abcdef/1.0", GetText(record.get(), &IExtensionRecord::GetPath));
  EXPECT_EQ(u"{\"name\":\"x\"}", GetText(record.get(), &IExtensionRecord::GetManifest));
  ASSERT_EQ(S_OK, record->GetType(&type));
  ASSERT_EQ(S_OK, record->GetState(&state));
  EXPECT_EQ(2, type);
  EXPECT_EQ(-1, state);
  EXPECT_EQ(E_POINTER, record->GetType(nullptr));
  EXPECT_EQ(E_POINTER, record->GetPath(nullptr));
}

TEST(TextValueTest, FreshAndRoundTrip) {
  CComPtr<ITextValue> value;
  ASSERT_EQ(S_OK, Util::Com::CreateObjectByInterface(kTextValueInterfaceName, value.ReceiveVoid()));
  EXPECT_EQ(u"", GetText(value.get(), &ITextValue::GetString));
  const std::u16string with_nul(u"a\0\u00e9", 3);
  ASSERT_EQ(S_OK, value->SetString(Bstr(with_nul)));
  EXPECT_EQ(with_nul, GetText(value.get(), &ITextValue::GetString));
  ASSERT_EQ(S_OK, value->SetString(nullptr));
  EXPECT_EQ(u"", GetText(value.get(), &ITextValue::GetString));
  EXPECT_EQ(E_POINTER, value->GetString(nullptr));
}

}  // namespace
