#pragma once

#include "nvktl/CString.h"
#include "nvktl/CStringList.h"

#include <string_view>

namespace NVKTL {

// Splits its own text into pieces. Pieces are never trimmed.
class CTokenizer : public CString {
public:
    CTokenizer(const CString& text) : CString(text) {}
    CTokenizer(const char* text) : CString(text) {}

    // Appends the pieces between separators to list, byte by byte. An empty
    // text gives no piece; a separator at the very end gives an empty last
    // piece; an empty separator gives the whole text as one piece.
    void Split(CStringList& list, std::string_view separator) const;
};

} // namespace NVKTL
