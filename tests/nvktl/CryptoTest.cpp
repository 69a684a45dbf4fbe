#include "nvktl/Base64.h"
#include "nvktl/CMd5.h"
#include "nvktl/HmacMd5.h"

#include <gtest/gtest.h>
#include <string>

using NVKTL::Base64Decode;
using NVKTL::Base64Encode;
using NVKTL::CMd5;

namespace {

std::string decoded(std::string_view text) {
    return std::string(Base64Decode(text).View());
}

std::string md5Hex(std::string_view text) {
    return CMd5::ToHex(CMd5::Of(text)).str();
}

std::string hmacHex(std::string_view key, std::string_view text) {
    return NVKTL::HmacMd5Hex(key, text).str();
}

TEST(Base64, EncodesTheRfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(encoded, Base64Encode(plain).str()) << plain;
        EXPECT_EQ(plain, decoded(encoded)) << encoded;
    }
}

TEST(Base64, WritesNoLineBreaksInLongOutput) {
    const std::string encoded = Base64Encode(std::string(300, 'a')).str();
    EXPECT_EQ(400u, encoded.size());
    EXPECT_EQ(std::string::npos, encoded.find_first_of("\r\n"));
}

TEST(Base64, RoundTripsEveryByteValueAndZeroBytes) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(all, decoded(Base64Encode(all).str()));
    // AUTH PLAIN: zero byte, account, zero byte, password.
    const std::string plain("\0tim\0tanstaaf", 13);
    EXPECT_EQ("AHRpbQB0YW5zdGFhZg==", Base64Encode(plain).str());
    EXPECT_EQ(plain, decoded("AHRpbQB0YW5zdGFhZg=="));
}

TEST(Base64, DecodeSkipsCharactersOutsideTheAlphabet) {
    EXPECT_EQ("Username:", decoded("VXNlcm5hbWU6\r\n"));
    EXPECT_EQ("foobar", decoded(" Zm9v\r\n YmFy "));
    EXPECT_EQ("foobar", decoded("Zm*9v-Ym.Fy"));
}

TEST(Base64, DecodeNeedsFullGroupsOfFour) {
    EXPECT_EQ("", decoded("Zm9"));
    EXPECT_EQ("", decoded("Zg="));
    EXPECT_EQ("", decoded("\r\n"));
    EXPECT_EQ("foo", decoded("Zm9vYm")) << "an incomplete last group yields nothing";
    EXPECT_EQ("", decoded("Z===")) << "one character carries no whole byte";
}

TEST(Md5, MatchesTheRfc1321TestSuite) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", md5Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", md5Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", md5Hex("message digest"));
    EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", md5Hex("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              md5Hex("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"));
}

TEST(Md5, PiecewiseFeedingMatchesOneGo) {
    // Lengths around the 56- and 64-byte padding boundaries.
    for (std::size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        std::string text(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            text[i] = static_cast<char>(i * 7 + 3);
        CMd5 md5;
        for (char c : text)
            md5.Update(&c, 1);
        EXPECT_EQ(CMd5::Of(text), md5.Final()) << length;
        EXPECT_EQ(CMd5::Of(""), md5.Final()) << "Final resets";
    }
}

TEST(HmacMd5, MatchesTheRfc2104AndRfc2202Cases) {
    EXPECT_EQ("9294727a3638bb1c13f48ef8158bfc9d", hmacHex(std::string(16, '\x0b'), "Hi There"));
    EXPECT_EQ("750c783e6ab0b503eaa86e310a5db738", hmacHex("Jefe", "what do ya want for nothing?"));
    EXPECT_EQ("56be34521d144c88dbb8c733f0e8b3f6",
              hmacHex(std::string(16, '\xaa'), std::string(50, '\xdd')));
    std::string key25;
    for (char c = 1; c <= 25; ++c)
        key25 += c;
    EXPECT_EQ("697eaf0aca3a3aea3a75164746ffaa79", hmacHex(key25, std::string(50, '\xcd')));
    EXPECT_EQ("56461ef2342edc00f9bab995690efd4c",
              hmacHex(std::string(16, '\x0c'), "Test With Truncation"));
    // Keys longer than the 64-byte block are hashed first.
    EXPECT_EQ(
        "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd",
        hmacHex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"));
    EXPECT_EQ("6f630fad67cda0ee1fb1f562db3aa53e",
              hmacHex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger "
                                               "Than One Block-Size Data"));
}

TEST(HmacMd5, CramMd5ExchangeOfRfc2195) {
    const std::string challenge =
        decoded("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n");
    ASSERT_EQ("<1896.697170952@postoffice.reston.mci.net>", challenge);
    const std::string digest = hmacHex("tanstaaftanstaaf", challenge);
    EXPECT_EQ("b913a602c7eda7a495b4e6e7334d3890", digest);
    EXPECT_EQ("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw",
              Base64Encode("tim " + digest).str());
}

} // namespace
