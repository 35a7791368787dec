#include "thread/thread_message_loop.h"

#include <new>
#include <utility>

#include "base/logging.h"
#include "browserplatform/process.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "thread/message_pump_default.h"
#include "thread/message_pump_for_io.h"
#include "thread/message_pump_for_ui.h"
#include "thread/scoped_run_state.h"
#include "thread/thread_message_loop_proxy.h"

namespace Thread {
namespace {

constexpr char16_t kLogCategoryThreadMessageLoop[] = u"threadmsgloop;";
// More queued tasks than this at a post are worth a note: the loop is falling behind.
constexpr size_t kPendingTaskNoteThreshold = 5;

// The manager service with one reference for the caller, or null.
IMessageLoopManager* GetManager() {
  IMessageLoopManager* manager = nullptr;
  HRESULT hr = Util::Com::GetService(IID_IMessageLoopManager, reinterpret_cast<void**>(&manager));
  if (FAILED(hr)) return nullptr;
  return manager;
}

// Records `loop` (null: none) as the loop of `thread_id`; failures are logged only.
void RegisterLoop(DWORD thread_id, CThreadMessageLoop* loop) {
  IMessageLoopManager* manager = GetManager();
  if (!manager) {
    base::Log(base::kLogLevelError, base::kLogCategoryOldLog,
              u"Get Service Message Loop Mgr failed\n");
    return;
  }
  if (FAILED(manager->RegisterLoop(thread_id, loop))) {
    base::Log(base::kLogLevelError, base::kLogCategoryOldLog, u"Set Service Message Loop failed\n");
  }
  manager->Release();
}

// The loop registered for `thread_id`, or null (also when the service cannot be reached).
CThreadMessageLoop* RegisteredLoop(DWORD thread_id) {
  IMessageLoopManager* manager = GetManager();
  if (!manager) return nullptr;
  void* loop = nullptr;
  if (FAILED(manager->GetLoop(thread_id, &loop))) loop = nullptr;
  manager->Release();
  return static_cast<CThreadMessageLoop*>(loop);
}

base::scoped_refptr<CMessagePump> NewPump(DWORD type) {
  switch (type) {
    case CThreadMessageLoop::TYPE_UI:
      return base::scoped_refptr<CMessagePump>(new CMessagePumpForUI());
    case CThreadMessageLoop::TYPE_IO:
      return base::scoped_refptr<CMessagePump>(new CMessagePumpForIO());
    default:
      return base::scoped_refptr<CMessagePump>(new CMessagePumpDefault());
  }
}

}  // namespace

CThreadMessageLoop::CThreadMessageLoop(const char* name, DWORD type)
    : type_(type),
      name_(name ? name : ""),
      thread_id_(GetCurrentThreadId()),
      replaced_loop_(RegisteredLoop(thread_id_)) {
  RegisterLoop(thread_id_, this);
  proxy_ = base::scoped_refptr<CThreadMessageLoopProxy>(new (std::nothrow)
                                                            CThreadMessageLoopProxy(this));
  if (!proxy_) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"Create ThreadMessageLoopProxy failed");
  }
  pump_ = NewPump(type);
}

CThreadMessageLoop::~CThreadMessageLoop() {
  // From here on a post through the proxy destroys its task instead of reaching this loop.
  if (proxy_) proxy_->WillDestroyCurrentMessageLoop();
  {
    base::CAutoLock lock(incoming_queue_lock_);
    // Swapped out first, so that a task whose destructor posts to this loop does not change
    // the queue being cleared.
    std::deque<PendingTask> dropped;
    dropped.swap(incoming_queue_);
    dropped.clear();
  }
  work_queue_.clear();
  CThreadMessageLoop* registered = RegisteredLoop(thread_id_);
  if (registered == this) {
    // Null for the thread's first loop: that unregisters.
    RegisterLoop(thread_id_, replaced_loop_);
  } else {
    // A loop made after this one is still there: it hands back to ours on its way.
    for (CThreadMessageLoop* loop = registered; loop; loop = loop->replaced_loop_) {
      if (loop->replaced_loop_ == this) {
        loop->replaced_loop_ = replaced_loop_;
        break;
      }
    }
  }
  pump_.reset();
  proxy_.reset();
}

CThreadMessageLoop* CThreadMessageLoop::current() { return RegisteredLoop(GetCurrentThreadId()); }

void CThreadMessageLoop::PostTask(std::unique_ptr<CTask> task) {
  if (!task) return;
  base::scoped_refptr<CMessagePump> pump;
  {
    base::CAutoLock lock(incoming_queue_lock_);
    const size_t pending = incoming_queue_.size();
    incoming_queue_.push_back(PendingTask{std::move(task), 0, next_sequence_num_++, true});
    if (pending > 0) {
      // The pump was woken when the queue became non-empty and has not taken it yet.
      if (pending > kPendingTaskNoteThreshold) {
        base::Log(base::kLogLevelPerformance, kLogCategoryThreadMessageLoop,
                  u"now PendingTask number is %d, threadname = %S", static_cast<int>(pending),
                  name_.c_str());
      }
      return;
    }
    pump = pump_;
  }
  // Outside the lock: waking the pump may take the window-message or port locks.
  pump->ScheduleWork();
  base::CAutoLock lock(incoming_queue_lock_);
  pump.reset();
}

void CThreadMessageLoop::Run() {
  RunState state{state_ ? state_->run_depth + 1 : 1, false};
  CScopedRunState<RunState> scope(state_, &state);
  pump_->Run(this);
}

void CThreadMessageLoop::Quit() {
  if (state_) state_->quit_received = true;
}

void CThreadMessageLoop::ReloadWorkQueue() {
  if (!work_queue_.empty()) return;
  base::CAutoLock lock(incoming_queue_lock_);
  incoming_queue_.swap(work_queue_);
}

bool CThreadMessageLoop::DoWork() {
  // A nested run inside a task does not run other tasks.
  if (!nestable_tasks_allowed_) return false;
  ReloadWorkQueue();
  if (work_queue_.empty()) return false;

  PendingTask pending = std::move(work_queue_.front());
  work_queue_.pop_front();
  nestable_tasks_allowed_ = 0;
  struct Allow {
    LONG& flag;
    ~Allow() { flag = 1; }
  } allow{nestable_tasks_allowed_};
  pending.task->Run();
  pending.task.reset();  // destroyed before the flag allows the next task
  return true;
}

bool CThreadMessageLoop::DoDelayedWork(int64_t* next_delayed_work_time) {
  // No delayed tasks are ever posted.
  if (next_delayed_work_time) *next_delayed_work_time = 0;
  return false;
}

bool CThreadMessageLoop::DoIdleWork() {
  if (state_ && state_->quit_received) pump_->Quit();
  return false;
}

}  // namespace Thread
