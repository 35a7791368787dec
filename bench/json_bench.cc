// The JSON reader and writer on an extension database of 600 extensions (about 1 MiB of text):
// an object with "dataversion", "dbversion" and "list", each row with "extId", "manifest" (a
// nested manifest with arrays, escaped and non-ASCII strings and numbers), "path", "state" and
// "type". Every case reports the bytes of the document's UTF-16 text per second, whatever it
// reads or writes, so that the rates compare directly; nlohmann-json and RapidJSON are the
// reference, on the same text.
//
//   JsonParse           CJsonValue::Parse of the text, the tree's release included
//   JsonRelease         the release alone: freeing the tree's many small blocks is most of
//                       what JsonParse costs
//   JsonSerialize       CJsonValue::Serialize of that tree
//   NlohmannParse       nlohmann::json::parse of the same UTF-16 text (it converts to UTF-8 as
//                       it reads), the value's release included
//   NlohmannSerialize   nlohmann::json::dump of that value: UTF-8 out, it writes no UTF-16
//   RapidjsonParse      GenericDocument<UTF16<char16_t>>::Parse of the text (its memory pool
//                       freed with the document)
//   RapidjsonSerialize  Writer to a UTF-16 string buffer from that document
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/json_value.h"
#include "base/string_conversions.h"

namespace {

using base::CJsonValue;

constexpr int kExtensions = 600;

std::unique_ptr<CJsonValue> Text(const std::string& utf8) {
  return std::make_unique<CJsonValue>(base::UTF8ToWide(utf8));
}

std::unique_ptr<CJsonValue> Number(double value) { return std::make_unique<CJsonValue>(value); }

std::unique_ptr<CJsonValue> Strings(std::initializer_list<std::string> items) {
  CJsonValue::Array array;
  for (const std::string& item : items) array.push_back(Text(item));
  return std::make_unique<CJsonValue>(std::move(array));
}

// A 32-letter extension identifier from the letters a-p, as browsers make them.
std::string ExtensionId(int serial) {
  std::string id;
  uint32_t state = 2166136261u ^ static_cast<uint32_t>(serial);
  for (int i = 0; i < 32; ++i) {
    state = state * 16777619u + 12345u;
    id.push_back(static_cast<char>('a' + (state >> 20) % 16));
  }
  return id;
}

std::unique_ptr<CJsonValue> Manifest(int serial) {
  const std::string n = std::to_string(serial);
  CJsonValue::Object manifest;
  manifest[u"name"] = Text("Caf\xC3\xA9 \"Notes\" " + n + " \xE2\x80\x94 \xE7\xAC\x94\xE8\xAE\xB0");
  manifest[u"version"] = Text(std::to_string(serial % 7) + "." + std::to_string(serial % 13) + "." +
                              std::to_string(serial));
  manifest[u"manifest_version"] = Number(2 + serial % 2);
  manifest[u"description"] = Text(
      "Keeps notes for every page you visit.\nSync across devices \xF0\x9F\x93\x9D "
      "\xE2\x80\x94 \xC3\xBC\x62\x65rall dabei.\tVersion " +
      n + " of C:\\Program Files\\Notes.");
  manifest[u"default_locale"] = Text(serial % 3 == 0 ? "de" : "en_US");
  manifest[u"minimum_browser_version"] = Text("88.0." + std::to_string(4324 + serial % 50));
  manifest[u"permissions"] =
      Strings({"tabs", "storage", "contextMenus", "notifications", "https://*.example.com/*",
               "http://localhost:" + std::to_string(8000 + serial) + "/*"});
  manifest[u"optional_permissions"] = Strings({"history", "bookmarks"});

  CJsonValue::Object icons;
  for (const char* size : {"16", "32", "48", "128"}) {
    icons[base::UTF8ToWide(size)] = Text(std::string("images/icon_") + size + ".png");
  }
  manifest[u"icons"] = std::make_unique<CJsonValue>(std::move(icons));

  CJsonValue::Object background;
  background[u"scripts"] = Strings({"js/lib/jquery.min.js", "js/background.js"});
  background[u"persistent"] = std::make_unique<CJsonValue>(serial % 2 == 0);
  manifest[u"background"] = std::make_unique<CJsonValue>(std::move(background));

  CJsonValue::Object action;
  action[u"default_title"] = Text("Notes \xE2\x80\x94 " + n);
  action[u"default_popup"] = Text("popup.html?from=toolbar&id=" + n);
  CJsonValue::Object action_icons;
  action_icons[u"19"] = Text("images/icon_19.png");
  action_icons[u"38"] = Text("images/icon_38.png");
  action[u"default_icon"] = std::make_unique<CJsonValue>(std::move(action_icons));
  manifest[u"browser_action"] = std::make_unique<CJsonValue>(std::move(action));

  CJsonValue::Array scripts;
  for (int i = 0; i < 2; ++i) {
    CJsonValue::Object script;
    script[u"matches"] = Strings({"<all_urls>", "https://mail.example.com/*"});
    script[u"exclude_matches"] = Strings({"https://example.com/private/*"});
    script[u"js"] = Strings({"js/content" + std::to_string(i) + ".js"});
    script[u"css"] = Strings({"css/content.css"});
    script[u"run_at"] = Text(i == 0 ? "document_start" : "document_idle");
    script[u"all_frames"] = std::make_unique<CJsonValue>(i == 1);
    scripts.push_back(std::make_unique<CJsonValue>(std::move(script)));
  }
  manifest[u"content_scripts"] = std::make_unique<CJsonValue>(std::move(scripts));
  manifest[u"web_accessible_resources"] =
      Strings({"images/*.png", "fonts/*.woff2", "html/frame.html"});
  manifest[u"update_url"] = Text("https://clients.example.com/service/update2/crx");
  manifest[u"content_security_policy"] =
      Text("script-src 'self' https://ssl.example-analytics.com; object-src 'self'");
  std::string key = "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA";
  for (int i = 0; i < 6; ++i) key += ExtensionId(serial * 7 + i) + "+/";
  manifest[u"key"] = Text(key + "IDAQAB");
  manifest[u"rating"] = Number(3.5 + (serial % 3) * 0.25);
  manifest[u"size"] = Number(100000 + serial * 7919);
  manifest[u"install_time"] = Number(13300000000000000.0 + serial * 1000003.0);
  manifest[u"update_url_override"] = std::make_unique<CJsonValue>();
  return std::make_unique<CJsonValue>(std::move(manifest));
}

const std::u16string& Document() {
  static const std::u16string text = [] {
    CJsonValue::Array list;
    for (int i = 0; i < kExtensions; ++i) {
      CJsonValue::Object row;
      const std::string id = ExtensionId(i);
      row[u"extId"] = Text(id);
      row[u"manifest"] = Manifest(i);
      row[u"path"] =
          Text("C:\\Users\\user\\AppData\\Extensions\\" + id + "\\1.0." + std::to_string(i) + "_0");
      row[u"state"] = Number(i % 4 == 0 ? 0 : 1);
      row[u"type"] = Number(i % 5);
      list.push_back(std::make_unique<CJsonValue>(std::move(row)));
    }
    CJsonValue::Object root;
    root[u"dataversion"] = Number(3);
    root[u"dbversion"] = Number(2);
    root[u"list"] = std::make_unique<CJsonValue>(std::move(list));
    return CJsonValue(std::move(root)).Serialize();
  }();
  return text;
}

void SetDocumentBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(Document().size() * sizeof(char16_t)));
}

