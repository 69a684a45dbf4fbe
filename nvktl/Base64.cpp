#include "nvktl/Base64.h"

#include <string>

namespace NVKTL {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kPad = 64;
constexpr int kOutside = -1;

int sextet(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return c == '=' ? kPad : kOutside;
}

} // namespace

CString Base64Encode(const void* bytes, int length) {
    std::string out;
    if (!bytes || length <= 0)
        return CString(out);
    const auto* in = static_cast<const unsigned char*>(bytes);
    out.reserve(static_cast<std::size_t>((length + 2) / 3 * 4));
    for (int i = 0; i < length; i += 3) {
        const int left = length - i;
        const unsigned group = (unsigned(in[i]) << 16) | (left > 1 ? unsigned(in[i + 1]) << 8 : 0) |
                               (left > 2 ? unsigned(in[i + 2]) : 0);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return CString(std::move(out));
}

CByteArray Base64Decode(std::string_view text) {
    CByteArray out;
    int quad[4];
    int count = 0;
    for (char c : text) {
        const int value = sextet(c);
        if (value == kOutside)
            continue;
        quad[count++] = value;
        if (count < 4)
            continue;
        count = 0;
        int carried = 0; // characters before the first "=" in this group
        while (carried < 4 && quad[carried] != kPad)
            ++carried;
        if (carried < 2)
            continue;
        unsigned group = 0;
        for (int k = 0; k < 4; ++k)
            group = (group << 6) | unsigned(k < carried ? quad[k] : 0);
        const unsigned char bytes[3] = {static_cast<unsigned char>(group >> 16),
                                        static_cast<unsigned char>(group >> 8),
                                        static_cast<unsigned char>(group)};
        out.Append(bytes, carried - 1);
    }
    return out;
}

} // namespace NVKTL
