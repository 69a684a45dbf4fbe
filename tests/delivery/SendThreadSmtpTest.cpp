#include "RouteSmtpPeer.h"
#include "SendTarget.h"
#include "TestDataFile.h"

#include "delivery/CSendThread.h"
#include "nvktl/CSmtpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Call = SendTarget::Call;

auto counted(const std::string& name) {
    return [name](const std::vector<Call>& calls) {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const Call& call) { return call.name == name; });
    };
}

bool hasCommand(const RouteSmtpSession& session, const std::string& command) {
    return std::find(session.commands.begin(), session.commands.end(), command) !=
           session.commands.end();
}

// The whole road of a visit: the data file, the send thread with its real
// composition and mail route, and an SMTP server on loopback.
class SendThreadSmtpTest : public ::testing::Test {
protected:
    void start(RouteSmtpScript script, std::vector<std::string> addresses = {"yamada@example.jp"}) {
        peer = std::make_unique<RouteSmtpPeer>(std::move(script));
        ASSERT_TRUE(peer->listen("127.0.0.1", 0));
        data.setSetting("mail_user", "受付");
        data.setSetting("mail_address", "desk@example.jp");
        data.setSetting("mail_subject", "来訪のお知らせ");
        data.setSetting("mail_server_ip", "127.0.0.1");
        data.setSetting("mail_server_port", std::to_string(peer->port()));
        // A group name with a line break puts ".NET班" at the start of a line.
        data.renameGroup("2", "x\n.NET班");
        data.addUser("00000000000000A1", "山田 太郎", addresses);
        visit = data.addVisit("00000000000000A1", "20261205101530123");
        thread.setInterval(2);
        thread.setWindow(&target);
    }

    TestDataFile data;
    SendTarget target;
    std::unique_ptr<RouteSmtpPeer> peer;
    CSendThread thread;
    std::string visit;
};

TEST_F(SendThreadSmtpTest, DeliveredNotificationReachesTheServerAndMarksTheVisitSent) {
    start({});
    ASSERT_TRUE(target.waitFor(counted("progressEnd")));
    auto guard = target.lockData();

    EXPECT_EQ(data.state(visit), "2");
    EXPECT_TRUE(data.mailErrors().empty());
    const auto sessions = peer->sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(hasCommand(sessions[0], "MAIL FROM:<desk@example.jp>"));
    EXPECT_TRUE(hasCommand(sessions[0], "RCPT TO:<yamada@example.jp>"));
    const std::string& message = sessions[0].message;
    EXPECT_EQ(message.rfind("From: =?ISO-2022-JP?B?GyRCPHVJVRsoQg==?= <desk@example.jp>\r\n"
                            "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= "
                            "<yamada@example.jp>\r\nDate: ",
                            0),
              0u);
    EXPECT_NE(message.find("\r\nSubject: =?ISO-2022-JP?B?GyRCTWhLLCROJCpDTiRpJDsbKEI=?=\r\n"),
              std::string::npos);
    EXPECT_NE(message.find("\r\n\r\n\x1b$B!V$]$9$H$s!W$K%\"%/%;%9$7$^$7$?!#\x1b(B\r\n"),
              std::string::npos);
    EXPECT_NE(message.find("\r\n2026\x1b$BG/\x1b(B12\x1b$B7n\x1b(B05\x1b$BF|\x1b(B 10"),
              std::string::npos);
    // The line ".NET班 ]の" goes out with its dot doubled, so the server keeps it.
    EXPECT_NE(message.find("\r\n[ x\r\n..NET\x1b$BHI\x1b(B ]\x1b$B$N\x1b(B\r\n"),
              std::string::npos);
}

TEST_F(SendThreadSmtpTest, TheAddressesOfABatchShareOneSessionAndEachIsMarkedSent) {
    start({}, {"yamada@example.jp", "hanako@example.jp"});
    ASSERT_TRUE(target.waitFor(counted("progressEnd")));
    auto guard = target.lockData();

    EXPECT_EQ(data.state(visit), "2");
    const auto sessions = peer->sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].messages.size(), 2u);
    EXPECT_TRUE(hasCommand(sessions[0], "RSET"));
    EXPECT_EQ(sessions[0].commands.back(), "QUIT");
    for (const auto& delivery : data.deliveries(visit))
        EXPECT_EQ(delivery.state, "2") << delivery.mail;
}

TEST_F(SendThreadSmtpTest, RefusedMessageIsStoredWithItsErrorTextAndMarksTheVisitNotSent) {
    RouteSmtpScript script;
    script.messageReply = "554 5.7.1 Message refused\r\n";
    start(script);
    ASSERT_TRUE(target.waitFor(counted("progressEnd")));
    auto guard = target.lockData();

    EXPECT_EQ(data.state(visit), "3");
    const auto errors = data.mailErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].mail, "yamada@example.jp");
    EXPECT_FALSE(errors[0].errorMessage.empty());
    // The stored text is one of the session's own texts for its failures.
    bool known = false;
    for (int code = -1; code >= -18; --code)
        known = known || NVKTL::CSmtpClient::GetErrorMessage(code).str() == errors[0].errorMessage;
    EXPECT_TRUE(known) << errors[0].errorMessage;
}

} // namespace
