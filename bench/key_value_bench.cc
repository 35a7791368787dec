// The key-value storage against SQLite doing the same work, in one run.
//
//   KeyValueGet (1 and 2 threads)  GetValue of a present key through the full cache
//   KeyValueStorageGet (1 and 2 threads)  the same through the IKeyValueStorage COM object
//   KeyValueSet                    SetValue of a changed value (copy, store, record a change)
//   KeyValueImport10k              open a storage whose XML file holds 10,000 keys: read,
//                                  parse, one value object per key
//   KeyValueWrite10k               write that storage's whole file: snapshot, XML, replace
//   SqliteSelectAll10k             baseline: select every row of a 10,000-row table
//                                  (key TEXT PRIMARY KEY, value BLOB)
//   SqliteInsert10k                baseline: one transaction of 10,000 inserts
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "storage/keyvalue/key_value_storage_base.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/keyvalue/key_value_xml.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_file_writer.h"

namespace {

constexpr int kKeys = 10000;

// A folder for the run's files, removed when the benchmarks end.
class BenchFolder {
 public:
  BenchFolder() : path_("/tmp/browser-bench-XXXXXX") {
    if (!::mkdtemp(path_.data())) std::abort();
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Folder() {
  static const BenchFolder folder;
  return folder.path();
}

std::u16string Key(int i) {
  char text[32];
  std::snprintf(text, sizeof(text), "pref.section%02d.key%05d", i % 37, i);
  return base::UTF8ToWide(text);
}

ATL::CComPtr<IValueObject> NewValue(int seed) {
  ATL::CComPtr<IValueObject> value;
  Util::Com::CreateObjectByIID(uuidof<IValueObject>(), value.ReceiveVoid());
  BYTE bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<BYTE>(seed * 31 + i);
  value->SetBuffer(bytes, sizeof(bytes));
  return value;
}

base::scoped_refptr<Storage::CKeyValueStorageCacheBase> OpenCache(const std::u16string& path) {
  base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase);
  config->SetFilePath(path);
  config->SetStorageType(1);
  config->SetCacheKind(1);
  config->SetSyncKind(2);
  config->SetWriteMode(1);
  config->SetImportOnCreate(1);
  return Storage::CKeyValueStorageCacheBase::create(config.get(), nullptr, nullptr);
}

// A 10,000-key XML file, written once.
std::u16string TenThousandKeyFile() {
  static const std::u16string path = [] {
    Storage::KeyValueMap map;
    for (int i = 0; i < kKeys; ++i) map[Key(i)] = NewValue(i);
    std::u16string file = base::UTF8ToWide(Folder() + "/tenk_v2");
    Storage::CStorageFileWriter(1).WriteToDiskA(file, Storage::ProduceKeyValueXml(map));
    return file;
  }();
  return path;
}

// The first 1000 keys, made once so that the loops time the storage, not the formatting.
const std::vector<std::u16string>& Keys() {
  static const std::vector<std::u16string> keys = [] {
    std::vector<std::u16string> out;
    for (int i = 0; i < 1000; ++i) out.push_back(Key(i));
    return out;
  }();
  return keys;
}

void BM_KeyValueGet(benchmark::State& state) {
  static base::scoped_refptr<Storage::CKeyValueStorageCacheBase> cache;
  const std::vector<std::u16string>& keys = Keys();
  if (state.thread_index() == 0) {
    cache = OpenCache(base::UTF8ToWide(Folder() + "/get_v2"));
    for (int i = 0; i < 1000; ++i) cache->SetValue(keys[i], NewValue(i));
  }
  int i = state.thread_index() * 7;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cache->GetValue(keys[i % 1000]));
    i += 13;
  }
  if (state.thread_index() == 0) cache.reset();
}
BENCHMARK(BM_KeyValueGet)->Threads(1)->Threads(2)->UseRealTime();

