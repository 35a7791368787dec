// A plain model of the bookmark tree for the randomized tests: children held in vectors, nothing
// shared or copied on write, and the searches computed from their definitions, so that the real
// model can be compared with it after every change.
//
// Identifiers and addresses are ASCII in these tests, so "equal in the collation" is "equal";
// collation order (identifier order, the name sort, the title search's address tie) is taken
// from the platform's collation, which defines it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/collation.h"
#include "browserplatform/types.h"
#include "browserstorage/shared_objects.h"
#include "platform/collation_for_testing.h"
#include "tests/bookmark/bookmark_test_util.h"

namespace bookmark_test {

// The first `count` of a fixed list of seeds, or the one BOOKMARK_RANDOM_SEED names.
inline std::vector<uint32_t> RandomSeeds(size_t count) {
  if (const char* chosen = std::getenv("BOOKMARK_RANDOM_SEED")) {
    return {static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10))};
  }
  const std::vector<uint32_t> seeds = {1, 2, 3, 20240601, 987654321};
  return std::vector<uint32_t>(seeds.begin(), seeds.begin() + std::min(count, seeds.size()));
}

// Index keys are collation sort keys: one fixed locale while a test runs.
class ScopedCollationLocale {
 public:
  ScopedCollationLocale() { platform::SetCollationLocaleForTesting("en_US"); }
  ~ScopedCollationLocale() { platform::SetCollationLocaleForTesting(nullptr); }
  ScopedCollationLocale(const ScopedCollationLocale&) = delete;
  ScopedCollationLocale& operator=(const ScopedCollationLocale&) = delete;
};

struct RefItem {
  std::u16string title;
  std::u16string url;
  LONGLONG kind = kBookmarkKindUrl;
  LONG count = 0;
  LONGLONG time = 0;  // of the last visit
  LONGLONG time_added = 0;
  ATL::CComPtr<IBookmarkItem> object;  // the item object the model holds for this node
};

struct RefNode {
  std::u16string id;
  RefItem item;
  std::vector<RefNode> children;
};

enum class RefSortBy { kName, kTime };

class RefTree {
 public:
  const std::vector<RefNode>& top() const { return top_; }

  const RefNode* Find(std::u16string_view id) const {
    return const_cast<RefTree*>(this)->FindNode(id);
  }
  RefNode* FindNode(std::u16string_view id) {
    Place place;
    return Locate(top_, id, &place) ? &(*place.list)[place.index] : nullptr;
  }

  // The model's operations with their documented results.
  HRESULT Add(const std::u16string& id, std::u16string_view parent, LONG position, RefItem item) {
    if (Find(id) != nullptr) return E_FAIL;
    std::vector<RefNode>* list = ChildList(parent);
    if (list == nullptr) return E_FAIL;
    Insert(*list, RefNode{id, std::move(item), {}}, position);
    return S_OK;
  }

  HRESULT Remove(std::u16string_view id) {
    Place place;
    if (!Locate(top_, id, &place)) return E_FAIL;
    place.list->erase(place.list->begin() + static_cast<ptrdiff_t>(place.index));
    return S_OK;
  }

  // The stored item takes every property of `item` but the time added.
  HRESULT Update(std::u16string_view id, RefItem item) {
    RefNode* node = FindNode(id);
    if (node == nullptr) return E_FAIL;
    item.time_added = node->item.time_added;
    node->item = std::move(item);
    return S_OK;
  }

  HRESULT Move(std::u16string_view id, std::u16string_view parent, LONG position) {
    const RefNode* node = Find(id);
    if (node == nullptr) return E_FAIL;
    if (!parent.empty()) {
      if (Find(parent) == nullptr) return E_FAIL;
      if (parent == id || Contains(*node, parent)) return E_FAIL;
    }
    Place place;
    Locate(top_, id, &place);
    RefNode moved = std::move((*place.list)[place.index]);
    place.list->erase(place.list->begin() + static_cast<ptrdiff_t>(place.index));
    Insert(*ChildList(parent), std::move(moved), position);
    return S_OK;
  }

