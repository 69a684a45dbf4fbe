#include "nvktl/CString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

using NVKTL::CString;

namespace {

// "漢字かな": four characters of three bytes each.
const char* const kKanji = "\xE6\xBC\xA2\xE5\xAD\x97\xE3\x81\x8B\xE3\x81\xAA";

} // namespace

TEST(CStringTest, ConstructFromBytesStopsAtCountOrZeroByte) {
    EXPECT_EQ(CString("abcdef", 3), "abc");
    EXPECT_EQ(CString("ab\0cd", 5), "ab");
    EXPECT_EQ(CString(nullptr, 4), "");
}

TEST(CStringTest, FindCountsCharactersAndTriesOnlyCharacterStarts) {
    const CString text(kKanji);
    EXPECT_EQ(text.Find("\xE3\x81\x8B"), 2);
    // These bytes occur, but straddle the boundary between the first two characters.
    ASSERT_NE(text.str().find("\xBC\xA2\xE5"), std::string::npos);
    EXPECT_EQ(text.Find("\xBC\xA2\xE5"), -1);
    // A cut-off sequence must not match the front of a whole character.
    EXPECT_EQ(text.Find("\xE6\xBC"), -1);

    const CString mixed("\xE6\xBC\xA2"
                        "a\xE6\xBC\xA2"
                        "a");
    EXPECT_EQ(mixed.Find("a"), 1);
    EXPECT_EQ(mixed.Find("a", 2), 3);
    EXPECT_EQ(mixed.Find("", 2), 2);
    EXPECT_EQ(mixed.Find("a", 4), -1);
    EXPECT_EQ(mixed.Find("", 4), -1);
}

TEST(CStringTest, FindsTheEndOfMailDataAfterMultiByteText) {
    const CString body(std::string(kKanji) + "\r\n.\r\n");
    EXPECT_EQ(body.Find("\r\n.\r\n"), 4);
    EXPECT_EQ(CString("\r\n.\r\n").Find("\r\n.\r\n"), 0);
    EXPECT_EQ(CString("a\r\n.\r").Find("\r\n.\r\n"), -1);
}

TEST(CStringTest, InvalidUtf8CountsOneCharacterPerByte) {
    // A lead byte cut off by an ASCII byte, a stray continuation byte, a lead byte at the end.
    const CString text("\xE6\xBC"
                       "a\x80x\xE6");
    EXPECT_EQ(text.Find("a"), 2);
    EXPECT_EQ(text.Find("x"), 4);
    EXPECT_EQ(text.Left(5), CString("\xE6\xBC"
                                    "a\x80x"));
    EXPECT_EQ(text.Mid(5), CString("\xE6"));
    EXPECT_EQ(text.Mid(6), "");
}

TEST(CStringTest, LeftMidAndDeleteCountCharacters) {
    const CString text(kKanji);
    EXPECT_EQ(text.Left(2).GetLength(), 6);
    EXPECT_EQ(text.Left(2), "\xE6\xBC\xA2\xE5\xAD\x97");
    EXPECT_EQ(text.Left(0), "");
    EXPECT_EQ(text.Left(9), text);

    EXPECT_EQ(text.Mid(1, 0), "\xE5\xAD\x97\xE3\x81\x8B\xE3\x81\xAA");
    EXPECT_EQ(text.Mid(1, 2), "\xE5\xAD\x97\xE3\x81\x8B");
    EXPECT_EQ(text.Mid(3, 5), "\xE3\x81\xAA");
    EXPECT_EQ(text.Mid(4), "");
    EXPECT_EQ(CString("250 OK").Mid(4), "OK");

    CString deleted(kKanji);
    EXPECT_EQ(deleted.Delete(1, 2), 2);
    EXPECT_EQ(deleted, "\xE6\xBC\xA2\xE3\x81\xAA");
    EXPECT_EQ(deleted.Delete(1, 5), 1);
    EXPECT_EQ(deleted, "\xE6\xBC\xA2");
    EXPECT_EQ(deleted.Delete(3), 0);
    EXPECT_EQ(deleted, "\xE6\xBC\xA2");
}

TEST(CStringTest, ReplaceNeverScansItsOwnOutput) {
    CString date("%m/%m");
    date.Replace("%m", "05");
    EXPECT_EQ(date, "05/05");

    CString grows("a-a");
    grows.Replace("a", "aa");
    EXPECT_EQ(grows, "aa-aa");

    CString overlapping("aaa");
    overlapping.Replace("aa", "b");
    EXPECT_EQ(overlapping, "ba");

    // Dot-stuffing: a line starting with a dot gets a second one.
    CString mail("a\r\n.\r\n..b");
    mail.Replace("\r\n.", "\r\n..");
    EXPECT_EQ(mail, "a\r\n..\r\n...b");

    CString unchanged("abc");
    unchanged.Replace("", "x");
    EXPECT_EQ(unchanged, "abc");
}

