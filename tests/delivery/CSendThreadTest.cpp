#include "RecordingSendThread.h"
#include "SendTarget.h"
#include "TestDataFile.h"

#include "nvktl/CEvent.h"
#include "nvktl/CSmtpClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST_F(SendThreadTest, FirstAddressFailsSecondDeliveredEndsSentWithOneErrorRow) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp", "b@example.jp"});
    const std::string visit = data.addVisit("00000000000000A1", "20261205101530123");
    thread.setScript([](const std::string&, int attempt) { return attempt == 0 ? -15 : 0; });

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    const auto recipients = thread.recipients();
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_EQ(state(visit), "2");
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

TEST_F(SendThreadTest, EmptyAddressMarksVisitNotSentWithoutMailOrErrorRow) {
    data.addUser("00000000000000A1", "山田 太郎", {""});
    const std::string visit = data.addVisit("00000000000000A1", "20261205101530123");

    bind();
    ASSERT_TRUE(target.waitFor(counted("progressEnd", 1)));

    EXPECT_TRUE(thread.deliveries().empty());
    EXPECT_EQ(state(visit), "3");
    EXPECT_TRUE(isTimestamp(stateDate(visit)));
    EXPECT_TRUE(mailErrors().empty());
}

// --- What one period says to its window ---------------------------------------

TEST_F(SendThreadTest, PeriodWithoutDueVisitsOnlyAsksForSettingsAndVisits) {
    bind();
    ASSERT_TRUE(target.waitFor(counted("getSendLogin", 3)));
    thread.resetWindow();

    const auto names = target.names();
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], i % 2 == 0 ? "getDefault" : "getSendLogin") << "call " << i;
}

TEST_F(SendThreadTest, BatchReportsProgressPerRowAndMailsOldestVisitFirst) {
    data.addUser("00000000000000A1", "山田 太郎", {"newer@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"older@example.jp"});
    const std::string newer = data.addVisit("00000000000000A1", "20261205101530123");
    const std::string older = data.addVisit("00000000000000B2", "20261205090000000");

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
                            "progressStart 1 2", "getDefault", "sendLogin " + older + " <date>",
                            "statusText メール送信中", "progressStart 2 2", "getDefault",
                            "sendLogin " + newer + " <date>", "progressEnd"));
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
        if (call.name == "sendLogin" && !closed.exchange(true))
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
    ASSERT_TRUE(target.waitFor(counted("sendLogin", 2)));
    EXPECT_THAT(thread.recipients(), ElementsAre("a@example.jp", "b@example.jp"));
    EXPECT_EQ(state(second), "2");
}

TEST_F(SendThreadTest, SentStateThatFindsNoWindowIsDeliveredFirstAndNeverMailedTwice) {
    data.addUser("00000000000000A1", "山田 太郎", {"a@example.jp"});
    data.addUser("00000000000000B2", "佐藤 花子", {"b@example.jp"});
    const std::string first = data.addVisit("00000000000000A1", "20261205090000000");
    std::atomic<bool> closed{false};
    target.setHook([&](const Call& call) -> std::optional<int> {
        if (call.name == "sendLogin" && !closed.exchange(true)) {
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
    ASSERT_TRUE(target.waitFor(counted("sendLogin", 2)));
    const auto calls = target.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "sendLogin");
    EXPECT_EQ(calls[0].args.at(0), first);
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
        if (call.name == "setMailError") {
            thread.resetWindow();
            return -2;
        }
        return std::nullopt;
    });

    bind();
    expectWorkerEnded();
    EXPECT_EQ(thread.pendingCount(), 2u);
    EXPECT_EQ(state(visit), "1");
    EXPECT_TRUE(mailErrors().empty());

    target.setHook(nullptr);
    target.clearCalls();
    bind();
    ASSERT_TRUE(target.waitFor(counted("getSendLogin", 1)));
    const auto calls = target.calls();
    ASSERT_GE(calls.size(), 2u);
    ASSERT_EQ(calls[0].name, "setMailError");
    const std::string date = calls[0].args.at(3);
    EXPECT_THAT(calls[0].args,
                ElementsAre(visit, "00000000000000A1", address, date, errorText(-15)));
    EXPECT_TRUE(isTimestamp(date));
    EXPECT_EQ(calls[1].name, "skipLogin");
    EXPECT_THAT(calls[1].args, ElementsAre(visit, date));

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
    EXPECT_EQ(thread.pendingCount(), 0u);
    EXPECT_TRUE(mailErrors().empty());

    bind();
    ASSERT_TRUE(target.waitFor(counted("sendLogin", 1)));
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
        if (call.name == "setMailError") {
            thread.resetWindow();
            return -2;
        }
        return std::nullopt;
    });
    bind();
    expectWorkerEnded();
    ASSERT_EQ(thread.pendingCount(), 2u);
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
    ASSERT_TRUE(target.waitFor(counted("refused:setMailError", 5)));
    EXPECT_EQ(end.wait(0), NVKTL::CEvent::WaitTimeout);
    EXPECT_EQ(thread.pendingCount(), 2u);

    target.setClosed(false);
    ASSERT_EQ(end.wait(20000), NVKTL::CEvent::WaitSignalled);
    EXPECT_EQ(setWhileDelivering.load(), 0);
    EXPECT_EQ(thread.pendingCount(), 0u);
    std::vector<std::string> served;
    for (const std::string& name : target.names())
        if (name.rfind("refused:", 0) != 0)
            served.push_back(name);
    EXPECT_THAT(served, ElementsAre("setMailError", "skipLogin"));
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
        if (call.name == "sendLogin" && !requested.exchange(true))
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
