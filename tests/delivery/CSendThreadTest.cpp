#include "RecordingSendThread.h"
#include "SendTarget.h"
#include "TestDataFile.h"

#include "data/CDbAccess.h"
#include "delivery/CMailRoute.h"
#include "nvktl/CEvent.h"
#include "nvktl/CJournal.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/CTime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using Call = SendTarget::Call;

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// Waits for a condition that no target call announces.
template <class Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

auto counted(const std::string& name, int times) {
    return [name, times](const std::vector<Call>& calls) {
        int seen = 0;
        for (const Call& call : calls)
            seen += call.name == name ? 1 : 0;
        return seen >= times;
    };
}

bool isTimestamp(const std::string& text) {
    return text.size() == 17 && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string errorText(int code) {
    return NVKTL::CSmtpClient::GetErrorMessage(code).str();
}

class SendThreadTest : public ::testing::Test {
protected:
    SendThreadTest() {
        data.setSetting("mail_user", "受付");
        data.setSetting("mail_address", "desk@example.jp");
        data.setSetting("mail_subject", "来訪のお知らせ");
        thread.setInterval(2);
    }

    void bind() { thread.setWindow(&target); }
    // Waits until the worker has ended after its window was taken away.
    void expectWorkerEnded() {
        ASSERT_TRUE(eventually([&] { return !thread.isRunning(); }));
    }

    // Inspections wait for the data command in progress, as the screen would.
    std::string state(const std::string& loginId) {
        auto guard = target.lockData();
        return data.state(loginId);
    }
    std::string stateDate(const std::string& loginId) {
        auto guard = target.lockData();
        return data.stateDate(loginId);
    }
    std::vector<TestDataFile::MailError> mailErrors() {
        auto guard = target.lockData();
        return data.mailErrors();
    }

    // Member order: the thread goes first, then its window and end event,
    // then the file.
    TestDataFile data;
    SendTarget target;
    NVKTL::CEvent end;
    RecordingSendThread thread;
};

// --- Delivery states of a visit ----------------------------------------------

TEST_F(SendThreadTest, VisitWithTwoAddressesBothDeliveredIsSent) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", "20261205101530123");

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    EXPECT_THAT(thread.recipients(), UnorderedElementsAre("a@example.jp", "b@example.jp"));
    EXPECT_EQ(state(visit), "2");
    EXPECT_TRUE(isTimestamp(stateDate(visit)));
    EXPECT_TRUE(mailErrors().empty());
}

TEST_F(SendThreadTest, FirstAddressFailsSecondDeliveredEndsNotSentWithOneErrorRow) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", "20261205101530123");
    thread.setScript([](const std::string&, int attempt) { return attempt == 0 ? -15 : 0; });

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    const auto recipients = thread.recipients();
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_EQ(state(visit), "3"); // one address was not reached
    const auto errors = mailErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].loginId, visit);
    EXPECT_EQ(errors[0].userId, "00000000000000A1");
    EXPECT_EQ(errors[0].mail, recipients[0]);
    EXPECT_FALSE(errors[0].errorMessage.empty());
    EXPECT_EQ(errors[0].errorMessage, errorText(-15));
    EXPECT_TRUE(isTimestamp(errors[0].errorDate));
    EXPECT_LE(errors[0].errorDate, stateDate(visit));
}

TEST_F(SendThreadTest, FirstAddressDeliveredSecondFailsEndsNotSent) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", "20261205101530123");
    thread.setScript([](const std::string&, int attempt) { return attempt == 1 ? -9 : 0; });

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    const auto recipients = thread.recipients();
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_EQ(state(visit), "3");
    const auto errors = mailErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].mail, recipients[1]);
    EXPECT_EQ(errors[0].errorMessage, errorText(-9));
}

// --- Deliveries: passing and lasting failures, resend, stored states ----------

// The visit date of a visit made just now (retries stop a day after it).
std::string justNow() {
    NVKTL::CTime now;
    now.SetNow();
    CString text;
    now.Format(text, "%Y%m%d%H%M%S%s");
    return text.str();
}

