// The extension database file over real files: the bytes written, what is read back, the
// manifests in both directions, damaged files kept as ".bad", failed writes retried, and the
// sync's log line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/json_value.h"
#include "base/logging.h"
#include "platform/file_faults.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/extension/extension_test_util.h"

namespace {

using extension_test::ExtensionFileFixture;
using extension_test::Installed;
using extension_test::Row;
using extension_test::Rows;
using extension_test::Updates;

constexpr char kHead[] = R"({"dataversion":"0.0.0.0","dbversion":"0.0.0.0",)";

class ExtensionDbFileTest : public ExtensionFileFixture {
 protected:
  // Opens over a file holding `bytes`.
  void OpenWith(std::string_view bytes) {
    WriteFile(bytes);
    Open();
  }
};

// --- What is written ------------------------------------------------------------------------

TEST_F(ExtensionDbFileTest, WritesTheDocumentByteForByte) {
  Open();
  ASSERT_EQ(
      Add(Row(u"abc", u"/home/u/ext/abc", u"{\"version\":\"1.0\",\"name\":\"Caf\u00e9\"}", 2, 1)),
      S_OK);
  Sync();
  const std::string list =
      R"("list":[{"extId":"abc","manifest":{"name":"Caf)"
      "\xC3\xA9"
      R"(","version":"1.0"},"path":"\/home\/u\/ext\/abc","state":"1","type":"2"}])";
  EXPECT_EQ(ReadFile(), kHead + list + "}");

  // The update list follows, in its own order, once it has a row.
  ASSERT_EQ(AddUpdate(Row(u"upd", u"p", u"[]", 0, 7)), S_OK);
  Sync();
  EXPECT_EQ(ReadFile(), kHead + list +
                            R"(,"updatelist":[{"extId":"upd","manifest":[],"path":"p",)"
                            R"("state":"7","type":"0"}]})");

  // Emptied, both go; "list" stays as an empty array.
  ASSERT_EQ(storage_->RemoveExtension(ATL::CComBSTR(u"abc")), S_OK);
  ASSERT_EQ(storage_->ClearUpdateList(), S_OK);
  Sync();
  EXPECT_EQ(ReadFile(), std::string(kHead) + R"("list":[]})");
}

TEST_F(ExtensionDbFileTest, ClearingAnEmptyUpdateListWritesTheFile) {
  Open();
  ASSERT_EQ(storage_->ClearUpdateList(), S_OK);
  EXPECT_FALSE(FileExists());
  Sync();
  EXPECT_EQ(ReadFile(), std::string(kHead) + R"("list":[]})");
}

TEST_F(ExtensionDbFileTest, SyncWritesOnlyWhenChangesArePendingAndLogsEachWrite) {
  testing_support::CapturingLogController log;
  Open();
  Sync();  // nothing pending
  EXPECT_FALSE(FileExists());
  ASSERT_EQ(Add(Row(u"a")), S_OK);
  Sync();
  EXPECT_TRUE(FileExists());
  Sync();
  std::vector<testing_support::LogLine> lines = log.lines(u"ext;");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, base::kLogLevelPerformance);
  EXPECT_EQ(lines[0].text, u"ext db will sync");
}

TEST_F(ExtensionDbFileTest, RowsComeBackAfterAReopenAndTheFinalSyncWritesPendingChanges) {
  Open();
  ASSERT_EQ(Add(Row(u"b", u"pb", u"{\"k\":[1,2]}", 1, 2)), S_OK);
  ASSERT_EQ(Add(Row(u"a", u"pa", u"{}", -5, 2147483647)), S_OK);
  ASSERT_EQ(AddUpdate(Row(u"u", u"pu", u"{\"x\":null}", 3, -2147483647 - 1)), S_OK);
  Reopen();  // closing wrote the file
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"pa", u"{}", -5, 2147483647),
                                       Row(u"b", u"pb", u"{\"k\":[1,2]}", 1, 2)}));
  EXPECT_EQ(Updates(storage_), (Rows{Row(u"u", u"pu", u"{\"x\":null}", 3, -2147483647 - 1)}));
  EXPECT_EQ(Pending(), 0u);  // the import records nothing
  EXPECT_FALSE(BadExists());
}

