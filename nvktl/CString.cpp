#include "nvktl/CString.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>

namespace NVKTL {

namespace {

// Byte offset of character index chars (the text's size when it has fewer).
std::size_t ByteOffset(const std::string& text, int chars) {
    std::size_t i = 0;
    for (int n = 0; n < chars && i < text.size(); ++n)
        i += CString::CharLength(text, i);
    return i;
}

} // namespace

int LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

std::size_t CString::CharLength(std::string_view text, std::size_t i) {
    if (i >= text.size())
        return 0;
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > text.size() - i)
        return 1;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 1;
    }
    return length;
}

bool CString::MatchesAt(std::size_t i, std::string_view pattern) const {
    if (std::string_view(m_text).substr(i, pattern.size()) != pattern)
        return false;
    const std::size_t end = i + pattern.size();
    while (i < end)
        i += CharLength(m_text, i);
    return i == end;
}

void string<char>::Replace(std::string_view pattern, std::string_view replacement) {
    if (pattern.empty() || m_text.empty())
        return;
    std::string result;
    result.reserve(m_text.size());
    for (std::size_t i = 0;;) {
        const std::size_t hit = m_text.find(pattern, i);
        if (hit == std::string::npos) {
            result.append(m_text, i);
            break;
        }
        result.append(m_text, i, hit - i).append(replacement);
        i = hit + pattern.size();
    }
    m_text.swap(result);
}

CString::CString(const char* bytes, std::size_t n) {
    if (bytes)
        m_text.assign(bytes, strnlen(bytes, n));
}

int CString::Find(std::string_view pattern, int start) const {
    std::size_t i = ByteOffset(m_text, start < 0 ? 0 : start);
    int index = start < 0 ? 0 : start;
    for (; i < m_text.size(); i += CharLength(m_text, i), ++index) {
        if (MatchesAt(i, pattern))
            return index;
    }
    return -1;
}

namespace {

constexpr int kMaxWidth = 4096;

struct Conversion {
    bool left = false;
    bool plus = false;
    char pad = ' ';
    int width = 0;
    int precision = -1;
};

void Pad(std::string& out, std::string_view sign, std::string_view body, const Conversion& conv) {
    const std::size_t used = sign.size() + body.size();
    const std::size_t fill = conv.width > 0 && static_cast<std::size_t>(conv.width) > used
                                 ? static_cast<std::size_t>(conv.width) - used
                                 : 0;
    if (conv.left) {
        out.append(sign).append(body).append(fill, ' ');
    } else if (conv.pad == '0') {
        // With zero fill the sign stands before the zeros.
        out.append(sign).append(fill, '0').append(body);
    } else {
        out.append(fill, ' ').append(sign).append(body);
    }
}

void Integer(std::string& out, unsigned long long value, bool negative, unsigned base, bool upper,
             Conversion conv) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[24];
    std::size_t n = 0;
    do {
        buffer[sizeof buffer - ++n] = digits[value % base];
        value /= base;
    } while (value != 0);
    std::string body(buffer + sizeof buffer - n, n);
    if (conv.precision >= 0) {
        // A precision is the least number of digits, and turns zero fill off.
        if (body == "0" && conv.precision == 0)
            body.clear();
        if (body.size() < static_cast<std::size_t>(conv.precision))
            body.insert(0, static_cast<std::size_t>(conv.precision) - body.size(), '0');
        conv.pad = ' ';
    }
    Pad(out, negative ? "-" : (conv.plus ? "+" : ""), body, conv);
}

// Digits of a width or precision; absurd values are capped rather than overflowing.
int ReadNumber(const char*& p) {
    int value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value < kMaxWidth ? value * 10 + (*p - '0') : kMaxWidth;
    return value;
}

} // namespace

void CString::Format(const char* format, ...) {
    // Built aside, so that an argument may point into this text itself.
    std::string out;
    va_list args;
    va_start(args, format);
    for (const char* p = format ? format : ""; *p; ++p) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        const char* const conversionStart = p++;
        if (*p == '%') {
            out.push_back('%');
            continue;
        }
        Conversion conv;
        for (;; ++p) {
            if (*p == '-')
                conv.left = true;
            else if (*p == '+')
                conv.plus = true;
            else if (*p == ' ' || *p == '0')
                conv.pad = *p;
            else
                break;
        }
        if (*p == '*') {
            ++p;
            const int width = va_arg(args, int);
            // A negative width from the arguments means left-justified, as in printf.
            conv.left = conv.left || width < 0;
            conv.width =
                width < -kMaxWidth || width > kMaxWidth ? kMaxWidth : (width < 0 ? -width : width);
        } else {
            conv.width = ReadNumber(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                const int precision = va_arg(args, int);
                conv.precision = precision > kMaxWidth ? kMaxWidth : precision;
            } else {
                conv.precision = ReadNumber(p);
            }
        }
        // h is ignored; l and ll choose the size of the argument read.
        int longs = 0;
        for (; *p == 'h' || *p == 'l'; ++p)
            longs += *p == 'l' ? 1 : 0;
        if (conv.left)
            conv.pad = ' ';
        switch (*p) {
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int));
            Pad(out, "", std::string_view(&c, 1), conv);
            break;
        }
        case 'd':
        case 'i': {
            const long long value = longs >= 2   ? va_arg(args, long long)
                                    : longs == 1 ? va_arg(args, long)
                                                 : va_arg(args, int);
            const bool negative = value < 0;
            const auto magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
            Integer(out, magnitude, negative, 10, false, conv);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            const unsigned long long value = longs >= 2   ? va_arg(args, unsigned long long)
                                             : longs == 1 ? va_arg(args, unsigned long)
                                                          : va_arg(args, unsigned int);
            conv.plus = false;
            Integer(out, value, false, *p == 'u' ? 10 : 16, *p == 'X', conv);
            break;
        }
        case 's': {
            const char* text = va_arg(args, const char*);
            if (!text)
                text = "";
            const std::size_t length = conv.precision >= 0
                                           ? strnlen(text, static_cast<std::size_t>(conv.precision))
                                           : std::strlen(text);
            Pad(out, "", std::string_view(text, length), conv);
            break;
        }
        case '\0':
            // A cut-off conversion at the end is kept as written.
            out.append(conversionStart);
            --p;
            break;
        default:
            // Not a conversion of this formatter: keep its text as written.
            out.append(conversionStart, static_cast<std::size_t>(p - conversionStart + 1));
            break;
        }
    }
    va_end(args);
    m_text.swap(out);
}

} // namespace NVKTL
