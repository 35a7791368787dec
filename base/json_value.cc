#include "base/json_value.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

namespace base {

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A code unit a string can hold without an escape on reading.
bool IsPlainStringUnit(char16_t c) { return c != u'"' && c != u'\\' && (c >= 0x20 || c == u'\t'); }

// A code unit a string writes as it is.
bool IsPlainOutputUnit(char16_t c) { return c >= 0x20 && c != u'"' && c != u'\\' && c != u'/'; }

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Whether `text` starts with `lower_word`, ASCII letters compared without case. Stops at the
// first difference, so it never reads past the terminating NUL.
bool StartsWithKeyword(const char16_t* text, const char* lower_word) {
  for (; *lower_word != '\0'; ++text, ++lower_word) {
    // Setting bit 5 folds only 'A'-'Z' onto 'a'-'z' among the units that can equal a letter.
    if ((*text | 0x20) != *lower_word) return false;
  }
  return true;
}

// Reads one JSON value from NUL-terminated UTF-16 text in a single pass. Open arrays and
// objects are kept on a stack of their own, so the call stack does not grow with the nesting.
class CJsonReader {
 public:
  explicit CJsonReader(const char16_t* text) : pos_(text) {}

  std::unique_ptr<CJsonValue> ReadDocument();

 private:
  struct OpenContainer {
    std::unique_ptr<CJsonValue> node;
    char16_t close;
    std::u16string key;  // an object's member whose value is being read
  };

  void SkipSpace() {
    while (IsSpace(*pos_)) ++pos_;
  }
  std::unique_ptr<CJsonValue> ReadScalar();
  bool ReadString(std::u16string* out);
  bool ReadNumber(double* out);
  bool ReadMemberKey(std::u16string* key);

