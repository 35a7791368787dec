// The key-value storage against SQLite doing the same work, in one run.
//
//   KeyValueImportMemory           open a storage whose XML file holds 1.7 million keys of 17
//                                  characters with 2-8 byte values (~100 MB), once, in a child
//                                  process. Counters: peak_bytes and steady_bytes, the resident
//                                  memory the import added at its high-water mark and once it
//                                  is done; peak_per_entry and steady_per_entry, the same per
//                                  entry beyond its payload_per_entry (the key's UTF-16 bytes,
//                                  as the cache holds keys, plus the value's bytes);
//                                  trimmed_per_entry, steady once the heap has returned its
//                                  free pages (malloc_trim): what the entries keep, without what
//                                  the import freed but the heap still holds
//   KeyValueStoreMemory            the same items stored one by one with PutImportedValue, no
//                                  file: what the entries themselves keep, same counters
//   KeyValueBulkStoreMemory        the same items built into a map and handed over whole with
//                                  PutImportedValues: the peak shows that nothing is copied
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
#include <malloc.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
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

ATL::CComPtr<IValueObject> NewValue(const BYTE* bytes, ULONG length) {
  ATL::CComPtr<IValueObject> value;
  Util::Com::CreateObjectByIID(uuidof<IValueObject>(), value.ReceiveVoid());
  value->SetBuffer(bytes, length);
  return value;
}

ATL::CComPtr<IValueObject> NewValue(int seed) {
  BYTE bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<BYTE>(seed * 31 + i);
  return NewValue(bytes, sizeof(bytes));
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

// 1.7 million items, as many as a heavy user's preferences: keys of 17 characters in order,
// values of 2 to 8 bytes. As an XML file that is ~100 MB.
constexpr int kBulkItems = 1700000;

struct BulkItem {
  char key[24];
  int key_length;
  BYTE value[8];
  ULONG value_length;
};

BulkItem MakeBulkItem(int i) {
  BulkItem item;
  item.key_length =
      std::snprintf(item.key, sizeof(item.key), "pref.s%02d.k%07d", i / (kBulkItems / 37 + 1), i);
  item.value_length = 2 + i % 7;
  for (ULONG b = 0; b < item.value_length; ++b) item.value[b] = static_cast<BYTE>(i >> (b % 4 * 8));
  return item;
}

// The bytes an entry cannot do without: its key in UTF-16, as the cache holds keys, and its
// value's bytes; the average over the items.
double BulkPayloadPerEntry() {
  static const double payload = [] {
    double bytes = 0;
    for (int i = 0; i < kBulkItems; ++i) {
      const BulkItem item = MakeBulkItem(i);
      bytes += 2.0 * item.key_length + item.value_length;
    }
    return bytes / kBulkItems;
  }();
  return payload;
}

// The items as the storage writes them, a line at a time so that making the file leaves the
// heap alone.
std::u16string BulkKeyValueFile() {
  static const std::u16string path = [] {
    const std::string file = Folder() + "/bulk_v2";
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream == nullptr) std::abort();
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ItemTable version=\"1.0\">\r\n",
               stream);
    for (int i = 0; i < kBulkItems; ++i) {
      const BulkItem item = MakeBulkItem(i);
      const std::string hex = base::BytesToHexA(item.value, item.value_length);
      std::fprintf(stream, "<Item key=\"%s\" value=\"%s\">\r\n</Item>\r\n", item.key, hex.c_str());
    }
    std::fputs("</ItemTable>\r\n", stream);
    if (std::fclose(stream) != 0) std::abort();
    return base::UTF8ToWide(file);
  }();
  return path;
}

// A field of /proc/self/status given in kB ("VmRSS:", "VmHWM:"), in bytes; -1 when unreadable.
double StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, std::strlen(field), field) == 0) {
      return 1024.0 * std::strtod(line.c_str() + std::strlen(field), nullptr);
    }
  }
  return -1;
}

struct MemoryFigures {
  double before = -1;   // resident bytes before the work
  double peak = -1;     // the high-water mark during it
  double after = -1;    // resident bytes with the filled cache alive
  double trimmed = -1;  // the same once the heap has given its free pages back
  ULONG count = 0;      // keys in that cache
};

