// The bookmark file coder: the bytes it writes, what it accepts when reading, round trips, and
// trees and documents nested beyond what the file may hold.
#include "storage/bookmark/bookmark_model_xml_coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/string_conversions.h"
#include "browserplatform/md5.h"
#include "storage/keyvalue/key_value_xml.h"
#include "tests/bookmark/bookmark_tree_values.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/small_stack_thread.h"
#include "tests/common/temp_folder.h"
#include "tests/service/allocation_faults.h"

namespace {

using bookmark_test::Bookmark;
using bookmark_test::Item;
using bookmark_test::Node;
using Storage::CBookmarkModelXMLCoder;
using Storage::kMaxBookmarkDepth;
using namespace std::string_literals;

constexpr char kHead[] = "<?xml version='1.0' encoding='utf-8' ?>\n";

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[16];
  EXPECT_TRUE(OV_MD5(bytes.data(), bytes.size(), digest));
  return base::BytesToHexA(digest, sizeof(digest));
}

// A file around `bookmarks` (the root's content) whose checksum covers `ids`.
std::string Document(const std::string& bookmarks, std::string_view ids) {
  return kHead + "<root checksum=\""s + Md5Hex(ids) + "\" version=\"1.0\">\n" + bookmarks +
         "</root>\n\n";
}

std::string Encode(const std::vector<Node>& tree) {
  ATL::CComPtr<IObjectList> root = bookmark_test::Build(tree);
  std::string text;
  EXPECT_TRUE(CBookmarkModelXMLCoder().EncodeToString(root, &text));
  return text;
}

// Decodes a copy of `text`; false when the coder refuses it, which must then hand out nothing.
bool Decode(std::string text, std::vector<Node>* tree) {
  IObjectList* root = reinterpret_cast<IObjectList*>(&text);  // must be cleared on failure
  if (!CBookmarkModelXMLCoder().DecodeFromString(text.data(), text.size(), &root)) {
    EXPECT_EQ(root, nullptr);
    return false;
  }
  *tree = bookmark_test::Read(root);
  root->Release();
  return true;
}

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Three folders with four levels of bookmarks under them; every property of every item set,
// with characters the printer escapes, text outside the BMP, and numbers at their limits.
std::vector<Node> GeneratedTree() {
  std::vector<Node> top;
  int serial = 0;
  const auto item = [&serial](const std::u16string& parent_id, int depth) {
    ++serial;
    const std::u16string n = base::UTF8ToWide(std::to_string(serial));
    Item values;
    values.id = u"id-" + n;
    values.parent_id = parent_id;
    values.title = u"Title <" + n + u"> & \"quotes\" 'too' \u00E9\U0001F600";
    values.url = u"https://example.com/" + n + u"?a=1&b=\u4E2D";
    values.icon_url = u"https://example.com/" + n + u"/favicon.ico";
    values.note = u"line one\nline\ttwo " + n;
    values.kind = serial % 2;
    values.time_added = std::numeric_limits<int64_t>::max() - serial;
    values.access_time = std::numeric_limits<int64_t>::min() + serial;
    values.system_default = -serial;
    values.access_count = std::numeric_limits<int32_t>::min() + depth;
    values.sort_position = int64_t{serial} << 40;
    values.origin = -(int64_t{serial} << 33);
    return values;
  };
  for (int a = 0; a < 3; ++a) {
    Item folder = item(u"root", 1);
    Node node = Bookmark(folder, true);
    for (int b = 0; b < 3; ++b) {
      Item middle = item(folder.id, 2);
      std::vector<Node> leaves;
      for (int c = 0; c < 2; ++c) {
        Item leaf = item(middle.id, 3);
        leaves.push_back(Bookmark(leaf, false, {Bookmark(item(leaf.id, 4), false)}));
      }
      node.children.push_back(Bookmark(middle, false, std::move(leaves)));
    }
    top.push_back(std::move(node));
  }
  return top;
}

// `depth` levels, one node each.
std::vector<Node> Chain(size_t depth) {
  std::vector<Node> level;
  for (size_t i = depth; i > 0; --i) {
    Item values;
    values.id = base::UTF8ToWide(std::to_string(i));
    values.parent_id = base::UTF8ToWide(std::to_string(i - 1));
    level = {Bookmark(values, i == 1, std::move(level))};
  }
  return level;
}

