// The icon file "favoricon_v2": a 64-byte header, then the body, a run of framed records, then
// zeros up to the file's pre-allocated length. Every integer is little-endian and is written
// and read byte by byte, never by copying a struct.
//
// Header (IconFileHeader):
//   0  u32 version, 2          4  u32 body length (header excluded)   8  u32 record count
//   12 u32 0xCDD29308          16 u32 0x4EB4E74D                       20 i64 write time (s, 1970)
//   28 32 zero bytes           60 u32 CRC-32 of bytes 0..59
// Framed record (IconRecord): u32 0xCDD29308, u32 payload length L, L payload bytes,
// u32 0x4EB4E74D. Payload: i32 data length D and D bytes, i64 time, u32 byte length and the
// UTF-16LE units of the first text, the same for the second text (the icon's key on import).
//
// The reader trusts no length: every field is checked against the bytes that are left before
// it is read, in 64-bit arithmetic, so a hostile length can neither overflow nor over-read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace Storage {

inline constexpr uint32_t kIconFileVersion = 2;
inline constexpr uint32_t kIconFileMagic1 = 0xCDD29308;  // also every record's start marker
inline constexpr uint32_t kIconFileMagic2 = 0x4EB4E74D;  // also every record's end marker
inline constexpr size_t kIconFileHeaderSize = 64;
// The largest body an import reads, and the payload lengths a record may declare.
inline constexpr uint32_t kMaxIconBodyLength = 15728640;     // 0xF00000
inline constexpr uint32_t kMaxIconPayloadLength = 10485760;  // 0xA00000
// Marker, length and end marker around each payload.
inline constexpr size_t kIconRecordFraming = 12;

struct IconFileHeader {
  uint32_t version = kIconFileVersion;
  uint32_t body_length = 0;
  uint32_t record_count = 0;
  uint32_t magic1 = kIconFileMagic1;
  uint32_t magic2 = kIconFileMagic2;
  int64_t time = 0;  // seconds since 1970-01-01 UTC
  uint32_t crc = 0;  // as read; Encode computes its own

  // The 64 bytes of this header, reserved bytes zero, CRC-32 of bytes 0..59 at 60.
  void Encode(uint8_t out[kIconFileHeaderSize]) const;
  // The fields of `in` as they stand (no check).
  static IconFileHeader Decode(const uint8_t in[kIconFileHeaderSize]);
  // Version 2, both magics, and a CRC that matches bytes 0..59 of `in`.
  static bool IsValid(const uint8_t in[kIconFileHeaderSize]);
};

// One icon as it travels through the file. `data` points into the buffer being parsed (or the
// icon object being written) and is valid only during the call that hands it over.
struct IconRecord {
  std::span<const uint8_t> data;
  int64_t time = 0;
  std::u16string first_text;
  std::u16string second_text;
};

// The payload length of `record`'s framed form.
uint64_t IconPayloadLength(const IconRecord& record);
// Appends `record` framed to `out`. False (nothing appended) when its payload would exceed
// kMaxIconPayloadLength: an import would reject it and every record after it.
bool AppendIconRecord(const IconRecord& record, std::vector<uint8_t>* out);

// Walks a body and hands each framed record to `on_record`, in file order. Returns false at
// the first damage (a missing or wrong marker, a
// payload length of 0, above kMaxIconPayloadLength or past the end); the whole records before
// it have been handed over, the damaged one is not. Inside a payload, a field that does not fit in
// what is left of it is left at its default and the next field is read from the same place.
bool ParseIconFileBody(std::span<const uint8_t> body,
                       const std::function<void(const IconRecord&)>& on_record);

}  // namespace Storage
