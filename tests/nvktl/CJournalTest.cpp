#include "nvktl/CJournal.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

using NVKTL::CJournal;

namespace {

TEST(CJournalTest, EachEventIsOneLineWithItsLevelAndNoForgedLine) {
    char file[] = "/tmp/poston-journal-XXXXXX";
    ::close(::mkstemp(file));
    CJournal::started(); // to syslog(3), which must neither fail nor block
    ::setenv(CJournal::kFileVariable, file, 1);
    CJournal::migrated(-1);
    CJournal::readerFailed("poll\r\nerror fake");
    CJournal::write("one\ntwo\x7f", CJournal::Level::Warning);
    ::unsetenv(CJournal::kFileVariable);
    EXPECT_EQ(testsupport::readBytes(file),
              "error migration failed: result -1, the previous data file stays in use\n"
              "error reader failed: poll  error fake\n"
              "warning one two \n");
    ::unlink(file);
}

} // namespace
