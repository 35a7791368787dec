#include "browserplatform/collation.h"
#include "platform/collation_for_testing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "browserplatform/oleauto.h"

namespace {

using platform::CollationCompare;
using platform::CollationSortKey;
using platform::SetCollationLocaleForTesting;

// Pins the collation locale for one test and returns to the environment's afterwards.
class CollationTest : public testing::Test {
 protected:
  void TearDown() override { SetCollationLocaleForTesting(nullptr); }
};

int KeyOrder(std::u16string_view a, std::u16string_view b) {
  const std::string ka = CollationSortKey(a);
  const std::string kb = CollationSortKey(b);
  return ka < kb ? -1 : kb < ka ? 1 : 0;
}

class ScopedBstr {
 public:
  explicit ScopedBstr(std::u16string_view text)
      : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr() { SysFreeString(text_); }
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

HRESULT Compare(std::u16string_view a, std::u16string_view b, ULONG flags = 0) {
  ScopedBstr left(a), right(b);
  return VarBstrCmp(left.get(), right.get(), LOCALE_USER_DEFAULT, flags);
}

TEST_F(CollationTest, LocaleNamesDropEncodingAndModifier) {
  const struct {
    const char* set;
    const char* expected;
  } kCases[] = {
      {"sv_SE.UTF-8", "sv_SE"},
      {"de_DE@euro", "de_DE"},
      {"de_DE.ISO-8859-15@euro", "de_DE"},
      {"C", ""},
      {"C.UTF-8", ""},
      {"POSIX", ""},
      {"", ""},
      {"fr", "fr"},
  };
  for (const auto& c : kCases) {
    SetCollationLocaleForTesting(c.set);
    EXPECT_EQ(platform::CollationLocale(), c.expected) << c.set;
  }
}

// The environment is read once per process, so each case runs in a fresh child process.
TEST(CollationEnvironmentTest, FirstNonEmptyOfLcAllLcCollateLang) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto locale_with = [](const char* lc_all, const char* lc_collate, const char* lang) {
    setenv("LC_ALL", lc_all, 1);
    setenv("LC_COLLATE", lc_collate, 1);
    setenv("LANG", lang, 1);
    std::fputs(platform::CollationLocale().c_str(), stderr);
    std::exit(0);
  };
  EXPECT_EXIT(locale_with("", "sv_SE.UTF-8", "de_DE"), testing::ExitedWithCode(0), "^sv_SE$");
  EXPECT_EXIT(locale_with("C.UTF-8", "sv_SE", "de_DE"), testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(locale_with("", "", "de_DE.UTF-8@euro"), testing::ExitedWithCode(0), "^de_DE$");
}

// Root order at tertiary strength: lower case before upper, case below accents below letters.
TEST_F(CollationTest, RootOrderIsCaseSensitive) {
  SetCollationLocaleForTesting("");
  const std::u16string kSorted[] = {u"",   u"a",  u"A",  u"\u00E1", u"\u00C1",
                                    u"ab", u"aB", u"Ab", u"b",      u"B"};
  for (size_t i = 0; i < std::size(kSorted); ++i) {
    for (size_t j = 0; j < std::size(kSorted); ++j) {
      const int expected = (i > j) - (i < j);
      EXPECT_EQ(CollationCompare(kSorted[i], kSorted[j]), expected)
          << testing::PrintToString(kSorted[i]) << " vs " << testing::PrintToString(kSorted[j]);
    }
  }
}

TEST_F(CollationTest, LocaleDecidesWhereUmlautsSort) {
  SetCollationLocaleForTesting("sv_SE");
  EXPECT_EQ(CollationCompare(u"z", u"\u00F6"), -1);
  EXPECT_EQ(Compare(u"z", u"\u00F6"), VARCMP_LT);
  EXPECT_EQ(KeyOrder(u"z", u"\u00F6"), -1);
  SetCollationLocaleForTesting("de_DE.UTF-8");
  EXPECT_EQ(CollationCompare(u"z", u"\u00F6"), 1);
  EXPECT_EQ(Compare(u"z", u"\u00F6"), VARCMP_GT);
  EXPECT_EQ(KeyOrder(u"z", u"\u00F6"), 1);
}

TEST_F(CollationTest, UnknownLocaleFallsBackToRoot) {
  SetCollationLocaleForTesting("xx_NOWHERE");
  EXPECT_EQ(CollationCompare(u"a", u"A"), -1);
  EXPECT_EQ(CollationCompare(u"\u00F6", u"z"), -1);
}

TEST_F(CollationTest, SortKeysOrderExactlyAsCompare) {
  const std::u16string kTexts[] = {
      u"",
      u"a",
      u"A",
      u"ab",
      u"Ab",
      u"b",
      u"\u00E4",
      u"\u00E5",
      u"\u00F6",
      u"z",
      u"Z",
      u"\u4E2D",
      u"\U0001F600",
      u"co-op",
      u"coop",
      u"1",
      u"10",
      u"2",
      std::u16string(u"a\0b", 3),
      u"\xD800",
      u"\xDC00x",
      u"o\u0308",
      u"\u00C5ngstr\u00F6m",
  };
  for (const char* locale : {"", "sv_SE", "de_DE"}) {
    SetCollationLocaleForTesting(locale);
    for (const auto& a : kTexts) {
      for (const auto& b : kTexts) {
        EXPECT_EQ(KeyOrder(a, b), CollationCompare(a, b))
            << locale << ": " << testing::PrintToString(a) << " vs " << testing::PrintToString(b);
      }
    }
  }
}

TEST_F(CollationTest, VarBstrCmpNullAndEmptyRules) {
  SetCollationLocaleForTesting("");
  ScopedBstr empty(u""), text(u"x");
  const struct {
    BSTR left, right;
    HRESULT expected;
  } kCases[] = {
      {nullptr, nullptr, VARCMP_EQ},        {nullptr, empty.get(), VARCMP_EQ},
      {empty.get(), nullptr, VARCMP_EQ},    {nullptr, text.get(), VARCMP_LT},
      {empty.get(), text.get(), VARCMP_LT}, {text.get(), nullptr, VARCMP_GT},
      {text.get(), empty.get(), VARCMP_GT},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(VarBstrCmp(c.left, c.right, LOCALE_USER_DEFAULT, 0), c.expected);
  }
}

TEST_F(CollationTest, VarBstrCmpCaseAndEmbeddedNuls) {
  SetCollationLocaleForTesting("");
  const struct {
    std::u16string left, right;
    ULONG flags;
    HRESULT expected;
  } kCases[] = {
      {u"a", u"A", 0, VARCMP_LT},
      {u"A", u"a", 0, VARCMP_GT},
      {u"a", u"A", NORM_IGNORECASE, VARCMP_EQ},
      {u"A", u"b", 0, VARCMP_LT},
      {u"\u00E9", u"E", NORM_IGNORECASE, VARCMP_GT},  // accents still count
      {u"same", u"same", 0, VARCMP_EQ},
      {std::u16string(u"a\0b", 3), std::u16string(u"a\0c", 3), 0, VARCMP_LT},
      {std::u16string(u"a\0b", 3), u"a", 0, VARCMP_GT},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Compare(c.left, c.right, c.flags), c.expected)
        << testing::PrintToString(c.left) << " vs " << testing::PrintToString(c.right);
  }
  for (LCID lcid : {LCID{0}, LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT}) {
    ScopedBstr a(u"a"), b(u"B");
    EXPECT_EQ(VarBstrCmp(a.get(), b.get(), lcid, 0), VARCMP_LT);
  }
}

// Threads collate while the locale changes under them: every answer must be one that the
// old or the new locale gives, and keys must agree with comparisons that no locale changes.
TEST_F(CollationTest, ConcurrentUseWhileTheLocaleChanges) {
  SetCollationLocaleForTesting("sv_SE");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 300; ++i) {
        bool ok = CollationCompare(u"a", u"A") == -1 && CollationCompare(u"A", u"b") == -1 &&
                  KeyOrder(u"a", u"A") == -1 && KeyOrder(u"Ab", u"b") == -1 &&
                  CollationCompare(u"z", u"\u00F6") != 0 && Compare(u"a", u"a") == VARCMP_EQ;
        if (!ok) failures.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 20; ++i) SetCollationLocaleForTesting(i % 2 ? "sv_SE" : "de_DE");
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(StrStrIWTest, FindsFirstCaseInsensitiveMatch) {
  const struct {
    const char16_t* haystack;
    const char16_t* needle;
    int expected;  // offset of the match, -1 for none
  } kCases[] = {
      {u"Hello World", u"world", 6},
      {u"Hello World", u"O", 4},
      {u"aaa", u"AA", 0},
      {u"Hello", u"hello!", -1},
      {u"Hello", u"xyz", -1},
      {u"", u"a", -1},
      {u"\u041F\u0420\u0418\u0412\u0415\u0422 \u041C\u0418\u0420", u"\u043C\u0438\u0440",
       7},                                                            // Cyrillic
      {u"\u039F\u0394\u039F\u03A3", u"\u03BF\u03B4\u03BF\u03C2", 0},  // final sigma
      {u"x\U00010400y", u"\U00010428Y", 1},                           // Deseret pair
      {u"\U0001F600\U0001F600", u"\U0001F600", 0},
      {u"a\xDC00"
       u"B",
       u"\xDC00"
       u"b",
       1},                               // lone surrogate
      {u"\U0001F600", u"\xDE00", -1},    // no match inside a pair
      {u"Stra\u00DFe", u"STRASSE", -1},  // full folding is not simple folding
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.haystack)) + " / " +
                 testing::PrintToString(std::u16string(c.needle)));
    const char16_t* found = StrStrIW(c.haystack, c.needle);
    if (c.expected < 0) {
      EXPECT_EQ(found, nullptr);
    } else {
      EXPECT_EQ(found, c.haystack + c.expected);
    }
  }
}

TEST(StrStrIWTest, NullArgumentsAndEmptyNeedleFindNothing) {
  EXPECT_EQ(StrStrIW(nullptr, u"a"), nullptr);
  EXPECT_EQ(StrStrIW(u"a", nullptr), nullptr);
  EXPECT_EQ(StrStrIW(u"abc", u""), nullptr);
  EXPECT_EQ(StrStrIW(nullptr, nullptr), nullptr);
}

}  // namespace
