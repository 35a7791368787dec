#include "storage/keyvalue/key_value_binary.h"

#include <limits>

namespace Storage {
namespace {

uint32_t ReadU32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

void AppendU32(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

uint64_t RecordSize(const KeyValueBinaryRecord& record) {
  return 8 + 2 * uint64_t{record.key.size()} + uint64_t{record.value.size()};
}

bool Writable(const KeyValueBinaryRecord& record) {
  return !record.key.empty() && !record.value.empty() &&
         record.value.size() <= kMaxWrittenBinaryValueLength;
}

}  // namespace

uint32_t KeyValueBinaryBodyLength(std::span<const uint8_t> file) {
  return file.size() < kKeyValueBinaryHeaderSize ? 0 : ReadU32(file.data());
}

bool ParseKeyValueBinaryFile(std::span<const uint8_t> file,
                             const std::function<bool(const KeyValueBinaryRecord&)>& on_record) {
  if (file.size() < kKeyValueBinaryHeaderSize) return false;
  const uint64_t body_length = ReadU32(file.data());
  if (body_length > uint64_t{file.size()} - kKeyValueBinaryHeaderSize) return false;
  std::span<const uint8_t> rest = file.subspan(kKeyValueBinaryHeaderSize, body_length);

  std::u16string key;
  while (!rest.empty()) {
    if (rest.size() < 4) return false;
    const uint64_t key_length = ReadU32(rest.data());
    rest = rest.subspan(4);
    if (key_length > rest.size()) return false;
    key.resize(key_length / 2);
    for (size_t i = 0; i < key.size(); ++i) {
      key[i] = static_cast<char16_t>(rest[2 * i] | rest[2 * i + 1] << 8);
    }
    rest = rest.subspan(key_length);

    if (rest.size() < 4) return false;
    const uint64_t value_length = ReadU32(rest.data());
    rest = rest.subspan(4);
    if (value_length == 0 || value_length > kMaxReadBinaryValueLength ||
        value_length > rest.size()) {
      return false;
    }
    if (!on_record({key, rest.first(value_length)})) return false;
    rest = rest.subspan(value_length);
  }
  return true;
}

std::string ProduceKeyValueBinaryFile(std::span<const KeyValueBinaryRecord> records,
                                      size_t* left_out) {
  constexpr uint64_t kMaxBody = std::numeric_limits<uint32_t>::max();
  uint64_t body_length = 0;
  size_t refused = 0;
  for (const KeyValueBinaryRecord& record : records) {
    if (!Writable(record) || body_length + RecordSize(record) > kMaxBody) {
      ++refused;
      continue;
    }
    body_length += RecordSize(record);
  }
  if (left_out != nullptr) *left_out = refused;

  // Sized once: a file of large values is not copied as it grows.
  std::string file;
  file.reserve(kKeyValueBinaryHeaderSize + body_length);
  AppendU32(&file, static_cast<uint32_t>(body_length));
  uint64_t written = 0;
  for (const KeyValueBinaryRecord& record : records) {
    // The same decision as above, record by record.
    if (!Writable(record) || written + RecordSize(record) > kMaxBody) continue;
    written += RecordSize(record);
    AppendU32(&file, static_cast<uint32_t>(2 * record.key.size()));
    const size_t key_at = file.size();
    file.resize(key_at + 2 * record.key.size());
    for (size_t i = 0; i < record.key.size(); ++i) {
      file[key_at + 2 * i] = static_cast<char>(record.key[i] & 0xFF);
      file[key_at + 2 * i + 1] = static_cast<char>(record.key[i] >> 8);
    }
    AppendU32(&file, static_cast<uint32_t>(record.value.size()));
    file.append(reinterpret_cast<const char*>(record.value.data()), record.value.size());
  }
  return file;
}

}  // namespace Storage
