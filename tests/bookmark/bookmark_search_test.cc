// The bookmark searches: typed-address completion, title search, exact address; and the
// address index under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "storage/bookmark/bookmark_address_index.h"
#include "tests/bookmark/bookmark_test_util.h"
#include "tests/common/capturing_log_controller.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Folder;
using bookmark_test::ItemIds;
using bookmark_test::Link;
using bookmark_test::RecordedModel;
using Ids = std::vector<std::u16string>;

Ids Prefix(RecordedModel& m, std::u16string_view typed, LONG maximum = 10) {
  ATL::CComPtr<IObjectList> found;
  EXPECT_EQ(S_OK, m.model->SearchByURLPrefix(Bstr(typed), maximum, found.Receive()));
  return ItemIds(found);
}

void AddLinks(
    RecordedModel& m,
    const std::vector<std::tuple<const char16_t*, const char16_t*, LONG, LONGLONG>>& links) {
  for (const auto& [id, url, count, time] : links) {
    ASSERT_EQ(S_OK, m.model->Add(Link(id, url, count, time), Bstr(id), nullptr, -1));
  }
}

TEST(BookmarkSearchTest, TypedTextIsTriedAfterEachSchemeThenAsTyped) {
  RecordedModel m;
  AddLinks(m, {{u"www", u"http://www.example.com/", 5, 0},
               {u"plain", u"http://example.org/", 4, 0},
               {u"ftp", u"ftp://ftp.example.net/", 3, 0},
               {u"tls", u"https://example.io/", 2, 0},
               {u"tlswww", u"https://www.example.de/", 1, 0},
               {u"file", u"file:///home/example", 9, 0}});
  const Ids kAllSchemes = {u"www", u"plain", u"ftp", u"tls", u"tlswww"};
  EXPECT_EQ(kAllSchemes, Prefix(m, u"example"));
  EXPECT_EQ(kAllSchemes, Prefix(m, u"http://example"));
  EXPECT_EQ(kAllSchemes, Prefix(m, u"https:///\\example"));
  EXPECT_EQ(Ids({u"www", u"plain"}), Prefix(m, u"example.", 2));
  // A text naming a scheme is tried only as typed; so is one no expansion finds.
  EXPECT_EQ(Ids({u"ftp"}), Prefix(m, u"ftp://ftp.ex"));
  EXPECT_EQ(Ids({u"file"}), Prefix(m, u"file:///ho"));
  EXPECT_EQ(Ids({u"tls"}), Prefix(m, u"https://example.i"));
  // Case matters in addresses.
  EXPECT_EQ(Ids(), Prefix(m, u"EXAMPLE"));
  EXPECT_EQ(Ids(), Prefix(m, u"HTTP://www.example"));

  ATL::CComPtr<IObjectList> found;
  EXPECT_EQ(E_INVALIDARG, m.model->SearchByURLPrefix(Bstr(u""), 10, found.Receive()));
  EXPECT_EQ(E_INVALIDARG, m.model->SearchByURLPrefix(nullptr, 10, found.Receive()));
  EXPECT_EQ(E_INVALIDARG, m.model->SearchByURLPrefix(Bstr(u"x"), 10, nullptr));
}

TEST(BookmarkSearchTest, KeepsTheBestVisitedAndLogsWhatItCounted) {
  RecordedModel m;
  AddLinks(m, {{u"a", u"http://www.site.com/a", 3, 10},
               {u"b", u"http://www.site.com/b", 7, 10},
               {u"c", u"http://www.site.com/c", 3, 20},  // same count, more recent than a
               {u"d", u"http://www.site.com/d", 3, 10},  // ties with a: a was offered first
               {u"e", u"http://www.other.com/", 99, 0}});
  testing_support::CapturingLogController log;
  EXPECT_EQ(Ids({u"b", u"c", u"a"}), Prefix(m, u"site", 3));
  EXPECT_EQ(Ids({u"b", u"c", u"a", u"d"}), Prefix(m, u"site", 10));
  EXPECT_EQ(Ids(), Prefix(m, u"site", 0));
  EXPECT_EQ(Ids(), Prefix(m, u"site", -4));
  EXPECT_EQ(
      (std::vector<std::u16string>{u"CTopNResult::SearchByURLPrefix totalinsert=4 resultcount=3",
                                   u"CTopNResult::SearchByURLPrefix totalinsert=4 resultcount=4",
                                   u"CTopNResult::SearchByURLPrefix totalinsert=0 resultcount=0",
                                   u"CTopNResult::SearchByURLPrefix totalinsert=0 resultcount=0"}),
      log.texts(u"bookmarksearch;"));
}

