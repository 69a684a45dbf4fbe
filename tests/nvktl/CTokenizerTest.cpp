#include "nvktl/CTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using NVKTL::CString;
using NVKTL::CStringList;
using NVKTL::CTokenizer;

namespace {

std::vector<std::string> Pieces(const CStringList& list) {
    std::vector<std::string> pieces;
    for (int i = 0; i < list.GetCount(); ++i)
        pieces.push_back(list.GetAt(i).str());
    return pieces;
}

std::vector<std::string> Split(const char* text, const char* separator) {
    CStringList list;
    CTokenizer(text).Split(list, separator, std::char_traits<char>::length(separator));
    return Pieces(list);
}

using Expected = std::vector<std::string>;

} // namespace

TEST(CTokenizerTest, SplitKeepsEmptyPiecesButGivesNoneForAnEmptyText) {
    EXPECT_EQ(Split("sendLogin\n12\n", "\n"), (Expected{"sendLogin", "12", ""}));
    EXPECT_EQ(Split("a\n\nb", "\n"), (Expected{"a", "", "b"}));
    EXPECT_EQ(Split("a\n", "\n"), (Expected{"a", ""}));
    EXPECT_EQ(Split("\n", "\n"), (Expected{"", ""}));
    EXPECT_EQ(Split("a", "\n"), (Expected{"a"}));
    EXPECT_EQ(Split("", "\n"), Expected{});
}

TEST(CTokenizerTest, SplitAtATwoByteSeparatorNeverTrims) {
    EXPECT_EQ(Split("a@x.jp\r\n b@y.jp \r\n", "\r\n"), (Expected{"a@x.jp", " b@y.jp ", ""}));
    EXPECT_EQ(Split("a\r\r\nb\n", "\r\n"), (Expected{"a\r", "b\n"}));
}

TEST(CTokenizerTest, SplitAppendsToWhatTheListHolds) {
    CStringList list;
    list.Add("old");
    CTokenizer("x,y").Split(list, ",");
    EXPECT_EQ(Pieces(list), (Expected{"old", "x", "y"}));
}

TEST(CTokenizerTest, SplitAnyCutsAtTheEarliestSeparator) {
    CStringList list;
    CTokenizer text("a\r\nb\nc\r\n");
    text.SplitAny(list, {"\r\n", "\n"});
    EXPECT_EQ(Pieces(list), (Expected{"a", "b", "c", ""}));
    EXPECT_TRUE(text.IsEmpty());

    // On equal positions the separator listed first wins.
    list.RemoveAll();
    CTokenizer("a\r\nb").SplitAny(list, {"\r", "\r\n"});
    EXPECT_EQ(Pieces(list), (Expected{"a", "\nb"}));

    list.RemoveAll();
    CTokenizer("a;b").SplitAny(list, {"", ";"});
    EXPECT_EQ(Pieces(list), (Expected{"a", "b"}));

    list.RemoveAll();
    CTokenizer("").SplitAny(list, {";"});
    EXPECT_EQ(Pieces(list), (Expected{""}));
}

TEST(CTokenizerTest, SplitAnyCutsOnlyAtCharacterStarts) {
    // "漢字": the separator bytes occur only across the two characters.
    CStringList list;
    CTokenizer("\xE6\xBC\xA2\xE5\xAD\x97").SplitAny(list, {"\xA2\xE5"});
    EXPECT_EQ(Pieces(list), (Expected{"\xE6\xBC\xA2\xE5\xAD\x97"}));
}

TEST(CTokenizerTest, SplitFirstCutsOffOnePiece) {
    CTokenizer header("Subject: a: b");
    CString piece;
    EXPECT_TRUE(header.SplitFirst(piece, {": ", ":"}));
    EXPECT_EQ(piece, "Subject");
    EXPECT_EQ(header, "a: b");

    EXPECT_FALSE(header.SplitFirst(piece, {";"}));
    EXPECT_EQ(piece, "a: b");
    EXPECT_TRUE(header.IsEmpty());
}
