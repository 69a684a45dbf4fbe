#include "SendTarget.h"

#include "data/CDbAccess.h"
#include "delivery/CMailRoute.h"
#include "delivery/CNotification.h"
#include "nvktl/CEvent.h"
#include "nvktl/CJournal.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/CTime.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDataFile.h"
#include "tests/support/WaitUntil.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using Strings = std::vector<std::string>;

namespace {

const std::string A1 = "00000000000000A1", B2 = "00000000000000B2", C3 = "00000000000000C3";

std::string now() {
    return NVKTL::CTime::StampNow().str();
}

std::string errorText(int code) {
    return NVKTL::CSmtpClient::GetErrorMessage(code).str();
}

// Result code and last reply of each attempt in turn; delivered after them.
RecordingSendThread::Script attempts(std::vector<std::pair<int, int>> results) {
    return [results](const std::string&, int attempt, int& reply) {
        const auto [code, last] =
            attempt < int(results.size()) ? results[attempt] : std::pair{0, 250};
        reply = last;
        return code;
    };
}

class SendThreadTest : public ::testing::Test {
protected:
    SendThreadTest() {
        data.setSetting("mail_address", "desk@example.jp");
        data.addUser(A1, "山田 太郎", "2", {"a@example.jp"});
        data.addUser(B2, "佐藤 花子", "2", {"a@example.jp", "b@example.jp"});
    }
    std::string state(const std::string& visit) {
        return data.value("SELECT ret_send FROM t_login WHERE login_id = ?", {visit});
    }
    Strings errorMails() {
        Strings mails;
        for (const auto& row : data.query("SELECT mail FROM t_mail_error ORDER BY error_no"))
            mails.push_back(row[0]);
        return mails;
    }
    // Answers the nth request starting with prefix with NoWindow, as a screen
    // that closes just then does.
    void refuse(CSendThread& thread, const std::string& prefix, int nth = 1) {
        auto seen = std::make_shared<int>(0);
        target.setHook([=, &thread](const std::string& line) -> std::optional<DataResult> {
            if (line.rfind(prefix, 0) != 0 || ++*seen != nth)
                return std::nullopt;
            thread.resetWindow();
            return DataResult::NoWindow;
        });
    }
    static bool rested(CSendThread& thread) {
        return iotest::waitUntil([&] { return !thread.isRunning(); });
    }
    // Mail goes to a real server on loopback.
    void useServer(const smtptest::ScriptedSmtpPeer& peer) {
        data.setSetting("mail_server_ip", "127.0.0.1");
        data.setSetting("mail_server_port", std::to_string(peer.port()));
    }

