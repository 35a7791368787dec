// The object factory's three entry points: tables from identifier or name to a creator.
#include "browserstorage/object_factory.h"

#include <string_view>

#include "browserplatform/atlcom.h"
#include "browserstorage/database_service.h"
#include "browserstorage/shared_objects.h"
#include "external/bookmark_item.h"
#include "external/database_service.h"
#include "external/extension_record.h"
#include "external/icon_object.h"
#include "external/message_loop_manager.h"
#include "external/object_list.h"
#include "external/text_value.h"
#include "external/tree_node.h"
#include "external/value_object.h"

namespace Util::Com {
namespace {

using CreateFunction = HRESULT (*)(void* outer, REFIID iid, void** out);

template <class T>
constexpr CreateFunction kCreate = &ATL::CComCreator<ATL::CComObject<T>>::CreateInstance;

struct CreatableObject {
  const IID* iid;
  CreateFunction create;
};

constexpr CreatableObject kObjectsByIid[] = {
    {&IID_IValueObject, kCreate<CValueObject>},
    {&IID_IObjectList, kCreate<CObjectList>},
    {&IID_ITreeNode, kCreate<CTreeNode>},
    {&IID_IBookmarkItem, kCreate<CBookmarkItem>},
    {&IID_IBookmarkItemProperty, kCreate<CBookmarkItem>},
    {&IID_IIconObject, kCreate<CIconObject>},
    {&IID_IExtensionRecord, kCreate<CExtensionRecord>},
    {&IID_ITextValue, kCreate<CTextValue>},
};

struct NamedObject {
  std::u16string_view name;
  const IID* iid;
  CreateFunction create;
};

constexpr NamedObject kObjectsByName[] = {
    {kTextValueInterfaceName, &IID_ITextValue, kCreate<CTextValue>},
};

}  // namespace

HRESULT CreateObjectByIID(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (const CreatableObject& object : kObjectsByIid) {
    if (*object.iid == iid) return object.create(nullptr, iid, out);
  }
  return E_NOINTERFACE;
}

HRESULT GetService(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IMessageLoopManager) {
    return CMessageLoopManager::Instance()->QueryInterface(iid, out);
  }
  if (iid == IID_IDatabaseService) return CDatabaseService::Instance()->QueryInterface(iid, out);
  return E_NOINTERFACE;
}

HRESULT CreateObjectByInterface(const OLECHAR* name, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (name == nullptr) return E_INVALIDARG;
  const std::u16string_view wanted(name);
  for (const NamedObject& object : kObjectsByName) {
    if (object.name == wanted) return object.create(nullptr, *object.iid, out);
  }
  return E_NOINTERFACE;
}

}  // namespace Util::Com
