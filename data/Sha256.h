#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx::data {

// A SHA-256 digest.
using Digest = std::array<std::uint8_t, 32>;

// SHA-256 of bytes, fed in pieces.
class Sha256 {
public:
    Sha256();
    void add(std::string_view bytes);
    void add(const void* bytes, std::size_t n);
    Digest finish();

private:
    void block(const std::uint8_t* p);
    std::uint32_t m_h[8];
    std::uint8_t m_buf[64];
    std::size_t m_used = 0;
    std::uint64_t m_bytes = 0;
};

Digest sha256(std::string_view bytes);
std::string hexDigest(const Digest& d);

// The SHA-256 of bytes, as 64 lower-case hex digits: how the journal names
// a script's text, so that the file run can be told from any other later.
std::string sha256Hex(std::string_view bytes);

} // namespace vx::data
