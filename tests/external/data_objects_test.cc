// The plain properties of the icon object, the extension record, the text value and the tree
// node, one table for all: what a fresh object holds, what a setter keeps, what a null output
// gets. The icon's data has its own rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::Bstr;
using objects_test::New;

// One property of one kind of object, reached through IUnknown so that a table can hold all.
template <class Value>
struct Property {
  const char* object;  // properties with the same object name live on one kind of object
  const char* name;
  std::function<CComPtr<IUnknown>()> make;
  std::function<HRESULT(IUnknown*, Value*)> get;
  std::function<HRESULT(IUnknown*, Value)> set;
};
using TextProperty = Property<BSTR>;
using NumberProperty = Property<LONGLONG>;

template <class I>
CComPtr<IUnknown> Make() {
  CComPtr<I> object = New<I>();
  return CComPtr<IUnknown>(static_cast<IUnknown*>(object.get()));
}

template <class I>
TextProperty Text(const char* object, const char* name, HRESULT (I::*get)(BSTR*),
                  HRESULT (I::*set)(BSTR)) {
  return {object, name, &Make<I>,
          [get](IUnknown* o, BSTR* out) { return (static_cast<I*>(o)->*get)(out); },
          [set](IUnknown* o, BSTR in) { return (static_cast<I*>(o)->*set)(in); }};
}

// Numbers of any width, carried as LONGLONG; `Stored` is the property's own type.
template <class I, class Stored>
NumberProperty Number(const char* object, const char* name, HRESULT (I::*get)(Stored*),
                      HRESULT (I::*set)(Stored)) {
  return {object, name, &Make<I>,
          [get](IUnknown* o, LONGLONG* out) {
            if (out == nullptr) return (static_cast<I*>(o)->*get)(nullptr);
            Stored value = 0;
            HRESULT hr = (static_cast<I*>(o)->*get)(&value);
            *out = value;
            return hr;
          },
          [set](IUnknown* o, LONGLONG in) {
            return (static_cast<I*>(o)->*set)(static_cast<Stored>(in));
          }};
}

const std::vector<TextProperty>& TextProperties() {
  static const std::vector<TextProperty> properties = {
      Text("icon", "first text", &IIconObject::GetFirstText, &IIconObject::SetFirstText),
      Text("icon", "second text", &IIconObject::GetSecondText, &IIconObject::SetSecondText),
      Text("extension", "id", &IExtensionRecord::GetExtensionId, &IExtensionRecord::SetExtensionId),
      Text("extension", "path", &IExtensionRecord::GetPath, &IExtensionRecord::SetPath),
      Text("extension", "manifest", &IExtensionRecord::GetManifest, &IExtensionRecord::SetManifest),
      Text("text value", "string", &ITextValue::GetString, &ITextValue::SetString),
      Text("tree node", "id", &ITreeNode::GetId, &ITreeNode::SetId),
      Text("tree node", "parent id", &ITreeNode::GetParentId, &ITreeNode::SetParentId),
  };
  return properties;
}

const std::vector<NumberProperty>& NumberProperties() {
  static const std::vector<NumberProperty> properties = {
      Number("icon", "time", &IIconObject::GetTime, &IIconObject::SetTime),
      Number("extension", "type", &IExtensionRecord::GetType, &IExtensionRecord::SetType),
      Number("extension", "state", &IExtensionRecord::GetState, &IExtensionRecord::SetState),
  };
  return properties;
}

// The text a property holds; the getter must answer S_OK with a new, non-null BSTR.
std::u16string Read(const TextProperty& p, IUnknown* object) {
  ATL::CComBSTR text;
  EXPECT_EQ(S_OK, p.get(object, text.Receive()));
  EXPECT_NE(nullptr, text.get());
  return std::u16string(text.get() ? text.get() : u"", text.Length());
}

LONGLONG Read(const NumberProperty& p, IUnknown* object) {
  LONGLONG value = -7;
  EXPECT_EQ(S_OK, p.get(object, &value));
  return value;
}

TEST(DataObjectPropertyTest, TextStartsEmptyAndKeepsItsOwnCopy) {
  const std::u16string kTexts[] = {u"https://example.org/favicon.ico", u"{\"name\":\"x\"}",
                                   std::u16string(u"a\0\u00e9\U0001F600", 5)};
  for (const TextProperty& p : TextProperties()) {
    SCOPED_TRACE(testing::Message() << p.object << " " << p.name);
    CComPtr<IUnknown> object = p.make();
    EXPECT_EQ(u"", Read(p, object));
    for (const std::u16string& text : kTexts) {
      {
        ATL::CComBSTR given = Bstr(text);
        ASSERT_EQ(S_OK, p.set(object, given.get()));
      }  // the caller's string is gone: the object kept a copy
      EXPECT_EQ(text, Read(p, object));
    }
    ASSERT_EQ(S_OK, p.set(object, nullptr));
    EXPECT_EQ(u"", Read(p, object)) << "null clears";
    EXPECT_EQ(E_POINTER, p.get(object, nullptr));
  }
}

