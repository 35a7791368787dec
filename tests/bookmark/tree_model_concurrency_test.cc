// One writer changes the bookmark model while readers hold snapshots and search: every snapshot
// is a proper tree that never changes while it is held, and every search answer is well formed
// and in order. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "storage/bookmark/bookmark_comparers.h"
#include "tests/bookmark/bookmark_reference_model.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Narrow;
using bookmark_test::Utf16;

constexpr int kReaders = 3;
constexpr int kWriterSteps = 3000;
// The writer waits for a fresh snapshot this often, so that readers hold snapshots while it
// works rather than after it has finished.
constexpr int kCheckpointEvery = 250;
constexpr int kIdSpace = 60;

const std::u16string kUrls[] = {u"http://www.ab.com/", u"http://ab.com/x",   u"https://www.ab.com/",
                                u"https://abc.org/",   u"ftp://ftp.ab.com/", u"http://www.b.org/"};
const std::u16string kTitles[] = {u"Apple", u"apple pie", u"Banana", u"cherry"};
const std::u16string kTyped[] = {u"a", u"ab", u"www.a", u"http://a", u"https://www", u"b", u"f"};

struct ItemFacts {
  std::u16string id;
  std::u16string title;
  std::u16string url;
  LONGLONG kind = 0;
  LONG count = 0;
  LONGLONG time = 0;
};

ItemFacts Facts(IBookmarkItem* item) {
  ItemFacts facts;
  facts.id = bookmark_test::IdOf(item);
  const bookmark_test::RefItem read = bookmark_test::ReadItem(item);
  facts.title = read.title;
  facts.url = read.url;
  facts.kind = read.kind;
  facts.count = read.count;
  facts.time = read.time;
  return facts;
}

std::vector<ItemFacts> ResultFacts(IObjectList* list) {
  std::vector<ItemFacts> out;
  for (UINT i = 0; i < bookmark_test::CountOf(list); ++i) {
    ATL::CComPtr<IBookmarkItem> item;
    list->GetAt(i, IID_IBookmarkItem, item.ReceiveVoid());
    if (item) out.push_back(Facts(item));
  }
  return out;
}

// What is wrong with the tree below `list`: missing nodes or items, identifiers seen twice,
// parent identifiers that do not name the actual parent, items that name another node.
void CheckTree(IObjectList* list, std::u16string_view parent_id, std::set<std::u16string>* seen,
               std::string* problems) {
  for (UINT i = 0; i < bookmark_test::CountOf(list); ++i) {
    ATL::CComPtr<ITreeNode> node = bookmark_test::NodeAt(list, i);
    if (!node) {
      *problems += "a missing node; ";
      continue;
    }
    const std::u16string id = bookmark_test::NodeIdOf(node);
    ATL::CComBSTR parent;
    node->GetParentId(parent.Receive());
    ATL::CComPtr<IBookmarkItem> item;
    node->GetItem(item.Receive());
    if (!seen->insert(id).second) *problems += Narrow(id) + " twice; ";
    if (bookmark_test::Text(parent) != parent_id) {
      *problems += Narrow(id) + " names parent " + Narrow(bookmark_test::Text(parent)) + "; ";
    }
    if (!item || bookmark_test::IdOf(item) != id) *problems += Narrow(id) + " has another item; ";
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    CheckTree(children, id, seen, problems);
  }
}

class Reader {
 public:
  Reader(Storage::CBookmarkTreeModel* model, unsigned seed) : model_(model), random_(seed) {}

  // One snapshot held while the writer makes a few changes, searching meanwhile.
  void HoldOneSnapshot(const std::atomic<int>& progress, const std::atomic<bool>& done,
                       std::atomic<int>* snapshots_taken) {
    // Progress first: a snapshot the writer has counted was taken at or before its count.
    const int taken_at = progress.load();
    ATL::CComPtr<IObjectList> snapshot;
    model_->GetRoot(snapshot.Receive());
    snapshots_taken->fetch_add(1);
    const std::string shape = bookmark_test::Render(snapshot);
    std::set<std::u16string> seen;
    std::string tree_problems;
    CheckTree(snapshot, u"", &seen, &tree_problems);
    if (!tree_problems.empty()) Fail("snapshot is not a proper tree: " + tree_problems);
    do {
      Search();
    } while (progress.load() < taken_at + 5 && !done.load());
    if (bookmark_test::Render(snapshot) != shape) Fail("snapshot changed while held");
  }

