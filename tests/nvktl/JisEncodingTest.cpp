#include "nvktl/JisEncoding.h"
#include "nvktl/ShiftJis.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <string>

using NVKTL::CString;

namespace {

std::string Jis(const std::string& utf8) {
    CString out;
    NVKTL::ToJis(CString(utf8), out);
    return out.str();
}

// ESC $ B, the given JIS X 0208 codes, ESC ( B.
std::string DoubleByte(std::initializer_list<unsigned short> codes) {
    std::string text = "\x1b$B";
    for (unsigned short code : codes) {
        text += static_cast<char>(code >> 8);
        text += static_cast<char>(code & 0xFF);
    }
    return text + "\x1b(B";
}

// Converts with the C library's iconv; empty when it fails.
std::string Iconv(const char* to, const char* from, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string in = text;
    std::string out(text.size() * 4 + 16, '\0');
    char* inPos = in.data();
    char* outPos = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    const size_t result = iconv(cd, &inPos, &inLeft, &outPos, &outLeft);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1))
        return {};
    out.resize(out.size() - outLeft);
    return out;
}

// Walks ISO-2022-JP text the way a reader does. Returns an empty text when
// it is well formed (7-bit, only ESC $ B and ESC ( B, every double-byte
// pair within 0x21-0x7E, ending in ASCII), else what is wrong.
std::string Malformation(const std::string& text) {
    bool doubleByte = false;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80)
            return "8-bit byte at " + std::to_string(i);
        if (byte == 0x1B) {
            const std::string sequence = text.substr(i, 3);
            if (sequence == "\x1b$B")
                doubleByte = true;
            else if (sequence == "\x1b(B")
                doubleByte = false;
            else
                return "unknown escape at " + std::to_string(i);
            i += 3;
            continue;
        }
        if (doubleByte) {
            if (i + 1 >= text.size())
                return "half a character at the end";
            const auto low = static_cast<unsigned char>(text[i + 1]);
            if (byte < 0x21 || byte > 0x7E || low < 0x21 || low > 0x7E)
                return "invalid JIS code at " + std::to_string(i);
            i += 2;
        } else {
            ++i;
        }
    }
    return doubleByte ? "ends in double-byte mode" : "";
}

std::string Utf8(char32_t ch) {
    std::string out;
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
    return out;
}

char32_t CodePoint(const std::string& utf8) {
    const auto byte = [&](size_t i) { return static_cast<char32_t>(utf8[i] & 0x3F); };
    const auto lead = static_cast<unsigned char>(utf8[0]);
    if (lead < 0x80)
        return lead;
    if (lead < 0xE0)
        return (lead & 0x1F) << 6 | byte(1);
    if (lead < 0xF0)
        return (lead & 0x0F) << 12 | byte(1) << 6 | byte(2);
    return (lead & 0x07) << 18 | byte(1) << 12 | byte(2) << 6 | byte(3);
}

constexpr unsigned short Geta = 0x222E;

} // namespace

TEST(ShiftJisToJisTest, FollowsTheArithmeticAcrossTheLeadByteRanges) {
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x82A0), 0x2422);    // あ
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x889F), 0x3021);    // 亜, first kanji
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x81AC), 0x222E);    // 〓
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x8140), 0x2121);    // ideographic space
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x9FFC), 0x5E7E);    // last code below 0xA0
    EXPECT_EQ(NVKTL::ShiftJisToJis(0xE040), 0x5F21);    // first code above 0xDF
    EXPECT_EQ(NVKTL::ShiftJisToJis(0xEAA4), 0x7426);    // 熙, last JIS X 0208 kanji
    EXPECT_EQ(NVKTL::ShiftJisToJis(0x8780), 0x2D60);    // trail 0x80 skips 0x7F
    EXPECT_EQ(NVKTL::ShiftJisToJis(0xF040) >> 8, 0x7F); // user-defined area leaves JIS
}

TEST(ToJisTest, AsciiStaysAsItIsAndJapaneseIsBracketedByEscapes) {
    EXPECT_EQ(Jis(""), "");
    EXPECT_EQ(Jis("ABC"), "ABC");
    EXPECT_EQ(Jis("a.b\r\n\tz~\\"), "a.b\r\n\tz~\\");
    EXPECT_EQ(Jis("あ"), DoubleByte({0x2422}));
    EXPECT_EQ(Jis("山田"), DoubleByte({0x3B33, 0x4544}));
    // Every boundary between kana and digits switches mode; the end is ASCII.
    EXPECT_EQ(Jis("あ1い2う"), "\x1b$B$\"\x1b(B1\x1b$B$$\x1b(B2\x1b$B$&\x1b(B");
    EXPECT_EQ(Jis("1あ\r\n"), "1\x1b$B$\"\x1b(B\r\n");
}

