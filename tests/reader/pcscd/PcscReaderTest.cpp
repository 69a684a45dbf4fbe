// The PC/SC reader library through the binding, against the real pcsc-lite
// daemon with vpcd's two virtual readers and virtual FeliCa cards. Every
// wait is bounded: a card must show up (or go away) within kSettle.
#include "reader/CFelicaReader.h"
#include "tools/vpcd-felica-card/CPcscdDaemon.h"
#include "tools/vpcd-felica-card/CVirtualFelicaCard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Bytes = CVirtualFelicaCard::Bytes;

constexpr milliseconds kDaemonStart(10000);
constexpr milliseconds kCardInsert(5000);
// pcscd notices a card within its polling period; this leaves ample room.
constexpr milliseconds kSettle(5000);

const Bytes kIdmA = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3};
const char* const kIdA = "012E00FF10A00BC3";
const Bytes kIdmB = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const char* const kIdB = "0123456789ABCDEF";

CVirtualFelicaCard::Behaviour felicaCard(const Bytes& idm) {
    CVirtualFelicaCard::Behaviour behaviour;
    behaviour.idm = idm;
    return behaviour;
}

class PcscReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_daemon.start(kDaemonStart)) << m_daemon.error();
        CReaderServices services;
        services.showMessage = [this](const NVKTL::CString& text) {
            m_messages.push_back(text.str());
        };
        services.beep = [this] { ++m_beeps; };
        m_reader = std::make_unique<CFelicaReader>(services, PCSC_FELICA_LIBRARY);
        ASSERT_TRUE(m_reader->openReader());
    }

    void TearDown() override {
        if (m_reader) {
            m_reader->closeReader();
        }
        EXPECT_TRUE(m_messages.empty()) << m_messages.front();
        m_reader.reset();
        m_cards.clear();
        m_daemon.stop(milliseconds(3000));
    }

    // Lays a card on the first reader, or on the second.
    CVirtualFelicaCard& insert(CVirtualFelicaCard::Behaviour behaviour, bool secondReader = false) {
        const std::uint16_t port =
            secondReader ? m_daemon.secondSlotPort() : m_daemon.firstSlotPort();
        m_cards.push_back(std::make_unique<CVirtualFelicaCard>(std::move(behaviour), port));
        EXPECT_TRUE(m_cards.back()->insert(kCardInsert)) << "vpcd did not take the card";
        return *m_cards.back();
    }

    // Polls as the screens do until the result is the wanted one or the time
    // is up; returns the last result.
    std::string pollUntil(const std::string& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + kSettle;
        std::string last;
        do {
            last = m_reader->getCardId().str();
            if (last == wanted) {
                break;
            }
            std::this_thread::sleep_for(milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return last;
    }

    // Polls while the card is asked something, and collects every result.
    std::vector<std::string> pollWhile(const std::function<bool()>& condition) {
        std::vector<std::string> results;
        const auto deadline = std::chrono::steady_clock::now() + kSettle;
        while (condition() && std::chrono::steady_clock::now() < deadline) {
            results.push_back(m_reader->getCardId().str());
            std::this_thread::sleep_for(milliseconds(20));
        }
        return results;
    }

    CPcscdDaemon m_daemon;
    std::unique_ptr<CFelicaReader> m_reader;
    std::vector<std::unique_ptr<CVirtualFelicaCard>> m_cards;
    std::vector<std::string> m_messages;
    int m_beeps = 0;
};

TEST_F(PcscReaderTest, ReadsCardsAsTheyArePresentedRemovedAndPresentedAgain) {
    EXPECT_EQ(m_reader->getCardId().str(), "no");

    CVirtualFelicaCard& first = insert(felicaCard(kIdmA));
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    EXPECT_EQ(m_reader->getCardId().str(), kIdA);
    EXPECT_EQ(m_beeps, 1);

    first.remove();
    EXPECT_EQ(pollUntil("no"), "no");

    insert(felicaCard(kIdmB));
    EXPECT_EQ(pollUntil(kIdB), kIdB);
    EXPECT_EQ(m_beeps, 2);
}

TEST_F(PcscReaderTest, CardsOnBothReadersCountAsTwoCards) {
    insert(felicaCard(kIdmA));
    ASSERT_EQ(pollUntil(kIdA), kIdA);

    CVirtualFelicaCard& second = insert(felicaCard(kIdmB), true);
    EXPECT_EQ(pollUntil("no"), "no");

    second.remove();
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    EXPECT_EQ(m_beeps, 2) << "the card left alone again counts as newly presented";
}

TEST_F(PcscReaderTest, WrongAnswersToGetDataGiveNo) {
    const Bytes wrongAnswers[] = {
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0x90, 0x00},       // 7 bytes
        {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3, 0x6A, 0x82}, // error status
        {0x6A, 0x81},
    };
    for (const Bytes& answer : wrongAnswers) {
        CVirtualFelicaCard::Behaviour behaviour = felicaCard(kIdmA);
        behaviour.getDataAnswer = answer;
        CVirtualFelicaCard& card = insert(behaviour);
        const std::vector<std::string> results =
            pollWhile([&] { return card.getDataRequests() < 3; });
        EXPECT_GE(card.getDataRequests(), 3u) << "the card was never asked";
        for (const std::string& result : results) {
            EXPECT_EQ(result, "no");
        }
        card.remove();
        EXPECT_EQ(pollUntil("no"), "no");
    }
    EXPECT_EQ(m_beeps, 0);
}

