#include "platform/window_registry.h"

#include <mutex>

#include "browserplatform/process.h"
#include "platform/no_destructor.h"

namespace platform {
namespace {

constexpr ATOM kFirstAtom = 0xC000;
constexpr uintptr_t kAtomLimit = 0x10000;

bool IsAtom(LPCWSTR name) { return reinterpret_cast<uintptr_t>(name) < kAtomLimit; }

std::u16string FoldCase(std::u16string name) {
  for (char16_t& c : name) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return name;
}

// Owns the thread's queue; at thread exit it takes the thread's windows with it, as Windows
// does, so that posts to them are refused from then on.
class ThreadQueue {
 public:
  ThreadQueue() = default;
  ~ThreadQueue() {
    if (!queue_) return;
    std::lock_guard<std::mutex> lock(DispatcherMutex());
    WindowRegistry::Get().DestroyWindowsOf(queue_.get());
    queue_->Close();
  }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  const std::shared_ptr<MessageQueue>& Get() {
    if (!queue_) queue_ = std::make_shared<MessageQueue>(GetCurrentThreadId());
    return queue_;
  }

 private:
  std::shared_ptr<MessageQueue> queue_;
};

}  // namespace

WindowRegistry& WindowRegistry::Get() {
  // Threads may still end, and destroy their windows, while static destructors run.
  static NoDestructor<WindowRegistry> registry;
  return *registry;
}

ATOM WindowRegistry::RegisterClass(const std::u16string& name, WNDPROC proc, DWORD* error) {
  std::u16string key = FoldCase(name);
  if (atoms_by_name_.count(key)) {
    *error = ERROR_CLASS_ALREADY_EXISTS;
    return 0;
  }
  if (classes_.size() >= kAtomLimit - kFirstAtom) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  // Atoms are reused once their class is gone; a pump registers its class each time.
  while (classes_.count(next_atom_)) {
    next_atom_ = next_atom_ == 0xFFFF ? kFirstAtom : static_cast<ATOM>(next_atom_ + 1);
  }
  ATOM atom = next_atom_;
  classes_.emplace(atom, WindowClass{name, proc});
  atoms_by_name_.emplace(std::move(key), atom);
  return atom;
}

ATOM WindowRegistry::FindClass(LPCWSTR name_or_atom) const {
  if (name_or_atom == nullptr) return 0;
  if (IsAtom(name_or_atom)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name_or_atom));
    return classes_.count(atom) ? atom : 0;
  }
  auto it = atoms_by_name_.find(FoldCase(name_or_atom));
  return it == atoms_by_name_.end() ? 0 : it->second;
}

bool WindowRegistry::UnregisterClass(LPCWSTR name_or_atom, DWORD* error) {
  ATOM atom = FindClass(name_or_atom);
  if (atom == 0) {
    *error = ERROR_CLASS_DOES_NOT_EXIST;
    return false;
  }
  auto it = classes_.find(atom);
  if (it->second.window_count != 0) {
    *error = ERROR_CLASS_HAS_WINDOWS;
    return false;
  }
  atoms_by_name_.erase(FoldCase(it->second.name));
  classes_.erase(it);
  return true;
}

HWND WindowRegistry::CreateWindow(LPCWSTR class_name_or_atom, std::shared_ptr<MessageQueue> queue,
                                  DWORD* error) {
  ATOM atom = FindClass(class_name_or_atom);
  if (atom == 0) {
    *error = ERROR_CANNOT_FIND_WND_CLASS;
    return nullptr;
  }
  WindowClass& window_class = classes_.at(atom);
  // Multiples of 4 from 0x10000: never null, never a small pseudo-handle like HWND_MESSAGE.
  const uintptr_t key = next_window_;
  next_window_ += 4;
  windows_.emplace(key, Window{atom, window_class.proc, std::move(queue)});
  ++window_class.window_count;
  return reinterpret_cast<HWND>(key);
}

const Window* WindowRegistry::Find(HWND hwnd) const {
  auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows_.end() ? nullptr : &it->second;
}

void WindowRegistry::DestroyWindow(HWND hwnd) {
  auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
  if (it != windows_.end()) EraseWindow(it);
}

void WindowRegistry::DestroyWindowsOf(const MessageQueue* queue) {
  for (auto it = windows_.begin(); it != windows_.end();) {
    auto next = std::next(it);
    if (it->second.queue.get() == queue) EraseWindow(it);
    it = next;
  }
}

void WindowRegistry::EraseWindow(std::unordered_map<uintptr_t, Window>::iterator it) {
  it->second.queue->ForgetWindow(reinterpret_cast<HWND>(it->first));
  auto window_class = classes_.find(it->second.atom);
  if (window_class != classes_.end()) --window_class->second.window_count;
  windows_.erase(it);
}

std::shared_ptr<MessageQueue> CurrentMessageQueue() {
  thread_local ThreadQueue queue;
  return queue.Get();
}

}  // namespace platform
