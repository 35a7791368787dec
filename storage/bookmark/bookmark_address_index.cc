#include "storage/bookmark/bookmark_address_index.h"

#include <algorithm>
#include <iterator>
#include <tuple>
#include <utility>

#include "browserplatform/oleauto.h"

namespace Storage {
namespace {

constexpr size_t kChunkSize = 256;  // entries a chunk holds after a bulk build or a split

bool Less(const AddressEntry& a, const AddressEntry& b) {
  if (int order = a.url.compare(b.url); order != 0) return order < 0;
  if (a.count != b.count) return a.count > b.count;
  if (a.time != b.time) return a.time > b.time;
  return a.id < b.id;
}

bool StartsWith(const std::u16string& text, std::u16string_view prefix) {
  return std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

std::u16string Text(const ATL::CComBSTR& text) {
  return text.get() ? std::u16string(text.get(), text.Length()) : std::u16string();
}

}  // namespace

bool CBookmarkAddressIndex::ReadEntry(IBookmarkItem* item, AddressEntry* entry) {
  if (item == nullptr) return false;
  LONGLONG kind = 0;
  item->GetKind(&kind);
  if (kind != kBookmarkKindUrl) return false;
  ATL::CComBSTR url;
  ATL::CComBSTR id;
  item->GetUrl(url.Receive());
  item->GetId(id.Receive());
  entry->url = Text(url);
  entry->id = Text(id);
  item->GetAccessCount(&entry->count);
  item->GetLastAccessTime(&entry->time);
  entry->item = item;
  return true;
}

void CBookmarkAddressIndex::UpdateBest(Chunk* chunk) {
  chunk->best_count = 0;
  chunk->best_time = 0;
  bool first = true;
  for (const AddressEntry& entry : chunk->entries) {
    if (first ||
        std::tie(entry.count, entry.time) > std::tie(chunk->best_count, chunk->best_time)) {
      chunk->best_count = entry.count;
      chunk->best_time = entry.time;
      first = false;
    }
  }
}

void CBookmarkAddressIndex::Insert(AddressEntry entry) {
  // The first chunk whose last entry sorts after the new one; else the last chunk.
  auto chunk = std::partition_point(chunks_.begin(), chunks_.end(),
                                    [&](const Chunk& c) { return !Less(entry, c.entries.back()); });
  if (chunk == chunks_.end()) {
    if (chunks_.empty()) chunks_.emplace_back();
    chunk = std::prev(chunks_.end());
  }
  auto at = std::upper_bound(chunk->entries.begin(), chunk->entries.end(), entry, Less);
  const bool better = chunk->entries.empty() || std::tie(entry.count, entry.time) >
                                                    std::tie(chunk->best_count, chunk->best_time);
  if (better) {
    chunk->best_count = entry.count;
    chunk->best_time = entry.time;
  }
  members_.insert(entry.item.get());
  chunk->entries.insert(at, std::move(entry));
  ++size_;
  if (chunk->entries.size() >= 2 * kChunkSize) {
    Chunk upper;
    upper.entries.assign(std::make_move_iterator(chunk->entries.begin() + kChunkSize),
                         std::make_move_iterator(chunk->entries.end()));
    chunk->entries.resize(kChunkSize);
    UpdateBest(&*chunk);
    UpdateBest(&upper);
    chunks_.insert(std::next(chunk), std::move(upper));
  }
}

void CBookmarkAddressIndex::Assign(std::vector<AddressEntry> entries) {
  std::stable_sort(entries.begin(), entries.end(), Less);
  chunks_.clear();
  members_.clear();
  for (const AddressEntry& entry : entries) members_.insert(entry.item.get());
  size_ = entries.size();
  for (size_t begin = 0; begin < entries.size(); begin += kChunkSize) {
    const size_t end = std::min(entries.size(), begin + kChunkSize);
    Chunk chunk;
    chunk.entries.assign(std::make_move_iterator(entries.begin() + begin),
                         std::make_move_iterator(entries.begin() + end));
    UpdateBest(&chunk);
    chunks_.push_back(std::move(chunk));
  }
}

void CBookmarkAddressIndex::Clear() {
  chunks_.clear();
  members_.clear();
  size_ = 0;
}

void CBookmarkAddressIndex::EraseAt(size_t chunk, size_t offset) {
  Chunk& target = chunks_[chunk];
  members_.erase(members_.find(target.entries[offset].item.get()));
  target.entries.erase(target.entries.begin() + static_cast<ptrdiff_t>(offset));
  --size_;
  if (target.entries.empty()) {
    chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(chunk));
  } else {
    UpdateBest(&target);
  }
}

bool CBookmarkAddressIndex::Erase(IBookmarkItem* item) {
  if (members_.count(item) == 0) return false;
  AddressEntry probe;
  if (ReadEntry(item, &probe)) {
    // Where the item sorts now; its entry is there unless the item was changed in place.
    for (Position at = LowerBound(probe.url); at.chunk < chunks_.size(); Advance(&at)) {
      const AddressEntry& entry = chunks_[at.chunk].entries[at.offset];
      if (entry.url != probe.url) break;
      if (entry.item.get() == item) {
        EraseAt(at.chunk, at.offset);
        return true;
      }
    }
  }
  for (size_t chunk = 0; chunk < chunks_.size(); ++chunk) {
    for (size_t offset = 0; offset < chunks_[chunk].entries.size(); ++offset) {
      if (chunks_[chunk].entries[offset].item.get() == item) {
        EraseAt(chunk, offset);
        return true;
      }
    }
  }
  return false;
}

CBookmarkAddressIndex::Position CBookmarkAddressIndex::LowerBound(std::u16string_view url) const {
  auto chunk = std::partition_point(chunks_.begin(), chunks_.end(), [&](const Chunk& c) {
    return std::u16string_view(c.entries.back().url) < url;
  });
  if (chunk == chunks_.end()) return {chunks_.size(), 0};
  auto at =
      std::partition_point(chunk->entries.begin(), chunk->entries.end(),
                           [&](const AddressEntry& e) { return std::u16string_view(e.url) < url; });
  return {static_cast<size_t>(chunk - chunks_.begin()),
          static_cast<size_t>(at - chunk->entries.begin())};
}

void CBookmarkAddressIndex::Advance(Position* at) const {
  if (++at->offset == chunks_[at->chunk].entries.size()) {
    ++at->chunk;
    at->offset = 0;
  }
}

void CBookmarkAddressIndex::PrefixSegments(std::u16string_view prefix,
                                           std::vector<Segment>* segments) const {
  uint64_t ordinal = 0;
  for (Position at = LowerBound(prefix); at.chunk < chunks_.size(); ++at.chunk, at.offset = 0) {
    const Chunk& chunk = chunks_[at.chunk];
    const AddressEntry* begin = chunk.entries.data() + at.offset;
    const AddressEntry* chunk_end = chunk.entries.data() + chunk.entries.size();
    // The matches are a leading run of what is left of the chunk: all of it when its last entry
    // matches (every address between two that start with the prefix does too), which spares a
    // search through every chunk inside a long range.
    const AddressEntry* end =
        StartsWith(chunk.entries.back().url, prefix)
            ? chunk_end
            : std::partition_point(begin, chunk_end, [&](const AddressEntry& e) {
                return StartsWith(e.url, prefix);
              });
    if (end == begin) return;
    segments->push_back({begin, end, chunk.best_count, chunk.best_time, ordinal});
    ordinal += static_cast<uint64_t>(end - begin);
    if (end != chunk_end) return;
  }
}

CTopNResult::CTopNResult(LONG slots) : slots_(slots > 0 ? static_cast<size_t>(slots) : 0) {}

bool CTopNResult::RanksBefore(const Kept& a, const Kept& b) {
  if (a.count != b.count) return a.count > b.count;
  if (a.time != b.time) return a.time > b.time;
  return a.sequence < b.sequence;
}

void CTopNResult::OfferPrefix(const CBookmarkAddressIndex& index, std::u16string_view prefix,
                              uint32_t pass) {
  if (slots_ == 0) return;
  std::vector<CBookmarkAddressIndex::Segment> segments;
  index.PrefixSegments(prefix, &segments);
  // Best chunks first: once the N-th kept item outranks a chunk's best, it outranks every
  // later one too, and what is left is only counted.
  std::stable_sort(segments.begin(), segments.end(), [](const auto& a, const auto& b) {
    return std::tie(a.best_count, a.best_time) > std::tie(b.best_count, b.best_time);
  });
  const uint64_t pass_base = static_cast<uint64_t>(pass) << 40;
  for (const CBookmarkAddressIndex::Segment& segment : segments) {
    const auto length = static_cast<uint32_t>(segment.end - segment.begin);
    if (kept_.size() == slots_ && std::tie(segment.best_count, segment.best_time) <
                                      std::tie(kept_.back().count, kept_.back().time)) {
      total_insert_ += length;
      continue;
    }
    uint64_t sequence = pass_base + segment.first_ordinal;
    for (const AddressEntry* entry = segment.begin; entry != segment.end; ++entry, ++sequence) {
      ++total_insert_;
      Kept candidate{entry->count, entry->time, sequence, entry->item.get()};
      if (kept_.size() == slots_ && !RanksBefore(candidate, kept_.back())) continue;
      kept_.insert(std::upper_bound(kept_.begin(), kept_.end(), candidate, RanksBefore), candidate);
      if (kept_.size() > slots_) kept_.pop_back();
    }
  }
}

std::vector<ATL::CComPtr<IBookmarkItem>> CTopNResult::Items() const {
  std::vector<ATL::CComPtr<IBookmarkItem>> items;
  items.reserve(kept_.size());
  for (const Kept& kept : kept_) items.emplace_back(kept.item);
  return items;
}

}  // namespace Storage
