#include "storage/icon/icon_file_format.h"

#include "base/crc32.h"

namespace Storage {
namespace {

constexpr size_t kCrcOffset = 60;

void PutU32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutU64(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* in) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

uint64_t GetU64(const uint8_t* in) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  PutU32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

void AppendU64(std::vector<uint8_t>* out, uint64_t value) {
  uint8_t bytes[8];
  PutU64(bytes, value);
  out->insert(out->end(), bytes, bytes + 8);
}

void AppendText(std::vector<uint8_t>* out, const std::u16string& text) {
  AppendU32(out, static_cast<uint32_t>(text.size() * 2));
  for (char16_t unit : text) {
    out->push_back(static_cast<uint8_t>(unit));
    out->push_back(static_cast<uint8_t>(unit >> 8));
  }
}

// Reads forward through a span; every read checks what is left first.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - position_; }

  bool ReadU32(uint32_t* value) {
    if (remaining() < 4) return false;
    *value = GetU32(bytes_.data() + position_);
    position_ += 4;
    return true;
  }
  bool ReadU64(uint64_t* value) {
    if (remaining() < 8) return false;
    *value = GetU64(bytes_.data() + position_);
    position_ += 8;
    return true;
  }
  // The next `length` bytes; false (position unchanged) when fewer are left.
  bool Take(uint64_t length, std::span<const uint8_t>* out) {
    if (length > remaining()) return false;
    *out = bytes_.subspan(position_, static_cast<size_t>(length));
    position_ += static_cast<size_t>(length);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

// A text field: byte length, then UTF-16LE units. A length that does not fit leaves the text
// empty and the position after the length field. An odd length's last byte is no unit.
void ReadText(ByteReader& reader, std::u16string* text) {
  uint32_t length = 0;
  if (!reader.ReadU32(&length)) return;
  std::span<const uint8_t> bytes;
  if (!reader.Take(length, &bytes)) return;
  text->resize(bytes.size() / 2);
  for (size_t i = 0; i < text->size(); ++i) {
    (*text)[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
}

void ReadPayload(std::span<const uint8_t> payload, IconRecord* record) {
  ByteReader reader(payload);
  uint32_t data_length = 0;
  if (reader.ReadU32(&data_length)) {
    // Negative (as the signed field it is) or past the payload: no data.
    if (static_cast<int32_t>(data_length) >= 0) reader.Take(data_length, &record->data);
  }
  uint64_t time = 0;
  if (reader.ReadU64(&time)) record->time = static_cast<int64_t>(time);
  ReadText(reader, &record->first_text);
  ReadText(reader, &record->second_text);
}

}  // namespace

void IconFileHeader::Encode(uint8_t out[kIconFileHeaderSize]) const {
  for (size_t i = 0; i < kIconFileHeaderSize; ++i) out[i] = 0;
  PutU32(out + 0, version);
  PutU32(out + 4, body_length);
  PutU32(out + 8, record_count);
  PutU32(out + 12, magic1);
  PutU32(out + 16, magic2);
  PutU64(out + 20, static_cast<uint64_t>(time));
  PutU32(out + kCrcOffset, base::Crc32(0, out, kCrcOffset));
}

IconFileHeader IconFileHeader::Decode(const uint8_t in[kIconFileHeaderSize]) {
  IconFileHeader header;
  header.version = GetU32(in + 0);
  header.body_length = GetU32(in + 4);
  header.record_count = GetU32(in + 8);
  header.magic1 = GetU32(in + 12);
  header.magic2 = GetU32(in + 16);
  header.time = static_cast<int64_t>(GetU64(in + 20));
  header.crc = GetU32(in + kCrcOffset);
  return header;
}

bool IconFileHeader::IsValid(const uint8_t in[kIconFileHeaderSize]) {
  const IconFileHeader header = Decode(in);
  return header.version == kIconFileVersion && header.magic1 == kIconFileMagic1 &&
         header.magic2 == kIconFileMagic2 && header.crc == base::Crc32(0, in, kCrcOffset);
}

uint64_t IconPayloadLength(const IconRecord& record) {
  return 4 + uint64_t{record.data.size()} + 8 + 4 + 2 * uint64_t{record.first_text.size()} + 4 +
         2 * uint64_t{record.second_text.size()};
}

bool AppendIconRecord(const IconRecord& record, std::vector<uint8_t>* out) {
  const uint64_t payload = IconPayloadLength(record);
  if (payload > kMaxIconPayloadLength) return false;
  AppendU32(out, kIconFileMagic1);
  AppendU32(out, static_cast<uint32_t>(payload));
  AppendU32(out, static_cast<uint32_t>(record.data.size()));
  out->insert(out->end(), record.data.begin(), record.data.end());
  AppendU64(out, static_cast<uint64_t>(record.time));
  AppendText(out, record.first_text);
  AppendText(out, record.second_text);
  AppendU32(out, kIconFileMagic2);
  return true;
}

bool ParseIconFileBody(std::span<const uint8_t> body,
                       const std::function<void(const IconRecord&)>& on_record) {
  ByteReader reader(body);
  while (reader.remaining() > 0) {
    uint32_t marker = 0;
    uint32_t payload_length = 0;
    if (!reader.ReadU32(&marker) || marker != kIconFileMagic1) return false;
    if (!reader.ReadU32(&payload_length)) return false;
    if (payload_length == 0 || payload_length > kMaxIconPayloadLength) return false;
    std::span<const uint8_t> payload;
    if (!reader.Take(payload_length, &payload)) return false;
    // A record is used only whole: a wrong end marker means its length was not the writer's,
    // and its fields could replace a good icon with a shifted piece of another.
    if (!reader.ReadU32(&marker) || marker != kIconFileMagic2) return false;
    IconRecord record;
    ReadPayload(payload, &record);
    on_record(record);
  }
  return true;
}

}  // namespace Storage
