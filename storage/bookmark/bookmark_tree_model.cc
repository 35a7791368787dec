#include "storage/bookmark/bookmark_tree_model.h"

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "base/logging.h"
#include "base/trace.h"
#include "browserplatform/clock.h"
#include "browserplatform/collation.h"
#include "browserstorage/object_factory.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {
namespace {

using ListPtr = ATL::CComPtr<IObjectList>;

constexpr char16_t kSearchLogCategory[] = u"bookmarksearch;";

// Tried in this order in front of a typed text that names no scheme.
constexpr const char16_t* kPrefixExpansions[] = {
    u"http://www.",  u"http://", u"ftp://ftp.", u"https://",
    u"https://www.", u"ftp://",  u"ftp://www.",
};

std::u16string_view TextOf(BSTR text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::u16string_view TrimSlashes(std::u16string_view text) {
  const size_t first = text.find_first_not_of(u"\\/");
  return first == std::u16string_view::npos ? std::u16string_view() : text.substr(first);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

ListPtr NewList() {
  ListPtr list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  return list;
}

ATL::CComPtr<IBookmarkItemProperty> PropertyFace(IBookmarkItem* item) {
  ATL::CComPtr<IBookmarkItemProperty> face;
  if (item != nullptr) item->QueryInterface(IID_IBookmarkItemProperty, face.ReceiveVoid());
  return face;
}

}  // namespace

CBookmarkTreeModel::CBookmarkTreeModel(CStorageConfigBase* config,
                                       CStorageSyncManager* sync_manager,
                                       CStorageSyncTimer* sync_timer) {
  if (config == nullptr) return;
  CreateSynchroniser(config, sync_manager, sync_timer, config->GetName());
}

CBookmarkTreeModel::CBookmarkTreeModel(base::scoped_refptr<CStorageSyncBase> sync) {
  SetSynchroniser(std::move(sync));
}

CBookmarkTreeModel::~CBookmarkTreeModel() {
  // The last write reads the tree: it runs while the model is whole.
  RunFinalSync();
}

HRESULT CBookmarkTreeModel::IsImportFailed(ULONG* failed) {
  AwaitImport();
  CStorageSyncBase* sync = synchroniser();
  if (sync == nullptr || failed == nullptr) return E_FAIL;
  *failed = static_cast<ULONG>(sync->IsImportFailed());
  return S_OK;
}

HRESULT CBookmarkTreeModel::IsImportFinished(ULONG* finished) {
  CStorageSyncBase* sync = synchroniser();
  if (sync == nullptr || finished == nullptr) return E_FAIL;
  *finished = sync->IsImported() ? 1 : 0;
  return S_OK;
}

HRESULT CBookmarkTreeModel::MergeItem(IBookmarkItem* old_item, IBookmarkItem* new_item,
                                      IBookmarkItem** merged) {
  ATL::CComPtr<IBookmarkItemProperty> old_face = PropertyFace(old_item);
  ATL::CComPtr<IBookmarkItemProperty> new_face = PropertyFace(new_item);
  if (!old_face || !new_face || merged == nullptr) return E_FAIL;
  ATL::CComPtr<IBookmarkItem> copy;
  if (FAILED(old_face->Copy(copy.Receive())) || !copy) return E_FAIL;
  LONGLONG number = 0;
  LONG count = 0;
  ATL::CComBSTR text;
  new_face->GetKind(&number);
  copy->SetKind(number);
  new_face->GetSortPosition(&number);
  copy->SetSortPosition(number);
  new_face->GetLastAccessTime(&number);
  copy->SetLastAccessTime(number);
  new_face->GetId(text.Receive());
  copy->SetId(text);
  new_face->GetParentId(text.Receive());
  copy->SetParentId(text);
  new_face->GetTitle(text.Receive());
  copy->SetTitle(text);
  new_face->GetUrl(text.Receive());
  copy->SetUrl(text);
  new_face->GetNote(text.Receive());
  copy->SetNote(text);
  new_face->GetSystemDefault(&number);
  copy->SetSystemDefault(number);
  new_face->GetAccessCount(&count);
  copy->SetAccessCount(count);
  new_face->GetIconUrl(text.Receive());
  copy->SetIconUrl(text);
  new_face->GetOrigin(&number);
  copy->SetOrigin(number);
  *merged = copy.Detach();
  return S_OK;
}

int CBookmarkTreeModel::VisitTreeToIndex(IObjectList* list, IdIndex& index) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModel::VisitTreeToIndex");
  if (list == nullptr) return 0;
  // The address index mirrors the committed index, whichever thread fills it (a transaction's
  // owner may add a subtree to the committed tree too).
  const bool address_index = &index == &index_;
  // A rebuild sorts every address once instead of inserting one by one.
  const bool bulk = address_index && address_index_.size() == 0;
  std::vector<AddressEntry> entries;
  std::vector<ATL::CComPtr<ITreeNode>> queue;
  auto enqueue = [&queue](IObjectList* nodes) {
    UINT count = 0;
    nodes->Count(&count);
    for (UINT i = 0; i < count; ++i) {
      ATL::CComPtr<ITreeNode> node;
      if (SUCCEEDED(nodes->GetAt(i, IID_ITreeNode, node.ReceiveVoid())) && node) {
        queue.push_back(std::move(node));
      }
    }
  };
  enqueue(list);
  for (size_t next = 0; next < queue.size(); ++next) {
    ITreeNode* node = queue[next];
    ATL::CComBSTR id;
    node->GetId(id.Receive());
    index[IdKey(IdText(id))] = node;
    if (address_index) {
      ATL::CComPtr<IBookmarkItem> item;
      node->GetItem(item.Receive());
      AddressEntry entry;
      if (CBookmarkAddressIndex::ReadEntry(item, &entry)) {
        if (bulk) {
          entries.push_back(std::move(entry));
        } else {
          address_index_.Insert(std::move(entry));
        }
      }
    }
    ATL::CComPtr<IObjectList> children;
    node->GetChildList(children.Receive());
    if (children) enqueue(children);
    queue[next].Release();  // visited: the queue need not keep the whole tree twice
  }
  if (bulk) address_index_.Assign(std::move(entries));
  return 1;
}

int CBookmarkTreeModel::MatchItem(BSTR text, IBookmarkItem* item) {
  if (item == nullptr) return 0;
  ATL::CComBSTR value;
  item->GetTitle(value.Receive());
  if (StrStrIW(value, text) != nullptr) return 1;
  item->GetUrl(value.Receive());
  if (StrStrIW(value, text) != nullptr) return 1;
  item->GetNote(value.Receive());
  return StrStrIW(value, text) != nullptr ? 1 : 0;
}

void CBookmarkTreeModel::OnItemIndexed(BSTR, IBookmarkItem* item) {
  AddressEntry entry;
  if (CBookmarkAddressIndex::ReadEntry(item, &entry)) address_index_.Insert(std::move(entry));
}

void CBookmarkTreeModel::OnItemUnindexed(BSTR, IBookmarkItem* item) {
  if (item != nullptr) address_index_.Erase(item);
}

void CBookmarkTreeModel::ClearItemIndex() { address_index_.Clear(); }

void CBookmarkTreeModel::CopyItem(IBookmarkItem* item, IBookmarkItem** copy) {
  if (copy == nullptr) return;
  *copy = nullptr;
  if (ATL::CComPtr<IBookmarkItemProperty> face = PropertyFace(item)) face->Copy(copy);
}

size_t CBookmarkTreeModel::address_index_size_for_testing() {
  base::CAutoLock guard(lock_);
  return address_index_.size();
}

// ---------------------------------------------------------------------------------------------
// Searches.

HRESULT CBookmarkTreeModel::SearchByURLPrefix(BSTR text, LONG maximum, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModel::SearchByURLPrefix");
  const std::u16string_view typed = TextOf(text);
  if (typed.empty() || items == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);

  std::u16string_view rest = TrimSlashes(typed);
  if (const size_t scheme_end = rest.find(u":/");
      scheme_end != std::u16string_view::npos && StartsWith(rest, u"http")) {
    rest = TrimSlashes(rest.substr(scheme_end + 1));
  }
  CTopNResult result(maximum);
  uint32_t pass = 0;
  if (!StartsWith(rest, u"http:") && !StartsWith(rest, u"ftp:") && !StartsWith(rest, u"https:")) {
    std::u16string prefix;
    for (const char16_t* expansion : kPrefixExpansions) {
      prefix.assign(expansion).append(rest);
      result.OfferPrefix(address_index_, prefix, pass++);
    }
  }
  base::Log(base::kLogLevelPerformance, kSearchLogCategory,
            u"CTopNResult::SearchByURLPrefix totalinsert=%d resultcount=%d",
            static_cast<int>(result.total_insert()), static_cast<int>(result.occupied()));
  if (result.occupied() == 0) result.OfferPrefix(address_index_, typed, pass);

  ListPtr list = NewList();
  if (!list) return S_OK;  // nothing handed out
  for (const ATL::CComPtr<IBookmarkItem>& item : result.Items()) {
    list->Append(IID_IBookmarkItem, item);
  }
  *items = list.Detach();
  return S_OK;
}

HRESULT CBookmarkTreeModel::SearchByName(BSTR text, LONG limit, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModel::SearchByName");
  if (TextOf(text).empty() || items == nullptr) return E_INVALIDARG;
  AwaitImport();
  ListPtr list;
  if (HRESULT created = Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
      FAILED(created)) {
    return created;
  }
  struct Match {
    LONG count;
    LONGLONG time;
    std::string address_key;  // collation sort key of the address
    ATL::CComPtr<IBookmarkItem> item;
    bool operator<(const Match& other) const {
      return std::tie(count, time, address_key) <
             std::tie(other.count, other.time, other.address_key);
    }
  };
  std::set<Match> matches;
  {
    base::CAutoLock guard(lock_);
    for (const auto& [key, node] : index_) {
      ATL::CComPtr<IBookmarkItem> item;
      if (!node || FAILED(node->GetItem(item.Receive())) || !item) continue;
      LONGLONG kind = 0;
      item->GetKind(&kind);
      if (kind != kBookmarkKindUrl) continue;
      ATL::CComBSTR title;
      item->GetTitle(title.Receive());
      if (StrStrIW(title, text) == nullptr) continue;
      Match match{0, 0, {}, item};
      item->GetAccessCount(&match.count);
      item->GetLastAccessTime(&match.time);
      ATL::CComBSTR url;
      item->GetUrl(url.Receive());
      match.address_key = platform::CollationSortKey(
          std::u16string_view(url.get() ? url.get() : u"", url.Length()));
      matches.insert(std::move(match));  // an equal one is kept, this one dropped
    }
  }
  LONG appended = 0;
  for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
    if (limit != -1 && appended >= limit) break;
    list->Append(IID_IBookmarkItem, it->item);
    ++appended;
  }
  *items = list.Detach();
  return S_OK;
}

