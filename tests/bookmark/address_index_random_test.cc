// The address index of the bookmark model at scale against a plain ordered set: thousands of
// bookmarks crowded on a few addresses, so that the index keeps many chunks, splits full ones,
// drops empty ones and a prefix search skips whole chunks; after every change the address
// searches are compared. Commits rebuild the index in one step; single changes insert and
// erase.
//
// Seeds: the first two of the fixed list; BOOKMARK_RANDOM_SEED=<n> runs seed n alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "tests/bookmark/bookmark_reference_model.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::ItemIds;
using bookmark_test::Narrow;
using bookmark_test::RandomSeeds;
using bookmark_test::RefAddressIndex;
using bookmark_test::RefBookmark;
using bookmark_test::ScopedCollationLocale;

constexpr int kSteps = 400;

class ScaleRun {
 public:
  explicit ScaleRun(uint32_t seed) : random_(seed) {
    model_ = new Storage::CBookmarkTreeModel(base::scoped_refptr<Storage::CStorageSyncBase>());
    EXPECT_EQ(S_OK, model_->SetRoot(nullptr));
    for (int i = 0; i < kFolders; ++i) {
      const std::u16string id = FolderId(i);
      EXPECT_EQ(S_OK, model_->Add(bookmark_test::Folder(id), Bstr(id), nullptr, -1));
    }
    for (int i = 0; i < 1200; ++i) Add(model_.get(), &index_);
  }

  void Step(int step) {
    const int roll = Uniform(0, 99);
    where_ = "step " + std::to_string(step) + ": ";
    if (roll < 40) {
      Add(model_.get(), &index_);
    } else if (roll < 58) {
      Remove(model_.get(), &index_);
    } else if (roll < 83) {
      Update(model_.get(), &index_);
    } else if (roll < 88) {
      const std::u16string id = SomeBookmark();
      where_ += "Move " + Narrow(id);
      EXPECT_EQ(bookmarks_.count(id) ? S_OK : E_FAIL,
                model_->Move(Bstr(id), Bstr(FolderId(Uniform(0, kFolders - 1))), 1))
          << where_;
    } else if (roll < 91) {
      RemoveRun();
    } else if (roll < 93) {
      Burst();
    } else {
      Transaction();
    }
    Check();
  }

 private:
  static constexpr int kFolders = 40;
  static constexpr int kIdSpace = 4000;

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  // Mostly small: a few domains, visit counts and times take most bookmarks.
  int Skewed(int bound) {
    const double r = std::uniform_real_distribution<double>(0, 1)(random_);
    return static_cast<int>(bound * r * r * r);
  }
  static std::u16string FolderId(int i) { return u"f" + bookmark_test::Utf16(std::to_string(i)); }
  std::u16string SomeUrl() {
    const std::string domain = "d" + std::to_string(Skewed(60));
    const std::string path = std::to_string(Uniform(0, 3));
    std::string url;
    switch (Uniform(0, 3)) {
      case 0:
        url = "http://www." + domain + ".com/p" + path;
        break;
      case 1:
        url = "https://" + domain + ".com/";
        break;
      case 2:
        url = "http://" + domain + ".org/p" + path;
        break;
      default:
        url = "ftp://ftp." + domain + ".net/";
        break;
    }
    return bookmark_test::Utf16(url);
  }
  RefBookmark SomeEntry(std::u16string id) {
    return {std::move(id), SomeUrl(), static_cast<LONG>(Skewed(6)),
            static_cast<LONGLONG>(Uniform(0, 3))};
  }
  std::u16string SomeId() {
    char text[8];
    std::snprintf(text, sizeof(text), "b%04d", Uniform(0, kIdSpace - 1));
    return bookmark_test::Utf16(text);
  }
  // A present bookmark: the first at or after a random identifier.
  std::u16string SomePresent() {
    if (bookmarks_.empty()) return SomeId();
    auto it = bookmarks_.lower_bound(SomeId());
    return it == bookmarks_.end() ? bookmarks_.begin()->first : it->first;
  }
  // Mostly a present bookmark.
  std::u16string SomeBookmark() { return Uniform(0, 9) == 0 ? SomeId() : SomePresent(); }
  static ATL::CComPtr<IBookmarkItem> Item(const RefBookmark& entry) {
    return bookmark_test::NewItem(
        {entry.id, entry.id, entry.url, kBookmarkKindUrl, entry.count, entry.time});
  }

