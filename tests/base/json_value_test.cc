#include "base/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "base/string_conversions.h"
#include "tests/common/small_stack_thread.h"

namespace {

using base::CJsonValue;
using base::kMaxJsonDepth;

std::string Narrow(const std::u16string& text) { return base::WideToUTF8(text); }

// The compact text of `text`'s tree, or nothing when it does not parse.
std::optional<std::u16string> Reserialize(const std::u16string& text) {
  std::unique_ptr<CJsonValue> value = CJsonValue::Parse(text.c_str());
  if (value == nullptr) return std::nullopt;
  return value->Serialize();
}

struct ParseCase {
  std::u16string text;
  std::optional<std::u16string> written;  // nothing: the parse fails
};

void ExpectCases(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    const std::optional<std::u16string> written = Reserialize(c.text);
    ASSERT_EQ(written.has_value(), c.written.has_value()) << "text: " << Narrow(c.text);
    if (written) {
      EXPECT_EQ(Narrow(*written), Narrow(*c.written)) << "text: " << Narrow(c.text);
    }
  }
}

constexpr std::nullopt_t kFails = std::nullopt;

TEST(JsonValueTest, DocumentBoundariesAndKeywords) {
  ExpectCases({
      {u"", kFails},         {u" \t\r\n", kFails},
      {u" 42 xyz", u"42"},  // text after the value is not looked at
      {u"[1]]", u"[1]"},     {u"{\"a\":1}{", u"{\"a\":1}"},
      {u"\f1", kFails},      // form feed is not white space
      {u"\u00A01", kFails},  // nor is a no-break space
      {u"\v1", kFails},      {u"TRUE", u"true"},
      {u"False", u"false"},  {u"NULL", u"null"},
      {u"nUlL", u"null"},    {u"trueX", u"true"},  // only the keyword's own letters are compared
      {u"falsey", u"false"}, {u"tru", kFails},
      {u"fals", kFails},     {u"nul", kFails},
      {u"tr ue", kFails},    {u"xyz", kFails},
      {u"]", kFails},        {u"}", kFails},
  });
  EXPECT_EQ(CJsonValue::Parse(nullptr), nullptr);
  std::unique_ptr<CJsonValue> keyword = CJsonValue::Parse(u"null");
  ASSERT_NE(keyword, nullptr);  // the null keyword is a value, not a failure
  EXPECT_EQ(keyword->GetType(), base::JSON_NULL);
}

TEST(JsonValueTest, Numbers) {
  ExpectCases({
      {u"1.05", u"1.05"},
      {u"-0.5e1", u"-5"},
      {u"2e-2", u"0.02"},
      {u"1E2", u"100"},
      {u"1e+2", u"100"},
      {u"0.1", u"0.1"},
      {u"-0", u"-0"},
      {u"0e5", u"0"},
      {u"012", u"0"},  // nothing more is read after a leading zero
      {u"-012", u"-0"},
      {u"[012]", kFails},  // ... so the 12 is left over where a comma belongs
      {u"+1", kFails},
      {u"1.", kFails},
      {u"1.e5", kFails},
      {u"1e", kFails},
      {u"1e+", kFails},
      {u"1e-x", kFails},
      {u".5", kFails},
      {u"-x", kFails},
      {u"-", kFails},
      {u"- 1", kFails},
      // Each digit run wraps modulo 2^32 as a signed 32-bit integer.
      {u"2147483647", u"2.14748e+009"},
      {u"2147483648", u"-2.14748e+009"},
      {u"4294967296", u"0"},
      {u"4294967297", u"1"},
      {u"1.4294967296", u"1"},    // the fraction digits wrap to 0
      {u"1e4294967297", u"10"},   // the exponent wraps to 1
      {u"1e4294967295", u"0.1"},  // ... and to -1
      // The exponent scales one power of ten at a time, up to infinity or down to zero.
      {u"1e400", u"null"},
      {u"-1e400", u"null"},
      {u"1e-400", u"0"},
      {u"1e2000000000", u"null"},
      {u"1e-2000000000", u"0"},
      {u"1e2147483648", u"0"},  // wraps to -2^31: divided down to zero
      {u"1e-2147483648", u"0"},
      {u"0.5e-2000000000", u"0"},
      {u"1.5e300", u"1.5e+300"},
  });
}

