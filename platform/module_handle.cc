// GetModuleHandleW(nullptr): where the executable's image starts, like a Windows image base.
#include <link.h>

#include <cstdint>
#include <limits>

#include "browserplatform/libloaderapi.h"

namespace {

// The lowest loaded address of the first object the dynamic linker lists, which is always
// the executable.
int FindImageStart(struct dl_phdr_info* info, size_t, void* data) {
  uintptr_t lowest = std::numeric_limits<uintptr_t>::max();
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type == PT_LOAD && header.p_vaddr < lowest) lowest = header.p_vaddr;
  }
  if (lowest != std::numeric_limits<uintptr_t>::max()) {
    *static_cast<uintptr_t*>(data) = info->dlpi_addr + lowest;
  }
  return 1;  // the first object only
}

HMODULE ExecutableImage() {
  static const HMODULE image = [] {
    uintptr_t start = 0;
    dl_iterate_phdr(FindImageStart, &start);
    return reinterpret_cast<HMODULE>(start);
  }();
  return image;
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR module_name) {
  if (module_name != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return ExecutableImage();
}
