// Reads arbitrary bytes as a Netscape bookmark HTML file.
//
// Invariants checked (abort on violation): every entry's parent is an earlier folder or the top
// level; writing what was read and reading it again gives the same entries.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/bstorage/bookmark_html.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const bstorage::HtmlEntry& a, const bstorage::HtmlEntry& b) {
  return a.parent == b.parent && a.folder == b.folder && a.title == b.title && a.url == b.url &&
         a.add_date == b.add_date && a.last_modified == b.last_modified;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const auto entries = bstorage::ReadBookmarkHtml(html);
  for (size_t i = 0; i < entries.size(); ++i) {
    const int parent = entries[i].parent;
    Check(parent == -1 || (parent >= 0 && static_cast<size_t>(parent) < i &&
                           entries[static_cast<size_t>(parent)].folder));
  }
  const auto again = bstorage::ReadBookmarkHtml(bstorage::WriteBookmarkHtml(entries));
  Check(again.size() == entries.size());
  for (size_t i = 0; i < entries.size(); ++i) Check(Same(entries[i], again[i]));
  return 0;
}