// `depth` levels of bare bookmarks as a file, nested as the writer nests them.
std::string ChainDocument(size_t depth) {
  std::string bookmarks;
  for (size_t i = 1; i <= depth; ++i) {
    bookmarks += "<bookmark>";
    if (i < depth) bookmarks += "<children>";
  }
  for (size_t i = depth; i >= 1; --i) {
    if (i < depth) bookmarks += "</children>";
    bookmarks += "</bookmark>";
  }
  return Document(bookmarks + "\n", "");
}

// Every construct of the format, once: the printer's escaping (& < > always, and the quote
// that delimits the value, single where the value holds a double one), numbers beyond 32 bits and
// negative, a NUL that ends a string, nested children, a node without an item (whose own children
// are lost), and a folder whose child list is empty.
std::vector<Node> FixtureTree() {
  Item first;
  first.id = u"1";
  first.title = u"a & b < c > d \u00E9";
  first.parent_id = u"0";
  first.url = u"http://x/?q=\"1\"";
  first.icon_url = u"it's";
  first.note = u"both \" and '";
  first.kind = 1;
  first.time_added = 13300000000000000;
  first.access_time = -5;
  first.system_default = 4294967296;
  first.access_count = -7;
  first.sort_position = std::numeric_limits<int64_t>::max();
  first.origin = std::numeric_limits<int64_t>::min();
  Item second;
  second.id = u"2";
  second.title = u"ab\0cd"s;
  second.parent_id = u"1";
  Item third;
  third.id = u"3";
  third.parent_id = u"0";
  Node bare;  // no item: written without attributes, and its child is lost
  bare.children = {Bookmark(second, false)};
  return {Bookmark(first, true, {Bookmark(second, false), bare}), Bookmark(third, true)};
}

const std::string kFixtureFile =
    "<?xml version='1.0' encoding='utf-8' ?>\n"
    "<root checksum=\"f72f3c64f4035c03dcf80fb0c957be7b\" version=\"1.0\">\n"
    "\t<bookmark id=\"1\" name=\"a &amp; b &lt; c &gt; d \xC3\xA9\" parentid=\"0\" "
    "url='http://x/?q=\"1\"' faviconurl=\"it's\" note='both \" and &apos;' type=\"1\" "
    "addtime=\"13300000000000000\" accesstime=\"-5\" sysdefault=\"4294967296\" "
    "accesscount=\"-7\" manualorder=\"9223372036854775807\" from=\"-9223372036854775808\">\n"
    "\t\t<children>\n"
    "\t\t\t<bookmark id=\"2\" name=\"ab\" parentid=\"1\" url=\"\" faviconurl=\"\" note=\"\" "
    "type=\"0\" addtime=\"0\" accesstime=\"0\" sysdefault=\"0\" accesscount=\"0\" "
    "manualorder=\"0\" from=\"0\"/>\n"
    "\t\t\t<bookmark/>\n"
    "\t\t</children>\n"
    "\t</bookmark>\n"
    "\t<bookmark id=\"3\" name=\"\" parentid=\"0\" url=\"\" faviconurl=\"\" note=\"\" type=\"0\" "
    "addtime=\"0\" accesstime=\"0\" sysdefault=\"0\" accesscount=\"0\" manualorder=\"0\" "
    "from=\"0\"/>\n"
    "</root>\n"
    "\n";

