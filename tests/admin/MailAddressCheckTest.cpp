#include "admin/MailAddressCheck.h"

#include <gtest/gtest.h>

TEST(MailAddressCheckTest, AcceptsOrdinaryAddressesAndRefusesWhatCannotBeDelivered) {
    EXPECT_TRUE(isAcceptableMailAddress(CString("taro.yamada+desk@example.co.jp")));
    EXPECT_TRUE(isAcceptableMailAddress(CString("山田@example.jp")));
    for (const char* bad : {"", "example.jp", "a b@example.jp", "a@example.jp\r\nDATA",
                            "a@example.jp\n", "a\t@example.jp", "a\x7f@example.jp",
                            "a\x01@example.jp", "全角\xE3\x80\x80空白@example.jp"})
        EXPECT_FALSE(isAcceptableMailAddress(CString(bad))) << bad;
}
