#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "browserplatform/log.h"

namespace {

// The environment is read once per process, so each case runs in a fresh child process.
class LogControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteThroughDefault(const char* setting) {
  setenv("BROWSER_STORAGE_LOG", setting, 1);
  ILogController* controller = GetLogController();
  if (controller == nullptr) std::exit(3);
  if (controller->IsLogEnabled(36, u"x")) std::exit(4);
  if (!controller->IsLogEnabled(37, u"x")) std::exit(5);
  controller->WriteLog(64, u"assert;", u"first\n");
  controller->IndentIn();
  controller->WriteLog(37, u"performance_profile;", u"\u8fdb\u5165");
  controller->IndentOut();
  std::exit(0);
}

TEST_F(LogControllerTest, EnvironmentNamesLevelAndFile) {
  std::string path = ::testing::TempDir() + "log_controller_test.log";
  std::remove(path.c_str());
  std::string setting = "37:" + path;
  EXPECT_EXIT(WriteThroughDefault(setting.c_str()), ::testing::ExitedWithCode(0), "");
  std::string text = ReadFile(path);
  std::remove(path.c_str());
  // Two lines, each ending in exactly one newline, the second indented one step.
  EXPECT_NE(text.find(" 64 assert; first\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" 37 performance_profile;   \xE8\xBF\x9B\xE5\x85\xA5\n"), std::string::npos)
      << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

void ExpectOff(const char* setting) {
  if (setting) {
    setenv("BROWSER_STORAGE_LOG", setting, 1);
  } else {
    unsetenv("BROWSER_STORAGE_LOG");
  }
  std::exit(GetLogController() == nullptr ? 0 : 1);
}

TEST_F(LogControllerTest, OffUnlessTheEnvironmentAsksForIt) {
  for (const char* setting : {static_cast<const char*>(nullptr), "", "37", "37:", ":stderr",
                              "x:stderr", "5:/nonexistent-folder/log"}) {
    EXPECT_EXIT(ExpectOff(setting), ::testing::ExitedWithCode(0), "") << (setting ? setting : "");
  }
}

class NullController final : public ILogController {
 public:
  BOOL IsLogEnabled(DWORD, const char16_t*) override { return TRUE; }
  void WriteLog(DWORD, const char16_t*, const char16_t*) override {}
  void IndentIn() override {}
  void IndentOut() override {}
};

TEST(LogControllerInstallTest, InstallAndRestore) {
  NullController mine;
  ILogController* before = SetLogController(&mine);
  EXPECT_EQ(GetLogController(), &mine);
  EXPECT_EQ(SetLogController(before), &mine);
  EXPECT_NE(GetLogController(), &mine);
}

}  // namespace
