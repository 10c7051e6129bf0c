// line/sha256.h: SHA-256 (FIPS 180-4), fed in pieces, for the fingerprint of a run's file:
// the same run id with another fingerprint is another run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace line {

class Sha256 {
public:
    Sha256();
    void Add(std::string_view bytes);
    std::string HexDigest();   // ends the hash: 64 lowercase hex digits
private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingBytes_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace line
