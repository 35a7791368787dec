// The bookmark model against SQLite doing the same work, in one run, on a generated tree of
// 100,000 bookmarks in 10,000 folders (100 top-level folders, 99 subfolders each, 10 bookmarks
// a folder). Addresses spread over 3,000 domains with a skewed share each (a few domains hold
// most bookmarks), http and https, with and without "www.", with paths; visit counts and last
// visits are skewed towards few and recent.
//
//   BookmarkModelMemory        the resident memory the model adds, measured in a child process
//                              (RSS from /proc/self/statm): tree_bytes for the nodes, items and
//                              lists, index_bytes for SetRoot's identifier and address indexes,
//                              bytes_per_bookmark for both over the 100,000 bookmarks
//   BookmarkBuildObjects100k   make the 110,000 nodes with their items and child lists
//   BookmarkSetRoot100k        hand that tree to a new model: checks, identifier index,
//                              address index
//   BookmarkAdd                Add one bookmark to a folder of the 100,000-bookmark model
//   BookmarkUpdate             Update one bookmark with a new visit (merge, copy, reindex)
//   BookmarkRemove             Remove one bookmark
//   BookmarkPrefixSearch/<n>   SearchByURLPrefix with maximum 10 for what a user has typed after
//                              n keystrokes: the first n characters of 300 stored addresses
//                              without scheme and "www." (n = 0: 300 texts that match nothing),
//                              each searched three times. Each call is timed on its own
//                              (steady_clock); counters p50_us, p99_us and max_us over those
//                              900 calls, results the average number of items found
//   SqlitePrefixSearch/<n>     baseline: the same texts on an in-memory table (id, url, count,
//                              time) indexed on url; each of the prefixes the model tries is the
//                              range query url >= ?1 AND url < ?2 ORDER BY count DESC, time DESC
//                              LIMIT 10, merged as the model merges its passes; the text as typed
//                              when no prefix found anything. Same counters, and rank_mismatches:
//                              texts whose best (count, time) differ from the model's (0 expected)
//   SqliteInsert100k           baseline: the 100,000 rows and the url index in one transaction;
//                              memory_bytes is what SQLite then holds (sqlite3_memory_used)
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/sync/storage_sync_base.h"

