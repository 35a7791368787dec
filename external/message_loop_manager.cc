#include "external/message_loop_manager.h"

#include <exception>

#include "platform/no_destructor.h"

namespace Util {

IMessageLoopManager* CMessageLoopManager::Instance() {
  // The process's own reference keeps the count above zero, so Release never deletes it.
  static IMessageLoopManager* const instance = [] {
    static platform::NoDestructor<ATL::CComObject<CMessageLoopManager>> object;
    object->AddRef();
    return static_cast<IMessageLoopManager*>(object.get());
  }();
  return instance;
}

STDMETHODIMP CMessageLoopManager::RegisterLoop(DWORD thread_id, void* loop) {
  base::CAutoLock lock(lock_);
  if (loop == nullptr) {
    loops_.erase(thread_id);
    return S_OK;
  }
  try {
    loops_.insert_or_assign(thread_id, loop);
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CMessageLoopManager::GetLoop(DWORD thread_id, void** loop) {
  if (loop == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  auto it = loops_.find(thread_id);
  *loop = it == loops_.end() ? nullptr : it->second;
  return S_OK;
}

}  // namespace Util
