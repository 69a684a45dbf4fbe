// The real programs on folders of their own and a cluster of the test's own:
// poston-server says in one line why a server cannot be used and changes
// nothing then; it copies the first terminal's data up; two terminals share
// one server through a rush, the server's restart and a terminal killed
// while it mails, and every delivery is mailed once.
#include "data/CPgConnection.h"
#include "data/CServerSchema.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDataFile.h"
#include "tests/support/WaitUntil.h"
#include "tools/pg-test-cluster/CPgTestCluster.h"
#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines lines(const std::string& text) {
    Lines out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// A terminal's base folder: bin/ programs, lib/ reader, data/ a test data file.
struct Terminal {
    Terminal() {
        for (const char* folder : {"bin", "lib", "var"})
            fs::create_directories(base + folder);
        for (const char* program : {"poston", "poston-server", "poston-card"})
            fs::copy_file(std::string(POSTON_PROGRAMS) + "/" + program, base + "bin/" + program);
        fs::copy_file(POSTON_READER_LIBRARY, base + "lib/felica.so");
        fs::copy_file(masterFile(), data.file("master.mdb"));
        fs::create_directory_symlink(data.folder(), base + "data");
    }
    ~Terminal() { removeTree(base); }

    // poston-server with its error output, status and lines.
    proctest::Output server(const Lines& arguments) const {
        Lines argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", base + "bin/poston-server"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return proctest::RunTool(argv);
    }
    void card(const char* id) const {
        proctest::RunTool(id ? Lines{base + "bin/poston-card", "put", id}
                             : Lines{base + "bin/poston-card", "remove"});
    }
    std::unique_ptr<proctest::Child> start() const {
        ::setenv("POSTON_INSTANCE_NAME", base.c_str(), 1);
        return std::make_unique<proctest::Child>(Lines{base + "bin/poston"});
    }
    // A card laid on the reader until the visit is recorded, then taken
    // away. A person lifts a card for a moment: the greeting ends only after
    // about a second without it, so a card laid again too soon is lifted
    // once more, for longer.
    bool touch(const char* id) const {
        const std::size_t before = data.visits().size();
        for (int lift = 1500; lift <= 12000; lift *= 2) {
            card(id);
            const bool recorded = iotest::waitUntil([&] { return data.visits().size() > before; },
                                                    std::chrono::milliseconds(lift * 2));
            card(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(lift));
            if (recorded)
                return true;
        }
        return false;
    }

    TestDataFile data;
    std::string base = makeTempFolder("poston-terminal-");
};

class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cluster = new iotest::CPgTestCluster({.tcp = true, .tls = true});
        ASSERT_TRUE(cluster->ready()) << cluster->folder();
        ASSERT_TRUE(cluster->psql("postgres", "CREATE ROLE poston LOGIN; CREATE ROLE reader "
                                              "LOGIN; CREATE ROLE poston_pw LOGIN PASSWORD "
                                              "'secret' IN ROLE poston"));
    }
    static void TearDownTestSuite() { delete cluster; }
    static std::string uri(const std::string& database, const std::string& user = "poston") {
        return cluster->uri(database, user);
    }
    static std::string value(const std::string& database, const std::string& sql) {
        std::string out;
        cluster->psql(database, sql, &out);
        return out;
    }

    static iotest::CPgTestCluster* cluster;
};
iotest::CPgTestCluster* ServerTest::cluster = nullptr;

TEST_F(ServerTest, AServerThatCannotBeUsedIsNamedInOneLineAndNothingChanges) {
    ASSERT_TRUE(cluster->freshDatabase("poston", "poston") &&
                cluster->freshDatabase("newer", "poston"));
    Terminal owner;
    ASSERT_EQ(owner.server({"use", uri("poston"), "--name", "所有者"}).status, 0);
    ASSERT_EQ(owner.server({"use", uri("newer"), "--name", "所有者"}).status, 0);
    const std::string newer = std::to_string(CServerSchema::kVersion + 1);
    ASSERT_TRUE(cluster->psql("newer", "UPDATE t_schema SET version = " + newer +
                                           ", min_writer = " + newer));
    const struct {
        const char* what;
        std::string uri, password;
    } cases[] = {
        {"nothing listens",
         "postgresql://poston@127.0.0.1:" + std::to_string(iotest::closedLoopbackPort()) +
             "/poston",
         ""},
        {"a wrong password", uri("poston", "poston_pw"), "wrong"},
        {"no password at hand", uri("poston", "poston_pw"), ""},
        {"no such database", uri("nodb"), ""},
        {"no such role", uri("poston", "nobody"), ""},
        {"a role without rights on the tables", uri("poston", "reader"), ""},
        {"tables of a newer version", uri("newer"), ""},
        {"not a URI", "postgresql://poston@/poston?nonsense=1", ""},
    };
    std::set<std::string> said;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Terminal terminal;
        const std::string before = readBytes(terminal.data.path());
        // libpq's own conventions: a password from the environment, no file.
        ::setenv("PGPASSFILE", "/nonexistent", 1);
        ::setenv("PGPASSWORD", c.password.c_str(), 1);
        const proctest::Output out = terminal.server({"use", c.uri});
        ::unsetenv("PGPASSWORD");
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(lines(out.text).size(), 1u) << out.text;
        said.insert(out.text);
        EXPECT_EQ(listFolder(terminal.data.folder()), "master.mdb;poston.mdb;");
        EXPECT_EQ(readBytes(terminal.data.path()), before);
    }
    EXPECT_EQ(said.size(), std::size(cases));
}