TEST(ToJisTest, JapaneseTextReadsBackThroughAStrictDecoder) {
    const std::string text = "「ぽすとん」にアクセスしました。\r\n[ 総務部 ]の\r\n"
                             "[ 山田 太郎 ]さん\r\n通知があった時間\r\n2026年12月05日 10時15分\r\n"
                             "全角記号：～（）＄％＆＋＝ー〜−―‖¢£¬";
    const std::string jis = Jis(text);
    EXPECT_EQ(Malformation(jis), "");
    // glibc's decoder maps a few JIS codes to other code points than the
    // ones Windows texts use; compare the texts both decoders agree on.
    const std::string back = Iconv("UTF-8", "ISO-2022-JP", jis);
    const std::string agreed = text.substr(0, text.find("全角記号"));
    EXPECT_EQ(back.substr(0, agreed.size()), agreed);
}

TEST(ToJisTest, HalfWidthKanaBecomesFullWidthWithMarksJoined) {
    EXPECT_EQ(Jis("ｱ"), DoubleByte({0x2522}));              // ア
    EXPECT_EQ(Jis("ｶﾞ"), DoubleByte({0x252C}));             // ガ
    EXPECT_EQ(Jis("ﾊﾟﾋﾞ"), DoubleByte({0x2551, 0x2553}));   // パビ
    EXPECT_EQ(Jis("ｳﾞ"), DoubleByte({0x2574}));             // ヴ
    EXPECT_EQ(Jis("ﾄﾞﾎﾟ"), DoubleByte({0x2549, 0x255D}));   // ドポ
    EXPECT_EQ(Jis("ｱﾞ"), DoubleByte({0x2522, 0x212B}));     // ア゛: no voiced ア
    EXPECT_EQ(Jis("ｶﾟ"), DoubleByte({0x252B, 0x212C}));     // カ゜: no semi-voiced カ
    EXPECT_EQ(Jis("ﾞ"), DoubleByte({0x212B}));              // a lone mark
    EXPECT_EQ(Jis("ｶ1ﾞ"), "\x1b$B%+\x1b(B1\x1b$B!+\x1b(B"); // not adjacent: not joined
    EXPECT_EQ(Jis("｡｢｣､･ｰ"), DoubleByte({0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x213C}));
    EXPECT_EQ(Jis("ﾃﾞｨｽﾞﾆｰ"), Jis("ディズニー"));
}

TEST(ToJisTest, NecAndIbmCharactersUseTheNecRows) {
    EXPECT_EQ(Jis("①"), DoubleByte({0x2D21})); // NEC special characters, row 13
    EXPECT_EQ(Jis("㈱"), DoubleByte({0x2D6A}));
    EXPECT_EQ(Jis("Ⅰ"), DoubleByte({0x2D35}));
    EXPECT_EQ(Jis("髙"), DoubleByte({0x7C62})); // IBM 0xFBFC -> NEC-selected 0xEEE0, row 92
    EXPECT_EQ(Jis("﨑"), DoubleByte({0x7975})); // IBM 0xFAB1 -> NEC-selected 0xED95, row 89
    EXPECT_EQ(Jis("ⅰ"), DoubleByte({0x7C71}));  // IBM 0xFA40 -> NEC-selected 0xEEEF
    // Symbols that NEC and IBM both duplicate keep their codes in row 2.
    EXPECT_EQ(Jis("∵"), DoubleByte({0x2268}));
    EXPECT_EQ(Jis("¬"), DoubleByte({0x224C}));
    const std::string symbols = Jis("≒≡∫√⊥∠∩∪");
    ASSERT_EQ(symbols.size(), 6u + 2 * 8);
    for (size_t i = 3; i < symbols.size() - 3; i += 2)
        EXPECT_EQ(symbols[i], 0x22) << i;
}