HRESULT CBookmarkTreeModel::GetBookmarksByURL(BSTR url, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModel::GetBookmarksByURL");
  if (TextOf(url).empty() || items == nullptr) return E_FAIL;
  AwaitImport();
  ListPtr list = NewList();
  if (!list) return E_FAIL;
  base::CAutoLock guard(lock_);
  address_index_.ForEachWithAddress(
      TextOf(url), [&](const AddressEntry& entry) { list->Append(IID_IBookmarkItem, entry.item); });
  *items = list.Detach();
  return S_OK;
}

HRESULT CBookmarkTreeModel::IsBookmarkByURL(BSTR url, BOOL* found) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModel::IsBookmarkByURL");
  if (TextOf(url).empty() || found == nullptr) return E_FAIL;
  AwaitImport();
  base::CAutoLock guard(lock_);
  bool any = false;
  address_index_.ForEachWithAddress(TextOf(url), [&](const AddressEntry&) { any = true; });
  *found = any ? 1 : 0;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Sorting.

HRESULT CBookmarkTreeModel::Sort(BSTR parent_id, IOVCompare* comparer, LONG descending) {
  if (comparer == nullptr) return E_FAIL;
  base::CAutoLock guard(lock_);
  auto record = [this] {
    if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(kSortChangeKey, nullptr, 0);
  };

  ATL::CComPtr<ITreeNode> folder;
  std::string folder_key;
  ListPtr children;
  if (IdText(parent_id).empty()) {
    children = root_;
  } else {
    folder_key = IdKey(IdText(parent_id));
    auto found = index_.find(folder_key);
    if (found != index_.end()) {
      folder = found->second;
      folder->GetChildList(children.Receive());
    }
  }
  if (!children) {
    record();
    return E_FAIL;
  }

  struct Child {
    ATL::CComPtr<ITreeNode> node;
    ATL::CComPtr<IBookmarkItem> item;
  };
  std::vector<Child> sortable;
  std::vector<ATL::CComPtr<ITreeNode>> others;
  UINT count = 0;
  children->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    Child child;
    if (FAILED(children->GetAt(i, IID_ITreeNode, child.node.ReceiveVoid())) || !child.node) {
      continue;
    }
    child.node->GetItem(child.item.Receive());
    if (child.item) {
      sortable.push_back(std::move(child));
    } else {
      others.push_back(std::move(child.node));
    }
  }
  std::stable_sort(sortable.begin(), sortable.end(), [comparer](const Child& a, const Child& b) {
    LONG before = 0;
    return SUCCEEDED(comparer->Compare(a.item, b.item, &before)) && before != 0;
  });
  if (descending) std::reverse(sortable.begin(), sortable.end());

  ListPtr sorted = NewList();
  if (!sorted) return E_FAIL;
  for (const Child& child : sortable) sorted->Append(IID_ITreeNode, child.node);
  // Children without an item are not the comparer's to place; they stay, in their order.
  for (const ATL::CComPtr<ITreeNode>& node : others) sorted->Append(IID_ITreeNode, node);
  InstallList(folder, folder_key, sorted);
  record();
  return S_OK;
}

}  // namespace Storage