    testsupport::TestDataFile data;
    SendTarget target;
};

TEST_F(SendThreadTest, EachAddressEndsSentWaitingForItsNextTryOrListed) {
    const struct {
        const char* what;
        std::vector<std::pair<int, int>> results; // code and reply, one per address
        bool dayOld;                              // older than the give-up time
        std::string states;                       // of the deliveries, then of the visit
    } cases[] = {
        {"both delivered", {{0, 250}, {0, 250}}, false, "222"},
        {"first refused for good, second delivered", {{-15, 550}, {0, 250}}, false, "323"},
        {"first delivered, second refused", {{0, 250}, {-16, 554}}, false, "233"},
        {"421 at RCPT", {{-15, 421}}, false, "11"},
        {"451 after the message", {{-17, 451}}, false, "11"},
        {"no connection", {{-1, 0}}, false, "11"},
        {"no reply in time", {{-3, 0}}, false, "11"},
        {"address refused before the wire", {{-15, 0}}, false, "33"},
        {"refused certificate", {{-22, 0}}, false, "33"},
        {"domain that takes no mail", {{-24, 0}}, false, "33"},
        {"TLS handshake cut off", {{-25, 0}}, false, "11"},
        {"passing, but tried for a day", {{-15, 421}}, true, "33"},
    };
    // Only a delivery given up reaches the operator's journal.
    const std::string journal = data.file("journal");
    ::setenv(NVKTL::CJournal::kFileVariable, journal.c_str(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::removeTree(journal);
        data.script("DELETE FROM t_send; DELETE FROM t_mail_error");
        const std::string visit =
            data.addVisit(c.states.size() == 2 ? A1 : B2, c.dayOld ? "20200101090000000" : now());
        RecordingSendThread thread(attempts(c.results));
        target.calls(true);
        thread.setWindow(&target);
        ASSERT_TRUE(target.waitFor("progressEnd"));
        thread.resetWindow();
        std::string states, given;
        Strings failed;
        for (const auto& delivery : data.deliveries(visit)) {
            const int code = c.results.at(states.size()).first;
            states += delivery.state;
            EXPECT_EQ(delivery.tries, delivery.state == "2" ? 0 : 1);
            if (delivery.state == "1") { // the next try is later, not now
                EXPECT_GT(delivery.nextTry, now());
            } else if (delivery.state == "3") {
                EXPECT_EQ(delivery.lastError, errorText(code));
                failed.push_back(delivery.mail);
                given += "warning mail given up: visit " + visit + ", result " +
                         std::to_string(code) + "\n";
            }
        }
        EXPECT_EQ(states + state(visit), c.states);
        EXPECT_EQ(errorMails(), failed);
        EXPECT_EQ(testsupport::readBytes(journal), given);
    }
    ::unsetenv(NVKTL::CJournal::kFileVariable);
}

TEST_F(SendThreadTest, ABusyServerIsTriedAgainUntilTheMailGoesOutAndTheStatusBarSaysSo) {
    const std::string visit = data.addVisit(A1, now());
    RecordingSendThread thread(attempts({{-14, 421}, {-14, 421}}));
    thread.setRetryTiming(1, CSendThread::kGiveUpMs);
    thread.setWindow(&target);
    ASSERT_TRUE(target.waitFor("sendDelivery"));
    EXPECT_EQ(thread.recipients().size(), 3u);
    EXPECT_EQ(state(visit), "2");
    EXPECT_TRUE(errorMails().empty());
    EXPECT_TRUE(target.waitFor("statusText 再送を待っているメールが1件あります"));
    EXPECT_TRUE(target.waitFor("statusText "));
}

TEST_F(SendThreadTest, AResendMailsOnlyTheRefusedAddressAndItsRowLeavesOnceSent) {
    const std::string visit = data.addVisit(B2, now());
    std::atomic<bool> refusing{true};
    RecordingSendThread thread([&](const std::string& to, int, int& reply) {
        reply = to == "b@example.jp" && refusing ? 550 : 250;
        return reply == 550 ? -15 : 0;
    });
    thread.setWindow(&target);
    ASSERT_TRUE(target.waitFor("progressEnd"));
    EXPECT_THAT(errorMails(), ElementsAre("b@example.jp"));
    // A resend that fails again renews its row; one that succeeds removes it.
    for (const bool refused : {true, false}) {
        refusing = refused;
        const CString errorNo(data.value("SELECT error_no FROM t_mail_error"));
        EXPECT_EQ(CDbAccess().resendMailError(errorNo, CString(now())), 0);
        ASSERT_TRUE(target.waitFor(refused ? "failDelivery" : "sendDelivery", 2));
        EXPECT_EQ(errorMails().size(), refused ? 1u : 0u);
        EXPECT_EQ(state(visit), refused ? "3" : "2");
    }
    EXPECT_EQ(thread.recipients(),
              (Strings{"a@example.jp", "b@example.jp", "b@example.jp", "b@example.jp"}));
}

TEST_F(SendThreadTest, EveryAddressIsMailedOnceWhenTheLoopStopsOrAStateWriteFails) {
    for (const bool closeWindow : {true, false}) { // else the state write fails twice
        SCOPED_TRACE(closeWindow ? "screen closed between the addresses" : "state write refused");
        RecordingSendThread thread;
        const std::string visit = data.addVisit(B2, now());
        std::atomic<int> writes{0};
        target.setHook([&](const std::string& line) -> std::optional<DataResult> {
            if (line.rfind("sendDelivery", 0) != 0 || writes++ >= (closeWindow ? 1 : 2))
                return std::nullopt;
            if (!closeWindow)
                return DataResult::Failed; // the data file would not take the write
            thread.resetWindow();          // the screen closes while this request runs
            return std::nullopt;
        });
        thread.setWindow(&target);
        if (closeWindow) {
            ASSERT_TRUE(rested(thread));
            EXPECT_EQ(thread.recipients().size(), 1u);
            thread.setWindow(&target);
        }
        ASSERT_TRUE(iotest::waitUntil([&] { return state(visit) == "2"; }));
        thread.resetWindow();
        EXPECT_EQ(thread.recipients(), (Strings{"a@example.jp", "b@example.jp"}));
        EXPECT_EQ(thread.pendingCount(), 0u);
    }
}

TEST_F(SendThreadTest, ABatchClaimsEachDeliveryBeforeItsMailOldestVisitFirst) {
    data.addUser(C3, "田中 一郎", "2", {"b@example.jp"});
    const std::string newer = data.sendId(data.addVisit(A1, "20261205101530123"), "a@example.jp");
    const std::string older = data.sendId(data.addVisit(C3, "20261205090000000"), "b@example.jp");
    RecordingSendThread thread;
    thread.setWindow(&target);
    ASSERT_TRUE(target.waitFor("progressEnd"));
    Strings calls = target.calls();
    calls.resize(13);
    EXPECT_THAT(calls, ElementsAre("getDefault", "getSendLogin", "statusText メール送信中",
                                   "progressStart 1 2", "claimDelivery " + older, "getDefault",
                                   "sendDelivery " + older, "statusText メール送信中",
                                   "progressStart 2 2", "claimDelivery " + newer, "getDefault",
                                   "sendDelivery " + newer, "progressEnd"));
    EXPECT_EQ(thread.recipients(), (Strings{"b@example.jp", "a@example.jp"}));
}

TEST_F(SendThreadTest, AnOutcomeThatFindsNoWindowIsStoredFirstAndNothingIsMailedTwice) {
    const struct {
        const char* refused;
        int nth, code;
        std::string stored; // the kept change, stored first on the next window
    } cases[] = {
        {"sendDelivery", 1, 0, "sendDelivery <id>"},
        {"failDelivery", 1, -15, "failDelivery <id> " + errorText(-15)},
        {"getDefault", 2, 0, "releaseDelivery <id>"}, // settings gone while composing
    };
    // An address with a line break cannot be delivered; its error row must
    // still name it exactly.
    const std::string address = "bad\nline@example.jp";
    data.addUser(C3, "田中 一郎", "2", {address});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        RecordingSendThread thread(attempts({{c.code, 0}}));
        const std::string visit = data.addVisit(C3, "20261205090000000");
        refuse(thread, c.refused, c.nth);
        thread.setWindow(&target);
        ASSERT_TRUE(rested(thread));
        EXPECT_EQ(thread.pendingCount(), 1u);
        EXPECT_EQ(state(visit), "1");
        const std::string later = data.addVisit(A1, "20261205100000000");
        target.setHook(nullptr);
        target.calls(true);
        thread.setWindow(&target);
        ASSERT_TRUE(target.waitFor("progressEnd"));
        thread.resetWindow();
        Strings calls = target.calls();
        calls.resize(2);
        std::string stored = c.stored;
        EXPECT_EQ(calls,
                  (Strings{stored.replace(stored.find("<id>"), 4, data.sendId(visit, address)),
                           "getDefault"})); // only then new work
        EXPECT_EQ(state(visit), c.code ? "3" : "2");
        EXPECT_EQ(state(later), "2");
        EXPECT_EQ(thread.recipients(), (Strings{address, "a@example.jp"}));
        EXPECT_EQ(errorMails(), c.code ? Strings{address} : Strings{});
        data.script("DELETE FROM t_send; DELETE FROM t_mail_error");
    }
}

TEST_F(SendThreadTest, TheEndEventIsSetOnlyOnceTheKeptChangesAreStored) {
    NVKTL::CEvent end;
    RecordingSendThread thread(attempts({{-12, 0}}));
    const std::string failed = data.addVisit(A1, "20261205090000000");
    refuse(thread, "failDelivery");
    thread.setWindow(&target);
    ASSERT_TRUE(rested(thread));
    // A visit recorded after the end was requested is left for the next run.
    const std::string later = data.addVisit(A1, "20261205100000000");
    // The closing screen binds itself and asks for the end while it cannot
    // serve yet: the fast periods keep the change and do not end.
    target.setHook([](const std::string&) { return std::optional{DataResult::NoWindow}; });
    thread.setWindow(&target);
    thread.requestEnd(&end);
    ASSERT_TRUE(target.waitFor("refused:failDelivery", 5));
    EXPECT_EQ(end.wait(0), NVKTL::CEvent::WaitTimeout);
    target.setHook(nullptr);
    ASSERT_EQ(end.wait(20000), NVKTL::CEvent::WaitSignalled);
    EXPECT_EQ(state(failed) + state(later), "31");
    EXPECT_EQ(thread.recipients().size(), 1u);
}

TEST_F(SendThreadTest, AnEndRequestStopsTheBatchBeforeItsNextRow) {
    RecordingSendThread thread;
    const std::string first = data.addVisit(A1, "20261205090000000");
    const std::string second = data.addVisit(A1, "20261205100000000");
    auto event = std::make_unique<NVKTL::CEvent>();
    std::atomic<bool> requested{false};
    target.setHook([&](const std::string& line) -> std::optional<DataResult> {
        if (line.rfind("sendDelivery", 0) == 0 && !requested.exchange(true))
            thread.requestEnd(event.get()); // the program closes while this row is stored
        return std::nullopt;
    });
    thread.setWindow(&target);
    ASSERT_EQ(event->wait(20000), NVKTL::CEvent::WaitSignalled);
    EXPECT_EQ(state(first) + state(second), "21");
    ASSERT_TRUE(iotest::waitUntil([&] { return thread.periods > 20; }));
    EXPECT_EQ(thread.recipients().size(), 1u);
    const Strings calls = target.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "getSendLogin"), 1);
}

