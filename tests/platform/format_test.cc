#include "browserplatform/wprintf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

// Formats through the size query and the strict call, as the append-format helpers do, and
// checks that the two agree. Invalid formats give "<invalid>".
std::u16string W(const char16_t* format, ...) {
  va_list args, copy;
  va_start(args, format);
  va_copy(copy, args);
  const int length = _vscwprintf(format, copy);
  va_end(copy);
  std::u16string out = u"<invalid>";
  if (length >= 0) {
    out.assign(static_cast<size_t>(length) + 1, u'#');
    EXPECT_EQ(vswprintf_s(out.data(), out.size(), format, args), length);
    EXPECT_EQ(out[static_cast<size_t>(length)], u'\0');
    out.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return out;
}

std::string N(const char* format, ...) {
  va_list args, copy;
  va_start(args, format);
  va_copy(copy, args);
  const int length = _vscprintf(format, copy);
  va_end(copy);
  std::string out = "<invalid>";
  if (length >= 0) {
    out.assign(static_cast<size_t>(length) + 1, '#');
    EXPECT_EQ(vsprintf_s(out.data(), out.size(), format, args), length);
    out.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return out;
}

// Field widths are counted, never materialised, so huge ones cost nothing until written.
int CountWide(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = _vscwprintf(format, args);
  va_end(args);
  return result;
}

struct WideCase {
  const char16_t* format;
  std::u16string got;
  std::u16string expected;
};
#define WIDE(expected, format, ...) \
  WideCase { format, W(format __VA_OPT__(, ) __VA_ARGS__), expected }

struct NarrowCase {
  const char* format;
  std::string got;
  std::string expected;
};
#define NARROW(expected, format, ...) \
  NarrowCase { format, N(format __VA_OPT__(, ) __VA_ARGS__), expected }

TEST(FormatTest, IntegerConversions) {
  const WideCase kCases[] = {
      WIDE(u"42", u"%d", 42),
      WIDE(u"-7", u"%i", -7),
      WIDE(u"   42", u"%5d", 42),
      WIDE(u"42   |", u"%-5d|", 42),
      WIDE(u"-0042", u"%05d", -42),
      WIDE(u"-42  ", u"%-05d", -42),  // '-' wins over '0'
      WIDE(u"+5 5", u"%+d% d", 5, 5),
      WIDE(u"007", u"%.3d", 7),
      WIDE(u"  007", u"%05.3d", 7),  // a precision turns '0' off
      WIDE(u"", u"%.0d", 0),
      WIDE(u"   7|", u"%*d|", 4, 7),
      WIDE(u"7  |", u"%*d|", -3, 7),
      WIDE(u"007 7", u"%.*d %.*d", 3, 7, -1, 7),
      WIDE(u"4294967295", u"%u", 4294967295u),
      WIDE(u"ff FF 0xff 0XFF 0", u"%x %X %#x %#X %#x", 255, 255, 255, 255, 0),
      WIDE(u"10 010 0", u"%o %#o %#.0o", 8, 8, 0),
      WIDE(u"-9223372036854775808", u"%I64d", INT64_MIN),
      WIDE(u"18446744073709551615", u"%I64u", UINT64_MAX),
      WIDE(u"-1234567890123", u"%lld", int64_t{-1234567890123}),
      WIDE(u"7fffffffffffffff", u"%llx", INT64_MAX),
      WIDE(u"-1 4000000000", u"%ld %lu", int32_t{-1}, uint32_t{4000000000u}),
      WIDE(u"-1", u"%I32d", int32_t{-1}),
      WIDE(u"1099511627776 1099511627776 -3", u"%zu %Iu %td", size_t{1} << 40, size_t{1} << 40,
           ptrdiff_t{-3}),
      WIDE(u"-1 1 -1 1", u"%hd %hu %hhd %hhu", 65535, 65537, 255, 257),
  };
  for (const auto& c : kCases) EXPECT_EQ(c.got, c.expected) << testing::PrintToString(c.format);
}

TEST(FormatTest, FloatingAndPointerConversions) {
  const WideCase kCases[] = {
      WIDE(u"3.500000", u"%f", 3.5),
      WIDE(u"3.14", u"%.2f", 3.14159),
      WIDE(u"  -1.500", u"%8.3f", -1.5),
      WIDE(u"-0001.50", u"%08.2f", -1.5),
      WIDE(u"+001.0", u"%+06.1f", 1.0),
      WIDE(u"2.0     |", u"%-8.1f|", 2.0),
      WIDE(u"3.", u"%#.0f", 3.0),
      WIDE(u"1.234568e+04 1.2346E+04", u"%e %.4E", 12345.678, 12345.678),
      WIDE(u"100000 1E-05", u"%g %G", 100000.0, 0.00001),
      WIDE(u"0x1p+0 0X01.P+0", u"%a %#08A", 1.0, 1.0),
      WIDE(u"       inf   nan", u"%010f %5f", INFINITY, NAN),
      WIDE(u"2.500000", u"%lf", 2.5),
      WIDE(u"0000000000001234", u"%p", reinterpret_cast<void*>(uintptr_t{0x1234})),
      WIDE(u"00007FFFABCDEF01", u"%p", reinterpret_cast<void*>(uintptr_t{0x7FFFABCDEF01})),
      WIDE(u"0000000000000000 |", u"%-17p|", nullptr),
  };
  for (const auto& c : kCases) EXPECT_EQ(c.got, c.expected) << testing::PrintToString(c.format);
}

// Precisions beyond what a double can carry are zero-filled without being rendered; the
// result must still be exactly the C library's.
TEST(FormatTest, LongFloatPrecisionMatchesTheCLibrary) {
  const char* const kFormats[] = {"%.1500f", "%.1500e",       "%#.1500g",     "%.1500g",
                                  "%.1500A", "%+01600.1200f", "%-1300.1200e|"};
  for (const char* format : kFormats) {
    for (double value : {1.0 / 3, 1e300, -2.5e-300, 0.1, double{INFINITY}}) {
      char expected[4096];
      std::snprintf(expected, sizeof(expected), format, value);
      EXPECT_EQ(N(format, value), expected) << format << " " << value;
    }
  }
  EXPECT_EQ(CountWide(u"%.2000000000f", 1.0), 2000000002);
}

TEST(FormatTest, WideTextConversions) {
  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  const char narrow_unterminated[2] = {'x', 'y'};
  const WideCase kCases[] = {
      WIDE(u"wide ws ls", u"%s %ws %ls", u"wide", u"ws", u"ls"),
      WIDE(u"narrow \u00E9 hs", u"%S %hs", "narrow \xC3\xA9", "hs"),
      WIDE(u"(null) (null)", u"%s %S", static_cast<const char16_t*>(nullptr),
           static_cast<const char*>(nullptr)),
      WIDE(u"abc", u"%.3s", u"abcdef"),
      WIDE(u"abc", u"%.3s", unterminated),  // reads no further than the precision
      WIDE(u"xy", u"%.2S", narrow_unterminated),
      WIDE(u"ab", u"%.*s", 2, u"abc"),
      WIDE(u"ab    |    ab", u"%-6s|%6s", u"ab", u"ab"),
      WIDE(u"\u4E2D\u6587", u"%.2S", "\xE4\xB8\xAD\xE6\x96\x87x"),
      WIDE(u"", u"%.1S", "\xF0\x9F\x98\x80"),  // a surrogate pair is not split
      WIDE(u"\U0001F600", u"%.2S", "\xF0\x9F\x98\x80"),
      WIDE(u"\uFFFD!", u"%S", "\xFF!"),
      WIDE(u"x \u4E2D y z \u00E9", u"%c %c %C %hc %lc", u'x', u'\u4E2D', 'y', 'z', u'\u00E9'),
      WIDE(u"  a", u"%3c", u'a'),
      WIDE(u"100%", u"100%%"),
      WIDE(u"\u8FDB\u5165\u51FD\u6570:main\n", u"\u8FDB\u5165\u51FD\u6570:%s\n", u"main"),
      WIDE(u"\U0001F600 x=1;", u"\U0001F600 %s=%d;", u"x", 1),
  };
  for (const auto& c : kCases) EXPECT_EQ(c.got, c.expected) << testing::PrintToString(c.format);
}

TEST(FormatTest, NarrowTextConversions) {
  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  const NarrowCase kCases[] = {
      NARROW("abc hs", "%s %hs", "abc", "hs"),
      NARROW("\xE4\xB8\xAD ws ls", "%S %ws %ls", u"\u4E2D", u"ws", u"ls"),
      NARROW("(null) (null)", "%s %S", static_cast<const char*>(nullptr),
             static_cast<const char16_t*>(nullptr)),
      NARROW("\xE4\xB8\xAD", "%.3S", u"\u4E2D\u6587"),
      NARROW("\xE4\xB8\xAD", "%.5S", u"\u4E2D\u6587"),  // no partial character
      NARROW("", "%.2S", u"\U0001F600"),
      NARROW("\xF0\x9F\x98\x80", "%.4S", u"\U0001F600x"),
      NARROW("abc", "%.3S", unterminated),
      NARROW("a \xC3\xA9 \xEF\xBF\xBD b", "%c %C %lc %wc", 'a', u'\u00E9', 0xD800, u'b'),
      NARROW("-0042 ff 0000000000000010 2.0", "%05d %x %p %.1f", -42, 255,
             reinterpret_cast<void*>(uintptr_t{16}), 2.0),
      NARROW("\xE8\xBF\x9B\xE5\x85\xA5\xE5\x87\xBD\xE6\x95\xB0:main\n",
             "\xE8\xBF\x9B\xE5\x85\xA5\xE5\x87\xBD\xE6\x95\xB0:%s\n", "main"),
  };
  for (const auto& c : kCases) EXPECT_EQ(c.got, c.expected) << testing::PrintToString(c.format);
}

TEST(FormatTest, InvalidFormatsFailCleanly) {
  int written = 0;
  const char16_t* const kFormats[] = {
      u"%n",
      u"%",
      u"abc%",
      u"%5",
      u"%.",
      u"%l",
      u"%-",
      u"%y",
      u"%I6d",
      u"%wd",
      u"%hf",
      u"%llc",
      u"%I64s",
      u"%99999999999d",
      u"%.99999999999d",
      u"%\u4E2D",
  };
  for (const char16_t* format : kFormats) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(format)));
    EXPECT_EQ(W(format, &written, 1, 2), u"<invalid>");
    errno = 0;
    char16_t buffer[16] = u"untouched";
    EXPECT_EQ(swprintf_s(buffer, 16, format, &written, 1, 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buffer[0], u'\0');
    errno = 0;
    buffer[0] = u'x';
    EXPECT_EQ(_snwprintf_s(buffer, 16, _TRUNCATE, format, &written, 1, 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buffer[0], u'\0');
  }
  EXPECT_EQ(written, 0);
  EXPECT_EQ(N("%n", &written), "<invalid>");
  EXPECT_EQ(N("100%"), "<invalid>");
}

TEST(FormatTest, NullBufferFormatOrSizeFailWithEinval) {
  char16_t buffer[8] = u"keep";
  const auto expect_einval = [](int result) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
  };
  expect_einval(swprintf_s(nullptr, 8, u"x"));
  expect_einval(swprintf_s(buffer, 0, u"x"));
  EXPECT_EQ(buffer[0], u'k');  // a zero size means there is nowhere to write
  expect_einval(swprintf_s(buffer, 8, nullptr));
  EXPECT_EQ(buffer[0], u'\0');
  expect_einval(_snwprintf_s(nullptr, 8, _TRUNCATE, u"x"));
  expect_einval(_snwprintf_s(buffer, 0, _TRUNCATE, u"x"));
  expect_einval(_snwprintf_s(buffer, 8, 2, nullptr));
  va_list unused{};
  expect_einval(_vscwprintf(nullptr, unused));
  expect_einval(_vscprintf(nullptr, unused));
  char narrow[4];
  expect_einval(sprintf_s(nullptr, 4, "x"));
  expect_einval(sprintf_s(narrow, 4, nullptr));
  expect_einval(_snprintf_s(narrow, 0, _TRUNCATE, "x"));
}

