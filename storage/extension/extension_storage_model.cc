#include "storage/extension/extension_storage_model.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/json_value.h"
#include "base/trace.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {
namespace {

using base::CJsonValue;

constexpr char16_t kDataVersion[] = u"dataversion";
constexpr char16_t kDbVersion[] = u"dbversion";
constexpr char16_t kList[] = u"list";
constexpr char16_t kUpdateList[] = u"updatelist";
constexpr char16_t kVersionText[] = u"0.0.0.0";
constexpr char16_t kExtId[] = u"extId";
constexpr char16_t kManifest[] = u"manifest";
constexpr char16_t kPath[] = u"path";
constexpr char16_t kState[] = u"state";
constexpr char16_t kType[] = u"type";
constexpr char16_t kJsonWhiteSpace[] = u" \t\r\n";

// A string up to its first NUL (null is empty). Out of memory throws E_OUTOFMEMORY, as every
// string copy of the system does.
std::u16string TextOf(const OLECHAR* text) {
  if (text == nullptr) return std::u16string();
  try {
    return std::u16string(text);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
}

// A new BSTR holding `text` whole, for an outside object to copy.
ATL::CComBSTR BstrOf(const std::u16string& text) {
  ATL::CComBSTR copy(text.data(), static_cast<UINT>(text.size()));
  if (copy.get() == nullptr) throw CHResultException(E_OUTOFMEMORY);
  return copy;
}

HRESULT ReadString(IExtensionRecord* record,
                   HRESULT (STDMETHODCALLTYPE IExtensionRecord::*get)(BSTR*), std::u16string* out) {
  ATL::CComBSTR text;
  HRESULT result = (record->*get)(text.Receive());
  if (FAILED(result)) return result;
  *out = TextOf(text.get());
  return S_OK;
}

// The fields of `record`; its identifier too when `with_id`. The first failing getter's code,
// with `out` then partly filled.
HRESULT ReadRecord(IExtensionRecord* record, bool with_id, ExtensionRecord* out) {
  HRESULT result = S_OK;
  if (with_id) result = ReadString(record, &IExtensionRecord::GetExtensionId, &out->extId);
  if (SUCCEEDED(result)) result = record->GetType(&out->type);
  if (SUCCEEDED(result)) result = record->GetState(&out->state);
  if (SUCCEEDED(result)) result = ReadString(record, &IExtensionRecord::GetPath, &out->path);
  if (SUCCEEDED(result)) {
    result = ReadString(record, &IExtensionRecord::GetManifest, &out->manifest);
  }
  return result;
}

// --- The document ---------------------------------------------------------------------------

// The value `text` holds when it holds exactly one JSON value and otherwise only white space;
// null when it does not parse or carries more (text after the value, a NUL and what follows).
std::unique_ptr<CJsonValue> ParseWhole(const std::u16string& text) {
  std::unique_ptr<CJsonValue> value = CJsonValue::Parse(text.c_str());
  if (!value) return nullptr;
  const size_t last = text.find_last_not_of(kJsonWhiteSpace);
  if (last == std::u16string::npos) return nullptr;
  if (value->GetType() == base::JSON_NUMBER) {
    // A shorter number parses too; only the form the writer gives back counts as whole.
    const size_t first = text.find_first_not_of(kJsonWhiteSpace);
    if (std::u16string_view(text).substr(first, last + 1 - first) != value->Serialize()) {
      return nullptr;
    }
    return value;
  }
  // The reader makes one pass and cannot finish a string, keyword or container before its last
  // character: the value ends at `last` exactly when the text without it does not parse.
  const std::u16string shorter = text.substr(0, last);
  if (CJsonValue::Parse(shorter.c_str())) return nullptr;
  return value;
}

std::u16string DecimalText(int value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Leading white space, an optional sign, decimal digits up to the first other character; no
// digits give 0, and values beyond the 32-bit range stop at its ends.
int IntegerOf(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The deepest nesting of arrays and objects in `value` (0 for a scalar), walked without
// recursion.
int DepthOf(const CJsonValue& value) {
  int deepest = 0;
  std::vector<std::pair<const CJsonValue*, int>> pending{{&value, 1}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (node->IsArray()) {
      deepest = std::max(deepest, depth);
      for (const auto& element : node->GetArray()) pending.emplace_back(element.get(), depth + 1);
    } else if (node->IsObject()) {
      deepest = std::max(deepest, depth);
      for (const auto& member : node->GetObject()) {
        pending.emplace_back(member.second.get(), depth + 1);
      }
    }
  }
  return deepest;
}

// A manifest sits inside the document, the list and its row: three levels the reader counts.
constexpr int kMaxManifestDepth = base::kMaxJsonDepth - 3;

std::unique_ptr<CJsonValue> ManifestValue(const std::u16string& manifest) {
  std::unique_ptr<CJsonValue> value = ParseWhole(manifest);
  // A JSON string would come back as its content, and a value nested too deep would make the
  // whole file unreadable: the text itself, as a string, comes back whole.
  if (!value || value->GetType() == base::JSON_STRING || DepthOf(*value) > kMaxManifestDepth) {
    return std::make_unique<CJsonValue>(manifest);
  }
  return value;
}

std::unique_ptr<CJsonValue> RowValue(const ExtensionRecord& row) {
  CJsonValue::Object members;
  members.emplace(kExtId, std::make_unique<CJsonValue>(row.extId));
  members.emplace(kManifest, ManifestValue(row.manifest));
  members.emplace(kPath, std::make_unique<CJsonValue>(row.path));
  members.emplace(kState, std::make_unique<CJsonValue>(DecimalText(row.state)));
  members.emplace(kType, std::make_unique<CJsonValue>(DecimalText(row.type)));
  return std::make_unique<CJsonValue>(std::move(members));
}

std::unique_ptr<CJsonValue> ArrayOf(const std::vector<ExtensionRecord>& rows) {
  CJsonValue::Array elements;
  elements.reserve(rows.size());
  for (const ExtensionRecord& row : rows) elements.push_back(RowValue(row));
  return std::make_unique<CJsonValue>(std::move(elements));
}

// A string member's text; a member of another type reads as the empty string and makes the
// document not whole. A missing member is the empty string.
std::u16string StringMember(const CJsonValue& value, bool* whole) {
  if (value.GetType() == base::JSON_STRING) return value.GetString();
  *whole = false;
  return std::u16string();
}

// The rows of one array of the document, in document order.
std::vector<ExtensionRecord> RowsOf(const CJsonValue& array, bool* whole) {
  std::vector<ExtensionRecord> rows;
  rows.reserve(array.GetArray().size());
  for (const std::unique_ptr<CJsonValue>& element : array.GetArray()) {
    if (!element->IsObject()) {
      *whole = false;
      continue;
    }
    ExtensionRecord row;
    for (const auto& [name, member] : element->GetObject()) {
      if (name == kExtId) {
        row.extId = StringMember(*member, whole);
      } else if (name == kPath) {
        row.path = StringMember(*member, whole);
      } else if (name == kState) {
        row.state = IntegerOf(StringMember(*member, whole));
      } else if (name == kType) {
        row.type = IntegerOf(StringMember(*member, whole));
      } else if (name == kManifest) {
        row.manifest =
            member->GetType() == base::JSON_STRING ? member->GetString() : member->Serialize();
      } else {
        *whole = false;  // the next write would drop it
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

base::scoped_refptr<CExtensionStorageModel> CExtensionStorageModel::create(
    CStorageConfigBase* config, CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer) {
  base::CFunctionTrace trace(u"Storage::CExtensionStorageModel::create");
  if (config == nullptr || config->GetCacheKind() != kCacheKindFull) return nullptr;
  return base::scoped_refptr<CExtensionStorageModel>(
      new CExtensionStorageModel(config, sync_manager, sync_timer));
}

CExtensionStorageModel::CExtensionStorageModel(std::u16string file_path, int write_mode)
    : file_path_(std::move(file_path)), write_mode_(write_mode) {}

CExtensionStorageModel::CExtensionStorageModel(CStorageConfigBase* config,
                                               CStorageSyncManager* sync_manager,
                                               CStorageSyncTimer* sync_timer)
    : file_path_(config->GetFilePath()), write_mode_(config->GetWriteMode()) {
  CreateSynchroniser(config, sync_manager, sync_timer, nullptr);
}

CExtensionStorageModel::~CExtensionStorageModel() { RunFinalSync(); }

void CExtensionStorageModel::AwaitImport() {
  if (import_awaited_.load(std::memory_order_acquire)) return;
  if (CStorageSyncBase* sync = synchroniser()) {
    sync->WaitForImport();
    import_awaited_.store(1, std::memory_order_release);
  }
}

void CExtensionStorageModel::Report(const std::u16string& key) {
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(key, nullptr, 0);
}

HRESULT CExtensionStorageModel::AddTo(Table& table, IExtensionRecord* record) {
  if (record == nullptr) return E_FAIL;
  // Read before any lock: the record is the caller's object.
  ExtensionRecord row;
  HRESULT result = ReadRecord(record, /*with_id=*/true, &row);
  if (FAILED(result)) return result;
  const std::u16string key = row.extId;
  AwaitImport();
  {
    base::CAutoLock guard(table.lock);
    table.rows.insert_or_assign(key, std::move(row));
  }
  Report(key);
  return S_OK;
}

HRESULT CExtensionStorageModel::ListOf(Table& table, IObjectList** list) {
  if (list == nullptr) return E_STORAGE_INVALIDARG;
  *list = nullptr;
  AwaitImport();
  ATL::CComPtr<IObjectList> result;
  if (FAILED(Util::Com::CreateObjectByIID(IID_IObjectList, result.ReceiveVoid())) || !result) {
    return E_FAIL;
  }
  {
    base::CAutoLock guard(table.lock);
    for (const auto& [key, row] : table.rows) {
      ATL::CComPtr<IExtensionRecord> record;
      if (FAILED(Util::Com::CreateObjectByIID(IID_IExtensionRecord, record.ReceiveVoid())) ||
          !record) {
        continue;  // left out of the list, without an error
      }
      // A record that does not take all five fields is left out like one not made at all.
      if (FAILED(record->SetExtensionId(BstrOf(row.extId))) ||
          FAILED(record->SetState(row.state)) || FAILED(record->SetType(row.type)) ||
          FAILED(record->SetPath(BstrOf(row.path))) ||
          FAILED(record->SetManifest(BstrOf(row.manifest)))) {
        continue;
      }
      result->Append(IID_IExtensionRecord, record);
    }
  }
  *list = result.Detach();
  return S_OK;
}

HRESULT CExtensionStorageModel::SetInstalledField(BSTR ext_id, int ExtensionRecord::*field,
                                                  INT value) {
  const std::u16string key = TextOf(ext_id);
  AwaitImport();
  base::CAutoLock guard(installed_.lock);
  auto found = installed_.rows.find(key);
  if (found == installed_.rows.end()) return E_FAIL;
  found->second.*field = value;
  Report(found->first);
  return S_OK;
}

HRESULT CExtensionStorageModel::AddExtension(IExtensionRecord* record) {
  return AddTo(installed_, record);
}

HRESULT CExtensionStorageModel::GetExtensionList(INT /*unused1*/, INT /*unused2*/,
                                                 IObjectList** list) {
  return ListOf(installed_, list);
}

HRESULT CExtensionStorageModel::SetExtensionState(BSTR ext_id, INT state) {
  return SetInstalledField(ext_id, &ExtensionRecord::state, state);
}

HRESULT CExtensionStorageModel::SetExtensionType(BSTR ext_id, INT type) {
  return SetInstalledField(ext_id, &ExtensionRecord::type, type);
}

HRESULT CExtensionStorageModel::RemoveExtension(BSTR ext_id) {
  const std::u16string key = TextOf(ext_id);
  AwaitImport();
  base::CAutoLock guard(installed_.lock);
  if (installed_.rows.erase(key) == 0) return E_FAIL;
  Report(key);
  return S_OK;
}

HRESULT CExtensionStorageModel::GetUpdateList(IObjectList** list) { return ListOf(update_, list); }

HRESULT CExtensionStorageModel::AddUpdateItem(IExtensionRecord* record) {
  return AddTo(update_, record);
}

HRESULT CExtensionStorageModel::ClearUpdateList() {
  AwaitImport();
  ExtensionTable cleared;
  {
    base::CAutoLock guard(update_.lock);
    cleared.swap(update_.rows);
  }
  // Even an empty list is written again.
  Report(kClearUpdateListKey);
  return S_OK;
}

HRESULT CExtensionStorageModel::ReservedOperation() { return E_NOTIMPL; }

HRESULT CExtensionStorageModel::UpdateExtension(BSTR ext_id, IExtensionRecord* record) {
  if (record == nullptr) return E_STORAGE_INVALIDARG;
  const std::u16string key = TextOf(ext_id);
  ExtensionRecord fields;
  HRESULT result = ReadRecord(record, /*with_id=*/false, &fields);
  if (FAILED(result)) return result;
  AwaitImport();
  base::CAutoLock guard(installed_.lock);
  auto found = installed_.rows.find(key);
  if (found == installed_.rows.end()) return E_FAIL;
  ExtensionRecord& row = found->second;
  row.type = fields.type;
  row.state = fields.state;
  row.path = std::move(fields.path);
  row.manifest = std::move(fields.manifest);
  Report(row.extId);
  return S_OK;
}

HRESULT CExtensionStorageModel::GetStoragePath(BSTR* path) {
  if (path == nullptr) return E_STORAGE_INVALIDARG;
  *path = nullptr;
  if (file_path_.empty()) return E_FAIL;
  *path = BstrOf(file_path_).Detach();
  return S_OK;
}

void CExtensionStorageModel::Load(Table& table, std::vector<ExtensionRecord>&& rows) {
  base::CAutoLock guard(table.lock);
  for (ExtensionRecord& row : rows) {
    std::u16string key = row.extId;
    table.rows.insert_or_assign(std::move(key), std::move(row));
  }
}

std::vector<ExtensionRecord> CExtensionStorageModel::Snapshot(Table& table) {
  std::vector<ExtensionRecord> rows;
  base::CAutoLock guard(table.lock);
  rows.reserve(table.rows.size());
  for (const auto& entry : table.rows) rows.push_back(entry.second);
  return rows;
}

bool CExtensionStorageModel::DecodeExtensionDb(const std::u16string& text) {
  std::unique_ptr<CJsonValue> document = ParseWhole(text);
  bool whole = document != nullptr;
  if (!document) document = CJsonValue::Parse(text.c_str());  // what there is, before the rest
  if (!document || !document->IsObject()) return false;

  std::vector<ExtensionRecord> rows[2];  // the installed list, the update list
  for (const auto& [name, member] : document->GetObject()) {
    if (name == kDataVersion || name == kDbVersion) continue;  // written, never read
    int which = name == kList ? 0 : name == kUpdateList ? 1 : -1;
    if (which < 0 || !member->IsArray()) {
      whole = false;
      continue;
    }
    rows[which] = RowsOf(*member, &whole);
  }
  Load(installed_, std::move(rows[0]));
  Load(update_, std::move(rows[1]));
  return whole;
}

void CExtensionStorageModel::EncodeExtensionDb(std::u16string* text) {
  if (text == nullptr) return;
  // Copies under the locks; the manifests are parsed and the text built without them.
  const std::vector<ExtensionRecord> installed = Snapshot(installed_);
  const std::vector<ExtensionRecord> update = Snapshot(update_);
  CJsonValue::Object members;
  members.emplace(kDataVersion, std::make_unique<CJsonValue>(kVersionText));
  members.emplace(kDbVersion, std::make_unique<CJsonValue>(kVersionText));
  members.emplace(kList, ArrayOf(installed));
  if (!update.empty()) members.emplace(kUpdateList, ArrayOf(update));
  *text = CJsonValue(std::move(members)).Serialize();
}

}  // namespace Storage
