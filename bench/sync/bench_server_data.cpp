// The server's queries at a million visits: the due deliveries the send
// thread asks for every second, and the history of one pupil, through the
// data layer's own connection to a throw-away cluster.
//
//   bench_server_data [visits]   (default 1,000,000)
#include "data/CPgConnection.h"
#include "data/CServerSchema.h"
#include "tools/pg-test-cluster/CPgTestCluster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

void measure(const char* what, CPgConnection& connection, const std::string& sql,
             const CMapStringToString& params) {
    std::vector<double> times;
    std::size_t rows = 0;
    for (int i = 0; i < 200; ++i) {
        rows = 0;
        const IDbConnection::RowVisitor take = [&rows](CMapStringToString&) { ++rows; };
        const auto start = Clock::now();
        if (connection.runStatement(CString(sql), &params, &take) != 0) {
            std::printf("%s failed: %s\n", what, connection.errorText().c_str());
            return;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%s (%zu rows): median %.2f ms, 95th percentile %.2f ms (goal: under 20 ms)\n",
                what, rows, times[times.size() / 2], times[times.size() * 95 / 100]);
}

} // namespace

int main(int argc, char** argv) {
    const long visits = argc > 1 ? std::atol(argv[1]) : 1000000;
    iotest::CPgTestCluster cluster;
    if (!cluster.ready() || !cluster.freshDatabase("poston")) {
        std::fprintf(stderr, "the PostgreSQL cluster did not start (package postgresql)\n");
        return 1;
    }
    CPgConnection::Settings settings;
    settings.uri = cluster.uri("poston");
    settings.timeoutMs = 600000;
    CPgConnection::Opened opened;
    std::string detail;
    const auto connection = CPgConnection::open(settings, opened, detail);
    if (!connection || CServerSchema::ensure(*connection, detail) != CServerSchema::State::Created)
        return 1;
    // 2,000 pupils with two addresses, visits spread over a year by five
    // terminals, every delivery sent but those of the last 100 visits.
    const auto filling = Clock::now();
    const std::string n = std::to_string(visits);
    const std::string fill =
        "INSERT INTO t_user SELECT 'P' || i, 'pupil ' || i, NULL, 2, i FROM "
        "generate_series(1, 2000) i;"
        "INSERT INTO t_mail (user_id, mail) SELECT 'P' || i, 'p' || i || '@' || d || '.jp' FROM "
        "generate_series(1, 2000) i, generate_series(1, 2) d;"
        "INSERT INTO t_login (login_id, user_id, login_date, ret_send, terminal) SELECT "
        "(i % 5 + 1) * 10000000000 + i, 'P' || (i % 2000 + 1), to_char(timestamp '2026-01-01' + "
        "i * interval '31 seconds', 'YYYYMMDDHH24MISS') || '000', CASE WHEN i > " +
        n + " - 100 THEN '1' ELSE '2' END, 'T' || (i % 5 + 1) FROM generate_series(1, " + n +
        ") i;"
        "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT "
        "b.login_id, m.mail, 'pupil', '一般', b.ret_send, 0 FROM t_login b JOIN t_mail m USING "
        "(user_id);"
        "ANALYZE;";
    if (connection->runScript(fill) != 0) {
        std::printf("filling failed: %s\n", connection->errorText().c_str());
        return 1;
    }
    std::printf("%ld visits, %ld deliveries made in %.0f s\n", visits, visits * 2,
                std::chrono::duration<double>(Clock::now() - filling).count());

    CMapStringToString now;
    now.SetAt("now", "20991231000000000");
    measure("due deliveries (the send thread's query)", *connection,
            "SELECT s.send_id, s.group_name, b.user_id, s.user_name as from_name, s.mail as "
            "from_mail, b.login_id, b.login_date, s.tries FROM t_send s JOIN t_login b ON "
            "b.login_id = s.login_id WHERE s.state = '1' AND (s.next_try IS NULL OR s.next_try "
            "<= '?now') AND (s.claim_until IS NULL OR s.claim_until < now()) ORDER BY "
            "b.login_date ASC, s.send_id ASC LIMIT 500",
            now);
    CMapStringToString pupil;
    pupil.SetAt("user_id", "P1234");
    measure("history of one pupil (latest 100 visits)", *connection,
            "SELECT login_id, login_date, ret_send, terminal FROM t_login WHERE user_id = "
            "'?user_id' ORDER BY login_date DESC LIMIT 100",
            pupil);
    return 0;
}
