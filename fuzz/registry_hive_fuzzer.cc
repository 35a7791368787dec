// Feeds arbitrary bytes to the registry hive reader, as the file
// "orvex/browser/registry/HKEY_CLASSES_ROOT.hive" would reach it.
//
// Invariants checked (abort on violation): reading never crashes, over-reads, recurses or
// leaks; a refused file leaves the hive untouched and says why; an accepted hive, written
// again, reads back equal, and that second writing is the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "browserplatform/types.h"
#include "platform/registry_hive.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  platform::RegistryHive hive;
  bool created = false;
  hive.Create(u"untouched", &created);
  const platform::RegistryHive before = hive;
  std::string why;
  if (platform::ParseRegistryHive(file, &hive, &why) != ERROR_SUCCESS) {
    Check(hive == before);
    Check(!why.empty());
    return 0;
  }
  const std::string written = platform::SerializeRegistryHive(hive);
  platform::RegistryHive again;
  Check(platform::ParseRegistryHive(written, &again, nullptr) == ERROR_SUCCESS);
  Check(again == hive);
  Check(platform::SerializeRegistryHive(again) == written);
  return 0;
}
