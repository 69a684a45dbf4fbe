// The binding against a fake reader library loaded into this process: the
// calls it makes, in order and with what arguments, what it makes of the
// answers, and what it tells the user.
#include "reader/CFelicaReader.h"
#include "nvktl/CJournal.h"
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <poll.h>
#include <thread>
#include <tuple>

namespace {

using Idm = std::array<unsigned char, 8>;
constexpr Idm kCardA = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3};
constexpr Idm kCardB = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// What the fake library answers, and all that happened, in order.
struct FakeLibrary {
    int initialize = 1, open = 1, poll = 1, dispose = 1;
    unsigned char cards = 0;
    Idm idm{};
    std::string events;
} g_fake;

bool zeroed(const unsigned char* bytes) {
    return bytes && std::count(bytes, bytes + 8, 0) == 8;
}

} // namespace

extern "C" {
int fake_felica_initialize_library(void) {
    g_fake.events += "init ";
    return g_fake.initialize;
}
int fake_felica_open_reader_writer_auto(void) {
    g_fake.events += "open ";
    return g_fake.open;
}
// Every poll must ask for any system in one time slot, with fresh buffers.
int fake_felica_polling(felica_polling* polling, unsigned char* cards,
                        felica_card_information* info) {
    if (!polling || !polling->system_code || polling->system_code[0] != 0xFF ||
        polling->system_code[1] != 0xFF || polling->time_slot != 0 || !cards || *cards != 0 ||
        !info || !zeroed(info->card_idm) || !zeroed(info->card_pmm) ||
        info->card_idm == info->card_pmm) {
        g_fake.events += "wrong poll ";
        return 0;
    }
    *cards = g_fake.cards;
    std::copy(g_fake.idm.begin(), g_fake.idm.end(), info->card_idm);
    std::fill_n(info->card_pmm, 8, 0xAA);
    return g_fake.poll;
}
int fake_felica_dispose_library(void) {
    g_fake.events += "dispose ";
    return g_fake.dispose;
}
void fake_felica_unloaded(void) {
    g_fake.events += "unloaded ";
}
}

