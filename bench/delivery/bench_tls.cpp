// Mail over STARTTLS with AUTH: notifications per second through the mail
// route to a local aiosmtpd that requires STARTTLS and takes AUTH only inside
// it, one session per mail, side by side in the same run with Python's smtplib
// doing starttls() + login() + sendmail() per mail to the same peer. The
// peer's certificate comes from a throw-away CA, trusted through SSL_CERT_FILE.
//
// Usage: bench_tls [count]   (needs /usr/bin/python3 with aiosmtpd and cryptography)

#include "delivery/CMailRoute.h"
#include "delivery/CNotification.h"
#include "nvktl/CTime.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef POSTON_BENCH_DIR
#error "POSTON_BENCH_DIR names the folder of smtplib_tls_send.py"
#endif
#ifndef TLS_SMTP_PEER
#error "TLS_SMTP_PEER names the TLS SMTP peer script"
#endif

namespace {

using Clock = std::chrono::steady_clock;
const char* const kPython = "/usr/bin/python3";

// Runs argv with a pipe to its standard input and one from its output.
struct Child {
    pid_t pid = -1;
    int in = -1;
    FILE* out = nullptr;
};

Child spawn(std::vector<std::string> arguments) {
    int in[2], out[2];
    Child child;
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    child.in = in[1];
    child.out = ::fdopen(out[0], "r");
    return child;
}

std::string firstLine(Child& child) {
    char line[256] = {};
    if (!child.out || !std::fgets(line, sizeof line, child.out))
        return std::string();
    return line;
}

void finish(Child& child) {
    if (child.in >= 0)
        ::close(child.in);
    if (child.out)
        std::fclose(child.out);
    if (child.pid > 0)
        ::waitpid(child.pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    char folder[] = "/tmp/poston-bench-tls-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    const std::string dir = folder;
    Child certs = spawn({kPython, TLS_SMTP_PEER, "certs", dir});
    finish(certs);
    ::setenv("SSL_CERT_FILE", (dir + "/ca.pem").c_str(), 1);
    ::setenv("SSL_CERT_DIR", dir.c_str(), 1);

    Child peer = spawn({kPython, TLS_SMTP_PEER, "serve", dir, "starttls", "good", "PLAIN"});
    const std::string line = firstLine(peer);
    if (line.rfind("PORT ", 0) != 0) {
        std::fprintf(stderr, "the TLS SMTP peer did not start (python3-aiosmtpd, cryptography)\n");
        finish(peer);
        return 1;
    }
    const int port = std::atoi(line.c_str() + 5);

    CMapStringToString settings;
    settings.SetAt("mail_user", "受付");
    settings.SetAt("mail_address", "desk@example.jp");
    settings.SetAt("mail_server_ip", "127.0.0.1");
    settings.SetAt("mail_server_port", std::to_string(port).c_str());
    settings.SetAt("mail_security", "starttls");
    settings.SetAt("mail_acount", "tim");
    settings.SetAt("mail_password", "tanstaaftanstaaf");
    settings.SetAt("recv_name", "山田 太郎");
    settings.SetAt("recv_mail", "yamada@example.jp");
    settings.SetAt("title", "来訪のお知らせ");
    settings.SetAt("body", CNotification::body("開発部", "山田 太郎", "20261205101530123").c_str());
    NVKTL::CTime now;
    now.SetNow();
    const CString message = CNotification::buildMessage(settings, now);

    int failures = 0;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        failures += CMailRoute::deliverMail(settings, message) != 0;
    const double ours = std::chrono::duration<double>(Clock::now() - start).count();

    const std::string messageFile = dir + "/bench-message.eml";
    std::ofstream(messageFile, std::ios::binary) << message.str();
    Child python =
        spawn({kPython, std::string(POSTON_BENCH_DIR) + "/smtplib_tls_send.py",
               std::to_string(port), dir + "/ca.pem", messageFile, std::to_string(count)});
    const double theirs = std::atof(firstLine(python).c_str());
    finish(python);
    finish(peer);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);

    std::printf("STARTTLS + AUTH PLAIN, one session per mail, %d mails\n", count);
    std::printf("  mail route: %8.1f mails/s (%d failed)\n", count / ours, failures);
    std::printf("  smtplib:    %8.1f mails/s\n", theirs > 0 ? count / theirs : 0.0);
    return failures == 0 ? 0 : 1;
}
