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

#include <dlfcn.h>

#include <random>

#include "base/json_value.h"
#include "browserplatform/stringapiset.h"
#include "browserstorage/storage_service.h"
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

// An application-data root of this process's own with libbrowserstorage.so registered in
// it (DllRegisterServer), made once: the platform reads $XDG_CONFIG_HOME once per process.
// Removed when the process ends.
class RegisteredRoot {
 public:
  static const std::string& Path() {
    static const RegisteredRoot root;
    return root.path_;
  }

 private:
  RegisteredRoot()
      : path_(fs::temp_directory_path() /
              ("bstorage-registered-" + std::to_string(std::random_device()()))) {
    fs::create_directories(path_);
    setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    void* library = dlopen(BROWSER_STORAGE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto reg =
        library
            ? reinterpret_cast<decltype(&DllRegisterServer)>(dlsym(library, "DllRegisterServer"))
            : nullptr;
    EXPECT_TRUE(reg != nullptr && reg() == S_OK);
  }
  ~RegisteredRoot() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }

  std::string path_;
};

class BstorageToolTest : public ::testing::Test {
 protected:
  // The tool run with an application-data root of the test's own, so that no class registered
  // on this machine is used unless the test registers it.
  ToolRun Tool(const std::vector<std::string>& args, const std::string& config_home = "") {
    std::string command =
        "XDG_CONFIG_HOME=" + Quote(config_home.empty() ? scratch_.Native("config") : config_home) +
        " " + BSTORAGE_TOOL;
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
  EXPECT_NE(demo.out.find("lib/libbrowserstorage.so\n"), std::string::npos) << demo.out;
  for (const char* file : {"userpref_v2", "startupdata", "bookmark_v2", "favoricon_v2",
                           "extdb_v2.json", "AutoFill_v2", "AutoLogin_v2"}) {
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
    // An encrypted file whose blocks no longer decrypt to XML.
    std::fstream autofill(dir + "/AutoFill_v2", std::ios::binary | std::ios::in | std::ios::out);
    autofill.seekp(0);
    autofill.write("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16);
  }
  const auto before = Contents(dir);
  const ToolRun check = Tool({"check", dir});
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  EXPECT_NE(check.out.find(dir + "/userpref_v2:"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find(dir + "/favoricon_v2: header: CRC-32 mismatch"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find(dir + "/AutoFill_v2: not loadable"), std::string::npos) << check.out;
  for (const char* intact : {"bookmark_v2:", "AutoLogin_v2:", "startupdata:", "extdb_v2.json:"}) {
    EXPECT_EQ(check.out.find(intact), std::string::npos) << intact << "\n" << check.out;
  }
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
  for (const Case& c : {Case{"userpref", u"entries", 66}, Case{"startupdata", u"entries", 9},
                        Case{"bookmark_v2", u"bookmarks", 332}, Case{"favicon", u"icons", 40},
                        Case{"extensions", u"installed", 2}, Case{"autofill", u"entries", 4},
                        Case{"AutoLogin_v2", u"entries", 2}}) {
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

  // Auto-login records are text, encrypted in the file and decrypted for get.
  ASSERT_EQ(Tool({"set", dir, "autologin", "https://mail.example.com/", "ada\tsecret"}).exit_code,
            0);
  EXPECT_EQ(Tool({"get", dir, "autologin", "https://mail.example.com/"}).out, "ada\tsecret\n");
  EXPECT_EQ(ReadAll(dir + "/AutoLogin_v2").find("secret"), std::string::npos);
  ASSERT_EQ(Tool({"rm", dir, "autologin", "https://mail.example.com/"}).exit_code, 0);
  EXPECT_EQ(Tool({"get", dir, "autologin", "https://mail.example.com/"}).exit_code, 1);
}

TEST_F(BstorageToolTest, UsesTheRegisteredClassWhenThereIsOne) {
  const std::string dir = Folder("profile");
  const ToolRun demo = Tool({"demo", dir}, RegisteredRoot::Path());
  EXPECT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("libbrowserstorage.so (registered class)"), std::string::npos)
      << demo.out;
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
      {"set", dir, "autofill", "key", "00", "--hex"},
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
