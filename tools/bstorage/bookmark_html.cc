#include "tools/bstorage/bookmark_html.h"

#include <algorithm>
#include <utility>

namespace bstorage {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0) code = 0xFFFD;
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// A number character reference's value after "&#", or false when it is not one.
bool ParseCharacterReference(std::string_view body, uint32_t* code) {
  int base = 10;
  if (!body.empty() && (body[0] == 'x' || body[0] == 'X')) {
    base = 16;
    body.remove_prefix(1);
  }
  if (body.empty()) return false;
  uint32_t value = 0;
  for (char c : body) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f') {
      digit = Lower(c) - 'a' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never wraps
  }
  *code = value;
  return true;
}

int64_t ParseTime(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    if (value > (INT64_MAX - 9) / 10) return 0;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

struct Tag {
  std::string name;  // lower case, with a leading '/' for a closing tag
  std::vector<std::pair<std::string, std::string>> attributes;  // names lower case, raw values
};

// Reads the tag starting at html[*pos] == '<' and moves *pos past its '>' (or to the end).
Tag ReadTag(std::string_view html, size_t* pos) {
  Tag tag;
  size_t i = *pos + 1;
  if (i < html.size() && html[i] == '/') {
    tag.name.push_back('/');
    ++i;
  }
  while (i < html.size() && !IsSpace(html[i]) && html[i] != '>' && html[i] != '/') {
    tag.name.push_back(Lower(html[i++]));
  }
  while (i < html.size() && html[i] != '>') {
    if (IsSpace(html[i]) || html[i] == '/') {
      ++i;
      continue;
    }
    std::string name;
    while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>') {
      name.push_back(Lower(html[i++]));
    }
    while (i < html.size() && IsSpace(html[i])) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && IsSpace(html[i])) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const size_t end = std::min(html.find(quote, i), html.size());
        value.assign(html.substr(i, end - i));
        i = end < html.size() ? end + 1 : end;
      } else {
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '>') value.push_back(html[i++]);
      }
    }
    if (!name.empty()) tag.attributes.emplace_back(std::move(name), std::move(value));
  }
  *pos = i < html.size() ? i + 1 : i;
  return tag;
}

const std::string* Attribute(const Tag& tag, std::string_view name) {
  for (const auto& [key, value] : tag.attributes) {
    if (key == name) return &value;
  }
  return nullptr;
}

// The text after a heading or link, up to the next tag.
std::string ReadText(std::string_view html, size_t* pos) {
  const size_t end = std::min(html.find('<', *pos), html.size());
  // Trimmed after decoding, so that a written title reads back as it was.
  const std::string text = HtmlUnescape(html.substr(*pos, end - *pos));
  *pos = end;
  return std::string(Trim(text));
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string HtmlUnescape(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out.push_back(text[i++]);
      continue;
    }
    // Entities are short: a ';' further than 10 characters away ends something else.
    const size_t near = text.substr(i + 1, 10).find(';');
    const size_t semicolon = near == std::string_view::npos ? near : i + 1 + near;
    if (semicolon == std::string_view::npos) {
      out.push_back(text[i++]);
      continue;
    }
    const std::string_view body = text.substr(i + 1, semicolon - i - 1);
    bool decoded = false;
    if (!body.empty() && body[0] == '#') {
      uint32_t code = 0;
      if (ParseCharacterReference(body.substr(1), &code)) {
        AppendUtf8(code, &out);
        decoded = true;
      }
    } else {
      for (const auto& [name, c] : kNamed) {
        if (EqualsIgnoringCase(body, name)) {
          out.push_back(c);
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i = semicolon + 1;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

std::string WriteBookmarkHtml(const std::vector<HtmlEntry>& entries) {
  std::vector<std::vector<int>> children(entries.size());
  std::vector<int> top;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int parent = entries[i].parent;
    if (parent >= 0 && static_cast<size_t>(parent) < i && entries[parent].folder) {
      children[parent].push_back(static_cast<int>(i));
    } else {
      top.push_back(static_cast<int>(i));
    }
  }
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<!-- This is an automatically generated file.\n"
      "     It will be read and overwritten.\n"
      "     DO NOT EDIT! -->\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n"
      "<H1>Bookmarks</H1>\n"
      "<DL><p>\n";
  // Each level: the list being written and the next position in it.
  std::vector<std::pair<const std::vector<int>*, size_t>> stack{{&top, 0}};
  while (!stack.empty()) {
    auto& [list, next] = stack.back();
    const std::string indent(4 * std::min<size_t>(stack.size(), 16), ' ');
    if (next == list->size()) {
      stack.pop_back();
      out += std::string(4 * std::min<size_t>(stack.size(), 16), ' ') + "</DL><p>\n";
      continue;
    }
    const int index = (*list)[next++];
    const HtmlEntry& entry = entries[index];
    if (entry.folder) {
      out += indent + "<DT><H3 ADD_DATE=\"" + std::to_string(entry.add_date) +
             "\" LAST_MODIFIED=\"" + std::to_string(entry.last_modified) + "\">" +
             HtmlEscape(entry.title) + "</H3>\n" + indent + "<DL><p>\n";
      stack.emplace_back(&children[index], 0);
    } else {
      out += indent + "<DT><A HREF=\"" + HtmlEscape(entry.url) + "\" ADD_DATE=\"" +
             std::to_string(entry.add_date) + "\">" + HtmlEscape(entry.title) + "</A>\n";
    }
  }
  return out;
}

std::vector<HtmlEntry> ReadBookmarkHtml(std::string_view html) {
  std::vector<HtmlEntry> entries;
  // The open lists: the folder each belongs to (-1: the top level). The first <DL> of the
  // file opens the top level itself.
  std::vector<int> open;
  int heading = -1;  // a folder heading waiting for its list
  size_t pos = 0;
  while (pos < html.size()) {
    const size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos) break;
    pos = lt;
    if (html.substr(pos, 4) == "<!--") {
      const size_t end = html.find("-->", pos + 4);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const Tag tag = ReadTag(html, &pos);
    const int parent = open.empty() ? -1 : open.back();
    if (tag.name == "dl") {
      if (open.empty()) {
        open.push_back(-1);
      } else if (heading >= 0 && static_cast<int>(open.size()) <= kMaxHtmlDepth) {
        open.push_back(heading);
      } else {
        open.push_back(parent);  // a list without heading, or too deep: same folder
      }
      heading = -1;
    } else if (tag.name == "/dl") {
      if (!open.empty()) open.pop_back();
      heading = -1;
    } else if (tag.name == "h3" || tag.name == "a") {
      HtmlEntry entry;
      entry.parent = parent;
      entry.folder = tag.name == "h3";
      if (const std::string* v = Attribute(tag, "add_date")) entry.add_date = ParseTime(*v);
      if (entry.folder) {
        if (const std::string* v = Attribute(tag, "last_modified")) {
          entry.last_modified = ParseTime(*v);
        }
      } else {
        const std::string* href = Attribute(tag, "href");
        if (href == nullptr) continue;  // an anchor, not a bookmark
        entry.url = HtmlUnescape(*href);
      }
      entry.title = ReadText(html, &pos);
      heading = entry.folder ? static_cast<int>(entries.size()) : -1;
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

}  // namespace bstorage
