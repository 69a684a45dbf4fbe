// The simulated reader end to end: poston-card writes the state file of its
// build, the simulated library reads it, the binding shows the result. Each
// test works in a folder laid out like a build (bin/, lib/, var/).
#include "nvktl/CJournal.h"
#include "reader/CFelicaReader.h"
#include "reader/felica-sim/CSimulatedReaderState.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class SimulatedReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/poston-sim-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_base = pattern;
        fs::create_directories(m_base / "bin");
        fs::create_directories(m_base / "lib");
        fs::copy_file(POSTON_CARD_PROGRAM, m_base / "bin" / "poston-card");
        fs::copy_file(SIMULATED_FELICA_LIBRARY, library());
    }
    void TearDown() override { fs::remove_all(m_base); }

    fs::path library() const { return m_base / "lib" / "felica.so"; }
    fs::path stateFile() const { return m_base / "var" / "felica-sim.state"; }

    // Runs poston-card; returns its exit status, output in m_output.
    int card(const std::string& arguments) {
        const std::string command =
            (m_base / "bin" / "poston-card").string() + " " + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) {
            return -1;
        }
        m_output.clear();
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe)) {
            m_output += buffer;
        }
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    CReaderServices services() {
        CReaderServices result;
        result.showMessage = [this](const NVKTL::CString& text) {
            m_messages.push_back(text.str());
        };
        result.beep = [this] { ++m_beeps; };
        return result;
    }

    fs::path m_base;
    std::string m_output;
    std::vector<std::string> m_messages;
    int m_beeps = 0;
};

TEST_F(SimulatedReaderTest, CardsPutAndRemovedWithPostonCardReachTheTerminal) {
    CFelicaReader reader(services(), library().string());
    ASSERT_TRUE(reader.openReader()) << "no state file yet: an empty reader";
    EXPECT_EQ(reader.getCardId().str(), "no");

    ASSERT_EQ(card("put 012e00ff10a00bc3"), 0) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "012E00FF10A00BC3");
    EXPECT_EQ(reader.getCardId().str(), "012E00FF10A00BC3");
    EXPECT_EQ(m_beeps, 1);

    ASSERT_EQ(card("put 012E00FF10A00BC3 0123456789ABCDEF"), 0) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "no");
    ASSERT_EQ(card("status"), 0);
    EXPECT_NE(m_output.find("2 cards on the reader: 012E00FF10A00BC3 0123456789ABCDEF"),
              std::string::npos)
        << m_output;

    ASSERT_EQ(card("remove"), 0) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "no");
    ASSERT_EQ(card("status"), 0);
    EXPECT_NE(m_output.find("no card on the reader"), std::string::npos) << m_output;

    reader.closeReader();
    EXPECT_TRUE(m_messages.empty());
}

// A reader that stops answering while the terminal runs is told apart from an
// idle one once its polls have failed for the failure delay.
TEST_F(SimulatedReaderTest, APollFailureAtRunTimeLastsUntilTakenBack) {
    const std::filesystem::path journal = stateFile().parent_path() / "journal";
    ::setenv(NVKTL::CJournal::kFileVariable, journal.c_str(), 1);
    CFelicaReader reader(services(), library().string());
    reader.setFailureDelay(std::chrono::milliseconds(30));
    ASSERT_TRUE(reader.openReader());
    ASSERT_EQ(card("put 0123456789ABCDEF"), 0) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "0123456789ABCDEF");

    ASSERT_EQ(card("fail poll"), 0) << m_output;
    EXPECT_NE(m_output.find("fail poll"), std::string::npos) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "no");
    EXPECT_FALSE(reader.isFailing()) << "one failed poll is not yet a failing reader";
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(reader.getCardId().str(), "no");
    EXPECT_TRUE(reader.isFailing());

    ASSERT_EQ(card("fail none"), 0) << m_output;
    EXPECT_EQ(reader.getCardId().str(), "0123456789ABCDEF");
    EXPECT_FALSE(reader.isFailing());
    // An idle reader never counts as failing.
    ASSERT_EQ(card("remove"), 0) << m_output;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(reader.getCardId().str(), "no");
    EXPECT_FALSE(reader.isFailing());
    EXPECT_TRUE(m_messages.empty());

    // One journal line when the outage begins and one when it ends.
    ::unsetenv(NVKTL::CJournal::kFileVariable);
    std::ifstream in(journal);
    std::stringstream lines;
    lines << in.rdbuf();
    EXPECT_EQ(lines.str(),
              "error reader failed: every poll of the card reader fails\ninfo reader recovered\n");
}

