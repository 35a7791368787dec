// The Netscape bookmark file ("NETSCAPE-Bookmark-file-1"), the HTML form every browser exports
// and imports. Text is UTF-8 here; times are Unix seconds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bstorage {

// One folder or bookmark. A document is a flat list in document order, each entry naming its
// parent by index (-1 at the top level), so neither reading nor writing nor destroying a
// deep tree recurses.
struct HtmlEntry {
  int parent = -1;
  bool folder = false;
  std::string title;
  std::string url;  // bookmarks only
  int64_t add_date = 0;
  int64_t last_modified = 0;  // folders only
};

// The deepest folder nesting the reader builds; deeper folders are attached at this depth.
inline constexpr int kMaxHtmlDepth = 400;

std::string HtmlEscape(std::string_view text);
std::string HtmlUnescape(std::string_view text);

// The whole file for `entries` (parents before their children, as the reader gives them).
std::string WriteBookmarkHtml(const std::vector<HtmlEntry>& entries);

// Reads any text: what is not a folder heading, a bookmark link or a list is skipped. Never
// fails; a file without bookmarks gives an empty list.
std::vector<HtmlEntry> ReadBookmarkHtml(std::string_view html);

}  // namespace bstorage
