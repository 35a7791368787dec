// Feeds arbitrary bytes to the nesting guard's scan and to rapidxml, and compares them.
//
// Invariants checked (abort on violation): tokens follow one another without gaps or overlap and
// never close more elements than are open; a document the scan calls malformed is one rapidxml
// refuses; a document rapidxml accepts scans to its end, with the elements (names, in document
// order) and the depth of rapidxml's DOM; the guarded parse accepts exactly what rapidxml
// accepts within the depth limit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/sync/xml_document.h"

namespace {

using Storage::CXmlScanner;
using Token = CXmlScanner::Token;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Deep enough for any input of -max_len, shallow enough for rapidxml's recursion on the
// fuzzer's stack.
constexpr size_t kDeepestParsed = 5000;

struct Scan {
  Token last = Token::kEnd;
  size_t depth = 0;  // elements open at the deepest point, empty ones included
  std::vector<std::string> elements;
};

Scan ScanAll(const std::string& text) {
  Scan scan;
  CXmlScanner scanner(text.c_str(), SIZE_MAX);
  const char* previous_end = scanner.begin();
  for (;;) {
    const size_t open = scanner.depth();
    scan.last = scanner.Next();
    if (scan.last == Token::kEnd || scan.last == Token::kMalformed) return scan;
    Check(scan.last != Token::kTooDeep);
    Check(scanner.begin() >= previous_end && scanner.end() > scanner.begin());
    Check(scanner.end() <= text.c_str() + text.size());
    previous_end = scanner.end();
    switch (scan.last) {
      case Token::kStartTag:
      case Token::kEmptyElement:
        scan.elements.emplace_back(scanner.name());
        scan.depth = std::max(scan.depth, open + 1);
        Check(scanner.depth() == open + (scan.last == Token::kStartTag ? 1 : 0));
        break;
      case Token::kEndTag:
        Check(open > 0 && scanner.depth() == open - 1);
        break;
      default:
        Check(scanner.depth() == open);
    }
  }
}

// rapidxml's elements in document order, and the depth of its DOM, without recursion.
void Walk(const rapidxml::xml_node<char>* document, std::vector<std::string>* elements,
          size_t* depth) {
  // Children go on the stack last first, so that they come off in document order.
  std::vector<std::pair<const rapidxml::xml_node<char>*, size_t>> stack;
  const auto push_children = [&stack](const rapidxml::xml_node<char>* parent, size_t level) {
    if (parent->first_node() == nullptr) return;  // last_node() is only valid with children
    for (auto* child = parent->last_node(); child != nullptr; child = child->previous_sibling()) {
      stack.emplace_back(child, level);
    }
  };
  push_children(document, 1);
  while (!stack.empty()) {
    auto [node, level] = stack.back();
    stack.pop_back();
    if (node->type() != rapidxml::node_element) continue;
    elements->emplace_back(node->name(), node->name_size());
    *depth = std::max(*depth, level);
    push_children(node, level + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Scan scan = ScanAll(text);
  if (scan.depth > kDeepestParsed) return 0;

  std::string copy = text;
  auto document = std::make_unique<rapidxml::xml_document<char>>();
  bool accepted = true;
  try {
    document->parse<rapidxml::parse_default>(copy.data());
  } catch (const rapidxml::parse_error&) {
    accepted = false;
  }
  if (scan.last == Token::kMalformed) Check(!accepted);
  if (accepted) {
    Check(scan.last == Token::kEnd);
    std::vector<std::string> elements;
    size_t depth = 0;
    Walk(document.get(), &elements, &depth);
    Check(elements == scan.elements && depth == scan.depth);
  }

  copy = text;
  auto guarded = std::make_unique<rapidxml::xml_document<char>>();
  Check(Storage::ParseXmlDocument(copy.data(), guarded.get()) ==
        (accepted && scan.depth <= Storage::kMaxXmlDepth));
  return 0;
}
