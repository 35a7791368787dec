// The printf engine behind FormatWide and FormatNarrow, one template for both widths.
//
// Output goes through a Sink that counts every unit but stores only what fits, so a size
// query or a truncated call costs no allocation, however wide a field is. Only floating-point
// conversions render through the C library (into a local buffer); everything else is done
// here because the Microsoft meanings of 'l', 'h', %S and %p differ from glibc's.
#include "platform/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/utf.h"

namespace platform {
namespace {

template <class Char>
class Sink {
 public:
  Sink(Char* out, size_t capacity) : out_(out), capacity_(capacity) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void Append(std::basic_string_view<Char> text) {
    if (count_ < capacity_) {
      const size_t stored = std::min(text.size(), capacity_ - count_);
      std::memcpy(out_ + count_, text.data(), stored * sizeof(Char));
    }
    count_ += text.size();
  }

  void Fill(Char c, size_t n) {
    if (count_ < capacity_) std::fill_n(out_ + count_, std::min(n, capacity_ - count_), c);
    count_ += n;
  }

  size_t count() const { return count_; }

 private:
  Char* const out_;
  const size_t capacity_;
  size_t count_ = 0;
};

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kInt32, kInt64, kPointer, kWide };

struct Spec {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  size_t width = 0;
  int precision = -1;  // none
  Length length = Length::kNone;
  char conversion = 0;
};

template <class Char>
constexpr bool kIsWide = std::is_same_v<Char, char16_t>;

template <class Char>
std::basic_string<Char> FromAscii(std::string_view text) {
  return std::basic_string<Char>(text.begin(), text.end());
}

// Text in the argument's width brought to the output's width; the pointer only selects the
// output type.
std::u16string ToOutput(std::u16string_view text, std::u16string*) { return std::u16string(text); }
std::string ToOutput(std::string_view text, std::string*) { return std::string(text); }
std::u16string ToOutput(std::string_view text, std::u16string*) { return Utf8ToUtf16(text); }
std::string ToOutput(std::u16string_view text, std::string*) { return Utf16ToUtf8(text); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts converted text to `limit` units at a character boundary.
void CutConverted(std::u16string* text, size_t limit) {
  if (text->size() <= limit) return;
  if (limit > 0 && IsHighSurrogate((*text)[limit - 1]) && IsLowSurrogate((*text)[limit])) --limit;
  text->resize(limit);
}
void CutConverted(std::string* text, size_t limit) {
  if (text->size() <= limit) return;
  while (limit > 0 && IsContinuation((*text)[limit])) --limit;
  text->resize(limit);
}

// Length of the argument string, reading no further than `precision` units when one is given.
template <class Arg>
size_t ArgumentLength(const Arg* text, int precision) {
  if (precision < 0) return std::char_traits<Arg>::length(text);
  size_t n = 0;
  while (n < static_cast<size_t>(precision) && text[n] != 0) ++n;
  return n;
}

// How many bytes of a UTF-8 argument to read for `precision` UTF-16 units. Each sequence,
// taken with the continuation bytes its lead byte announces, gives at least one unit and
// ends where the converter's own sequences end, so this reads enough and never stops inside
// a character; the converted text is then cut to the precision.
size_t ConvertedInputLength(const char* text, int precision) {
  if (precision < 0) return std::strlen(text);
  size_t n = 0;
  for (int units = 0; units < precision && text[n] != 0; ++units) {
    const auto lead = static_cast<unsigned char>(text[n++]);
    const int extra = (lead >= 0xF0 && lead <= 0xF4)   ? 3
                      : (lead >= 0xE0 && lead <= 0xEF) ? 2
                      : (lead >= 0xC2 && lead <= 0xDF) ? 1
                                                       : 0;
    for (int k = 0; k < extra && IsContinuation(text[n]); ++k) ++n;
  }
  return n;
}
// How many units of a UTF-16 argument to read for `precision` UTF-8 bytes. Every unit gives
// at least one byte, so `precision` units are enough; a high surrogate in the last place
// follows at least precision - 1 bytes and would need three or four more, so it is not read.
size_t ConvertedInputLength(const char16_t* text, int precision) {
  size_t n = ArgumentLength(text, precision);
  if (precision >= 0 && n == static_cast<size_t>(precision) && n > 0 &&
      IsHighSurrogate(text[n - 1])) {
    --n;
  }
  return n;
}

template <class Char>
class Formatter {
 public:
  Formatter(const Char* format, va_list args, Sink<Char>* sink) : p_(format), sink_(sink) {
    va_copy(args_, args);
  }
  ~Formatter() { va_end(args_); }
  Formatter(const Formatter&) = delete;
  Formatter& operator=(const Formatter&) = delete;

  bool Run() {
    while (*p_ != 0) {
      const Char* literal = p_;
      while (*p_ != 0 && *p_ != '%') ++p_;
      sink_->Append({literal, static_cast<size_t>(p_ - literal)});
      if (*p_ == 0) break;
      ++p_;
      Spec spec;
      if (!ParseSpec(&spec) || !Convert(spec)) return false;
    }
    return true;
  }

 private:
  using String = std::basic_string<Char>;
  using View = std::basic_string_view<Char>;

  static bool IsDigit(Char c) { return c >= '0' && c <= '9'; }

  bool ParseNumber(int* value) {
    int64_t n = 0;
    for (; IsDigit(*p_); ++p_) {
      n = n * 10 + (*p_ - '0');
      if (n > INT_MAX) return false;
    }
    *value = static_cast<int>(n);
    return true;
  }

  // Parses flags, width, precision, length and conversion; p_ is just past the '%'.
  bool ParseSpec(Spec* spec) {
    for (;; ++p_) {
      if (*p_ == '-') {
        spec->left = true;
      } else if (*p_ == '+') {
        spec->plus = true;
      } else if (*p_ == ' ') {
        spec->space = true;
      } else if (*p_ == '#') {
        spec->alt = true;
      } else if (*p_ == '0') {
        spec->zero = true;
      } else {
        break;
      }
    }
    int width = 0;
    if (*p_ == '*') {
      ++p_;
      width = va_arg(args_, int);
      if (width == INT_MIN) return false;
      if (width < 0) {
        spec->left = true;
        width = -width;
      }
    } else if (!ParseNumber(&width)) {
      return false;
    }
    spec->width = static_cast<size_t>(width);
    if (*p_ == '.') {
      ++p_;
      if (*p_ == '*') {
        ++p_;
        spec->precision = std::max(va_arg(args_, int), -1);
      } else if (!ParseNumber(&spec->precision)) {
        return false;
      }
    }
    ParseLength(spec);
    const auto c = static_cast<std::make_unsigned_t<Char>>(*p_);
    if (c == 0 || c >= 0x80) return false;
    spec->conversion = static_cast<char>(c);
    ++p_;
    return true;
  }

  void ParseLength(Spec* spec) {
    switch (*p_) {
      case 'h':
        ++p_;
        spec->length = Length::kShort;
        if (*p_ == 'h') {
          ++p_;
          spec->length = Length::kChar;
        }
        return;
      case 'l':
        ++p_;
        spec->length = Length::kLong;
        if (*p_ == 'l') {
          ++p_;
          spec->length = Length::kLongLong;
        }
        return;
      case 'w':
        ++p_;
        spec->length = Length::kWide;
        return;
      case 'j':
        ++p_;
        spec->length = Length::kLongLong;
        return;
      case 'z':
      case 't':
        ++p_;
        spec->length = Length::kPointer;
        return;
      case 'I':
        ++p_;
        if (p_[0] == '6' && p_[1] == '4') {
          p_ += 2;
          spec->length = Length::kInt64;
        } else if (p_[0] == '3' && p_[1] == '2') {
          p_ += 2;
          spec->length = Length::kInt32;
        } else {
          spec->length = Length::kPointer;
        }
        return;
      default:
        return;
    }
  }

  bool Convert(const Spec& spec) {
    switch (spec.conversion) {
      case '%':
        sink_->Fill('%', 1);
        return true;
      case 'd':
      case 'i':
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        return spec.length != Length::kWide && ConvertInteger(spec);
      case 'c':
      case 'C':
      case 's':
      case 'S':
        return IsTextLength(spec.length) && ConvertText(spec);
      case 'p':
        ConvertPointer(spec);
        return true;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        return (spec.length == Length::kNone || spec.length == Length::kLong) && ConvertFloat(spec);
      default:  // %n included: it writes through an argument, which logging never needs
        return false;
    }
  }

  static bool IsTextLength(Length length) {
    return length == Length::kNone || length == Length::kShort || length == Length::kLong ||
           length == Length::kWide;
  }

  // A converted value: prefix, leading zeros, body, then zeros and a suffix that floating
  // point needs when its precision is longer than the C library is asked to render.
  struct Field {
    std::string_view prefix;
    size_t zeros = 0;
    View body;
    size_t inner_zeros = 0;
    std::string_view suffix;
  };

  // Writes the field into spec.width: left-aligned, zero-padded between prefix and body, or
  // right-aligned with spaces.
  void EmitField(const Spec& spec, const Field& field, bool zero_pad) {
    const size_t length = field.prefix.size() + field.zeros + field.body.size() +
                          field.inner_zeros + field.suffix.size();
    const size_t pad = spec.width > length ? spec.width - length : 0;
    if (!spec.left && !zero_pad) sink_->Fill(' ', pad);
    sink_->Append(FromAscii<Char>(field.prefix));
    sink_->Fill('0', field.zeros + (zero_pad && !spec.left ? pad : 0));
    sink_->Append(field.body);
    sink_->Fill('0', field.inner_zeros);
    sink_->Append(FromAscii<Char>(field.suffix));
    if (spec.left) sink_->Fill(' ', pad);
  }

  void EmitText(const Spec& spec, View text) {
    Field field;
    field.body = text;
    EmitField(spec, field, false);
  }

  int64_t SignedArgument(Length length) {
    switch (length) {
      case Length::kChar:
        return static_cast<signed char>(va_arg(args_, int));
      case Length::kShort:
        return static_cast<int16_t>(va_arg(args_, int));
      case Length::kLongLong:
      case Length::kInt64:
        return va_arg(args_, int64_t);
      case Length::kPointer:
        return va_arg(args_, intptr_t);
      default:  // none, 'l' and I32 are all 32-bit
        return va_arg(args_, int32_t);
    }
  }

  uint64_t UnsignedArgument(Length length) {
    switch (length) {
      case Length::kChar:
        return static_cast<unsigned char>(va_arg(args_, unsigned int));
      case Length::kShort:
        return static_cast<uint16_t>(va_arg(args_, unsigned int));
      case Length::kLongLong:
      case Length::kInt64:
        return va_arg(args_, uint64_t);
      case Length::kPointer:
        return va_arg(args_, uintptr_t);
      default:
        return va_arg(args_, uint32_t);
    }
  }

  static std::string Digits(uint64_t value, unsigned base, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string digits;
    for (; value != 0; value /= base) digits.push_back(symbols[value % base]);
    std::reverse(digits.begin(), digits.end());
    return digits;
  }

  bool ConvertInteger(const Spec& spec) {
    const char conversion = spec.conversion;
    const bool is_signed = conversion == 'd' || conversion == 'i';
    bool negative = false;
    uint64_t magnitude;
    if (is_signed) {
      const int64_t value = SignedArgument(spec.length);
      negative = value < 0;
      magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else {
      magnitude = UnsignedArgument(spec.length);
    }
    const unsigned base = conversion == 'o'                          ? 8
                          : (conversion == 'x' || conversion == 'X') ? 16
                                                                     : 10;
    std::string digits = Digits(magnitude, base, conversion == 'X');
    // Without a precision zero prints as "0"; with precision 0 it prints nothing.
    if (digits.empty() && spec.precision < 0) digits.push_back('0');
    size_t zeros = spec.precision > static_cast<int>(digits.size())
                       ? static_cast<size_t>(spec.precision) - digits.size()
                       : 0;
    std::string_view prefix;
    if (negative) {
      prefix = "-";
    } else if (is_signed && spec.plus) {
      prefix = "+";
    } else if (is_signed && spec.space) {
      prefix = " ";
    }
    if (spec.alt && base == 8 && zeros == 0 && (digits.empty() || digits[0] != '0')) zeros = 1;
    if (spec.alt && base == 16 && magnitude != 0) prefix = conversion == 'X' ? "0X" : "0x";
    const String body = FromAscii<Char>(digits);
    Field field;
    field.prefix = prefix;
    field.zeros = zeros;
    field.body = body;
    EmitField(spec, field, spec.zero && spec.precision < 0);
    return true;
  }

  void ConvertPointer(const Spec& spec) {
    const auto value = reinterpret_cast<uintptr_t>(va_arg(args_, const void*));
    std::string digits = Digits(value, 16, true);
    digits.insert(0, 2 * sizeof(void*) - digits.size(), '0');
    EmitText(spec, FromAscii<Char>(digits));
  }

  // Whether a %c/%s argument is UTF-16: 'l'/'w' say so and 'h' says 8-bit; otherwise the
  // lower-case conversion takes the format's own width and the upper-case one the other.
  static bool ArgumentIsWide(const Spec& spec) {
    if (spec.length == Length::kLong || spec.length == Length::kWide) return true;
    if (spec.length == Length::kShort) return false;
    const bool lower = spec.conversion == 'c' || spec.conversion == 's';
    return lower == kIsWide<Char>;
  }

  bool ConvertText(const Spec& spec) {
    const bool wide = ArgumentIsWide(spec);
    String text;
    if (spec.conversion == 'c' || spec.conversion == 'C') {
      const int value = va_arg(args_, int);
      if (wide) {
        const auto c = static_cast<char16_t>(value);
        text = ToOutput(std::u16string_view(&c, 1), &text);
      } else {
        const auto c = static_cast<char>(value);
        text = ToOutput(std::string_view(&c, 1), &text);
      }
      EmitText(spec, text);
      return true;
    }
    const int precision = spec.precision;
    if (wide) {
      const char16_t* arg = va_arg(args_, const char16_t*);
      if (arg == nullptr) arg = u"(null)";
      text = kIsWide<Char>
                 ? ToOutput(std::u16string_view(arg, ArgumentLength(arg, precision)), &text)
                 : ToOutput(std::u16string_view(arg, ConvertedInputLength(arg, precision)), &text);
    } else {
      const char* arg = va_arg(args_, const char*);
      if (arg == nullptr) arg = "(null)";
      text = kIsWide<Char>
                 ? ToOutput(std::string_view(arg, ConvertedInputLength(arg, precision)), &text)
                 : ToOutput(std::string_view(arg, ArgumentLength(arg, precision)), &text);
    }
    if (precision >= 0) CutConverted(&text, static_cast<size_t>(precision));
    EmitText(spec, text);
    return true;
  }

  bool ConvertFloat(const Spec& spec) {
    const double value = va_arg(args_, double);
    // A double has at most 1074 fractional binary digits, so its exact decimal expansion
    // ends within this many digits; anything beyond is zeros, counted rather than rendered.
    constexpr int kMaxRenderedPrecision = 1100;
    const int precision = std::min(spec.precision, kMaxRenderedPrecision);
    std::string format = "%";
    if (spec.plus) format += '+';
    if (spec.space) format += ' ';
    if (spec.alt) format += '#';
    if (precision >= 0) format += ".*";
    format += spec.conversion;
    const auto render = [&](char* out, size_t size) {
      return precision >= 0 ? std::snprintf(out, size, format.c_str(), precision, value)
                            : std::snprintf(out, size, format.c_str(), value);
    };
    const int needed = render(nullptr, 0);
    if (needed < 0) return false;
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    render(text.data(), text.size());
    text.resize(static_cast<size_t>(needed));
    const std::string_view rendered(text);

    const bool finite = std::isfinite(value);
    Field field;
    // Zero padding goes between the sign (and a hex prefix) and the digits; inf and nan are
    // padded with spaces.
    size_t digits_start = 0;
    if (!text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) digits_start = 1;
    if (rendered.substr(digits_start, 2) == "0x" || rendered.substr(digits_start, 2) == "0X") {
      digits_start += 2;
    }
    if (!finite) digits_start = 0;
    field.prefix = rendered.substr(0, digits_start);
    // The zeros a longer precision adds go before the exponent; %g drops them unless '#'.
    size_t digits_end = text.size();
    const bool general = spec.conversion == 'g' || spec.conversion == 'G';
    if (finite && spec.precision > precision && (!general || spec.alt)) {
      const char lower = static_cast<char>(spec.conversion | 0x20);
      const char* exponent = lower == 'a' ? "pP" : lower == 'f' ? "" : "eE";  // hex digits hold 'E'
      digits_end = std::min(text.find_first_of(exponent), text.size());
      field.inner_zeros = static_cast<size_t>(spec.precision - precision);
    }
    field.suffix = rendered.substr(digits_end);
    const String body = FromAscii<Char>(rendered.substr(digits_start, digits_end - digits_start));
    field.body = body;
    EmitField(spec, field, spec.zero && finite);
    return true;
  }

  const Char* p_;
  va_list args_;
  Sink<Char>* const sink_;
};

template <class Char>
bool Format(const Char* format, va_list args, Char* out, size_t capacity, size_t* length) {
  Sink<Char> sink(out, capacity);
  Formatter<Char> formatter(format, args, &sink);
  const bool ok = formatter.Run();
  *length = sink.count();
  return ok;
}

}  // namespace

bool FormatWide(const char16_t* format, va_list args, char16_t* out, size_t capacity,
                size_t* length) {
  return Format(format, args, out, capacity, length);
}

bool FormatNarrow(const char* format, va_list args, char* out, size_t capacity, size_t* length) {
  return Format(format, args, out, capacity, length);
}

}  // namespace platform
