#pragma once

#include "nvktl/CString.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace NVKTL {

// The MD5 message digest (RFC 1321), fed in pieces or all at once.
class CMd5 {
public:
    using Digest = std::array<unsigned char, 16>;

    CMd5() { Reset(); }
    void Reset();
    void Update(const void* bytes, std::size_t length);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The digest of everything fed since the last Reset; resets afterwards.
    Digest Final();

    static Digest Of(std::string_view bytes);
    // 32 lower-case hexadecimal digits, high half of each byte first.
    static CString ToHex(const Digest& digest);

private:
    void transform(const unsigned char block[64]);

    std::uint32_t m_state[4];
    std::uint64_t m_length; // bytes fed so far
    unsigned char m_block[64];
};

} // namespace NVKTL
