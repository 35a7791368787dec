// bstorage run as a process, as its users run it: exit codes, what it prints, and what it
// leaves on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/json_value.h"
#include "browserplatform/stringapiset.h"
#include "tests/common/temp_folder.h"

namespace {
namespace fs = std::filesystem;

struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class BstorageToolTest : public ::testing::Test {
 protected:
  ToolRun Tool(const std::vector<std::string>& args) {
    std::string command = BSTORAGE_TOOL;
    for (const std::string& arg : args) command += " " + Quote(arg);
    const std::string out = scratch_.Native("out"), err = scratch_.Native("err");
    command += " >" + out + " 2>" + err;
    ToolRun run;
    const int status = std::system(command.c_str());
    // std::system gives the wait status: the exit code is its second byte.
    run.exit_code = (status >> 8) & 0xFF;
    run.out = ReadAll(out);
    run.err = ReadAll(err);
    return run;
  }

  std::string Folder(const std::string& name) {
    const std::string path = scratch_.Native(name);
    fs::create_directories(path);
    return path;
  }

  // A demo profile in a new folder.
  std::string Demo(const std::string& name) {
    const std::string dir = Folder(name);
    const ToolRun run = Tool({"demo", dir});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    return dir;
  }

  static std::map<std::string, std::string> Contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file()) files[entry.path().string()] = ReadAll(entry.path());
    }
    return files;
  }

  platform_test::TempFolder scratch_;
};

TEST_F(BstorageToolTest, DemoVerifiesItsSessionAndCheckFindsItClean) {
  const std::string dir = Folder("profile");
  const ToolRun demo = Tool({"demo", dir});
  ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("every value came back"), std::string::npos) << demo.out;
  for (const char* file : {"userpref_v2", "bookmark_v2", "favoricon_v2", "extdb_v2.json"}) {
    EXPECT_NE(demo.out.find(file), std::string::npos) << file;
  }
  const ToolRun check = Tool({"check", dir});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  // A second demo wipes its own profile; a folder of other files is refused.
  EXPECT_EQ(Tool({"demo", dir}).exit_code, 0);
  const std::string other = Folder("other");
  std::ofstream(other + "/keep") << "x";
  EXPECT_EQ(Tool({"demo", other}).exit_code, 1);
  EXPECT_TRUE(fs::exists(other + "/keep"));
}

TEST_F(BstorageToolTest, CheckNamesEachDamagedFileAndChangesNothing) {
  const std::string dir = Demo("profile");
  {  // a cut key-value XML file and an icon file with a broken header CRC
    const std::string prefs = ReadAll(dir + "/userpref_v2");
    std::ofstream(dir + "/userpref_v2", std::ios::binary | std::ios::trunc)
        << prefs.substr(0, prefs.size() / 2);
    std::fstream icons(dir + "/favoricon_v2", std::ios::binary | std::ios::in | std::ios::out);
    icons.seekp(61);
    icons.put('\x5A');
  }
  const auto before = Contents(dir);
  const ToolRun check = Tool({"check", dir});
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  EXPECT_NE(check.out.find(dir + "/userpref_v2:"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find(dir + "/favoricon_v2: header: CRC-32 mismatch"), std::string::npos)
      << check.out;
  EXPECT_EQ(check.out.find("bookmark_v2:"), std::string::npos) << check.out;
  EXPECT_EQ(Contents(dir), before);  // no byte changed, no .bad copy, no new file
}

TEST_F(BstorageToolTest, HtmlExportThenImportGivesTheSameTree) {
  const std::string dir = Demo("profile");
  const std::string html = scratch_.Native("bookmarks.html");
  ASSERT_EQ(Tool({"bookmarks", dir, "export", html}).exit_code, 0);
  const std::string fresh = Folder("fresh");
  const ToolRun import = Tool({"bookmarks", fresh, "import", html});
  ASSERT_EQ(import.exit_code, 0) << import.out << import.err;
  const ToolRun original = Tool({"bookmarks", dir, "tree"});
  const ToolRun imported = Tool({"bookmarks", fresh, "tree"});
  ASSERT_EQ(original.exit_code, 0);
  EXPECT_GT(original.out.size(), 1000u);
  EXPECT_EQ(imported.out, original.out);  // titles, addresses and nesting, in order

  // --into puts the whole file under one top-level folder.
  ASSERT_EQ(Tool({"bookmarks", fresh, "import", html, "--into", "Imported"}).exit_code, 0);
  const ToolRun both = Tool({"bookmarks", fresh, "tree"});
  EXPECT_NE(both.out.find("\n[Imported]\n  [News]\n    News page 0"), std::string::npos);
}

std::unique_ptr<base::CJsonValue> ParseUtf8(const std::string& text) {
  std::u16string wide(text.size() + 1, u'\0');
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<size_t>(std::max(size, 0)));
  return base::CJsonValue::Parse(wide.c_str());
}

