#include "nvktl/CByteArray.h"

#include <gtest/gtest.h>
#include <string>

using NVKTL::CByteArray;

namespace {

TEST(CByteArray, StartsEmptyAndCopiesExactBytes) {
    CByteArray empty;
    EXPECT_EQ(0, empty.GetSize());
    EXPECT_EQ(nullptr, empty.GetData());

    CByteArray bytes("a\0b", 3);
    EXPECT_EQ(3, bytes.GetSize());
    EXPECT_EQ(std::string("a\0b", 3), bytes.View());
}

TEST(CByteArray, AppendKeepsOrderAndZeroesTheSpareBytes) {
    CByteArray message;
    EXPECT_EQ(6, message.Append("From: ", 6));
    EXPECT_EQ(9, message.Append(std::string_view("a@b")));
    EXPECT_EQ(11, message.Append(CByteArray("\r\n", 2)));
    EXPECT_EQ("From: a@b\r\n", message.View());
    // The capacity doubled from 6 to 12: the byte after the contents is zero.
    EXPECT_EQ(0, message.GetData()[message.GetSize()]);
}

TEST(CByteArray, SetSizeGrowsWithZerosAndShrinkingToZeroKeepsTheBlock) {
    CByteArray bytes("abc", 3);
    bytes.SetSize(6);
    EXPECT_EQ(std::string("abc\0\0\0", 6), bytes.View());
    const unsigned char* block = bytes.GetData();
    bytes.SetSize(0);
    EXPECT_EQ(0, bytes.GetSize());
    EXPECT_EQ(block, bytes.GetData());
    bytes.Append("xy", 2);
    EXPECT_EQ("xy", bytes.View());
}

TEST(CByteArray, AppendingItsOwnBytesSurvivesTheGrowth) {
    CByteArray bytes("abcd", 4);
    bytes.Append(bytes.GetData(), bytes.GetSize());
    bytes.Append(bytes);
    EXPECT_EQ("abcdabcdabcdabcd", bytes.View());
}

TEST(CByteArray, CopiesAreIndependent) {
    CByteArray original("body", 4);
    CByteArray copy(original);
    copy.Append("!", 1);
    original = copy;
    copy.SetSize(0);
    EXPECT_EQ("body!", original.View());
    CByteArray moved(std::move(original));
    EXPECT_EQ("body!", moved.View());
}

} // namespace
