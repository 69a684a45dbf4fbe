#include "nvktl/JisEncoding.h"

#include "nvktl/Base64.h"
#include "nvktl/ShiftJis.h"

#include <algorithm>
#include <array>
#include <iconv.h>
#include <mutex>
#include <string>
#include <string_view>

namespace NVKTL {

namespace {

constexpr unsigned short GetaMarkJis = 0x222E; // 〓, U+3013
constexpr char32_t Broken = 0xFFFFFFFF;        // a byte that starts no valid UTF-8 sequence

constexpr std::string_view ToDoubleByte = "\x1b$B";
constexpr std::string_view ToAscii = "\x1b(B";

// Reads the character at byte i and sets length to its byte count. A byte
// that does not start a well-formed sequence (stray continuation bytes,
// over-long forms, surrogates, values past U+10FFFF, cut-off sequences) is
// one Broken character of length 1.
char32_t DecodeUtf8(std::string_view text, std::size_t i, std::size_t& length) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = at(0);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t count = 0;
    char32_t ch = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        ch = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        ch = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        ch = lead & 0x07;
        minimum = 0x10000;
    } else {
        return Broken;
    }
    if (text.size() - i < count)
        return Broken;
    for (std::size_t k = 1; k < count; ++k) {
        if ((at(k) & 0xC0) != 0x80)
            return Broken;
        ch = ch << 6 | (at(k) & 0x3F);
    }
    if (ch < minimum || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
        return Broken;
    length = count;
    return ch;
}

// Full-width forms of the half-width katakana U+FF61-U+FF9F, in order.
constexpr char16_t FullWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, // ｡｢｣､･ｦｧｨ
    0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, // ｩｪｫｬｭｮｯｰ
    0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, // ｱｲｳｴｵｶｷｸ
    0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, // ｹｺｻｼｽｾｿﾀ
    0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, // ﾁﾂﾃﾄﾅﾆﾇﾈ
    0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, // ﾉﾊﾋﾌﾍﾎﾏﾐ
    0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, // ﾑﾒﾓﾔﾕﾖﾗﾘ
    0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,         // ﾙﾚﾛﾜﾝﾞﾟ
};

constexpr char32_t VoicedMark = 0xFF9E;
constexpr char32_t SemiVoicedMark = 0xFF9F;

bool IsHalfWidthKana(char32_t ch) {
    return ch >= 0xFF61 && ch <= 0xFF9F;
}

// The full-width kana for a half-width one and the mark that follows it
// (0 when none does); joined is set when the mark became part of the kana.
// Only the voiced and semi-voiced kana that JIS X 0208 has are joined.
char32_t FullWidthKanaFor(char32_t halfWidth, char32_t next, bool& joined) {
    const char32_t full = FullWidthKana[halfWidth - 0xFF61];
    joined = false;
    const bool kaToTo = halfWidth >= 0xFF76 && halfWidth <= 0xFF84; // ｶ-ﾄ
    const bool haToHo = halfWidth >= 0xFF8A && halfWidth <= 0xFF8E; // ﾊ-ﾎ
    if (next == VoicedMark) {
        if (kaToTo || haToHo) {
            joined = true;
            return full + 1;
        }
        if (halfWidth == 0xFF73) { // ｳﾞ
            joined = true;
            return 0x30F4;
        }
    } else if (next == SemiVoicedMark && haToHo) {
        joined = true;
        return full + 2;
    }
    return full;
}

// The JIS X 0208 code for a character beyond ASCII, GETA MARK when there is
// none. Only codes with both bytes in 0x21-0x7E are ever returned.
unsigned short JisFor(char32_t ch) {
    if (ch == Broken)
        return GetaMarkJis;
    const unsigned code = ToShiftJis(ch);
    const unsigned lead = code >> 8;
    if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)))
        return GetaMarkJis;
    const unsigned short jis = ShiftJisToJis(static_cast<unsigned short>(code));
    const auto valid = [](unsigned byte) { return byte >= 0x21 && byte <= 0x7E; };
    if (!valid(jis >> 8) || !valid(jis & 0xFF))
        return GetaMarkJis; // user-defined area and unassigned rows
    return jis;
}

// Bytes that would change the state of an ISO-2022-JP reader, or end a C text.
bool SwitchesReader(char32_t ch) {
    return ch == 0x1B || ch == 0x0E || ch == 0x0F || ch == 0x00;
}