TEST_F(BstorageToolTest, DumpJsonParses) {
  const std::string dir = Demo("profile");
  struct Case {
    const char* storage;
    const char16_t* list;
    size_t count;
  };
  for (const Case& c : {Case{"userpref", u"entries", 66}, Case{"bookmark_v2", u"bookmarks", 332},
                        Case{"favicon", u"icons", 40}, Case{"extensions", u"installed", 2}}) {
    const ToolRun dump = Tool({"dump", dir, c.storage, "--json"});
    ASSERT_EQ(dump.exit_code, 0) << c.storage << dump.err;
    const auto json = ParseUtf8(dump.out);
    ASSERT_TRUE(json && json->IsObject()) << c.storage << dump.out.substr(0, 200);
    const auto& list = json->GetObject().at(c.list);
    ASSERT_TRUE(list->IsArray());
    EXPECT_EQ(list->GetArray().size(), c.count) << c.storage;
  }
  // Key-value entries carry their text when they are UTF-8 or UTF-16LE.
  const auto prefs = ParseUtf8(Tool({"dump", dir, "userpref", "--json"}).out);
  std::map<std::u16string, std::u16string> text;
  for (const auto& entry : prefs->GetObject().at(u"entries")->GetArray()) {
    const auto& fields = entry->GetObject();
    if (fields.count(u"text"))
      text[fields.at(u"key")->GetString()] = fields.at(u"text")->GetString();
  }
  EXPECT_EQ(text[u"browser.theme"], u"dark");
  EXPECT_EQ(text[u"browser.greeting.utf16"], u"Grüße aus Zürich");
  EXPECT_EQ(text.count(u"browser.window.size"), 0u);
}

TEST_F(BstorageToolTest, GetSetAndRmRoundTrip) {
  const std::string dir = Folder("profile");
  ASSERT_EQ(Tool({"set", dir, "userpref", "home", "https://example.org/"}).exit_code, 0);
  ASSERT_EQ(Tool({"set", dir, "browserpref_v2", "raw", "00ff10", "--hex"}).exit_code, 0);
  EXPECT_EQ(Tool({"get", dir, "userpref", "home"}).out, "https://example.org/\n");
  EXPECT_EQ(Tool({"get", dir, "browserpref", "raw"}).out, "00ff10\n");
  EXPECT_EQ(Tool({"get", dir, "userpref", "home", "--hex"}).out,
            "68747470733a2f2f6578616d706c652e6f72672f\n");
  ASSERT_EQ(Tool({"rm", dir, "userpref", "home"}).exit_code, 0);
  EXPECT_EQ(Tool({"get", dir, "userpref", "home"}).exit_code, 1);
  EXPECT_EQ(Tool({"rm", dir, "userpref", "home"}).exit_code, 1);
  EXPECT_EQ(Tool({"get", dir, "browserpref", "raw"}).exit_code, 0);
}

TEST_F(BstorageToolTest, BadArgumentsGiveUsageAndExitTwo) {
  const std::string dir = Folder("profile");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"dump"},
      {"dump", dir, "nosuchstorage"},
      {"dump", dir, "userpref", "--yaml"},
      {"get", dir, "userpref"},
      {"set", dir, "bookmark", "key", "value"},
      {"set", dir, "userpref", "key", "zz", "--hex"},
      {"bookmarks", dir, "fly"},
      {"bookmarks", dir, "import"},
      {"icons", dir, "extract", "key"},
      {"check"},
      {"demo", dir, "extra"},
  };
  for (const auto& args : cases) {
    const ToolRun run = Tool(args);
    std::string line;
    for (const std::string& arg : args) line += arg + " ";
    EXPECT_EQ(run.exit_code, 2) << line << run.out << run.err;
    EXPECT_NE(run.err.find("usage: bstorage"), std::string::npos) << line << run.err;
  }
  const ToolRun help = Tool({"bookmarks", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("usage: bstorage bookmarks"), std::string::npos);
}

}  // namespace