// The certificate names localhost and 127.0.0.1 and comes from the
// cluster's own CA.
TEST_F(ServerTest, AServerIsTrustedOnlyWithACertificateForItsNameFromTheGivenAuthority) {
    const std::string port = std::to_string(cluster->port());
    const struct {
        std::string where, rootCert;
        CPgConnection::Opened opened;
    } cases[] = {
        {"host=localhost", cluster->caFile(), CPgConnection::Opened::Ok},
        {"host=elsewhere.test hostaddr=127.0.0.1", cluster->caFile(),
         CPgConnection::Opened::Unreachable},
        {"host=localhost", cluster->folder() + "server.crt", CPgConnection::Opened::Unreachable},
    };
    for (const auto& c : cases) {
        CPgConnection::Settings settings;
        settings.uri = c.where + " port=" + port + " dbname=postgres user=postgres " +
                       "sslmode=verify-full sslrootcert=" + c.rootCert;
        CPgConnection::Opened opened;
        std::string detail;
        const auto connection = CPgConnection::open(settings, opened, detail);
        EXPECT_EQ(opened, c.opened) << c.where << " " << detail;
    }
}

TEST_F(ServerTest, TheFirstTerminalsDataGoesUpWholeAndTheNextTerminalsShareIt) {
    ASSERT_TRUE(cluster->freshDatabase("poston", "poston"));
    Terminal first, second;
    first.data.script(R"sql(
        INSERT INTO t_group VALUES (7, '7組', NULL, NULL, 3);
        INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES ('AD', '管理', NULL, 1, 1), ('P1', '一郎', 'a@x.jp', 7, 2);
        INSERT INTO t_mail VALUES ('P1', 'a@x.jp'), ('P1', 'b@x.jp');
        INSERT INTO t_login (login_id, user_id, login_date, ret_send)
            VALUES (5, 'P1', '20261201', '2'), (9, 'P1', '20261202', '1');
        INSERT INTO t_send (send_id, login_id, mail, state, tries)
            VALUES (3, 5, 'a@x.jp', '2', 0), (4, 9, 'a@x.jp', '1', 0), (6, 9, 'b@x.jp', '3', 1);
        INSERT INTO t_mail_error VALUES (2, 9, 'P1', 'b@x.jp', '20261202', '宛先なし');
        UPDATE t_def_data SET column_value = '来訪' WHERE column_name = 'mail_subject';
    )sql");
    ASSERT_EQ(first.server({"use", uri("poston"), "--name", "入口"}).status, 0);
    const Lines expected = {"7|7組|3",           "AD|1|",      "P1|7|a@x.jp b@x.jp", "5|2|入口",
                            "9|1|入口",          "5|a@x.jp|2", "9|a@x.jp|1",         "9|b@x.jp|3",
                            "9|b@x.jp|宛先なし", "来訪"};
    const auto onServer = [] {
        return lines(
            value("poston", "SELECT group_id, group_name, order_id FROM t_group WHERE "
                            "group_id > 2") +
            value("poston", "SELECT u.user_id, u.group_id, string_agg(m.mail, ' ' ORDER "
                            "BY m.mail_no) FROM t_user u LEFT JOIN t_mail m USING "
                            "(user_id) GROUP BY 1, 2 ORDER BY 1") +
            value("poston", "SELECT login_id, ret_send, terminal FROM t_login ORDER BY 1") +
            value("poston", "SELECT login_id, mail, state FROM t_send ORDER BY 1, 2") +
            value("poston", "SELECT login_id, mail, error_msg FROM t_mail_error") +
            value("poston", "SELECT column_value FROM t_def_data WHERE column_name = "
                            "'mail_subject'"));
    };
    EXPECT_EQ(onServer(), expected);
    // The server numbers on after the copied rows.
    EXPECT_EQ(value("poston", "INSERT INTO t_group (group_name) VALUES ('新') RETURNING group_id"),
              "8\n");

    // A second terminal takes the server's data as it is, under a name of its
    // own; what its file held stays in a backup beside it.
    second.data.addUser("X", "x");
    EXPECT_EQ(second.server({"use", uri("poston"), "--name", "入口"}).status, 1);
    const proctest::Output took = second.server({"use", uri("poston"), "--name", "出口"});
    EXPECT_EQ(took.status, 0) << took.text;
    EXPECT_EQ(second.data.text("SELECT user_id FROM t_user ORDER BY 1"), "AD;P1;");
    const std::string names = listFolder(second.data.folder());
    const std::string backup = second.data.file(names.substr(0, names.find(';')));
    EXPECT_EQ(onServer().size(), expected.size() + 1);   // the group added above
    EXPECT_EQ(lines(second.server({}).text).size(), 3u); // the store, the server, the outbox
    EXPECT_EQ(second.server({"local"}).status, 0);
    EXPECT_EQ(joined(queryFile(backup, "SELECT user_id FROM t_user")), "X;");
    EXPECT_EQ(lines(second.server({}).text).size(), 1u);
}

} // namespace

