#pragma once

#include "nvktl/CMd5.h"
#include "nvktl/CString.h"

#include <string_view>

namespace NVKTL {

// HMAC-MD5 (RFC 2104) with its 64-byte block; a longer key is first replaced
// by its MD5 digest.
CMd5::Digest HmacMd5(std::string_view key, std::string_view text);

// The digest as 32 lower-case hexadecimal digits, as CRAM-MD5 sends it.
inline CString HmacMd5Hex(std::string_view key, std::string_view text) {
    return CMd5::ToHex(HmacMd5(key, text));
}

} // namespace NVKTL