bool IsSevenBit(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

unsigned short ShiftJisToJis(unsigned short code) {
    const unsigned s1 = code >> 8;
    const unsigned s2 = code & 0xFF;
    unsigned row = s1 < 0xA0 ? s1 - 0x71 : s1 - 0xB1;
    row = 2 * row + 1;
    const unsigned cell = s2 >= 0x80 ? s2 - 1 : s2;
    if (cell >= 0x9E)
        return static_cast<unsigned short>(((row + 1) & 0xFF) << 8 | ((cell - 0x7D) & 0xFF));
    return static_cast<unsigned short>((row & 0xFF) << 8 | ((cell - 0x1F) & 0xFF));
}

void ToJis(const CString& source, CString& out) {
    const std::string_view text = source.str();
    if (!text.empty() && text.front() == '\x1b' && IsSevenBit(text)) {
        out = source;
        return;
    }

    std::string result;
    result.reserve(text.size() + text.size() / 2 + 8);
    bool doubleByte = false;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length;
        char32_t ch = DecodeUtf8(text, i, length);
        i += length;
        if (ch < 0x80 && !SwitchesReader(ch)) {
            if (doubleByte) {
                result += ToAscii;
                doubleByte = false;
            }
            result += static_cast<char>(ch);
            continue;
        }

        unsigned short jis;
        if (SwitchesReader(ch)) {
            jis = GetaMarkJis;
        } else {
            if (IsHalfWidthKana(ch)) {
                std::size_t nextLength = 0;
                const char32_t next = i < text.size() ? DecodeUtf8(text, i, nextLength) : 0;
                bool joined;
                ch = FullWidthKanaFor(ch, next, joined);
                if (joined)
                    i += nextLength;
            }
            jis = JisFor(ch);
        }
        if (!doubleByte) {
            result += ToDoubleByte;
            doubleByte = true;
        }
        result += static_cast<char>(jis >> 8);
        result += static_cast<char>(jis & 0xFF);
    }
    if (doubleByte)
        result += ToAscii;
    out = CString(std::move(result));
}

namespace {

constexpr char32_t Replacement = 0xFFFD;

// The character each JIS X 0208 code stands for as glibc's ISO-2022-JP
// decoder reads it, 0 for a code it refuses; made once.
const std::array<char32_t, 94 * 94>& StandardJis() {
    static std::array<char32_t, 94 * 94> table{};
    static std::once_flag made;
    std::call_once(made, [] {
        const iconv_t cd = ::iconv_open("UTF-32LE", "ISO-2022-JP");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return;
        for (std::size_t i = 0; i < table.size(); ++i) {
            char in[] = {'\x1b',
                         '$',
                         'B',
                         static_cast<char>(0x21 + i / 94),
                         static_cast<char>(0x21 + i % 94),
                         '\x1b',
                         '(',
                         'B'};
            char32_t out[2] = {};
            char* inPos = in;
            char* outPos = reinterpret_cast<char*>(out);
            std::size_t inLeft = sizeof in;
            std::size_t outLeft = sizeof out;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (::iconv(cd, &inPos, &inLeft, &outPos, &outLeft) != static_cast<std::size_t>(-1) &&
                outLeft == sizeof out - sizeof(char32_t))
                table[i] = out[0];
        }
        ::iconv_close(cd);
    });
    return table;
}

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

} // namespace

bool FitsIso2022Jp(const CString& source) {
    const std::string_view text = source.str();
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length;
        const char32_t ch = DecodeUtf8(text, i, length);
        i += length;
        if (ch == Broken)
            return false;
        if (ch < 0x80 || IsHalfWidthKana(ch))
            continue;
        const unsigned short jis = JisFor(ch);
        const std::size_t index = ((jis >> 8) - 0x21) * 94 + ((jis & 0xFF) - 0x21);
        if (StandardJis()[index] != ch)
            return false;
    }
    return true;
}

CString CleanUtf8(const CString& source) {
    const std::string_view text = source.str();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length;
        const char32_t ch = DecodeUtf8(text, i, length);
        if (ch == Broken)
            AppendUtf8(out, Replacement);
        else if (SwitchesReader(ch))
            AppendUtf8(out, 0x3013); // 〓
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return CString(std::move(out));
}

void ToEncodedWords(const CString& source, std::size_t firstLineRoom, CString& out,
                    MailCharset charset) {
    const bool utf8 = charset == MailCharset::Utf8;
    const std::string_view Open = utf8 ? "=?UTF-8?B?" : "=?ISO-2022-JP?B?";
    constexpr std::string_view Close = "?=";
    constexpr std::size_t MaxWord = 75;
    // The bytes a word of room characters can carry (4 Base64 per 3).
    auto capacity = [&](std::size_t room) {
        const std::size_t text =
            room > Open.size() + Close.size() ? room - Open.size() - Close.size() : 0;
        return text / 4 * 3;
    };
    auto word = [&](const std::string& bytes) {
        return std::string(Open) + Base64Encode(bytes).str() + std::string(Close);
    };
    auto encoded = [&](const std::string& text) {
        CString bytes;
        if (utf8)
            bytes = CleanUtf8(CString(text));
        else
            ToJis(CString(text), bytes);
        return bytes.str();
    };

    const std::string& text = source.str();
    std::string result;
    std::string chunk;      // source characters of the word being filled
    std::string chunkBytes; // their encoding
    std::size_t limit = capacity(std::min(MaxWord, firstLineRoom));
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = CString::CharLength(text, i);
        const std::string candidate = chunk + text.substr(i, length);
        const std::string bytes = encoded(candidate);
        // A word holds at least one character, or the text would never end.
        if (!chunk.empty() && bytes.size() > limit) {
            if (!result.empty())
                result += "\r\n ";
            result += word(chunkBytes);
            chunk.clear();
            chunkBytes.clear();
            limit = capacity(MaxWord);
            continue; // the same character opens the next word
        }
        chunk = candidate;
        chunkBytes = bytes;
        i += length;
    }
    if (!chunk.empty()) {
        if (!result.empty())
            result += "\r\n ";
        result += word(chunkBytes);
    }
    out = CString(std::move(result));
}

} // namespace NVKTL
