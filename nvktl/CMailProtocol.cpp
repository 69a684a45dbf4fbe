#include "nvktl/CMailProtocol.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace NVKTL {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// A line break inside a name would start a header line of its own.
std::string OneLine(std::string_view text) {
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

// A value may be folded (CR LF then a blank); every other line break would
// start a header line of its own.
std::string FoldedValue(std::string_view text) {
    std::string value(text);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool fold = value[i] == '\r' && i + 2 < value.size() && value[i + 1] == '\n' &&
                          (value[i + 2] == ' ' || value[i + 2] == '\t');
        if (fold)
            i += 2;
        else if (value[i] == '\r' || value[i] == '\n')
            value[i] = ' ';
    }
    return value;
}

} // namespace

void CMailProtocol::SetHeader(const CString& name, const CString& value) {
    for (auto& field : m_fields) {
        if (EqualNoCase(field.first.str(), name.str())) {
            field.second = value;
            return;
        }
    }
    m_fields.emplace_back(name, value);
}

void CMailProtocol::SetBody(const void* bytes, int length) {
    m_body.Append(bytes, length);
}

void CMailProtocol::Build() {
    SetSize(0);
    for (const auto& [name, value] : m_fields) {
        Append(OneLine(name.str()) + ": ");
        Append(FoldedValue(value.str()));
        Append("\r\n");
    }
    Append("\r\n");
    Append(m_body);
}

} // namespace NVKTL