TEST_F(SimulatedReaderTest, PostonCardRefusesMalformedCardIdsAndKeepsTheState) {
    ASSERT_EQ(card("put 0123456789ABCDEF"), 0);
    for (const char* bad :
         {"put", "put 0123456789ABCDE", "put 0123456789ABCDEF0", "put 0123456789ABCDEG",
          "put 0123456789ABCDEF nothex", "fail maybe", "dance"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(card(bad), 2);
    }
    CSimulatedReaderState state;
    ASSERT_TRUE(state.load(stateFile().string()));
    ASSERT_EQ(state.cards.size(), 1u);
    EXPECT_EQ(CSimulatedReaderState::formatCardId(state.cards[0]), "0123456789ABCDEF");
}

TEST_F(SimulatedReaderTest, SimulatedFailuresShowTheirMessages) {
    struct Case {
        const char* failure;
        bool opens;
        const char* message;
    } cases[] = {{"init", false, CFelicaReader::kInitializeFailed},
                 {"open", false, CFelicaReader::kOpenFailed},
                 {"load", false, CFelicaReader::kDriverNotFound},
                 {"dispose", true, CFelicaReader::kCloseFailed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        m_messages.clear();
        ASSERT_EQ(card(std::string("fail ") + c.failure), 0) << m_output;
        CFelicaReader reader(services(), library().string());
        EXPECT_EQ(reader.openReader(), c.opens);
        reader.closeReader();
        EXPECT_EQ(m_messages, std::vector<std::string>{c.message});

        ASSERT_EQ(card("fail none"), 0) << m_output;
        m_messages.clear();
        CFelicaReader healthy(services(), library().string());
        EXPECT_TRUE(healthy.openReader());
        healthy.closeReader();
        EXPECT_TRUE(m_messages.empty());
    }
}

TEST_F(SimulatedReaderTest, LoadFailureSurvivesARebuiltLibrary) {
    ASSERT_EQ(card("fail load"), 0);
    EXPECT_FALSE(fs::exists(library()));
    fs::copy_file(SIMULATED_FELICA_LIBRARY, library()); // the build brought it back
    ASSERT_EQ(card("fail none"), 0) << m_output;
    EXPECT_TRUE(fs::exists(library()));
    EXPECT_FALSE(fs::exists(m_base / "lib" / "felica.so.hidden"));
}

TEST(SimulatedReaderState, TextIgnoresWhatItDoesNotKnow) {
    const CSimulatedReaderState state = CSimulatedReaderState::fromText(
        "# written by hand\ncards 0123456789abcdef XYZ 1122334455667788 11\nfail sometimes\n"
        "fail open\nvolume 11\n");
    ASSERT_EQ(state.cards.size(), 2u);
    EXPECT_EQ(CSimulatedReaderState::formatCardId(state.cards[0]), "0123456789ABCDEF");
    EXPECT_EQ(CSimulatedReaderState::formatCardId(state.cards[1]), "1122334455667788");
    EXPECT_EQ(state.failure, CSimulatedReaderState::Failure::Open);

    const CSimulatedReaderState again = CSimulatedReaderState::fromText(state.toText());
    EXPECT_EQ(again.cards, state.cards);
    EXPECT_EQ(again.failure, state.failure);
}

TEST(SimulatedReaderState, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    char pattern[] = "/tmp/poston-state-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const std::string path = CSimulatedReaderState::fileFor(folder.string());

    CSimulatedReaderState state;
    ASSERT_TRUE(state.load(path)) << "a missing file is an empty reader";
    EXPECT_TRUE(state.cards.empty());

    state.cards.resize(3);
    ASSERT_TRUE(state.save(path)) << "creates var/";
    state.cards.resize(1);
    state.failure = CSimulatedReaderState::Failure::Dispose;
    ASSERT_TRUE(state.save(path));

    CSimulatedReaderState loaded;
    ASSERT_TRUE(loaded.load(path));
    EXPECT_EQ(loaded.cards.size(), 1u);
    EXPECT_EQ(loaded.failure, CSimulatedReaderState::Failure::Dispose);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "var"), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

} // namespace
