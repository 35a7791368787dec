// A read-only reader of the icon binary file (favoricon_v2), for listing icons: the icon
// storage answers by key only and cannot enumerate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bstorage {

struct IconRecord {
  std::string key;  // the second text
  std::string first_text;
  int64_t time = 0;
  uint32_t data_length = 0;
};

struct IconFile {
  bool readable = false;
  std::string problem;              // empty when the whole file reads
  std::vector<IconRecord> records;  // later records replace earlier ones with the same key
};

IconFile ReadIconFile(const std::string& bytes);

}  // namespace bstorage