TEST(BookmarkSearchTest, ATypedWMayListABookmarkTwice) {
  RecordedModel m;
  AddLinks(m, {{u"wiki", u"http://www.wiki.org/", 1, 0}, {u"web", u"https://web.dev/", 0, 0}});
  // "http://www.w" and "http://w" both find it; "https://w" finds the other.
  EXPECT_EQ(Ids({u"wiki", u"wiki", u"web"}), Prefix(m, u"w"));
  EXPECT_EQ(Ids({u"wiki"}), Prefix(m, u"www"));  // only "http://www" finds it
  EXPECT_EQ(Ids({u"wiki"}), Prefix(m, u"wi"));
}

// The chunked index with its pruned top-N against the plain definition, over enough entries
// to split chunks, with removals, many ties and several passes.
TEST(BookmarkSearchTest, ChunkedTopNAgreesWithOfferingEveryMatchInOrder) {
  std::mt19937 random(20261210);
  Storage::CBookmarkAddressIndex index;
  std::vector<Storage::AddressEntry> all;
  const std::u16string kHosts[] = {u"a", u"ab", u"abc", u"b", u"ba", u"bb"};
  for (int i = 0; i < 4000; ++i) {
    Storage::AddressEntry entry;
    entry.url = u"http://" + kHosts[random() % 6] + u"/" + std::u16string(1, u'a' + random() % 3);
    entry.count = static_cast<LONG>(random() % 5);
    entry.time = static_cast<LONGLONG>(random() % 4);
    entry.id = std::u16string(1, u'A' + random() % 26) + std::u16string(1, u'a' + random() % 26);
    entry.item = Link(entry.id);
    all.push_back(entry);
    index.Insert(entry);
  }
  for (int i = 0; i < 1000; ++i) {
    const size_t at = random() % all.size();
    ASSERT_TRUE(index.Erase(all[at].item));
    all.erase(all.begin() + static_cast<ptrdiff_t>(at));
  }
  ASSERT_EQ(all.size(), index.size());
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return std::tie(a.url, b.count, b.time, a.id) < std::tie(b.url, a.count, a.time, b.id);
  });

  const std::vector<std::vector<std::u16string>> kSearches = {{u"http://a"},
                                                              {u"http://b", u"http://ab"},
                                                              {u"http://abc/"},
                                                              {u"http://", u"http://a"},
                                                              {u"http://c"}};
  for (LONG slots : {1, 3, 10, 5000}) {
    for (const auto& prefixes : kSearches) {
      Storage::CTopNResult fast(slots);
      // The definition: offer every match, pass by pass, in address order; keep a match only
      // when it ranks strictly above the last kept one or a slot is free.
      std::vector<const Storage::AddressEntry*> slow;
      uint32_t offered = 0;
      for (uint32_t pass = 0; pass < prefixes.size(); ++pass) {
        fast.OfferPrefix(index, prefixes[pass], pass);
        for (const auto& entry : all) {
          if (entry.url.compare(0, prefixes[pass].size(), prefixes[pass]) != 0) continue;
          ++offered;
          auto below = [&](const Storage::AddressEntry* kept) {
            return std::tie(kept->count, kept->time) < std::tie(entry.count, entry.time);
          };
          if (slow.size() == static_cast<size_t>(slots) && !below(slow.back())) continue;
          slow.insert(std::find_if(slow.begin(), slow.end(), below), &entry);
          if (slow.size() > static_cast<size_t>(slots)) slow.pop_back();
        }
      }
      std::vector<IBookmarkItem*> expected;
      for (const auto* entry : slow) expected.push_back(entry->item.get());
      std::vector<IBookmarkItem*> actual;
      for (const auto& item : fast.Items()) actual.push_back(item.get());
      EXPECT_EQ(expected, actual) << slots << " " << prefixes.size();
      EXPECT_EQ(offered, fast.total_insert());
    }
  }
}

