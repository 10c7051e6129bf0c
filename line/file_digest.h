// line/file_digest.h: the SHA-256 of a run's file, its fingerprint, from the system's
// cryptography library, which uses the processor's SHA instructions where it has them.
#pragma once

#include <string>
#include <string_view>

struct evp_md_ctx_st;   // OpenSSL's EVP_MD_CTX

namespace line {

class FileDigest {
public:
    FileDigest();
    ~FileDigest();
    FileDigest(const FileDigest&) = delete;
    FileDigest& operator=(const FileDigest&) = delete;
    void Update(std::string_view bytes);
    std::string Hex();   // 64 lowercase hex digits; once, the digest is spent afterwards

private:
    ::evp_md_ctx_st* context_;
};

}  // namespace line