TEST(JsonValueTest, NumbersAreWrittenLikePercentG) {
  struct Case {
    double value;
    const char* written;
  };
  const Case cases[] = {
      {1234567, "1.23457e+006"},
      {0.00001, "1e-005"},
      {0.0001, "0.0001"},
      {0.5, "0.5"},
      {100, "100"},
      {0.1, "0.1"},
      {123456, "123456"},
      {999999.5, "1e+006"},
      {1e6, "1e+006"},
      {-2.5, "-2.5"},
      {0, "0"},
      {-0.0, "-0"},
      {1.5e-300, "1.5e-300"},
      {1e100, "1e+100"},
      {std::numeric_limits<double>::max(), "1.79769e+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94066e-324"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(CJsonValue(c.value).Serialize()), c.written) << c.value;
  }
}

TEST(JsonValueTest, Strings) {
  ExpectCases({
      {u"\"\"", u"\"\""},
      {u"\"a/b\"", u"\"a\\/b\""},
      {u"\"\\\"\\'\\/\\\\\\b\\f\\n\\r\\t\"", u"\"\\\"'\\/\\\\\\b\\f\\n\\r\\t\""},
      {u"\"\\u0041\\u00e9\\u00E9\"", u"\"A\u00E9\u00E9\""},  // hex digits in either case
      {u"\"\\u001f\\u001A\\u0000\\u007f\"", u"\"\\u001F\\u001A\\u0000\u007F\""},
      {u"\"caf\u00E9 \u4E2D\"", u"\"caf\u00E9 \u4E2D\""},
      {u"\"a\tb\"", u"\"a\\tb\""},  // a raw tab is accepted
      {u"\"a\nb\"", kFails},        // other control units are not
      {u"\"a\u001Fb\"", kFails},
      {u"\"a\u0001\"", kFails},
      {u"\"\\x\"", kFails},
      {u"\"\\U0041\"", kFails},
      {u"\"\\u12\"", kFails},
      {u"\"\\u12G4\"", kFails},
      {u"\"\\u", kFails},
      {u"\"abc", kFails},
      {u"\"abc\\", kFails},
      {u"\"abc\\\"", kFails},
  });
}

TEST(JsonValueTest, SurrogateHalvesStayAsTheyAre) {
  // U+1F600 escaped as its two halves: two units, written back unescaped.
  std::unique_ptr<CJsonValue> pair = CJsonValue::Parse(u"\"\\uD83D\\ude00\"");
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->GetString(), u"\U0001F600");
  EXPECT_EQ(pair->Serialize(), u"\"\U0001F600\"");

  // A lone half and a reversed pair are kept, never checked or combined.
  std::unique_ptr<CJsonValue> lone = CJsonValue::Parse(u"\"\\uDE00x\\uDE00\\uD83D\"");
  ASSERT_NE(lone, nullptr);
  const std::u16string expected = {0xDE00, u'x', 0xDE00, 0xD83D};
  EXPECT_EQ(lone->GetString(), expected);
  EXPECT_EQ(lone->Serialize(), u"\"" + expected + u"\"");
  std::unique_ptr<CJsonValue> again = CJsonValue::Parse(lone->Serialize().c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetString(), expected);
}

