#include "nvktl/CJournal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

using NVKTL::CJournal;

namespace {

class CJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/poston-journal-XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        file = name;
        ::setenv(CJournal::kFileVariable, file.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv(CJournal::kFileVariable);
        ::unlink(file.c_str());
    }
    std::string written() const {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string file;
};

TEST_F(CJournalTest, EachEventIsOneLineWithItsLevel) {
    struct Case {
        std::function<void()> event;
        const char* line;
    };
    const Case cases[] = {
        {[] { CJournal::started(); }, "info start\n"},
        {[] { CJournal::ended(); }, "info end\n"},
        {[] { CJournal::migrated(0); },
         "info migration: data carried over into the new master file\n"},
        {[] { CJournal::migrated(-1); },
         "error migration failed: result -1, the previous data file stays in use\n"},
        {[] { CJournal::mailGivenUp(42, -7); }, "warning mail given up: visit 42, result -7\n"},
        {[] { CJournal::readerFailed("poll"); }, "error reader failed: poll\n"},
        {[] { CJournal::readerRecovered(); }, "info reader recovered\n"},
        // A line break in a caller's text cannot start a forged second line.
        {[] { CJournal::write("one\ntwo\r"); }, "info one two \n"},
        {[] { CJournal::write(nullptr, CJournal::Level::Warning); }, "warning \n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        c.event();
        expected += c.line;
        EXPECT_EQ(written(), expected);
    }
}

// Without the test file the lines go to syslog(3); in a container without a
// log daemon that must neither fail nor block.
TEST_F(CJournalTest, WithoutATestFileTheSystemLogTakesTheLines) {
    ::unsetenv(CJournal::kFileVariable);
    CJournal::started();
    CJournal::mailGivenUp(1, -1);
    EXPECT_EQ(written(), "");
}

} // namespace
