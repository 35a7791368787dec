#include "browserplatform/oleauto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using ScopedBstr = std::unique_ptr<OLECHAR, BstrFree>;

std::u16string Contents(BSTR text) { return std::u16string(text, SysStringLen(text)); }

TEST(BstrTest, LengthsComeFromThePrefixAndCountEmbeddedNuls) {
  ScopedBstr plain(SysAllocString(u"h\u00E9llo"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(SysStringLen(plain.get()), 5u);
  EXPECT_EQ(SysStringByteLen(plain.get()), 10u);
  EXPECT_EQ(plain.get()[5], u'\0');
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(plain.get()) - 4, 4);
  EXPECT_EQ(prefix, 10u);

  ScopedBstr embedded(SysAllocStringLen(u"a\0b", 3));
  ASSERT_TRUE(embedded);
  EXPECT_EQ(SysStringLen(embedded.get()), 3u);
  EXPECT_EQ(SysStringByteLen(embedded.get()), 6u);
  EXPECT_EQ(Contents(embedded.get()), std::u16string(u"a\0b", 3));
  EXPECT_EQ(embedded.get()[3], u'\0');

  ScopedBstr empty(SysAllocString(u""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
  EXPECT_EQ(empty.get()[0], u'\0');
}

TEST(BstrTest, NullInputsAndNullStrings) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  ScopedBstr zeros(SysAllocStringLen(nullptr, 4));
  ASSERT_TRUE(zeros);
  EXPECT_EQ(Contents(zeros.get()), std::u16string(4, u'\0'));
}

TEST(BstrTest, ByteLengthMayBeOddAndIsStillTerminated) {
  ScopedBstr odd(SysAllocStringByteLen("abc", 3));
  ASSERT_TRUE(odd);
  EXPECT_EQ(SysStringByteLen(odd.get()), 3u);
  EXPECT_EQ(SysStringLen(odd.get()), 1u);
  const char* bytes = reinterpret_cast<const char*>(odd.get());
  EXPECT_EQ(std::string(bytes, 5), std::string("abc\0\0", 5));

  ScopedBstr zeroed(SysAllocStringByteLen(nullptr, 5));
  ASSERT_TRUE(zeroed);
  EXPECT_EQ(SysStringByteLen(zeroed.get()), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(zeroed.get()), 7), std::string(7, '\0'));
}

TEST(BstrTest, ReAllocReplacesAndMayReadFromTheOldString) {
  BSTR text = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocString(&text, text + 6));
  EXPECT_EQ(Contents(text), u"world");
  ASSERT_TRUE(SysReAllocStringLen(&text, text + 1, 3));
  EXPECT_EQ(Contents(text), u"orl");
  // A null source keeps what fits and zero-fills the rest.
  ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 5));
  EXPECT_EQ(Contents(text), std::u16string(u"orl\0\0", 5));
  ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 2));
  EXPECT_EQ(Contents(text), u"or");
  ASSERT_TRUE(SysReAllocString(&text, nullptr));
  EXPECT_EQ(text, nullptr);
  ASSERT_TRUE(SysReAllocStringLen(&text, u"new", 3));
  EXPECT_EQ(Contents(text), u"new");
  SysFreeString(text);

  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  EXPECT_FALSE(SysReAllocStringLen(nullptr, u"x", 1));
}

TEST(BstrTest, OversizedRequestsReturnNullWithoutAllocating) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);  // byte length wraps 32 bits
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);  // exactly 2^32 bytes
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x40000000u), nullptr);  // 2^31 bytes
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0x80000000u), nullptr);

  BSTR text = SysAllocString(u"kept");
  EXPECT_FALSE(SysReAllocStringLen(&text, nullptr, 0xFFFFFFFFu));
  EXPECT_EQ(Contents(text), u"kept");
  SysFreeString(text);
}

}  // namespace