TEST(BookmarkXmlCoderTest, WritesTheFileByteForByte) {
  // The checksum covers "1" "0" "2" "1" "3" "0": ids and parent ids in document order.
  EXPECT_EQ(Md5Hex("102130"), "f72f3c64f4035c03dcf80fb0c957be7b");
  EXPECT_EQ(Encode(FixtureTree()), kFixtureFile);
  const std::string empty =
      "<?xml version='1.0' encoding='utf-8' ?>\n"
      "<root checksum=\"d41d8cd98f00b204e9800998ecf8427e\" version=\"1.0\"/>\n"
      "\n";
  EXPECT_EQ(Encode({}), empty);

  // A child list without nodes still gets its "children", empty.
  Item folder;
  folder.id = u"4";
  folder.parent_id = u"0";
  ATL::CComPtr<IObjectList> root = bookmark_test::Build({Bookmark(folder, true)});
  ATL::CComPtr<ITreeNode> node;
  ATL::CComPtr<IObjectList> children;
  root->GetAt(0, IID_ITreeNode, node.ReceiveVoid());
  node->GetChildList(children.Receive());
  children->AppendString(bookmark_test::Bstr(u"not a node"));
  std::string text;
  ASSERT_TRUE(CBookmarkModelXMLCoder().EncodeToString(root, &text));
  const std::string with_empty_children = Document(
      "\t<bookmark id=\"4\" name=\"\" parentid=\"0\" url=\"\" faviconurl=\"\" note=\"\" "
      "type=\"0\" addtime=\"0\" accesstime=\"0\" sysdefault=\"0\" accesscount=\"0\" "
      "manualorder=\"0\" from=\"0\">\n"
      "\t\t<children/>\n"
      "\t</bookmark>\n",
      "40");
  EXPECT_EQ(text, with_empty_children);

  // They are what rapidxml's own printer writes for the same document.
  for (const std::string& file : {kFixtureFile, empty, with_empty_children}) {
    EXPECT_EQ(bookmark_test::Reprinted(file), file);
  }
}

TEST(BookmarkXmlCoderTest, ReadsTheFileBack) {
  std::vector<Node> tree;
  ASSERT_TRUE(Decode(kFixtureFile, &tree));
  std::vector<Node> expected = FixtureTree();
  // What the file cannot carry: "sysdefault" is written in full but read through 32 bits, the
  // NUL ends the title, and the node without an item comes back as a bookmark of default
  // values without children, under its parent.
  expected[0].item->system_default = std::numeric_limits<int32_t>::max();
  expected[0].children[0].item->title = u"ab";
  expected[0].children[1] = Node{Item{}, u"", u"1", {}};
  EXPECT_EQ(tree, expected);
  // Top-level nodes have no parent identifier of their own; their items keep the file's.
  EXPECT_EQ(tree[0].parent_id, u"");
  EXPECT_EQ(tree[0].item->parent_id, u"0");
  EXPECT_EQ(tree[0].children[0].parent_id, u"1");

  ASSERT_TRUE(Decode(Encode({}), &tree));
  EXPECT_TRUE(tree.empty());
}

TEST(BookmarkXmlCoderTest, AcceptsHandEditsOutsideTheIdentifiersOnly) {
  struct Case {
    const char* what;
    std::string file;
    bool decoded;
  };
  const std::string checksum = "f72f3c64f4035c03dcf80fb0c957be7b";
  const Case kCases[] = {
      {"title edited", Replaced(kFixtureFile, "name=\"ab\"", "name=\"edited\""), true},
      {"address edited", Replaced(kFixtureFile, "url='http://x/?q=\"1\"'", "url=\"http://y/\""),
       true},
      {"version edited", Replaced(kFixtureFile, "version=\"1.0\"", "version=\"9\""), true},
      {"byte-order mark", "\xEF\xBB\xBF" + kFixtureFile, true},
      {"id edited", Replaced(kFixtureFile, "id=\"2\"", "id=\"9\""), false},
      {"parentid edited", Replaced(kFixtureFile, "parentid=\"1\"", "parentid=\"7\""), false},
      {"id written as a reference", Replaced(kFixtureFile, "id=\"2\"", "id=\"&#50;\""), true},
      {"checksum in upper case",
       Replaced(kFixtureFile, checksum, "F72F3C64F4035C03DCF80FB0C957BE7B"), false},
      {"checksum missing", Replaced(kFixtureFile, "checksum=\"" + checksum + "\" ", ""), false},
      {"checksum cut short", Replaced(kFixtureFile, checksum, checksum.substr(0, 31)), false},
      {"root renamed", Replaced(Replaced(kFixtureFile, "<root", "<base"), "</root", "</base"),
       false},
      {"truncated", kFixtureFile.substr(0, kFixtureFile.size() - 12), false},
      {"not XML", "bookmarks", false},
      {"empty", "", false},
  };
  for (const Case& c : kCases) {
    std::vector<Node> tree;
    EXPECT_EQ(Decode(c.file, &tree), c.decoded) << c.what;
  }
  std::vector<Node> tree;
  ASSERT_TRUE(Decode(kCases[0].file, &tree));
  EXPECT_EQ(tree[0].children[0].item->title, u"edited");
  ASSERT_TRUE(Decode(kCases[1].file, &tree));
  EXPECT_EQ(tree[0].item->url, u"http://y/");
}