  // Stable; descending is the exact reverse of ascending.
  HRESULT Sort(std::u16string_view parent, RefSortBy by, bool descending) {
    std::vector<RefNode>* list = ChildList(parent);
    if (list == nullptr) return E_FAIL;
    std::stable_sort(list->begin(), list->end(), [by](const RefNode& a, const RefNode& b) {
      if (by == RefSortBy::kTime) return a.item.time < b.item.time;
      if (a.item.kind != b.item.kind) return a.item.kind > b.item.kind;
      return platform::CollationCompare(a.item.title, b.item.title) < 0;
    });
    if (descending) std::reverse(list->begin(), list->end());
    return S_OK;
  }

  // Every node, depth first, parents before children.
  std::vector<const RefNode*> Nodes() const {
    std::vector<const RefNode*> out;
    Collect(top_, &out);
    return out;
  }
  std::vector<std::u16string> Ids() const { return IdsOf(Nodes()); }
  std::vector<std::u16string> SubtreeIds(std::u16string_view id) const {
    std::vector<const RefNode*> nodes;
    if (const RefNode* node = Find(id)) Collect(node->children, &nodes);
    return IdsOf(nodes);
  }
  // The nodes in identifier order, as the model's index holds them.
  std::vector<const RefNode*> NodesInIdOrder() const {
    std::vector<const RefNode*> nodes = Nodes();
    std::sort(nodes.begin(), nodes.end(), [](const RefNode* a, const RefNode* b) {
      return platform::CollationCompare(a->id, b->id) < 0;
    });
    return nodes;
  }
  // The bookmarks with an address (kind 1), the address index's members.
  std::vector<const RefNode*> Bookmarks() const {
    std::vector<const RefNode*> out;
    for (const RefNode* node : Nodes()) {
      if (node->item.kind == kBookmarkKindUrl) out.push_back(node);
    }
    return out;
  }

 private:
  struct Place {
    std::vector<RefNode>* list;
    size_t index;
  };

  static bool Locate(std::vector<RefNode>& list, std::u16string_view id, Place* place) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].id == id) {
        *place = {&list, i};
        return true;
      }
      if (Locate(list[i].children, id, place)) return true;
    }
    return false;
  }
  static bool Contains(const RefNode& node, std::u16string_view id) {
    for (const RefNode& child : node.children) {
      if (child.id == id || Contains(child, id)) return true;
    }
    return false;
  }
  static void Collect(const std::vector<RefNode>& list, std::vector<const RefNode*>* out) {
    for (const RefNode& node : list) {
      out->push_back(&node);
      Collect(node.children, out);
    }
  }
  static std::vector<std::u16string> IdsOf(const std::vector<const RefNode*>& nodes) {
    std::vector<std::u16string> ids;
    for (const RefNode* node : nodes) ids.push_back(node->id);
    return ids;
  }
  // Empty parent: the top level.
  std::vector<RefNode>* ChildList(std::u16string_view parent) {
    if (parent.empty()) return &top_;
    RefNode* node = FindNode(parent);
    return node ? &node->children : nullptr;
  }
  // 1-based final positions: 1 or less first, -1 or more than the count last.
  static void Insert(std::vector<RefNode>& list, RefNode node, LONG position) {
    const LONG count = static_cast<LONG>(list.size());
    const size_t at = position == -1 || position > count ? list.size()
                      : position >= 1                    ? static_cast<size_t>(position - 1)
                                                         : 0;
    list.insert(list.begin() + static_cast<ptrdiff_t>(at), std::move(node));
  }

  std::vector<RefNode> top_;
};

// ---------------------------------------------------------------------------------------------
// The searches, from their definitions.

inline bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

inline std::u16string FoldAscii(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

inline bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view part) {
  return !part.empty() && FoldAscii(text).find(FoldAscii(part)) != std::u16string::npos;
}

// A bookmark as the address index orders it.
struct RefBookmark {
  std::u16string id;
  std::u16string url;
  LONG count = 0;
  LONGLONG time = 0;
};

// The address order: address by code units, more visits, more recent, identifier by code units.
struct AddressOrder {
  bool operator()(const RefBookmark& a, const RefBookmark& b) const {
    return std::tie(a.url, b.count, b.time, a.id) < std::tie(b.url, a.count, a.time, b.id);
  }
};

// The bookmarks with an address (kind 1), in address order.
class RefAddressIndex {
 public:
  RefAddressIndex() = default;
  explicit RefAddressIndex(const RefTree& tree) {
    for (const RefNode* node : tree.Bookmarks()) {
      Insert({node->id, node->item.url, node->item.count, node->item.time});
    }
  }

