// libcrypto's digests, HMAC and random bytes, opened on first use (see lazy_library.h). Without
// the library the digests are unknown (null) and the calls fail as libcrypto's own do.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include "platform/os/lazy_library.h"

namespace {
platform::LazyLibrary crypto("libcrypto.so.3");
}

extern "C" {

const EVP_MD* EVP_md5() {
  ZEL_LAZY_FUNCTION(crypto, EVP_md5);
  return fn ? fn() : nullptr;
}

const EVP_MD* EVP_sha1() {
  ZEL_LAZY_FUNCTION(crypto, EVP_sha1);
  return fn ? fn() : nullptr;
}

const EVP_MD* EVP_sha256() {
  ZEL_LAZY_FUNCTION(crypto, EVP_sha256);
  return fn ? fn() : nullptr;
}

const EVP_MD* EVP_sha384() {
  ZEL_LAZY_FUNCTION(crypto, EVP_sha384);
  return fn ? fn() : nullptr;
}

const EVP_MD* EVP_sha512() {
  ZEL_LAZY_FUNCTION(crypto, EVP_sha512);
  return fn ? fn() : nullptr;
}

int EVP_MD_get_size(const EVP_MD* md) {
  ZEL_LAZY_FUNCTION(crypto, EVP_MD_get_size);
  return fn ? fn(md) : -1;
}

int EVP_Digest(const void* data, size_t count, unsigned char* md, unsigned int* size,
               const EVP_MD* type, ENGINE* impl) {
  ZEL_LAZY_FUNCTION(crypto, EVP_Digest);
  return fn ? fn(data, count, md, size, type, impl) : 0;
}

unsigned char* HMAC(const EVP_MD* evp_md, const void* key, int key_len, const unsigned char* data,
                    size_t data_len, unsigned char* md, unsigned int* md_len) {
  ZEL_LAZY_FUNCTION(crypto, HMAC);
  return fn ? fn(evp_md, key, key_len, data, data_len, md, md_len) : nullptr;
}

int RAND_bytes(unsigned char* buf, int num) {
  ZEL_LAZY_FUNCTION(crypto, RAND_bytes);
  return fn ? fn(buf, num) : 0;
}

}  // extern "C"