TEST(FormatTest, BoundedCallsTruncateOrFailByCount) {
  const struct {
    size_t count;
    const char16_t* text;
    int result;
    std::u16string buffer;
    int error;
  } kCases[] = {
      {_TRUNCATE, u"abc", 3, u"abc", 0},
      {_TRUNCATE, u"abcdefg", 7, u"abcdefg", 0},  // exactly fills the buffer
      {_TRUNCATE, u"abcdefghij", -1, u"abcdefg", 0},
      {3, u"ab", 2, u"ab", 0},
      {3, u"abcdef", -1, u"abc", 0},  // a count below the size truncates
      {7, u"abcdefghij", -1, u"abcdefg", 0},
      {0, u"abc", -1, u"", 0},
      {100, u"abc", 3, u"abc", 0},
      {8, u"abcdefghij", -1, u"", ERANGE},  // a count the buffer cannot hold
      {100, u"abcdefghij", -1, u"", ERANGE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.text)) + " count " +
                 std::to_string(c.count));
    char16_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    errno = 0;
    EXPECT_EQ(_snwprintf_s(buffer, 8, c.count, u"%s", c.text), c.result);
    EXPECT_EQ(std::u16string(buffer), c.buffer);
    EXPECT_EQ(errno, c.error);

    char narrow[8];
    const std::string narrow_text(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    errno = 0;
    EXPECT_EQ(_snprintf_s(narrow, 8, c.count, "%s", narrow_text.c_str()), c.result);
    EXPECT_EQ(std::u16string(narrow, narrow + std::strlen(narrow)), c.buffer);
    EXPECT_EQ(errno, c.error);
  }
}