TEST(BookmarkXmlCoderTest, ReadsWhatTheWriterNeverWrites) {
  // Where the writer leaves no choice, the reader still has to decide.
  const std::string one = "<bookmark id=\"a\"/>";
  struct Case {
    const char* what;
    std::string file;
    std::vector<std::u16string> ids;  // of the top-level nodes
  };
  const Case kCases[] = {
      {"other elements after the first bookmark count",
       Document("<note/><bookmark id=\"a\"/><folder id=\"b\"/>text<![CDATA[x]]><c id=\"c\"/>",
                "abc"),
       {u"a", u"b", u"c"}},
      {"inside children only bookmarks count",
       Document("<bookmark id=\"a\"><children><x id=\"y\"/><bookmark id=\"b\"/></children>"
                "<children><bookmark id=\"z\"/></children></bookmark>",
                "ab"),
       {u"a"}},
      {"attributes missing", Document("<bookmark/><bookmark name=\"t\"/>", ""), {u"", u""}},
      {"first of duplicate attributes", Document("<bookmark id=\"a\" id=\"b\"/>", "a"), {u"a"}},
      {"comments and declarations skipped",
       Document("<!-- <bookmark id=\"x\"/> --><?pi?>" + one, "a"),
       {u"a"}},
  };
  for (const Case& c : kCases) {
    std::vector<Node> tree;
    ASSERT_TRUE(Decode(c.file, &tree)) << c.what;
    std::vector<std::u16string> ids;
    for (const Node& node : tree) ids.push_back(node.id);
    EXPECT_EQ(ids, c.ids) << c.what;
  }
  std::vector<Node> tree;
  ASSERT_TRUE(Decode(kCases[1].file, &tree));
  ASSERT_EQ(tree[0].children.size(), 1u);
  EXPECT_EQ(tree[0].children[0].id, u"b");

  // Nodes name their actual parents, whatever "parentid" says; the items keep the attribute.
  ASSERT_TRUE(Decode(Document("<bookmark id=\"a\" parentid=\"q\"><children>"
                              "<bookmark id=\"b\" parentid=\"z\"/></children></bookmark>",
                              "aqbz"),
                     &tree));
  EXPECT_EQ(tree[0].parent_id, u"");
  EXPECT_EQ(tree[0].item->parent_id, u"q");
  EXPECT_EQ(tree[0].children[0].parent_id, u"a");
  EXPECT_EQ(tree[0].children[0].item->parent_id, u"z");
}

TEST(BookmarkXmlCoderTest, ReadsNumbersLikeAtoiAndSaturates) {
  struct Case {
    const char* attribute;
    const char* text;
    int64_t value;
  };
  constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
  const Case kCases[] = {
      // "type" and "sysdefault" go through 32 bits, then widen with their sign.
      {"type", "4294967297", kMax32},
      {"type", "-4294967297", kMin32},
      {"type", "2147483647", kMax32},
      {"type", "-1", -1},
      {"sysdefault", "2147483648", kMax32},
      {"sysdefault", "-2147483648", kMin32},
      {"accesscount", "99999999999", kMax32},
      {"accesscount", "-12", -12},
      {"addtime", "9223372036854775807", kMax64},
      {"addtime", "9223372036854775808", kMax64},
      {"addtime", "-9223372036854775808", kMin64},
      {"addtime", "-99999999999999999999", kMin64},
      {"accesstime", "4294967297", 4294967297},
      // White space, sign, digits up to the first non-digit; no digits read as 0.
      {"manualorder", " \t\n+42abc", 42},
      {"manualorder", "&#32;7", 7},
      {"from", "abc", 0},
      {"from", "", 0},
      {"from", "-", 0},
      {"from", "- 5", 0},
      {"from", "0x10", 0},
      {"from", "007", 7},
  };
  for (const Case& c : kCases) {
    std::vector<Node> tree;
    const std::string file =
        Document("<bookmark " + std::string(c.attribute) + "=\"" + c.text + "\"/>", "");
    ASSERT_TRUE(Decode(file, &tree)) << c.attribute << " " << c.text;
    const Item& item = *tree[0].item;
    const std::string attribute = c.attribute;
    const int64_t read = attribute == "type"          ? item.kind
                         : attribute == "sysdefault"  ? item.system_default
                         : attribute == "accesscount" ? item.access_count
                         : attribute == "addtime"     ? item.time_added
                         : attribute == "accesstime"  ? item.access_time
                         : attribute == "manualorder" ? item.sort_position
                                                      : item.origin;
    EXPECT_EQ(read, c.value) << c.attribute << " " << c.text;
  }
}

