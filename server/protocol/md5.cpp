#include "protocol/md5.h"

#include <openssl/evp.h>

#include <new>

Md5Digest Md5(std::span<const std::byte> bytes) {
  Md5Digest digest{};
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_md5(), nullptr) != 1) {
    throw std::bad_alloc();  // libcrypto fails here only when it cannot allocate
  }
  return digest;
}
