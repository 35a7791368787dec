// The bookmark file coder on a large tree: 100,000 nodes, of which 10,000 are folders (100 at the
// top, 99 inside each) holding 9 bookmarks each, with the properties a browser fills in. Every
// case reports the bytes of the file per second; the rapidxml cases are the floor, the same
// bytes parsed and printed by rapidxml alone.
//
//   BookmarkEncodeToString   EncodeToString of the tree
//   BookmarkReadObjects      every property of the tree read into plain values, without XML:
//                            what any encoder spends on the objects alone
//   BookmarkEncodeToFile     EncodeToFile: the same, written to a temporary file (flushed and
//                            renamed by the file writer)
//   BookmarkDecodeFromString DecodeFromString of the file's bytes (the tree's release untimed)
//   BookmarkDecodeFromFile   DecodeFromFile: the same, read from the file first
//   BookmarkBuildObjects     the same tree of shared objects built from plain values, without
//                            XML: what any decoder spends on the objects alone
//   RapidxmlParse            rapidxml's parse (flags 0) of the file's bytes
//   RapidxmlPrint            rapidxml's print (flags 0) of that parsed document
#include <benchmark/benchmark.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_print.hpp>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "storage/bookmark/bookmark_model_xml_coder.h"
#include "tests/bookmark/bookmark_tree_values.h"

namespace {

using bookmark_test::Bookmark;
using bookmark_test::Item;
using bookmark_test::Node;

constexpr int kTopFolders = 100;
constexpr int kFoldersInside = 99;
constexpr int kBookmarksPerFolder = 9;

std::u16string Wide(const std::string& text) { return base::UTF8ToWide(text); }

// An identifier of the usual shape: a GUID in braces.
std::u16string Guid(int serial) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-51C4-4E7B-9D2A-%012X}", serial * 2654435761u, serial);
  return Wide(text);
}

Item NewItem(int serial, const std::u16string& parent_id, bool folder) {
  Item item;
  item.id = Guid(serial);
  item.parent_id = parent_id;
  item.kind = folder ? 2 : 1;
  item.time_added = 13300000000000000 + serial * 1000003LL;
  item.access_time = item.time_added + 86400000000LL;
  item.sort_position = serial % 1000;
  item.origin = serial % 3;
  if (folder) {
    item.title = Wide("Folder " + std::to_string(serial));
    return item;
  }
  const std::string n = std::to_string(serial);
  item.title = Wide("Page " + n + " \xE2\x80\x94 news & reviews, caf\xC3\xA9 edition");
  item.url = Wide("https://www.example" + std::to_string(serial % 997) + ".com/articles/" + n +
                  "?utm_source=bookmarks&ref=home");
  item.icon_url = Wide("https://www.example" + std::to_string(serial % 997) + ".com/favicon.ico");
  item.access_count = serial % 50;
  return item;
}

const std::vector<Node>& Tree() {
  static const std::vector<Node> tree = [] {
    std::vector<Node> top;
    int serial = 0;
    for (int t = 0; t < kTopFolders; ++t) {
      const Item folder = NewItem(++serial, u"", true);
      Node node = Bookmark(folder, true);
      for (int f = 0; f < kFoldersInside + 1; ++f) {
        // The top folder's own bookmarks, then one sub-folder of bookmarks after another.
        Node* holder = &node;
        if (f > 0) {
          node.children.push_back(Bookmark(NewItem(++serial, folder.id, true), false));
          holder = &node.children.back();
        }
        for (int b = 0; b < kBookmarksPerFolder; ++b) {
          holder->children.push_back(Bookmark(NewItem(++serial, holder->item->id, false), false));
        }
      }
      top.push_back(std::move(node));
    }
    return top;
  }();
  return tree;
}

ATL::CComPtr<IObjectList> Root() {
  static const ATL::CComPtr<IObjectList> root = bookmark_test::Build(Tree());
  return root;
}

const std::string& File() {
  static const std::string file = [] {
    std::string text;
    Storage::CBookmarkModelXMLCoder().EncodeToString(Root(), &text);
    return text;
  }();
  return file;
}

std::filesystem::path TempFile() {
  return std::filesystem::temp_directory_path() / "bookmark_xml_bench_bookmark_v2";
}

void Report(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * File().size()));
  state.counters["file_MB"] = static_cast<double>(File().size()) / 1e6;
}

