#include "base/crc32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Crc32Test, KnownValues) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},  // the standard check value
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base::Crc32(0, c.text, std::strlen(c.text)), c.crc) << c.text;
  }
}

TEST(Crc32Test, NullBufferIsZeroAndChainingMatchesOneShot) {
  EXPECT_EQ(base::Crc32(0, nullptr, 10), 0u);
  EXPECT_EQ(base::Crc32(0x12345678u, nullptr, 0), 0u);
  const char text[] = "123456789";
  uint32_t part = base::Crc32(0, text, 4);
  EXPECT_EQ(base::Crc32(part, text + 4, 5), 0xCBF43926u);
}

}  // namespace