#define EXPECT_FORMAT_AS_PRINTF(format, ...)                                                       \
    do {                                                                                           \
        char expected[128];                                                                        \
        std::snprintf(expected, sizeof expected, format, __VA_ARGS__);                             \
        CString actual;                                                                            \
        actual.Format(format, __VA_ARGS__);                                                        \
        EXPECT_EQ(actual.str(), expected) << "format " << format;                                  \
    } while (false)

TEST(CStringTest, FormatMatchesPrintfForTheFormatsInUse) {
    for (int value : {0, 7, 12, 59, 123, 999, 2026}) {
        EXPECT_FORMAT_AS_PRINTF("%02d", value);
        EXPECT_FORMAT_AS_PRINTF("%03d", value);
        EXPECT_FORMAT_AS_PRINTF("%04d", value);
    }
    for (unsigned value : {0u, 255u, 0xDEADBEEFu, UINT_MAX}) {
        EXPECT_FORMAT_AS_PRINTF("%u", value);
        EXPECT_FORMAT_AS_PRINTF("USER_EVENT_%08X", value);
    }
    for (int value : {0, -1, 42, INT_MIN, INT_MAX})
        EXPECT_FORMAT_AS_PRINTF("%d", value);
    for (long value : {0L, -5L, LONG_MIN, LONG_MAX})
        EXPECT_FORMAT_AS_PRINTF("%ld", value);
    EXPECT_FORMAT_AS_PRINTF("%u.%u.%u.%u", 192u, 168u, 0u, 1u);
    EXPECT_FORMAT_AS_PRINTF("<%s> %s", "a b", "\xE6\xBC\xA2");
}

TEST(CStringTest, FormatFlagsWidthAndPrecision) {
    EXPECT_FORMAT_AS_PRINTF("%05d|%-5d|%5d|%+d|%+d", -42, 7, -7, 3, -3);
    EXPECT_FORMAT_AS_PRINTF("%*d|%-*d|%0*d", 4, 1, 4, 2, 4, 3);
    EXPECT_FORMAT_AS_PRINTF("%.2s|%6.1s|%-4s|", "abc", "xyz", "q");
    EXPECT_FORMAT_AS_PRINTF("%c%c|%x|%X|%hd|%lu", 'o', 'k', 0xabcu, 0xabcu, 12, 99UL);
    EXPECT_FORMAT_AS_PRINTF("%.3d|%5.3u", 7, 8u);
    EXPECT_FORMAT_AS_PRINTF("100%% %d%%", 5);

    CString text("old");
    const char* volatile none = nullptr; // hidden from the compiler's format check
    text.Format("%s", none);
    EXPECT_EQ(text, "");
    text = "old";
    text.Format(nullptr);
    EXPECT_EQ(text, "");
}

TEST(CStringTest, FormatKeepsWhatIsNoConversionAndMayReadItsOwnText) {
    // Formats the compiler's check would refuse, so they come in as a variable.
    auto format = [](const char* format) {
        CString text;
        text.Format(format, 0);
        return text;
    };
    EXPECT_EQ(format("%q|%5"), "%q|%5");
    EXPECT_EQ(format("50%"), "50%");
    EXPECT_EQ(format("%-"), "%-");

    CString text("abc");
    text.Format("%s-%s", text.c_str(), text.c_str());
    EXPECT_EQ(text, "abc-abc");
}

TEST(CStringTest, TrimRemovesListedBytesAtOneEnd) {
    CString text("  a b  ");
    text.TrimLeft();
    EXPECT_EQ(text, "a b  ");
    text.TrimRight();
    EXPECT_EQ(text, "a b");

    CString line("\r\n\tx\t\r\n");
    line.TrimRight("\r\n");
    EXPECT_EQ(line, "\r\n\tx\t");
    line.TrimLeft("\r\n\t");
    EXPECT_EQ(line, "x\t");

    CString blanks("   ");
    blanks.TrimLeft();
    EXPECT_EQ(blanks, "");
}

TEST(CStringTest, MakeLowerHandlesAsciiAndFullWidthCapitals) {
    // "ＡＢＺ Abc 漢" plus U+FF20 and U+FF3B, the neighbours of the capitals.
    CString text("\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBC\xBA Abc \xE6\xBC\xA2\xEF\xBC\xA0\xEF\xBC\xBB");
    text.MakeLower();
    EXPECT_EQ(text,
              "\xEF\xBD\x81\xEF\xBD\x82\xEF\xBD\x9A abc \xE6\xBC\xA2\xEF\xBC\xA0\xEF\xBC\xBB");

    CString cut("A\xEF\xBC");
    cut.MakeLower();
    EXPECT_EQ(cut, "a\xEF\xBC");
}
