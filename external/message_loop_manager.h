// CMessageLoopManager: the process-wide IMessageLoopManager service, a map from thread id to
// that thread's message loop. The loops are opaque: the manager keeps the pointers only.
//
// Thread safety: lock_ guards the map.
#pragma once

#include <unordered_map>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CMessageLoopManager : public IMessageLoopManager,
                            public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CMessageLoopManager)
  COM_INTERFACE_ENTRY(IMessageLoopManager)
  END_COM_MAP()

  CMessageLoopManager() = default;
  CMessageLoopManager(const CMessageLoopManager&) = delete;
  CMessageLoopManager& operator=(const CMessageLoopManager&) = delete;

  // The one instance of the process. It is never destroyed: loops may still unregister from
  // static destructors of other libraries at exit.
  static IMessageLoopManager* Instance();

  STDMETHODIMP RegisterLoop(DWORD thread_id, void* loop) override;
  STDMETHODIMP GetLoop(DWORD thread_id, void** loop) override;

 private:
  base::CLock lock_;
  std::unordered_map<DWORD, void*> loops_ GUARDED_BY(lock_);
};

}  // namespace Util