TEST(FormatTest, WholeCallsFailWhenTheResultDoesNotFit) {
  char16_t buffer[5];
  EXPECT_EQ(swprintf_s(buffer, 5, u"%d", 1234), 4);
  EXPECT_EQ(std::u16string(buffer), u"1234");
  errno = 0;
  EXPECT_EQ(swprintf_s(buffer, 5, u"%d", 12345), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(buffer[0], u'\0');
  char narrow[3];
  errno = 0;
  EXPECT_EQ(sprintf_s(narrow, 3, "%S", u"\u00E9"), 2);
  EXPECT_EQ(sprintf_s(narrow, 3, "%S", u"\u4E2D"), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(narrow[0], '\0');
}

TEST(FormatTest, CountsLengthsWithoutWriting) {
  EXPECT_EQ(CountWide(u"%s", u"abc"), 3);
  EXPECT_EQ(CountWide(u"%S", "\xE4\xB8\xAD"), 1);
  EXPECT_EQ(CountWide(u"%S", "\xF0\x9F\x98\x80"), 2);
  EXPECT_EQ(CountWide(u"%10d|", 1), 11);
  EXPECT_EQ(CountWide(u"%.100000d", 1), 100000);
  EXPECT_EQ(CountWide(u"%*d", INT_MAX, 1), INT_MAX);
  errno = 0;
  EXPECT_EQ(CountWide(u"%*d%*d", INT_MAX, 1, INT_MAX, 1), -1);
  EXPECT_EQ(errno, EOVERFLOW);
  EXPECT_EQ(CountWide(u""), 0);

  char16_t buffer[4];
  EXPECT_EQ(_snwprintf_s(buffer, 4, _TRUNCATE, u"%*d", INT_MAX, 1), -1);
  EXPECT_EQ(std::u16string(buffer), u"   ");
}

}  // namespace
