// base::AES and base::mars: the MARS block cipher (IBM's AES candidate with the key schedule of
// its second round): 16-byte blocks, keys of 4 to 14 32-bit words, words little-endian.
//
// Storage files of write mode 3 are encrypted with it under kMarsFixedKey, each whole 16-byte
// block on its own (no chaining, no initialisation vector), the last length mod 16 bytes left
// plain (docs/formats.md).
//
// Thread safety: an object is used by one thread at a time; separate objects share nothing
// writable, so any number of them may be keyed and used at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

// The key of every encrypted storage file: these 36 ASCII characters taken as 36 key bytes,
// 288 bits. It is part of the encrypted file format: a file written under it can be read only
// under it, so changing it makes every encrypted file on every installation unreadable.
inline constexpr char kMarsFixedKey[] = "E4B0DE38-B3A3-4F35-8006-75CF6800E694";
inline constexpr int kMarsFixedKeyBits = 288;

// A 16-byte block cipher. Its virtual slots, in order: set_key, encrypt, decrypt. There is no
// destructor slot; the destructor is protected instead, so no object can be deleted through
// this type (which would skip the derived destructor).
class AES {
 public:
  static constexpr int kBlockSize = 16;

  // Keys the cipher with the first `bits` / 32 words of `key`. A length the cipher does not
  // take, or a null key, leaves the current key as it is.
  virtual void set_key(const uint8_t* key, int bits) = 0;
  // One block each; `in` and `out` may be the same buffer.
  virtual void encrypt(const uint8_t* in, uint8_t* out) const = 0;
  virtual void decrypt(const uint8_t* in, uint8_t* out) const = 0;

 protected:
  AES() = default;
  ~AES() = default;
  AES(const AES&) = default;
  AES& operator=(const AES&) = default;
};

class mars final : public AES {
 public:
  // Keyed with kMarsFixedKey.
  mars();

  // Takes 4 to 14 words (128 to 448 bits); other lengths leave the key unchanged.
  void set_key(const uint8_t* key, int bits) override;
  void encrypt(const uint8_t* in, uint8_t* out) const override;
  void decrypt(const uint8_t* in, uint8_t* out) const override;

  // Encrypt or decrypt `length` bytes in place as floor(length / 16) independent blocks from
  // the start; the last length mod 16 bytes stay as they are. Zero or negative lengths do
  // nothing. The size_t forms serve buffers beyond INT_MAX bytes, which the int forms would
  // leave untouched.
  void encrypt_buffer(uint8_t* data, int length) const;
  void decrypt_buffer(uint8_t* data, int length) const;
  void encrypt_buffer(uint8_t* data, size_t length) const;
  void decrypt_buffer(uint8_t* data, size_t length) const;

 private:
  static constexpr int kKeyWords = 40;

  void EncryptBlock(const uint8_t* in, uint8_t* out) const;
  void DecryptBlock(const uint8_t* in, uint8_t* out) const;

  // K[0..3] and K[36..39] whiten the block; K[4..35] key the 16 core rounds in pairs.
  uint32_t k_[kKeyWords];
};

}  // namespace base
