// The key-value XML document on its own, without files or caches.
//
//   KeyValueXmlParse10k     ParseKeyValueXml of a written 10,000-key document (the keys and
//                           values of key_value_bench)
//   KeyValueXmlProduce10k   ProduceKeyValueXml of those 10,000 keys
//   KeyValueXmlParseMemory  one parse of a 100 MB document of 1.7 million small items; counters
//                           in multiples of the document's size, above the memory the document
//                           itself takes: peak_x at the peak of the parse, held_x what the parsed
//                           map holds afterwards. peak_x - held_x is what the parse needs on top
//                           of its result.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/string_conversions.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_xml.h"

namespace {

constexpr int kKeys = 10000;

const std::string& TenThousandKeyDocument() {
  static const std::string document = [] {
    Storage::KeyValueMap map;
    for (int i = 0; i < kKeys; ++i) {
      char key[32];
      std::snprintf(key, sizeof(key), "pref.section%02d.key%05d", i % 37, i);
      ATL::CComPtr<IValueObject> value;
      Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid());
      BYTE bytes[16];
      for (int j = 0; j < 16; ++j) bytes[j] = static_cast<BYTE>(i * 31 + j);
      value->SetBuffer(bytes, sizeof(bytes));
      map[base::UTF8ToWide(key)] = value;
    }
    return Storage::ProduceKeyValueXml(map);
  }();
  return document;
}

void BM_KeyValueXmlParse10k(benchmark::State& state) {
  const std::string& document = TenThousandKeyDocument();
  for (auto _ : state) {
    state.PauseTiming();
    std::string text = document;
    auto content = std::make_unique<Storage::KeyValueXmlContent>();
    state.ResumeTiming();
    if (!Storage::ParseKeyValueXml(text.data(), text.size(), content.get()) ||
        content->items.size() != kKeys) {
      state.SkipWithError("parse lost keys");
    }
    state.PauseTiming();
    content.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_KeyValueXmlParse10k)->Unit(benchmark::kMillisecond);

void BM_KeyValueXmlProduce10k(benchmark::State& state) {
  std::string text = TenThousandKeyDocument();
  Storage::KeyValueXmlContent content;
  Storage::ParseKeyValueXml(text.data(), text.size(), &content);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Storage::ProduceKeyValueXml(content.items));
  }
}
BENCHMARK(BM_KeyValueXmlProduce10k)->Unit(benchmark::kMillisecond);

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
double StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::stod(line.substr(field.size() + 1));
  }
  return 0;
}

void BM_KeyValueXmlParseMemory(benchmark::State& state) {
  constexpr int kItems = 1700000;
  for (auto _ : state) {
    state.PauseTiming();
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ItemTable version=\"1.0\">\r\n";
    char item[96];
    for (int i = 0; i < kItems; ++i) {
      const int length = std::snprintf(item, sizeof(item),
                                       "<Item key=\"pref.key.%08d\" value=\"%08x\">\r\n</Item>\r\n",
                                       i, static_cast<unsigned>(i) * 2654435761u);
      text.append(item, static_cast<size_t>(length));
    }
    text += "</ItemTable>\r\n";
    auto content = std::make_unique<Storage::KeyValueXmlContent>();
    const double before = StatusKiB("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // restarts the peak at the current size
    state.ResumeTiming();
    const bool parsed = Storage::ParseKeyValueXml(text.data(), text.size(), content.get());
    state.PauseTiming();
    const double size_kib = static_cast<double>(text.size()) / 1024;
    state.counters["peak_x"] = (StatusKiB("VmHWM") - before) / size_kib;
    state.counters["held_x"] = (StatusKiB("VmRSS") - before) / size_kib;
    if (!parsed || content->items.size() != kItems) state.SkipWithError("parse lost items");
    content.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_KeyValueXmlParseMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
