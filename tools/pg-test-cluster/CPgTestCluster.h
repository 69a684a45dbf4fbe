#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace iotest {

// A throw-away PostgreSQL cluster of Debian's postgresql package for the
// tests and the benchmarks: initdb into a fresh temporary folder, pg_ctl to
// start and stop it, listening on a socket in that folder (and on a loopback
// port when asked, with TLS when asked). Run by the user postgres when the
// caller is root, as initdb refuses root. Everything goes with the object.
//
// Roles: postgres (superuser, no password over the socket), and the roles
// the tests make. The role poston_pw must give its password over both the
// socket and TCP; every other role is trusted.
class CPgTestCluster {
public:
    struct Options {
        bool tcp = false; // also 127.0.0.1 at a free port
        bool tls = false; // with a certificate for localhost from a CA of its own
    };

    CPgTestCluster();
    explicit CPgTestCluster(Options options);
    // The cluster another process made in folder (a ctest fixture shares one
    // among the test processes of a build), or a new one there. It stays
    // when this object goes.
    static std::unique_ptr<CPgTestCluster> shared(const std::string& folder);
    // Stops the cluster of folder and removes it.
    static bool removeShared(const std::string& folder);
    // The running cluster of folder, else one of the caller's own.
    static std::unique_ptr<CPgTestCluster> sharedOrOwn(const std::string& folder);
    CPgTestCluster(const CPgTestCluster&) = delete;
    CPgTestCluster& operator=(const CPgTestCluster&) = delete;
    ~CPgTestCluster();

    // True when initdb ran and the server answered.
    bool ready() const { return m_ready; }
    // Stops the server (clients are cut off) and starts it again, each
    // waited for within a minute.
    bool stop();
    bool start();

    const std::string& folder() const { return m_folder; }
    int port() const { return m_port; }
    // The CA that signed the server's certificate (with tls).
    std::string caFile() const { return m_folder + "ca.pem"; }

    // A libpq URI for database as user over the socket (or TCP to host,
    // "localhost" or "127.0.0.1", when given), with extra "key=value" pairs.
    std::string uri(const std::string& database, const std::string& user = "postgres",
                    const std::string& host = {}, const std::string& extra = {}) const;
    // Runs sql as postgres on database with psql, stopping at the first
    // error; true when all of it ran. out receives psql's unaligned output.
    bool psql(const std::string& database, const std::string& sql,
              std::string* out = nullptr) const;
    // A new empty database (dropped first when it exists), owned by owner.
    bool freshDatabase(const std::string& name, const std::string& owner = "postgres") const;
    // A new database (dropped first when it exists) copied from source.
    bool copyDatabase(const std::string& name, const std::string& source) const;
    // Makes database name with build (given its URI) unless it exists; the
    // processes that share the cluster take turns, and the database gets its
    // name only once build succeeded.
    bool makeOnce(const std::string& name,
                  const std::function<bool(const std::string& uri)>& build) const;

private:
    CPgTestCluster(const std::string& folder, bool keep);
    bool create(const Options& options);
    int run(const std::vector<std::string>& argv, bool asServerUser,
            std::string* out = nullptr) const;
    bool configure(const Options& options);

    std::string m_folder;
    std::string m_bin;
    int m_port = 5432;
    bool m_ready = false;
    bool m_keep = false;
};

} // namespace iotest
