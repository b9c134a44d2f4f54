// MD5 and random bytes from OpenSSL's libcrypto.
#pragma once
#include <cstddef>

namespace LxObjects::Platform {

const int kMd5Size = 16;

// False when the digest cannot be made (for example MD5 disabled).
bool md5(const void* data, size_t size, unsigned char digest[kMd5Size]);
bool randomBytes(void* out, size_t size);

}  // namespace LxObjects::Platform
