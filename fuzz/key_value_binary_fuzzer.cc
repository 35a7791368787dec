// Feeds arbitrary bytes to the start-up data file reader, as the file "startupdata" would reach
// it: the four bytes of N, then the records.
//
// Invariants checked (abort on violation): reading never crashes, over-reads or leaks; every
// value lies inside the bytes N counts and within the read limit; the records read, written
// again, read back whole and equal to those the writer keeps (non-empty keys, values of at most
// the written limit), and writing those again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "storage/keyvalue/key_value_binary.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

using Records = std::vector<std::pair<std::u16string, std::vector<uint8_t>>>;

Records Read(std::span<const uint8_t> file, bool* whole) {
  Records records;
  const uint8_t* body_end = file.data() + file.size();
  *whole = Storage::ParseKeyValueBinaryFile(file, [&](const Storage::KeyValueBinaryRecord& r) {
    Check(!r.value.empty() && r.value.size() <= Storage::kMaxReadBinaryValueLength);
    Check(r.value.data() >= file.data() + Storage::kKeyValueBinaryHeaderSize &&
          r.value.data() + r.value.size() <= body_end);
    records.emplace_back(std::u16string(r.key),
                         std::vector<uint8_t>(r.value.begin(), r.value.end()));
    return true;
  });
  return records;
}

std::string Write(const Records& records) {
  std::vector<Storage::KeyValueBinaryRecord> views;
  for (const auto& [key, value] : records) views.push_back({key, value});
  return Storage::ProduceKeyValueBinaryFile(views);
}

std::span<const uint8_t> Span(const std::string& bytes) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool whole = false;
  const Records records = Read(std::span<const uint8_t>(data, size), &whole);

  Records kept;
  for (const auto& record : records) {
    if (!record.first.empty() && record.second.size() <= Storage::kMaxWrittenBinaryValueLength) {
      kept.push_back(record);
    }
  }
  const std::string written = Write(records);
  Check(Storage::KeyValueBinaryBodyLength(Span(written)) + Storage::kKeyValueBinaryHeaderSize ==
        written.size());
  bool rewritten_whole = false;
  Check(Read(Span(written), &rewritten_whole) == kept);
  Check(rewritten_whole);
  Check(Write(kept) == written);
  return 0;
}
