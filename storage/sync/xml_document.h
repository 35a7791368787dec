// The way every XML file of the system reaches rapidxml: a nesting guard in front of its parse.
//
// rapidxml parses nested elements by recursion, three calls per level: about 200-240 bytes of
// stack per level in optimised builds (240 with gcc -O3), and 2-3 KiB in the unoptimised clang
// AddressSanitizer build. A file of some tens of thousands of
// nested elements would overflow the stack of the thread that opens the storage, at every
// start. Every reader therefore parses through ParseXmlDocument, or scans with CXmlScanner
// before it hands pieces of a document to rapidxml itself.
//
// kMaxXmlDepth: the deepest real documents are bookmark files, where each folder level costs two
// elements ("bookmark", then its "children"); 1,000 levels allow about 500 nested folders,
// far beyond any tree a user builds by hand. They need about 240 KiB of stack in a release
// build and about 3 MiB under AddressSanitizer, within the 8 MiB a thread gets by default.
//
// CXmlScanner follows rapidxml's grammar for parse flags 0 wherever it decides where markup
// starts and ends: comments, CDATA sections, processing instructions, the declaration,
// DOCTYPE (with its bracketed subset) and other "<!" markup are skipped whole, attribute
// values are skipped to their closing quote (so '<', '>' and '/' inside them never count),
// and an end tag closes the innermost element whatever its name, as rapidxml does without
// validating closing tags. It never rejects what rapidxml accepts: a document it calls
// malformed is one rapidxml raises parse_error for, at that point or before. It does not check
// what cannot move a boundary (entity references, names of end tags); rapidxml does that.
// The scan is linear and uses no recursion.
#pragma once

#include <cstddef>
#include <rapidxml/rapidxml.hpp>
#include <string_view>

namespace Storage {

inline constexpr size_t kMaxXmlDepth = 1000;

class CXmlScanner {
 public:
  enum class Token {
    kStartTag,      // <name ...>: depth() now counts its element
    kEmptyElement,  // <name .../>
    kEndTag,        // </...>: closes the innermost element
    kText,          // character data inside an element, from the end of the previous token
    kCData,         // <![CDATA[...]]>
    kOther,         // comment, declaration, processing instruction, DOCTYPE, other <!...>
    kEnd,           // the terminating NUL, outside every element
    kMalformed,     // rapidxml raises parse_error here or before
    kTooDeep,       // an element inside `max_depth` open ones
  };

  // Scans the NUL-terminated `text` (skipping a leading UTF-8 byte-order mark, as rapidxml
  // does); `text` must outlive the scanner and stay unchanged while it is scanned.
  explicit CXmlScanner(const char* text, size_t max_depth = kMaxXmlDepth);
  CXmlScanner(const CXmlScanner&) = delete;
  CXmlScanner& operator=(const CXmlScanner&) = delete;

  // The next token. After kEnd, kMalformed or kTooDeep the same token comes again.
  Token Next();

  // The last token spans [begin(), end()); name() is the element name of a start tag, an
  // empty element or an end tag, and empty for the others.
  const char* begin() const { return begin_; }
  const char* end() const { return next_; }
  std::string_view name() const { return name_; }
  // Elements open after the last token.
  size_t depth() const { return depth_; }

 private:
  Token Finish(Token token);
  Token EndTag(const char* p);
  Token Markup(const char* p);
  Token Element(const char* p);

  const char* next_;
  const char* begin_;
  std::string_view name_;
  size_t depth_ = 0;
  const size_t max_depth_;
  Token final_ = Token::kEnd;
  bool finished_ = false;
};

// Whether `text` nests no deeper than `max_depth`. A document the scan finds malformed passes
// (rapidxml rejects it itself); so does one that ends inside an element.
bool IsXmlNestingWithin(const char* text, size_t max_depth = kMaxXmlDepth);

// Parses the NUL-terminated `text` in place into `document` with rapidxml's parse flags 0.
// False when the document nests deeper than kMaxXmlDepth (rapidxml is not called) or rapidxml
// raises parse_error; other exceptions, such as running out of memory, pass on.
bool ParseXmlDocument(char* text, rapidxml::xml_document<char>* document);

}  // namespace Storage