namespace {

// Two terminals of one server, each with its own reader and data folder; the
// mails go to one SMTP peer that writes a line per mail.
class TwoTerminalsTest : public ServerTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster->freshDatabase("poston", "poston"));
        a.data.addUser("00000000000000AD", "管理", "1");
        a.data.addUser("00000000000000A1", "一郎", "2", {"a@x.jp"});
        a.data.addUser("00000000000000B2", "二郎", "2", {"b@x.jp", "c@x.jp"});
        a.data.setSetting("mail_address", "desk@x.jp");
        a.data.setSetting("mail_server_ip", "127.0.0.1");
        ASSERT_TRUE(sink.started());
        ASSERT_TRUE(sink.readLine(sinkPort));
        a.data.setSetting("mail_server_port", sinkPort);
        ASSERT_EQ(a.server({"use", uri("poston"), "--name", "入口"}).status, 0);
        ASSERT_EQ(b.server({"use", uri("poston"), "--name", "出口"}).status, 0);
    }
    // Where every terminal mails: the one set of mail settings, on the server.
    void mailTo(const std::string& port) {
        cluster->psql("poston", "UPDATE t_def_data SET column_value = '" + port +
                                    "' WHERE column_name = 'mail_server_port'");
    }
    std::size_t mails() const { return lines(readBytes(sinkFile)).size(); }
    // Visits on the server by terminal, and their deliveries' states.
    std::string history() const {
        return value("poston", "SELECT b.terminal, string_agg(s.state, '' ORDER BY s.send_id) "
                               "FROM t_login b JOIN t_send s USING (login_id) GROUP BY 1 ORDER "
                               "BY 1");
    }
    bool allMailed(std::size_t count) const {
        return iotest::waitUntil(
            [&] {
                return mails() >= count &&
                       value("poston", "SELECT count(*) FROM t_send WHERE state <> '2'") == "0\n";
            },
            std::chrono::seconds(60));
    }

    // The terminals run until killed.
    void TearDown() override {
        for (auto* terminal : {&first, &second})
            if (*terminal)
                (*terminal)->kill(SIGKILL);
    }

    Terminal a, b;
    std::unique_ptr<proctest::Child> first, second;
    std::string sinkFile = a.base + "mails.txt";
    proctest::Child sink{{"/usr/bin/python3", POSTON_SMTP_SINK, sinkFile}};
    std::string sinkPort;
};

TEST_F(TwoTerminalsTest, EveryDeliveryIsMailedOnceThroughARushTheServersRestartAndAKill) {
    first = a.start();
    second = b.start();
    ASSERT_TRUE(a.touch("00000000000000B2") && b.touch("00000000000000A1"));
    ASSERT_TRUE(allMailed(3));
    EXPECT_EQ(history(), "入口|22\n出口|2\n");

    // The server goes away during the rush: both terminals still greet and
    // record, and catch up once it is back.
    ASSERT_TRUE(cluster->stop());
    ASSERT_TRUE(a.touch("00000000000000A1") && b.touch("00000000000000B2"));
    ASSERT_TRUE(cluster->start());
    ASSERT_TRUE(allMailed(6));
    EXPECT_EQ(history(), "入口|222\n出口|222\n");

    // A terminal killed while it mails: its claim keeps the other from
    // mailing the delivery again; its next start gives the claim back.
    iotest::LoopbackPeer silent;
    mailTo(std::to_string(silent.port()));
    ASSERT_TRUE(a.touch("00000000000000A1"));
    std::string claimer;
    ASSERT_TRUE(iotest::waitUntil([&] {
        claimer = value("poston", "SELECT t.terminal_name FROM t_send s JOIN t_terminal t ON "
                                  "t.terminal_id = s.claimed_by WHERE s.state = '1'");
        return !claimer.empty();
    }));
    (claimer == "入口\n" ? first : second)->kill(SIGKILL);
    mailTo(sinkPort);
    (claimer == "入口\n" ? first : second) = (claimer == "入口\n" ? a : b).start();
    ASSERT_TRUE(allMailed(7));
    EXPECT_EQ(history(), "入口|2222\n出口|222\n");
    EXPECT_EQ(mails(), 7u);
    EXPECT_TRUE(first->running() && second->running());
}

} // namespace
