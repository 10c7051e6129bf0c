// line/file_digest.cc: SHA-256 through OpenSSL's EVP interface.
#include "line/file_digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace line {

namespace {

// A digest that cannot even start means the library is broken: no fingerprint is better made
// up than none.
[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "kelvotest-line: SHA-256 from the cryptography library failed (%s)\n", what);
    std::abort();
}

}  // namespace

FileDigest::FileDigest() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) Broken("init");
}

FileDigest::~FileDigest() { EVP_MD_CTX_free(context_); }

void FileDigest::Update(std::string_view bytes) {
    if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) Broken("update");
}

std::string FileDigest::Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_, digest, &size) != 1 || size != 32) Broken("final");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

}  // namespace line
