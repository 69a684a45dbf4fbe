// What the PC/SC reader library accepts from a reader: which ATRs are FeliCa
// cards and which answers to GET DATA carry an IDm.
#include "reader/felica-pcsc/CPcscSession.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

bool isFelica(const Bytes& atr) {
    return CPcscSession::isFelicaAtr(atr.data(), atr.size());
}

const Bytes kFelicaAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                          0x03, 0x06, 0x11, 0x00, 0x3B, 0x00, 0x00, 0x00, 0x00, 0x42};

TEST(PcscFelicaAtr, AcceptsFelicaByStandardOrCardNameOnly) {
    EXPECT_TRUE(isFelica(kFelicaAtr));

    Bytes felicaNameOnly = kFelicaAtr; // a reader that leaves the standard byte out
    felicaNameOnly[12] = 0x00;
    EXPECT_TRUE(isFelica(felicaNameOnly));

    Bytes mifare = kFelicaAtr; // MIFARE Classic 1K (ISO 14443 A)
    mifare[12] = 0x03;
    mifare[13] = 0x00;
    mifare[14] = 0x01;
    EXPECT_FALSE(isFelica(mifare));

    EXPECT_FALSE(isFelica({0x3B, 0x02, 0x14, 0x50})) << "a contact card";
    EXPECT_FALSE(isFelica(Bytes(kFelicaAtr.begin(), kFelicaAtr.begin() + 13))) << "cut short";
    EXPECT_FALSE(isFelica({}));
    EXPECT_FALSE(CPcscSession::isFelicaAtr(nullptr, 20));
}

TEST(PcscFelicaGetData, TakesExactlyEightBytesFollowedBySuccess) {
    CPcscSession::Idm idm{};
    const Bytes good = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x90, 0x00};
    ASSERT_TRUE(CPcscSession::parseGetDataResponse(good.data(), good.size(), idm));
    EXPECT_EQ(idm, (CPcscSession::Idm{0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3}));

    const Bytes refused[] = {
        {0x6A, 0x81},                                                       // not supported
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0x90, 0x00},             // 7 bytes: a UID
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x00, 0x90, 0x00}, // 9 bytes
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x62, 0x82},       // warning status
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x90, 0x01},
        {},
    };
    for (const Bytes& answer : refused) {
        CPcscSession::Idm untouched{};
        EXPECT_FALSE(CPcscSession::parseGetDataResponse(answer.data(), answer.size(), untouched));
        EXPECT_EQ(untouched, CPcscSession::Idm{});
    }
}

} // namespace
