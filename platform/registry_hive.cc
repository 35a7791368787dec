#include "platform/registry_hive.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>
#include <utility>

#include "browserplatform/winreg.h"
#include "platform/utf.h"

namespace platform {
namespace {

constexpr char16_t kSeparator = u'\\';
constexpr std::string_view kEndLine = "end";

char16_t FoldChar(char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; }

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldChar(x) == FoldChar(y); });
}

bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F; }

// Where the subkeys of the key with folded path `folded` start in the flat map.
std::u16string ChildPrefix(const std::u16string& folded) {
  return folded.empty() ? std::u16string() : folded + kSeparator;
}

// The range of keys strictly below the key with folded path `folded`.
template <class Map>
auto BelowRange(Map& keys, const std::u16string& folded) {
  const std::u16string prefix = ChildPrefix(folded);
  auto first = keys.lower_bound(prefix);
  if (folded.empty() && first != keys.end() && first->first.empty()) ++first;  // the root itself
  auto last = first;
  while (last != keys.end() && last->first.starts_with(prefix)) ++last;
  return std::make_pair(first, last);
}

// ---- file form ---------------------------------------------------------------------------

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(std::string_view utf8, std::string* out) {
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(c);
    } else if (byte < 0x20 || byte == 0x7F) {
      out->append("\\x");
      out->push_back(kHexDigits[byte >> 4]);
      out->push_back(kHexDigits[byte & 0xF]);
    } else {
      out->push_back(c);
    }
  }
}