  size_t size() const { return entries_.size(); }
  void Insert(const RefBookmark& bookmark) { entries_.insert(bookmark); }
  void Erase(const RefBookmark& bookmark) { entries_.erase(bookmark); }

  // The bookmarks whose address starts with `prefix`, in address order.
  std::vector<const RefBookmark*> WithPrefix(std::u16string_view prefix) const {
    std::vector<const RefBookmark*> out;
    const RefBookmark first{u"", std::u16string(prefix), std::numeric_limits<LONG>::max(),
                            std::numeric_limits<LONGLONG>::max()};
    for (auto it = entries_.lower_bound(first); it != entries_.end(); ++it) {
      if (!StartsWith(it->url, prefix)) break;
      out.push_back(&*it);
    }
    return out;
  }

 private:
  std::set<RefBookmark, AddressOrder> entries_;
};

inline std::u16string_view TrimSlashes(std::u16string_view text) {
  while (!text.empty() && (text.front() == u'/' || text.front() == u'\\')) text.remove_prefix(1);
  return text;
}

// The prefixes SearchByURLPrefix tries first: the typed text without leading slashes and
// without "http(s)://", after seven scheme prefixes, unless it names a scheme.
inline std::vector<std::u16string> PrefixPasses(std::u16string_view typed) {
  std::u16string_view rest = TrimSlashes(typed);
  if (const size_t colon = rest.find(u":/");
      colon != std::u16string_view::npos && StartsWith(rest, u"http")) {
    rest = TrimSlashes(rest.substr(colon + 1));
  }
  std::vector<std::u16string> prefixes;
  if (!StartsWith(rest, u"http:") && !StartsWith(rest, u"ftp:") && !StartsWith(rest, u"https:")) {
    for (std::u16string_view scheme : {u"http://www.", u"http://", u"ftp://ftp.", u"https://",
                                       u"https://www.", u"ftp://", u"ftp://www."}) {
      prefixes.push_back(std::u16string(scheme) + std::u16string(rest));
    }
  }
  return prefixes;
}

// SearchByURLPrefix: the matches of every pass in address order, then of the text as typed when
// none matched; the best `maximum` by visits then recency, the first offered winning ties.
inline std::vector<std::u16string> ExpectedPrefixSearch(const RefAddressIndex& index,
                                                        std::u16string_view typed, LONG maximum) {
  std::vector<const RefBookmark*> offered;
  auto pass = [&](std::u16string_view prefix) {
    std::vector<const RefBookmark*> matches = index.WithPrefix(prefix);
    offered.insert(offered.end(), matches.begin(), matches.end());
  };
  for (const std::u16string& prefix : PrefixPasses(typed)) pass(prefix);
  if (offered.empty()) pass(typed);
  std::stable_sort(offered.begin(), offered.end(), [](const RefBookmark* a, const RefBookmark* b) {
    return std::tie(a->count, a->time) > std::tie(b->count, b->time);
  });
  std::vector<std::u16string> ids;
  for (const RefBookmark* bookmark : offered) {
    if (static_cast<LONG>(ids.size()) >= maximum) break;
    ids.push_back(bookmark->id);
  }
  return ids;
}

// GetBookmarksByURL: the bookmarks with exactly this address, in address order.
inline std::vector<std::u16string> ExpectedByUrl(const RefAddressIndex& index,
                                                 std::u16string_view url) {
  std::vector<std::u16string> ids;
  for (const RefBookmark* bookmark : index.WithPrefix(url)) {
    if (bookmark->url == url) ids.push_back(bookmark->id);
  }
  return ids;
}

// SearchByName: bookmarks whose title contains the text ignoring case, walked in identifier
// order; one of several equal in visits, last visit and address (collation) is kept, the first
// walked; most visited, most recent, address descending first; at most `limit` (-1: all).
inline std::vector<std::u16string> ExpectedByName(const RefTree& tree, std::u16string_view text,
                                                  LONG limit) {
  auto less = [](const RefNode* a, const RefNode* b) {
    if (a->item.count != b->item.count) return a->item.count < b->item.count;
    if (a->item.time != b->item.time) return a->item.time < b->item.time;
    return platform::CollationCompare(a->item.url, b->item.url) < 0;
  };
  std::vector<const RefNode*> kept;
  for (const RefNode* node : tree.NodesInIdOrder()) {
    if (node->item.kind != kBookmarkKindUrl || !ContainsIgnoringCase(node->item.title, text)) {
      continue;
    }
    const bool equal_kept = std::any_of(kept.begin(), kept.end(), [&](const RefNode* other) {
      return !less(node, other) && !less(other, node);
    });
    if (!equal_kept) kept.push_back(node);
  }
  std::sort(kept.begin(), kept.end(),
            [&](const RefNode* a, const RefNode* b) { return less(b, a); });
  std::vector<std::u16string> ids;
  for (const RefNode* node : kept) {
    if (limit != -1 && static_cast<LONG>(ids.size()) >= limit) break;
    ids.push_back(node->id);
  }
  return ids;
}