  // The single changes, applied to `model` and to `index` (the committed one, or a
  // transaction's copy).
  void Add(Storage::CBookmarkTreeModel* model, RefAddressIndex* index) {
    const RefBookmark entry = SomeEntry(SomeId());
    const std::u16string folder = FolderId(Uniform(0, kFolders - 1));
    const HRESULT want = bookmarks_.count(entry.id) ? E_FAIL : S_OK;
    EXPECT_EQ(want, model->Add(Item(entry), Bstr(entry.id), Bstr(folder), Uniform(0, 3)))
        << where_ << "Add " << Narrow(entry.id);
    if (want != S_OK) return;
    bookmarks_[entry.id] = entry;
    index->Insert(entry);
  }
  void Remove(Storage::CBookmarkTreeModel* model, RefAddressIndex* index) {
    const std::u16string id = SomeBookmark();
    auto found = bookmarks_.find(id);
    EXPECT_EQ(found == bookmarks_.end() ? E_FAIL : S_OK, model->Remove(Bstr(id)))
        << where_ << "Remove " << Narrow(id);
    if (found == bookmarks_.end()) return;
    index->Erase(found->second);
    bookmarks_.erase(found);
  }
  void Update(Storage::CBookmarkTreeModel* model, RefAddressIndex* index) {
    const std::u16string id = SomeBookmark();
    auto found = bookmarks_.find(id);
    RefBookmark entry = SomeEntry(id);
    // Half the time a visit: the address stays, the count and time change.
    if (found != bookmarks_.end() && Uniform(0, 1) == 0) entry.url = found->second.url;
    EXPECT_EQ(found == bookmarks_.end() ? E_FAIL : S_OK, model->Update(Bstr(id), Item(entry)))
        << where_ << "Update " << Narrow(id);
    if (found == bookmarks_.end()) return;
    index->Erase(found->second);
    index->Insert(entry);
    found->second = entry;
  }
  static std::u16string BurstUrl(int k) {
    return u"http://burst" + bookmark_test::Utf16(std::to_string(k)) + u".example/";
  }
  // Hundreds of bookmarks on one address at once: they fill and split chunks, also after a
  // commit has rebuilt the index into even ones.
  void Burst() {
    const std::u16string url = BurstUrl(Uniform(0, 2));
    where_ += "Add 300 on " + Narrow(url);
    for (int i = 0; i < 300; ++i) {
      RefBookmark entry = SomeEntry(u"u" + bookmark_test::Utf16(std::to_string(bursts_++)));
      entry.url = url;
      const std::u16string folder = FolderId(Uniform(0, kFolders - 1));
      EXPECT_EQ(S_OK, model_->Add(Item(entry), Bstr(entry.id), Bstr(folder), -1)) << where_;
      bookmarks_[entry.id] = entry;
      index_.Insert(entry);
    }
  }
  // Every bookmark of one address: empties whole chunks.
  void RemoveRun() {
    const std::u16string url = Uniform(0, 1) ? SomeUrl() : BurstUrl(Uniform(0, 2));
    where_ += "Remove every " + Narrow(url);
    for (auto it = bookmarks_.begin(); it != bookmarks_.end();) {
      if (it->second.url != url) {
        ++it;
        continue;
      }
      EXPECT_EQ(S_OK, model_->Remove(Bstr(it->first))) << where_;
      index_.Erase(it->second);
      it = bookmarks_.erase(it);
    }
  }
  // A few changes in a transaction: the searches keep showing the committed bookmarks until
  // the commit, which rebuilds the index.
  void Transaction() {
    const bool commit = Uniform(0, 3) != 0;
    where_ += commit ? "transaction, committed" : "transaction, discarded";
    const std::map<std::u16string, RefBookmark> before = bookmarks_;
    RefAddressIndex working = index_;
    ASSERT_EQ(S_OK, model_->BeginTransaction()) << where_;
    for (int i = Uniform(1, 6); i > 0; --i) {
      const int roll = Uniform(0, 2);
      if (roll == 0) {
        Add(model_.get(), &working);
      } else if (roll == 1) {
        Remove(model_.get(), &working);
      } else {
        Update(model_.get(), &working);
      }
    }
    CheckPrefixSearch();
    EXPECT_EQ(S_OK, model_->EndTransaction(commit ? 1 : 0)) << where_;
    if (commit) {
      index_ = std::move(working);
    } else {
      bookmarks_ = before;
    }
  }