namespace {

CFelicaReader binding(const std::string& library = FAKE_FELICA_LIBRARY) {
    return CFelicaReader(
        {[](const NVKTL::CString& text) { g_fake.events += "message:" + text.str() + " "; },
         [] { g_fake.events += "beep "; }},
        library);
}

// Each failed step disposes and unloads the library before its message; a
// file that is no reader library (one export missing) is not found.
TEST(FelicaReaderTest, OpeningAndClosingCallTheLibraryInOrderAndReportAFailedStep) {
    const std::string fake = FAKE_FELICA_LIBRARY, message = "unloaded message:";
    const std::string notFound = std::string("message:") + CFelicaReader::kDriverNotFound + " ";
    // clang-format off
    const struct { std::string library; int initialize, open, dispose; std::string events; } cases[] = {
        {fake, 1, 1, 1, "init open dispose unloaded "},
        {fake, 0, 1, 1, "init dispose " + message + CFelicaReader::kInitializeFailed + " "},
        {fake, 1, 0, 1, "init open dispose " + message + CFelicaReader::kOpenFailed + " "},
        {fake, 1, 1, 0, "init open dispose " + message + CFelicaReader::kCloseFailed + " "},
        {"/nonexistent/felica.so", 1, 1, 1, notFound}, {"/proc/self/status", 1, 1, 1, notFound},
        {FAKE_FELICA_WITHOUT_DISPOSE_LIBRARY, 1, 1, 1, "unloaded " + notFound}};
    // clang-format on
    for (const auto& c : cases) {
        g_fake = FakeLibrary();
        std::tie(g_fake.initialize, g_fake.open, g_fake.dispose) =
            std::tie(c.initialize, c.open, c.dispose);
        CFelicaReader reader = binding(c.library);
        EXPECT_EQ(reader.openReader(), c.initialize && c.open && c.library == fake);
        reader.closeReader();
        reader.closeReader(); // nothing loaded: nothing happens
        EXPECT_EQ(reader.getCardId().str(), "err");
        EXPECT_EQ(g_fake.events, c.events) << c.library;
    }
    // An open binding that goes away closes quietly.
    g_fake = FakeLibrary();
    g_fake.dispose = 0;
    binding().openReader();
    EXPECT_EQ(g_fake.events, "init open dispose unloaded ");
}

// Polls that fail (not merely find no card) for the failure delay make a
// failing reader ("F"), noted in the journal once when it starts and ends.
TEST(FelicaReaderTest, APollGivesTheCardOnlyForExactlyOneAndBeepsOncePerPresentation) {
    g_fake = FakeLibrary();
    const std::string journal = ::testing::TempDir() + "reader-journal";
    testsupport::removeTree(journal);
    ::setenv(NVKTL::CJournal::kFileVariable, journal.c_str(), 1);
    CFelicaReader reader = binding();
    reader.setFailureDelay(std::chrono::milliseconds(200));
    ASSERT_TRUE(reader.openReader());
    // clang-format off
    const struct { unsigned char cards; Idm idm; int result, pause; const char* seen; } polls[] = {
        {1, kCardA, 1, 0, "012E00FF10A00BC3 - beep "}, {1, kCardA, 1, 0, "012E00FF10A00BC3 - "},
        {0, kCardA, 1, 0, "no - "}, {1, kCardA, 1, 0, "012E00FF10A00BC3 - beep "},
        {1, kCardB, 1, 0, "0123456789ABCDEF - beep "}, {2, kCardB, 1, 0, "no - "},
        {255, kCardB, 1, 0, "no - "}, {1, kCardB, 0, 250, "no - "}, {1, kCardB, 0, 0, "no F "},
        {1, kCardB, 1, 0, "0123456789ABCDEF - beep "}, {1, {}, 1, 0, "0000000000000000 - beep "}};
    // clang-format on
    for (const auto& p : polls) {
        std::tie(g_fake.cards, g_fake.idm, g_fake.poll) = std::tie(p.cards, p.idm, p.result);
        g_fake.events.clear();
        const std::string id = reader.getCardId().str();
        EXPECT_EQ(id + (reader.isFailing() ? " F " : " - ") + g_fake.events, p.seen);
        std::this_thread::sleep_for(std::chrono::milliseconds(p.pause));
    }
    ::unsetenv(NVKTL::CJournal::kFileVariable);
    EXPECT_EQ(testsupport::readBytes(journal),
              "error reader failed: every poll of the card reader fails\ninfo reader recovered\n");
    // After "err" the same card counts as presented anew.
    reader.closeReader();
    EXPECT_EQ(reader.getCardId().str(), "err");
    ASSERT_TRUE(reader.openReader());
    g_fake.events.clear();
    EXPECT_EQ(reader.getCardId().str() + " " + g_fake.events, "0000000000000000 beep ");
}

// A descriptor that turns readable as a card is laid or lifted; none from a
// library that cannot tell (the fake), which leaves the caller to its polls.
TEST(FelicaReaderTest, TheSimulatedReaderTellsOfEveryChangeOfItsCards) {
    const std::string base = testsupport::makeTempFolder("poston-reader-");
    std::filesystem::create_directories(base + "lib");
    std::filesystem::copy_file(SIMULATED_FELICA_LIBRARY, base + "lib/felica.so");
    g_fake = FakeLibrary();
    CFelicaReader fake = binding(), simulated = binding(base + "lib/felica.so");
    ASSERT_TRUE(fake.openReader() && simulated.openReader());
    EXPECT_EQ(fake.changeDescriptor(), -1);
    pollfd changes{simulated.changeDescriptor(), POLLIN, 0};
    for (const std::string card : {"0123456789ABCDEF", ""}) {
        CSimulatedReaderState state;
        if (CSimulatedReaderState::Idm idm; CSimulatedReaderState::parseCardId(card, idm))
            state.cards.push_back(idm);
        state.save(CSimulatedReaderState::fileFor(base));
        ASSERT_EQ(::poll(&changes, 1, 5000), 1) << card;
        simulated.drainChanges();
        EXPECT_EQ(::poll(&changes, 1, 0), 0);
        EXPECT_EQ(simulated.getCardId().str(), card.empty() ? "no" : card);
    }
    simulated.closeReader();
    EXPECT_EQ(simulated.changeDescriptor(), -1);
    testsupport::removeTree(base);
}

} // namespace
