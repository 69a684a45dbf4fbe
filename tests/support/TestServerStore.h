#pragma once

#include "tests/support/TestDataFile.h"
#include "tools/pg-test-cluster/CPgTestCluster.h"

#include <memory>

struct pg_conn;

namespace testsupport {

// The school's data on a server: a fresh database of this process with this
// program's tables, in the cluster the build's tests share (or one of the
// process's own when that is not running), and the terminal's own file
// beside it. While it lives, every CDbAccess of the process is a terminal of
// that server.
class TestServerStore : public TestStore {
public:
    explicit TestServerStore(long long terminalId = 1);
    ~TestServerStore() override;
    TestServerStore(const TestServerStore&) = delete;
    TestServerStore& operator=(const TestServerStore&) = delete;

    // The cluster the test program's server stores share, made on first use.
    static iotest::CPgTestCluster& cluster();

    // The database's name and URI.
    static std::string database();
    std::string uri() const;
    // The terminal's own file.
    const TestDataFile& terminal() const { return m_terminal; }
    // Makes the process the terminal numbered id of this server.
    void becomeTerminal(long long id, const std::string& name) const;

    Rows query(const std::string& sql, const std::vector<std::string>& values = {}) const override;
    void script(const std::string& sql) const override;
    void refuseWrites(const std::string& table) const override;
    void allowWrites(const std::string& table) const override;
    std::string addressOrder() const override { return "mail_no"; }

private:
    pg_conn* connection() const;

    TestDataFile m_terminal;
    mutable pg_conn* m_connection = nullptr;
};

enum class StoreKind { File, Server };

// A store of either kind, for tests that run on both.
std::unique_ptr<TestStore> makeTestStore(StoreKind kind);
std::string storeKindName(StoreKind kind);

} // namespace testsupport
