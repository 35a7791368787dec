#include "platform/message_queue.h"

#include <algorithm>

#include "browserplatform/clock.h"

namespace platform {
namespace {

constexpr DWORD kPostedBits = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

bool MatchesWindow(HWND filter, HWND hwnd) {
  if (filter == nullptr) return true;
  if (filter == kThreadMessagesOnly) return hwnd == nullptr;
  return filter == hwnd;
}

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wparam) {
  return MSG{hwnd, message, wparam, 0, GetTickCount(), {0, 0}, 0};
}

}  // namespace

MessageQueue::MessageQueue(DWORD thread_id)
    : Waitable(ObjectKind::kMessageQueue), thread_id_(thread_id) {}

bool MessageQueue::IsSignaled() const {
  return (wake_bits_ & wake_mask_) != 0 || (changed_bits_ & changed_mask_) != 0;
}

bool MessageQueue::Post(const MSG& message) {
  if (closed_ || posted_.size() >= kMaxPosted) return false;
  posted_.push_back(message);
  SetBits(kPostedBits);
  return true;
}

void MessageQueue::PostQuit(int exit_code) {
  if (closed_) return;
  quit_pending_ = true;
  quit_code_ = exit_code;
  SetBits(kPostedBits);
}

bool MessageQueue::Peek(const MessageFilter& filter, bool remove, MessageClock::time_point now,
                        MSG* out) {
  UpdateTimerBits(now);
  // Looking at the queue marks what has arrived so far as seen, found or not.
  changed_bits_ &= ~(kPostedBits | QS_TIMER);

  auto it = std::find_if(posted_.begin(), posted_.end(), [&](const MSG& message) {
    return MatchesWindow(filter.hwnd, message.hwnd) && filter.MatchesNumber(message.message);
  });
  if (it != posted_.end()) {
    *out = *it;
    if (remove) {
      posted_.erase(it);
      UpdatePostedBits();
    }
    return true;
  }
  if (quit_pending_ && (filter.hwnd == nullptr || filter.hwnd == kThreadMessagesOnly) &&
      filter.MatchesNumber(WM_QUIT)) {
    *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<intptr_t>(quit_code_)));
    if (remove) {
      quit_pending_ = false;
      UpdatePostedBits();
    }
    return true;
  }
  return TakeTimer(filter, remove, now, out);
}

bool MessageQueue::TakeTimer(const MessageFilter& filter, bool remove, MessageClock::time_point now,
                             MSG* out) {
  if (!filter.MatchesNumber(WM_TIMER)) return false;
  Timer* earliest = nullptr;
  for (Timer& timer : timers_) {
    if (timer.due > now || !MatchesWindow(filter.hwnd, timer.hwnd)) continue;
    if (!earliest || timer.due < earliest->due) earliest = &timer;
  }
  if (!earliest) return false;
  *out = MakeMessage(earliest->hwnd, WM_TIMER, earliest->id);
  if (remove) {
    // The next period counts from the delivery, so a late owner gets one message, not a
    // burst.
    earliest->due = now + std::chrono::milliseconds(earliest->elapse);
    UpdateTimerBits(now);
  }
  return true;
}

DWORD MessageQueue::QueryStatus(UINT flags, MessageClock::time_point now) {
  UpdateTimerBits(now);
  DWORD status = ((wake_bits_ & flags) << 16) | (changed_bits_ & flags);
  changed_bits_ &= ~flags;
  return status;
}

std::optional<MessageClock::time_point> MessageQueue::PrepareWait(DWORD wake_mask,
                                                                  bool input_available,
                                                                  MessageClock::time_point now) {
  UpdateTimerBits(now);
  wake_mask_ = input_available ? wake_mask : 0;
  changed_mask_ = wake_mask;
  std::optional<MessageClock::time_point> next;
  if ((wake_mask & QS_TIMER) == 0) return next;
  // Timers already due raised their bits before; only a timer falling due is new input.
  for (const Timer& timer : timers_) {
    if (timer.due > now && (!next || timer.due < *next)) next = timer.due;
  }
  return next;
}

void MessageQueue::EndWait() {
  wake_mask_ = 0;
  changed_mask_ = 0;
}

void MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, MessageClock::time_point now) {
  const MessageClock::time_point due = now + std::chrono::milliseconds(elapse);
  for (Timer& timer : timers_) {
    if (timer.hwnd == hwnd && timer.id == id) {
      timer.elapse = elapse;
      timer.due = due;
      return;
    }
  }
  timers_.push_back({hwnd, id, elapse, due});
}

// The timer bits catch up at the owner's next look; nobody else reads them.
bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  return std::erase_if(timers_, [&](const Timer& timer) {
           return timer.hwnd == hwnd && timer.id == id;
         }) != 0;
}

void MessageQueue::ForgetWindow(HWND hwnd) {
  std::erase_if(posted_, [&](const MSG& message) { return message.hwnd == hwnd; });
  std::erase_if(timers_, [&](const Timer& timer) { return timer.hwnd == hwnd; });
  UpdatePostedBits();
}

void MessageQueue::Close() {
  closed_ = true;
  posted_.clear();
  timers_.clear();
  quit_pending_ = false;
  ClearBits(~DWORD{0});
}

void MessageQueue::SetBits(DWORD bits) {
  wake_bits_ |= bits;
  changed_bits_ |= bits;
  SatisfyWaiters();
}

void MessageQueue::ClearBits(DWORD bits) {
  wake_bits_ &= ~bits;
  changed_bits_ &= ~bits;
}

void MessageQueue::UpdatePostedBits() {
  if (posted_.empty() && !quit_pending_) ClearBits(kPostedBits);
}

void MessageQueue::UpdateTimerBits(MessageClock::time_point now) {
  bool any_due = std::any_of(timers_.begin(), timers_.end(),
                             [&](const Timer& timer) { return timer.due <= now; });
  if (!any_due) {
    ClearBits(QS_TIMER);
  } else if ((wake_bits_ & QS_TIMER) == 0) {
    SetBits(QS_TIMER);
  }
}

}  // namespace platform
