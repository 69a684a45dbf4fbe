#include "data/CServerLink.h"

#include "data/CPgConnection.h"
#include "data/CServerSchema.h"
#include "nvktl/CJournal.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

struct ThreadLink {
    std::shared_ptr<CPgConnection> connection;
    std::string uri;
    Clock::time_point failedAt{};
    bool failed = false;
    CServerLink::Status failure = CServerLink::Status::Unreachable;
    std::string detail;
};

thread_local ThreadLink tLink;

// The server whose tables this process has found fit to write to.
std::mutex gSchemaLock;
std::string gCheckedUri;
std::atomic<CServerLink::Status> gLastStatus{CServerLink::Status::Unreachable};
// The operator is told once per run.
std::atomic<bool> gToldTooNew{false};

CServerLink::Status checkSchema(CPgConnection& connection, const std::string& uri,
                                std::string& detail) {
    std::lock_guard<std::mutex> guard(gSchemaLock);
    if (gCheckedUri == uri)
        return CServerLink::Status::Ready;
    switch (CServerSchema::ensure(connection, detail)) {
    case CServerSchema::State::Current:
    case CServerSchema::State::Created:
    case CServerSchema::State::Upgraded:
        gCheckedUri = uri;
        return CServerLink::Status::Ready;
    case CServerSchema::State::TooNew:
        if (!gToldTooNew.exchange(true))
            NVKTL::CJournal::write("the server's tables are of a newer version: this terminal does "
                                   "not write to them until it is upgraded",
                                   NVKTL::CJournal::Level::Error);
        return CServerLink::Status::SchemaTooNew;
    case CServerSchema::State::NoRights:
    case CServerSchema::State::Failed:
        break;
    }
    return connection.isUsable() ? CServerLink::Status::SchemaNotReady
                                 : CServerLink::Status::Unreachable;
}

} // namespace

std::shared_ptr<CPgConnection> CServerLink::forThisThread(const CStoreConfig& config,
                                                          Status& status, std::string& detail) {
    ThreadLink& link = tLink;
    if (link.uri != config.uri) {
        link = ThreadLink{};
        link.uri = config.uri;
    }
    if (link.connection && link.connection->isUsable()) {
        status = Status::Ready;
        return link.connection;
    }
    link.connection.reset();
    if (link.failed && Clock::now() - link.failedAt < std::chrono::milliseconds(kRetryAfterMs)) {
        status = link.failure;
        detail = link.detail;
        return nullptr;
    }
    CPgConnection::Settings settings;
    settings.uri = config.uri;
    settings.passFile = config.passFile;
    CPgConnection::Opened why = CPgConnection::Opened::Ok;
    std::unique_ptr<CPgConnection> connection = CPgConnection::open(settings, why, detail);
    status = connection ? checkSchema(*connection, config.uri, detail) : Status::Unreachable;
    gLastStatus.store(status);
    if (status != Status::Ready) {
        link.failed = true;
        link.failedAt = Clock::now();
        link.failure = status;
        link.detail = detail;
        return nullptr;
    }
    link.failed = false;
    link.connection = std::move(connection);
    return link.connection;
}

void CServerLink::resetThisThread() {
    tLink = ThreadLink{};
}

CServerLink::Status CServerLink::lastStatus() {
    return gLastStatus.load();
}

void CServerLink::forgetSchema() {
    std::lock_guard<std::mutex> guard(gSchemaLock);
    gCheckedUri.clear();
}
