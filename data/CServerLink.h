#pragma once

#include "data/CStoreConfig.h"

#include <memory>
#include <string>

class CPgConnection;

// The connection of each thread to the configured server, kept while it
// works and made again when it broke. The first connection of the process
// brings the server's tables up to this program's version (or finds them
// too new, and then the server is not used at all). After a failed attempt a
// thread waits a little before the next, so a server that is away costs one
// time-out now and then rather than one per operation.
class CServerLink {
public:
    enum class Status { Ready, Unreachable, SchemaTooNew, SchemaNotReady };

    // This thread's connection to the server of config, or null when it
    // cannot be used now (status says why, detail the server's text). A
    // holder keeps it usable even when the thread drops it meanwhile.
    static std::shared_ptr<CPgConnection> forThisThread(const CStoreConfig& config, Status& status,
                                                        std::string& detail);
    // Drops this thread's connection and the wait after a failure (a test
    // that stops and starts the server, a command that must try now).
    static void resetThisThread();
    // What the last attempt of any thread found.
    static Status lastStatus();
    // Forgets that the tables were checked (tests that rebuild them).
    static void forgetSchema();

    static constexpr int kRetryAfterMs = 2000;
};