TEST_F(SendThreadTest, PassingFailuresWaitAndLastingOnesAreListedAtOnce) {
    const struct {
        const char* what;
        int code, reply;
        const char* visitDate; // empty: just now
        const char* state;
        std::size_t errorRows;
    } cases[] = {
        {"421 at RCPT", -15, 421, "", "1", 0},
        {"451 after the message", -17, 451, "", "1", 0},
        {"no connection", -1, 0, "", "1", 0},
        {"no reply in time", -3, 0, "", "1", 0},
        {"550 at RCPT", -15, 550, "", "3", 1},
        {"address refused before the wire", -15, 0, "", "3", 1},
        {"refused certificate", -19, 0, "", "3", 1},
        {"domain that takes no mail", CMailRoute::kNoMailDomain, 0, "", "3", 1},
        {"passing, but tried for a day", -15, 421, "20200101090000000", "3", 1},
    };
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    // Only a delivery given up reaches the operator's journal.
    const std::string journal = ::testing::TempDir() + "send-thread-journal";
    ::setenv(NVKTL::CJournal::kFileVariable, journal.c_str(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(journal.c_str());
        data.exec("DELETE FROM t_send");
        data.exec("DELETE FROM t_mail_error");
        const std::string visit =
            data.addVisit("00000000000000A1", *c.visitDate ? c.visitDate : justNow());
        thread.setReplyScript([&c](const std::string&, int, int& reply) {
            reply = c.reply;
            return c.code;
        });
        target.clearCalls();
        bind();
        ASSERT_TRUE(target.waitFor(counted("progressEnd", 1))) << c.what;
        thread.resetWindow();
        thread.stop(); // the next case starts from a worker at rest
        const auto deliveries = data.deliveries(visit);
        ASSERT_EQ(deliveries.size(), 1u) << c.what;
        EXPECT_EQ(deliveries[0].state, c.state) << c.what;
        EXPECT_EQ(deliveries[0].tries, 1) << c.what;
        EXPECT_EQ(state(visit), c.state) << c.what;
        EXPECT_EQ(mailErrors().size(), c.errorRows) << c.what;
        if (c.state == std::string("1")) { // the next try is later, not now
            EXPECT_GT(deliveries[0].nextTry, justNow()) << c.what;
        }
        std::ifstream lines(journal);
        const std::string written{std::istreambuf_iterator<char>(lines), {}};
        EXPECT_EQ(written, c.errorRows == 0 ? std::string()
                                            : "warning mail given up: visit " + visit +
                                                  ", result " + std::to_string(c.code) + "\n");
    }
    ::unsetenv(NVKTL::CJournal::kFileVariable);
}

TEST_F(SendThreadTest, ABusyServerIsTriedAgainUntilTheMailGoesOut) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", justNow());
    thread.setRetryTiming(1, CSendThread::kGiveUpMs);
    thread.setReplyScript([](const std::string&, int attempt, int& reply) {
        reply = attempt < 2 ? 421 : 250;
        return attempt < 2 ? -14 : 0;
    });
    bind();
    ASSERT_TRUE(target.waitFor(counted("sendDelivery", 1)));
    EXPECT_EQ(thread.deliveries().size(), 3u);
    EXPECT_EQ(state(visit), "2");
    EXPECT_TRUE(mailErrors().empty());

    // While it waited the status bar said so, and the text went with it.
    const auto shown = [](const std::string& text) {
        return [text](const std::vector<Call>& calls) {
            for (const Call& call : calls)
                if (call.name == "statusText" && call.args == std::vector<std::string>{text})
                    return true;
            return false;
        };
    };
    EXPECT_TRUE(target.waitFor(shown("再送を待っているメールが1件あります")));
    EXPECT_TRUE(target.waitFor(shown("")));
}

TEST_F(SendThreadTest, OneRefusedAddressIsListedAndItsResendMailsOnlyIt) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", justNow());
    std::atomic<bool> refuse{true};
    thread.setReplyScript([&](const std::string& to, int, int& reply) {
        reply = to == "b@example.jp" && refuse ? 550 : 250;
        return reply == 550 ? -15 : 0;
    });
    bind();
    ASSERT_TRUE(target.waitFor(counted("failDelivery", 1)));
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));
    EXPECT_EQ(state(visit), "3");
    auto errors = mailErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].mail, "b@example.jp");

    // A resend that fails again renews its row; one that succeeds removes it.
    for (const bool refused : {true, false}) {
        refuse = refused;
        const std::string errorNo = [&] {
            auto guard = target.lockData();
            CDbAccess db;
            NVKTL::vector<CMapStringToString*> rows;
            db.getMailErrorList(&rows);
            CString no;
            if (!rows.empty())
                rows.at(0)->Lookup("error_no", no);
            db.releaseVector(&rows);
            EXPECT_EQ(db.resendMailError(no, CString(justNow().c_str())), 0);
            return no.str();
        }();
        EXPECT_FALSE(errorNo.empty());
        const int before = static_cast<int>(thread.deliveries().size());
        ASSERT_TRUE(target.waitFor(counted(refused ? "failDelivery" : "sendDelivery", 2)));
        EXPECT_EQ(static_cast<int>(thread.deliveries().size()), before + 1);
        EXPECT_EQ(thread.recipients().back(), "b@example.jp");
        EXPECT_EQ(mailErrors().size(), refused ? 1u : 0u);
        EXPECT_EQ(state(visit), refused ? "3" : "2");
    }
    EXPECT_THAT(thread.recipients(),
                ElementsAre("a@example.jp", "b@example.jp", "b@example.jp", "b@example.jp"));
}

