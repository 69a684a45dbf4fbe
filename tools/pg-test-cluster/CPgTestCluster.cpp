#include "tools/pg-test-cluster/CPgTestCluster.h"

#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace iotest {

namespace {

constexpr int kToolWaitMs = 120000;

bool isRoot() {
    return ::geteuid() == 0;
}

std::string serverBin() {
    // Debian keeps the server's programs out of PATH, one folder per version.
    for (const char* version : {"15", "16", "17", "14", "13"}) {
        const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin/";
        if (fs::exists(bin + "initdb"))
            return bin;
    }
    return {};
}

void append(const std::string& file, const std::string& text) {
    std::ofstream out(file, std::ios::app);
    out << text;
}

} // namespace

CPgTestCluster::CPgTestCluster() : CPgTestCluster(Options{}) {}

CPgTestCluster::CPgTestCluster(Options options) : m_bin(serverBin()) {
    char pattern[] = "/tmp/poston-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return;
    m_folder = std::string(pattern) + "/";
    m_ready = create(options);
}

CPgTestCluster::CPgTestCluster(const std::string& folder, bool keep)
    : m_folder(folder.back() == '/' ? folder : folder + "/"), m_bin(serverBin()), m_keep(keep) {}

std::unique_ptr<CPgTestCluster> CPgTestCluster::shared(const std::string& folder) {
    std::unique_ptr<CPgTestCluster> cluster(new CPgTestCluster(folder, true));
    if (fs::exists(cluster->m_folder + "data/postmaster.pid")) {
        cluster->m_ready = cluster->psql("postgres", "SELECT 1");
        if (cluster->m_ready)
            return cluster;
        // Left by a run that was cut off: made anew.
        cluster->stop();
    }
    std::error_code ignored;
    fs::remove_all(cluster->m_folder, ignored);
    fs::create_directories(cluster->m_folder, ignored);
    cluster->m_ready = cluster->create(Options{});
    return cluster;
}

bool CPgTestCluster::removeShared(const std::string& folder) {
    CPgTestCluster cluster(folder, false);
    cluster.m_ready = fs::exists(cluster.m_folder + "data/postmaster.pid");
    const bool stopped = !cluster.m_ready || cluster.stop();
    cluster.m_ready = false;
    return stopped;
}

bool CPgTestCluster::create(const Options& options) {
    if (m_bin.empty())
        return false;
    if (isRoot()) {
        const passwd* server = ::getpwnam("postgres");
        if (server == nullptr || ::chown(m_folder.c_str(), server->pw_uid, server->pw_gid) != 0)
            return false;
    }
    if (options.tcp || options.tls) {
        const int probe = boundSocket("127.0.0.1", 0);
        m_port = portOf(probe);
        ::close(probe);
    }
    return run({m_bin + "initdb", "-D", m_folder + "data", "-U", "postgres", "-A", "trust", "-E",
                "UTF8", "--no-locale", "--no-sync"},
               true) == 0 &&
           configure(options) && start();
}

CPgTestCluster::~CPgTestCluster() {
    if (m_folder.empty() || m_keep)
        return;
    if (m_ready)
        stop();
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
}

bool CPgTestCluster::configure(const Options& options) {
    const std::string data = m_folder + "data/";
    std::string settings = "port = " + std::to_string(m_port) + "\nunix_socket_directories = '" +
                           m_folder + "'\nlisten_addresses = '" +
                           (options.tcp || options.tls ? "127.0.0.1" : "") +
                           "'\nfsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                           "max_connections = 60\nshared_buffers = 32MB\n";
    if (options.tls) {
        // A CA of its own signs a certificate for localhost and 127.0.0.1.
        const std::string ext = m_folder + "san.ext";
        append(ext, "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        const bool made =
            run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                 m_folder + "ca.key", "-out", m_folder + "ca.pem", "-days", "2", "-subj",
                 "/CN=poston test CA"},
                true) == 0 &&
            run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout",
                 m_folder + "server.key", "-out", m_folder + "server.csr", "-subj",
                 "/CN=localhost"},
                true) == 0 &&
            run({"openssl", "x509", "-req", "-in", m_folder + "server.csr", "-CA",
                 m_folder + "ca.pem", "-CAkey", m_folder + "ca.key", "-CAcreateserial", "-out",
                 m_folder + "server.crt", "-days", "2", "-extfile", ext},
                true) == 0;
        if (!made)
            return false;
        settings += "ssl = on\nssl_cert_file = '" + m_folder + "server.crt'\nssl_key_file = '" +
                    m_folder + "server.key'\n";
    }
    append(data + "postgresql.conf", settings);
    // Written whole: the file initdb made allows more than the tests want.
    std::ofstream hba(data + "pg_hba.conf", std::ios::trunc);
    hba << "local all poston_pw scram-sha-256\n"
           "local all all trust\n"
           "host all poston_pw 127.0.0.1/32 scram-sha-256\n"
           "host all all 127.0.0.1/32 trust\n";
    return static_cast<bool>(hba);
}

