// The PC/SC reader library through the binding, against the real pcsc-lite
// daemon with vpcd's two virtual readers and virtual FeliCa cards. Every
// wait is bounded: a card must show up (or go away) within kSettle.
#include "reader/CFelicaReader.h"
#include "tests/support/WaitUntil.h"
#include "tools/vpcd-felica-card/CPcscdDaemon.h"
#include "tools/vpcd-felica-card/CVirtualFelicaCard.h"

#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <thread>

namespace {

using std::chrono::milliseconds;
using Bytes = CVirtualFelicaCard::Bytes;

constexpr milliseconds kDaemonStart(10000), kSettle(5000);
const Bytes kIdmA = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3};
const Bytes kIdmB = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::string kIdA = "012E00FF10A00BC3", kIdB = "0123456789ABCDEF";

class PcscReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(daemon.start(kDaemonStart)) << daemon.error();
        ASSERT_TRUE(reader.openReader());
    }
    void TearDown() override {
        reader.closeReader();
        EXPECT_EQ(messages, "");
        cards.clear();
        daemon.stop(milliseconds(3000));
    }
    // Lays a card on the first reader, or on the second.
    CVirtualFelicaCard& insert(const Bytes& idm, bool second = false,
                               const Bytes& atr = CVirtualFelicaCard::felicaAtr(),
                               const Bytes& answer = {}) {
        cards.push_back(std::make_unique<CVirtualFelicaCard>(
            CVirtualFelicaCard::Behaviour{atr, idm, answer},
            second ? daemon.secondSlotPort() : daemon.firstSlotPort()));
        EXPECT_TRUE(cards.back()->insert(milliseconds(5000))) << "vpcd did not take the card";
        return *cards.back();
    }
    // True when the library tells of a change within kSettle; reads it empty.
    bool changeSeen() {
        pollfd ready{reader.changeDescriptor(), POLLIN, 0};
        const bool seen = ::poll(&ready, 1, static_cast<int>(kSettle.count())) == 1;
        reader.drainChanges();
        return seen;
    }
    // Polls as the screens do until the result is the wanted one or the time
    // is up; returns the last result.
    std::string pollUntil(const std::string& wanted) {
        std::string last;
        iotest::waitUntil([&] { return (last = reader.getCardId().str()) == wanted; }, kSettle);
        return last;
    }

    CPcscdDaemon daemon;
    std::string messages;
    int beeps = 0;
    CFelicaReader reader{
        {[this](const NVKTL::CString& text) { messages += text.str(); }, [this] { ++beeps; }},
        PCSC_FELICA_LIBRARY};
    std::vector<std::unique_ptr<CVirtualFelicaCard>> cards;
};

TEST_F(PcscReaderTest, AWrongIdmAnswerIsNoCardAndACardThatIsNoFelicaIsLeftAlone) {
    for (const Bytes& answer :
         {Bytes{0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0x90, 0x00},
          Bytes{0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x6A, 0x82}, Bytes{0x6A, 0x81}}) {
        CVirtualFelicaCard& card = insert(kIdmA, false, CVirtualFelicaCard::felicaAtr(), answer);
        const auto deadline = std::chrono::steady_clock::now() + kSettle;
        while (card.getDataRequests() < 3 && std::chrono::steady_clock::now() < deadline)
            EXPECT_EQ(reader.getCardId().str(), "no");
        EXPECT_GE(card.getDataRequests(), 3u) << "the card was never asked";
        card.remove();
    }
    // A MIFARE card beside a FeliCa card is neither counted nor asked.
    insert(kIdmA);
    ASSERT_EQ(pollUntil(kIdA), kIdA);
    CVirtualFelicaCard& mifare =
        insert(kIdmB, true, {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                             0x03, 0x06, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A});
    for (int i = 0; i < 75; ++i, std::this_thread::sleep_for(milliseconds(20)))
        EXPECT_EQ(reader.getCardId().str(), kIdA);
    EXPECT_GT(mifare.atrRequests(), 0u) << "pcscd never powered the card";
    EXPECT_EQ(mifare.getDataRequests(), 0u);
    EXPECT_EQ(beeps, 1);
}

// Cards count on either reader, and each arrival and removal is told as it
// happens. A pcscd that is killed or stops answering never hangs the caller:
// a slow poll answers with the card last seen for a short while (it must not
// look like a lifted card), then "no"; the card is found and watched again
// afterwards.
TEST_F(PcscReaderTest, CardsAreReadAsPresentedAndAPcscdThatStopsOrRestartsGivesNoUntilBack) {
    EXPECT_EQ(reader.getCardId().str(), "no");
    reader.drainChanges();
    CVirtualFelicaCard& first = insert(kIdmA);
    EXPECT_TRUE(changeSeen());
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    CVirtualFelicaCard& second = insert(kIdmB, true);
    EXPECT_EQ(pollUntil("no"), "no"); // two cards
    first.remove();
    EXPECT_EQ(pollUntil(kIdB), kIdB);
    second.remove();
    EXPECT_TRUE(changeSeen());
    insert(kIdmA);
    ASSERT_EQ(pollUntil(kIdA), kIdA);
    ASSERT_TRUE(daemon.pause());
    EXPECT_EQ(reader.getCardId().str(), kIdA);
    EXPECT_EQ(pollUntil("no"), "no");
    ASSERT_TRUE(daemon.resume());
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    daemon.kill();
    EXPECT_EQ(pollUntil("no"), "no");
    ASSERT_TRUE(daemon.start(kDaemonStart)) << daemon.error();
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    EXPECT_EQ(beeps, 5);
    reader.drainChanges();
    insert(kIdmB, true);
    EXPECT_TRUE(changeSeen());
}

} // namespace
