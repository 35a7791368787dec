#include "base/crc32.h"

#include <array>

namespace base {
namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32(uint32_t initial, const void* buffer, size_t length) {
  if (buffer == nullptr) return 0;
  const auto* p = static_cast<const unsigned char*>(buffer);
  uint32_t c = ~initial;
  for (size_t i = 0; i < length; ++i) c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

}  // namespace base
