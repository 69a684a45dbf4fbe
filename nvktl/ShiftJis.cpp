#include "nvktl/ShiftJis.h"

#include <cstddef>
#include <iconv.h>

namespace NVKTL {

namespace {

// Position of a Shift-JIS code within the 188 trail bytes of its lead byte
// row sequence (trail bytes 0x40-0x7E and 0x80-0xFC).
int TrailIndex(unsigned char lead, unsigned char trail, unsigned char firstLead) {
    const int cell = trail < 0x80 ? trail - 0x40 : trail - 0x41;
    return (lead - firstLead) * 188 + cell;
}

unsigned short CodeAt(int index, unsigned char firstLead) {
    const int lead = firstLead + index / 188;
    const int cell = index % 188;
    const int trail = cell < 0x3F ? cell + 0x40 : cell + 0x41;
    return static_cast<unsigned short>((lead << 8) | trail);
}

// The non-kanji head of the IBM block, 0xFA40-0xFA5B, in order.
constexpr unsigned short IbmHead[] = {
    0xEEEF, 0xEEF0, 0xEEF1, 0xEEF2, 0xEEF3, 0xEEF4, 0xEEF5, 0xEEF6, 0xEEF7, 0xEEF8, // small roman
    0x8754, 0x8755, 0x8756, 0x8757, 0x8758, 0x8759, 0x875A, 0x875B, 0x875C, 0x875D, // roman
    0x81CA,                                                                         // not sign
    0xEEFA, 0xEEFB, 0xEEFC, // broken bar, quotes
    0x878A, 0x8782, 0x8784, // ㈱ № ℡
    0x81E6,                 // because
};
constexpr int IbmHeadCount = static_cast<int>(sizeof IbmHead / sizeof IbmHead[0]);

// The IBM block ends at 0xFC4B; its kanji are the NEC-selected kanji
// 0xED40-0xEEEC in the same order.
constexpr int IbmLastIndex = 2 * 188 + (0x4B - 0x40);

// Characters without a code of their own in code page 932 whose full-width
// form has one.
char32_t FullWidthForm(char32_t ch) {
    switch (ch) {
    case 0x00A5: // YEN SIGN
        return 0xFFE5;
    case 0x203E: // OVERLINE
        return 0xFFE3;
    default:
        return ch;
    }
}

std::size_t EncodeUtf8(char32_t ch, char* out) {
    if (ch < 0x80) {
        out[0] = static_cast<char>(ch);
        return 1;
    }
    if (ch < 0x800) {
        out[0] = static_cast<char>(0xC0 | (ch >> 6));
        out[1] = static_cast<char>(0x80 | (ch & 0x3F));
        return 2;
    }
    if (ch < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (ch >> 12));
        out[1] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (ch & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (ch >> 18));
    out[1] = static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (ch & 0x3F));
    return 4;
}

// The C library's code page 932 converter, one per thread (a conversion
// handle must not be shared between threads).
class Cp932Encoder {
public:
    Cp932Encoder() : m_cd(::iconv_open("CP932", "UTF-8")) {}
    Cp932Encoder(const Cp932Encoder&) = delete;
    Cp932Encoder& operator=(const Cp932Encoder&) = delete;
    ~Cp932Encoder() {
        if (m_cd != Invalid)
            ::iconv_close(m_cd);
    }

    unsigned Encode(char32_t ch) {
        if (m_cd == Invalid || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
            return 0;
        char in[4];
        char out[8];
        char* inPos = in;
        char* outPos = out;
        std::size_t inLeft = EncodeUtf8(ch, in);
        std::size_t outLeft = sizeof out;
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(m_cd, &inPos, &inLeft, &outPos, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0)
            return 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(out);
        switch (sizeof out - outLeft) {
        case 1:
            return bytes[0];
        case 2:
            return static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
        default:
            return 0;
        }
    }

private:
    static inline const iconv_t Invalid = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
};

} // namespace

unsigned short IbmToNecCode(unsigned short code) {
    const auto lead = static_cast<unsigned char>(code >> 8);
    const auto trail = static_cast<unsigned char>(code & 0xFF);
    if (lead < 0xFA || lead > 0xFC || trail < 0x40 || trail == 0x7F || trail > 0xFC)
        return code;
    const int index = TrailIndex(lead, trail, 0xFA);
    if (index > IbmLastIndex)
        return code;
    if (index < IbmHeadCount)
        return IbmHead[index];
    return CodeAt(index - IbmHeadCount, 0xED);
}

unsigned ToShiftJis(char32_t ch) {
    if (ch < 0x80)
        return ch;
    thread_local Cp932Encoder encoder;
    const unsigned code = encoder.Encode(FullWidthForm(ch));
    if (code >= 0xA1 && code <= 0xDF)
        return code; // half-width katakana
    if (code < 0x100)
        return 0; // a single byte for a character beyond ASCII is not the character
    return IbmToNecCode(static_cast<unsigned short>(code));
}

} // namespace NVKTL
