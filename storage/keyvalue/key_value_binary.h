// The start-up data file "startupdata", as bytes, without files or caches: walk its records and
// produce it from a list of records. Every integer is an unsigned 32-bit little-endian number,
// written and read byte by byte.
//
//   N (4 bytes): the number of bytes that follow, the records back to back
//   record: K (4), the key as K bytes of UTF-16LE without a terminator,
//           V (4), the value's V bytes
//
// No magic number, version, checksum or padding; N = 0 is a valid empty storage. The writer
// writes values of 1 to kMaxWrittenBinaryValueLength bytes, the reader accepts up to
// kMaxReadBinaryValueLength.
//
// The reader trusts no length: each is checked against the bytes that are left, in 64-bit
// arithmetic, before anything is read or allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace Storage {

inline constexpr size_t kKeyValueBinaryHeaderSize = 4;
inline constexpr uint32_t kMaxWrittenBinaryValueLength = 10485759;  // 0x9FFFFF
inline constexpr uint32_t kMaxReadBinaryValueLength = 10485760;     // 0xA00000

// One record. The views point into the buffer being parsed (or the objects being written) and
// are valid only during the call that hands them over.
struct KeyValueBinaryRecord {
  std::u16string_view key;
  std::span<const uint8_t> value;
};

// N as the first four bytes of `file` state it; 0 when there are fewer than four.
uint32_t KeyValueBinaryBodyLength(std::span<const uint8_t> file);

// Walks a whole file: the header, then the N bytes it counts, handing each record to
// `on_record` in file order. False at the first damage: fewer than four bytes, N larger than
// the bytes after the header, a key or value running past N, a value of 0 bytes or of more
// than kMaxReadBinaryValueLength, or `on_record` answering false (the record could not be
// kept). The records before the damage have been handed over, the damaged one has not. Bytes
// after the N counted are not read. A key of an odd length K is its K / 2 code units (the odd
// byte is skipped).
bool ParseKeyValueBinaryFile(std::span<const uint8_t> file,
                             const std::function<bool(const KeyValueBinaryRecord&)>& on_record);

// The whole file for `records`, in the order given. A record with an empty key, or a value of
// 0 bytes or of more than kMaxWrittenBinaryValueLength, is left out, and so is one that would
// take N past 4 GiB - 1; *left_out (when given) counts them. Throws std::bad_alloc.
std::string ProduceKeyValueBinaryFile(std::span<const KeyValueBinaryRecord> records,
                                      size_t* left_out = nullptr);

}  // namespace Storage
