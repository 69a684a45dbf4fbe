#pragma once

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace NVKTL {

template <class C> class string;

// The base text: UTF-8 bytes, zero-terminated. std::string keeps short texts
// inside the object, without a heap allocation.
template <> class string<char> {
public:
    string() = default;
    string(const char* text) : m_text(text ? text : "") {}
    string(std::string_view text) : m_text(text) {}
    string(const std::string& text) : m_text(text) {}
    string(std::string&& text) : m_text(std::move(text)) {}
    string(const string&) = default;
    string(string&&) noexcept = default;
    string& operator=(const string&) = default;
    string& operator=(string&&) noexcept = default;
    virtual ~string() = default;

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }
    std::string& str() { return m_text; }

    void Append(std::string_view text) { m_text.append(text); }

    // A control character (line breaks included) would end a protocol line
    // early or start a forged one; such text never goes onto the wire.
    static constexpr bool IsControlCharacter(unsigned char byte) {
        return byte < 0x20 || byte == 0x7F;
    }
    bool HasControlCharacter() const {
        for (const char c : m_text) {
            if (IsControlCharacter(static_cast<unsigned char>(c)))
                return true;
        }
        return false;
    }

    // Replaces every occurrence of pattern, scanning byte by byte; replaced
    // text is never scanned again. An empty pattern leaves the text as it is.
    void Replace(std::string_view pattern, std::string_view replacement);

protected:
    std::string m_text;
};

// Texts that count characters treat one UTF-8 sequence as one character.
class CString : public string<char> {
public:
    using string<char>::string;
    CString() = default;
    CString(const string<char>& other) : string<char>(other) {}
    // At most n bytes, stopping early at a zero byte.
    CString(const char* bytes, std::size_t n);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* text) {
        m_text = text ? text : "";
        return *this;
    }
    ~CString() override = default;

    // Character index of the first occurrence at or after character index
    // start, or -1. Candidates are tried only at character starts.
    int Find(std::string_view pattern, int start = 0) const;

    // printf-like formatting of the library's own (%c %d %u %x %X %s, flags
    // "-+ 0", width and precision, "*" for both; h is ignored, l and ll read
    // long and long long arguments). Anything else after "%" is kept as written.
    void Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Bytes of the character that starts at byte i: a well-formed UTF-8
    // sequence is one character, any stray or cut-off byte one of its own.
    static std::size_t CharLength(std::string_view text, std::size_t i);

    CString& operator+=(std::string_view text) {
        m_text.append(text);
        return *this;
    }
    CString& operator+=(const CString& text) {
        m_text.append(text.m_text);
        return *this;
    }
    CString& operator+=(const std::string& text) {
        m_text.append(text);
        return *this;
    }
    CString& operator+=(const char* text) {
        m_text.append(text ? text : "");
        return *this;
    }
    CString& operator+=(char c) {
        m_text.push_back(c);
        return *this;
    }

    friend CString operator+(const CString& a, std::string_view b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const CString& a, const CString& b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const CString& a, const char* b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const char* a, const CString& b) {
        CString r(a);
        r += b;
        return r;
    }
    friend bool operator==(const CString& a, const CString& b) {
        return a.m_text == b.m_text;
    }
    friend bool operator==(const CString& a, const char* b) {
        return a.m_text == (b ? b : "");
    }
    friend std::strong_ordering operator<=>(const CString& a, const CString& b) {
        return a.m_text <=> b.m_text;
    }

protected:
    // Whether pattern occurs at byte i, a character start, and ends on a
    // character boundary.
    bool MatchesAt(std::size_t i, std::string_view pattern) const;
};

// The decimal value of the text's leading number, like atoi (leading blanks,
// an optional sign, the digits; 0 without digits), but without overflow:
// values beyond the int range stop at its ends.
int LeadingNumber(std::string_view text);

} // namespace NVKTL
