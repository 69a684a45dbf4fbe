#include "data/CSqlTemplate.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Optional sign, digits, optionally a point followed by digits.
bool isDecimalNumber(const std::string& text, bool& hasPoint) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    hasPoint = false;
    if (i < text.size() && text[i] == '.') {
        hasPoint = true;
        ++i;
        std::size_t fraction = 0;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++fraction;
        }
        if (fraction == 0)
            return false;
    }
    return digits > 0 && i == text.size();
}

bool equalsNullWord(const std::string& text) {
    if (text.size() != 4)
        return false;
    static const char word[] = "null";
    for (std::size_t i = 0; i < 4; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

} // namespace

CSqlTemplate::CSqlTemplate(const CString& sql, const CMapStringToString* params, Markers markers)
    : m_markers(markers) {
    compile(sql.str(), params);
    if (!m_valid) {
        m_sql.clear();
        m_values.clear();
    }
}

void CSqlTemplate::compile(const std::string& text, const CMapStringToString* params) {
    m_sql.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size() && m_valid) {
        const char c = text[i];
        if (c == '\'') {
            // '?name' is a quoted placeholder; any other quoted text is a
            // literal of the template itself and is copied as it stands.
            std::size_t end = i + 2;
            while (end < text.size() && isNameChar(text[end]))
                ++end;
            if (i + 1 < text.size() && text[i + 1] == '?' && end > i + 2 && end < text.size() &&
                text[end] == '\'') {
                m_valid = bindQuoted(text.substr(i + 2, end - i - 2), params);
                addMarker();
                i = end + 1;
                continue;
            }
            std::size_t close = i + 1;
            for (;;) {
                close = text.find('\'', close);
                if (close == std::string::npos)
                    break;
                if (close + 1 < text.size() && text[close + 1] == '\'') {
                    close += 2; // a doubled quote inside the literal
                    continue;
                }
                break;
            }
            if (close == std::string::npos) {
                m_valid = false;
                break;
            }
            m_sql.append(text, i, close + 1 - i);
            i = close + 1;
        } else if (c == '?') {
            std::size_t end = i + 1;
            while (end < text.size() && isNameChar(text[end]))
                ++end;
            if (end == i + 1) {
                m_valid = false; // a lone "?" would be an unbound parameter
                break;
            }
            m_valid = bindBare(text.substr(i + 1, end - i - 1), params);
            addMarker();
            i = end;
        } else {
            m_sql += c;
            ++i;
        }
    }
}

void CSqlTemplate::addMarker() {
    if (m_markers == Markers::Question)
        m_sql += '?';
    else
        m_sql += '$' + std::to_string(m_values.size());
}

bool CSqlTemplate::bindQuoted(const std::string& name, const CMapStringToString* params) {
    CString value;
    if (!params || !params->Lookup(CString(name), value))
        return false;
    Value bound;
    bound.kind = Value::Kind::Text;
    bound.text = value.str();
    m_values.push_back(std::move(bound));
    return true;
}

bool CSqlTemplate::bindBare(const std::string& name, const CMapStringToString* params) {
    CString found;
    if (!params || !params->Lookup(CString(name), found))
        return false;
    const std::string& value = found.str();
    Value bound;
    bool hasPoint = false;
    if (equalsNullWord(value)) {
        bound.kind = Value::Kind::Null;
    } else if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        bound.kind = Value::Kind::Text;
        bound.text = value.substr(1, value.size() - 2);
    } else if (isDecimalNumber(value, hasPoint)) {
        errno = 0;
        char* end = nullptr;
        if (hasPoint) {
            bound.kind = Value::Kind::Real;
            bound.real = std::strtod(value.c_str(), &end);
        } else {
            bound.kind = Value::Kind::Integer;
            bound.integer = std::strtoll(value.c_str(), &end, 10);
        }
        if (errno == ERANGE)
            return false;
    } else {
        return false;
    }
    m_values.push_back(std::move(bound));
    return true;
}
