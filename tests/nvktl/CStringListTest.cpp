#include "nvktl/CStringList.h"

#include <gtest/gtest.h>

using NVKTL::CString;
using NVKTL::CStringList;

TEST(CStringListTest, KeepsCopiesInOrderAndFindsByBytes) {
    CStringList list;
    CString text("a@example.com");
    list.Add(text);
    list.Add("B@example.com");
    text = "changed";
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetAt(0), "a@example.com");
    EXPECT_EQ(list.Find("B@example.com"), 1);
    EXPECT_EQ(list.Find("b@example.com"), -1);
    EXPECT_EQ(list.Find("a@example.co"), -1);
}

TEST(CStringListTest, RemovesByIndexAndOutOfRangeIsHarmless) {
    CStringList list;
    list.Add("x");
    list.Add("y");
    list.Add("z");
    EXPECT_TRUE(list.RemoveAt(1));
    EXPECT_EQ(list.Find("z"), 1);
    EXPECT_FALSE(list.RemoveAt(2));
    EXPECT_FALSE(list.RemoveAt(-1));
    EXPECT_EQ(list.GetAt(5), "");
    EXPECT_EQ(list.GetAt(-1), "");
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.Find("x"), -1);
}
