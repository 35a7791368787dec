// Storage::CExtensionStorageModel: the extension database in memory, two tables of extension
// rows keyed by extension identifier (the installed list and the update list), and their
// conversion to and from the database's JSON document (format in docs/formats.md, "Extension
// database").
//
// Every change is reported to the synchroniser (RecordSet with the row's identifier, "1001" for
// ClearUpdateList), which rewrites the whole file later; an empty identifier schedules nothing.
//
// Import gate: every operation on the tables first waits, without time-out and before it takes
// any lock, until the synchroniser's import has finished; an import posted to the sync thread
// would otherwise overwrite or bring back rows that callers changed meanwhile. Decode and
// Encode do not wait: the import and the syncs call them.
//
// Thread safety: any thread. Each table has its own lock and no operation holds both.
// SetExtensionState, SetExtensionType, RemoveExtension and UpdateExtension report their change
// while they hold the installed table's lock. Lock order: the synchroniser's own lock, a
// table's lock, the synchroniser base's change-list lock. No outside object (record, list) is
// called with a lock held but for the list and records the model creates itself.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"
#include "browserstorage/shared_objects.h"
#include "storage/sync/storage_in_mem_structure.h"

namespace Storage {

class CStorageConfigBase;
class CStorageSyncManager;
class CStorageSyncTimer;

// One extension row.
struct ExtensionRecord {
  std::u16string extId;  // also the table key
  std::u16string path;
  std::u16string manifest;  // JSON text
  int type = 0;
  int state = 0;

  bool operator==(const ExtensionRecord&) const = default;
};

// extId -> row, in ordinal order of the identifiers (std::u16string compares char16_t, an
// unsigned type, unit by unit; a prefix comes first).
using ExtensionTable = std::map<std::u16string, ExtensionRecord>;

// The key ClearUpdateList reports its change under.
inline constexpr char16_t kClearUpdateListKey[] = u"1001";

class CExtensionStorageModel : public CStorageInMemStructure {
 public:
  // The model for `config` (borrowed for the call) when its cache kind is 1 (full), with the
  // synchroniser CStorageSyncBase::create picks for it, imported before this returns when
  // `config` asks for an import on create. Null for any other cache kind or a null `config`.
  static base::scoped_refptr<CExtensionStorageModel> create(CStorageConfigBase* config,
                                                            CStorageSyncManager* sync_manager,
                                                            CStorageSyncTimer* sync_timer);

  // A model with no synchroniser: it lives in memory only. A derived class (a test's) may give
  // it one with SetSynchroniser.
  explicit CExtensionStorageModel(std::u16string file_path, int write_mode = 1);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2); the results are those
  // of IExtensionStorage (browserstorage/extension_storage.h).
  virtual HRESULT AddExtension(IExtensionRecord* record);                          // slot 3
  virtual HRESULT GetExtensionList(INT unused1, INT unused2, IObjectList** list);  // slot 4
  virtual HRESULT SetExtensionState(BSTR ext_id, INT state);                       // slot 5
  virtual HRESULT SetExtensionType(BSTR ext_id, INT type);                         // slot 6
  virtual HRESULT RemoveExtension(BSTR ext_id);                                    // slot 7
  virtual HRESULT GetUpdateList(IObjectList** list);                               // slot 8
  virtual HRESULT AddUpdateItem(IExtensionRecord* record);                         // slot 9
  virtual HRESULT ClearUpdateList();                                               // slot 10
  virtual HRESULT ReservedOperation();                                             // slot 11
  virtual HRESULT UpdateExtension(BSTR ext_id, IExtensionRecord* record);          // slot 12
  virtual HRESULT GetStoragePath(BSTR* path);                                      // slot 13

  // Fills both tables from the database document `text`, replacing rows with the same
  // identifier, and records no change. True when the document was taken whole; false when it
  // is not a JSON object, or holds text after it, or parts the tables cannot hold (a "list" or
  // "updatelist" that is not an array, an element that is not an object, a member of the wrong
  // type or an unknown one). What can be read is loaded in every case: a row lacking members
  // is kept with the empty string or 0 for them, a member of the wrong type reads as the empty
  // string (so as 0 for "state" and "type"), and of two rows with one identifier the later
  // wins. A "manifest" string is taken as the text itself, any other value as its compact
  // text.
  bool DecodeExtensionDb(const std::u16string& text);
  // The database document of both tables: compact JSON, "updatelist" only when the update list
  // has rows. A manifest text that holds exactly one JSON value other than a string is embedded
  // as that value; any other text is written as a JSON string, so that Decode gives it back as
  // it stands.
  void EncodeExtensionDb(std::u16string* text);

  // The file writer's mode from the configuration.
  int GetWriteMode() const { return write_mode_; }
  const std::u16string& file_path() const { return file_path_; }

 protected:
  // Builds the empty tables, then the synchroniser for `config` (borrowed for the call), which
  // may import the file before this returns.
  CExtensionStorageModel(CStorageConfigBase* config, CStorageSyncManager* sync_manager,
                         CStorageSyncTimer* sync_timer);
  // Writes a last time through the synchroniser while the tables are still here.
  ~CExtensionStorageModel() override;

 private:
  // The import gate: returns once the synchroniser's import has finished.
  void AwaitImport();
  // One table and the lock that guards it.
  struct Table {
    base::CLock lock;
    ExtensionTable rows GUARDED_BY(lock);
  };

  // Stores a copy of `record` in `table` and reports it.
  HRESULT AddTo(Table& table, IExtensionRecord* record);
  // A new list of new records, one per row of `table`.
  HRESULT ListOf(Table& table, IObjectList** list);
  // Fills `table` with `rows`, later rows replacing earlier ones with the same identifier.
  static void Load(Table& table, std::vector<ExtensionRecord>&& rows);
  static std::vector<ExtensionRecord> Snapshot(Table& table);
  // Sets one field of the installed row `ext_id`.
  HRESULT SetInstalledField(BSTR ext_id, int ExtensionRecord::*field, INT value);
  void Report(const std::u16string& key);

  Table installed_;
  Table update_;
  const std::u16string file_path_;
  // Set before the synchroniser is built: its file writer is made with this mode.
  const int write_mode_;
  std::atomic<int> import_awaited_{0};
};

}  // namespace Storage