void BM_BookmarkEncodeToString(benchmark::State& state) {
  ATL::CComPtr<IObjectList> root = Root();
  const size_t size = File().size();
  Storage::CBookmarkModelXMLCoder coder;
  for (auto _ : state) {
    std::string text;
    if (!coder.EncodeToString(root, &text) || text.size() != size) {
      state.SkipWithError("encoding failed");
    }
  }
  Report(state);
}
BENCHMARK(BM_BookmarkEncodeToString)->Unit(benchmark::kMillisecond);

void BM_BookmarkReadObjects(benchmark::State& state) {
  ATL::CComPtr<IObjectList> root = Root();
  for (auto _ : state) {
    if (bookmark_test::Read(root).size() != kTopFolders) state.SkipWithError("nodes lost");
  }
  Report(state);
}
BENCHMARK(BM_BookmarkReadObjects)->Unit(benchmark::kMillisecond);

void BM_BookmarkEncodeToFile(benchmark::State& state) {
  ATL::CComPtr<IObjectList> root = Root();
  Storage::CBookmarkModelXMLCoder coder;
  const std::u16string path = Wide(TempFile().string());
  for (auto _ : state) {
    if (!coder.EncodeToFile(root, path)) state.SkipWithError("writing failed");
  }
  std::filesystem::remove(TempFile());
  Report(state);
}
BENCHMARK(BM_BookmarkEncodeToFile)->Unit(benchmark::kMillisecond);

void BM_BookmarkDecodeFromString(benchmark::State& state) {
  File();
  Storage::CBookmarkModelXMLCoder coder;
  for (auto _ : state) {
    state.PauseTiming();
    std::string text = File();
    state.ResumeTiming();
    ATL::CComPtr<IObjectList> root;
    if (!coder.DecodeFromString(text.data(), text.size(), root.Receive())) {
      state.SkipWithError("decoding failed");
    }
    state.PauseTiming();
    root.Release();
    state.ResumeTiming();
  }
  Report(state);
}
BENCHMARK(BM_BookmarkDecodeFromString)->Unit(benchmark::kMillisecond);

void BM_BookmarkDecodeFromFile(benchmark::State& state) {
  Storage::CBookmarkModelXMLCoder coder;
  const std::u16string path = Wide(TempFile().string());
  if (!coder.EncodeToFile(Root(), path)) state.SkipWithError("writing failed");
  for (auto _ : state) {
    ATL::CComPtr<IObjectList> root;
    if (!coder.DecodeFromFile(path, root.Receive())) state.SkipWithError("decoding failed");
    state.PauseTiming();
    root.Release();
    state.ResumeTiming();
  }
  std::filesystem::remove(TempFile());
  Report(state);
}
BENCHMARK(BM_BookmarkDecodeFromFile)->Unit(benchmark::kMillisecond);

void BM_BookmarkBuildObjects(benchmark::State& state) {
  Tree();
  for (auto _ : state) {
    ATL::CComPtr<IObjectList> root = bookmark_test::Build(Tree());
    if (!root) state.SkipWithError("objects not made");
    state.PauseTiming();
    root.Release();
    state.ResumeTiming();
  }
  Report(state);
}
BENCHMARK(BM_BookmarkBuildObjects)->Unit(benchmark::kMillisecond);

void BM_RapidxmlParse(benchmark::State& state) {
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  for (auto _ : state) {
    state.PauseTiming();
    std::string text = File();
    document->clear();
    state.ResumeTiming();
    document->parse<rapidxml::parse_default>(text.data());
  }
  Report(state);
}
BENCHMARK(BM_RapidxmlParse)->Unit(benchmark::kMillisecond);

void BM_RapidxmlPrint(benchmark::State& state) {
  std::string text = File();
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  document->parse<rapidxml::parse_default>(text.data());
  // The parse drops the declaration; it goes back in, so that the same bytes are printed.
  document->prepend_node(
      document->allocate_node(rapidxml::node_pi, "xml version='1.0' encoding='utf-8'", ""));
  for (auto _ : state) {
    std::string printed;
    printed.reserve(File().size());
    rapidxml::print(std::back_inserter(printed), *document, 0);
    if (printed != File()) state.SkipWithError("printed other bytes");
  }
  Report(state);
}
BENCHMARK(BM_RapidxmlPrint)->Unit(benchmark::kMillisecond);

}  // namespace