  const char16_t* pos_;
};

std::unique_ptr<CJsonValue> CJsonReader::ReadDocument() {
  SkipSpace();
  if (*pos_ == u'\0') return nullptr;

  // On any failure the open containers and everything they hold go with this stack.
  std::vector<OpenContainer> open;
  for (;;) {
    // A value starts here.
    SkipSpace();
    std::unique_ptr<CJsonValue> value;
    const char16_t c = *pos_;
    if (c == u'[' || c == u'{') {
      if (open.size() >= static_cast<size_t>(kMaxJsonDepth)) return nullptr;
      ++pos_;
      const bool is_object = c == u'{';
      open.push_back({is_object ? std::make_unique<CJsonValue>(CJsonValue::Object())
                                : std::make_unique<CJsonValue>(CJsonValue::Array()),
                      is_object ? u'}' : u']',
                      {}});
      SkipSpace();
      if (*pos_ == u'\0') return nullptr;
      if (*pos_ != open.back().close) {
        if (is_object && !ReadMemberKey(&open.back().key)) return nullptr;
        continue;  // the first element or member value
      }
      ++pos_;
      value = std::move(open.back().node);
      open.pop_back();
    } else {
      value = ReadScalar();
      if (value == nullptr) return nullptr;
    }

    // A value is complete: it is the document, or it joins the innermost open container, which
    // then either takes another value or closes and is complete in turn.
    for (;;) {
      if (open.empty()) return value;
      OpenContainer& top = open.back();
      if (top.close == u']') {
        top.node->GetArray().push_back(std::move(value));
      } else {
        // A repeated key replaces the earlier value.
        top.node->GetObject().insert_or_assign(std::move(top.key), std::move(value));
      }
      SkipSpace();
      if (*pos_ == top.close) {
        ++pos_;
        value = std::move(top.node);
        open.pop_back();
        continue;
      }
      if (*pos_ != u',') return nullptr;
      ++pos_;
      if (top.close == u'}') {
        SkipSpace();
        if (*pos_ == u'\0' || !ReadMemberKey(&top.key)) return nullptr;
      }
      break;
    }
  }
}

// At a member: its key and the colon after it. The key's opening quote is taken on trust.
bool CJsonReader::ReadMemberKey(std::u16string* key) {
  ++pos_;
  key->clear();
  if (!ReadString(key)) return false;
  SkipSpace();
  if (*pos_ != u':') return false;
  ++pos_;
  return true;
}

std::unique_ptr<CJsonValue> CJsonReader::ReadScalar() {
  const char16_t c = *pos_;
  if (c == u'"') {
    ++pos_;
    std::u16string text;
    if (!ReadString(&text)) return nullptr;
    return std::make_unique<CJsonValue>(std::move(text));
  }
  if (StartsWithKeyword(pos_, "true")) {
    pos_ += 4;
    return std::make_unique<CJsonValue>(true);
  }
  if (StartsWithKeyword(pos_, "false")) {
    pos_ += 5;
    return std::make_unique<CJsonValue>(false);
  }
  if (StartsWithKeyword(pos_, "null")) {
    pos_ += 4;
    return std::make_unique<CJsonValue>();
  }
  if (c == u'-' || IsDigit(c)) {
    double number = 0;
    if (!ReadNumber(&number)) return nullptr;
    return std::make_unique<CJsonValue>(number);
  }
  return nullptr;
}

// After the opening quote: the string's units up to the closing quote, which is consumed.
bool CJsonReader::ReadString(std::u16string* out) {
  for (;;) {
    const char16_t* run = pos_;
    while (IsPlainStringUnit(*pos_)) ++pos_;
    out->append(run, pos_);
    const char16_t c = *pos_;
    if (c == u'"') {
      ++pos_;
      return true;
    }
    if (c != u'\\') return false;  // a control unit, or the end of the text
    const char16_t escape = pos_[1];
    pos_ += 2;
    switch (escape) {
      case u'"':
      case u'\'':
      case u'/':
      case u'\\':
        out->push_back(escape);
        break;
      case u'b':
        out->push_back(u'\b');
        break;
      case u'f':
        out->push_back(u'\f');
        break;
      case u'n':
        out->push_back(u'\n');
        break;
      case u'r':
        out->push_back(u'\r');
        break;
      case u't':
        out->push_back(u'\t');
        break;
      case u'u': {
        // Each half of a surrogate pair is one escape and stays one unit.
        unsigned unit = 0;
        for (int i = 0; i < 4; ++i) {
          const int digit = HexValue(pos_[i]);  // fails at the NUL before reading past it
          if (digit < 0) return false;
          unit = unit * 16 + static_cast<unsigned>(digit);
        }
        pos_ += 4;
        out->push_back(static_cast<char16_t>(unit));
        break;
      }
      default:
        return false;  // also a backslash at the end of the text
    }
  }
}

// A run of digits as a 32-bit integer that wraps like the counters the files were written
// with; unsigned arithmetic keeps the wrap defined.
int32_t ReadDigitRun(const char16_t** pos, int* count) {
  uint32_t value = 0;
  const char16_t* p = *pos;
  const char16_t* start = p;
  while (IsDigit(*p)) {
    value = value * 10u + static_cast<uint32_t>(*p - u'0');
    ++p;
  }
  *count = static_cast<int>(p - start);
  *pos = p;
  return static_cast<int32_t>(value);
}

bool CJsonReader::ReadNumber(double* out) {
  const bool negative = *pos_ == u'-';
  if (negative) ++pos_;
  if (!IsDigit(*pos_)) return false;
  double value;
  if (*pos_ == u'0') {
    ++pos_;  // nothing more belongs to the integer part after a leading zero
    value = 0;
  } else {
    int count = 0;
    value = ReadDigitRun(&pos_, &count);
  }
  if (*pos_ == u'.') {
    ++pos_;
    if (!IsDigit(*pos_)) return false;
    int count = 0;
    const int32_t fraction = ReadDigitRun(&pos_, &count);
    value += fraction / std::pow(10.0, count);
  }
  if (*pos_ == u'e' || *pos_ == u'E') {
    ++pos_;
    bool exponent_negative = false;
    if (*pos_ == u'+' || *pos_ == u'-') {
      exponent_negative = *pos_ == u'-';
      ++pos_;
    }
    if (!IsDigit(*pos_)) return false;
    int count = 0;
    uint32_t exponent = static_cast<uint32_t>(ReadDigitRun(&pos_, &count));
    if (exponent_negative) exponent = 0u - exponent;
    const int64_t signed_exponent = static_cast<int32_t>(exponent);
    // Scaled one power of ten at a time; once the value is 0 or infinite further steps change
    // nothing, so a huge exponent costs no more than a few hundred of them.
    if (signed_exponent > 0) {
      for (int64_t i = 0; i < signed_exponent && value != 0 && !std::isinf(value); ++i) {
        value *= 10;
      }
    } else {
      for (int64_t i = 0; i < -signed_exponent && value != 0 && !std::isinf(value); ++i) {
        value /= 10;
      }
    }
  }
  *out = negative ? -value : value;
  return true;
}

void AppendQuoted(const std::u16string& text, std::u16string* out) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  out->push_back(u'"');
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p != end) {
    const char16_t* run = p;
    while (p != end && IsPlainOutputUnit(*p)) ++p;
    out->append(run, p);
    if (p == end) break;
    const char16_t c = *p++;
    out->push_back(u'\\');
    switch (c) {
      case u'"':
      case u'\\':
      case u'/':
        out->push_back(c);
        break;
      case u'\b':
        out->push_back(u'b');
        break;
      case u'\f':
        out->push_back(u'f');
        break;
      case u'\n':
        out->push_back(u'n');
        break;
      case u'\r':
        out->push_back(u'r');
        break;
      case u'\t':
        out->push_back(u't');
        break;
      default:
        out->append(u"u00");
        out->push_back(kHex[c >> 4]);
        out->push_back(kHex[c & 0xF]);
        break;
    }
  }
  out->push_back(u'"');
}