// The whole road of a visit: the send thread with its real composition and
// mail route, and an SMTP server on loopback, on a July morning in New York.
TEST_F(SendThreadTest, ARealServerGetsTheNotificationsOfABatchInOneSessionInIso2022Jp) {
    smtptest::ScriptedSmtpPeer peer{smtptest::Replies{}};
    ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    ::tzset();
    const NVKTL::CTestClock clock(NVKTL::CTime(2026, 7, 5, 3, 9, 0, 0, 0));
    data.setSetting("mail_user", "受付");
    data.setSetting("mail_subject", "来訪のお知らせ");
    data.setSetting("title", "stale"); // the mail's own keys go over the settings
    useServer(peer);
    // Line breaks in a group name put an end-of-data line and ".NET班" at the
    // start of lines.
    data.query("UPDATE t_group SET group_name = replace('x|.|MAIL FROM:<e@x.jp>|.NET班', '|', "
               "char(10)) WHERE group_id = 2");
    data.addUser(C3, "山田 太郎", "2", {"yamada@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit(C3, "20261205101530123");
    CSendThread thread;
    thread.setWindow(&target);
    ASSERT_TRUE(target.waitFor("progressEnd"));
    thread.resetWindow();
    EXPECT_EQ(state(visit), "2");
    ASSERT_EQ(peer.sessions().size(), 1u);
    const auto session = peer.sessions()[0];
    ASSERT_EQ(session.mails.size(), 2u);
    EXPECT_EQ(
        Strings(session.commands.end() - 5, session.commands.end()),
        (Strings{"RSET", "MAIL FROM:<desk@example.jp>", "RCPT TO:<b@example.jp>", "DATA", "QUIT"}));
    // The encoded words were made with Python's iso2022_jp codec and base64.
    const std::string message = session.mails.at(0).message;
    Strings head;
    for (std::size_t at = 0, end; (end = message.find("\r\n", at)) != at; at = end + 2)
        head.push_back(message.substr(at, end - at));
    EXPECT_THAT(
        head,
        ElementsAre("From: =?ISO-2022-JP?B?GyRCPHVJVRsoQg==?= <desk@example.jp>",
                    "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>",
                    "Date: Fri, 03 Jul 2026 09:00:00 -0400", // the offset of that moment
                    "Subject: =?ISO-2022-JP?B?GyRCTWhLLCROJCpDTiRpJDsbKEI=?=",
                    "Content-Type: text/plain; charset=\"ISO-2022-JP\"",
                    "Content-Transfer-Encoding: 7bit",
                    MatchesRegex("Message-ID: <[0-9a-f.]+@example\\.jp>"), "MIME-Version: 1.0"));
    // Lines beginning with a dot go out with it doubled, so the server keeps
    // them; a dot inside a line stays single.
    EXPECT_THAT(message, HasSubstr("\r\n[ x\r\n..\r\nMAIL FROM:<e@x.jp>\r\n..NET\x1b$BHI\x1b(B ]"));
    EXPECT_EQ(CNotification::normalizeLineEnds(message).str(), message) << "a bare CR or LF";
    EXPECT_NE(message.substr(message.find("Message-ID"), 40),
              session.mails[1].message.substr(session.mails[1].message.find("Message-ID"), 40));
    ::unsetenv("TZ");
    ::tzset();
}

// A server that answers the end of the message after 35 s has the mail: it
// is sent once. One that drops the connection instead of answering may have
// it: the next try carries the same Message-ID and Date.
TEST_F(SendThreadTest, ASlowOrLostAnswerToTheMessageNeverMakesASecondMailOfItsOwn) {
    smtptest::Replies slow, dropping;
    slow.message = "<pause 35000>250 2.0.0 Queued\r\n";
    dropping.messagesDropped = 1;
    for (const smtptest::Replies& replies : {slow, dropping}) {
        smtptest::ScriptedSmtpPeer peer(replies);
        useServer(peer);
        const std::string visit = data.addVisit(A1, now());
        CSendThread thread;
        thread.setRetryTiming(1, CSendThread::kGiveUpMs);
        thread.setWindow(&target);
        ASSERT_TRUE(
            iotest::waitUntil([&] { return state(visit) == "2"; }, std::chrono::seconds(60)));
        thread.resetWindow();
        const auto mails = peer.mails();
        ASSERT_EQ(mails.size(), replies.messagesDropped + 1u);
        EXPECT_EQ(mails.front().message, mails.back().message); // Message-ID and Date too
        data.script("DELETE FROM t_send");
    }
}

// The program ends while a mail is in flight: an answer that comes within the
// grace is stored, and a mail that got no answer stays due without a try
// counted; nothing is lost or sent again by the next start.
TEST_F(SendThreadTest, AnAbortedAttemptStoresWhatTheServerAnsweredAndKeepsTheRestDue) {
    smtptest::Replies late;
    late.message = "<pause 500>250 2.0.0 Queued\r\n";
    for (const std::string outcome : {"2 0 1", "1 0 0"}) {
        const bool answered = outcome == "2 0 1"; // else the server never greets
        const auto peer = answered ? std::make_unique<smtptest::ScriptedSmtpPeer>(late)
                                   : std::make_unique<smtptest::ScriptedSmtpPeer>(
                                         std::vector<std::string>{"<silent>"});
        useServer(*peer);
        const std::string visit = data.addVisit(A1, now());
        CSendThread thread;
        thread.setWindow(&target);
        ASSERT_TRUE(iotest::waitUntil([&] { return thread.sendingCount() == 1; }));
        ASSERT_TRUE(peer->waitForMails(answered ? 1 : 0, std::chrono::seconds(10)));
        // As at exit: the window goes, the attempt is cut short, the worker
        // stops, and what it could not store is stored.
        thread.resetWindow();
        thread.abortAttempts();
        thread.stop();
        EXPECT_EQ(thread.storeKeptChanges(runDataRequest), 0u);
        const auto delivery = data.deliveries(visit).at(0);
        EXPECT_EQ(delivery.state + " " + std::to_string(delivery.tries) + " " +
                      std::to_string(peer->mails().size()),
                  outcome);
        EXPECT_EQ(data.value("SELECT count(*) FROM t_send WHERE claim_until IS NOT NULL"), "0");
        data.script("DELETE FROM t_send");
    }
}

// Each kind of visit is mailed in the school's words, or the default ones,
// as a mail program shows it; a value is never read as a placeholder.
TEST_F(SendThreadTest, EachKindIsMailedInItsOwnTextsWithThePlaceholdersFilledIn) {
    smtptest::ScriptedSmtpPeer peer{smtptest::Replies{}};
    useServer(peer);
    data.setSetting("mail_user", "受付");
    data.setSetting("mail_subject", "来訪のお知らせ");
    data.setSetting("mail_subject_in", "{種別}: {氏名}");
    data.setSetting("mail_body_out",
                    "{グループ}の{氏名}さんが{日時}に{種別}しました。\n{端末} {x}");
    data.query("UPDATE t_user SET user_name = '{日時}' WHERE user_id = ?", {B2});
    const struct {
        std::string user;
        const char *date, *kind, *subject, *body;
    } cases[] = {
        {A1, "20261205090000000", "来所", "来訪のお知らせ",
         "「ぽすとん」にアクセスしました。\n[ 一般 ]の\n[ 山田 太郎 ]さん\n通知があった時間\n"
         "2026年12月05日 09時00分\n"},
        {A1, "20261205100000000", "入室", "入室: 山田 太郎",
         "「ぽすとん」に入室しました。\n[ 一般 ]の\n[ 山田 太郎 ]さん\n入室した時間\n"
         "2026年12月05日 10時00分\n"},
        {B2, "20261205110000000", "退室", "【退室】来訪のお知らせ",
         "一般の{日時}さんが2026年12月05日 11時00分に退室しました。\n入口 {x}\n"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string visit = data.addVisit(cases[i].user, cases[i].date);
        data.query("UPDATE t_login SET login_kind = ?, terminal = '入口' WHERE login_id = ?",
                   {cases[i].kind, visit});
        data.query("DELETE FROM t_send WHERE mail = 'b@example.jp'");
    }
    CSendThread thread;
    thread.setWindow(&target);
    ASSERT_TRUE(peer.waitForMails(std::size(cases), std::chrono::seconds(20)));
    thread.resetWindow();
    const std::string folder = testsupport::makeTempFolder("kinds");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        testsupport::writeBytes(folder + "mail.eml", peer.mails().at(i).message);
        const std::string shown =
            proctest::RunTool({"/usr/bin/python3", CHECK_MESSAGE, folder + "mail.eml"}).text;
        EXPECT_THAT(shown, HasSubstr(std::string("\nSubject: ") + cases[i].subject + "\n"));
        EXPECT_THAT(shown, HasSubstr(std::string("\nBody:\n") + cases[i].body)) << cases[i].kind;
    }
    testsupport::removeTree(folder);
}

TEST(NotificationTest, ShortVisitTimesOddSendersAndStoredHeadersAreMadeSafe) {
    // Parts beyond the end of a short text are empty; nothing reads past it.
    EXPECT_EQ(CNotification::visitTime("2026120"), "2026年12月0日 時分");
    EXPECT_EQ(CNotification::visitTime(""), "年月日 時分");
    // A sender address that is no plain domain never reaches the identifier;
    // a stored Message-ID and Date are a delivery's own, but only when fit
    // for a header line; an empty name or subject gives no encoded word.
    const struct {
        std::string sender, id, date;
        std::vector<std::string> lines;
    } cases[] = {
        {"x@a b>\r\nBcc: y", "", "", {"From: <x@a b>Bcc: y>", "Subject: \r\n", "@poston.invalid>"}},
        {"x@x.jp", "<5.a@x.jp>", "20260105103000000", {"<5.a@x.jp>\r\n", "05 Jan 2026 10:30"}},
        {"x@x.jp", "<a@x.jp>\r\nBcc: y", "2026010510300", {"To: <>\r\n", "@x.jp>\r\n"}},
    };
    for (const auto& c : cases) {
        const CMapStringToString mail = testsupport::textMap(
            {{"mail_address", c.sender}, {"message_id", c.id}, {"message_date", c.date}});
        const std::string message = CNotification::buildMessage(mail, NVKTL::CTime()).str();
        for (const std::string& line : c.lines)
            EXPECT_THAT(message, HasSubstr(line));
        EXPECT_THAT(message, Not(AnyOf(HasSubstr("Bcc: y\r\n"), HasSubstr("?B?\?="))));
    }
}

} // namespace

// The office's daily summary: once its time has come, one mail to the
// administrator with the day's figures, what was given up and what waits;
// the next period, and another terminal, send no second one.
TEST_F(SendThreadTest, TheDailySummaryReachesTheOfficeOnceWithTheDaysFigures) {
    smtptest::ScriptedSmtpPeer peer{smtptest::Replies{}};
    useServer(peer);
    data.setSetting("mail_user", "受付");
    data.setSetting("summary_time", "18:30");
    const std::string sent = data.addVisit(A1, "20261205090000000");
    const std::string failed = data.addVisit(B2, "20261205100000000");
    data.addVisit(A1, "20261204100000000"); // the day before: not counted
    data.query("UPDATE t_send SET state = '2', sent_date = '20261205090100000' WHERE login_id = ?",
               {sent});
    data.query("UPDATE t_send SET state = '3', tries = 1, last_error = '宛先がありません' WHERE "
               "login_id = ? AND mail = 'b@example.jp'",
               {failed});
    data.query("UPDATE t_send SET tries = 1, next_try = '29991205103000000' WHERE state = '1'");
    // Two periods of the send thread at the moment at: what it asked for.
    const auto periods = [&](const NVKTL::CTime& at) {
        const NVKTL::CTestClock clock(at);
        target.calls(true);
        CSendThread thread;
        thread.setWindow(&target);
        EXPECT_TRUE(target.waitFor("statusText", 2));
        thread.resetWindow();
        return target.calls(true);
    };
    using testing::Contains;
    EXPECT_THAT(periods(NVKTL::CTime(2026, 12, 6, 5, 18, 29, 0, 0)),
                Not(Contains("takeDaySummary")));
    EXPECT_THAT(periods(NVKTL::CTime(2026, 12, 6, 5, 18, 30, 0, 0)), Contains("takeDaySummary"));
    ASSERT_TRUE(peer.waitForMails(1, std::chrono::seconds(20)));
    EXPECT_THAT(periods(NVKTL::CTime(2026, 12, 6, 5, 23, 0, 0, 0)),
                Not(Contains("takeDaySummary")));
    EXPECT_EQ(peer.mails().size(), 1u);
    const std::string folder = testsupport::makeTempFolder("summary");
    testsupport::writeBytes(folder + "mail.eml", peer.mails().at(0).message);
    const std::string shown =
        proctest::RunTool({"/usr/bin/python3", CHECK_MESSAGE, folder + "mail.eml"}).text;
    testsupport::removeTree(folder);
    EXPECT_THAT(shown, HasSubstr("To: 受付 | desk@example.jp\n"));
    EXPECT_THAT(shown,
                HasSubstr("Subject: 受付のまとめ 2026年12月05日 (送信できなかったお知らせあり)\n"));
    EXPECT_THAT(shown, HasSubstr("来所・入退室: 2件\n送信したお知らせ: 1通\n"
                                 "送信できなかったお知らせ: 1通\n再送を待っているお知らせ: 2通\n"));
    EXPECT_THAT(shown,
                HasSubstr("・12/05 10:00 一般 佐藤 花子 b@example.jp\n  宛先がありません\n"));
    EXPECT_THAT(shown, HasSubstr("・12/04 10:00 一般 山田 太郎 a@example.jp (次回 12/05 10:30)\n"));
    EXPECT_EQ(data.setting("summary_sent_day"), "20261205");
}
