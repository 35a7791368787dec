// base::CJsonValue: a small JSON tree over UTF-16 text, with its reader and compact writer.
//
// The reader accepts what the extension database has always held (keywords in any case,
// duplicate keys replacing earlier ones, surrogate halves kept as they are) and nothing
// deeper than kMaxJsonDepth containers. Reading, writing and destroying a tree use their own
// stacks, never the call stack, so no document can exhaust the thread's stack.
//
// Thread safety: none; a tree is used by one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace base {

enum JsonType : int {
  JSON_NULL = 0,
  JSON_STRING = 1,
  JSON_BOOL = 2,
  JSON_NUMBER = 3,
  JSON_ARRAY = 4,
  JSON_OBJECT = 5,
};

// Nesting deeper than this (arrays and objects counted together) fails the parse. Real
// manifests nest a handful of levels.
inline constexpr int kMaxJsonDepth = 1000;

class CJsonValue {
 public:
  using Array = std::vector<std::unique_ptr<CJsonValue>>;
  // Keys in ordinal order of their code units (char16_t is unsigned).
  using Object = std::map<std::u16string, std::unique_ptr<CJsonValue>>;

  CJsonValue();  // JSON_NULL
  explicit CJsonValue(std::u16string text);
  explicit CJsonValue(const char16_t* text);  // not to be taken as a bool
  explicit CJsonValue(bool value);
  explicit CJsonValue(double value);
  explicit CJsonValue(Array elements);
  explicit CJsonValue(Object members);
  ~CJsonValue();

  CJsonValue(const CJsonValue&) = delete;
  CJsonValue& operator=(const CJsonValue&) = delete;

  JsonType GetType() const { return type_; }
  bool IsArray() const { return type_ == JSON_ARRAY; }
  bool IsObject() const { return type_ == JSON_OBJECT; }

  std::u16string& GetString() { return string_; }
  const std::u16string& GetString() const { return string_; }
  bool GetBool() const { return boolean_; }
  double GetNumber() const { return number_; }
  Array& GetArray() { return array_; }
  const Array& GetArray() const { return array_; }
  Object& GetObject() { return object_; }
  const Object& GetObject() const { return object_; }

  // The tree read from the first value of `text` (NUL-terminated; text after that value is not
  // looked at), or null on any syntax error, on nesting deeper than kMaxJsonDepth, or for a
  // null `text`.
  static std::unique_ptr<CJsonValue> Parse(const char16_t* text);

  // The compact text of the tree: no white space, members in key order.
  std::u16string Serialize() const;

 private:
  JsonType type_ = JSON_NULL;
  std::u16string string_;
  bool boolean_ = false;
  double number_ = 0;
  Array array_;
  Object object_;
};

}  // namespace base