// A REG_SZ that is well-formed text with exactly one NUL, at its end: written as text.
bool IsPlainText(const RegistryValue& value, std::u16string* text) {
  const std::vector<uint8_t>& data = value.data;
  if (value.type != REG_SZ || data.size() < 2 || data.size() % 2 != 0) return false;
  std::u16string units(data.size() / 2 - 1, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (units[i] == u'\0') return false;
  }
  if (data[data.size() - 2] != 0 || data.back() != 0 || !IsWellFormedUtf16(units)) return false;
  *text = std::move(units);
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses one hive file; every check fails with a message, never past the input's end.
class HiveParser {
 public:
  explicit HiveParser(std::string_view file) : file_(file) {}

  bool Parse(RegistryHive* hive) {
    if (file_.size() > kMaxRegistryHiveSize) return Fail("larger than 16 MiB");
    if (!IsWellFormedUtf8(file_)) return Fail("not well-formed UTF-8");
    for (char c : file_) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\n') || byte == 0x7F) return Fail("a control character");
    }
    if (file_.empty() || file_.back() != '\n') return Fail("cut short: no end line");

    std::string_view rest = file_;
    std::string_view line = NextLine(&rest);
    if (line != kRegistryHiveMagic) {
      return Fail(line.starts_with("orvex-registry-hive ") ? "unsupported hive version"
                                                           : "not a registry hive");
    }
    line = NextLine(&rest);
    if (line != "[]") return Fail("the root key \"[]\" must come first");
    RegistryKey* current = hive->Find(u"");
    for (;;) {
      if (rest.empty()) return Fail("cut short: no end line");
      line = NextLine(&rest);
      if (line == kEndLine) break;
      if (line.starts_with('[')) {
        current = ParseKeyLine(line, hive);
      } else if (line.starts_with('"')) {
        if (!ParseValueLine(line, current)) current = nullptr;
      } else {
        return Fail("neither a key nor a value");
      }
      if (!current) return false;
    }
    if (!rest.empty()) return Fail("text after the end line");
    return true;
  }

  const std::string& why() const { return why_; }

 private:
  std::string_view NextLine(std::string_view* rest) {
    ++line_number_;
    const size_t end = rest->find('\n');  // every line ends in one: checked up front
    std::string_view line = rest->substr(0, end);
    rest->remove_prefix(end + 1);
    return line;
  }

  bool Fail(std::string_view message) {
    why_ = line_number_ == 0 ? std::string(message)
                             : "line " + std::to_string(line_number_) + ": " + std::string(message);
    return false;
  }

  // "[A\B\C]": a key whose parent came before it and which did not.
  RegistryKey* ParseKeyLine(std::string_view line, RegistryHive* hive) {
    if (line.size() < 2 || line.back() != ']') {
      Fail("a key line must end in ']'");
      return nullptr;
    }
    std::string_view path = line.substr(1, line.size() - 2);
    if (path.empty()) {
      Fail("the root key twice");
      return nullptr;
    }
    std::u16string parent_path;
    std::u16string name;
    size_t depth = 0;
    for (;;) {
      const size_t end = path.find('\\');
      name = Utf8ToUtf16(path.substr(0, end));
      if (!IsValidRegistryKeyName(name)) {
        Fail("a key name that is empty, too long or holds a control character");
        return nullptr;
      }
      if (++depth > kMaxRegistryKeyDepth) {
        Fail("a key more than 512 levels deep");
        return nullptr;
      }
      if (end == std::string_view::npos) break;
      if (!parent_path.empty()) parent_path += kSeparator;
      parent_path += name;
      path.remove_prefix(end + 1);
    }
    const RegistryKey* parent = hive->Find(parent_path);
    if (!parent) {
      Fail("a key whose parent was not listed before it");
      return nullptr;
    }
    RegistryKey* key = hive->AddSubkey(*parent, name);
    if (!key) {
      Fail("a key listed twice");
      return nullptr;
    }
    names_.clear();
    return key;
  }

  // "NAME"=sz:"TEXT" or "NAME"=hex(TYPE):HEX.
  bool ParseValueLine(std::string_view line, RegistryKey* key) {
    size_t pos = 0;
    std::string name_utf8;
    if (!ParseQuoted(line, &pos, &name_utf8)) return false;
    std::u16string name = Utf8ToUtf16(name_utf8);
    if (!IsValidRegistryValueName(name)) return Fail("a value name that is too long");
    if (!names_.insert(FoldRegistryName(name)).second) return Fail("a value listed twice");
    std::string_view data_text = line.substr(pos);
    RegistryValue value{std::move(name), REG_SZ, {}};
    if (data_text.starts_with("=sz:")) {
      pos += 4;
      std::string text_utf8;
      if (!ParseQuoted(line, &pos, &text_utf8)) return false;
      if (pos != line.size()) return Fail("text after the value");
      std::u16string text = Utf8ToUtf16(text_utf8);
      if ((text.size() + 1) * 2 > kMaxRegistryValueSize) return Fail("a value larger than 1 MiB");
      value.data.reserve((text.size() + 1) * 2);
      for (char16_t unit : text) {
        value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
        value.data.push_back(static_cast<uint8_t>(unit >> 8));
      }
      value.data.push_back(0);
      value.data.push_back(0);
    } else if (data_text.starts_with("=hex(")) {
      data_text.remove_prefix(5);
      const size_t close = data_text.find("):");
      if (close == std::string_view::npos) return Fail("a value type without \"):\"");
      std::string_view type = data_text.substr(0, close);
      const char* type_end = type.data() + type.size();
      auto [end, error] = std::from_chars(type.data(), type_end, value.type);
      if (type.empty() || error != std::errc() || end != type_end ||
          (type.size() > 1 && type[0] == '0')) {
        return Fail("a value type that is not a 32-bit decimal number");
      }
      std::string_view hex = data_text.substr(close + 2);
      if (hex.size() % 2 != 0) return Fail("an odd number of hexadecimal digits");
      if (hex.size() / 2 > kMaxRegistryValueSize) return Fail("a value larger than 1 MiB");
      value.data.reserve(hex.size() / 2);
      for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) return Fail("a value with a character that is not hexadecimal");
        value.data.push_back(static_cast<uint8_t>(high << 4 | low));
      }
    } else {
      return Fail("a value line needs =sz:\"...\" or =hex(TYPE):...");
    }
    key->values.push_back(std::move(value));
    return true;
  }

  // A double-quoted string from line[*pos]; escapes \\, \" and \xHH (01-1F, 7F).
  bool ParseQuoted(std::string_view line, size_t* pos, std::string* out) {
    if (*pos >= line.size() || line[*pos] != '"') return Fail("a string must start with '\"'");
    for (size_t i = *pos + 1; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        *pos = i + 1;
        return true;
      }
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (i + 1 >= line.size()) break;
      const char kind = line[++i];
      if (kind == '\\' || kind == '"') {
        out->push_back(kind);
        continue;
      }
      if (kind != 'x' || i + 2 >= line.size()) return Fail("a bad escape");
      const int high = HexValue(line[i + 1]);
      const int low = HexValue(line[i + 2]);
      const int code = high << 4 | low;
      if (high < 0 || low < 0 || code == 0 || (code >= 0x20 && code != 0x7F)) {
        return Fail("a bad escape");
      }
      out->push_back(static_cast<char>(code));
      i += 2;
    }
    return Fail("a string without its closing '\"'");
  }

  std::string_view file_;
  size_t line_number_ = 0;
  std::string why_;
  // The folded names of the current key's values, to refuse one listed twice.
  std::unordered_set<std::u16string> names_;
};

}  // namespace

std::u16string FoldRegistryName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = FoldChar(c);
  return folded;
}

bool IsValidRegistryKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxRegistryKeyNameLength) return false;
  for (char16_t c : name) {
    if (IsControl(c) || c == kSeparator) return false;
  }
  return IsWellFormedUtf16(name);
}

