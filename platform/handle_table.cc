#include "platform/handle_table.h"

#include <mutex>
#include <vector>

#include "platform/no_destructor.h"

namespace platform {
namespace {

// Handles are (slot + 1) * 4 with a generation in the upper bits, so that a handle value
// is never 0 or INVALID_HANDLE_VALUE and a reused slot does not revive an old handle.
constexpr uintptr_t kSlotBits = 24;
constexpr uintptr_t kMaxSlots = uintptr_t{1} << kSlotBits;

struct Slot {
  std::shared_ptr<KernelObject> object;
  uint32_t generation = 1;
};

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (OpenCountLocked() >= limit_) return nullptr;
    size_t index;
    if (!free_.empty()) {
      index = free_.back();
      free_.pop_back();
    } else {
      if (slots_.size() >= kMaxSlots) return nullptr;
      slots_.emplace_back();
      index = slots_.size() - 1;
    }
    Slot& slot = slots_[index];
    slot.object = std::move(object);
    uintptr_t value = ((uintptr_t{slot.generation} << kSlotBits) | (index + 1)) << 2;
    return reinterpret_cast<HANDLE>(value);
  }

  std::shared_ptr<KernelObject> Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = Find(handle);
    return slot ? slot->object : nullptr;
  }

  std::shared_ptr<KernelObject> Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = Find(handle);
    if (!slot) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(slot->object);
    slot->object.reset();
    slot->generation = (slot->generation + 1) & 0xFFFFFF;
    if (slot->generation == 0) slot->generation = 1;
    free_.push_back(static_cast<size_t>(slot - slots_.data()));
    return object;
  }

  void SetLimit(size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_ = limit;
  }

  size_t OpenCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return OpenCountLocked();
  }

 private:
  Slot* Find(HANDLE handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || (value & 3) != 0) return nullptr;
    value >>= 2;
    uintptr_t index = (value & (kMaxSlots - 1));
    uintptr_t generation = value >> kSlotBits;
    if (index == 0 || index > slots_.size()) return nullptr;
    Slot& slot = slots_[index - 1];
    if (!slot.object || slot.generation != generation) return nullptr;
    return &slot;
  }

  size_t OpenCountLocked() const { return slots_.size() - free_.size(); }

  std::mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<size_t> free_;
  size_t limit_ = kNoHandleLimit;  // open handles allowed; tests lower it
};

HandleTable& Table() {
  // Handles may be closed by static destructors of other libraries.
  static NoDestructor<HandleTable> table;
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HANDLE handle = Table().Insert(std::move(object));
  if (!handle) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Table().Lookup(handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Table().Remove(handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

void SetHandleLimitForTesting(size_t limit) { Table().SetLimit(limit); }

size_t OpenHandleCountForTesting() { return Table().OpenCount(); }

size_t BlockedWaiterCountForTesting(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Table().Lookup(handle);
  return object ? object->CountBlockedWaiters() : 0;
}

}  // namespace platform
