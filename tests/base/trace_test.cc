#include "base/trace.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "tests/common/capturing_log_controller.h"

namespace {

using testing_support::CapturingLogController;

TEST(FunctionTraceTest, LogsEntryAndExitAroundIndentedBody) {
  CapturingLogController log;
  {
    base::CFunctionTrace trace(u"Storage::CStorageCreater::GetStorage", u"userpref_v2", 2,
                               static_cast<const char16_t*>(nullptr), 4294967295u);
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"inside %d", 1);
  }
  std::vector<testing_support::LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 5u);
  EXPECT_EQ(lines[0].category, u"function;");
  EXPECT_EQ(lines[0].text,
            u"Storage::CStorageCreater::GetStorage(userpref_v2, 2, (null), 4294967295) {");
  EXPECT_EQ(lines[0].indent, 0);
  EXPECT_EQ(lines[1].text, u"inside 1");
  EXPECT_EQ(lines[1].indent, 1);
  EXPECT_EQ(lines[2].text,
            u"} Storage::CStorageCreater::GetStorage(userpref_v2, 2, (null), 4294967295)");
  EXPECT_EQ(lines[2].indent, 0);
  EXPECT_EQ(log.indent(), 0);
}

TEST(FunctionTraceTest, EmptyArgumentsAndDisabledLevel) {
  {
    CapturingLogController log;
    { base::CFunctionTrace trace(u"Storage::CStorageCreater::GetStorage"); }
    EXPECT_EQ(log.texts(u"function;"),
              (std::vector<std::u16string>{u"Storage::CStorageCreater::GetStorage() {",
                                           u"} Storage::CStorageCreater::GetStorage()"}));
  }
  CapturingLogController quiet(/*min_level=*/6);
  { base::CFunctionTrace trace(u"Name", u"x"); }
  EXPECT_TRUE(quiet.lines().empty());
  EXPECT_EQ(quiet.indent(), 0);
}

// The indentation follows the traced scopes whatever is logged: with function traces off,
// lines of other levels inside them are still indented, one step per open scope.
TEST(FunctionTraceTest, ScopesIndentLinesOfOtherLevelsWhenTheirOwnLevelIsOff) {
  CapturingLogController log(/*min_level=*/base::kLogLevelPerformance);
  {
    base::CFunctionTrace outer(u"Outer");
    base::Log(base::kLogLevelPerformance, base::kLogCategoryPerformance, u"one deep");
    {
      base::CFunctionTrace inner(u"Inner", 7);
      base::Log(base::kLogLevelPerformance, base::kLogCategoryPerformance, u"two deep");
    }
    base::Log(base::kLogLevelPerformance, base::kLogCategoryPerformance, u"one deep again");
  }
  base::Log(base::kLogLevelPerformance, base::kLogCategoryPerformance, u"outside");

  std::vector<testing_support::LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 4u);
  const std::pair<const char16_t*, int> kExpected[] = {
      {u"one deep", 1}, {u"two deep", 2}, {u"one deep again", 1}, {u"outside", 0}};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, kExpected[i].first);
    EXPECT_EQ(lines[i].indent, kExpected[i].second) << base::WideToUTF8(lines[i].text);
  }
  EXPECT_EQ(log.indent(), 0);
}

TEST(FunctionTraceTest, ArgumentTextIsCutAt2047Characters) {
  std::u16string long_arg(3000, u'x');
  base::CTraceArgs args;
  args.Add(u"ab");
  args.Add(long_arg.c_str());
  args.Add(7);
  EXPECT_EQ(args.length(), 2047u);
  EXPECT_EQ(std::u16string(args.c_str()).size(), 2047u);
  EXPECT_EQ(std::u16string(args.c_str()).substr(0, 6), u"ab, xx");

  CapturingLogController log;
  { base::CFunctionTrace trace(u"F", long_arg.c_str()); }
  std::vector<std::u16string> texts = log.texts(u"function;");
  ASSERT_EQ(texts.size(), 2u);
  // The whole line is also bounded by the 2048-character log buffer.
  EXPECT_EQ(texts[0].size(), 2047u);
  EXPECT_EQ(texts[0].substr(0, 4), u"F(xx");
}

TEST(LogTest, LongMessagesAreTruncatedAndNothingHappensWithoutController) {
  base::Log(base::kLogLevelError, u"", u"no controller: %s", u"fine");
  CapturingLogController log;
  std::u16string big(5000, u'y');
  base::Log(base::kLogLevelError, u"", u"%s", big.c_str());
  std::vector<testing_support::LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text.size(), 2047u);
}

TEST(PerformanceTraceTest, EntryAndExitLines) {
  CapturingLogController log;
  { base::CPerformanceTrace trace(u"Storage::CStorageService::Initialize"); }
  { base::CPrecisePerformanceTrace trace(u"Storage::CBookmarkXmlCoder::Decode"); }
  std::vector<std::u16string> texts = log.texts(u"performance_profile;");
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], u"进入函数:Storage::CStorageService::Initialize\n");
  std::string exit_ms = base::WideToUTF8(texts[1]);
  EXPECT_TRUE(std::regex_match(
      exit_ms, std::regex("离开函数:Storage::CStorageService::Initialize 执行耗时:[0-9]+\n")))
      << exit_ms;
  EXPECT_EQ(texts[2], u"进入函数:Storage::CBookmarkXmlCoder::Decode\n");
  std::string exit_s = base::WideToUTF8(texts[3]);
  EXPECT_TRUE(std::regex_match(
      exit_s,
      std::regex("离开函数:Storage::CBookmarkXmlCoder::Decode 执行耗时:[0-9]+\\.[0-9]{6}\n")))
      << exit_s;
  for (const testing_support::LogLine& line : log.lines()) EXPECT_EQ(line.level, 37u);
}

}  // namespace