// Search: the first `limit` nodes in identifier order (-1: all; other negatives: none) whose
// title, address or note contains the text ignoring case.
inline std::vector<std::u16string> ExpectedSearch(const RefTree& tree, std::u16string_view text,
                                                  LONG limit) {
  std::vector<std::u16string> ids;
  LONG examined = 0;
  for (const RefNode* node : tree.NodesInIdOrder()) {
    if (limit != -1 && examined++ >= limit) break;
    if (ContainsIgnoringCase(node->item.title, text) ||
        ContainsIgnoringCase(node->item.url, text)) {
      ids.push_back(node->id);
    }
  }
  return ids;
}

// ---------------------------------------------------------------------------------------------
// One text form for both trees, a node a line: identifier, parent identifier, the item's
// properties and address (the item's identity), children indented below.

inline std::u16string Utf16(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

inline std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

inline std::string ItemLine(std::u16string_view id, std::u16string_view parent_id,
                            std::u16string_view item_id, const RefItem& item, const void* object) {
  char numbers[96];
  std::snprintf(numbers, sizeof(numbers), " k%lld c%d t%lld a%lld @%p",
                static_cast<long long>(item.kind), static_cast<int>(item.count),
                static_cast<long long>(item.time), static_cast<long long>(item.time_added), object);
  std::string line = Narrow(id) + " ^" + Narrow(parent_id) + " '" + Narrow(item.title) + "' " +
                     Narrow(item.url) + numbers;
  if (item_id != id) line += " item-id=" + Narrow(item_id);
  return line + "\n";
}

inline void RenderNodes(const std::vector<RefNode>& list, std::u16string_view parent_id, int depth,
                        std::string* out) {
  for (const RefNode& node : list) {
    *out += std::string(2 * depth, ' ') +
            ItemLine(node.id, parent_id, node.id, node.item, node.item.object.get());
    RenderNodes(node.children, node.id, depth + 1, out);
  }
}

inline std::string Render(const RefTree& tree) {
  std::string out;
  RenderNodes(tree.top(), u"", 0, &out);
  return out;
}

// The properties the tests give items, read back.
inline RefItem ReadItem(IBookmarkItem* item) {
  RefItem out;
  ATL::CComBSTR text;
  item->GetTitle(text.Receive());
  out.title = Text(text);
  item->GetUrl(text.Receive());
  out.url = Text(text);
  item->GetKind(&out.kind);
  item->GetAccessCount(&out.count);
  item->GetLastAccessTime(&out.time);
  item->GetTimeAdded(&out.time_added);
  return out;
}

inline void RenderList(IObjectList* list, int depth, std::string* out) {
  for (UINT i = 0; i < CountOf(list); ++i) {
    ATL::CComPtr<ITreeNode> node = NodeAt(list, i);
    if (!node) {
      *out += std::string(2 * depth, ' ') + "(missing node)\n";
      continue;
    }
    ATL::CComBSTR parent_id;
    node->GetParentId(parent_id.Receive());
    ATL::CComPtr<IBookmarkItem> item;
    node->GetItem(item.Receive());
    const std::u16string id = NodeIdOf(node);
    *out += std::string(2 * depth, ' ');
    if (item) {
      *out += ItemLine(id, Text(parent_id), IdOf(item), ReadItem(item), item.get());
    } else {
      *out += Narrow(id) + " ^" + Narrow(Text(parent_id)) + " (no item)\n";
    }
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    RenderList(children, depth + 1, out);
  }
}

inline std::string Render(IObjectList* list) {
  std::string out;
  RenderList(list, 0, &out);
  return out;
}

}  // namespace bookmark_test
