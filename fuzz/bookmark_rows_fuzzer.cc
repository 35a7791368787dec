// Turns bytes into the rows of a "bookmark" table and builds the bookmark tree from them, as the
// bookmark database synchroniser does after reading the table.
//
// Input: one byte choosing the identifier alphabet (low bit clear: 8 identifiers, so that
// repeats and parent cycles are common; set: 1024, so that chains can nest deeper than the
// tree may), then five bytes per row: identifier (16 bits), parent identifier (16 bits) and a
// byte choosing spellings. Value 0 is the empty identifier (a top-level row for a parent). The
// spellings of one identifier differ in their code units but collate alike, or differ only
// after a NUL.
//
// Invariants checked (abort on violation): building never fails, crashes or leaks (parent
// cycles included); the model accepts every tree built; it holds no more nodes than there are
// rows.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "platform/collation_for_testing.h"
#include "storage/bookmark/bookmark_storage_sync_db.h"
#include "storage/bookmark/bookmark_tree_model.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Identifier `value` in spelling `spelling` (0 to 3); value 0 is empty, or empty up to a NUL.
std::u16string Identifier(unsigned value, unsigned spelling) {
  static const std::u16string kSpellings[] = {u"", u"\u00e9", u"e\u0301",
                                              std::u16string(u"\u00e9\0tail", 6)};
  if (value == 0) return spelling == 3 ? std::u16string(u"\0x", 2) : std::u16string();
  std::u16string id = u"n";
  for (char c : std::to_string(value)) id += static_cast<char16_t>(c);
  return id + kSpellings[spelling & 3];
}

ATL::CComBSTR Bstr(const std::u16string& text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::SetCollationLocaleForTesting("en_US");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned alphabet = (data[0] & 1) ? 1024 : 8;
  ATL::CComPtr<IObjectList> items;
  Check(SUCCEEDED(Util::Com::CreateObjectByIID(IID_IObjectList, items.ReceiveVoid())));
  UINT rows = 0;
  for (size_t at = 1; at + 5 <= size; at += 5) {
    const unsigned id = (data[at] | data[at + 1] << 8) % (alphabet + 1);
    const unsigned parent = (data[at + 2] | data[at + 3] << 8) % (alphabet + 1);
    const unsigned spellings = data[at + 4];
    ATL::CComPtr<IBookmarkItem> item;
    Check(SUCCEEDED(Util::Com::CreateObjectByIID(IID_IBookmarkItem, item.ReceiveVoid())));
    item->SetId(Bstr(Identifier(id, spellings & 3)));
    item->SetParentId(Bstr(Identifier(parent, (spellings >> 2) & 3)));
    Check(SUCCEEDED(items->Append(IID_IBookmarkItem, item)));
    ++rows;
  }

  ATL::CComPtr<IObjectList> root;
  Check(Storage::CBookmarkStorageSyncDB::BuildWholeTree(items, root.Receive()) == S_OK);
  Check(root);
  base::scoped_refptr<Storage::CBookmarkTreeModel> model(
      new Storage::CBookmarkTreeModel(base::scoped_refptr<Storage::CStorageSyncBase>()));
  Check(model->SetRoot(root) == S_OK);
  ULONG count = 0;
  Check(model->GetCount(&count) == S_OK);
  Check(count <= rows);
  return 0;
}