// Runs `fill` (which returns the cache it filled) in a forked child whose high-water mark is
// reset first, so that neither the other cases' heap nor this case's leftovers skew the
// figures. False when the child failed.
template <class Fill>
bool MeasureInChild(Fill fill, MemoryFigures* figures) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    MemoryFigures measured;
    std::ofstream clear_refs("/proc/self/clear_refs");
    clear_refs << "5" << std::flush;  // the high-water mark restarts from the current RSS
    const bool reset = clear_refs.good();
    measured.before = StatusBytes("VmRSS:");
    base::scoped_refptr<Storage::CKeyValueStorageCacheBase> cache = fill();
    measured.count = cache ? cache->GetCount() : 0;
    measured.peak = StatusBytes("VmHWM:");
    measured.after = StatusBytes("VmRSS:");
    ::malloc_trim(0);
    measured.trimmed = StatusBytes("VmRSS:");
    const bool sent = ::write(pipe_ends[1], &measured, sizeof(measured)) == sizeof(measured);
    // No destructors: the cache's final write of 100 MB is not what is measured.
    ::_exit(reset && sent ? 0 : 1);
  }
  ::close(pipe_ends[1]);
  bool received = false;
  if (child > 0) {
    received = ::read(pipe_ends[0], figures, sizeof(*figures)) == sizeof(*figures);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      received = false;
    }
  }
  ::close(pipe_ends[0]);
  return received && figures->before >= 0 && figures->peak >= 0 && figures->after >= 0 &&
         figures->trimmed >= 0;
}

template <class Fill>
void MeasureMemory(benchmark::State& state, Fill fill) {
  const double payload = BulkPayloadPerEntry();
  MemoryFigures figures;
  for (auto _ : state) {
    if (!MeasureInChild(fill, &figures)) {
      state.SkipWithError("the measuring child process failed");
      return;
    }
  }
  if (figures.count != kBulkItems) {
    state.SkipWithError("keys lost");
    return;
  }
  const double peak = figures.peak - figures.before;
  const double steady = figures.after - figures.before;
  state.counters["payload_per_entry"] = payload;
  state.counters["peak_bytes"] = peak;
  state.counters["steady_bytes"] = steady;
  state.counters["peak_per_entry"] = peak / kBulkItems - payload;
  state.counters["steady_per_entry"] = steady / kBulkItems - payload;
  state.counters["trimmed_per_entry"] = (figures.trimmed - figures.before) / kBulkItems - payload;
}

// The memory cases come first in the file, so that they run before the others have used the
// heap that their children start from.
void BM_KeyValueImportMemory(benchmark::State& state) {
  const std::u16string path = BulkKeyValueFile();
  MeasureMemory(state, [&] { return OpenCache(path); });
}
BENCHMARK(BM_KeyValueImportMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_KeyValueStoreMemory(benchmark::State& state) {
  const std::u16string path = base::UTF8ToWide(Folder() + "/store_v2");  // never written
  MeasureMemory(state, [&] {
    auto cache = OpenCache(path);
    std::u16string key;
    for (int i = 0; i < kBulkItems; ++i) {
      const BulkItem item = MakeBulkItem(i);
      key.assign(item.key, item.key + item.key_length);
      cache->PutImportedValue(key, NewValue(item.value, item.value_length));
    }
    return cache;
  });
}
BENCHMARK(BM_KeyValueStoreMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_KeyValueBulkStoreMemory(benchmark::State& state) {
  const std::u16string path = base::UTF8ToWide(Folder() + "/bulk_store_v2");  // never written
  MeasureMemory(state, [&] {
    auto cache = OpenCache(path);
    Storage::KeyValueMap values;
    for (int i = 0; i < kBulkItems; ++i) {
      const BulkItem item = MakeBulkItem(i);
      values.emplace_hint(values.end(), std::u16string(item.key, item.key + item.key_length),
                          NewValue(item.value, item.value_length));
    }
    cache->PutImportedValues(std::move(values));
    return cache;
  });
}
BENCHMARK(BM_KeyValueBulkStoreMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

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