TEST_F(SendThreadTest, EveryAddressIsMailedOnceWhenTheLoopStopsOrAStateWriteFails) {
    const struct {
        const char* what;
        bool closeWindow; // else the state write fails twice
    } cases[] = {{"screen closed between the addresses of one visit", true},
                 {"state write refused", false}};
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    for (const auto& c : cases) {
        RecordingSendThread worker;
        worker.setInterval(2);
        const std::string visit = data.addVisit("00000000000000A1", justNow());
        std::atomic<int> refused{0};
        target.setHook([&](const Call& call) -> std::optional<int> {
            if (call.name != "sendDelivery")
                return std::nullopt;
            if (c.closeWindow && refused++ == 0) {
                worker.resetWindow(); // the screen closes while this command runs
                return std::nullopt;
            }
            if (!c.closeWindow && refused++ < 2)
                return -1; // the data file would not take the write
            return std::nullopt;
        });
        target.clearCalls();
        worker.setWindow(&target);
        if (c.closeWindow) {
            ASSERT_TRUE(eventually([&] { return !worker.isRunning(); })) << c.what;
            EXPECT_EQ(worker.recipients().size(), 1u) << c.what;
            worker.setWindow(&target);
        }
        ASSERT_TRUE(eventually([&] {
            auto guard = target.lockData();
            return data.state(visit) == "2";
        })) << c.what;
        worker.resetWindow();
        EXPECT_THAT(worker.recipients(), ElementsAre("a@example.jp", "b@example.jp")) << c.what;
        EXPECT_EQ(worker.pendingCount(), 0u) << c.what;
    }
}

// --- What one period says to its window ---------------------------------------

TEST_F(SendThreadTest, PeriodWithoutDueVisitsOnlyAsksForSettingsAndVisits) {
    bind();
    ASSERT_TRUE(target.waitFor(counted("getSendLogin", 3)));
    thread.resetWindow();

    const auto names = target.names();
    static const char* const period[] = {"getDefault", "getSendLogin", "getWaitingCount"};
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], period[i % 3]) << "call " << i;
}

TEST_F(SendThreadTest, BatchReportsProgressPerRowAndMailsOldestVisitFirst) {
    data.addUser("00000000000000A1", "山田 太郎", {"newer@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"older@example.jp"});
    const std::string newer = data.addVisit("00000000000000A1", "20261205101530123");
    const std::string older = data.addVisit("00000000000000B2", "20261205090000000");
    const std::string newerId = data.sendId(newer, "newer@example.jp");
    const std::string olderId = data.sendId(older, "older@example.jp");

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    const auto calls = target.calls();
    std::vector<std::string> lines;
    for (const Call& call : calls) {
        std::string line = call.name;
        for (const std::string& arg : call.args)
            line += " " + (isTimestamp(arg) ? std::string("<date>") : arg);
        lines.push_back(line);
        if (call.name == "progressEnd")
            break;
    }
    EXPECT_THAT(lines,
                ElementsAre("getDefault", "getSendLogin", "statusText メール送信中",
                            "progressStart 1 2", "claimDelivery " + olderId + " <date> <date>",
                            "getDefault", "sendDelivery " + olderId + " <date>",
                            "statusText メール送信中", "progressStart 2 2",
                            "claimDelivery " + newerId + " <date> <date>", "getDefault",
                            "sendDelivery " + newerId + " <date>", "progressEnd"));
    EXPECT_THAT(thread.recipients(), ElementsAre("older@example.jp", "newer@example.jp"));
    EXPECT_EQ(state(older), "2");
    EXPECT_EQ(state(newer), "2");
}

// --- A window that goes away -------------------------------------------------

TEST_F(SendThreadTest, WindowGoneBetweenRowsLeavesTheRestDueUntilTheNextWindow) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"b@example.jp"});
    const std::string first = data.addVisit("00000000000000A1", "20261205090000000");
    const std::string second = data.addVisit("00000000000000B2", "20261205100000000");
    std::atomic<bool> closed{false};
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "sendDelivery" && !closed.exchange(true))
            thread.resetWindow(); // the screen closes while this command runs
        return std::nullopt;
    });

    bind();
    expectWorkerEnded();
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp"));
    EXPECT_EQ(state(first), "2");
    EXPECT_EQ(state(second), "1");
    EXPECT_EQ(thread.pendingCount(), 0u);

    bind();
    ASSERT_TRUE(target.waitFor(counted("sendDelivery", 2)));
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp", "b@example.jp"));
    EXPECT_EQ(state(second), "2");
}

