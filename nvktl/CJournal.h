#pragma once

#include <string>

namespace NVKTL {

// The operator's journal: what the screens cannot show later, one line per
// event, through syslog(3) as "poston". Lines carry a card ID or a visit id,
// never a name or an address. Safe from any thread.
//
// When the environment variable POSTON_JOURNAL_FILE names a file (tests
// only), the lines are appended to that file instead.
class CJournal {
public:
    static constexpr const char* kFileVariable = "POSTON_JOURNAL_FILE";

    enum class Level { Info, Warning, Error };

    // One line; line breaks and other control characters become blanks.
    static void write(const char* line, Level level = Level::Info);

    static void started();
    static void ended();
    // The migration into a new master file: result 0 when the data was
    // carried over, the migration's failure code otherwise.
    static void migrated(int result);
    // A visit's notification given up after its retries, with the delivery
    // result code and, for an arrival or a departure, its kind.
    static void mailGivenUp(long long visitId, int resultCode, const char* kind = nullptr);
    // The office's daily summary of day could not be mailed.
    static void summaryNotSent(const char* day, int resultCode);
    // The card reader stopped answering / answers again.
    static void readerFailed(const char* what);
    static void readerRecovered();

    // The text written for line: the line with control characters replaced.
    static std::string clean(const char* line);
};

} // namespace NVKTL
