#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "browserplatform/clock.h"
#include "browserplatform/md5.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

TEST(Md5Test, Rfc1321Vectors) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    unsigned char digest[16];
    ASSERT_TRUE(OV_MD5(c.text, std::strlen(c.text), digest));
    EXPECT_EQ(Hex(digest, 16), c.digest) << c.text;
  }
}

TEST(Md5Test, BadArgumentsFail) {
  unsigned char digest[16];
  EXPECT_FALSE(OV_MD5(nullptr, 3, digest));
  EXPECT_EQ(Hex(digest, 16), std::string(32, '0'));
  EXPECT_FALSE(OV_MD5("abc", 3, nullptr));
  EXPECT_TRUE(OV_MD5(nullptr, 0, digest));
  EXPECT_EQ(Hex(digest, 16), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(ClockTest, CountersAdvanceAndAgree) {
  LARGE_INTEGER frequency{}, before{}, after{};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  ASSERT_GT(frequency.QuadPart, 0);
  ASSERT_TRUE(QueryPerformanceCounter(&before));
  ULONGLONG ticks_before = GetTickCount64();
  // The time that passes is what the counters must show.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(QueryPerformanceCounter(&after));
  ULONGLONG ticks_after = GetTickCount64();
  double seconds = double(after.QuadPart - before.QuadPart) / double(frequency.QuadPart);
  EXPECT_GE(seconds, 0.029);
  EXPECT_GE(ticks_after - ticks_before, 29u);
  EXPECT_EQ(GetTickCount() - static_cast<DWORD>(ticks_after) < 1000u, true);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(ClockTest, WallClocksAgreeOnTheEpochs) {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  __time64_t stored = 0;
  __time64_t now = _time64(&stored);
  EXPECT_EQ(now, stored);
  int64_t file_time = (int64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  int64_t unix_from_file_time = (file_time - 116444736000000000) / 10000000;
  EXPECT_LE(std::llabs(unix_from_file_time - now), 2);
  EXPECT_GT(now, 1700000000);  // after 2023
}

}  // namespace
