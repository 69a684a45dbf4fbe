#include "data/CDataFiles.h"

#include "nvktl/ProgramFolder.h"

#include <sqlite3.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t privateFile = 0600;
constexpr mode_t privateFolder = 0700;
// A folder shared by a group (setgid, as the installed terminal's folders
// are) keeps its files readable and writable by that group alone.
constexpr mode_t groupFile = 0660;
constexpr mode_t groupFolder = 02770;

bool sharedByGroup(const std::string& folder) {
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && (status.st_mode & S_ISGID) != 0;
}

std::string parentOf(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return trimmed.substr(0, slash);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool copyContents(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!writeAll(to, buffer, static_cast<std::size_t>(got)))
            return false;
    }
}

bool removeIfPresent(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// The layout version a database file declares (PRAGMA user_version); 0 for
// a file that cannot be read as one.
int layoutVersion(const std::string& path) {
    sqlite3* db = nullptr;
    int version = 0;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return version;
}

} // namespace

CString CDataFiles::defaultFolder() {
    return CString(NVKTL::programBaseFolder() + "data/");
}

bool CDataFiles::ensureFolder(const CString& folder) {
    std::string path = folder.str();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty())
        return false;
    const mode_t mode = sharedByGroup(parentOf(path)) ? groupFolder : privateFolder;
    // chmod: the user's umask would take the group's rights away.
    if (::mkdir(path.c_str(), mode) == 0)
        return ::chmod(path.c_str(), mode) == 0;
    struct stat status {};
    return errno == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CDataFiles::exists(const CString& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool CDataFiles::copyFile(const CString& from, const CString& to) {
    const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return false;
    const std::string temporary = to.str() + ".part";
    ::unlink(temporary.c_str());
    const mode_t mode = sharedByGroup(parentOf(to.str())) ? groupFile : privateFile;
    const int target =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (target < 0) {
        ::close(source);
        return false;
    }
    bool ok = ::fchmod(target, mode) == 0 && copyContents(source, target) && ::fsync(target) == 0;
    ok = (::close(target) == 0) && ok;
    ::close(source);
    // A journal left by the file being replaced must not be applied to the copy.
    ok = ok && removeIfPresent(to.str() + "-journal") &&
         ::rename(temporary.c_str(), to.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(CString(parentOf(to.str())));
    return true;
}

bool CDataFiles::writeFile(const CString& path, const std::string& bytes, bool ownerOnly) {
    const std::string temporary = path.str() + ".part";
    ::unlink(temporary.c_str());
    const mode_t mode = !ownerOnly && sharedByGroup(parentOf(path.str())) ? groupFile : privateFile;
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    bool ok =
        ::fchmod(fd, mode) == 0 && writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(CString(parentOf(path.str())));
    return true;
}

bool CDataFiles::removeDatabase(const CString& path) {
    const bool journal = removeIfPresent(path.str() + "-journal");
    return removeIfPresent(path.str()) && journal;
}

bool CDataFiles::syncFolder(const CString& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool CDataFiles::prepare(const CString& folder) {
    ensureFolder(folder);
    const CString data = folder + dataFile;
    const CString master = folder + masterFile;
    const CString copy = folder + masterCopy;
    struct stat dataStatus {};
    if (::stat(data.c_str(), &dataStatus) == 0) {
        struct stat masterStatus {};
        if (::stat(master.c_str(), &masterStatus) == 0 &&
            (dataStatus.st_atim.tv_sec < masterStatus.st_atim.tv_sec ||
             layoutVersion(data.str()) < layoutVersion(master.str())))
            copyFile(master, copy);
    } else {
        copyFile(master, copy);
    }
    return exists(copy);
}