TEST(BookmarkXmlCoderTest, ReadsTextAsUtf8WithTheChecksumOverTheRawBytes) {
  // Bytes that are not UTF-8 read as U+FFFD, but the checksum covers them as they stand; an
  // empty icon address is not set, so the item keeps its own default.
  const std::string file = Document(
      "<bookmark id=\"\xFF"
      "a\" parentid=\"\xC3\" name=\"\xE2\x82\" faviconurl=\"\"/>",
      "\xFF"
      "a\xC3");
  std::vector<Node> tree;
  ASSERT_TRUE(Decode(file, &tree));
  EXPECT_EQ(tree[0].item->id, u"\uFFFDa");
  EXPECT_EQ(tree[0].id, u"\uFFFDa");
  EXPECT_EQ(tree[0].item->parent_id, u"\uFFFD");
  EXPECT_EQ(tree[0].item->title, u"\uFFFD");
  EXPECT_EQ(tree[0].item->icon_url, Item{}.icon_url);
  EXPECT_FALSE(Decode(Document("<bookmark id=\"\xFF"
                               "a\"/>",
                               "\xEF\xBF\xBD"
                               "a"),
                      &tree));
}

TEST(BookmarkXmlCoderTest, RoundTripsAGeneratedTree) {
  const std::vector<Node> tree = GeneratedTree();
  const std::string text = Encode(tree);
  EXPECT_EQ(bookmark_test::Reprinted(text), text);
  std::vector<Node> decoded;
  ASSERT_TRUE(Decode(text, &decoded));
  EXPECT_EQ(decoded, tree);
  EXPECT_EQ(Encode(decoded), text);
}

TEST(BookmarkXmlCoderTest, GoesThroughFiles) {
  platform_test::TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::u16string path = folder.Wide("bookmark_v2");
  ATL::CComPtr<IObjectList> root = bookmark_test::Build(GeneratedTree());
  CBookmarkModelXMLCoder coder;
  EXPECT_EQ(coder.file_writer()->write_mode(), Storage::kWriteModePlain);
  EXPECT_FALSE(coder.EncodeToFile(nullptr, path));
  EXPECT_FALSE(coder.EncodeToFile(root, u""));
  EXPECT_EQ(folder.Names(), std::set<std::string>{});

  ASSERT_TRUE(coder.EncodeToFile(root, path));
  std::string text;
  ASSERT_TRUE(coder.EncodeToString(root, &text));
  EXPECT_EQ(platform_test::ReadNative(folder.Native("bookmark_v2")), text);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"bookmark_v2"});

  testing_support::CapturingLogController log;
  IObjectList* decoded = nullptr;
  ASSERT_TRUE(coder.DecodeFromFile(path, &decoded));
  EXPECT_EQ(bookmark_test::Read(decoded), GeneratedTree());
  decoded->Release();
  const std::vector<std::u16string> trace = log.texts(u"performance_profile;");
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], u"进入函数:Storage::CBookmarkModelXMLCoder::DecodeFromFile\n");
  EXPECT_EQ(
      trace[1].rfind(u"离开函数:Storage::CBookmarkModelXMLCoder::DecodeFromFile 执行耗时:", 0), 0u);

  decoded = root;  // must be cleared
  EXPECT_FALSE(coder.DecodeFromFile(folder.Wide("missing"), &decoded));
  EXPECT_EQ(decoded, nullptr);
  EXPECT_FALSE(coder.DecodeFromFile(u"", &decoded));
  EXPECT_FALSE(coder.DecodeFromFile(path, nullptr));
  // The buffer must end in a NUL, or the parser would read past it.
  text = "xx";
  EXPECT_FALSE(coder.DecodeFromString(text.data(), 1, &decoded));
  EXPECT_FALSE(coder.DecodeFromString(nullptr, 0, &decoded));
}

