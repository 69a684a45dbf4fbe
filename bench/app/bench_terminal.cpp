// The terminal's speed and stamina, measured from outside through the real
// program on a private X display (Xvfb, 1280x800): a base folder of its own
// (bin/, lib/, data/, var/), the simulated reader driven through its state
// file, a loopback SMTP peer (aiosmtpd) that writes one line per accepted
// mail. The bench watches the X display to know when the first screen
// appears.
//
//   bench_terminal [touches] [soak]     (defaults 40 and 1000)
//
// In window mode and in kiosk mode (poston --kiosk):
// - start -> first visit recorded, with a card already on the reader;
// - card placed -> visit recorded (the greeting screen writes the visit just
//   before it is shown), for cards placed at spread-out moments (0 to 600 ms
//   after the first screen appeared) and for cards held out as the first
//   screen appears (the next visitor of a queue): median and 95th percentile;
// - card placed -> notification accepted by the peer.
// Then a soak of kiosk touches in a row: touches that went unanswered, and the
// resident memory after 100 touches and at the end.
#include "bench/support/BenchProcess.h"
#include "reader/felica-sim/CSimulatedReaderState.h"

#include <sqlite3.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPupil = "0123456789ABCDEF";
constexpr const char* kFirstScreen = "NVKぽすとん ～ ユーザ確認画面";

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs, int stepMs = 1) {
    const auto start = Clock::now();
    while (!condition()) {
        if (msSince(start) > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

// The first line a child writes into the pipe, within the time.
std::string firstLine(int fd, int timeoutMs) {
    std::string line;
    waitFor(
        [&] {
            pollfd ready{fd, POLLIN, 0};
            char c;
            while (::poll(&ready, 1, 0) > 0 && ::read(fd, &c, 1) == 1) {
                if (c == '\n')
                    return true;
                line += c;
            }
            return false;
        },
        timeoutMs, 5);
    return line;
}

class Base {
public:
    Base() {
        char pattern[] = "/tmp/poston-bench-XXXXXX";
        path = ::mkdtemp(pattern);
        for (const char* f : {"bin", "lib", "data", "var"})
            fs::create_directories(fs::path(path) / f);
        fs::copy_file(POSTON_PROGRAM, path + "/bin/poston");
        fs::copy_file(POSTON_READER_LIBRARY, path + "/lib/felica.so");
        fs::copy_file(POSTON_MASTER_MDB, data());
    }
    ~Base() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string data() const { return path + "/data/poston.mdb"; }

    void exec(const std::string& sql) const {
        sqlite3* db = nullptr;
        sqlite3_open(data().c_str(), &db);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    long count(const char* sql) const {
        sqlite3* db = nullptr;
        long n = -1;
        if (sqlite3_open_v2(data().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                n = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return n;
    }
    long visits() const { return count("SELECT COUNT(*) FROM t_login"); }
    void card(const char* id) const {
        CSimulatedReaderState state;
        CSimulatedReaderState::Idm idm{};
        if (id && CSimulatedReaderState::parseCardId(id, idm))
            state.cards.push_back(idm);
        state.save(CSimulatedReaderState::fileFor(path));
    }

    std::string path;
};

// The top-level windows that appear on the display, by caption.
class DisplayWatch {
public:
    explicit DisplayWatch(const std::string& display) {
        m_connection = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        const char name[] = "_NET_WM_NAME";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, sizeof name - 1, name), nullptr);
        m_nameAtom = atom ? atom->atom : xcb_atom_t(XCB_ATOM_WM_NAME);
        std::free(atom);
        xcb_flush(m_connection);
    }
    ~DisplayWatch() { xcb_disconnect(m_connection); }
    bool ok() const { return !xcb_connection_has_error(m_connection); }

    // Waits until a window with the caption is mapped; false after the time.
    bool waitForMap(const std::string& caption, int timeoutMs) {
        const auto start = Clock::now();
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                const bool mapped =
                    (event->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                    captionOf(reinterpret_cast<xcb_map_notify_event_t*>(event)->window) == caption;
                std::free(event);
                if (mapped)
                    return true;
            }
            const int left = timeoutMs - static_cast<int>(msSince(start));
            if (left <= 0)
                return false;
            pollfd ready{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&ready, 1, left);
        }
    }
    // Forgets the windows mapped so far.
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

private:
    std::string captionOf(xcb_window_t window) {
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, m_nameAtom,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                   nullptr);
        std::string caption;
        if (reply)
            caption.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
        std::free(reply);
        return caption;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_nameAtom = XCB_ATOM_WM_NAME;
};

std::size_t lineCount(const std::string& file) {
    std::ifstream in(file);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

long residentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// With the goal of 100 ms for the 95th percentile when withGoal.
void printPercentiles(const std::string& what, std::vector<double> values, bool withGoal = true) {
    if (values.empty()) {
        std::printf("%s: no samples\n", what.c_str());
        return;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    std::printf("%s over %zu touches: median %.1f ms, 95th percentile %.1f ms%s, max %.1f ms\n",
                what.c_str(), values.size(), at(0.5), at(0.95), withGoal ? " (goal < 100 ms)" : "",
                values.back());
}

// One terminal on its own base folder and display.
struct Terminal {
    Terminal(const std::string& display, const std::string& port, bool kiosk) {
        base.exec("INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
                  "('00000000000000AD', '管理', NULL, 1, 1);"
                  "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES ('" +
                  std::string(kPupil) +
                  "', '山田 太郎', NULL, 2, 2);"
                  "INSERT INTO t_mail VALUES ('" +
                  std::string(kPupil) +
                  "', 'taro@example.jp');"
                  "UPDATE t_def_data SET column_value = 'desk@example.jp' WHERE column_name = "
                  "'mail_address';"
                  "UPDATE t_def_data SET column_value = '127.0.0.1' WHERE column_name = "
                  "'mail_server_ip';"
                  "UPDATE t_def_data SET column_value = '" +
                  port + "' WHERE column_name = 'mail_server_port';");
        std::vector<std::string> argv = {base.path + "/bin/poston"};
        if (kiosk)
            argv.emplace_back("--kiosk");
        base.card(kPupil);
        const auto started = Clock::now();
        pid =
            bench::spawnProcess(argv,
                                {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display,
                                 "POSTON_INSTANCE_NAME=poston-bench-" + std::to_string(::getpid())},
                                base.path + "/var/terminal.log", nullptr);
        const bool first = waitFor([&] { return base.visits() >= 1; }, 30000);
        std::printf("  start -> first visit recorded (card already on the reader): %.1f ms%s\n",
                    msSince(started), first ? "" : " (timed out)");
    }
    ~Terminal() { stop(pid); }

    Base base;
    pid_t pid = -1;
};

// Lays the card and waits until its visit is recorded; the milliseconds, or
// a negative value when none was recorded within 10 s.
double touch(const Base& base) {
    const long before = base.visits();
    const auto placed = Clock::now();
    base.card(kPupil);
    if (!waitFor([&] { return base.visits() > before; }, 10000))
        return -1;
    return msSince(placed);
}

} // namespace

int main(int argc, char** argv) {
    const int touches = argc > 1 ? std::atoi(argv[1]) : 40;
    const int soak = argc > 2 ? std::atoi(argv[2]) : 1000;

    int xvfbOut = -1;
    const pid_t xvfb = bench::spawnProcess(
        {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-ac", "-screen", "0", "1280x800x24"}, {},
        {}, &xvfbOut);
    const std::string display = ":" + firstLine(xvfbOut, 15000);
    DisplayWatch watch(display);
    if (display == ":" || !watch.ok()) {
        std::fprintf(stderr, "Xvfb did not start (package xvfb)\n");
        stop(xvfb);
        return 1;
    }
    const std::string received =
        fs::temp_directory_path() / ("poston-bench-mails-" + std::to_string(::getpid()) + ".txt");
    int sinkOut = -1;
    const pid_t sink = bench::spawnProcess(
        {"/usr/bin/python3", POSTON_SMTP_SINK, received, "86400"}, {}, {}, &sinkOut);
    const std::string port = firstLine(sinkOut, 15000);
    if (port.empty()) {
        std::fprintf(stderr, "the SMTP peer did not start (python3-aiosmtpd)\n");
        stop(sink);
        stop(xvfb);
        return 1;
    }

    std::mt19937 random(20260401);
    std::uniform_int_distribution<int> spread(0, 600);
    for (const bool kiosk : {false, true}) {
        std::printf("%s mode:\n", kiosk ? "kiosk" : "window");
        Terminal terminal(display, port, kiosk);
        // The first screen that showed before the first visit is no return.
        watch.drain();
        terminal.base.card(nullptr);
        std::vector<double> atRandom, asReturning, mailed;
        for (int i = 0; i < 2 * touches; ++i) {
            if (!watch.waitForMap(kFirstScreen, 10000)) {
                std::printf("  the first screen did not come back within 10 s\n");
                break;
            }
            const bool returning = i % 2 == 1;
            if (!returning)
                std::this_thread::sleep_for(std::chrono::milliseconds(spread(random)));
            const std::size_t mailsBefore = lineCount(received);
            const auto placed = Clock::now();
            const double toVisit = touch(terminal.base);
            if (toVisit < 0) {
                std::printf("  touch %d was not recorded within 10 s\n", i + 1);
                break;
            }
            (returning ? asReturning : atRandom).push_back(toVisit);
            if (waitFor([&] { return lineCount(received) > mailsBefore; }, 10000))
                mailed.push_back(msSince(placed));
            watch.drain();
            terminal.base.card(nullptr);
        }
        printPercentiles("  card placed at a spread-out moment -> visit recorded", atRandom);
        printPercentiles("  card held out as the first screen appears -> visit recorded",
                         asReturning);
        printPercentiles("  card placed -> notification accepted", mailed, false);
        if (!kiosk)
            continue;

        int unanswered = 0;
        long rssAt100 = -1;
        for (int i = 0; i < soak; ++i) {
            if (!watch.waitForMap(kFirstScreen, 10000) || touch(terminal.base) < 0) {
                ++unanswered;
                break;
            }
            watch.drain();
            terminal.base.card(nullptr);
            if (i + 1 == 100)
                rssAt100 = residentKb(terminal.pid);
        }
        std::printf("  soak: %d touches in a row, %d unanswered (goal 0)\n", soak, unanswered);
        if (rssAt100 > 0)
            std::printf("  resident memory: %ld kB after 100 touches, %ld kB after %d (growth "
                        "%ld kB)\n",
                        rssAt100, residentKb(terminal.pid), soak,
                        residentKb(terminal.pid) - rssAt100);
        waitFor(
            [&] {
                return terminal.base.count("SELECT COUNT(*) FROM t_login WHERE "
                                           "ret_send = '1'") == 0;
            },
            20000, 20);
        std::printf("  visits recorded %ld, still due %ld\n", terminal.base.visits(),
                    terminal.base.count("SELECT COUNT(*) FROM t_login WHERE ret_send = '1'"));
    }
    stop(sink);
    stop(xvfb);
    std::error_code ignored;
    fs::remove(received, ignored);
    return 0;
}
