// plan/sha256.h: SHA-256 (FIPS 180-4), small and portable, for the limits digest: the
// Windows builds have no maintained library for it that would not be a heavy dependency.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plan {

class Sha256 {
public:
    Sha256();
    void Update(std::string_view bytes);
    std::array<uint8_t, 32> Finish();   // once; the object is spent afterwards

private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

// Lower-case hex of the digest of `bytes`.
std::string HexDigest(const std::array<uint8_t, 32>& digest);   // 64 lowercase hex digits
std::string Sha256Hex(std::string_view bytes);

}  // namespace plan
