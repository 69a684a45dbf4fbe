#include "nvktl/CMailProtocol.h"
#include "nvktl/CMapStringToPtr.h"

#include <gtest/gtest.h>

#include <string>

using NVKTL::CMailProtocol;
using NVKTL::CMapStringToPtr;
using NVKTL::CString;

namespace {

std::string Built(CMailProtocol& message) {
    message.Build();
    return message.GetText().str();
}

} // namespace

TEST(CMapStringToPtrTest, KeepsInsertionOrderAndFindsExactlyOrIgnoringCase) {
    int a = 1, b = 2, c = 3;
    CMapStringToPtr map;
    map.SetAt("Subject", &a);
    map.SetAt("from", &b);
    map.SetAt("Subject", &c); // same key: replaced in place
    map.SetAt("subject", &a); // other letter case: a key of its own

    ASSERT_EQ(map.GetCount(), 3);
    CString key;
    void* value = nullptr;
    ASSERT_TRUE(map.GetAt(0, key, value));
    EXPECT_EQ(key, "Subject");
    EXPECT_EQ(value, &c);
    ASSERT_TRUE(map.GetAt(2, key, value));
    EXPECT_EQ(key, "subject");
    EXPECT_FALSE(map.GetAt(3, key, value));
    EXPECT_FALSE(map.GetAt(-1, key, value));

    EXPECT_FALSE(map.Lookup("FROM", value));
    ASSERT_TRUE(map.LookupNoCase("FROM", value, &key));
    EXPECT_EQ(value, &b);
    EXPECT_EQ(key, "from");
    ASSERT_TRUE(map.LookupNoCase("SUBJECT", value));
    EXPECT_EQ(value, &c); // the first of the keys that match
    EXPECT_FALSE(map.LookupNoCase("Subjec", value));

    EXPECT_TRUE(map.RemoveKey("Subject"));
    EXPECT_FALSE(map.RemoveKey("Subject"));
    ASSERT_TRUE(map.GetAt(0, key, value));
    EXPECT_EQ(key, "from");
    map.RemoveAll();
    EXPECT_TRUE(map.IsEmpty());
}

TEST(CMapStringToPtrTest, IgnoresOnlyAsciiLetterCase) {
    EXPECT_TRUE(CMapStringToPtr::EqualNoCase("Content-Type", "CONTENT-TYPE"));
    EXPECT_FALSE(CMapStringToPtr::EqualNoCase("Ａ", "ａ")); // full-width letters differ
    EXPECT_FALSE(CMapStringToPtr::EqualNoCase("[", "{"));
    EXPECT_FALSE(CMapStringToPtr::EqualNoCase("To", "To "));
}

TEST(CMailProtocolTest, BuildWritesFieldsInOrderThenEmptyLineThenBody) {
    CMailProtocol message;
    message.SetHeader("From", "a <a@example.com>");
    message.SetHeader("To", "b <b@example.com>");
    EXPECT_EQ(Built(message), "From: a <a@example.com>\r\nTo: b <b@example.com>\r\n\r\n");

    const std::string body = "line 1\r\n\x1b$B$\"\x1b(B\r\n";
    message.SetBody(body.data(), static_cast<int>(body.size()));
    EXPECT_EQ(Built(message), "From: a <a@example.com>\r\nTo: b <b@example.com>\r\n\r\n" + body);
    // Building again starts afresh.
    EXPECT_EQ(Built(message), "From: a <a@example.com>\r\nTo: b <b@example.com>\r\n\r\n" + body);
}