TEST(DataObjectPropertyTest, NumbersStartAtZeroAndKeepWhatIsSet) {
  for (const NumberProperty& p : NumberProperties()) {
    SCOPED_TRACE(testing::Message() << p.object << " " << p.name);
    CComPtr<IUnknown> object = p.make();
    EXPECT_EQ(0, Read(p, object));
    for (LONGLONG value : {LONGLONG{-1}, LONGLONG{2}, LONGLONG{std::numeric_limits<INT>::max()},
                           LONGLONG{std::numeric_limits<INT>::min()}}) {
      ASSERT_EQ(S_OK, p.set(object, value));
      EXPECT_EQ(value, Read(p, object));
    }
    EXPECT_EQ(E_POINTER, p.get(object, nullptr));
  }
  // The icon's time is 64 bits wide.
  CComPtr<IIconObject> icon = New<IIconObject>();
  ASSERT_EQ(S_OK, icon->SetTime(1234567890123LL));
  LONGLONG time = 0;
  ASSERT_EQ(S_OK, icon->GetTime(&time));
  EXPECT_EQ(1234567890123LL, time);
}

// Every property of an object keeps its own value: no setter writes a neighbour.
TEST(DataObjectPropertyTest, EachSetterKeepsItsOwnProperty) {
  std::map<std::string, CComPtr<IUnknown>> objects;
  auto value_of = [](const auto& p) {
    std::string ascii = std::string(p.object) + " " + p.name;
    return std::u16string(ascii.begin(), ascii.end());
  };
  for (const TextProperty& p : TextProperties()) {
    CComPtr<IUnknown>& object = objects[p.object];
    if (!object) object = p.make();
    ASSERT_EQ(S_OK, p.set(object, Bstr(value_of(p)))) << p.name;
  }
  LONGLONG number = 0;
  for (const NumberProperty& p : NumberProperties()) {
    CComPtr<IUnknown>& object = objects[p.object];
    if (!object) object = p.make();
    ASSERT_EQ(S_OK, p.set(object, ++number)) << p.name;
  }
  for (const TextProperty& p : TextProperties()) {
    EXPECT_EQ(value_of(p), Read(p, objects[p.object])) << p.object << " " << p.name;
  }
  number = 0;
  for (const NumberProperty& p : NumberProperties()) {
    EXPECT_EQ(++number, Read(p, objects[p.object])) << p.object << " " << p.name;
  }
}

std::vector<BYTE> IconData(IIconObject* icon) {
  const BYTE* data = nullptr;
  INT length = -1;
  EXPECT_EQ(S_OK, icon->GetData(&data));
  EXPECT_EQ(S_OK, icon->GetDataLength(&length));
  if (length <= 0) return {};
  return std::vector<BYTE>(data, data + length);
}

TEST(IconObjectTest, DataIsCopiedAndBadDataChangesNothing) {
  CComPtr<IIconObject> icon = New<IIconObject>();
  EXPECT_TRUE(IconData(icon).empty());
  std::vector<BYTE> png = {0x89, 'P', 'N', 'G', 0};
  ASSERT_EQ(S_OK, icon->SetData(png.data(), static_cast<INT>(png.size())));
  png[0] = 0;  // the icon holds a copy
  EXPECT_EQ((std::vector<BYTE>{0x89, 'P', 'N', 'G', 0}), IconData(icon));

  const BYTE one = 1;
  ASSERT_EQ(S_OK, icon->SetData(&one, 1));
  EXPECT_EQ(E_INVALIDARG, icon->SetData(&one, -1));
  EXPECT_EQ(E_INVALIDARG, icon->SetData(nullptr, 3));
  EXPECT_EQ(std::vector<BYTE>{1}, IconData(icon));
  ASSERT_EQ(S_OK, icon->SetData(nullptr, 0));
  EXPECT_TRUE(IconData(icon).empty());
  EXPECT_EQ(E_POINTER, icon->GetData(nullptr));
  EXPECT_EQ(E_POINTER, icon->GetDataLength(nullptr));
}

}  // namespace
