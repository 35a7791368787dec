// The icon file synchroniser over real files: the bytes it writes, what it reads back, when it
// appends and when it rewrites, and what it does with damaged files and failed writes.
#include "storage/icon/icon_storage_sync_binary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/fileapi.h"
#include "browserstorage/object_factory.h"
#include "platform/file_faults.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/temp_folder.h"
#include "tests/icon/fake_icon_cache.h"

namespace {

using icon_test::FakeIconCache;
using platform_test::ReadNative;
using platform_test::WriteNative;

// --- The format, written by hand -----------------------------------------------------------

void U32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void U64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void Text(std::string& out, std::u16string_view text) {
  U32(out, static_cast<uint32_t>(2 * text.size()));
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
}

// Bit by bit, as the polynomial defines it: no table shared with the code under test.
uint32_t BitwiseCrc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Payload(std::string_view data, int64_t time, std::u16string_view first,
                    std::u16string_view second) {
  std::string out;
  U32(out, static_cast<uint32_t>(data.size()));
  out += data;
  U64(out, static_cast<uint64_t>(time));
  Text(out, first);
  Text(out, second);
  return out;
}

std::string Framed(std::string_view payload, uint32_t end_marker = 0x4EB4E74D) {
  std::string out;
  U32(out, 0xCDD29308);
  U32(out, static_cast<uint32_t>(payload.size()));
  out += payload;
  U32(out, end_marker);
  return out;
}

std::string Header(uint32_t body_length, uint32_t count, uint32_t version = 2) {
  std::string out;
  U32(out, version);
  U32(out, body_length);
  U32(out, count);
  U32(out, 0xCDD29308);
  U32(out, 0x4EB4E74D);
  U64(out, 1700000000);
  out.append(32, '\0');
  U32(out, BitwiseCrc32(out));
  return out;
}

uint32_t ReadU32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// The body a file's header counts.
std::string BodyOf(const std::string& file) {
  if (file.size() < 64) return {};
  return file.substr(64, ReadU32(file, 4));
}

// --- Icons ----------------------------------------------------------------------------------

struct Fields {
  std::string data;
  int64_t time = 0;
  std::u16string first;
  std::u16string second;
  bool operator==(const Fields&) const = default;
};

ATL::CComPtr<IIconObject> NewIcon(const Fields& fields) {
  ATL::CComPtr<IIconObject> icon;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IIconObject, icon.ReceiveVoid()), S_OK);
  icon->SetData(reinterpret_cast<const BYTE*>(fields.data.data()),
                static_cast<INT>(fields.data.size()));
  icon->SetTime(fields.time);
  ATL::CComBSTR first(fields.first.c_str());
  ATL::CComBSTR second(fields.second.c_str());
  icon->SetFirstText(first);
  icon->SetSecondText(second);
  return icon;
}

Fields FieldsOf(IIconObject* icon) {
  Fields fields;
  const BYTE* data = nullptr;
  INT length = 0;
  icon->GetData(&data);
  icon->GetDataLength(&length);
  if (data != nullptr) fields.data.assign(reinterpret_cast<const char*>(data), length);
  LONGLONG time = 0;
  icon->GetTime(&time);
  fields.time = time;
  ATL::CComBSTR first;
  ATL::CComBSTR second;
  icon->GetFirstText(first.Receive());
  icon->GetSecondText(second.Receive());
  if (first) fields.first.assign(first.get(), first.Length());
  if (second) fields.second.assign(second.get(), second.Length());
  return fields;
}

// An icon whose second text is its key, as the file brings it back.
Fields Icon(std::u16string key, std::string data = "img", int64_t time = 1) {
  return {std::move(data), time, u"first", std::move(key)};
}

std::string RecordOf(const Fields& fields) {
  return Framed(Payload(fields.data, fields.time, fields.first, fields.second));
}

class IconSyncTest : public platform_test::FileFixture {
 protected:
  static constexpr int kLimit = 4096;