TEST(JsonValueTest, EveryControlUnitIsEscapedOnWriting) {
  const char* const named[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
  for (char16_t unit = 0; unit < 0x20; ++unit) {
    std::string expected;
    if (unit >= 8 && unit <= 13 && named[unit - 8] != nullptr) {
      expected = named[unit - 8];
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\u%04X", static_cast<unsigned>(unit));
      expected = hex;
    }
    EXPECT_EQ(Narrow(CJsonValue(std::u16string(1, unit)).Serialize()), "\"" + expected + "\"")
        << "unit " << static_cast<int>(unit);
  }
  EXPECT_EQ(Narrow(CJsonValue(u"\" \\ / ' ~").Serialize()), "\"\\\" \\\\ \\/ ' ~\"");
}

TEST(JsonValueTest, Objects) {
  ExpectCases({
      {u"{}", u"{}"},
      {u" { \r\n } ", u"{}"},
      {u"{\"b\":1,\"a\":2}", u"{\"a\":2,\"b\":1}"},  // written in key order
      {u"{\"a\":1,\"a\":2}", u"{\"a\":2}"},          // the later value wins
      {u"{\"a\":[1,2],\"a\":{}}", u"{\"a\":{}}"},
      {u"{ \"a\" : true , \"b\" :\tnull }", u"{\"a\":true,\"b\":null}"},
      // Ordinal order of code units: 'Z' < 'z' < U+00E9, and a surrogate before U+FF01.
      {u"{\"\u00E9\":1,\"z\":2,\"Z\":3}", u"{\"Z\":3,\"z\":2,\"\u00E9\":1}"},
      {u"{\"\uFF01\":1,\"\U0001F600\":2}", u"{\"\U0001F600\":2,\"\uFF01\":1}"},
      {u"{\"\":0}", u"{\"\":0}"},
      // The key's opening quote is not checked: a comma's following brace is taken as one.
      {u"{a\":1}", u"{\"\":1}"},
      {u"{\"a\":1,}\":2}", u"{\"\":2,\"a\":1}"},
      {u"{\"a\":1,}", kFails},
      {u"{,}", kFails},
      {u"{", kFails},
      {u"{ ", kFails},
      {u"{\"a\"", kFails},
      {u"{\"a\":", kFails},
      {u"{\"a\":1", kFails},
      {u"{\"a\":1,", kFails},
      {u"{\"a\" 1}", kFails},
      {u"{\"a\":}", kFails},
      {u"{\"a\":1 \"b\":2}", kFails},
      {u"{\"a\":1]", kFails},
      {u"{\"a\\x\":1}", kFails},
  });
}

TEST(JsonValueTest, Arrays) {
  ExpectCases({
      {u"[]", u"[]"},
      {u"[ \t]", u"[]"},
      {u"[ 1 , \"x\" ,[ ] , {} ]", u"[1,\"x\",[],{}]"},
      {u"[1,[2,[3]],{\"k\":[true,false,null]}]", u"[1,[2,[3]],{\"k\":[true,false,null]}]"},
      {u"[1,]", kFails},
      {u"[,1]", kFails},
      {u"[,]", kFails},
      {u"[", kFails},
      {u"[1", kFails},
      {u"[1,", kFails},
      {u"[1 2]", kFails},
      {u"[1}", kFails},
      {u"[[1]", kFails},
      {u"[{\"a\":1]", kFails},
      {u"[\"a\",\"b", kFails},
  });
}

TEST(JsonValueTest, ReadTreeHoldsTheValues) {
  std::unique_ptr<CJsonValue> root =
      CJsonValue::Parse(u"{\"list\":[\"x\",-1.5,TRUE,null,{}],\"n\":7,\"n\":8}");
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(root->IsObject());
  const CJsonValue::Object& members = root->GetObject();
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members.at(u"n")->GetNumber(), 8);
  const CJsonValue& list = *members.at(u"list");
  ASSERT_TRUE(list.IsArray());
  ASSERT_EQ(list.GetArray().size(), 5u);
  EXPECT_EQ(list.GetArray()[0]->GetString(), u"x");
  EXPECT_EQ(list.GetArray()[1]->GetNumber(), -1.5);
  EXPECT_EQ(list.GetArray()[2]->GetType(), base::JSON_BOOL);
  EXPECT_TRUE(list.GetArray()[2]->GetBool());
  EXPECT_EQ(list.GetArray()[3]->GetType(), base::JSON_NULL);
  EXPECT_TRUE(list.GetArray()[4]->IsObject());
  EXPECT_TRUE(list.GetArray()[4]->GetObject().empty());
}

TEST(JsonValueTest, BuiltTreeIsWritten) {
  CJsonValue::Array list;
  list.push_back(std::make_unique<CJsonValue>(u"a\"b"));
  list.push_back(std::make_unique<CJsonValue>(false));
  list.push_back(nullptr);  // an empty slot is written as null
  list.push_back(std::make_unique<CJsonValue>());
  CJsonValue::Object members;
  members[u"z"] = std::make_unique<CJsonValue>(2.0);
  members[u"list"] = std::make_unique<CJsonValue>(std::move(list));
  members[u"k/"] = std::make_unique<CJsonValue>(CJsonValue::Object());
  const CJsonValue root(std::move(members));
  EXPECT_EQ(Narrow(root.Serialize()), R"({"k\/":{},"list":["a\"b",false,null,null],"z":2})");
  EXPECT_EQ(CJsonValue(static_cast<const char16_t*>(nullptr)).Serialize(), u"\"\"");
}

