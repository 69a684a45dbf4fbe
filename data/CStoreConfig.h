#pragma once

#include <string>
#include <string_view>

// Which store a terminal's data lives in: its own file (the default) or a
// PostgreSQL server shared with other terminals. Kept in one file of the data
// folder, written by poston-server use and removed by poston-server local;
// it counts from the terminal's next start. The file is as private as the
// data file (it may name a password file).
struct CStoreConfig {
    static constexpr std::string_view fileName = "server.conf";
    // Where a password that poston-server asked for is kept, in libpq's
    // password-file format.
    static constexpr std::string_view passFileName = "server.pgpass";
    // Visits a terminal records have ids from terminal id * this on: unique
    // across the terminals of one server without asking it.
    static constexpr long long kVisitIdsPerTerminal = 10'000'000'000LL;

    // The libpq connection URI; empty for the terminal's own file.
    std::string uri;
    // This terminal's name, stored with every visit.
    std::string terminalName;
    // The number the server gave this terminal.
    long long terminalId = 0;
    // The password file poston-server wrote, or empty.
    std::string passFile;

    bool usesServer() const { return !uri.empty(); }

    // The configuration of folder (ending with "/"): the file's, or the
    // default when there is none. False when a file is there but cannot be
    // read or is incomplete (then out is the default).
    static bool load(const std::string& folder, CStoreConfig& out);
    // Writes the file in one step (a temporary file renamed over it).
    bool save(const std::string& folder) const;
    // Back to the terminal's own file. True when no file is left.
    static bool remove(const std::string& folder);
};