// --- What is read ---------------------------------------------------------------------------

TEST_F(ExtensionDbFileTest, ReadsRowsAsTheFormatSays) {
  struct Case {
    const char* name;
    std::string file;
    Rows installed;
    Rows updates;
    bool kept = false;  // as "<file>.bad": the next write would not give back all of it
  };
  const std::vector<Case> cases = {
      {"state and type are strings; a JSON number reads as 0 (and the file is kept)",
       std::string(kHead) +
           R"("list":[{"extId":"a","manifest":{},"path":"p","state":7,"type":"-12"},)"
           R"({"extId":"b","manifest":{},"path":"p","state":"7","type":3}]})",
       {Row(u"a", u"p", u"{}", -12, 0), Row(u"b", u"p", u"{}", 0, 7)},
       {},
       true},
      {"integers: leading space, a sign, digits up to the first other character, clamped",
       R"({"list":[{"extId":"a","state":" +42x","type":"abc"},)"
       R"({"extId":"b","state":"99999999999","type":"-99999999999"}]})",
       {Row(u"a", u"", u"", 0, 42), Row(u"b", u"", u"", -2147483647 - 1, 2147483647)},
       {}},
      {"the later of two rows with one identifier wins",
       R"({"list":[{"extId":"a","path":"first"},{"extId":"a","path":"second"}],)"
       R"("updatelist":[{"extId":"u","type":"1"},{"extId":"u","type":"2"}]})",
       {Row(u"a", u"second", u"")},
       {Row(u"u", u"", u"", 2)}},
      {"missing members read as empty and 0; a missing identifier is the empty one",
       R"({"list":[{"extId":"a"},{"path":"nameless","state":"3"}],"updatelist":[{}]})",
       {Row(u"", u"nameless", u"", 0, 3), Row(u"a", u"", u"")},
       {Row(u"", u"", u"")}},
      {"members in any order, white space anywhere, versions not read",
       " \r\n{ \"updatelist\" : [ ] , \"list\" : [ { \"type\" : \"1\" , \"extId\" : \"x\" } ] ,"
       " \"dataversion\" : \"9\" }\t\n",
       {Row(u"x", u"", u"", 1)},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenWith(c.file);
    EXPECT_EQ(Installed(storage_), c.installed);
    EXPECT_EQ(Updates(storage_), c.updates);
    EXPECT_EQ(Pending(), 0u);
    EXPECT_EQ(BadExists(), c.kept);
    Close();
    std::filesystem::remove(folder_.Native("extdb.json.bad"));
  }
}

// Every manifest text survives the file: as written, or as the compact form of the one JSON
// value it holds.
TEST_F(ExtensionDbFileTest, ManifestTextsSurviveTheFile) {
  struct Case {
    std::u16string stored;
    std::string member;  // as the file holds it
    std::u16string read_back;
  };
  const std::vector<Case> cases = {
      {u"{\"b\":1,\"a\":[true,null,\"s\"]}", R"({"a":[true,null,"s"],"b":1})",
       u"{\"a\":[true,null,\"s\"],\"b\":1}"},
      {u" {\n \"a\" : { \"c\":1, \"b\":2 } }\t", R"({"a":{"b":2,"c":1}})",
       u"{\"a\":{\"b\":2,\"c\":1}}"},
      {u"[1,2]", "[1,2]", u"[1,2]"},
      {u"TRUE", "true", u"true"},
      {u"null", "null", u"null"},
      {u"42", "42", u"42"},
      // Texts that are not one JSON value, or are a JSON string, are kept as strings.
      {u"", R"("")", u""},
      {u"not json", R"("not json")", u"not json"},
      {u"\"quoted\"", R"("\"quoted\"")", u"\"quoted\""},
      {u"{\"a\":1} trailing", R"("{\"a\":1} trailing")", u"{\"a\":1} trailing"},
      {u"{\"a\":1}{}", R"("{\"a\":1}{}")", u"{\"a\":1}{}"},
      {u"{\"a\":1", R"("{\"a\":1")", u"{\"a\":1"},
      {u"1.50", R"("1.50")", u"1.50"},  // a number the writer would spell otherwise
      {u"[1,2],", R"("[1,2],")", u"[1,2],"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform_test::Narrow(c.stored));
    Open();
    ASSERT_EQ(Add(Row(u"x", u"p", c.stored)), S_OK);
    Sync();
    EXPECT_EQ(ReadFile(), std::string(kHead) + R"("list":[{"extId":"x","manifest":)" + c.member +
                              R"(,"path":"p","state":"0","type":"0"}]})");
    Reopen();
    ASSERT_EQ(Installed(storage_).size(), 1u);
    EXPECT_EQ(Installed(storage_)[0].manifest, c.read_back);
    // And once more: what was read back is written the same way.
    EXPECT_EQ(Encoded(),
              platform_test::Widen(std::string(kHead) + R"("list":[{"extId":"x","manifest":)" +
                                   c.member + R"(,"path":"p","state":"0","type":"0"}]})"));
    Close();
  }
}

// The reader refuses documents nested deeper than base::kMaxJsonDepth: a manifest that would
// take the file past it is written as its text, and the file stays readable.
TEST_F(ExtensionDbFileTest, AManifestTooDeepToEmbedIsWrittenAsItsText) {
  for (int depth : {base::kMaxJsonDepth - 3, base::kMaxJsonDepth - 2, base::kMaxJsonDepth + 5}) {
    SCOPED_TRACE(depth);
    const std::u16string manifest = std::u16string(depth, u'[') + std::u16string(depth, u']');
    Open();
    ASSERT_EQ(Add(Row(u"deep", u"p", manifest)), S_OK);
    ASSERT_EQ(Add(Row(u"other")), S_OK);
    Reopen();
    EXPECT_FALSE(BadExists());
    EXPECT_EQ(Installed(storage_), (Rows{Row(u"deep", u"p", manifest), Row(u"other")}));
    const bool embedded = ReadFile().find(R"("manifest":[[)") != std::string::npos;
    EXPECT_EQ(embedded, depth <= base::kMaxJsonDepth - 3);
    Close();
  }
}

TEST_F(ExtensionDbFileTest, ManifestMembersReadAsTextAndAreWrittenBackTheSameWay) {
  struct Case {
    std::string member;
    std::u16string manifest;
  };
  const std::vector<Case> cases = {
      {R"({"z":{"y":[1,{"b":0,"a":-0.5}]},"a":"x\/y"})",
       u"{\"a\":\"x\\/y\",\"z\":{\"y\":[1,{\"a\":-0.5,\"b\":0}]}}"},
      {R"("plain text")", u"plain text"},
      {R"("{\"a\":1}")", u"{\"a\":1}"},
      {R"("with \u0000 a NUL")", std::u16string(u"with \0 a NUL", 12)},
      {"7", u"7"},
      {"1234567", u"1.23457e+006"},
      {"null", u"null"},
      {"[]", u"[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    OpenWith(R"({"list":[{"extId":"x","manifest":)" + c.member + "}]}");
    ASSERT_EQ(Installed(storage_).size(), 1u);
    EXPECT_EQ(Installed(storage_)[0].manifest, c.manifest);
    // Written and read again, the text stays.
    const std::u16string once = Encoded();
    ASSERT_EQ(storage_->SetExtensionState(ATL::CComBSTR(u"x"), 0), S_OK);
    Reopen();
    ASSERT_EQ(Installed(storage_).size(), 1u);
    EXPECT_EQ(Installed(storage_)[0].manifest, c.manifest);
    EXPECT_EQ(Encoded(), once);
    Close();
  }
}

// --- Damage and failures --------------------------------------------------------------------

TEST_F(ExtensionDbFileTest, AFileNotTakenWholeIsKeptAsBadAndReplacedByTheNextWrite) {
  struct Case {
    const char* name;
    std::string file;
    Rows installed;  // what could be read
  };
  const std::vector<Case> cases = {
      {"not JSON", "{\"list\":[{\"extId\":\"a\"", {}},
      {"empty", "", {}},
      {"not an object", R"([{"extId":"a"}])", {}},
      {"text after the document", R"({"list":[{"extId":"a"}]} {"list":[]})", {Row(u"a", u"", u"")}},
      {"list not an array", R"({"list":{"extId":"a"},"updatelist":[]})", {}},
      {"an element not an object", R"({"list":[1,{"extId":"a"}]})", {Row(u"a", u"", u"")}},
      {"a member of the wrong type", R"({"list":[{"extId":5,"path":"p"}]})", {Row(u"", u"p", u"")}},
      {"an unknown member", R"({"list":[{"extId":"a","future":1}]})", {Row(u"a", u"", u"")}},
      {"an unknown list", R"({"list":[],"otherlist":[{"extId":"a"}]})", {}},
      {"not UTF-8", "{\"list\":[{\"extId\":\"a\xFF\"}]}", {Row(u"a\uFFFD", u"", u"")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenWith(c.file);
    EXPECT_EQ(Installed(storage_), c.installed);
    EXPECT_EQ(model_->synchroniser()->IsImportFailed(), 0);
    ASSERT_TRUE(BadExists());
    EXPECT_EQ(ReadBad(), c.file);
    EXPECT_EQ(ReadFile(), c.file);  // untouched until a write
    ASSERT_EQ(Add(Row(u"new")), S_OK);
    Sync();
    EXPECT_EQ(ReadBad(), c.file);
    Reopen();
    Rows expected = c.installed;
    expected.insert(expected.begin(), Row(u"new"));
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return a.extId < b.extId; });
    EXPECT_EQ(Installed(storage_), expected);
    Close();
    std::filesystem::remove(folder_.Native("extdb.json.bad"));
  }
}

TEST_F(ExtensionDbFileTest, AMissingFileIsAFirstStartNotDamage) {
  Open();
  EXPECT_TRUE(Installed(storage_).empty());
  EXPECT_FALSE(BadExists());
  EXPECT_FALSE(FileExists());
}

TEST_F(ExtensionDbFileTest, AnUnreadableFileIsNotReplacedBeforeItIsKept) {
  const std::string original = std::string(kHead) + R"("list":[{"extId":"a"}]})";
  WriteFile(original);
  platform::GetFileFaults().read_fails = true;
  Open();
  platform::GetFileFaults().read_fails = false;
  EXPECT_TRUE(Installed(storage_).empty());
  ASSERT_EQ(Add(Row(u"b")), S_OK);
  Sync();
  EXPECT_EQ(ReadBad(), original);
  EXPECT_NE(ReadFile(), original);
}

TEST_F(ExtensionDbFileTest, AFailedWriteKeepsTheChangesForTheNextSync) {
  Open();
  ASSERT_EQ(Add(Row(u"a")), S_OK);
  Sync();
  const std::string before = ReadFile();
  ASSERT_EQ(Add(Row(u"b")), S_OK);

  for (auto fault : {&platform::FileFaults::write_fails, &platform::FileFaults::move_fails,
                     &platform::FileFaults::open_for_write_fails}) {
    platform::GetFileFaults().*fault = true;
    Sync();
    platform::GetFileFaults().*fault = false;
    EXPECT_EQ(ReadFile(), before);
    EXPECT_EQ(Pending(), 1u);
  }
  Sync();
  EXPECT_EQ(Pending(), 0u);
  EXPECT_NE(ReadFile().find(R"("extId":"b")"), std::string::npos);
}

TEST_F(ExtensionDbFileTest, AWriteThatFailedIsRetriedByTheFinalSync) {
  Open();
  ASSERT_EQ(Add(Row(u"a")), S_OK);
  platform::GetFileFaults().write_fails = true;
  Sync();
  platform::GetFileFaults().write_fails = false;
  EXPECT_FALSE(FileExists());
  Reopen();  // the model's last write
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a")}));
}

}  // namespace