namespace {

constexpr int kBookmarks = 100000;
constexpr int kFolders = 10000;
constexpr int kTopFolders = 100;
constexpr int kDomains = 3000;
constexpr int kTypedPerLength = 300;
constexpr int kMaxTypedLength = 10;
// Each text three times, the same calls for the model and for SQLite.
constexpr int kSearchCalls = 3 * kTypedPerLength;
constexpr LONG kMaximum = 10;
constexpr LONGLONG kNow = 1700000000;  // seconds; last visits lie within two years before it

struct Bookmark {
  std::string id;
  std::string title;
  std::string url;
  LONG count = 0;
  LONGLONG time = 0;
};

struct Corpus {
  std::vector<Bookmark> bookmarks;  // bookmark i sits in folder i % kFolders
  // typed[n]: texts of n characters; typed[0]: texts that match nothing.
  std::vector<std::string> typed[kMaxTypedLength + 1];
};

// "b12" for ('b', 12).
std::string Numbered(char letter, int number) {
  std::string text(1, letter);
  text += std::to_string(number);
  return text;
}

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

ATL::CComBSTR Bstr(std::string_view ascii) {
  const std::u16string wide = Wide(ascii);
  return ATL::CComBSTR(wide.data(), static_cast<UINT>(wide.size()));
}

const Corpus& TheCorpus() {
  static const Corpus corpus = [] {
    Corpus out;
    std::mt19937 random(20240601);
    auto uniform = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto unit = [&] { return std::uniform_real_distribution<double>(0, 1)(random); };
    const char* syllables[] = {
        "ba",  "be",   "bo",   "ca",    "co",   "da",   "de",   "do",  "fa",   "fi",
        "ga",  "go",   "ha",   "ka",    "ki",   "la",   "le",   "li",  "lo",   "ma",
        "me",  "mi",   "mo",   "na",    "ne",   "no",   "pa",   "pe",  "pi",   "po",
        "ra",  "re",   "ri",   "ro",    "sa",   "se",   "si",   "so",  "ta",   "te",
        "ti",  "to",   "va",   "vi",    "wa",   "ya",   "zo",   "gle", "hub",  "book",
        "net", "soft", "tube", "pedia", "news", "shop", "mail", "map", "star", "cloud"};
    const char* tlds[] = {"com", "com", "com", "org", "net", "de", "io", "co.uk", "fr"};
    const char* words[] = {"wiki", "watch", "article",  "docs", "en",      "user",   "item",
                           "blog", "2023",  "search",   "view", "post",    "issues", "release",
                           "news", "index", "products", "help", "account", "story"};
    struct Domain {
      std::string name;
      bool https;
      bool www;
    };
    std::vector<Domain> domains;
    std::set<std::string> names;
    while (static_cast<int>(domains.size()) < kDomains) {
      std::string name;
      for (int i = uniform(2, 3); i > 0; --i)
        name += syllables[uniform(0, std::size(syllables) - 1)];
      name += std::string(".") + tlds[uniform(0, std::size(tlds) - 1)];
      if (names.insert(name).second) domains.push_back({name, unit() < 0.75, unit() < 0.5});
    }
    // Domain k's share is proportional to 1/(k+1): a few domains hold most bookmarks.
    std::vector<double> weights;
    for (int k = 0; k < kDomains; ++k) weights.push_back(1.0 / (k + 1));
    std::discrete_distribution<int> pick_domain(weights.begin(), weights.end());
    for (int i = 0; i < kBookmarks; ++i) {
      const Domain& domain = domains[pick_domain(random)];
      Bookmark bookmark;
      bookmark.id = Numbered('b', i);
      std::string path = "/";
      for (int depth = uniform(0, 3); depth > 0; --depth) {
        path += words[uniform(0, std::size(words) - 1)];
        path += "/";
      }
      if (uniform(0, 2) == 0) path += "?id=" + std::to_string(uniform(1, 999999));
      bookmark.url = std::string(domain.https ? "https://" : "http://") +
                     (domain.www ? "www." : "") + domain.name + path;
      bookmark.title = domain.name + " " + path;
      // Most bookmarks are rarely visited, a few very often; last visits mostly recent.
      bookmark.count =
          unit() < 0.6 ? uniform(0, 2) : std::min(5000, static_cast<int>(std::pow(unit(), -1.3)));
      bookmark.time = kNow - static_cast<LONGLONG>(std::pow(unit(), 3) * 2 * 365 * 86400);
      out.bookmarks.push_back(std::move(bookmark));
    }
    // What users type: the address without scheme and "www.", a keystroke at a time.
    for (int q = 0; q < kTypedPerLength; ++q) {
      std::string text = out.bookmarks[uniform(0, kBookmarks - 1)].url;
      text.erase(0, text.find("://") + 3);
      if (text.compare(0, 4, "www.") == 0) text.erase(0, 4);
      for (int n = 1; n <= kMaxTypedLength && n <= static_cast<int>(text.size()); ++n) {
        out.typed[n].push_back(text.substr(0, n));
      }
      // No domain starts with x.
      std::string none = "x";
      for (int n = uniform(1, kMaxTypedLength); n > 1; --n)
        none += static_cast<char>('a' + uniform(0, 25));
      out.typed[0].push_back(none);
    }
    return out;
  }();
  return corpus;
}

std::string FolderId(int folder) { return Numbered('f', folder); }

ATL::CComPtr<IObjectList> NewList() {
  ATL::CComPtr<IObjectList> list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  return list;
}

ATL::CComPtr<IBookmarkItem> NewItem(const std::string& id, const std::string& title,
                                    const std::string& url, LONGLONG kind, LONG count,
                                    LONGLONG time) {
  ATL::CComPtr<IBookmarkItem> item;
  Util::Com::CreateObjectByIID(IID_IBookmarkItem, item.ReceiveVoid());
  item->SetId(Bstr(id));
  item->SetTitle(Bstr(title));
  item->SetUrl(Bstr(url));
  item->SetKind(kind);
  item->SetAccessCount(count);
  item->SetLastAccessTime(time);
  return item;
}

// A node with its item and an empty child list, as the file's import makes them.
ATL::CComPtr<ITreeNode> NewNode(IBookmarkItem* item, const std::string& id,
                                const std::string& parent_id) {
  ATL::CComPtr<ITreeNode> node;
  Util::Com::CreateObjectByIID(IID_ITreeNode, node.ReceiveVoid());
  node->SetItem(item);
  node->SetId(Bstr(id));
  node->SetParentId(Bstr(parent_id));
  node->SetChildList(NewList());
  return node;
}

ATL::CComPtr<IObjectList> ChildrenOf(ITreeNode* node) {
  ATL::CComPtr<IObjectList> list;
  node->GetChildList(list.Receive());
  return list;
}

// Folder f < kTopFolders is at the top; folder f above sits in folder f % kTopFolders.
ATL::CComPtr<IObjectList> BuildTree(const Corpus& corpus) {
  ATL::CComPtr<IObjectList> root = NewList();
  std::vector<ATL::CComPtr<ITreeNode>> folders;
  for (int f = 0; f < kFolders; ++f) {
    const std::string parent = f < kTopFolders ? "" : FolderId(f % kTopFolders);
    const std::string id = FolderId(f);
    folders.push_back(NewNode(NewItem(id, "Folder " + id, "", 2, 0, 0), id, parent));
    if (f < kTopFolders) {
      root->Append(IID_ITreeNode, folders.back());
    } else {
      ChildrenOf(folders[f % kTopFolders])->Append(IID_ITreeNode, folders.back());
    }
  }
  for (int i = 0; i < kBookmarks; ++i) {
    const Bookmark& b = corpus.bookmarks[i];
    const std::string folder = FolderId(i % kFolders);
    ATL::CComPtr<IBookmarkItem> item =
        NewItem(b.id, b.title, b.url, kBookmarkKindUrl, b.count, b.time);
    item->SetParentId(Bstr(folder));
    ChildrenOf(folders[i % kFolders])->Append(IID_ITreeNode, NewNode(item, b.id, folder));
  }
  return root;
}

base::scoped_refptr<Storage::CBookmarkTreeModel> NewModel() {
  return base::scoped_refptr<Storage::CBookmarkTreeModel>(
      new Storage::CBookmarkTreeModel(base::scoped_refptr<Storage::CStorageSyncBase>()));
}

// One tree for the cases that only need one: published nodes never change, so models share it.
IObjectList* SharedTree() {
  static ATL::CComPtr<IObjectList> tree = BuildTree(TheCorpus());
  return tree;
}

base::scoped_refptr<Storage::CBookmarkTreeModel> ModelOfSharedTree() {
  base::scoped_refptr<Storage::CBookmarkTreeModel> model = NewModel();
  if (model->SetRoot(SharedTree()) != S_OK) std::abort();
  return model;
}

// The model the searches run on, kept for the whole run.
Storage::CBookmarkTreeModel* SearchModel() {
  static base::scoped_refptr<Storage::CBookmarkTreeModel> model = ModelOfSharedTree();
  return model.get();
}

double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  double size = 0;
  double resident = -1;
  statm >> size >> resident;
  return resident < 0 ? -1 : resident * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Runs first, before the other cases have grown the heap.
void BM_BookmarkModelMemory(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  double figures[3] = {-1, -1, -1};  // before, with the tree, with the model
  for (auto _ : state) {
    int ends[2];
    if (::pipe(ends) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(ends[0]);
      double measured[3];
      measured[0] = ResidentBytes();
      ATL::CComPtr<IObjectList> tree = BuildTree(corpus);
      measured[1] = ResidentBytes();
      base::scoped_refptr<Storage::CBookmarkTreeModel> model = NewModel();
      const bool set = model->SetRoot(tree) == S_OK;
      measured[2] = ResidentBytes();
      const bool sent = ::write(ends[1], measured, sizeof(measured)) == sizeof(measured);
      ::_exit(set && sent ? 0 : 1);  // no teardown: only the building is measured
    }
    ::close(ends[1]);
    bool received = child > 0 && ::read(ends[0], figures, sizeof(figures)) == sizeof(figures);
    int status = 0;
    if (child > 0 &&
        (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
      received = false;
    }
    ::close(ends[0]);
    if (!received || figures[0] < 0) {
      state.SkipWithError("the measuring child process failed");
      return;
    }
  }
  state.counters["tree_bytes"] = figures[1] - figures[0];
  state.counters["index_bytes"] = figures[2] - figures[1];
  state.counters["bytes_per_bookmark"] = (figures[2] - figures[0]) / kBookmarks;
}
BENCHMARK(BM_BookmarkModelMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BookmarkBuildObjects100k(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  for (auto _ : state) {
    ATL::CComPtr<IObjectList> tree = BuildTree(corpus);
    state.PauseTiming();
    tree.Release();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BookmarkBuildObjects100k)->Unit(benchmark::kMillisecond);

void BM_BookmarkSetRoot100k(benchmark::State& state) {
  IObjectList* tree = SharedTree();
  for (auto _ : state) {
    base::scoped_refptr<Storage::CBookmarkTreeModel> model = NewModel();
    if (model->SetRoot(tree) != S_OK) state.SkipWithError("SetRoot refused the tree");
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BookmarkSetRoot100k)->Unit(benchmark::kMillisecond);

constexpr int kChangeOps = 20000;
constexpr int kStride = 7919;  // prime to 100,000 and 10,000: ops spread over the whole tree

void BM_BookmarkAdd(benchmark::State& state) {
  base::scoped_refptr<Storage::CBookmarkTreeModel> model = ModelOfSharedTree();
  std::vector<ATL::CComPtr<IBookmarkItem>> items;
  std::vector<ATL::CComBSTR> ids;
  std::vector<ATL::CComBSTR> folders;
  for (int i = 0; i < kChangeOps; ++i) {
    const std::string id = Numbered('n', i);
    items.push_back(NewItem(id, "New " + id, "https://www.example.com/" + id, 1, 0, kNow));
    ids.push_back(Bstr(id));
    folders.push_back(Bstr(FolderId(i * kStride % kFolders)));
  }
  size_t i = 0;
  for (auto _ : state) {
    if (model->Add(items[i], ids[i], folders[i], -1) != S_OK) state.SkipWithError("Add failed");
    ++i;
  }
}
BENCHMARK(BM_BookmarkAdd)->Iterations(kChangeOps);

void BM_BookmarkUpdate(benchmark::State& state) {
  base::scoped_refptr<Storage::CBookmarkTreeModel> model = ModelOfSharedTree();
  const Corpus& corpus = TheCorpus();
  std::vector<ATL::CComPtr<IBookmarkItem>> items;
  std::vector<ATL::CComBSTR> ids;
  for (int i = 0; i < kChangeOps; ++i) {
    const Bookmark& b = corpus.bookmarks[static_cast<size_t>(i) * kStride % kBookmarks];
    items.push_back(NewItem(b.id, b.title, b.url, 1, b.count + 1, kNow + i));
    ids.push_back(Bstr(b.id));
  }
  size_t i = 0;
  for (auto _ : state) {
    if (model->Update(ids[i], items[i]) != S_OK) state.SkipWithError("Update failed");
    ++i;
  }
}
BENCHMARK(BM_BookmarkUpdate)->Iterations(kChangeOps);

void BM_BookmarkRemove(benchmark::State& state) {
  base::scoped_refptr<Storage::CBookmarkTreeModel> model = ModelOfSharedTree();
  const Corpus& corpus = TheCorpus();
  std::vector<ATL::CComBSTR> ids;
  for (int i = 0; i < kChangeOps; ++i) {
    ids.push_back(Bstr(corpus.bookmarks[static_cast<size_t>(i) * kStride % kBookmarks].id));
  }
  size_t i = 0;
  for (auto _ : state) {
    if (model->Remove(ids[i]) != S_OK) state.SkipWithError("Remove failed");
    ++i;
  }
}
BENCHMARK(BM_BookmarkRemove)->Iterations(kChangeOps);

// p50, p99 and the maximum of the individual calls, in microseconds.
void ReportLatencies(benchmark::State& state, std::vector<double> micros, double results) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto at = [&](double quantile) {
    return micros[std::min(micros.size() - 1, static_cast<size_t>(quantile * micros.size()))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = micros.back();
  state.counters["results"] = results / static_cast<double>(micros.size());
}

std::vector<ATL::CComBSTR> TypedBstrs(int length) {
  std::vector<ATL::CComBSTR> out;
  for (const std::string& text : TheCorpus().typed[length]) out.push_back(Bstr(text));
  return out;
}

void BM_BookmarkPrefixSearch(benchmark::State& state) {
  Storage::CBookmarkTreeModel* model = SearchModel();
  const std::vector<ATL::CComBSTR> typed = TypedBstrs(static_cast<int>(state.range(0)));
  std::vector<double> micros;
  double results = 0;
  size_t next = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ATL::CComPtr<IObjectList> items;
    model->SearchByURLPrefix(typed[next], kMaximum, items.Receive());
    const auto end = std::chrono::steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    UINT count = 0;
    if (items) items->Count(&count);
    results += count;
    next = (next + 1) % typed.size();
  }
  ReportLatencies(state, std::move(micros), results);
}
BENCHMARK(BM_BookmarkPrefixSearch)->DenseRange(0, kMaxTypedLength)->Iterations(kSearchCalls);

// The prefixes the model tries, in its order: the text without leading slashes and without
// "http(s)://", after seven scheme prefixes unless it names a scheme.
std::vector<std::string> PrefixPasses(std::string_view typed) {
  std::string_view rest = typed.substr(std::min(typed.size(), typed.find_first_not_of("\\/")));
  if (const size_t colon = rest.find(":/");
      colon != std::string_view::npos && rest.compare(0, 4, "http") == 0) {
    rest = rest.substr(colon + 1);
    rest = rest.substr(std::min(rest.size(), rest.find_first_not_of("\\/")));
  }
  std::vector<std::string> prefixes;
  if (rest.compare(0, 5, "http:") != 0 && rest.compare(0, 4, "ftp:") != 0 &&
      rest.compare(0, 6, "https:") != 0) {
    for (const char* scheme : {"http://www.", "http://", "ftp://ftp.", "https://", "https://www.",
                               "ftp://", "ftp://www."}) {
      prefixes.push_back(scheme + std::string(rest));
    }
  }
  return prefixes;
}

struct Ranked {
  LONG count;
  LONGLONG time;
  std::string id;
};

class SqliteBookmarks {
 public:
  explicit SqliteBookmarks(const Corpus& corpus) {
    sqlite3_open(":memory:", &db_);
    sqlite3_exec(db_, "CREATE TABLE bookmarks (id TEXT, url TEXT, count INTEGER, time INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO bookmarks VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (const Bookmark& b : corpus.bookmarks) {
      sqlite3_bind_text(insert, 1, b.id.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 2, b.url.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(insert, 3, b.count);
      sqlite3_bind_int64(insert, 4, b.time);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db_, "CREATE INDEX bookmarks_url ON bookmarks (url)", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_,
                       "SELECT id, count, time FROM bookmarks WHERE url >= ?1 AND url < ?2 "
                       "ORDER BY count DESC, time DESC LIMIT 10",
                       -1, &range_, nullptr);
  }
  ~SqliteBookmarks() {
    sqlite3_finalize(range_);
    sqlite3_close(db_);
  }
  SqliteBookmarks(const SqliteBookmarks&) = delete;
  SqliteBookmarks& operator=(const SqliteBookmarks&) = delete;

  // The best kMaximum over the passes, first offered first among equals, as the model keeps
  // them; then the text as typed when no pass found anything.
  std::vector<Ranked> Search(std::string_view typed) {
    std::vector<Ranked> kept;
    for (const std::string& prefix : PrefixPasses(typed)) Pass(prefix, &kept);
    if (kept.empty()) Pass(std::string(typed), &kept);
    return kept;
  }

 private:
  void Pass(const std::string& prefix, std::vector<Ranked>* kept) {
    std::string upper = prefix;
    ++upper.back();  // ASCII: the first text after every one that starts with the prefix
    sqlite3_bind_text(range_, 1, prefix.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(range_, 2, upper.c_str(), -1, SQLITE_STATIC);
    while (sqlite3_step(range_) == SQLITE_ROW) {
      Ranked row{sqlite3_column_int(range_, 1), sqlite3_column_int64(range_, 2),
                 reinterpret_cast<const char*>(sqlite3_column_text(range_, 0))};
      auto at =
          std::upper_bound(kept->begin(), kept->end(), row, [](const Ranked& a, const Ranked& b) {
            return std::tie(a.count, a.time) > std::tie(b.count, b.time);
          });
      if (at - kept->begin() >= kMaximum) continue;
      kept->insert(at, std::move(row));
      if (static_cast<LONG>(kept->size()) > kMaximum) kept->pop_back();
    }
    sqlite3_reset(range_);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* range_ = nullptr;
};

// Texts whose kept (count, time) sequence differs between the model and SQLite.
int RankMismatches(SqliteBookmarks* sqlite, int length) {
  Storage::CBookmarkTreeModel* model = SearchModel();
  int mismatches = 0;
  for (const std::string& text : TheCorpus().typed[length]) {
    ATL::CComPtr<IObjectList> items;
    model->SearchByURLPrefix(Bstr(text), kMaximum, items.Receive());
    std::vector<std::pair<LONG, LONGLONG>> from_model;
    UINT count = 0;
    if (items) items->Count(&count);
    for (UINT i = 0; i < count; ++i) {
      ATL::CComPtr<IBookmarkItem> item;
      items->GetAt(i, IID_IBookmarkItem, item.ReceiveVoid());
      std::pair<LONG, LONGLONG> rank{};
      item->GetAccessCount(&rank.first);
      item->GetLastAccessTime(&rank.second);
      from_model.push_back(rank);
    }
    std::vector<std::pair<LONG, LONGLONG>> from_sqlite;
    for (const Ranked& row : sqlite->Search(text)) from_sqlite.emplace_back(row.count, row.time);
    if (from_model != from_sqlite) ++mismatches;
  }
  return mismatches;
}

SqliteBookmarks& TheSqlite() {
  static SqliteBookmarks sqlite(TheCorpus());
  return sqlite;
}

void BM_SqlitePrefixSearch(benchmark::State& state) {
  SqliteBookmarks& sqlite = TheSqlite();
  const int length = static_cast<int>(state.range(0));
  const std::vector<std::string>& typed = TheCorpus().typed[length];
  std::vector<double> micros;
  double results = 0;
  size_t next = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Ranked> kept = sqlite.Search(typed[next]);
    const auto end = std::chrono::steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    results += static_cast<double>(kept.size());
    next = (next + 1) % typed.size();
  }
  ReportLatencies(state, std::move(micros), results);
  state.counters["rank_mismatches"] = RankMismatches(&sqlite, length);
}
BENCHMARK(BM_SqlitePrefixSearch)->DenseRange(0, kMaxTypedLength)->Iterations(kSearchCalls);

void BM_SqliteInsert100k(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  double memory = 0;
  for (auto _ : state) {
    const sqlite3_int64 before = sqlite3_memory_used();
    auto sqlite = std::make_unique<SqliteBookmarks>(corpus);
    memory = static_cast<double>(sqlite3_memory_used() - before);
    state.PauseTiming();
    sqlite.reset();
    state.ResumeTiming();
  }
  state.counters["memory_bytes"] = memory;
}
BENCHMARK(BM_SqliteInsert100k)->Unit(benchmark::kMillisecond);

}  // namespace
