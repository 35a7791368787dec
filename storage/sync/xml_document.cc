#include "storage/sync/xml_document.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace Storage {
namespace {

using Token = CXmlScanner::Token;

// rapidxml's character classes for parse flags 0.
enum : uint8_t {
  kSpace = 1,          // space, tab, line feed, carriage return
  kNameChar = 2,       // element names: anything but space, / > ? and NUL
  kAttributeChar = 4,  // attribute names: anything but space, / < > = ? ! and NUL
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 1; c < 256; ++c) classes[c] = kNameChar | kAttributeChar;
  for (unsigned char c : {' ', '\t', '\n', '\r'}) classes[c] = kSpace;
  for (unsigned char c : {'/', '>', '?'}) classes[c] = 0;
  for (unsigned char c : {'<', '=', '!'}) classes[c] &= ~kAttributeChar;
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

bool Is(char c, uint8_t character_class) {
  return (kClasses[static_cast<unsigned char>(c)] & character_class) != 0;
}

const char* Skip(const char* p, uint8_t character_class) {
  while (Is(*p, character_class)) ++p;
  return p;
}

// Whether `p` starts with `prefix`; reads no further than the first difference, so never past
// the terminating NUL.
bool StartsWith(const char* p, std::string_view prefix) {
  for (char c : prefix) {
    if (*p++ != c) return false;
  }
  return true;
}

// The first `terminator` at or after `p`; null when the NUL comes first.
const char* Find(const char* p, std::string_view terminator) {
  while ((p = std::strchr(p, terminator[0])) != nullptr) {
    if (StartsWith(p, terminator)) return p;
    ++p;
  }
  return nullptr;
}

// Past the ']' that closes a '[' just before `p`; null when the NUL comes first.
const char* SkipBrackets(const char* p) {
  for (size_t open = 1; open > 0; ++p) {
    p = std::strpbrk(p, "[]");
    if (p == nullptr) return nullptr;
    if (*p == '[') {
      ++open;
    } else {
      --open;
    }
  }
  return p;
}

}  // namespace

CXmlScanner::CXmlScanner(const char* text, size_t max_depth)
    : next_(StartsWith(text, "\xEF\xBB\xBF") ? text + 3 : text),
      begin_(next_),
      max_depth_(max_depth) {}

CXmlScanner::Token CXmlScanner::Next() {
  if (finished_) return final_;
  name_ = {};
  const char* content = next_;
  const char* p = Skip(next_, kSpace);
  begin_ = p;
  if (depth_ == 0) {
    if (*p == '\0') return Finish(Token::kEnd);
    if (*p != '<') return Finish(Token::kMalformed);
    return Markup(p);
  }
  if (*p == '<') return p[1] == '/' ? EndTag(p) : Markup(p);
  if (*p == '\0') return Finish(Token::kMalformed);
  // Character data, with the white space before it, runs to the next markup; inside an
  // element the document must not end.
  const char* end = std::strchr(p, '<');
  if (end == nullptr) return Finish(Token::kMalformed);
  begin_ = content;
  next_ = end;
  return Token::kText;
}

CXmlScanner::Token CXmlScanner::Finish(Token token) {
  finished_ = true;
  final_ = token;
  return token;
}

CXmlScanner::Token CXmlScanner::EndTag(const char* p) {
  // rapidxml does not compare the name with the element's: any end tag closes it.
  const char* name = p + 2;
  const char* q = Skip(name, kNameChar);
  name_ = std::string_view(name, static_cast<size_t>(q - name));
  q = Skip(q, kSpace);
  if (*q != '>') return Finish(Token::kMalformed);
  next_ = q + 1;
  --depth_;
  return Token::kEndTag;
}

// `p` is at '<'.
CXmlScanner::Token CXmlScanner::Markup(const char* p) {
  const char* q = p + 1;
  const char* end = nullptr;
  Token token = Token::kOther;
  if (*q == '?') {
    // The declaration and processing instructions alike run to "?>".
    end = Find(q + 1, "?>");
    if (end != nullptr) end += 2;
  } else if (*q == '!') {
    if (StartsWith(q + 1, "--")) {
      end = Find(q + 3, "-->");
      if (end != nullptr) end += 3;
    } else if (StartsWith(q + 1, "[CDATA[")) {
      token = Token::kCData;
      end = Find(q + 8, "]]>");
      if (end != nullptr) end += 3;
    } else if (StartsWith(q + 1, "DOCTYPE") && Is(q[8], kSpace)) {
      // To the first '>' outside brackets; brackets nest.
      const char* r = std::strpbrk(q + 9, "[>");
      while (r != nullptr && *r == '[') {
        r = SkipBrackets(r + 1);
        if (r != nullptr) r = std::strpbrk(r, "[>");
      }
      if (r != nullptr) end = r + 1;
    } else {
      end = std::strchr(q + 1, '>');
      if (end != nullptr) ++end;
    }
  } else {
    return Element(p);
  }
  if (end == nullptr) return Finish(Token::kMalformed);
  next_ = end;
  return token;
}

// `p` is at the '<' of a start tag or an empty element.
CXmlScanner::Token CXmlScanner::Element(const char* p) {
  const char* name = p + 1;
  const char* q = Skip(name, kNameChar);
  if (q == name) return Finish(Token::kMalformed);
  name_ = std::string_view(name, static_cast<size_t>(q - name));
  q = Skip(q, kSpace);
  while (Is(*q, kAttributeChar)) {
    q = Skip(q + 1, kAttributeChar);
    q = Skip(q, kSpace);
    if (*q != '=') return Finish(Token::kMalformed);
    q = Skip(q + 1, kSpace);
    const char quote = *q;
    if (quote != '"' && quote != '\'') return Finish(Token::kMalformed);
    // Entity references never reach past the closing quote: they are left to rapidxml.
    q = std::strchr(q + 1, quote);
    if (q == nullptr) return Finish(Token::kMalformed);
    q = Skip(q + 1, kSpace);
  }
  const bool empty = *q == '/';
  if (empty) ++q;
  if (*q != '>') return Finish(Token::kMalformed);
  if (depth_ >= max_depth_) return Finish(Token::kTooDeep);
  next_ = q + 1;
  if (empty) return Token::kEmptyElement;
  ++depth_;
  return Token::kStartTag;
}

bool IsXmlNestingWithin(const char* text, size_t max_depth) {
  CXmlScanner scanner(text, max_depth);
  for (;;) {
    switch (scanner.Next()) {
      case Token::kTooDeep:
        return false;
      case Token::kEnd:
      case Token::kMalformed:
        return true;
      default:
        break;
    }
  }
}

bool ParseXmlDocument(char* text, rapidxml::xml_document<char>* document) {
  if (text == nullptr || document == nullptr || !IsXmlNestingWithin(text)) return false;
  try {
    document->parse<rapidxml::parse_default>(text);
  } catch (const rapidxml::parse_error&) {
    return false;
  }
  return true;
}

}  // namespace Storage
