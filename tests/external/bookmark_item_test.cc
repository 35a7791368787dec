#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::Bstr;
using objects_test::GetText;
using objects_test::New;

struct StringProperty {
  const char* name;
  HRESULT (IBookmarkItem::*get)(BSTR*);
  HRESULT (IBookmarkItem::*set)(BSTR);
};
const StringProperty kStrings[] = {
    {"id", &IBookmarkItem::GetId, &IBookmarkItem::SetId},
    {"title", &IBookmarkItem::GetTitle, &IBookmarkItem::SetTitle},
    {"parent id", &IBookmarkItem::GetParentId, &IBookmarkItem::SetParentId},
    {"url", &IBookmarkItem::GetUrl, &IBookmarkItem::SetUrl},
    {"icon url", &IBookmarkItem::GetIconUrl, &IBookmarkItem::SetIconUrl},
    {"note", &IBookmarkItem::GetNote, &IBookmarkItem::SetNote},
};

struct NumberProperty {
  const char* name;
  HRESULT (IBookmarkItem::*get)(LONGLONG*);
  HRESULT (IBookmarkItem::*set)(LONGLONG);
};
const NumberProperty kNumbers[] = {
    {"kind", &IBookmarkItem::GetKind, &IBookmarkItem::SetKind},
    {"last access", &IBookmarkItem::GetLastAccessTime, &IBookmarkItem::SetLastAccessTime},
    {"system default", &IBookmarkItem::GetSystemDefault, &IBookmarkItem::SetSystemDefault},
    {"time added", &IBookmarkItem::GetTimeAdded, &IBookmarkItem::SetTimeAdded},
    {"origin", &IBookmarkItem::GetOrigin, &IBookmarkItem::SetOrigin},
    {"sort position", &IBookmarkItem::GetSortPosition, &IBookmarkItem::SetSortPosition},
};

LONGLONG Number(IBookmarkItem* item, HRESULT (IBookmarkItem::*get)(LONGLONG*)) {
  LONGLONG value = -1;
  EXPECT_EQ(S_OK, (item->*get)(&value));
  return value;
}

LONG AccessCount(IBookmarkItem* item) {
  LONG count = -1;
  EXPECT_EQ(S_OK, item->GetAccessCount(&count));
  return count;
}

// A value of the property's own, different for every property and seed.
std::u16string TextFor(const StringProperty& p, int seed) {
  std::u16string text(p.name, p.name + std::char_traits<char>::length(p.name));
  return text + static_cast<char16_t>(u'0' + seed);
}
LONGLONG NumberFor(size_t index, int seed) { return (LONGLONG{seed} << 40) + index + 1; }

void Fill(IBookmarkItem* item, int seed) {
  for (const StringProperty& p : kStrings) {
    ASSERT_EQ(S_OK, (item->*p.set)(Bstr(TextFor(p, seed)))) << p.name;
  }
  for (size_t i = 0; i < std::size(kNumbers); ++i) {
    ASSERT_EQ(S_OK, (item->*kNumbers[i].set)(NumberFor(i, seed))) << kNumbers[i].name;
  }
  ASSERT_EQ(S_OK, item->SetAccessCount(-seed));
}

void ExpectSameProperties(IBookmarkItem* a, IBookmarkItem* b) {
  for (const StringProperty& p : kStrings) {
    EXPECT_EQ(GetText(a, p.get), GetText(b, p.get)) << p.name;
  }
  for (const NumberProperty& p : kNumbers) {
    EXPECT_EQ(Number(a, p.get), Number(b, p.get)) << p.name;
  }
  EXPECT_EQ(AccessCount(a), AccessCount(b));
}

TEST(BookmarkItemTest, FreshItemHasZerosAndEmptyStrings) {
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  for (const StringProperty& p : kStrings) EXPECT_EQ(u"", GetText(item.get(), p.get)) << p.name;
  for (const NumberProperty& p : kNumbers) EXPECT_EQ(0, Number(item, p.get)) << p.name;
  EXPECT_EQ(0, AccessCount(item));
}

TEST(BookmarkItemTest, SettersKeepTheirOwnProperty) {
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  Fill(item, 3);
  for (const StringProperty& p : kStrings) {
    EXPECT_EQ(TextFor(p, 3), GetText(item.get(), p.get)) << p.name;
  }
  for (size_t i = 0; i < std::size(kNumbers); ++i) {
    EXPECT_EQ(NumberFor(i, 3), Number(item, kNumbers[i].get)) << kNumbers[i].name;
  }
  EXPECT_EQ(-3, AccessCount(item));

  const std::u16string with_nul(u"x\0y", 3);
  ASSERT_EQ(S_OK, item->SetUrl(Bstr(with_nul)));
  EXPECT_EQ(with_nul, GetText(item.get(), &IBookmarkItem::GetUrl));
  ASSERT_EQ(S_OK, item->SetUrl(nullptr));
  EXPECT_EQ(u"", GetText(item.get(), &IBookmarkItem::GetUrl));
}

TEST(BookmarkItemTest, CopyIsEqualAndIndependent) {
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  Fill(item, 5);
  CComPtr<IBookmarkItem> copy;
  ASSERT_EQ(S_OK, item->Copy(copy.Receive()));
  ASSERT_NE(item.get(), copy.get());
  ExpectSameProperties(item, copy);

  Fill(copy, 6);
  CComPtr<IBookmarkItem> reference = New<IBookmarkItem>();
  Fill(reference, 5);
  ExpectSameProperties(item, reference);
  EXPECT_EQ(E_POINTER, item->Copy(nullptr));
}

TEST(BookmarkItemTest, BothFacesOfOneObject) {
  for (const IID* created_as : {&IID_IBookmarkItem, &IID_IBookmarkItemProperty}) {
    CComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, Util::Com::CreateObjectByIID(*created_as, object.ReceiveVoid()));
    CComPtr<IBookmarkItem> read;
    CComPtr<IBookmarkItemProperty> property;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IBookmarkItem, read.ReceiveVoid()));
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IBookmarkItemProperty, property.ReceiveVoid()));
    ASSERT_EQ(S_OK, property->SetKind(kBookmarkKindUrl));
    EXPECT_EQ(kBookmarkKindUrl, Number(read, &IBookmarkItem::GetKind));

    CComPtr<IUnknown> from_read, from_property;
    ASSERT_EQ(S_OK, read->QueryInterface(IID_IUnknown, from_read.ReceiveVoid()));
    ASSERT_EQ(S_OK, property->QueryInterface(IID_IUnknown, from_property.ReceiveVoid()));
    EXPECT_EQ(from_read.get(), from_property.get());
  }
}

TEST(BookmarkItemTest, NullOutputs) {
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  for (const StringProperty& p : kStrings) EXPECT_EQ(E_POINTER, (item->*p.get)(nullptr)) << p.name;
  for (const NumberProperty& p : kNumbers) EXPECT_EQ(E_POINTER, (item->*p.get)(nullptr)) << p.name;
  EXPECT_EQ(E_POINTER, item->GetAccessCount(nullptr));
}

}  // namespace