  const std::vector<std::string>& failures() const { return failures_; }

 private:
  template <class T, size_t N>
  const T& Pick(const T (&values)[N]) {
    return values[std::uniform_int_distribution<size_t>(0, N - 1)(random_)];
  }
  void Fail(std::string what) {
    if (failures_.size() < 10) failures_.push_back(std::move(what));
  }

  void Search() {
    const std::u16string typed = Pick(kTyped);
    ATL::CComPtr<IObjectList> list;
    if (model_->SearchByURLPrefix(Bstr(typed), 5, list.Receive()) != S_OK) Fail("prefix search");
    const std::vector<ItemFacts> found = ResultFacts(list);
    if (found.size() > 5) Fail("prefix search beyond its maximum");
    std::vector<std::u16string> prefixes = bookmark_test::PrefixPasses(typed);
    prefixes.push_back(typed);
    for (size_t i = 0; i < found.size(); ++i) {
      const bool matches = std::any_of(prefixes.begin(), prefixes.end(), [&](const auto& prefix) {
        return bookmark_test::StartsWith(found[i].url, prefix);
      });
      if (!matches || found[i].kind != kBookmarkKindUrl) {
        Fail("prefix search found " + Narrow(found[i].url));
      }
      if (i > 0 && std::tie(found[i - 1].count, found[i - 1].time) <
                       std::tie(found[i].count, found[i].time)) {
        Fail("prefix search out of rank order");
      }
    }

    const std::u16string url = Pick(kUrls);
    list.Release();
    if (model_->GetBookmarksByURL(Bstr(url), list.Receive()) != S_OK) Fail("address search");
    const std::vector<ItemFacts> same = ResultFacts(list);
    for (size_t i = 0; i < same.size(); ++i) {
      if (same[i].url != url || same[i].kind != kBookmarkKindUrl)
        Fail("address search: wrong item");
      if (i > 0 && std::tie(same[i].count, same[i].time, same[i - 1].id) >
                       std::tie(same[i - 1].count, same[i - 1].time, same[i].id)) {
        Fail("address search out of order");
      }
    }

    const std::u16string text = Pick(kTitles).substr(0, 3);
    list.Release();
    if (model_->SearchByName(Bstr(text), -1, list.Receive()) != S_OK) Fail("title search");
    const std::vector<ItemFacts> titled = ResultFacts(list);
    for (size_t i = 0; i < titled.size(); ++i) {
      if (!bookmark_test::ContainsIgnoringCase(titled[i].title, text) ||
          titled[i].kind != kBookmarkKindUrl) {
        Fail("title search: wrong item");
      }
      if (i > 0 && std::make_tuple(titled[i].count, titled[i].time,
                                   platform::CollationCompare(titled[i].url, titled[i - 1].url)) >=
                       std::make_tuple(titled[i - 1].count, titled[i - 1].time, 0)) {
        Fail("title search out of order");
      }
    }

    ATL::CComPtr<IObjectList> ids;
    model_->GetAllIds(ids.Receive());
    const std::vector<std::u16string> all = bookmark_test::Strings(ids);
    if (std::set<std::u16string>(all.begin(), all.end()).size() != all.size()) {
      Fail("GetAllIds lists an identifier twice");
    }
  }

  Storage::CBookmarkTreeModel* model_;
  std::mt19937 random_;
  std::vector<std::string> failures_;
};

class Writer {
 public:
  Writer(Storage::CBookmarkTreeModel* model, unsigned seed) : model_(model), random_(seed) {}

