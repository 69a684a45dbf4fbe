#pragma once

#include <string>

class CPgConnection;

// The tables of a server, built and upgraded by numbered steps. The server
// records the version it has reached and the oldest version of this program
// that may still write to it (a step that changes what a row means raises
// it). The terminal's own file has the same tables from its master file.
class CServerSchema {
public:
    // The last step this program knows.
    static constexpr int kVersion = 6;

    enum class State {
        Current,  // nothing to do (also a newer schema this version may still write)
        Created,  // the tables were made
        Upgraded, // older tables were brought up to date
        TooNew,   // made by a newer program that this one must not write for
        NoRights, // the role may not create or alter tables
        Failed,   // a step failed; detail says how
    };

    struct Found {
        int version = 0; // 0: no tables yet
        int minWriter = 0;
    };

    // Brings the server up to step target (kVersion but in tests) in one
    // transaction: either every missing step is in place afterwards, or
    // nothing changed. Several terminals may start at once: one upgrades,
    // the others find it done.
    static State ensure(CPgConnection& connection, std::string& detail, int target = kVersion);
    // What the server has, or false when it cannot be read.
    static bool read(CPgConnection& connection, Found& found);
    // Whether a program of this version may write to what was found.
    static bool mayWrite(const Found& found) { return found.minWriter <= kVersion; }
};