TEST_F(SendThreadTest, SentStateThatFindsNoWindowIsDeliveredFirstAndNeverMailedTwice) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"b@example.jp"});
    const std::string first = data.addVisit("00000000000000A1", "20261205090000000");
    std::atomic<bool> closed{false};
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "sendDelivery" && !closed.exchange(true)) {
            thread.resetWindow();
            return -2; // the screen was already gone
        }
        return std::nullopt;
    });

    bind();
    expectWorkerEnded();
    EXPECT_EQ(thread.pendingCount(), 1u);
    EXPECT_EQ(state(first), "1");
    const std::string second = data.addVisit("00000000000000B2", "20261205100000000");

    target.clearCalls();
    bind();
    ASSERT_TRUE(target.waitFor(counted("sendDelivery", 2)));
    const auto calls = target.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "sendDelivery");
    EXPECT_EQ(calls[0].args.at(0), data.sendId(first, "a@example.jp"));
    EXPECT_TRUE(isTimestamp(calls[0].args.at(1)));
    EXPECT_EQ(calls[1].name, "getDefault");
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp", "b@example.jp"));
    EXPECT_EQ(state(first), "2");
    EXPECT_EQ(stateDate(first), calls[0].args.at(1));
    EXPECT_EQ(state(second), "2");
    EXPECT_EQ(thread.pendingCount(), 0u);
}

TEST_F(SendThreadTest, PendingFailureKeepsItsOrderAndAnArgumentWithALineBreak) {
    // An address with a line break cannot be delivered; its error row must
    // still name it exactly, with every later argument in its own place.
    const std::string address = "bad\nline@example.jp";
    data.addUser("00000000000000A1", "山田 太郎", {address});
    const std::string visit = data.addVisit("00000000000000A1", "20261205090000000");
    thread.setScript([](const std::string&, int) { return -15; });
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "failDelivery") {
            thread.resetWindow();
            return -2;
        }
        return std::nullopt;
    });

    bind();
    expectWorkerEnded();
    EXPECT_EQ(thread.pendingCount(), 1u);
    EXPECT_EQ(state(visit), "1");
    EXPECT_TRUE(mailErrors().empty());

    target.setHook(nullptr);
    target.clearCalls();
    bind();
    ASSERT_TRUE(target.waitFor(counted("getSendLogin", 1)));
    const auto calls = target.calls();
    ASSERT_GE(calls.size(), 2u);
    ASSERT_EQ(calls[0].name, "failDelivery");
    const std::string date = calls[0].args.at(1);
    EXPECT_THAT(calls[0].args, ElementsAre(data.sendId(visit, address), date, errorText(-15)));
    EXPECT_TRUE(isTimestamp(date));
    EXPECT_EQ(calls[1].name, "getDefault");

    const auto errors = mailErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].mail, address);
    EXPECT_EQ(errors[0].errorDate, date);
    EXPECT_EQ(errors[0].errorMessage, errorText(-15));
    EXPECT_EQ(state(visit), "3");
    EXPECT_EQ(stateDate(visit), date);
    EXPECT_EQ(thread.deliveries().size(), 1u);
}

TEST_F(SendThreadTest, WindowGoneWhileComposingSendsNothingAndKeepsTheVisitDue) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", "20261205090000000");
    std::atomic<int> settingsAsked{0};
    target.setHook([&](const Call& call) -> std::optional<int> {
        // The second "getDefault" of the period is the composition's own.
        if (call.name == "getDefault" && ++settingsAsked == 2) {
            thread.resetWindow();
            return -2;
        }
        return std::nullopt;
    });

    bind();
    expectWorkerEnded();
    EXPECT_TRUE(thread.deliveries().empty());
    EXPECT_EQ(state(visit), "1");
    EXPECT_EQ(thread.pendingCount(), 1u); // the claim is given back first
    EXPECT_TRUE(mailErrors().empty());

    bind();
    ASSERT_TRUE(target.waitFor(counted("sendDelivery", 1)));
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp"));
    CString sender;
    EXPECT_TRUE(thread.deliveries()[0].settings.Lookup("mail_address", sender));
    EXPECT_EQ(sender, "desk@example.jp");
    EXPECT_EQ(state(visit), "2");
}