TEST(BookmarkSearchTest, TitleSearchListsEachRankOnceMostVisitedFirst) {
  RecordedModel m;
  AddLinks(m, {{u"1", u"http://x/1", 2, 5},
               {u"2", u"http://x/2", 9, 1},
               {u"3", u"http://x/3", 2, 7},
               {u"4", u"http://x/3", 2, 7},  // equal to 3 in count, time and address
               {u"5", u"http://x/5", 2, 7}});
  ASSERT_EQ(S_OK, m.model->Add(Folder(u"News folder"), Bstr(u"6"), nullptr, -1));
  for (const char16_t* id : {u"1", u"2", u"3", u"4", u"5"}) {
    ATL::CComPtr<IBookmarkItem> item = Link(id, u"", 0, 0);
    ATL::CComPtr<IBookmarkItem> stored;
    m.model->GetItem(Bstr(id), stored.Receive());
    ATL::CComPtr<IBookmarkItem> update;
    stored->Copy(update.Receive());
    update->SetTitle(Bstr(std::u16string(u"Daily NEWS ") + id));
    ASSERT_EQ(S_OK, m.model->Update(Bstr(id), update));
  }
  auto search = [&](const char16_t* text, LONG limit) {
    ATL::CComPtr<IObjectList> found;
    EXPECT_EQ(S_OK, m.model->SearchByName(Bstr(text), limit, found.Receive()));
    return ItemIds(found);
  };
  EXPECT_EQ(Ids({u"2", u"5", u"3", u"1"}), search(u"news", -1));
  EXPECT_EQ(Ids({u"2", u"5"}), search(u"news", 2));
  EXPECT_EQ(Ids(), search(u"news", 0));
  EXPECT_EQ(Ids(), search(u"news", -3));
  EXPECT_EQ(Ids({u"5"}), search(u"news 5", -1));
  ATL::CComPtr<IObjectList> found;
  EXPECT_EQ(E_INVALIDARG, m.model->SearchByName(Bstr(u""), -1, found.Receive()));
}

TEST(BookmarkSearchTest, ExactAddressFindsEveryBookmarkOfItMostVisitedFirst) {
  RecordedModel m;
  BOOL found = 7;
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://x/"), &found));
  EXPECT_EQ(0, found);
  AddLinks(m, {{u"a", u"http://x/", 1, 9},
               {u"b", u"http://x/", 4, 0},
               {u"c", u"http://x/y", 9, 9},
               {u"d", u"http://x/", 1, 9},
               {u"e", u"HTTP://X/", 9, 9}});
  ATL::CComPtr<IObjectList> list;
  ASSERT_EQ(S_OK, m.model->GetBookmarksByURL(Bstr(u"http://x/"), list.Receive()));
  EXPECT_EQ(Ids({u"b", u"a", u"d"}), ItemIds(list));
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://x/"), &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(E_FAIL, m.model->IsBookmarkByURL(nullptr, &found));
  EXPECT_EQ(E_FAIL, m.model->IsBookmarkByURL(Bstr(u"http://x/"), nullptr));
  EXPECT_EQ(E_FAIL, m.model->GetBookmarksByURL(Bstr(u""), list.Receive()));

  // An address changed by Update is found under the new address only.
  ASSERT_EQ(S_OK, m.model->Update(Bstr(u"b"), Link(u"b", u"http://moved/", 4, 0)));
  list.Release();
  ASSERT_EQ(S_OK, m.model->GetBookmarksByURL(Bstr(u"http://x/"), list.Receive()));
  EXPECT_EQ(Ids({u"a", u"d"}), ItemIds(list));
  EXPECT_EQ(S_OK, m.model->IsBookmarkByURL(Bstr(u"http://moved/"), &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(Ids({u"b"}), Prefix(m, u"moved"));
}

}  // namespace