  base::scoped_refptr<FakeIconCache> Open(int limit = kLimit,
                                          Storage::CStorageSyncTimer* timer = nullptr) {
    return base::scoped_refptr<FakeIconCache>(
        new FakeIconCache(folder_.Wide("icons"), limit, timer));
  }
  std::string Read() { return ReadNative(folder_.Native("icons")); }
  std::string ReadBad() { return ReadNative(folder_.Native("icons.bad")); }
  bool HasBad() { return platform_test::Exists(folder_.Native("icons.bad")); }
  void Write(std::string_view bytes) { WriteNative(folder_.Native("icons"), bytes); }

  static void Set(FakeIconCache* cache, const Fields& fields) {
    cache->SetValue(fields.second, NewIcon(fields));
  }
  static void Sync(FakeIconCache* cache) { cache->synchroniser()->performSync(); }
  static size_t Pending(FakeIconCache* cache) {
    return cache->synchroniser()->pending_changes_for_testing().size();
  }
  // Every icon, by key.
  static std::map<std::u16string, Fields> Contents(FakeIconCache* cache) {
    std::map<std::u16string, Fields> contents;
    for (const std::u16string& key : cache->Keys()) contents[key] = FieldsOf(cache->Get(key));
    return contents;
  }
  std::map<std::u16string, Fields> Reopened() {
    base::scoped_refptr<FakeIconCache> cache = Open();
    return Contents(cache.get());
  }
};

// --- Format ---------------------------------------------------------------------------------

TEST_F(IconSyncTest, WritesTheHeaderAndRecordsAsDocumented) {
  ASSERT_EQ(BitwiseCrc32("abc"), 0x352441C2u);  // the helper itself, against the known value
  base::scoped_refptr<FakeIconCache> cache = Open();
  const Fields icon{"\x01\x02\x03", 0x0102030405060708, u"ab", u"k"};
  Set(cache.get(), icon);
  const int64_t before = std::time(nullptr);
  Sync(cache.get());
  const int64_t after = std::time(nullptr);

  const std::string file = Read();
  ASSERT_EQ(file.size(), size_t{kLimit} + 64);  // pre-allocated
  // D + 2 × first units + 2 × second units + 32.
  const std::string record = RecordOf(icon);
  ASSERT_EQ(record.size(), 3u + 4 + 2 + 32);
  EXPECT_EQ(record.substr(0, 12),  // start marker, payload length 29, data length 3
            std::string("\x08\x93\xD2\xCD\x1D\x00\x00\x00\x03\x00\x00\x00", 12));
  std::string fixed;
  U32(fixed, 2);
  U32(fixed, static_cast<uint32_t>(record.size()));
  U32(fixed, 1);
  U32(fixed, 0xCDD29308);
  U32(fixed, 0x4EB4E74D);
  EXPECT_EQ(file.substr(0, 20), fixed);
  int64_t time = 0;
  for (int i = 7; i >= 0; --i) time = (time << 8) | static_cast<unsigned char>(file[20 + i]);
  EXPECT_GE(time, before);
  EXPECT_LE(time, after);
  EXPECT_EQ(file.substr(28, 32), std::string(32, '\0'));
  EXPECT_EQ(ReadU32(file, 60), BitwiseCrc32(file.substr(0, 60)));
  EXPECT_EQ(file.substr(64, record.size()), record);
  EXPECT_EQ(file.substr(64 + record.size()), std::string(kLimit - record.size(), '\0'));
  EXPECT_EQ(Pending(cache.get()), 0u);
}

TEST_F(IconSyncTest, ReadsAHandWrittenFileKeyedBySecondTextLaterRecordsWinning) {
  const std::string body = RecordOf({"img", -5, u"first", u"a"}) +
                           RecordOf({"old", 1, u"", u"dup"}) + RecordOf({"new", 2, u"x", u"dup"});
  Write(Header(static_cast<uint32_t>(body.size()), 3) + body + std::string(100, '\0'));
  base::scoped_refptr<FakeIconCache> cache = Open();
  EXPECT_EQ(Contents(cache.get()), (std::map<std::u16string, Fields>{
                                       {u"a", {"img", -5, u"first", u"a"}},
                                       {u"dup", {"new", 2, u"x", u"dup"}},
                                   }));
  EXPECT_EQ(cache->IsImportFinished(), 1);
  EXPECT_EQ(cache->IsImportFailed(), 0);
  EXPECT_EQ(Pending(cache.get()), 0u);
  EXPECT_FALSE(HasBad());
}

