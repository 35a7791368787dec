#include "base/mars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using base::mars;
using Block = std::array<uint8_t, 16>;

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Block ToBlock(const std::vector<uint8_t>& bytes) {
  Block block{};
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

Block Encrypt(const mars& cipher, const Block& plain) {
  Block out;
  cipher.encrypt(plain.data(), out.data());
  return out;
}

// MARS known-answer vectors (single 16-byte block, electronic code book).
// Columns: key bits, key (hex, bytes in order), plaintext (hex), ciphertext (hex).
// Bytes are written in file order; the cipher reads 32-bit words little-endian.
// Sources: the cipher's AES round-2 submission test files (variable-key and table
// known-answer tests) and the widely used Crypto++ test-vector set, which agree.
struct KnownAnswer {
  int bits;
  const char* key;
  const char* plain;
  const char* cipher;
};
constexpr KnownAnswer kKnownAnswers[] = {
    {128, "80000000000000000000000000000000", "00000000000000000000000000000000",
     "B3E2AD5608AC1B6733A7CB4FDF8F9952"},
    {128, "00000000000000000000000000000000", "00000000000000000000000000000000",
     "DCC07B8DFB0738D6E30A22DFCF27E886"},
    {128, "CB14A1776ABBC1CDAFE7243DEF2CEA02", "F94512A9B42D034EC4792204D708A69B",
     "225DA2CB64B73F79069F21A5E3CB8522"},
    {192, "000000000000000000000000000000000000000000000000", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
     "97778747D60E425C2B4202599DB856FB"},
    {256, "0000000000000000000000000000000000000000000000000000000000000000",
     "62E45B4CF3477F1DD65063729D9ABA8F", "0F4B897EA014D21FBC20F1054A42F719"},
};

TEST(MarsTest, KnownAnswers) {
  for (const KnownAnswer& v : kKnownAnswers) {
    SCOPED_TRACE(v.key);
    const std::vector<uint8_t> key = FromHex(v.key);
    ASSERT_EQ(key.size() * 8, static_cast<size_t>(v.bits));
    const Block plain = ToBlock(FromHex(v.plain));
    const Block expected = ToBlock(FromHex(v.cipher));
    mars cipher;
    cipher.set_key(key.data(), v.bits);

    EXPECT_EQ(Encrypt(cipher, plain), expected);
    Block out;
    cipher.decrypt(expected.data(), out.data());
    EXPECT_EQ(out, plain);

    // In place, through the buffer helpers.
    Block buffer = plain;
    cipher.encrypt_buffer(buffer.data(), 16);
    EXPECT_EQ(buffer, expected);
    cipher.decrypt_buffer(buffer.data(), 16);
    EXPECT_EQ(buffer, plain);
  }
}

TEST(MarsTest, OnlyKeysOfFourToFourteenWordsAreTaken) {
  const Block plain = ToBlock(FromHex("00112233445566778899AABBCCDDEEFF"));
  const mars fixed;
  const Block under_fixed_key = Encrypt(fixed, plain);
  std::vector<uint8_t> key(64);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);

  for (int bits : {-128, 0, 96, 127, 480, 512}) {
    mars cipher;
    cipher.set_key(key.data(), bits);
    EXPECT_EQ(Encrypt(cipher, plain), under_fixed_key) << bits;
  }
  mars cipher;
  cipher.set_key(nullptr, 128);
  EXPECT_EQ(Encrypt(cipher, plain), under_fixed_key);

  std::vector<Block> seen{under_fixed_key};
  for (int words = 4; words <= 14; ++words) {
    SCOPED_TRACE(words);
    cipher.set_key(key.data(), words * 32);
    const Block encrypted = Encrypt(cipher, plain);
    for (const Block& other : seen) EXPECT_NE(encrypted, other);  // each length keys anew
    seen.push_back(encrypted);
    Block out;
    cipher.decrypt(encrypted.data(), out.data());
    EXPECT_EQ(out, plain);
  }
}

// Encrypted storage files are whole blocks, each on its own, followed by the plain tail.
TEST(MarsTest, BuffersAreIndependentBlocksWithAPlainTail) {
  std::vector<uint8_t> plain(37);
  // Two equal blocks, then the tail.
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i % 16);
  const mars cipher;
  std::vector<uint8_t> buffer = plain;
  cipher.encrypt_buffer(buffer.data(), static_cast<int>(buffer.size()));

  const Block first =
      Encrypt(cipher, ToBlock(std::vector<uint8_t>(plain.begin(), plain.begin() + 16)));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin() + 16));
  EXPECT_TRUE(std::equal(plain.begin() + 32, plain.end(), buffer.begin() + 32));

  cipher.decrypt_buffer(buffer.data(), static_cast<int>(buffer.size()));
  EXPECT_EQ(buffer, plain);

  // Nothing to do for lengths without a whole block.
  for (int length : {15, 1, 0, -1, -16}) {
    std::vector<uint8_t> short_buffer(plain.begin(), plain.begin() + 16);
    cipher.encrypt_buffer(short_buffer.data(), length);
    EXPECT_TRUE(std::equal(short_buffer.begin(), short_buffer.end(), plain.begin())) << length;
    cipher.decrypt_buffer(short_buffer.data(), length);
    EXPECT_TRUE(std::equal(short_buffer.begin(), short_buffer.end(), plain.begin())) << length;
  }
}

// Every encrypted storage file is written under the fixed key; two objects keyed apart must
// agree, and the key must never change: a different key would make every encrypted file
// already on disk unreadable. This ciphertext pins it.
TEST(MarsTest, TheFixedKeyNeverChanges) {
  EXPECT_EQ(std::string(base::kMarsFixedKey).size() * 8,
            static_cast<size_t>(base::kMarsFixedKeyBits));
  const Block plain = ToBlock(FromHex("3C3F786D6C2076657273696F6E3D2231"));  // "<?xml version=\"1"
  const mars one;
  const mars two;
  EXPECT_EQ(Encrypt(one, plain), Encrypt(two, plain));
  EXPECT_EQ(Encrypt(one, plain), ToBlock(FromHex("29359F6F90A9362DF0F9923EDA1D914A")));
}

}  // namespace