  void Check() {
    EXPECT_EQ(index_.size(), model_->address_index_size_for_testing()) << where_;
    ULONG count = 0;
    model_->GetCount(&count);
    EXPECT_EQ(kFolders + bookmarks_.size(), count) << where_;
    CheckPrefixSearch();
    const std::u16string url = bookmarks_.empty() ? u"x" : bookmarks_.at(SomePresent()).url;
    ATL::CComPtr<IObjectList> items;
    EXPECT_EQ(S_OK, model_->GetBookmarksByURL(Bstr(url), items.Receive()));
    EXPECT_EQ(bookmark_test::ExpectedByUrl(index_, url), ItemIds(items))
        << where_ << "GetBookmarksByURL " << Narrow(url);
  }

  // A beginning of a stored address, mostly without its scheme, now and then one that takes
  // every "http://www." address or none.
  void CheckPrefixSearch() {
    std::u16string typed;
    const int roll = Uniform(0, 19);
    if (roll == 0) {
      typed = Uniform(0, 1) ? u"/" : u"http://";
    } else if (roll == 1 || bookmarks_.empty()) {
      typed = u"zq";
    } else {
      typed = bookmarks_.at(SomePresent()).url;
      if (Uniform(0, 9) < 7) typed.erase(0, typed.find(u"://") + 3);
      if (Uniform(0, 1) && bookmark_test::StartsWith(typed, u"www.")) typed.erase(0, 4);
      typed.resize(static_cast<size_t>(Uniform(1, static_cast<int>(typed.size()))));
    }
    const LONG maxima[] = {1, 3, 10, 50, 700};
    const LONG maximum = maxima[Uniform(0, 4)];
    ATL::CComPtr<IObjectList> items;
    EXPECT_EQ(S_OK, model_->SearchByURLPrefix(Bstr(typed), maximum, items.Receive()));
    EXPECT_EQ(bookmark_test::ExpectedPrefixSearch(index_, typed, maximum), ItemIds(items))
        << where_ << "SearchByURLPrefix '" << Narrow(typed) << "' maximum " << maximum;
  }

  std::mt19937 random_;
  base::scoped_refptr<Storage::CBookmarkTreeModel> model_;
  std::map<std::u16string, RefBookmark> bookmarks_;  // by identifier
  RefAddressIndex index_;                            // the committed bookmarks
  std::string where_;
  int bursts_ = 0;
};

TEST(AddressIndexRandomTest, SearchesMatchReferenceAtScale) {
  ScopedCollationLocale locale;
  for (uint32_t seed : RandomSeeds(2)) {
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << " (BOOKMARK_RANDOM_SEED=" << seed << " runs it alone)");
    ScaleRun run(seed);
    for (int step = 0; step < kSteps && !HasFailure(); ++step) run.Step(step);
  }
}

}  // namespace
