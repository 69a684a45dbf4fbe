// The binding against a fake reader library loaded into this process: which
// functions it calls, in what order and with what arguments, what it makes
// of the answers, and what it tells the user.
#include "reader/CFelicaReader.h"
#include "tests/reader/fake-felica/FakeFelicaHooks.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct PollArguments {
    bool pointersGiven = false;
    unsigned systemCode0 = 0, systemCode1 = 0, timeSlot = 0, numberOfCards = 0;
    bool idmZeroFilled = false, pmmZeroFilled = false;
};

// What the fake library answers, and everything that happened, in order:
// library calls, its unloading, messages and beeps.
struct FakeReaderLibrary {
    int initializeResult = 1;
    int openResult = 1;
    int pollResult = 1;
    int disposeResult = 1;
    unsigned char cards = 0;
    std::array<unsigned char, 8> idm{};
    std::array<unsigned char, 8> pmm{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22};

    std::vector<std::string> events;
    std::vector<PollArguments> polls;
    int beeps = 0;
};

FakeReaderLibrary g_fake;

bool allZero(const unsigned char* bytes) {
    for (int i = 0; i < 8; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" {
int fake_felica_initialize_library(void) {
    g_fake.events.push_back("initialize_library");
    return g_fake.initializeResult;
}

int fake_felica_open_reader_writer_auto(void) {
    g_fake.events.push_back("open_reader_writer_auto");
    return g_fake.openResult;
}

int fake_felica_polling(felica_polling* polling, unsigned char* number_of_cards,
                        felica_card_information* card_information) {
    g_fake.events.push_back("polling_and_get_card_information");
    PollArguments seen;
    seen.pointersGiven = polling && polling->system_code && number_of_cards && card_information &&
                         card_information->card_idm && card_information->card_pmm &&
                         card_information->card_idm != card_information->card_pmm;
    if (!seen.pointersGiven) {
        g_fake.polls.push_back(seen);
        return 0;
    }
    seen.systemCode0 = polling->system_code[0];
    seen.systemCode1 = polling->system_code[1];
    seen.timeSlot = polling->time_slot;
    seen.numberOfCards = *number_of_cards;
    seen.idmZeroFilled = allZero(card_information->card_idm);
    seen.pmmZeroFilled = allZero(card_information->card_pmm);
    g_fake.polls.push_back(seen);

    *number_of_cards = g_fake.cards;
    for (int i = 0; i < 8; ++i) {
        card_information->card_idm[i] = g_fake.idm[i];
        card_information->card_pmm[i] = g_fake.pmm[i];
    }
    return g_fake.pollResult;
}

int fake_felica_dispose_library(void) {
    g_fake.events.push_back("dispose_library");
    return g_fake.disposeResult;
}

void fake_felica_unloaded(void) {
    g_fake.events.push_back("unloaded");
}
}

namespace {

using Events = std::vector<std::string>;

std::string message(const char* text) {
    return std::string("message: ") + text;
}

CReaderServices recordingServices() {
    CReaderServices services;
    services.showMessage = [](const NVKTL::CString& text) {
        g_fake.events.push_back("message: " + text.str());
    };
    services.beep = [] { ++g_fake.beeps; };
    return services;
}

class FelicaReaderTest : public ::testing::Test {
protected:
    void SetUp() override { g_fake = FakeReaderLibrary(); }

    void putCard(std::array<unsigned char, 8> idm) {
        g_fake.cards = 1;
        g_fake.idm = idm;
    }

    CFelicaReader reader{recordingServices(), FAKE_FELICA_LIBRARY};
};

constexpr std::array<unsigned char, 8> kCardA = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3};
constexpr std::array<unsigned char, 8> kCardB = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

TEST_F(FelicaReaderTest, OpensByInitialisingThenOpeningAndPollsWithFreshArguments) {
    ASSERT_TRUE(reader.openReader());
    EXPECT_TRUE(reader.isOpen());
    EXPECT_EQ(g_fake.events, (Events{"initialize_library", "open_reader_writer_auto"}));

    putCard(kCardA);
    reader.getCardId();
    reader.getCardId(); // the second poll must not see what the first one got back
    ASSERT_EQ(g_fake.polls.size(), 2u);
    for (const PollArguments& poll : g_fake.polls) {
        EXPECT_TRUE(poll.pointersGiven);
        EXPECT_EQ(poll.systemCode0, 0xFFu);
        EXPECT_EQ(poll.systemCode1, 0xFFu);
        EXPECT_EQ(poll.timeSlot, 0u);
        EXPECT_EQ(poll.numberOfCards, 0u);
        EXPECT_TRUE(poll.idmZeroFilled);
        EXPECT_TRUE(poll.pmmZeroFilled);
    }
}

TEST_F(FelicaReaderTest, CardIdIsTheIdmInSixteenUpperCaseHexDigits) {
    ASSERT_TRUE(reader.openReader());
    putCard(kCardA);
    EXPECT_EQ(reader.getCardId().str(), "012E00FF10A00BC3");
    putCard(kCardB);
    EXPECT_EQ(reader.getCardId().str(), "0123456789ABCDEF");
    putCard({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(reader.getCardId().str(), "0000000000000000");
}

TEST_F(FelicaReaderTest, NoCardSeveralCardsOrAFailedPollGiveNoAndForgetTheLastCard) {
    ASSERT_TRUE(reader.openReader());
    struct Case {
        const char* name;
        unsigned char cards;
        int pollResult;
    } cases[] = {{"no card", 0, 1},
                 {"two cards", 2, 1},
                 {"many cards", 255, 1},
                 {"failed poll with one card", 1, 0},
                 {"failed poll, no card", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putCard(kCardA);
        ASSERT_EQ(reader.getCardId().str(), "012E00FF10A00BC3");
        g_fake.cards = c.cards;
        g_fake.pollResult = c.pollResult;
        EXPECT_EQ(reader.getCardId().str(), "no");
        EXPECT_TRUE(reader.lastCardId().IsEmpty());
        g_fake.pollResult = 1;
    }
}

TEST_F(FelicaReaderTest, BeepsOnceForEachNewlyPresentedCard) {
    ASSERT_TRUE(reader.openReader());
    putCard(kCardA);
    for (int i = 0; i < 5; ++i) {
        reader.getCardId();
    }
    EXPECT_EQ(g_fake.beeps, 1) << "a card held for several polls beeps once";

    g_fake.cards = 0;
    reader.getCardId();
    putCard(kCardA);
    reader.getCardId();
    EXPECT_EQ(g_fake.beeps, 2) << "the same card presented again beeps again";

    putCard(kCardB);
    reader.getCardId();
    reader.getCardId();
    EXPECT_EQ(g_fake.beeps, 3) << "another card in its place beeps";

    g_fake.cards = 2;
    reader.getCardId();
    putCard(kCardB);
    reader.getCardId();
    EXPECT_EQ(g_fake.beeps, 4) << "a second card taken away again counts as a new presentation";
    EXPECT_EQ(reader.lastCardId().str(), "0123456789ABCDEF");
}

TEST_F(FelicaReaderTest, FailedInitialisationDisposesAndUnloadsBeforeTheMessage) {
    g_fake.initializeResult = 0;
    EXPECT_FALSE(reader.openReader());
    EXPECT_EQ(g_fake.events, (Events{"initialize_library", "dispose_library", "unloaded",
                                     message(CFelicaReader::kInitializeFailed)}));
    EXPECT_FALSE(reader.isLoaded());
    EXPECT_EQ(reader.getCardId().str(), "err");
    EXPECT_TRUE(g_fake.polls.empty());
}

TEST_F(FelicaReaderTest, FailedOpenDisposesAndUnloadsBeforeTheMessage) {
    g_fake.openResult = 0;
    EXPECT_FALSE(reader.openReader());
    EXPECT_EQ(g_fake.events,
              (Events{"initialize_library", "open_reader_writer_auto", "dispose_library",
                      "unloaded", message(CFelicaReader::kOpenFailed)}));
    EXPECT_EQ(reader.getCardId().str(), "err");
}

TEST_F(FelicaReaderTest, CloseDisposesThenUnloadsAndReportsAFailedDispose) {
    ASSERT_TRUE(reader.openReader());
    putCard(kCardA);
    reader.getCardId();
    g_fake.events.clear();
    g_fake.disposeResult = 0;

    reader.closeReader();
    EXPECT_EQ(g_fake.events,
              (Events{"dispose_library", "unloaded", message(CFelicaReader::kCloseFailed)}));
    EXPECT_FALSE(reader.isOpen());
    EXPECT_FALSE(reader.isLoaded());
    EXPECT_EQ(reader.getCardId().str(), "err");
    EXPECT_TRUE(reader.lastCardId().IsEmpty());

    reader.closeReader(); // nothing loaded: nothing happens
    EXPECT_EQ(g_fake.events.size(), 3u);
}

TEST_F(FelicaReaderTest, ClosingQuietlyAndErrForgetTheLastCard) {
    ASSERT_TRUE(reader.openReader());
    putCard(kCardA);
    reader.getCardId();
    reader.closeReader();
    EXPECT_EQ(g_fake.events.back(), "unloaded") << "a successful dispose shows no message";
    EXPECT_EQ(reader.getCardId().str(), "err");

    ASSERT_TRUE(reader.openReader());
    reader.getCardId();
    EXPECT_EQ(g_fake.beeps, 2) << "after \"err\" the same card is new again";
}

TEST_F(FelicaReaderTest, UnopenedReaderGivesErrWithoutCallingTheLibrary) {
    EXPECT_EQ(reader.getCardId().str(), "err");
    reader.closeReader();
    EXPECT_TRUE(g_fake.events.empty());
}

TEST_F(FelicaReaderTest, DestroyingAnOpenBindingDisposesAndUnloadsWithoutMessages) {
    {
        CFelicaReader local(recordingServices(), FAKE_FELICA_LIBRARY);
        ASSERT_TRUE(local.openReader());
        g_fake.disposeResult = 0;
    }
    EXPECT_EQ(g_fake.events, (Events{"initialize_library", "open_reader_writer_auto",
                                     "dispose_library", "unloaded"}));
}

class UnusableLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { g_fake = FakeReaderLibrary(); }

    void expectDriverNotFound(const std::string& path) {
        CFelicaReader reader(recordingServices(), path);
        EXPECT_FALSE(reader.openReader());
        EXPECT_FALSE(reader.isLoaded());
        EXPECT_EQ(reader.getCardId().str(), "err");
        std::vector<std::string> messages;
        for (const std::string& event : g_fake.events) {
            if (event.starts_with("message: ")) {
                messages.push_back(event);
            }
        }
        EXPECT_EQ(messages, (Events{message(CFelicaReader::kDriverNotFound)}));
    }
};

TEST_F(UnusableLibraryTest, MissingFileMeansDriverNotFound) {
    expectDriverNotFound("/nonexistent/lib/felica.so");
}

TEST_F(UnusableLibraryTest, FileThatIsNoLibraryMeansDriverNotFound) {
    char path[] = "/tmp/poston-not-a-library-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "this is not a shared library\n";
    ASSERT_EQ(write(fd, text, sizeof(text) - 1), static_cast<ssize_t>(sizeof(text) - 1));
    close(fd);
    expectDriverNotFound(path);
    std::remove(path);
}

TEST_F(UnusableLibraryTest, LibraryLackingAnExportIsUnloadedUnused) {
    expectDriverNotFound(FAKE_FELICA_WITHOUT_DISPOSE_LIBRARY);
    EXPECT_EQ(g_fake.events, (Events{"unloaded", message(CFelicaReader::kDriverNotFound)}));
}

TEST(FelicaReaderPath, DefaultLibraryIsLibFelicaInTheParentOfTheProgramsFolder) {
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(CFelicaReader::defaultLibraryPath(),
              (program.parent_path().parent_path() / "lib" / "felica.so").string());
    CFelicaReader reader(CReaderServices{});
    EXPECT_EQ(reader.libraryPath(), CFelicaReader::defaultLibraryPath());
}

} // namespace
