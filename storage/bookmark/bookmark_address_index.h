// Storage::CBookmarkAddressIndex: the bookmarks that have an address (kind 1), in address order:
// address (UTF-16 code units, so a prefix range is contiguous and matching is case-sensitive),
// then more visits first, then more recently visited first, then identifier (code units).
// Storage::CTopNResult: the best N of the items one prefix search offers.
//
// Each entry keeps a copy of the properties it is ordered by, so the order stays consistent
// even if a holder of the live item changed it in place.
//
// Entries sit in sorted chunks of a few hundred, each knowing its best (visits, last visit).
// A prefix search visits whole chunks best first and stops as soon as no remaining chunk can
// beat the N-th item kept: a one-letter prefix over a hundred thousand bookmarks looks at a
// few chunks, not at every match.
//
// Thread safety: none; the bookmark model guards it with its lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/types.h"
#include "browserstorage/shared_objects.h"

namespace Storage {

struct AddressEntry {
  std::u16string url;
  LONG count = 0;
  LONGLONG time = 0;  // of the last visit
  std::u16string id;
  ATL::CComPtr<IBookmarkItem> item;
};

class CBookmarkAddressIndex {
 public:
  // The entry of `item` when it is a bookmark with an address (kind 1); false otherwise.
  static bool ReadEntry(IBookmarkItem* item, AddressEntry* entry);

  size_t size() const { return size_; }
  // After the entries that compare equal.
  void Insert(AddressEntry entry);
  // Replaces the whole index; equal entries keep the order they come in.
  void Assign(std::vector<AddressEntry> entries);
  void Clear();
  // Removes the entry holding `item` itself. False when there is none.
  bool Erase(IBookmarkItem* item);

  // Calls visit(entry) for each entry whose address equals `url`, in order.
  template <class Visit>
  void ForEachWithAddress(std::u16string_view url, Visit visit) const {
    for (Position at = LowerBound(url); at.chunk < chunks_.size(); Advance(&at)) {
      const AddressEntry& entry = chunks_[at.chunk].entries[at.offset];
      if (entry.url != url) return;
      visit(entry);
    }
  }

  // A run of entries whose addresses start with one prefix, inside one chunk.
  struct Segment {
    const AddressEntry* begin;
    const AddressEntry* end;
    LONG best_count;  // the chunk's best: no entry of the run ranks above it
    LONGLONG best_time;
    uint64_t first_ordinal;  // of `begin` among the prefix's entries
  };
  // Appends the runs of the entries whose addresses start with `prefix`, in address order.
  void PrefixSegments(std::u16string_view prefix, std::vector<Segment>* segments) const;

 private:
  struct Chunk {
    std::vector<AddressEntry> entries;
    LONG best_count = 0;
    LONGLONG best_time = 0;
  };
  struct Position {
    size_t chunk;
    size_t offset;
  };

  Position LowerBound(std::u16string_view url) const;
  void Advance(Position* at) const;
  void UpdateBest(Chunk* chunk);
  void EraseAt(size_t chunk, size_t offset);

  std::vector<Chunk> chunks_;
  size_t size_ = 0;
  // The items held, so that removing an item that was never indexed costs no scan.
  std::unordered_multiset<IBookmarkItem*> members_;
};

class CTopNResult {
 public:
  // N = `slots`; below 1 nothing is kept or counted.
  explicit CTopNResult(LONG slots);

  // Runs one prefix pass over `index`; `pass` orders equal ranks between passes.
  void OfferPrefix(const CBookmarkAddressIndex& index, std::u16string_view prefix, uint32_t pass);

  // Items offered so far (the passes' matches) and items kept.
  uint32_t total_insert() const { return total_insert_; }
  size_t occupied() const { return kept_.size(); }
  // The kept items, best first: more visits, then more recent, then offered earlier.
  std::vector<ATL::CComPtr<IBookmarkItem>> Items() const;

 private:
  struct Kept {
    LONG count;
    LONGLONG time;
    uint64_t sequence;
    IBookmarkItem* item;  // owned by the index, which outlives this result
  };
  static bool RanksBefore(const Kept& a, const Kept& b);

  const size_t slots_;
  std::vector<Kept> kept_;
  uint32_t total_insert_ = 0;
};

}  // namespace Storage
