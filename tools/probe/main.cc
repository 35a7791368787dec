// Loads the platform library and prints what it finds on this machine: where it was loaded
// from, the application-data root, the collation locale and the clocks.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "browserplatform/clock.h"
#include "browserplatform/collation.h"
#include "browserplatform/shell.h"
#include "browserplatform/stringapiset.h"

namespace {

std::string Narrow(const char16_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace

int main() {
  Dl_info info{};
  const char* library = "(unknown)";
  if (dladdr(reinterpret_cast<void*>(&GetTickCount), &info) != 0 && info.dli_fname) {
    library = info.dli_fname;
  }
  std::printf("platform library:      %s\n", library);

  char16_t path[MAX_PATH];
  HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
  if (SUCCEEDED(hr)) {
    std::printf("application data root: %s/orvex/browser/\n", Narrow(path).c_str());
  } else {
    std::printf("application data root: unavailable (hr=0x%08X)\n", static_cast<unsigned>(hr));
  }
  if (GetModuleFileNameW(nullptr, path, MAX_PATH) > 0) {
    std::printf("executable:            %s\n", Narrow(path).c_str());
  }

  std::string locale = platform::CollationLocale();
  std::printf("collation locale:      %s\n", locale.empty() ? "(root)" : locale.c_str());

  LARGE_INTEGER frequency{}, counter{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  std::printf("tick count:            %u ms\n", GetTickCount());
  std::printf("performance counter:   %lld at %lld Hz\n", static_cast<long long>(counter.QuadPart),
              static_cast<long long>(frequency.QuadPart));
  std::printf("system time:           %llu (100 ns since 1601)\n",
              (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  std::printf("unix time:             %lld s\n", static_cast<long long>(_time64(nullptr)));
  return 0;
}
