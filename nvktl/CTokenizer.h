#pragma once

#include "nvktl/CString.h"
#include "nvktl/CStringList.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace NVKTL {

// Splits its own text into pieces. Pieces are never trimmed.
class CTokenizer : public CString {
public:
    using Separators = std::vector<std::string_view>;

    CTokenizer() = default;
    CTokenizer(const CString& text) : CString(text) {}
    CTokenizer(const char* text) : CString(text) {}
    CTokenizer(const char* bytes, std::size_t n) : CString(bytes, n) {}

    // Appends the pieces between separators to list, byte by byte. An empty
    // text gives no piece; a separator at the very end gives an empty last
    // piece. separator must hold separatorLength bytes.
    void Split(CStringList& list, const char* separator, std::size_t separatorLength) const;
    void Split(CStringList& list, std::string_view separator) const;

    // Cuts at the earliest of several separators, found at character starts
    // (on equal positions the one listed first wins), and appends every piece,
    // the rest after the last separator included (so an empty text gives one
    // empty piece). Consumes the text: the tokenizer is empty afterwards.
    // Empty separators are ignored.
    void SplitAny(CStringList& list, const Separators& separators);

    // One such cut: piece gets the text before the earliest separator and the
    // tokenizer keeps the text after it. Without a separator, piece gets the
    // whole text, the tokenizer becomes empty, and the result is false.
    bool SplitFirst(CString& piece, const Separators& separators);

private:
    // Byte offset of the earliest separator at or after byte offset from, or
    // npos; length receives that separator's size.
    std::size_t FindAny(std::size_t from, const Separators& separators, std::size_t& length) const;
};

} // namespace NVKTL