TEST(BookmarkXmlCoderTest, WritesNoTreeDeeperThanItReads) {
  // The deepest tree that fits is written and read back whole.
  const std::vector<Node> deepest = Chain(kMaxBookmarkDepth);
  const std::string text = Encode(deepest);
  std::vector<Node> decoded;
  ASSERT_TRUE(Decode(text, &decoded));
  EXPECT_TRUE(decoded == deepest);
  // A level more is refused before anything is printed, and so is the document of it.
  ATL::CComPtr<IObjectList> root = bookmark_test::Build(Chain(kMaxBookmarkDepth + 1));
  testing_support::CapturingLogController log;
  std::string out = "unchanged";
  EXPECT_FALSE(CBookmarkModelXMLCoder().EncodeToString(root, &out));
  EXPECT_EQ(out, "unchanged");
  const std::vector<testing_support::LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 64u);
  EXPECT_NE(lines[0].text.find(u"nested deeper than 500 levels"), std::u16string::npos);
  EXPECT_TRUE(Decode(ChainDocument(kMaxBookmarkDepth), &decoded));
  EXPECT_FALSE(Decode(ChainDocument(kMaxBookmarkDepth + 1), &decoded));
}

TEST(BookmarkXmlCoderTest, RefusesACycleOnASmallStack) {
  // A node in its own child list, and one reached again through a child: the writer walks
  // each down to the depth limit before it refuses, with no stack per level.
  auto self = bookmark_test::New<ITreeNode>(IID_ITreeNode);
  self->SetItem(bookmark_test::NewItem(Item{}));
  auto self_list = bookmark_test::New<IObjectList>(IID_IObjectList);
  self->SetChildList(self_list);
  self_list->Append(IID_ITreeNode, self);

  ATL::CComPtr<IObjectList> pair =
      bookmark_test::Build({Bookmark(Item{}, true, {Bookmark(Item{}, false)})});
  ATL::CComPtr<ITreeNode> first, second;
  ATL::CComPtr<IObjectList> first_children, second_children;
  pair->GetAt(0, IID_ITreeNode, first.ReceiveVoid());
  first->GetChildList(first_children.Receive());
  first_children->GetAt(0, IID_ITreeNode, second.ReceiveVoid());
  second->GetChildList(second_children.Receive());
  second_children->Append(IID_ITreeNode, first);

  auto root = bookmark_test::New<IObjectList>(IID_IObjectList);
  root->Append(IID_ITreeNode, self);
  bool self_encoded = true, pair_encoded = true;
  ASSERT_TRUE(testing_support::RunWithStack(128 * 1024, [&] {
    std::string out;
    self_encoded = CBookmarkModelXMLCoder().EncodeToString(root, &out);
    pair_encoded = CBookmarkModelXMLCoder().EncodeToString(pair, &out);
  }));
  EXPECT_FALSE(self_encoded);
  EXPECT_FALSE(pair_encoded);
  // Broken again, so that the objects can go.
  self_list->RemoveAt(0);
  second_children->RemoveAt(0);
}