  void Step() {
    const int roll = Uniform(0, 99);
    if (roll < 3) {
      // A few changes at once, committed or discarded.
      Expect(model_->BeginTransaction(), "BeginTransaction");
      for (int i = Uniform(1, 5); i > 0; --i) Change(Uniform(0, 99));
      Expect(model_->EndTransaction(Uniform(0, 1)), "EndTransaction");
    } else if (roll < 5) {
      ATL::CComPtr<IOVCompare> comparer = Storage::NewComparer<Storage::CBookmarkTimeComparer>();
      const HRESULT sorted = model_->Sort(Bstr(SomeId()), comparer, Uniform(0, 1));
      if (sorted != S_OK && sorted != E_FAIL) failures_.push_back("Sort");
    } else {
      Change(roll);
    }
  }

  const std::vector<std::string>& failures() const { return failures_; }

 private:
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  template <class T, size_t N>
  const T& Pick(const T (&values)[N]) {
    return values[Uniform(0, static_cast<int>(N) - 1)];
  }
  std::u16string SomeId() { return u"n" + Utf16(std::to_string(Uniform(0, kIdSpace - 1))); }
  ATL::CComPtr<IBookmarkItem> SomeItem(const std::u16string& id) {
    const bool folder = Uniform(0, 3) == 0;
    return bookmark_test::NewItem({id, Pick(kTitles), folder ? u"" : Pick(kUrls),
                                   folder ? 2 : kBookmarkKindUrl, Uniform(0, 3), Uniform(0, 3)});
  }
  // S_OK or E_FAIL: anything else is a fault.
  void Expect(HRESULT result, const char* what) {
    if (result != S_OK && result != E_FAIL && failures_.size() < 10) failures_.push_back(what);
  }

  void Change(int roll) {
    const std::u16string id = SomeId();
    const ATL::CComBSTR parent = Uniform(0, 3) == 0 ? Bstr(u"") : Bstr(SomeId());
    if (roll < 45) {
      Expect(model_->Add(SomeItem(id), Bstr(id), parent, Uniform(-1, 4)), "Add");
    } else if (roll < 60) {
      Expect(model_->Remove(Bstr(id)), "Remove");
    } else if (roll < 80) {
      Expect(model_->Update(Bstr(id), SomeItem(id)), "Update");
    } else {
      Expect(model_->Move(Bstr(id), parent, Uniform(-1, 4)), "Move");
    }
  }

  Storage::CBookmarkTreeModel* model_;
  std::mt19937 random_;
  std::vector<std::string> failures_;
};

TEST(TreeModelConcurrencyTest, SnapshotsHoldStillAndSearchesStayOrderedWhileAWriterWorks) {
  bookmark_test::ScopedCollationLocale locale;
  base::scoped_refptr<Storage::CBookmarkTreeModel> model(
      new Storage::CBookmarkTreeModel(base::scoped_refptr<Storage::CStorageSyncBase>()));
  ASSERT_EQ(S_OK, model->SetRoot(nullptr));

  std::atomic<int> progress{0};
  std::atomic<bool> done{false};
  std::atomic<int> snapshots_taken{0};
  std::latch start(kReaders + 1);
  Writer writer(model.get(), 7);
  std::vector<Reader> readers;
  for (int i = 0; i < kReaders; ++i) readers.emplace_back(model.get(), 100 + i);

  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    start.arrive_and_wait();
    int seen = 0;
    for (int step = 1; step <= kWriterSteps; ++step) {
      writer.Step();
      progress.store(step);
      if (step % kCheckpointEvery == 0) {
        // Some reader takes a snapshot (a held one needs progress, which is there) before the
        // writer goes on.
        while (snapshots_taken.load() == seen) std::this_thread::yield();
        seen = snapshots_taken.load();
      }
    }
    done.store(true);
  });
  for (Reader& reader : readers) {
    threads.emplace_back([&, reader = &reader] {
      start.arrive_and_wait();
      do {
        reader->HoldOneSnapshot(progress, done, &snapshots_taken);
      } while (!done.load());
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(std::vector<std::string>(), writer.failures());
  for (const Reader& reader : readers) EXPECT_EQ(std::vector<std::string>(), reader.failures());
  EXPECT_GE(snapshots_taken.load(), kWriterSteps / kCheckpointEvery);
}

}  // namespace
