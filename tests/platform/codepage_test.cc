#include "browserplatform/stringapiset.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Converts with a size query first, as callers do; on failure the text is empty and the
// error is the one the failing call set.
struct Converted {
  std::u16string text;
  DWORD error = ERROR_SUCCESS;
};

Converted ToWide(const std::string& in, DWORD flags = 0) {
  SetLastError(ERROR_SUCCESS);
  int src_len = static_cast<int>(in.size());
  int needed = MultiByteToWideChar(CP_UTF8, flags, in.data(), src_len, nullptr, 0);
  if (needed == 0) return {u"", GetLastError()};
  std::u16string out(static_cast<size_t>(needed), u'#');
  int written = MultiByteToWideChar(CP_UTF8, flags, in.data(), src_len, out.data(), needed);
  EXPECT_EQ(written, needed);
  return {out, written == needed ? ERROR_SUCCESS : GetLastError()};
}

struct ConvertedNarrow {
  std::string text;
  DWORD error = ERROR_SUCCESS;
};

ConvertedNarrow ToNarrow(const std::u16string& in, DWORD flags = 0) {
  SetLastError(ERROR_SUCCESS);
  int src_len = static_cast<int>(in.size());
  int needed =
      WideCharToMultiByte(CP_UTF8, flags, in.data(), src_len, nullptr, 0, nullptr, nullptr);
  if (needed == 0) return {"", GetLastError()};
  std::string out(static_cast<size_t>(needed), '#');
  int written =
      WideCharToMultiByte(CP_UTF8, flags, in.data(), src_len, out.data(), needed, nullptr, nullptr);
  EXPECT_EQ(written, needed);
  return {out, written == needed ? ERROR_SUCCESS : GetLastError()};
}

TEST(CodePageTest, WellFormedTextRoundTrips) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } kCases[] = {
      {"plain ASCII", u"plain ASCII"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
      {"\xF0\x9F\x98\x80!", u"\U0001F600!"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xEF\xBF\xBD", u"\uFFFD"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.utf8);
    Converted wide = ToWide(c.utf8, MB_ERR_INVALID_CHARS);
    EXPECT_EQ(wide.error, ERROR_SUCCESS);
    EXPECT_EQ(wide.text, c.utf16);
    ConvertedNarrow narrow = ToNarrow(c.utf16, WC_ERR_INVALID_CHARS);
    EXPECT_EQ(narrow.error, ERROR_SUCCESS);
    EXPECT_EQ(narrow.text, c.utf8);
  }
}

// Each maximal ill-formed subsequence gives one U+FFFD, the count Windows reports.
TEST(CodePageTest, IllFormedUtf8BecomesReplacementOrFailsWithFlag) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } kCases[] = {
      {"a\x80z", u"a\uFFFDz"},                                      // lone continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                                // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},                      // overlong, three bytes
      {"\xE4\xB8", u"\uFFFD"},                                      // truncated at the end
      {"\xE4\xB8z", u"\uFFFDz"},                                    // truncated before ASCII
      {"\xF0\x9F\x98", u"\uFFFD"},                                  // truncated four-byte
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                      // encoded high surrogate
      {"\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},                      // encoded low surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},            // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // five-byte form
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    Converted lenient = ToWide(c.utf8);
    EXPECT_EQ(lenient.error, ERROR_SUCCESS);
    EXPECT_EQ(lenient.text, c.utf16);
    EXPECT_EQ(ToWide(c.utf8, MB_ERR_INVALID_CHARS).error, ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePageTest, UnpairedSurrogatesBecomeReplacementOrFailWithFlag) {
  const struct {
    std::u16string utf16;
    std::string utf8;
  } kCases[] = {
      {u"a\xD800", "a\xEF\xBF\xBD"},
      {u"\xDC00z", "\xEF\xBF\xBDz"},
      {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : kCases) {
    ConvertedNarrow lenient = ToNarrow(c.utf16);
    EXPECT_EQ(lenient.error, ERROR_SUCCESS);
    EXPECT_EQ(lenient.text, c.utf8);
    EXPECT_EQ(ToNarrow(c.utf16, WC_ERR_INVALID_CHARS).error, ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePageTest, NulTerminatedLengthCountsTheTerminator) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE4\xB8\xAD!", -1, nullptr, 0), 3);
  char16_t wide[3];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE4\xB8\xAD!", -1, wide, 3), 3);
  EXPECT_EQ(std::u16string(wide, 3), std::u16string(u"\u4E2D!\0", 3));

  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u4E2D!", -1, nullptr, 0, nullptr, nullptr), 5);
  char narrow[5];
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u4E2D!", -1, narrow, 5, nullptr, nullptr), 5);
  EXPECT_EQ(std::string(narrow, 5), std::string("\xE4\xB8\xAD!\0", 5));
}

TEST(CodePageTest, TooSmallBufferFailsWithInsufficientBuffer) {
  char16_t wide[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // The terminator counts too.
  char16_t exact[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, exact, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  char narrow[3];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u4E2D", 1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePageTest, BadArgumentsFailWithInvalidParameter) {
  char16_t wide[8];
  char narrow[8];
  BOOL used = FALSE;
  const struct {
    const char* what;
    std::function<int()> call;
  } kCases[] = {
      {"code page 1252", [&] { return MultiByteToWideChar(1252, 0, "a", 1, wide, 8); }},
      {"code page 1200",
       [&] { return WideCharToMultiByte(1200, 0, u"a", 1, narrow, 8, nullptr, nullptr); }},
      {"null source", [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 8); }},
      {"null wide source",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, narrow, 8, nullptr, nullptr); }},
      {"zero length", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8); }},
      {"length -2", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 8); }},
      {"wide length -5",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", -5, narrow, 8, nullptr, nullptr); }},
      {"negative output size", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1); }},
      {"null output with a size",
       [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 8); }},
      {"null narrow output with a size",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 8, nullptr, nullptr); }},
      {"default char",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 8, "?", nullptr); }},
      {"used default",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 8, nullptr, &used); }},
      {"same buffer",
       [&] {
         return MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(wide), 2, wide, 8);
       }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

}  // namespace
