#include "base/string_conversions.h"

#include <gtest/gtest.h>

#include "browserplatform/stringapiset.h"

namespace {

TEST(HexTest, DecodingRules) {
  struct Case {
    std::u16string text;
    bool ok;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {u"", true, {}},
      {u"0A", true, {10}},
      {u"0a", true, {10}},
      {u"ff00", true, {0xFF, 0x00}},
      {u"FfEe", true, {0xFF, 0xEE}},
      {u"0g", false, {}},   // 'g' is 16
      {u"0z", false, {}},   // 'z' is 35
      {u"0-", false, {}},   // anything else is 17
      {u"abc", false, {}},  // odd length: the NUL completes the last pair
      {u"a", false, {}},
      {u"0 ", false, {}},
      {std::u16string(u"0\0", 2), false, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_EQ(base::HexToBytes(c.text, &out), c.ok) << base::WideToUTF8(c.text);
    EXPECT_EQ(out, c.bytes) << base::WideToUTF8(c.text);
    std::string narrow = base::WideToUTF8(c.text);
    EXPECT_EQ(base::HexToBytes(std::string_view(narrow), &out), c.ok);
  }
}

TEST(HexTest, EncodingIsLowerCaseHighNibbleFirst) {
  const uint8_t bytes[] = {0x00, 0x0A, 0xAB, 0xFF, 0x61};
  EXPECT_EQ(base::BytesToHexW(bytes, sizeof(bytes)), u"000aabff61");
  EXPECT_EQ(base::BytesToHexA(bytes, sizeof(bytes)), "000aabff61");
  std::unique_ptr<char16_t[]> buffer = base::BytesToHexBuffer(bytes, 2);
  ASSERT_TRUE(buffer);
  EXPECT_EQ(std::u16string(buffer.get()), u"000a");
  EXPECT_EQ(base::BytesToHexBuffer(nullptr, 3), nullptr);
  // The user-folder form: UTF-16LE bytes of "abc".
  const char16_t abc[] = u"abc";
  EXPECT_EQ(base::BytesToHexW(abc, 6), u"610062006300");
  std::vector<uint8_t> round;
  ASSERT_TRUE(base::HexToBytes(base::BytesToHexW(bytes, sizeof(bytes)), &round));
  EXPECT_EQ(round, std::vector<uint8_t>(bytes, bytes + sizeof(bytes)));
}

TEST(ConversionTest, Utf8AndUtf16) {
  const std::u16string mixed = u"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(base::WideToUTF8(mixed), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(base::UTF8ToWide(base::WideToUTF8(mixed)), mixed);
  EXPECT_EQ(base::WideToUTF8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(base::WideToUTF8(u""), "");
  // Ill-formed input becomes U+FFFD instead of failing.
  EXPECT_EQ(base::WideToUTF8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(base::UTF8ToWide("\xFF"), u"\uFFFD");

  std::unique_ptr<char[]> multi = base::WideToMultiByte(u"\u4e2d", CP_UTF8);
  ASSERT_TRUE(multi);
  EXPECT_STREQ(multi.get(), "\xE4\xB8\xAD");
  EXPECT_EQ(base::WideToMultiByte(nullptr, CP_UTF8), nullptr);
  EXPECT_EQ(base::WideToMultiByte(u"x", 12345), nullptr);
}

TEST(AppendFormatTest, AppendsToExistingContent) {
  std::u16string wide = u"path=";
  base::AppendFormatW(&wide, u"%s\\%s%s\\", u"UserData", u"0A73", u"6100");
  EXPECT_EQ(wide, u"path=UserData\\0A736100\\");
  base::AppendFormatW(&wide, u"%d", -5);
  EXPECT_EQ(wide, u"path=UserData\\0A736100\\-5");
  std::string narrow = "n=";
  base::AppendFormatA(&narrow, "%u/%s", 7u, "x");
  EXPECT_EQ(narrow, "n=7/x");
  base::AppendFormatA(&narrow, "%s", "");
  EXPECT_EQ(narrow, "n=7/x");
  std::u16string big;
  std::u16string long_arg(10000, u'z');
  base::AppendFormatW(&big, u"<%s>", long_arg.c_str());
  EXPECT_EQ(big.size(), 10002u);
}

}  // namespace