void BM_KeyValueStorageGet(benchmark::State& state) {
  static ATL::CComPtr<IKeyValueStorage> storage;
  static std::vector<ATL::CComBSTR> keys;
  if (state.thread_index() == 0) {
    base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase);
    auto cache = OpenCache(base::UTF8ToWide(Folder() + "/storage_get_v2"));
    for (int i = 0; i < 1000; ++i) {
      keys.emplace_back(Keys()[i].c_str());
      cache->SetValue(Keys()[i], NewValue(i));
    }
    ATL::CComObject<Storage::CKeyValueStorageBase>* object = nullptr;
    ATL::CComObject<Storage::CKeyValueStorageBase>::CreateInstance(&object);
    storage = object;
    object->Attach(config.get(), cache.get());
  }
  ATL::CComPtr<IValueObject> out = NewValue(0);
  int i = state.thread_index() * 7;
  for (auto _ : state) {
    benchmark::DoNotOptimize(storage->GetValue(keys[i % 1000], out));
    i += 13;
  }
  if (state.thread_index() == 0) {
    storage.Release();
    keys.clear();
  }
}
BENCHMARK(BM_KeyValueStorageGet)->Threads(1)->Threads(2)->UseRealTime();

void BM_KeyValueSet(benchmark::State& state) {
  auto cache = OpenCache(base::UTF8ToWide(Folder() + "/set_v2"));
  std::vector<ATL::CComPtr<IValueObject>> values = {NewValue(1), NewValue(2)};
  const std::vector<std::u16string>& keys = Keys();
  int i = 0;
  for (auto _ : state) {
    cache->SetValue(keys[i % 1000], values[(i / 1000) % 2]);
    ++i;
  }
  cache.reset();  // the final write, after the timed loop
}
BENCHMARK(BM_KeyValueSet);

void BM_KeyValueImport10k(benchmark::State& state) {
  std::u16string path = TenThousandKeyFile();
  for (auto _ : state) {
    auto cache = OpenCache(path);
    if (cache->GetCount() != kKeys) state.SkipWithError("import lost keys");
    state.PauseTiming();
    cache.reset();  // the final write is measured by KeyValueWrite10k
    state.ResumeTiming();
  }
}
BENCHMARK(BM_KeyValueImport10k)->Unit(benchmark::kMillisecond);

void BM_KeyValueWrite10k(benchmark::State& state) {
  auto cache = OpenCache(TenThousandKeyFile());
  std::u16string target = base::UTF8ToWide(Folder() + "/write_v2");
  Storage::CStorageFileWriter writer(2);
  for (auto _ : state) {
    Storage::KeyValueMap snapshot;
    cache->CopyAll(&snapshot);
    writer.WriteToDiskA(target, Storage::ProduceKeyValueXml(snapshot));
  }
}
BENCHMARK(BM_KeyValueWrite10k)->Unit(benchmark::kMillisecond);

sqlite3* OpenSqlite(const std::string& path) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE ItemTable (key TEXT PRIMARY KEY, value BLOB)", nullptr, nullptr,
               nullptr);
  return db;
}

void InsertAll(sqlite3* db) {
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO ItemTable (key, value) VALUES (?, ?)", -1, &insert,
                     nullptr);
  BYTE bytes[16] = {};
  for (int i = 0; i < kKeys; ++i) {
    std::string key = base::WideToUTF8(Key(i));
    sqlite3_bind_text(insert, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 2, bytes, sizeof(bytes), SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

void BM_SqliteSelectAll10k(benchmark::State& state) {
  sqlite3* db = OpenSqlite(Folder() + "/select.db");
  InsertAll(db);
  for (auto _ : state) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT key, value FROM ItemTable", -1, &select, nullptr);
    int rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(select, 0));
      benchmark::DoNotOptimize(sqlite3_column_blob(select, 1));
      ++rows;
    }
    sqlite3_finalize(select);
    if (rows != kKeys) state.SkipWithError("rows lost");
  }
  sqlite3_close(db);
}
BENCHMARK(BM_SqliteSelectAll10k)->Unit(benchmark::kMillisecond);

void BM_SqliteInsert10k(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = OpenSqlite(Folder() + "/insert.db");
    state.ResumeTiming();
    InsertAll(db);
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SqliteInsert10k)->Unit(benchmark::kMillisecond);

}  // namespace
