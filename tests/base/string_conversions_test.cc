#include "base/string_conversions.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

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
    // Into a buffer of the decoded size: an odd length cannot fill it.
    std::vector<uint8_t> buffer(narrow.size() / 2);
    EXPECT_EQ(base::HexToBytes(narrow, buffer.data(), buffer.size()), c.ok) << narrow;
    if (c.ok) {
      EXPECT_EQ(buffer, c.bytes);
    }
  }
  uint8_t byte = 0;
  EXPECT_FALSE(base::HexToBytes("0a", &byte, 0));
  EXPECT_FALSE(base::HexToBytes("0a0b", &byte, 1));
  EXPECT_TRUE(base::HexToBytes("", nullptr, 0));
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
  std::string appended = "v=";
  base::AppendHexA(&appended, bytes, sizeof(bytes));
  base::AppendHexA(&appended, nullptr, 3);
  EXPECT_EQ(appended, "v=000aabff61");
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

// One U+FFFD for each maximal ill-formed subsequence: the bytes that could still have begun a
// valid sequence (at least one); the byte that breaks a sequence starts over.
TEST(ConversionTest, IllFormedUtf8BecomesOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string bytes;
    std::u16string wide;
    bool well_formed;
  };
  const Case kCases[] = {
      {"", u"", true},
      {"plain ASCII, longer than eight", u"plain ASCII, longer than eight", true},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
      {"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", u"\u00E9\u4E2D\U0001F600", true},
      {"\xEF\xBF\xBD", u"\uFFFD", true},  // U+FFFD itself is well-formed
      {"\x80", u"\uFFFD", false},
      {"\xBF\x80", u"\uFFFD\uFFFD", false},
      {"\xC0\x80", u"\uFFFD\uFFFD", false},  // overlong: C0 never starts a sequence
      {"\xC1\xBF", u"\uFFFD\uFFFD", false},
      {"\xC2", u"\uFFFD", false},
      {"\xC2"
       "a",
       u"\uFFFDa", false},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", false},  // overlong three-byte form
      {"\xE0\xA0", u"\uFFFD", false},                  // cut short: one replacement
      {"\xE0\xA0\x80", u"\u0800", true},
      {"\xED\x9F\xBF", u"\uD7FF", true},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},  // a surrogate
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"\xF0\x9F\x98"
       "a",
       u"\uFFFDa", false},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600", false},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD", false},
      {"\xFE\xFF", u"\uFFFD\uFFFD", false},
      {"0123456\xE9"
       "89abcdef",
       u"0123456\uFFFD89abcdef", false},
  };
  for (const Case& c : kCases) {
    std::u16string wide = u"old content";
    EXPECT_EQ(base::UTF8ToWide(c.bytes, &wide), c.well_formed) << c.bytes;
    EXPECT_EQ(wide, c.wide) << c.bytes;
    EXPECT_EQ(base::UTF8ToWide(c.bytes), c.wide) << c.bytes;
  }

  const std::u16string kHigh(1, char16_t(0xD83D)), kLow(1, char16_t(0xDE00));
  EXPECT_EQ(base::WideToUTF8(kHigh + kLow), "\xF0\x9F\x98\x80");
  EXPECT_EQ(base::WideToUTF8(kLow + kHigh), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(base::WideToUTF8(kHigh + u"a"),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(base::WideToUTF8(u"\u007F\u0080\u07FF\u0800\uFFFF"),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  std::string appended = "k=";
  base::AppendUTF8(&appended, u"\u00E9");
  base::AppendUTF8(&appended, u"");
  EXPECT_EQ(appended, "k=\xC3\xA9");
}

// The conversions agree with MultiByteToWideChar and WideCharToMultiByte for code page 65001
// on every input of up to two bytes and on many longer ones built from the bytes and units
// where the rules change.
TEST(ConversionTest, MatchesTheCodePageCalls) {
  const auto expect_same_utf8 = [](const std::string& bytes) {
    const int length = static_cast<int>(bytes.size());
    std::u16string expected(bytes.size(), u'\0');
    expected.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, expected.data(), length)));
    const bool strict_ok =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0) > 0;
    std::u16string wide;
    const bool well_formed = base::UTF8ToWide(bytes, &wide);
    if (wide != expected || well_formed != strict_ok) {
      ADD_FAILURE() << "UTF-8 input " << base::BytesToHexA(bytes.data(), bytes.size());
      return false;
    }
    return true;
  };
  const auto expect_same_utf16 = [](const std::u16string& units) {
    const int length = static_cast<int>(units.size());
    std::string expected(units.size() * 3, '\0');
    expected.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, units.data(), length, expected.data(), length * 3, nullptr, nullptr)));
    if (base::WideToUTF8(units) != expected) {
      ADD_FAILURE() << "UTF-16 input " << base::BytesToHexA(units.data(), units.size() * 2);
      return false;
    }
    return true;
  };

  for (int first = 0; first < 256; ++first) {
    ASSERT_TRUE(expect_same_utf8(std::string(1, static_cast<char>(first))));
    for (int second = 0; second < 256; ++second) {
      ASSERT_TRUE(expect_same_utf8({static_cast<char>(first), static_cast<char>(second)}));
    }
  }
  for (int unit = 1; unit < 0x10000; ++unit) {
    ASSERT_TRUE(expect_same_utf16(std::u16string(1, static_cast<char16_t>(unit))));
  }

  const unsigned char kBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                  0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED,
                                  0xEE, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xF8, 0xFF};
  const char16_t kUnits[] = {0x0000, 0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF,
                             0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    const size_t length = 1 + random() % 12;
    std::string bytes;
    std::u16string units;
    for (size_t i = 0; i < length; ++i) {
      bytes.push_back(static_cast<char>(kBytes[random() % std::size(kBytes)]));
      units.push_back(kUnits[random() % std::size(kUnits)]);
    }
    ASSERT_TRUE(expect_same_utf8(bytes)) << "round " << round;
    ASSERT_TRUE(expect_same_utf16(units)) << "round " << round;
  }
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