void BM_JsonParse(benchmark::State& state) {
  const std::u16string& text = Document();
  for (auto _ : state) {
    std::unique_ptr<CJsonValue> value = CJsonValue::Parse(text.c_str());
    if (value == nullptr) state.SkipWithError("the document does not parse");
    benchmark::DoNotOptimize(value.get());
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_JsonParse)->Unit(benchmark::kMillisecond);

void BM_JsonRelease(benchmark::State& state) {
  const std::u16string& text = Document();
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CJsonValue> value = CJsonValue::Parse(text.c_str());
    state.ResumeTiming();
    value.reset();
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_JsonRelease)->Unit(benchmark::kMillisecond);

void BM_JsonSerialize(benchmark::State& state) {
  const std::unique_ptr<CJsonValue> value = CJsonValue::Parse(Document().c_str());
  for (auto _ : state) {
    std::u16string text = value->Serialize();
    benchmark::DoNotOptimize(text.data());
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_JsonSerialize)->Unit(benchmark::kMillisecond);

void BM_NlohmannParse(benchmark::State& state) {
  const std::u16string& text = Document();
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(text.begin(), text.end());
    benchmark::DoNotOptimize(&value);
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

void BM_NlohmannSerialize(benchmark::State& state) {
  const std::u16string& text = Document();
  const nlohmann::json value = nlohmann::json::parse(text.begin(), text.end());
  for (auto _ : state) {
    std::string written = value.dump();
    benchmark::DoNotOptimize(written.data());
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_NlohmannSerialize)->Unit(benchmark::kMillisecond);

using Utf16 = rapidjson::UTF16<char16_t>;
using RapidDocument = rapidjson::GenericDocument<Utf16>;

void BM_RapidjsonParse(benchmark::State& state) {
  const std::u16string& text = Document();
  for (auto _ : state) {
    RapidDocument document;
    document.Parse(text.c_str());
    if (document.HasParseError()) state.SkipWithError("the document does not parse");
    benchmark::DoNotOptimize(&document);
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_RapidjsonParse)->Unit(benchmark::kMillisecond);

void BM_RapidjsonSerialize(benchmark::State& state) {
  RapidDocument document;
  document.Parse(Document().c_str());
  for (auto _ : state) {
    rapidjson::GenericStringBuffer<Utf16> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Utf16>, Utf16, Utf16> writer(buffer);
    document.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  SetDocumentBytes(state);
}
BENCHMARK(BM_RapidjsonSerialize)->Unit(benchmark::kMillisecond);

}  // namespace
