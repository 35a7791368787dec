#include "tools/bstorage/icon_file.h"

#include <cstring>
#include <map>

#include "tools/bstorage/host.h"

namespace bstorage {
namespace {

constexpr uint32_t kVersion = 2;
constexpr uint32_t kStartMarker = 0xCDD29308u;
constexpr uint32_t kEndMarker = 0x4EB4E74Du;
constexpr uint32_t kMaxPayload = 10485760;
constexpr uint32_t kMaxBody = 15728640;
constexpr size_t kHeader = 64;

uint32_t U32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

uint64_t U64(const std::string& b, size_t at) {
  return U32(b, at) | (static_cast<uint64_t>(U32(b, at + 4)) << 32);
}

uint32_t Crc32(const unsigned char* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A length-prefixed UTF-16LE text inside a payload; empty, position unchanged, when it does
// not fit (as the storage reads it).
std::string Text(const std::string& b, size_t* at, size_t end) {
  if (*at + 4 > end) return {};
  const uint32_t bytes = U32(b, *at);
  if (bytes > end - *at - 4) return {};
  std::u16string wide(bytes / 2, u'\0');
  std::memcpy(wide.data(), b.data() + *at + 4, wide.size() * 2);
  *at += 4 + bytes;
  return Narrow(wide);
}

}  // namespace

IconFile ReadIconFile(const std::string& b) {
  IconFile file;
  if (b.size() < kHeader) {
    file.problem = "shorter than its 64-byte header";
    return file;
  }
  const uint32_t crc = Crc32(reinterpret_cast<const unsigned char*>(b.data()), 60);
  if (U32(b, 0) != kVersion) {
    file.problem = "header: version " + std::to_string(U32(b, 0)) + ", not 2";
  } else if (U32(b, 12) != kStartMarker || U32(b, 16) != kEndMarker) {
    file.problem = "header: wrong magic numbers";
  } else if (U32(b, 60) != crc) {
    file.problem = "header: CRC-32 mismatch";
  } else if (U32(b, 4) > kMaxBody) {
    file.problem = "header: body length above 15,728,640";
  } else if (U32(b, 4) > b.size() - kHeader) {
    file.problem = "body shorter than the header's length";
  }
  if (!file.problem.empty()) return file;
  file.readable = true;
  std::map<std::string, size_t> index;
  const size_t end = kHeader + U32(b, 4);
  size_t at = kHeader;
  while (at < end) {
    if (end - at < 8 || U32(b, at) != kStartMarker) {
      file.problem = "record at offset " + std::to_string(at) + ": no start marker";
      break;
    }
    const uint32_t length = U32(b, at + 4);
    if (length == 0 || length > kMaxPayload || length > end - at - 8 || end - at - 8 - length < 4 ||
        U32(b, at + 8 + length) != kEndMarker) {
      file.problem = "record at offset " + std::to_string(at) + ": broken framing";
      break;
    }
    size_t p = at + 8;
    const size_t payload_end = p + length;
    IconRecord record;
    if (p + 4 <= payload_end) {
      const uint32_t data = U32(b, p);
      if (data <= payload_end - p - 4) {
        record.data_length = data;
        p += 4 + data;
      }
    }
    if (p + 8 <= payload_end) {
      record.time = static_cast<int64_t>(U64(b, p));
      p += 8;
    }
    record.first_text = Text(b, &p, payload_end);
    record.key = Text(b, &p, payload_end);
    at = payload_end + 4;
    if (record.key.empty()) continue;
    if (auto it = index.find(record.key); it != index.end()) {
      file.records[it->second] = std::move(record);
    } else {
      index.emplace(record.key, file.records.size());
      file.records.push_back(std::move(record));
    }
  }
  return file;
}

}  // namespace bstorage
