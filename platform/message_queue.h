// One thread's window-message queue: posted messages, the quit mark, window timers and the
// queue-status bits that GetQueueStatus reports and MsgWaitForMultipleObjectsEx waits for.
//
// The queue is a Waitable so that a message wait is an ordinary wait-any over the caller's
// handles plus the queue. Like every waitable, its state is guarded by DispatcherMutex(): a
// post from another thread and the owner's wait then never miss each other.
//
// Status bits follow Windows: `wake_bits_` says which kinds of input the queue holds,
// `changed_bits_` which arrived since the owner last looked (a peek or a status query). A
// wait is satisfied by (wake_bits_ & wake_mask_) | (changed_bits_ & changed_mask_), with the
// masks set by the waiter (wake_mask_ only for MWMO_INPUTAVAILABLE).
//
// Timers are the owner's alone (SetTimer is refused for other threads' windows), so their due
// times are checked only when the owner looks at the queue or waits; a wait sleeps no longer
// than until the next due time.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

#include "browserplatform/winuser.h"
#include "platform/waitable.h"

namespace platform {

using MessageClock = std::chrono::steady_clock;

// Which messages a peek takes (see PeekMessageW).
struct MessageFilter {
  HWND hwnd;
  UINT first;
  UINT last;

  bool MatchesNumber(UINT message) const {
    return (first == 0 && last == 0) || (first <= message && message <= last);
  }
};

class MessageQueue final : public Waitable {
 public:
  // Posted messages a queue holds at most; Windows has the same default quota.
  static constexpr size_t kMaxPosted = 10000;

  explicit MessageQueue(DWORD thread_id);

  DWORD thread_id() const { return thread_id_; }

  // Everything below requires DispatcherMutex().
  bool IsSignaled() const override;
  void Acquire() override {}

  // Appends a posted message; false when the queue is full or its thread has ended.
  bool Post(const MSG& message);
  void PostQuit(int exit_code);

  // The first matching message in retrieval order (posted, quit, due timer), removed when
  // `remove`; false when none matches.
  bool Peek(const MessageFilter& filter, bool remove, MessageClock::time_point now, MSG* out);

  // GetQueueStatus: current kinds in the high word, new kinds in the low word, for `flags`;
  // the new kinds are then marked as seen.
  DWORD QueryStatus(UINT flags, MessageClock::time_point now);

  // Sets the masks for the owner's coming wait and returns the due time of the earliest timer
  // the wait must wake for, if any.
  std::optional<MessageClock::time_point> PrepareWait(DWORD wake_mask, bool input_available,
                                                      MessageClock::time_point now);
  void EndWait();

  void SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, MessageClock::time_point now);
  bool KillTimer(HWND hwnd, UINT_PTR id);

  // Drops the window's pending messages and timers (it is being destroyed).
  void ForgetWindow(HWND hwnd);
  // The owner thread has ended: drops everything and refuses later posts.
  void Close();

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    MessageClock::time_point due;
  };

  void SetBits(DWORD bits);
  void ClearBits(DWORD bits);
  // Brings the posted-message and timer bits in line with what the queue holds.
  void UpdatePostedBits();
  void UpdateTimerBits(MessageClock::time_point now);
  bool TakeTimer(const MessageFilter& filter, bool remove, MessageClock::time_point now, MSG* out);

  const DWORD thread_id_;
  std::deque<MSG> posted_;
  bool quit_pending_ = false;
  int quit_code_ = 0;
  std::vector<Timer> timers_;
  DWORD wake_bits_ = 0;
  DWORD changed_bits_ = 0;
  DWORD wake_mask_ = 0;
  DWORD changed_mask_ = 0;
  bool closed_ = false;
};

}  // namespace platform
