// The mail's encodings: ISO-2022-JP against the C library's converters, Base64
// and HMAC-MD5 where an AUTH step does not reach, the message itself.
#include "nvktl/Base64.h"
#include "nvktl/CMailProtocol.h"
#include "nvktl/HmacMd5.h"
#include "nvktl/JisEncoding.h"
#include "nvktl/ShiftJis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>

using NVKTL::CString;

namespace {

std::string Jis(const std::string& utf8) {
    CString out;
    NVKTL::ToJis(CString(utf8), out);
    return out.str();
}

constexpr unsigned short Geta = 0x222E;

// ESC $ B, the given JIS X 0208 codes, ESC ( B.
std::string Db(std::initializer_list<unsigned short> codes) {
    std::string text = "\x1b$B";
    for (unsigned short code : codes)
        text += std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    return text + "\x1b(B";
}

// The C library's converter; empty when it fails.
std::string Iconv(const char* to, const char* from, std::string in) {
    iconv_t cd = iconv_open(to, from);
    std::string out(in.size() * 4 + 16, '\0');
    char *inPos = in.data(), *outPos = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const bool done = iconv(cd, &inPos, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return done ? out : std::string();
}

TEST(ToJisTest, ConvertsEachKindOfCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"a.b\r\n\tz~\\", "a.b\r\n\tz~\\"},
        {"山田ム熙", Db({0x3B33, 0x4544, 0x2560, 0x7426})}, // both lead-byte ranges, trail 0x80
        {"あ1い\r\n", "\x1b$B$\"\x1b(B1\x1b$B$$\x1b(B\r\n"},
        // Half-width kana become full-width, a following mark joins where it can.
        {"ｱｶﾞﾊﾟｳﾞｱﾞｶﾟﾞ｡｢､ｰ", Db({0x2522, 0x252C, 0x2551, 0x2574, 0x2522, 0x212B, 0x252B, 0x212C,
                                 0x212B, 0x2123, 0x2156, 0x2122, 0x213C})},
        {"ｶ1ﾞ", "\x1b$B%+\x1b(B1\x1b$B!+\x1b(B"},
        // NEC special characters, IBM extensions as their NEC-selected twins,
        // symbols both duplicate in row 2.
        {"①㈱髙﨑ⅰ∵¬≒", Db({0x2D21, 0x2D6A, 0x7C62, 0x7975, 0x7C71, 0x2268, 0x224C, 0x2262})},
        // What cannot be written, broken UTF-8 (stray, over-long, cut off, a
        // surrogate) and bytes that would switch a reader's character set
        // become the geta mark.
        {"a😀é\xEE\x80\x80¥\xFF\xC0\xAF", "a" + Db({Geta, Geta, Geta, 0x216F, Geta, Geta, Geta})},
        {"x\xED\xA0\x80\x1b$@\x0e\xE3\x81",
         "x" + Db({Geta, Geta, Geta, Geta}) + "$@" + Db({Geta, Geta, Geta})},
        // Text already converted passes only when it is 7-bit throughout.
        {"\x1b$B$\"\x1b(B", "\x1b$B$\"\x1b(B"},
        {"\x1b\xE3\x81\x82", Db({Geta, 0x2422})},
    };
    for (const auto& [utf8, jis] : cases)
        EXPECT_EQ(Jis(utf8), jis) << utf8;
    const std::string text = "「ぽすとん」にアクセスしました。\r\n[ 山田 太郎 ]さん\r\n10時15分";
    EXPECT_EQ(Iconv("UTF-8", "ISO-2022-JP", Jis(text)), text);
}

TEST(ToJisTest, EveryIbmExtensionBecomesATwinThatReadsAsTheSameCharacter) {
    auto bytes = [](unsigned code) { return std::string{char(code >> 8), char(code & 0xFF)}; };
    int checked = 0;
    for (unsigned ibm = 0xFA40; ibm <= 0xFC4B; ++ibm) {
        const std::string utf32 = Iconv("UTF-32LE", "CP932", bytes(ibm));
        char32_t ch = 0;
        if (utf32.size() != 4 || !std::memcpy(&ch, utf32.data(), 4))
            continue; // no character
        const unsigned twin = NVKTL::ToShiftJis(ch);
        EXPECT_LT(twin >> 8, 0xFAu) << std::hex << ibm;
        EXPECT_EQ(Iconv("UTF-32LE", "CP932", bytes(twin)), utf32) << std::hex << ibm;
        ++checked;
    }
    EXPECT_EQ(checked, 388);
}

