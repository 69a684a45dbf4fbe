#pragma once

#include "nvktl/CByteArray.h"
#include "nvktl/CString.h"

#include <string_view>

namespace NVKTL {

// Base64 with the standard alphabet and "=" padding, in one line without
// breaks, as SMTP AUTH and MIME encoded words want it.
CString Base64Encode(const void* bytes, int length);
inline CString Base64Encode(std::string_view bytes) {
    return Base64Encode(bytes.data(), static_cast<int>(bytes.size()));
}

// Decodes text, skipping every character outside the alphabet and "=" (line
// ends, blanks). Works in groups of four significant characters: a group
// yields the bytes its characters before the first "=" carry, and a last
// group of fewer than four characters yields nothing.
CByteArray Base64Decode(std::string_view text);

} // namespace NVKTL