TEST_F(PcscReaderTest, CardThatIsNotFelicaIsLeftAlone) {
    CVirtualFelicaCard::Behaviour mifare = felicaCard(kIdmA);
    mifare.atr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                  0x03, 0x06, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A};
    CVirtualFelicaCard& card = insert(mifare);
    pollWhile([&] { return card.atrRequests() == 0; });
    ASSERT_GT(card.atrRequests(), 0u) << "pcscd never powered the card";
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(m_reader->getCardId().str(), "no");
        std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_EQ(card.getDataRequests(), 0u);
}

TEST_F(PcscReaderTest, RecoversWhenPcscdRestarts) {
    insert(felicaCard(kIdmA));
    ASSERT_EQ(pollUntil(kIdA), kIdA);

    m_daemon.kill();
    EXPECT_EQ(pollUntil("no"), "no");
    EXPECT_EQ(m_reader->getCardId().str(), "no");

    ASSERT_TRUE(m_daemon.start(kDaemonStart)) << m_daemon.error();
    EXPECT_EQ(pollUntil(kIdA), kIdA) << "the card left on the reader is found again";
    EXPECT_EQ(m_beeps, 2);
}

TEST_F(PcscReaderTest, PcscdThatStopsAnsweringGivesNoWithoutHangingTheCaller) {
    insert(felicaCard(kIdmA));
    ASSERT_EQ(pollUntil(kIdA), kIdA);

    ASSERT_TRUE(m_daemon.pause());
    // Every poll comes back although pcscd does not answer: for a short while
    // with the card last seen (a slow poll must not look like a lifted card),
    // then with "no".
    EXPECT_EQ(m_reader->getCardId().str(), kIdA);
    EXPECT_EQ(pollUntil("no"), "no");
    EXPECT_EQ(m_reader->getCardId().str(), "no");
    EXPECT_EQ(m_beeps, 1);

    ASSERT_TRUE(m_daemon.resume());
    EXPECT_EQ(pollUntil(kIdA), kIdA);
    EXPECT_EQ(m_beeps, 2);
}

TEST(PcscdDaemon, RefusesToStartBesideAnotherPcscd) {
    CPcscdDaemon first;
    ASSERT_TRUE(first.start(kDaemonStart)) << first.error();
    CPcscdDaemon second;
    EXPECT_FALSE(second.start(kDaemonStart));
    EXPECT_NE(second.error().find("another pcscd is running"), std::string::npos) << second.error();
    EXPECT_EQ(CPcscdDaemon::otherPcscd(first.pid()), 0);
}

} // namespace