TEST(JsonValueTest, WrittenFormReadsBackToItself) {
  const std::u16string documents[] = {
      u"{\"dataversion\":3,\"list\":[{\"extId\":\"abcdefghijklmnop\",\"manifest\":{\"name\":"
      u"\"Caf\u00E9 \\\"Pro\\\"\",\"version\":\"1.0.2\",\"permissions\":[\"tabs\","
      u"\"http://*/*\"],\"icons\":{\"16\":\"i/16.png\",\"128\":\"i/128.png\"}},\"state\":1,"
      u"\"type\":2.5e-3}]}",
      u"[1234567,0.00001,-0,1e300,1e-300,0.333333333,65536.125,-2147483648,1e400]",
      u"\"\\u0001\\u001f\\b\\f\\n\\r\\t\\/\\\\\\\"\\uD83D\\uDE00\\uDE00\"",
      u"{\"a\":{\"b\":{\"c\":[[[],{}],[{\"d\":NULL}]]}},\"A\":False}",
      u"[TRUE,\"trueX\",\"\"]",
  };
  for (const std::u16string& document : documents) {
    const std::optional<std::u16string> once = Reserialize(document);
    ASSERT_TRUE(once.has_value()) << Narrow(document);
    const std::optional<std::u16string> twice = Reserialize(*once);
    ASSERT_TRUE(twice.has_value()) << Narrow(*once);
    EXPECT_EQ(Narrow(*twice), Narrow(*once));
  }
}

std::u16string Nested(int levels) {
  // Arrays and objects taken in turn: both count towards the depth.
  std::u16string text;
  for (int i = 0; i < levels; ++i) text += i % 2 == 0 ? u"[" : u"{\"k\":";
  text += u"1";
  for (int i = levels - 1; i >= 0; --i) text += i % 2 == 0 ? u"]" : u"}";
  return text;
}

TEST(JsonValueTest, DepthLimit) {
  const std::u16string deepest = Nested(kMaxJsonDepth);
  EXPECT_EQ(Reserialize(deepest), deepest);
  EXPECT_EQ(Reserialize(u"[" + deepest + u"]"), std::nullopt);
  EXPECT_EQ(Reserialize(u"{\"k\":" + deepest + u"}"), std::nullopt);
  EXPECT_EQ(Reserialize(std::u16string(kMaxJsonDepth, u'[') + std::u16string(kMaxJsonDepth, u']')),
            std::u16string(kMaxJsonDepth, u'[') + std::u16string(kMaxJsonDepth, u']'));
  EXPECT_EQ(Reserialize(std::u16string(kMaxJsonDepth + 1, u'[') +
                        std::u16string(kMaxJsonDepth + 1, u']')),
            std::nullopt);
  // A depth reached and left again does not count against later siblings.
  EXPECT_TRUE(
      Reserialize(u"[" + Nested(kMaxJsonDepth - 1) + u"," + Nested(kMaxJsonDepth - 1) + u"]")
          .has_value());
}

TEST(JsonValueTest, DeepInputNeedsNoStack) {
  // A reader, writer or destructor that recursed per level would overflow a 256 KiB stack on
  // these.
  const std::u16string brackets(1000000, u'[');
  const std::u16string deepest = Nested(kMaxJsonDepth);
  constexpr int kBuiltLevels = 199999;  // odd: arrays outermost and innermost, as in Nested()
  bool brackets_failed = false;
  std::optional<std::u16string> deepest_written;
  std::u16string built_written;
  ASSERT_TRUE(testing_support::RunWithStack(256 * 1024, [&] {
    brackets_failed = CJsonValue::Parse(brackets.c_str()) == nullptr;
    deepest_written = Reserialize(deepest);  // parsed, written and destroyed
    // Deeper than any parse allows: only code can build it.
    auto root = std::make_unique<CJsonValue>(1.0);
    for (int i = 0; i < kBuiltLevels; ++i) {
      if (i % 2 == 0) {
        CJsonValue::Array elements;
        elements.push_back(std::move(root));
        root = std::make_unique<CJsonValue>(std::move(elements));
      } else {
        CJsonValue::Object members;
        members[u"k"] = std::move(root);
        root = std::make_unique<CJsonValue>(std::move(members));
      }
    }
    built_written = root->Serialize();
  }));
  EXPECT_TRUE(brackets_failed);
  EXPECT_EQ(deepest_written, deepest);
  EXPECT_EQ(built_written, Nested(kBuiltLevels));
}

}  // namespace
