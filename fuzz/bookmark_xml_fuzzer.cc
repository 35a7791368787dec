// Feeds arbitrary bytes to the bookmark file reader, as a file read from disk reaches it.
//
// Invariants checked (abort on violation): decoding never crashes or leaks and hands out
// nothing when it fails; every tree it hands out can be written (the reader accepts no nesting
// the writer refuses); the file written is byte for byte what rapidxml's own printer makes of
// it; it decodes to the same tree, except that strings end at their first NUL, which the file
// cannot carry; and writing that tree again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "storage/bookmark/bookmark_model_xml_coder.h"
#include "tests/bookmark/bookmark_tree_values.h"

namespace {

using bookmark_test::Node;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CutAtNul(std::u16string* text) {
  const size_t nul = text->find(u'\0');
  if (nul != std::u16string::npos) text->resize(nul);
}

void CutStringsAtNul(std::vector<Node>* nodes) {
  for (Node& node : *nodes) {
    CutAtNul(&node.id);
    CutAtNul(&node.parent_id);
    if (node.item) {
      for (std::u16string* text : {&node.item->id, &node.item->title, &node.item->parent_id,
                                   &node.item->url, &node.item->icon_url, &node.item->note}) {
        CutAtNul(text);
      }
    }
    CutStringsAtNul(&node.children);
  }
}

// The root list decoded from `text`; null when the coder refuses it.
ATL::CComPtr<IObjectList> Decode(Storage::CBookmarkModelXMLCoder* coder, std::string text) {
  IObjectList* root = reinterpret_cast<IObjectList*>(&text);  // must be cleared on failure
  if (!coder->DecodeFromString(text.data(), text.size(), &root)) {
    Check(root == nullptr);
    return nullptr;
  }
  Check(root != nullptr);
  ATL::CComPtr<IObjectList> owned;
  owned.Attach(root);
  return owned;
}

std::string Encode(Storage::CBookmarkModelXMLCoder* coder, IObjectList* root) {
  std::string text;
  Check(coder->EncodeToString(root, &text));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The file reader hands the coder a NUL-terminated buffer to parse in place.
  const std::string input(reinterpret_cast<const char*>(data), size);
  Storage::CBookmarkModelXMLCoder coder;
  ATL::CComPtr<IObjectList> root = Decode(&coder, input);
  if (!root) return 0;

  const std::string written = Encode(&coder, root);
  Check(bookmark_test::Reprinted(written) == written);
  ATL::CComPtr<IObjectList> reread = Decode(&coder, written);
  Check(reread != nullptr);
  std::vector<Node> tree = bookmark_test::Read(root);
  CutStringsAtNul(&tree);
  Check(bookmark_test::Read(reread) == tree);
  Check(Encode(&coder, reread) == written);
  return 0;
}
