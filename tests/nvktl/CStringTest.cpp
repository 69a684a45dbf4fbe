#include "nvktl/CString.h"
#include "nvktl/CTokenizer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

using NVKTL::CString;

namespace {

TEST(CStringTest, FindMatchesWholeCharactersOnly) {
    const CString text("漢字かなa\r\n.\r\n\xE6\xBC"
                       "b");
    EXPECT_EQ(text.Find("か"), 2);
    EXPECT_EQ(text.Find("\r\n.\r\n"), 5);
    EXPECT_EQ(text.Find("b"), 12) << "a cut-off sequence is one character per byte";
    EXPECT_EQ(text.Find("\xBC\xA2\xE5"), -1) << "bytes across two characters";
    EXPECT_EQ(text.Find("\xE6\xBC"), 10) << "but never the front of a whole one";
}

#define EXPECT_FORMATS_AS_PRINTF(format, ...)                                                      \
    do {                                                                                           \
        char expected[128];                                                                        \
        std::snprintf(expected, sizeof expected, format, __VA_ARGS__);                             \
        CString actual("old");                                                                     \
        actual.Format(format, __VA_ARGS__);                                                        \
        EXPECT_EQ(actual.str(), expected) << format;                                               \
    } while (false)

TEST(CStringTest, FormatMatchesPrintf) {
    for (int n : {0, 7, -42, 2026, INT_MIN, INT_MAX})
        EXPECT_FORMATS_AS_PRINTF("%02d|%04d|%d|%5d|%-5d|%+d|%.3d", n, n, n, n, n, n, n);
    EXPECT_FORMATS_AS_PRINTF("%ld|%02ld|%u|%08X|%x|%llx|%hd|%*d|%c", LONG_MIN, 5L, UINT_MAX,
                             0xBEEFu, 255u, ULLONG_MAX, 12, 4, 1, 'k');
    EXPECT_FORMATS_AS_PRINTF("<%s> %.2s|%6.1s|%-4s|100%%", "漢", "abc", "xyz", "q");
    const char* volatile odd = "%q|%5|50%"; // what is no conversion stays as written
    CString text("abc");
    text.Format(odd, 0);
    EXPECT_EQ(text, "%q|%5|50%");
    text = "abc";
    text.Format("%s-%s", text.c_str(), text.c_str()); // a text may format itself
    EXPECT_EQ(text, "abc-abc");
}

TEST(CTokenizerTest, SplitAppendsEveryPieceUntrimmed) {
    NVKTL::CStringList list;
    NVKTL::CTokenizer("").Split(list, "\r\n");
    NVKTL::CTokenizer("a@x.jp\r\n b@y.jp \r\r\n\r\n").Split(list, "\r\n");
    NVKTL::CTokenizer("\r\n").Split(list, "\r\n");
    std::string pieces;
    for (int i = 0; i < list.GetCount(); ++i)
        pieces += "[" + list.GetAt(i).str() + "]";
    EXPECT_EQ(pieces, "[a@x.jp][ b@y.jp \r][][][][]");
}

} // namespace