TEST(BookmarkXmlCoderTest, DeepDocumentsFailOnASmallStack) {
  // Nested far beyond any real file: a reader that recursed per level would need megabytes of
  // stack for it, and the thread has 256 KiB.
  constexpr size_t kLevels = 100000;
  std::string bookmarks = "<bookmark><children>";
  bookmarks.reserve(kLevels * 41);
  for (size_t i = 1; i < kLevels; ++i) bookmarks += "<bookmark><children>";
  for (size_t i = 0; i < kLevels; ++i) bookmarks += "</children></bookmark>";
  std::string bookmark_file = Document(bookmarks, "");
  std::string items = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ItemTable version=\"1.0\">";
  for (size_t i = 0; i < kLevels; ++i) items += "<Item key=\"a\" value=\"01\">";
  for (size_t i = 0; i < kLevels; ++i) items += "</Item>";
  items += "</ItemTable>\r\n";

  bool bookmarks_decoded = true, items_parsed = true;
  ASSERT_TRUE(testing_support::RunWithStack(256 * 1024, [&] {
    IObjectList* root = nullptr;
    bookmarks_decoded = CBookmarkModelXMLCoder().DecodeFromString(bookmark_file.data(),
                                                                  bookmark_file.size(), &root);
    Storage::KeyValueXmlContent content;
    items_parsed = Storage::ParseKeyValueXml(items.data(), items.size(), &content);
  }));
  EXPECT_FALSE(bookmarks_decoded);
  EXPECT_FALSE(items_parsed);
}

TEST(BookmarkXmlCoderTest, WritesTheDeepestTreeOnASmallStack) {
  // The writer keeps no stack per level: the deepest tree takes no more than a small thread
  // has.
  ATL::CComPtr<IObjectList> deepest = bookmark_test::Build(Chain(kMaxBookmarkDepth));
  std::string text;
  bool encoded = false;
  ASSERT_TRUE(testing_support::RunWithStack(
      128 * 1024, [&] { encoded = CBookmarkModelXMLCoder().EncodeToString(deepest, &text); }));
  EXPECT_TRUE(encoded);
  EXPECT_EQ(text, Encode(Chain(kMaxBookmarkDepth)));
}

TEST(BookmarkXmlCoderTest, TheDeepestFileReadsOnADefaultThreadStack) {
  // rapidxml's parse recurses per element level (2 to 3 KiB a level under AddressSanitizer
  // without optimisation): the deepest file the coder writes must still read on the 8 MiB
  // stack a thread gets by default.
  std::string text = Encode(Chain(kMaxBookmarkDepth));
  bool decoded = false;
  ASSERT_TRUE(testing_support::RunWithStack(8 * 1024 * 1024, [&] {
    IObjectList* root = nullptr;
    decoded = CBookmarkModelXMLCoder().DecodeFromString(text.data(), text.size(), &root);
    if (root != nullptr) root->Release();
  }));
  EXPECT_TRUE(decoded);
}

TEST(BookmarkXmlCoderTest, RunningOutOfMemoryFailsWithoutThrowing) {
  // Each allocation of a decode and an encode fails in turn: the call reports failure, or,
  // where the failure was absorbed, the full result; nothing throws and nothing leaks.
  const std::vector<Node> expected = [] {
    std::vector<Node> tree;
    EXPECT_TRUE(Decode(kFixtureFile, &tree));
    return tree;
  }();
  ATL::CComPtr<IObjectList> root = bookmark_test::Build(FixtureTree());
  CBookmarkModelXMLCoder coder;
  size_t failures = 0;
  for (size_t nth = 1;; ++nth) {
    std::string text = kFixtureFile;
    IObjectList* decoded = nullptr;
    service_test::FailNthAllocation(nth);
    const bool ok = coder.DecodeFromString(text.data(), text.size(), &decoded);
    if (!service_test::StopFailingAllocations()) {
      EXPECT_TRUE(ok);
      if (decoded != nullptr) decoded->Release();
      break;
    }
    ++failures;
    if (ok) {
      EXPECT_EQ(bookmark_test::Read(decoded), expected) << nth;
      decoded->Release();
    } else {
      EXPECT_EQ(decoded, nullptr) << nth;
    }
  }
  for (size_t nth = 1;; ++nth) {
    std::string out;
    service_test::FailNthAllocation(nth);
    const bool ok = coder.EncodeToString(root, &out);
    if (!service_test::StopFailingAllocations()) {
      EXPECT_TRUE(ok);
      break;
    }
    ++failures;
    EXPECT_EQ(out, ok ? kFixtureFile : "") << nth;
  }
  EXPECT_GT(failures, 20u);
}

}  // namespace
