// Feeds arbitrary bytes to the icon file reader, as the file "favoricon_v2" would reach it: the
// first 64 bytes as the header, then the body the header counts (or what there is of it).
//
// Invariants checked (abort on violation): reading never crashes, over-reads or leaks; every
// record's data lies inside the body; a header encoded from any decoded one is valid and
// decodes to the same fields; the records read, written again, read back whole and equal.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "storage/icon/icon_file_format.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Fields {
  std::vector<uint8_t> data;
  int64_t time;
  std::u16string first;
  std::u16string second;
  bool operator==(const Fields&) const = default;
};

std::vector<Fields> Read(std::span<const uint8_t> body, bool* whole) {
  std::vector<Fields> records;
  *whole = Storage::ParseIconFileBody(body, [&](const Storage::IconRecord& record) {
    Check(record.data.empty() ||
          (record.data.data() >= body.data() &&
           record.data.data() + record.data.size() <= body.data() + body.size()));
    records.push_back({std::vector<uint8_t>(record.data.begin(), record.data.end()), record.time,
                       record.first_text, record.second_text});
  });
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Storage::kIconFileHeaderSize;
  std::span<const uint8_t> body;
  if (size >= kIconFileHeaderSize) {
    Storage::IconFileHeader header = Storage::IconFileHeader::Decode(data);
    Storage::IconFileHeader::IsValid(data);
    uint8_t encoded[kIconFileHeaderSize];
    header.Encode(encoded);
    Check(Storage::IconFileHeader::IsValid(encoded) || header.version != 2 ||
          header.magic1 != Storage::kIconFileMagic1 || header.magic2 != Storage::kIconFileMagic2);
    Storage::IconFileHeader again = Storage::IconFileHeader::Decode(encoded);
    Check(again.version == header.version && again.body_length == header.body_length &&
          again.record_count == header.record_count && again.time == header.time);
    const size_t rest = size - kIconFileHeaderSize;
    body = std::span<const uint8_t>(data + kIconFileHeaderSize,
                                    header.body_length < rest ? header.body_length : rest);
  }

  bool whole = false;
  const std::vector<Fields> records = Read(body, &whole);

  // Written again, the records read back whole and equal. A payload whose fields did not fit
  // grows by the length fields it lacked, and may then be too large to write.
  std::vector<uint8_t> rewritten;
  std::vector<Fields> written;
  for (const Fields& fields : records) {
    Storage::IconRecord record;
    record.data = fields.data;
    record.time = fields.time;
    record.first_text = fields.first;
    record.second_text = fields.second;
    const bool fits = Storage::IconPayloadLength(record) <= Storage::kMaxIconPayloadLength;
    Check(Storage::AppendIconRecord(record, &rewritten) == fits);
    if (fits) written.push_back(fields);
  }
  bool rewritten_whole = false;
  Check(Read(rewritten, &rewritten_whole) == written);
  Check(rewritten_whole);
  return 0;
}
