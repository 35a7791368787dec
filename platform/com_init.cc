// Per-thread COM initialisation: a count and the concurrency model the thread chose first.
#include "platform/com_init.h"
#include "browserplatform/combaseapi.h"

namespace platform {
namespace {

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

struct ThreadCom {
  ULONG count = 0;
  bool apartment = false;
};

thread_local ThreadCom t_com;

}  // namespace

bool IsComInitializedOnThread() { return t_com.count > 0; }

}  // namespace platform

HRESULT CoInitializeEx(LPVOID reserved, DWORD flags) {
  if (reserved || (flags & ~platform::kKnownFlags) != 0) return E_INVALIDARG;
  platform::ThreadCom& com = platform::t_com;
  const bool apartment = (flags & COINIT_APARTMENTTHREADED) != 0;
  if (com.count > 0) {
    if (apartment != com.apartment) return RPC_E_CHANGED_MODE;
    ++com.count;
    return S_FALSE;
  }
  com.apartment = apartment;
  com.count = 1;
  return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (platform::t_com.count > 0) --platform::t_com.count;
}