// What the common decoders (glibc, Python, WHATWG) read back exactly from
// ISO-2022-JP; the rest makes the mail UTF-8.
TEST(ToJisTest, OnlyStandardJisX0208AndKanaFitIso2022Jp) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},    {"山田 太郎 abc", true}, {"ｶﾞｸ", true}, {"〜−∵熙", true}, {"髙橋", false},
        {"﨑", false}, {"德", false},           {"①", false},  {"～", false},    {"😀", false},
        {"é", false},  {"a\xff", false},
    };
    for (const auto& [text, fits] : cases)
        EXPECT_EQ(NVKTL::FitsIso2022Jp(CString(text)), fits) << text;
}

TEST(ToEncodedWordsTest, WordsFitTheirLinesAndEndInAscii) {
    CString words;
    NVKTL::ToEncodedWords(CString("受付 ぽすとん" + std::string(60, 'x') + "来訪のお知らせ"), 30,
                          words);
    std::size_t room = 30, count = 0;
    for (std::size_t at = 0, end; at < words.str().size(); at = end + 3, room = 75, ++count) {
        end = std::min(words.str().find("\r\n ", at), words.str().size());
        const std::string word = words.str().substr(at, end - at);
        EXPECT_LE(word.size(), room) << word;
        const std::string jis(NVKTL::Base64Decode(word.substr(16, word.size() - 18)).View());
        const std::size_t escape = jis.rfind('\x1b');
        EXPECT_TRUE(escape == std::string::npos || jis.compare(escape, 3, "\x1b(B") == 0) << word;
    }
    EXPECT_GT(count, 2u); // the server tests read the words back
    // UTF-8 words end between two characters too; an empty text is no word.
    NVKTL::ToEncodedWords(CString(std::string(44, 'x') + "😀髙"), 75, words,
                          NVKTL::MailCharset::Utf8);
    EXPECT_EQ(words.str(),
              "=?UTF-8?B?eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHg=?="
              "\r\n =?UTF-8?B?8J+YgOmrmQ==?=");
    NVKTL::ToEncodedWords(CString(), 75, words);
    EXPECT_EQ(words.str(), "");
}

// The AUTH steps against the server run Base64 (with and without padding) and
// HMAC-MD5 through their common lengths; these are what a session does not reach.
TEST(CodecTest, Base64TakesEveryByteAndHmacHashesALongKeyFirst) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::string encoded = NVKTL::Base64Encode(all).str();
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(NVKTL::Base64Decode(encoded).View(), all);
    // Characters outside the alphabet are skipped; only whole groups of four count.
    EXPECT_EQ(NVKTL::Base64Decode(" Zm9v\r\n Ym*Fy Z=== Zm9vYm").View(), "foobarfoo");
    EXPECT_EQ(NVKTL::HmacMd5Hex(std::string(80, '\xaa'),
                                "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

TEST(CMailProtocolTest, WritesFieldsInOrderThenTheBodyAndNoForgedField) {
    NVKTL::CMailProtocol message;
    message.SetHeader("Subject", "first");
    message.SetHeader("To", "b <b@example.com>");
    message.SetHeader("subject", "hello\r\nBcc: victim@example.com"); // replaces, keeps its place
    message.SetHeader("X-Folded", "a\r\n b");
    message.SetHeader("X-Test\r\nBcc", "x");
    message.SetBody("line 1\r\n", 8);
    for (int round = 0; round < 2; ++round) { // building again starts afresh
        message.Build();
        EXPECT_EQ(message.GetText(), "Subject: hello  Bcc: victim@example.com\r\nTo: b "
                                     "<b@example.com>\r\nX-Folded: a\r\n b\r\nX-Test  Bcc: "
                                     "x\r\n\r\nline 1\r\n");
    }
}

} // namespace
