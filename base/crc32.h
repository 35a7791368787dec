// CRC-32 of IEEE 802.3 and zlib (reflected, polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

// Continues a CRC over `length` bytes: pass 0 to start, or a previous result to go on.
// A null buffer gives 0.
uint32_t Crc32(uint32_t initial, const void* buffer, size_t length);

}  // namespace base