// --- Ending -------------------------------------------------------------------

TEST_F(SendThreadTest, EndEventIsSetOnlyAfterThePendingStateChangesAreDelivered) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    const std::string failed = data.addVisit("00000000000000A1", "20261205090000000");
    thread.setScript([](const std::string&, int) { return -12; });
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "failDelivery") {
            thread.resetWindow();
            return -2;
        }
        return std::nullopt;
    });
    bind();
    expectWorkerEnded();
    ASSERT_EQ(thread.pendingCount(), 1u);
    // A visit recorded after the end was requested is left for the next run.
    const std::string later = data.addVisit("00000000000000A1", "20261205100000000");

    // The closing screen binds itself and asks for the end while it cannot
    // serve yet: the fast periods keep the commands and do not end.
    std::atomic<int> setWhileDelivering{0};
    target.setHook([&](const Call&) -> std::optional<int> {
        if (end.wait(0) == NVKTL::CEvent::WaitSignalled)
            ++setWhileDelivering;
        return std::nullopt;
    });
    target.setClosed(true);
    target.clearCalls();
    bind();
    thread.requestEnd(&end);
    ASSERT_TRUE(target.waitFor(counted("refused:failDelivery", 5)));
    EXPECT_EQ(end.wait(0), NVKTL::CEvent::WaitTimeout);
    EXPECT_EQ(thread.pendingCount(), 1u);

    target.setClosed(false);
    ASSERT_EQ(end.wait(20000), NVKTL::CEvent::WaitSignalled);
    EXPECT_EQ(setWhileDelivering.load(), 0);
    EXPECT_EQ(thread.pendingCount(), 0u);
    std::vector<std::string> served;
    for (const std::string& name : target.names())
        if (name.rfind("refused:", 0) != 0)
            served.push_back(name);
    EXPECT_THAT(served, ElementsAre("failDelivery"));
    EXPECT_EQ(state(failed), "3");
    EXPECT_EQ(mailErrors().size(), 1u);
    EXPECT_EQ(state(later), "1");
    EXPECT_EQ(thread.deliveries().size(), 1u);
}

TEST_F(SendThreadTest, EndRequestStopsTheBatchBeforeItsNextRow) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"b@example.jp"});
    const std::string first = data.addVisit("00000000000000A1", "20261205090000000");
    const std::string second = data.addVisit("00000000000000B2", "20261205100000000");
    std::atomic<bool> requested{false};
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "sendDelivery" && !requested.exchange(true))
            thread.requestEnd(&end); // the program closes while this row is reported
        return std::nullopt;
    });

    bind();
    ASSERT_EQ(end.wait(20000), NVKTL::CEvent::WaitSignalled);
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp"));
    EXPECT_EQ(state(first), "2");
    EXPECT_EQ(state(second), "1");
    EXPECT_EQ(target.count("progressEnd"), 1);
}

TEST_F(SendThreadTest, EndEventIsLetGoOnceSetSoItsOwnerMayDestroyIt) {
    auto event = std::make_unique<NVKTL::CEvent>();
    thread.requestEnd(event.get());
    bind();
    ASSERT_EQ(event->wait(20000), NVKTL::CEvent::WaitSignalled);
    // Once a later period has begun, the one that set the event is over.
    ASSERT_TRUE(thread.waitForPeriods(thread.periods() + 1));
    event.reset(); // the closing screen is gone; the thread still ticks
    EXPECT_TRUE(thread.waitForPeriods(thread.periods() + 20));
    EXPECT_EQ(target.count("getSendLogin"), 0);
}

TEST_F(SendThreadTest, CommandsReachOnlyABoundWindow) {
    CMapStringToString settings;
    EXPECT_EQ(thread.getWindow(), nullptr);
    EXPECT_EQ(thread.sendCommand("getDefault", &settings), -2);
    EXPECT_TRUE(settings.IsEmpty());
    EXPECT_FALSE(thread.flushPending());
    EXPECT_EQ(target.calls().size(), 0u);

    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    bind();
    EXPECT_EQ(thread.getWindow(), &target);
    CString user("00000000000000A1"), addresses("x\r\n");
    EXPECT_EQ(thread.sendCommand("getAddress", &user, &addresses), 0);
    EXPECT_EQ(addresses, "x\r\na@example.jp\r\n");
    thread.resetWindow();
    EXPECT_EQ(thread.getWindow(), nullptr);
}

} // namespace
