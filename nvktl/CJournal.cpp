#include "nvktl/CJournal.h"

#include "nvktl/CString.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace NVKTL {

namespace {

int priorityOf(CJournal::Level level) {
    switch (level) {
    case CJournal::Level::Warning:
        return LOG_WARNING;
    case CJournal::Level::Error:
        return LOG_ERR;
    case CJournal::Level::Info:
        break;
    }
    return LOG_INFO;
}

const char* levelName(CJournal::Level level) {
    switch (level) {
    case CJournal::Level::Warning:
        return "warning";
    case CJournal::Level::Error:
        return "error";
    case CJournal::Level::Info:
        break;
    }
    return "info";
}

// One write(2) with O_APPEND, so lines of two threads never interleave.
void appendTo(const char* file, const std::string& text) {
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ssize_t written;
    do {
        written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    ::close(fd);
}

} // namespace

std::string CJournal::clean(const char* line) {
    std::string text = line ? line : "";
    for (char& c : text)
        if (CString::IsControlCharacter(static_cast<unsigned char>(c)))
            c = ' ';
    return text;
}

void CJournal::write(const char* line, Level level) {
    const std::string text = clean(line);
    if (const char* file = std::getenv(kFileVariable); file && *file) {
        appendTo(file, std::string(levelName(level)) + " " + text + "\n");
        return;
    }
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("poston", LOG_PID, LOG_USER); });
    ::syslog(priorityOf(level), "%s", text.c_str());
}

void CJournal::started() {
    write("start");
}

void CJournal::ended() {
    write("end");
}

void CJournal::migrated(int result) {
    if (result == 0)
        write("migration: data carried over into the new master file");
    else
        write(("migration failed: result " + std::to_string(result) +
               ", the previous data file stays in use")
                  .c_str(),
              Level::Error);
}

void CJournal::mailGivenUp(long long visitId, int resultCode, const char* kind) {
    const std::string shownKind = kind && *kind ? " (" + clean(kind) + ")" : std::string();
    write(("mail given up: visit " + std::to_string(visitId) + shownKind + ", result " +
           std::to_string(resultCode))
              .c_str(),
          Level::Warning);
}

void CJournal::summaryNotSent(const char* day, int resultCode) {
    write(("daily summary not sent: " + clean(day) + ", result " + std::to_string(resultCode))
              .c_str(),
          Level::Warning);
}

void CJournal::readerFailed(const char* what) {
    write((std::string("reader failed: ") + clean(what)).c_str(), Level::Error);
}

void CJournal::readerRecovered() {
    write("reader recovered");
}

} // namespace NVKTL
