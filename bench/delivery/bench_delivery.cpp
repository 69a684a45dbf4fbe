// Delivery speed: 1,000 notifications through the mail route to a local SMTP
// peer (aiosmtpd, which answers without a greeting delay), one session each,
// side by side with Python's smtplib sending the same messages to the same
// peer, and 1,000 due visits of a data file through the send thread (settings,
// due-visit query, composition, route and state change for every visit).
// Prints notifications per second.
//
// Usage: bench_delivery [count]   (needs /usr/bin/python3 with aiosmtpd)

#include "SendThreadBench.h"
#include "SmtplibRun.h"
#include "delivery/CMailRoute.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kPython = "/usr/bin/python3";
const char* const kSender = "poston@sender.example.jp";
const char* const kRecipient = "visitor@example.jp";
const char* const kHeloName = "sender.example.jp";

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return 0;
    ::close(fd);
    return ntohs(a.sin_port);
}

// True once the peer sends its greeting.
bool greets(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char greeting[4] = {};
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::recv(fd, greeting, 3, 0) == 3 && std::string(greeting, 3) == "220";
    ::close(fd);
    return ok;
}

pid_t startPeer(int port) {
    std::vector<std::string> arguments = {kPython,    "-m",
                                          "aiosmtpd", "-n",
                                          "-l",       "127.0.0.1:" + std::to_string(port),
                                          "-c",       "aiosmtpd.handlers.Sink"};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void stopPeer(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Notifications as the composition writes them: six header fields, ISO-2022-JP
// body of five lines; every message differs in its visit time.
std::vector<std::string> buildMessages(int count) {
    std::vector<std::string> messages;
    for (int i = 0; i < count; ++i) {
        char minute[8];
        std::snprintf(minute, sizeof minute, "%02d", i % 60);
        messages.push_back(
            "From: =?ISO-2022-JP?B?GyRCJF0kOSRIJHMbKEI=?= <poston@sender.example.jp>\r\n"
            "To: =?ISO-2022-JP?B?GyRCOzNFRCFWTzo7UhsoQg==?= <visitor@example.jp>\r\n"
            "Date: Sat, 05 Dec 2026 10:" +
            std::string(minute) +
            ":30 +0900\r\n"
            "Subject: =?ISO-2022-JP?B?GyRCRhI+bCROREtDThsoQg==?=\r\n"
            "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "\x1b$B!V$]$9$H$s!W$K%\"%/%;%9$7$^$7$?!#\x1b(B\r\n"
            "[ \x1b$B3+H/It\x1b(B ]\x1b$B$N\x1b(B\r\n"
            "[ \x1b$B;3ED!!B@O:\x1b(B ]\x1b$B$5$s\x1b(B\r\n"
            "\x1b$BDLCN$,$\"$C$?;~4V\x1b(B\r\n"
            "2026\x1b$BG/\x1b(B12\x1b$B7n\x1b(B05\x1b$BF|\x1b(B 10\x1b$B;~\x1b(B" +
            std::string(minute) + "\x1b$BJ,\x1b(B\r\n");
    }
    return messages;
}

struct Run {
    double seconds = 0;
    int failures = 0;
};

Run runRoute(const std::vector<std::string>& messages, int port) {
    CMapStringToString settings;
    settings.SetAt("mail_address", kSender);
    settings.SetAt("recv_mail", kRecipient);
    settings.SetAt("mail_server_ip", "127.0.0.1");
    settings.SetAt("mail_server_port", CString(std::to_string(port)));
    Run run;
    const auto start = Clock::now();
    for (const std::string& message : messages) {
        if (CMailRoute::deliverMail(settings, CString(message)) != 0)
            ++run.failures;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return run;
}

Run runSmtplib(const std::string& messagesFile, int port) {
    Run run;
    run.seconds = smtplibSeconds(port, messagesFile, kSender, kRecipient, kHeloName);
    if (run.seconds < 0)
        run.failures = -1;
    return run;
}

void print(const char* name, const Run& run, int count) {
    if (run.failures < 0) {
        std::printf("  %-22s failed\n", name);
        return;
    }
    std::printf("  %-22s %8.1f notifications/s  (%d in %.3f s, %d failed)\n", name,
                count / run.seconds, count, run.seconds, run.failures);
}

// 0 when there is no value.
double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_delivery [count]\n");
        return 2;
    }
    const int port = freePort();
    const pid_t peer = startPeer(port);
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) {
        ready = greets(port);
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ready) {
        std::fprintf(stderr, "aiosmtpd did not start (Debian package python3-aiosmtpd)\n");
        stopPeer(peer);
        return 1;
    }

    const std::vector<std::string> messages = buildMessages(count);
    char folder[] = "/tmp/poston-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        stopPeer(peer);
        return 1;
    }
    const std::string messagesFile = std::string(folder) + "/messages";
    {
        std::ofstream out(messagesFile, std::ios::binary);
        for (const std::string& message : messages)
            out << message << '\0';
    }

    std::printf("Delivery: %d notifications, one SMTP session each, to aiosmtpd on "
                "127.0.0.1:%d\n",
                count, port);
    // The machine may be busy with other work: several rounds, and the median.
    constexpr int kRounds = 3;
    std::vector<double> routeRates, smtplibRates, threadRates;
    for (int round = 1; round <= kRounds; ++round) {
        std::printf("round %d\n", round);
        const Run route = runRoute(messages, port);
        print("mail route (C++)", route, count);
        if (route.failures == 0)
            routeRates.push_back(count / route.seconds);
        const Run smtplib = runSmtplib(messagesFile, port);
        print("Python smtplib", smtplib, count);
        if (smtplib.failures == 0)
            smtplibRates.push_back(count / smtplib.seconds);
        const SendThreadResult thread = runSendThread(count, port);
        if (!thread.error.empty()) {
            std::printf("  %-22s failed: %s\n", "send thread (C++)", thread.error.c_str());
        } else {
            std::printf("  %-22s %8.1f notifications/s  (%d in %.3f s, %d visits sent; "
                        "%.3f s of it writing the states to the data file)\n",
                        "send thread (C++)", count / thread.seconds, count, thread.seconds,
                        thread.sent, thread.stateSeconds);
            if (thread.sent == count)
                threadRates.push_back(count / thread.seconds);
        }
        std::fflush(stdout);
    }
    std::printf("median notifications/s: mail route %.1f, Python smtplib %.1f, send thread %.1f\n",
                median(routeRates), median(smtplibRates), median(threadRates));

    ::unlink(messagesFile.c_str());
    ::rmdir(folder);
    stopPeer(peer);
    return 0;
}
