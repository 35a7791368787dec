#include "browserplatform/md5.h"

#include <openssl/evp.h>

#include <cstring>

BOOL OV_MD5(const void* data, size_t length, unsigned char digest[16]) {
  if (digest == nullptr) return FALSE;
  std::memset(digest, 0, 16);
  if (data == nullptr && length != 0) return FALSE;
  static const unsigned char kEmpty = 0;
  unsigned int size = 0;
  if (EVP_Digest(data ? data : &kEmpty, length, digest, &size, EVP_md5(), nullptr) != 1 ||
      size != 16) {
    std::memset(digest, 0, 16);
    return FALSE;
  }
  return TRUE;
}