TEST_F(IconSyncTest, IconsComeBackUnderTheirSecondText) {
  {
    base::scoped_refptr<FakeIconCache> cache = Open();
    cache->SetValue(u"stored-as", NewIcon(Icon(u"second")));
  }  // the final sync writes it
  EXPECT_EQ(Reopened(), (std::map<std::u16string, Fields>{{u"second", Icon(u"second")}}));
}

TEST(IconFileFormatTest, PayloadFieldsThatDoNotFitAreSkippedWithoutMoving) {
  auto payload = [](std::function<void(std::string&)> build) {
    std::string out;
    build(out);
    return out;
  };
  struct Case {
    const char* what;
    std::string payload;
    Fields expected;
  };
  const Case kCases[] = {
      {"negative data length",
       payload([](std::string& p) {
         U32(p, 0xFFFFFFFF);
         U64(p, 7);
         Text(p, u"f");
         Text(p, u"s");
       }),
       {"", 7, u"f", u"s"}},
      {"data length past the payload",
       payload([](std::string& p) {
         U32(p, 1000);
         U64(p, 7);
         Text(p, u"f");
         Text(p, u"s");
       }),
       {"", 7, u"f", u"s"}},
      {"first text past the payload",
       payload([](std::string& p) {
         U32(p, 1);
         p += "D";
         U64(p, 7);
         U32(p, 0x7FFFFFFF);
         Text(p, u"s");
       }),
       {"D", 7, u"", u"s"}},
      {"odd text length",
       payload([](std::string& p) {
         U32(p, 0);
         U64(p, 7);
         U32(p, 3);
         p += std::string("a\0b", 3);
       }),
       {"", 7, u"a", u""}},
      {"two bytes only", "\x01\x02", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string body = Framed(c.payload);
    std::vector<Fields> records;
    const bool whole = Storage::ParseIconFileBody(
        std::span(reinterpret_cast<const uint8_t*>(body.data()), body.size()),
        [&](const Storage::IconRecord& record) {
          records.push_back({std::string(record.data.begin(), record.data.end()), record.time,
                             record.first_text, record.second_text});
        });
    EXPECT_TRUE(whole);
    EXPECT_EQ(records, std::vector<Fields>{c.expected});
  }
}

// --- Import limits and damage ---------------------------------------------------------------

TEST_F(IconSyncTest, ImportLimits) {
  // 12 + 10485760 + 12 + 5242856 = 15728640: the largest body, with the largest payload.
  const std::string largest = Framed(Payload(std::string(10485760 - 26, 'L'), 1, u"", u"big"));
  const std::string filler = Framed(Payload(std::string(5242856 - 28, 'F'), 2, u"", u"fill"));
  ASSERT_EQ(largest.size() + filler.size(), 15728640u);
  const std::string a = RecordOf(Icon(u"a"));
  std::string zero_payload = a;
  U32(zero_payload, 0xCDD29308);
  U32(zero_payload, 0);
  U32(zero_payload, 0x4EB4E74D);
  std::string oversize_payload = a;
  U32(oversize_payload, 0xCDD29308);
  U32(oversize_payload, 10485761);
  oversize_payload.append(10485761 + 4, '\0');
  const std::string oversize_body = largest + filler + std::string(1, '\0');

  struct Case {
    const char* what;
    std::string body;
    uint32_t body_length;
    std::vector<std::u16string> keys;
    bool damaged;
  };
  const Case kCases[] = {
      {"body 15728640, payload 10485760", largest + filler, 15728640, {u"big", u"fill"}, false},
      {"body 15728641", oversize_body, 15728641, {}, true},
      {"payload 0", zero_payload, static_cast<uint32_t>(zero_payload.size()), {u"a"}, true},
      {"payload 10485761",
       oversize_payload,
       static_cast<uint32_t>(oversize_payload.size()),
       {u"a"},
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string file = Header(c.body_length, 2) + c.body;
    Write(file);
    DeleteFileW(folder_.Wide("icons.bad").c_str());
    base::scoped_refptr<FakeIconCache> cache = Open();
    EXPECT_EQ(cache->Keys(), c.keys);
    EXPECT_EQ(HasBad(), c.damaged);
    if (c.damaged) {
      EXPECT_TRUE(ReadBad() == file);
    }
  }
}

TEST_F(IconSyncTest, DamagedFileIsKeptAndTheIconsBeforeTheDamageAreWrittenBack) {
  const std::string a = RecordOf(Icon(u"a"));
  const uint32_t length = static_cast<uint32_t>(a.size());
  std::string bad_crc = Header(length, 1) + a;
  bad_crc[60] ^= 1;
  std::string bad_start = a;
  U32(bad_start, 0x12345678);
  U32(bad_start, 4);
  std::string past_end = a;
  U32(past_end, 0xCDD29308);
  U32(past_end, 100);
  past_end += "xx";
  std::string cut_length = a;
  U32(cut_length, 0xCDD29308);
  cut_length += "\x01\x02";
  const std::string bad_end = a + Framed(Payload("B", 1, u"", u"a"), 0x4EB4E74E);

  struct Case {
    const char* what;
    std::string file;
    std::vector<std::u16string> keys;
  };
  auto whole = [](const std::string& body) {
    return Header(static_cast<uint32_t>(body.size()), 2) + body;
  };
  const Case kCases[] = {
      {"bad CRC", bad_crc, {}},
      {"version 3", Header(length, 1, 3) + a, {}},
      {"short header", Header(length, 1).substr(0, 30), {}},
      {"short body", Header(length + 10, 1) + a, {}},
      {"bad start marker", whole(bad_start), {u"a"}},
      // The damaged record is not used: it would replace "a" with a shifted piece.
      {"bad end marker", whole(bad_end), {u"a"}},
      {"payload past the end", whole(past_end), {u"a"}},
      {"cut inside a length", whole(cut_length), {u"a"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Write(c.file);
    {
      base::scoped_refptr<FakeIconCache> cache = Open();
      EXPECT_EQ(cache->Keys(), c.keys);
      EXPECT_EQ(Pending(cache.get()), 0u);
      EXPECT_TRUE(ReadBad() == c.file);
    }  // no change, yet the final sync replaces the damaged file with what was read
    const std::string rewritten = Read();
    EXPECT_EQ(rewritten.size(), size_t{kLimit} + 64);
    EXPECT_EQ(BodyOf(rewritten), c.keys.empty() ? "" : a);
    EXPECT_TRUE(ReadBad() == c.file);
  }
}

TEST_F(IconSyncTest, DamagedFileIsCopiedBeforeItIsReplacedEvenWhenTheFirstCopyFails) {
  const std::string a = RecordOf(Icon(u"a"));
  const std::string file = Header(static_cast<uint32_t>(a.size()) + 10, 1) + a;
  Write(file);
  platform::GetFileFaults().open_for_write_fails = true;  // the copy's target cannot be made
  base::scoped_refptr<FakeIconCache> cache = Open();
  platform::GetFileFaults().open_for_write_fails = false;
  EXPECT_FALSE(HasBad());
  Set(cache.get(), Icon(u"b"));
  Sync(cache.get());
  EXPECT_TRUE(ReadBad() == file);
  EXPECT_EQ(BodyOf(Read()), RecordOf(Icon(u"b")));
}

TEST_F(IconSyncTest, IconsReadFromADamagedFileAreWrittenBackOnTheTimer) {
  const std::string a = RecordOf(Icon(u"a"));
  std::string broken = a;
  U32(broken, 0x12345678);
  struct Case {
    const char* what;
    std::string file;
    bool timer;  // only icons that live in memory alone need it
  };
  const Case kCases[] = {
      {"damaged after an icon", Header(static_cast<uint32_t>(broken.size()), 2) + broken, true},
      {"damaged before any icon", Header(static_cast<uint32_t>(a.size()), 1, 3) + a, false},
      {"whole", Header(static_cast<uint32_t>(a.size()), 1) + a, false},
  };
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Write(c.file);
    base::scoped_refptr<FakeIconCache> cache = Open(kLimit, timer.get());
    EXPECT_EQ(cache->synchroniser()->timer_for_testing() != nullptr, c.timer);
  }
  timer->Uninit();
}

TEST_F(IconSyncTest, MissingFileStartsEmptyAndNothingIsWrittenWithoutAChange) {
  {
    base::scoped_refptr<FakeIconCache> cache = Open();
    EXPECT_TRUE(cache->Keys().empty());
    EXPECT_EQ(cache->IsImportFailed(), 0);
    EXPECT_EQ(cache->IsImportFinished(), 1);
  }
  EXPECT_TRUE(folder_.Names().empty());
}

// --- Append and dump ------------------------------------------------------------------------

TEST_F(IconSyncTest, StoringOnlyAppendsInPlaceWithinThePreallocatedLength) {
  base::scoped_refptr<FakeIconCache> cache = Open();
  Set(cache.get(), Icon(u"b"));
  Sync(cache.get());
  const std::string first = Read();
  Set(cache.get(), Icon(u"a", "second"));
  Set(cache.get(), Icon(u"c"));
  Sync(cache.get());
  const std::string second = Read();

  ASSERT_EQ(second.size(), first.size());
  // Appended after the old body, in the order stored ("a" would come first in a rewrite).
  EXPECT_EQ(BodyOf(second),
            RecordOf(Icon(u"b")) + RecordOf(Icon(u"a", "second")) + RecordOf(Icon(u"c")));
  EXPECT_EQ(ReadU32(second, 8), 3u);  // record count
  EXPECT_EQ(ReadU32(second, 60), BitwiseCrc32(second.substr(0, 60)));
  EXPECT_EQ(Pending(cache.get()), 0u);
  EXPECT_FALSE(platform_test::Exists(folder_.Native("icons.tmp")));
  cache = nullptr;
  EXPECT_EQ(Reopened(), (std::map<std::u16string, Fields>{
                            {u"a", Icon(u"a", "second")}, {u"b", Icon(u"b")}, {u"c", Icon(u"c")}}));
}

TEST_F(IconSyncTest, RemovalClearOrAnotherFileLengthRewritesTheWholeFile) {
  struct Case {
    const char* what;
    std::function<void(FakeIconCache*)> change;
    std::string body;  // in key order, as only a rewrite writes it
  };
  const Case kCases[] = {
      {"removal",
       [](FakeIconCache* cache) {
         cache->RemoveValue(u"c");
         Set(cache, Icon(u"a"));
       },
       RecordOf(Icon(u"a")) + RecordOf(Icon(u"b"))},
      {"clear",
       [](FakeIconCache* cache) {
         cache->Clear();
         Set(cache, Icon(u"a"));
       },
       RecordOf(Icon(u"a"))},
      {"another length",
       [this](FakeIconCache* cache) {
         Write(Read() + "x");  // as written with another limit
         Set(cache, Icon(u"a"));
       },
       RecordOf(Icon(u"a")) + RecordOf(Icon(u"b")) + RecordOf(Icon(u"c"))},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(folder_.Wide("icons").c_str());
    base::scoped_refptr<FakeIconCache> cache = Open();
    Set(cache.get(), Icon(u"b"));
    Set(cache.get(), Icon(u"c"));
    Sync(cache.get());
    c.change(cache.get());
    Sync(cache.get());
    const std::string file = Read();
    EXPECT_EQ(file.size(), size_t{kLimit} + 64);
    EXPECT_EQ(BodyOf(file), c.body);
    EXPECT_EQ(Pending(cache.get()), 0u);
  }
}

TEST_F(IconSyncTest, AnAppendPastTheLimitRewritesInTheSameSync) {
  constexpr int kSmallLimit = 100;
  const Fields a = Icon(u"a", std::string(40, 'a'));  // 40 + 10 + 2 + 32 = 84 bytes
  const Fields b = Icon(u"b", std::string(40, 'b'));
  base::scoped_refptr<FakeIconCache> cache = Open(kSmallLimit);
  Set(cache.get(), a);
  Sync(cache.get());
  ASSERT_EQ(Read().size(), size_t{kSmallLimit} + 64);
  Set(cache.get(), b);
  Sync(cache.get());
  EXPECT_EQ(Pending(cache.get()), 0u);
  // Rewritten whole: the body outgrows the pre-allocated length.
  std::string file = Read();
  EXPECT_EQ(file.size(), 64 + 2 * RecordOf(a).size());
  EXPECT_EQ(BodyOf(file), RecordOf(a) + RecordOf(b));
  // A file of another length is rewritten, not appended to: "0" comes first.
  const Fields zero = Icon(u"0", "");
  Set(cache.get(), zero);
  Sync(cache.get());
  EXPECT_EQ(BodyOf(Read()), RecordOf(zero) + RecordOf(a) + RecordOf(b));
}

TEST_F(IconSyncTest, FailedWritesKeepTheFileAndTheChangesPending) {
  using platform::FileFaults;
  struct Case {
    const char* what;
    std::atomic<bool> FileFaults::*fault;
    bool removal;  // else the sync tries an append first
  };
  const Case kCases[] = {
      {"open for writing, append", &FileFaults::open_for_write_fails, false},
      {"open for writing, rewrite", &FileFaults::open_for_write_fails, true},
      {"write, append", &FileFaults::write_fails, false},
      {"write, rewrite", &FileFaults::write_fails, true},
      {"flush, append", &FileFaults::sync_fails, false},
      {"flush, rewrite", &FileFaults::sync_fails, true},
      {"rename, rewrite", &FileFaults::move_fails, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(folder_.Wide("icons").c_str());
    base::scoped_refptr<FakeIconCache> cache = Open();
    Set(cache.get(), Icon(u"b"));
    Sync(cache.get());
    const std::string before = Read();
    if (c.removal) cache->RemoveValue(u"b");
    Set(cache.get(), Icon(u"a"));
    const size_t changes = Pending(cache.get());

    platform::GetFileFaults().*(c.fault) = true;
    Sync(cache.get());
    platform::GetFileFaults().*(c.fault) = false;
    // The old file still reads as before, nothing is left beside it, nothing is lost.
    const std::string after = Read();
    EXPECT_EQ(after.substr(0, 64 + BodyOf(before).size()),
              before.substr(0, 64 + BodyOf(before).size()));
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"icons"}));
    EXPECT_EQ(Pending(cache.get()), changes);

    Sync(cache.get());
    EXPECT_EQ(Pending(cache.get()), 0u);
    cache = nullptr;
    std::map<std::u16string, Fields> expected{{u"a", Icon(u"a")}};
    if (!c.removal) expected[u"b"] = Icon(u"b");
    EXPECT_EQ(Reopened(), expected);
  }
}

// --- Registration and traces ----------------------------------------------------------------

TEST_F(IconSyncTest, MadeForTheIconStorageAndTracedAsProfiled) {
  testing_support::CapturingLogController log;
  base::scoped_refptr<FakeIconCache> cache = Open();
  auto* sync = dynamic_cast<Storage::CIconStorageSyncBinary*>(cache->synchroniser());
  ASSERT_NE(sync, nullptr);
  EXPECT_EQ(sync->GetSyncInterval(), 30000u);
  Set(cache.get(), Icon(u"a"));
  Sync(cache.get());  // a rewrite: there is no file yet
  Set(cache.get(), Icon(u"b"));
  Sync(cache.get());  // an append

  std::vector<std::u16string> entries;
  for (const testing_support::LogLine& line : log.lines(u"performance_profile;")) {
    EXPECT_EQ(line.level, 37u);
    if (line.text.starts_with(u"进入函数:Storage::CIconStorageSyncBinary::")) {
      entries.push_back(line.text);
    } else if (line.text.starts_with(u"离开函数:Storage::CIconStorageSyncBinary::")) {
      EXPECT_NE(line.text.find(u" 执行耗时:"), std::u16string::npos);
    }
  }
  const std::u16string kPrefix = u"进入函数:Storage::CIconStorageSyncBinary::";
  EXPECT_EQ(entries, (std::vector<std::u16string>{
                         kPrefix + u"performImport\n",
                         kPrefix + u"performSync\n",
                         kPrefix + u"DoDump\n",
                         kPrefix + u"performSync\n",
                         kPrefix + u"DoAppend\n",
                     }));
}

}  // namespace
