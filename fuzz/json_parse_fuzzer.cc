// Reads arbitrary UTF-16 text (each pair of bytes one code unit, so every unit value occurs) as
// JSON and writes back what it read.
//
// Invariants checked (abort on violation): the written form holds no unescaped control unit and
// reads again; from the second writing on, writing what was read is a fixed point (the first
// reading may hold numbers that six significant digits do not keep, and digit runs that wrap).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/json_value.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::u16string ReadAndWrite(const std::u16string& text) {
  std::unique_ptr<base::CJsonValue> value = base::CJsonValue::Parse(text.c_str());
  Check(value != nullptr);
  return value->Serialize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
  std::unique_ptr<base::CJsonValue> value = base::CJsonValue::Parse(text.c_str());
  if (value == nullptr) return 0;

  const std::u16string first = value->Serialize();
  value.reset();
  for (char16_t unit : first) Check(unit >= 0x20);
  const std::u16string second = ReadAndWrite(first);
  const std::u16string third = ReadAndWrite(second);
  Check(third == second);
  return 0;
}
