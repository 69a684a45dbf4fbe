#include "nvktl/CTokenizer.h"

namespace NVKTL {

void CTokenizer::Split(CStringList& list, const char* separator,
                       std::size_t separatorLength) const {
    Split(list, separator ? std::string_view(separator, separatorLength) : std::string_view());
}

void CTokenizer::Split(CStringList& list, std::string_view separator) const {
    if (m_text.empty())
        return;
    if (separator.empty()) {
        list.Add(CString(m_text));
        return;
    }
    const std::string_view text(m_text);
    std::size_t cut = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, separator.size()) == separator) {
            list.Add(CString(text.substr(cut, i - cut)));
            i += separator.size();
            cut = i;
        } else {
            ++i;
        }
    }
    list.Add(CString(text.substr(cut)));
}

std::size_t CTokenizer::FindAny(std::size_t from, const Separators& separators,
                                std::size_t& length) const {
    for (std::size_t i = from; i < m_text.size(); i += CharLength(m_text, i)) {
        for (std::string_view separator : separators) {
            if (!separator.empty() && MatchesAt(i, separator)) {
                length = separator.size();
                return i;
            }
        }
    }
    return std::string::npos;
}

void CTokenizer::SplitAny(CStringList& list, const Separators& separators) {
    const std::string_view text(m_text);
    std::size_t cut = 0;
    std::size_t length = 0;
    for (std::size_t hit; (hit = FindAny(cut, separators, length)) != std::string::npos;) {
        list.Add(CString(text.substr(cut, hit - cut)));
        cut = hit + length;
    }
    list.Add(CString(text.substr(cut)));
    m_text.clear();
}

bool CTokenizer::SplitFirst(CString& piece, const Separators& separators) {
    std::size_t length = 0;
    const std::size_t hit = FindAny(0, separators, length);
    if (hit == std::string::npos) {
        piece = CString(std::move(m_text));
        m_text.clear();
        return false;
    }
    piece = CString(m_text.substr(0, hit));
    m_text.erase(0, hit + length);
    return true;
}

} // namespace NVKTL
