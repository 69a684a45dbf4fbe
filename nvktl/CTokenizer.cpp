#include "nvktl/CTokenizer.h"

namespace NVKTL {

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

} // namespace NVKTL