bool IsValidRegistryValueName(std::u16string_view name) {
  return name.size() <= kMaxRegistryValueNameLength &&
         name.find(u'\0') == std::u16string_view::npos && IsWellFormedUtf16(name);
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view name) const {
  for (const RegistryValue& value : values) {
    if (NamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

bool RegistryKey::SetValue(std::u16string_view name, DWORD type, std::vector<uint8_t> data) {
  for (RegistryValue& value : values) {
    if (!NamesEqual(value.name, name)) continue;
    if (value.type == type && value.data == data) return false;
    value.type = type;
    value.data = std::move(data);
    return true;
  }
  values.push_back({std::u16string(name), type, std::move(data)});
  return true;
}

bool RegistryKey::DeleteValue(std::u16string_view name) {
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const RegistryValue& value) { return NamesEqual(value.name, name); });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

RegistryHive::RegistryHive() { keys_.emplace(std::u16string(), RegistryKey{}); }

const RegistryKey* RegistryHive::Find(std::u16string_view path) const {
  auto it = keys_.find(FoldRegistryName(path));
  return it == keys_.end() ? nullptr : &it->second;
}

RegistryKey* RegistryHive::Find(std::u16string_view path) {
  auto it = keys_.find(FoldRegistryName(path));
  return it == keys_.end() ? nullptr : &it->second;
}

RegistryKey* RegistryHive::Create(std::u16string_view path, bool* created) {
  *created = false;
  RegistryKey* key = &keys_.begin()->second;  // the root
  std::u16string_view rest = path;
  while (!rest.empty()) {
    const size_t end = rest.find(kSeparator);
    std::u16string_view name = rest.substr(0, end);
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    std::u16string full =
        key->path.empty() ? std::u16string(name) : key->path + kSeparator + std::u16string(name);
    auto [it, inserted] = keys_.try_emplace(FoldRegistryName(full));
    if (inserted) {
      it->second.path = std::move(full);
      *created = true;
    }
    key = &it->second;
  }
  return key;
}

RegistryKey* RegistryHive::AddSubkey(const RegistryKey& parent, std::u16string_view name) {
  // The parent's own spelling: a key's path is its parent's plus its name.
  std::u16string path =
      parent.path.empty() ? std::u16string(name) : parent.path + kSeparator + std::u16string(name);
  auto [it, inserted] = keys_.try_emplace(FoldRegistryName(path));
  if (!inserted) return nullptr;
  it->second.path = std::move(path);
  return &it->second;
}

std::vector<const RegistryKey*> RegistryHive::Subkeys(std::u16string_view path) const {
  const std::u16string folded = FoldRegistryName(path);
  const size_t prefix_size = ChildPrefix(folded).size();
  std::vector<const RegistryKey*> subkeys;
  auto [first, last] = BelowRange(keys_, folded);
  for (auto it = first; it != last; ++it) {
    if (it->first.find(kSeparator, prefix_size) == std::u16string::npos) {
      subkeys.push_back(&it->second);
    }
  }
  return subkeys;
}

bool RegistryHive::HasSubkeys(std::u16string_view path) const {
  auto [first, last] = BelowRange(keys_, FoldRegistryName(path));
  return first != last;
}

void RegistryHive::Remove(std::u16string_view path) {
  const std::u16string folded = FoldRegistryName(path);
  if (folded.empty()) return;
  auto [first, last] = BelowRange(keys_, folded);
  keys_.erase(first, last);
  keys_.erase(folded);
}

void RegistryHive::RemoveBelow(std::u16string_view path) {
  auto [first, last] = BelowRange(keys_, FoldRegistryName(path));
  keys_.erase(first, last);
}

DWORD ParseRegistryHive(std::string_view file, RegistryHive* hive, std::string* why) {
  RegistryHive parsed;
  HiveParser parser(file);
  if (!parser.Parse(&parsed)) {
    if (why) *why = parser.why();
    return ERROR_BADDB;
  }
  *hive = std::move(parsed);
  return ERROR_SUCCESS;
}

std::string SerializeRegistryHive(const RegistryHive& hive) {
  std::string out(kRegistryHiveMagic);
  out += '\n';
  // Folded paths sort every key after its parent: a prefix comes first.
  for (const auto& [folded, key] : hive.keys()) {
    out += '[';
    out += Utf16ToUtf8(key.path);
    out += "]\n";
    for (const RegistryValue& value : key.values) {
      out += '"';
      AppendEscaped(Utf16ToUtf8(value.name), &out);
      out += "\"=";
      std::u16string text;
      if (IsPlainText(value, &text)) {
        out += "sz:\"";
        AppendEscaped(Utf16ToUtf8(text), &out);
        out += '"';
      } else {
        out += "hex(" + std::to_string(value.type) + "):";
        for (uint8_t byte : value.data) {
          out.push_back(kHexDigits[byte >> 4]);
          out.push_back(kHexDigits[byte & 0xF]);
        }
      }
      out += '\n';
    }
  }
  out += kEndLine;
  out += '\n';
  return out;
}

}  // namespace platform