TEST(ToJisTest, EveryIbmExtensionMapsToACodeThatReadsAsTheSameCharacter) {
    int checked = 0;
    for (unsigned lead = 0xFA; lead <= 0xFC; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F || (lead == 0xFC && trail > 0x4B))
                continue;
            const auto ibm = static_cast<unsigned short>(lead << 8 | trail);
            const unsigned short nec = NVKTL::IbmToNecCode(ibm);
            ASSERT_LT(nec >> 8, 0xFA) << std::hex << ibm;
            const std::string ibmBytes{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string necBytes{static_cast<char>(nec >> 8), static_cast<char>(nec & 0xFF)};
            const std::string character = Iconv("UTF-8", "CP932", ibmBytes);
            ASSERT_FALSE(character.empty()) << std::hex << ibm;
            EXPECT_EQ(Iconv("UTF-8", "CP932", necBytes), character) << std::hex << ibm;
            // Writing the character itself picks the same NEC code.
            EXPECT_EQ(NVKTL::ToShiftJis(CodePoint(character)), nec) << std::hex << ibm;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 388);
    EXPECT_EQ(NVKTL::IbmToNecCode(0x82A0), 0x82A0);
    EXPECT_EQ(NVKTL::IbmToNecCode(0xFC4C), 0xFC4C);
}

TEST(ToJisTest, WhatCannotBeWrittenBecomesGetaMark) {
    EXPECT_EQ(Jis("😀"), DoubleByte({Geta}));
    EXPECT_EQ(Jis("a😀b"), "a" + DoubleByte({Geta}) + "b");
    EXPECT_EQ(Jis("\xEE\x80\x80"), DoubleByte({Geta})); // U+E000: user-defined area
    EXPECT_EQ(Jis("é"), DoubleByte({Geta}));
    EXPECT_EQ(Jis("¥"), DoubleByte({0x216F})); // as full-width ￥
    // Broken UTF-8: stray, cut-off and over-long sequences, surrogates.
    EXPECT_EQ(Jis("\xFF"), DoubleByte({Geta}));
    EXPECT_EQ(Jis("x\xE3\x81"), "x" + DoubleByte({Geta, Geta}));
    EXPECT_EQ(Jis("\xC0\xAF"), DoubleByte({Geta, Geta}));
    EXPECT_EQ(Jis("\xED\xA0\x80"), DoubleByte({Geta, Geta, Geta}));
    // Bytes that would switch a reader's character set never pass.
    EXPECT_EQ(Jis("a\x1b$@b"), "a" + DoubleByte({Geta}) + "$@b");
    EXPECT_EQ(Jis(std::string("a\x0e\x0f", 3)), "a" + DoubleByte({Geta, Geta}));
}

TEST(ToJisTest, EveryCharacterGivesWellFormedSevenBitText) {
    std::string all;
    for (char32_t ch = 0x80; ch <= 0x10FFFF; ch += (ch < 0x10000 ? 1 : 0x3F1)) {
        if (ch >= 0xD800 && ch <= 0xDFFF)
            continue;
        all += Utf8(ch);
        if (ch % 64 == 0)
            all += 'x';
    }
    all += "\xFF\xFE\xC3";
    const std::string jis = Jis(all);
    EXPECT_EQ(Malformation(jis), "");
}

TEST(ToJisTest, TextAlreadyConvertedPassesOnlyWhenItIsSevenBit) {
    const std::string converted = "\x1b$B$\"\x1b(B";
    EXPECT_EQ(Jis(converted), converted);
    // 8-bit bytes after a leading ESC: converted like any text, the ESC included.
    EXPECT_EQ(Jis("\x1b"
                  "あ"),
              DoubleByte({Geta, 0x2422}));
}

TEST(ToEncodedWordTest, WholeValueIsOneBase64Word) {
    CString word;
    NVKTL::ToEncodedWord("", word);
    EXPECT_EQ(word, "=?ISO-2022-JP?B?"
                    "?=");
    NVKTL::ToEncodedWord("abc", word);
    EXPECT_EQ(word, "=?ISO-2022-JP?B?YWJj?=");
    NVKTL::ToEncodedWord("あ", word);
    EXPECT_EQ(word, "=?ISO-2022-JP?B?GyRCJCIbKEI=?=");

    // A long value and one with line breaks stay one unbroken word.
    std::string longText;
    for (int i = 0; i < 40; ++i)
        longText += "受付通知テスト";
    NVKTL::ToEncodedWord(CString(longText + "\r\nBcc: x@example.com"), word);
    EXPECT_EQ(word.str().find_first_of(" \t\r\n"), std::string::npos);
    EXPECT_EQ(word.str().rfind("=?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(word.str().find("?=") + 2, word.str().size());
}
