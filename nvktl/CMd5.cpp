#include "nvktl/CMd5.h"

#include <algorithm>
#include <cstring>

namespace NVKTL {

namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t rotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

} // namespace

void CMd5::Reset() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_length = 0;
    std::memset(m_block, 0, sizeof m_block);
}

void CMd5::Update(const void* bytes, std::size_t length) {
    if (!bytes)
        return;
    const auto* in = static_cast<const unsigned char*>(bytes);
    std::size_t used = static_cast<std::size_t>(m_length % 64);
    m_length += length;
    while (length > 0) {
        const std::size_t take = std::min(length, 64 - used);
        std::memcpy(m_block + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used == 64) {
            transform(m_block);
            used = 0;
        }
    }
}

CMd5::Digest CMd5::Final() {
    const std::uint64_t bits = m_length * 8;
    // Padding: one 1 bit, zeros up to 56 bytes mod 64, then the bit length.
    unsigned char padding[72] = {0x80};
    const std::size_t used = static_cast<std::size_t>(m_length % 64);
    const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    Update(padding, padLength);
    Update(lengthBytes, 8);

    Digest digest{};
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<unsigned char>(m_state[i / 4] >> (8 * (i % 4)));
    Reset();
    return digest;
}

CMd5::Digest CMd5::Of(std::string_view bytes) {
    CMd5 md5;
    md5.Update(bytes);
    return md5.Final();
}

CString CMd5::ToHex(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return CString(std::move(text));
}

void CMd5::transform(const unsigned char block[64]) {
    std::uint32_t word[16];
    for (int i = 0; i < 16; ++i) {
        word[i] = std::uint32_t(block[4 * i]) | std::uint32_t(block[4 * i + 1]) << 8 |
                  std::uint32_t(block[4 * i + 2]) << 16 | std::uint32_t(block[4 * i + 3]) << 24;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t next = b + rotateLeft(a + f + kSine[i] + word[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

} // namespace NVKTL
