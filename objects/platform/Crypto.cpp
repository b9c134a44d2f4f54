#include "objects/platform/Crypto.h"

#include <climits>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace LxObjects::Platform {

bool md5(const void* data, size_t size, unsigned char digest[kMd5Size])
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, out, &length, EVP_md5(), nullptr) != 1 || length != kMd5Size)
        return false;
    for (int i = 0; i < kMd5Size; ++i)
        digest[i] = out[i];
    return true;
}

bool randomBytes(void* out, size_t size)
{
    return size <= INT_MAX && RAND_bytes(static_cast<unsigned char*>(out), int(size)) == 1;
}

}  // namespace LxObjects::Platform