// Six significant digits, trailing zeros dropped, the exponent form for exponents below -4 or
// from 6 on with at least three exponent digits: the form the files have always had. Written
// without the C library's printf so that the process locale cannot change the decimal point.
void AppendNumber(double value, std::u16string* out) {
  if (std::isnan(value) || std::isinf(value)) {
    out->append(u"null");
    return;
  }
  char text[32];
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 6);
  const char* end = result.ptr;
  const char* mark = text;
  while (mark != end && *mark != 'e') ++mark;
  for (const char* p = text; p != end; ++p) {
    out->push_back(static_cast<char16_t>(*p));
    if (p == mark + 1 && end - p == 3) out->push_back(u'0');  // e+06 becomes e+006
  }
}

void AppendScalar(const CJsonValue& value, std::u16string* out) {
  switch (value.GetType()) {
    case JSON_STRING:
      AppendQuoted(value.GetString(), out);
      break;
    case JSON_BOOL:
      out->append(value.GetBool() ? u"true" : u"false");
      break;
    case JSON_NUMBER:
      AppendNumber(value.GetNumber(), out);
      break;
    default:
      out->append(u"null");
      break;
  }
}

}  // namespace

CJsonValue::CJsonValue() = default;

CJsonValue::CJsonValue(std::u16string text) : type_(JSON_STRING), string_(std::move(text)) {}

CJsonValue::CJsonValue(const char16_t* text)
    : type_(JSON_STRING), string_(text != nullptr ? text : u"") {}

CJsonValue::CJsonValue(bool value) : type_(JSON_BOOL), boolean_(value) {}

CJsonValue::CJsonValue(double value) : type_(JSON_NUMBER), number_(value) {}

CJsonValue::CJsonValue(Array elements) : type_(JSON_ARRAY), array_(std::move(elements)) {}

CJsonValue::CJsonValue(Object members) : type_(JSON_OBJECT), object_(std::move(members)) {}

CJsonValue::~CJsonValue() {
  // Children that hold children of their own are moved onto a worklist and taken apart there,
  // so that destroying a deep tree never recurses more than one level.
  Array pending;
  const auto take_nested = [&pending](CJsonValue& node) {
    const auto take = [&pending](std::unique_ptr<CJsonValue>& child) {
      if (child != nullptr && (!child->array_.empty() || !child->object_.empty())) {
        pending.push_back(std::move(child));
      }
    };
    for (auto& child : node.array_) take(child);
    for (auto& member : node.object_) take(member.second);
  };
  take_nested(*this);
  while (!pending.empty()) {
    std::unique_ptr<CJsonValue> node = std::move(pending.back());
    pending.pop_back();
    take_nested(*node);
  }
}

std::unique_ptr<CJsonValue> CJsonValue::Parse(const char16_t* text) {
  if (text == nullptr) return nullptr;
  return CJsonReader(text).ReadDocument();
}

std::u16string CJsonValue::Serialize() const {
  // An open container and how far it has been written.
  struct Open {
    const CJsonValue* node;
    size_t next_element;
    Object::const_iterator next_member;
  };
  std::u16string out;
  std::vector<Open> open;
  const auto start = [&out, &open](const CJsonValue* value) {
    if (value == nullptr) {
      out.append(u"null");
    } else if (value->IsArray()) {
      out.push_back(u'[');
      open.push_back({value, 0, {}});
    } else if (value->IsObject()) {
      out.push_back(u'{');
      open.push_back({value, 0, value->object_.begin()});
    } else {
      AppendScalar(*value, &out);
    }
  };

  start(this);
  while (!open.empty()) {
    Open& top = open.back();
    const CJsonValue* child;
    if (top.node->IsArray()) {
      const Array& elements = top.node->array_;
      if (top.next_element == elements.size()) {
        out.push_back(u']');
        open.pop_back();
        continue;
      }
      if (top.next_element != 0) out.push_back(u',');
      child = elements[top.next_element++].get();
    } else {
      const Object& members = top.node->object_;
      if (top.next_member == members.end()) {
        out.push_back(u'}');
        open.pop_back();
        continue;
      }
      if (top.next_member != members.begin()) out.push_back(u',');
      AppendQuoted(top.next_member->first, &out);
      out.push_back(u':');
      child = top.next_member->second.get();
      ++top.next_member;
    }
    start(child);  // may grow `open`: `top` is not used after this
  }
  return out;
}

}  // namespace base