TEST(CMailProtocolTest, SetHeaderReplacesIgnoringCaseAndKeepsPlaceAndName) {
    CMailProtocol message;
    message.SetHeader("Subject", "first");
    message.SetHeader("Date", "Sat, 05 Dec 2026 10:15:30 +0900");
    message.SetHeader("subject", "second");
    EXPECT_EQ(Built(message), "Subject: second\r\nDate: Sat, 05 Dec 2026 10:15:30 +0900\r\n\r\n");
    EXPECT_EQ(message.GetFieldCount(), 2);
    EXPECT_EQ(message.GetFieldName(0), "Subject");
    EXPECT_EQ(message.GetHeader("SUBJECT"), "second");
    EXPECT_EQ(message.GetHeaderCount("subject"), 1);
    EXPECT_EQ(message.GetHeader("Cc"), "");
}

TEST(CMailProtocolTest, ReceivedFieldsComeFirstWithAllTheirValues) {
    CMailProtocol message;
    message.SetRepeatedFields(true);
    message.Parse("From: a@example.com\r\nreceived: from x\r\nTo: b@example.com\r\n"
                  "Received: from y\r\n\r\nbody\r\n");
    EXPECT_EQ(Built(message), "Received: from x\r\nReceived: from y\r\nFrom: a@example.com\r\n"
                              "To: b@example.com\r\n\r\nbody\r\n");
}

TEST(CMailProtocolTest, ALineBreakInAValueCannotStartAFieldOfItsOwn) {
    CMailProtocol message;
    message.SetHeader("Subject", "hello\r\nBcc: victim@example.com");
    message.SetHeader("X-Test\r\nBcc", "x");
    const std::string text = Built(message);
    EXPECT_EQ(text, "Subject: hello  Bcc: victim@example.com\r\nX-Test  Bcc: x\r\n\r\n");
}

TEST(CMailProtocolTest, ParseUnfoldsNormalisesLineEndsAndSplitsTheBody) {
    CMailProtocol message;
    message.Parse("Subject: one\n two\nX-Empty:\nno colon here\nFrom :  a@example.com  \n"
                  "\nbody 1\nbody 2\r\n");
    EXPECT_EQ(message.GetFieldCount(), 3);
    EXPECT_EQ(message.GetHeader("subject"), "one two");
    EXPECT_EQ(message.GetHeader("X-Empty"), "");
    EXPECT_EQ(message.GetHeader("From"), "a@example.com");
    EXPECT_EQ(message.GetFieldName(2), "From");
    EXPECT_EQ(message.GetBody().View(), "body 1\r\nbody 2\r\n");

    // Parsing again replaces everything.
    message.Parse("To: c@example.com\r\n\r\n");
    EXPECT_EQ(message.GetFieldCount(), 1);
    EXPECT_EQ(message.GetBody().GetSize(), 0);

    message.Parse("\r\nonly a body");
    EXPECT_EQ(message.GetFieldCount(), 0);
    EXPECT_EQ(message.GetBody().View(), "only a body");
}

TEST(CMailProtocolTest, RepeatedFieldsAddOrReplaceAsTheFlagSays) {
    const CString raw("Received: 1\r\nReceived: 2\r\nReceived: 3\r\n\r\n");
    CMailProtocol adding;
    adding.Parse(raw);
    EXPECT_EQ(adding.GetHeaderCount("Received"), 3);
    EXPECT_EQ(adding.GetHeader("Received", 2), "3");

    CMailProtocol replacing;
    replacing.SetRepeatedFields(false);
    replacing.Parse(raw);
    EXPECT_EQ(replacing.GetHeaderCount("Received"), 1);
    EXPECT_EQ(replacing.GetHeader("Received"), "3");
}

TEST(CMailProtocolTest, ParseOfABuiltMessageGivesTheSameMessage) {
    CMailProtocol first;
    first.SetHeader("From", "=?ISO-2022-JP?B?GyRCJCIbKEI=?= <a@example.com>");
    first.SetHeader("Content-Type", "text/plain; charset=\"ISO-2022-JP\"");
    const std::string body = "a\r\n..\r\n";
    first.SetBody(body.data(), static_cast<int>(body.size()));
    const std::string text = Built(first);

    CMailProtocol second;
    second.Parse(CString(text));
    EXPECT_EQ(Built(second), text);
}