bool CPgTestCluster::start() {
    return run({m_bin + "pg_ctl", "-D", m_folder + "data", "-l", m_folder + "server.log", "-w",
                "-t", "60", "start"},
               true) == 0;
}

bool CPgTestCluster::stop() {
    return run({m_bin + "pg_ctl", "-D", m_folder + "data", "-m", "fast", "-w", "-t", "60", "stop"},
               true) == 0;
}

std::string CPgTestCluster::uri(const std::string& database, const std::string& user,
                                const std::string& host, const std::string& extra) const {
    std::string text = "postgresql://" + user + "@";
    if (!host.empty())
        text += host + ":" + std::to_string(m_port);
    text += "/" + database;
    if (host.empty()) {
        text += "?host=";
        for (const char c : m_folder.substr(0, m_folder.size() - 1))
            text += c == '/' ? std::string("%2F") : std::string(1, c);
        text += "&port=" + std::to_string(m_port);
    }
    if (!extra.empty())
        text += (host.empty() ? "&" : "?") + extra;
    return text;
}

bool CPgTestCluster::psql(const std::string& database, const std::string& sql,
                          std::string* out) const {
    return run({"psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                m_folder.substr(0, m_folder.size() - 1), "-p", std::to_string(m_port), "-U",
                "postgres", "-d", database, "-c", sql},
               false, out) == 0;
}

std::unique_ptr<CPgTestCluster> CPgTestCluster::sharedOrOwn(const std::string& folder) {
    std::unique_ptr<CPgTestCluster> cluster;
    if (fs::exists(folder + "/data/postmaster.pid"))
        cluster = shared(folder);
    if (!cluster || !cluster->ready())
        cluster = std::make_unique<CPgTestCluster>();
    return cluster;
}

bool CPgTestCluster::copyDatabase(const std::string& name, const std::string& source) const {
    return psql("postgres", "DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)") &&
           psql("postgres", "CREATE DATABASE \"" + name + "\" TEMPLATE \"" + source + "\"");
}

bool CPgTestCluster::makeOnce(const std::string& name,
                              const std::function<bool(const std::string& uri)>& build) const {
    const int lock =
        ::open((m_folder + ".lock-" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
        return false;
    std::string found;
    bool made =
        psql("postgres", "SELECT 1 FROM pg_database WHERE datname = '" + name + "'", &found);
    if (made && found.empty()) {
        const std::string building = name + "_building";
        made = freshDatabase(building) && build(uri(building)) &&
               psql("postgres", "ALTER DATABASE \"" + building + "\" RENAME TO \"" + name + "\"");
    }
    ::close(lock);
    return made;
}

bool CPgTestCluster::freshDatabase(const std::string& name, const std::string& owner) const {
    return psql("postgres", "DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)") &&
           psql("postgres", "CREATE DATABASE \"" + name + "\" OWNER \"" + owner +
                                "\" TEMPLATE template0 ENCODING 'UTF8'");
}

int CPgTestCluster::run(const std::vector<std::string>& argv, bool asServerUser,
                        std::string* out) const {
    std::vector<std::string> command;
    if (asServerUser && isRoot())
        command = {"runuser", "-u", "postgres", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& arg : command)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!m_folder.empty() && asServerUser)
        posix_spawn_file_actions_addchdir_np(&actions, m_folder.c_str());
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    // The output is read to the end, bounded: a tool that hangs is killed.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kToolWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{pipeFds[0], POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        char chunk[4096];
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (out)
        *out = text;
    else if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        append(m_folder + "tools.log", text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace iotest
