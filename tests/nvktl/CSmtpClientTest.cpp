#include "nvktl/CSmtpClient.h"
#include "tests/support/ScriptedSmtpPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using NVKTL::CSmtpClient;
using NVKTL::CString;
using smtptest::ScriptedSmtpPeer;
using Commands = std::vector<std::string>;

namespace {

const std::string Greeting = "220 mail.example.net ESMTP\r\n";
const std::string Ehlo = "250-mail.example.net\r\n250-8BITMIME\r\n250 SIZE 1000000\r\n";
const std::string Ok = "250 OK\r\n";
const std::string GoAhead = "354 go ahead\r\n";
const std::string Queued = "250 2.0.0 queued\r\n";
const std::string Bye = "221 bye\r\n";
const std::string Message = "From: a\r\nTo: b\r\n\r\nline 1\r\n..dot\r\n";

// The RFC 2195 example: challenge, user "tim", password "tanstaaftanstaaf".
const std::string CramChallenge =
    "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n";
const std::string CramResponse = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n";

struct Session {
    int result;
    Commands commands;
    int lastReplyCode = 0;
};

using ClientSetup = std::function<void(CSmtpClient&)>;

void DefaultEnvelope(CSmtpClient& client) {
    client.SetFrom("a@example.com");
    client.AddTo("b@example.org");
}

Session Play(std::vector<std::string> script, const ClientSetup& setup = DefaultEnvelope,
             const std::string& message = Message, unsigned timeout = 5000) {
    ScriptedSmtpPeer peer(std::move(script));
    CSmtpClient client("example.com");
    client.SetTimeout(timeout);
    setup(client);
    const int result = client.SendMail("127.0.0.1", peer.port(), CString(message));
    client.Close();
    return {result, peer.commands(), client.GetLastReplyCode()};
}

ClientSetup WithAuth(const std::string& account, const std::string& password) {
    return [=](CSmtpClient& client) {
        DefaultEnvelope(client);
        client.SetAuth(CString(account), CString(password));
    };
}

// The commands of a whole session after the EHLO and authentication steps.
Commands EnvelopeAndData() {
    return {"MAIL FROM:<a@example.com>\r\n", "RCPT TO:<b@example.org>\r\n", "DATA\r\n",
            Message + "\r\n.\r\n", "QUIT\r\n"};
}

Commands Concat(Commands head, const Commands& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace

TEST(CSmtpClientTest, DeliversTheMessageUnchangedAndSaysGoodbye) {
    const Session session = Play({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye});
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands, Concat({"EHLO example.com\r\n"}, EnvelopeAndData()));
}

TEST(CSmtpClientTest, NamesEveryRecipientInOrder) {
    const Session session =
        Play({Greeting, Ehlo, Ok, Ok, Ok, GoAhead, Queued, Bye}, [](CSmtpClient& client) {
            client.SetFrom("Sender <a@example.com> (office)");
            client.AddTo("b@example.org");
            client.AddTo("Carol <c@example.org>");
        });
    EXPECT_EQ(session.result, 0);
    ASSERT_GE(session.commands.size(), 4u);
    EXPECT_EQ(session.commands[1], "MAIL FROM:<a@example.com>\r\n");
    EXPECT_EQ(session.commands[2], "RCPT TO:<b@example.org>\r\n");
    EXPECT_EQ(session.commands[3], "RCPT TO:<c@example.org>\r\n");
}

TEST(CSmtpClientTest, NormalisesAddressesToTheirBracketedPart) {
    CSmtpClient client("example.com");
    client.SetFrom("Taro Yamada <taro@example.com> (front desk)");
    EXPECT_EQ(client.GetSender(), "<taro@example.com>");
    client.SetFrom("taro@example.com");
    EXPECT_EQ(client.GetSender(), "<taro@example.com>");
    client.SetFrom("Open <open@example.com");
    EXPECT_EQ(client.GetSender(), "<open@example.com");
    client.SetFrom("");
    EXPECT_EQ(client.GetSender(), "<>");
    client.AddTo("x <y@example.org>>");
    EXPECT_EQ(client.GetRecipients().GetAt(0), "<y@example.org>");
}

TEST(CSmtpClientTest, ReadsRepliesThatArriveInPiecesAndBareCodeLines) {
    const Session session =
        Play({"22<pause 30>0 ready\r\n", "250-mail<pause 30>\r\n250-X\r<pause 30>\n250 Y\r\n",
              "250\r\n", Ok, GoAhead, Queued, Bye});
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands.size(), 6u);
}

TEST(CSmtpClientTest, ConnectFailuresGiveMinusOne) {
    // A port nobody listens on: a socket that is bound but never listens.
    {
        const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &size), 0);
        CSmtpClient client("example.com");
        client.SetTimeout(2000);
        DefaultEnvelope(client);
        EXPECT_EQ(client.SendMail("127.0.0.1", ntohs(address.sin_port), CString(Message)), -1);
        ::close(blocker);
    }
    // A server whose queue of connections is full never completes the
    // handshake: the connect runs out of time.
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener, 0), 0);
        ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
        std::vector<int> fillers;
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            (void)::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        CSmtpClient client("example.com");
        client.SetTimeout(200);
        DefaultEnvelope(client);
        EXPECT_EQ(client.SendMail("127.0.0.1", ntohs(address.sin_port), CString(Message)), -1);
        for (int fd : fillers)
            ::close(fd);
        ::close(listener);
    }
    // Neither a dotted address nor a name that resolves.
    CSmtpClient client("example.com");
    EXPECT_EQ(client.SendMail("", 25, CString(Message)), -1);
    EXPECT_EQ(client.SendMail("127.0.0.1", 0, CString(Message)), -1);
}

TEST(CSmtpClientTest, AHostNameIsResolvedWhenItIsNoDottedAddress) {
    ScriptedSmtpPeer peer({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye});
    CSmtpClient client("example.com");
    client.SetTimeout(5000);
    DefaultEnvelope(client);
    EXPECT_EQ(client.SendMail("localhost", peer.port(), CString(Message)), 0);
    client.Close();
    EXPECT_EQ(peer.commands().size(), 6u);
}

TEST(CSmtpClientTest, RunsAgainAfterClose) {
    CSmtpClient client("example.com");
    client.SetTimeout(5000);
    DefaultEnvelope(client);
    for (int round = 0; round < 2; ++round) {
        ScriptedSmtpPeer peer({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye});
        EXPECT_EQ(client.SendMail("127.0.0.1", peer.port(), CString(Message)), 0) << round;
        client.Close();
        EXPECT_EQ(peer.commands().size(), 6u) << round;
    }
}

TEST(CSmtpClientTest, GreetingFailures) {
    EXPECT_EQ(Play({ScriptedSmtpPeer::Close}).result, -3);
    EXPECT_EQ(Play({"554 no service here\r\n"}).result, -4);
    const Session silent = Play({ScriptedSmtpPeer::Silent}, DefaultEnvelope, Message, 200);
    EXPECT_EQ(silent.result, -3);
    EXPECT_TRUE(silent.commands.empty());
}

TEST(CSmtpClientTest, EhloRefusedFallsBackToHeloWithoutAuthentication) {
    const Session session = Play({Greeting, "502 not implemented\r\n", "250 mail.example.net\r\n",
                                  Ok, Ok, GoAhead, Queued, Bye},
                                 WithAuth("tim", "tanstaaftanstaaf"));
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands,
              Concat({"EHLO example.com\r\n", "HELO example.com\r\n"}, EnvelopeAndData()));

    EXPECT_EQ(Play({Greeting, "502 no\r\n", "501 no either\r\n"}).result, -5);
    EXPECT_EQ(Play({Greeting, ScriptedSmtpPeer::Close}).result, -5);
}

TEST(CSmtpClientTest, AnAnnouncedNameWithALineBreakNeverReachesTheWire) {
    ScriptedSmtpPeer peer({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye});
    CSmtpClient client("example.com\r\nRSET");
    client.SetTimeout(5000);
    DefaultEnvelope(client);
    EXPECT_EQ(client.SendMail("127.0.0.1", peer.port(), CString(Message)), -5);
    client.Close();
    EXPECT_EQ(peer.wire(), "");
}

TEST(CSmtpClientTest, ChoosesTheMechanismByPreference) {
    struct Case {
        std::string ehlo;
        std::string password;
        std::string firstCommand;
        int result; // the server refuses whatever AUTH comes
    };
    const Case cases[] = {
        {"250-h\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 OK\r\n", "pw", "AUTH CRAM-MD5\r\n", -6},
        {"250-h\r\n250 AUTH LOGIN CRAM-MD5\r\n", "pw", "AUTH CRAM-MD5\r\n", -6},
        {"250-h\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n", "pw", "AUTH LOGIN\r\n", -8},
        {"250-h\r\n250-AUTH PLAIN\r\n250 OK\r\n", "pw", "AUTH PLAIN AHRpbQBwdw==\r\n", -13},
        // Nothing to try: the older "AUTH=" form, unknown mechanisms, no password.
        {"250-h\r\n250-AUTH=LOGIN PLAIN\r\n250 OK\r\n", "pw", "MAIL FROM:<a@example.com>\r\n", -14},
        {"250-h\r\n250-AUTH GSSAPI XOAUTH2\r\n250 OK\r\n", "pw", "MAIL FROM:<a@example.com>\r\n",
         -14},
        {"250-h\r\n250-AUTH CRAM-MD5 LOGIN PLAIN\r\n250 OK\r\n", "",
         "MAIL FROM:<a@example.com>\r\n", -14},
    };
    for (const Case& c : cases) {
        const Session session =
            Play({Greeting, c.ehlo, "504 refused\r\n"}, WithAuth("tim", c.password));
        EXPECT_EQ(session.result, c.result) << c.ehlo;
        ASSERT_GE(session.commands.size(), 2u) << c.ehlo;
        EXPECT_EQ(session.commands[1], c.firstCommand) << c.ehlo;
    }
}

TEST(CSmtpClientTest, CramMd5AnswersTheChallengeWithTheKeyedDigest) {
    const std::string offer = "250-h\r\n250 AUTH CRAM-MD5\r\n";
    const Session session =
        Play({Greeting, offer, CramChallenge, "235 accepted\r\n", Ok, Ok, GoAhead, Queued, Bye},
             WithAuth("tim", "tanstaaftanstaaf"));
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands, Concat({"EHLO example.com\r\n", "AUTH CRAM-MD5\r\n", CramResponse},
                                       EnvelopeAndData()));

    EXPECT_EQ(Play({Greeting, offer, CramChallenge, "535 wrong\r\n"}, WithAuth("tim", "x")).result,
              -7);
    EXPECT_EQ(Play({Greeting, offer, ScriptedSmtpPeer::Close}, WithAuth("tim", "x")).result, -6);
    EXPECT_EQ(Play({Greeting, offer, CramChallenge, ScriptedSmtpPeer::Close}, WithAuth("tim", "x"))
                  .result,
              -7);
}

TEST(CSmtpClientTest, LoginAnswersBothPromptsAndChecksThemExactly) {
    const std::string offer = "250-h\r\n250 AUTH LOGIN\r\n";
    const std::string user = "334 VXNlcm5hbWU6\r\n";
    const std::string pass = "334 UGFzc3dvcmQ6\r\n";
    const ClientSetup tim = WithAuth("tim", "tanstaaftanstaaf");
    const Session session =
        Play({Greeting, offer, user, pass, "235 ok\r\n", Ok, Ok, GoAhead, Queued, Bye}, tim);
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands, Concat({"EHLO example.com\r\n", "AUTH LOGIN\r\n", "dGlt\r\n",
                                        "dGFuc3RhYWZ0YW5zdGFhZg==\r\n"},
                                       EnvelopeAndData()));

    EXPECT_EQ(Play({Greeting, offer, "334 dXNlcm5hbWU6\r\n"}, tim).result, -9); // "username:"
    EXPECT_EQ(Play({Greeting, offer, "334 \r\n"}, tim).result, -9);
    EXPECT_EQ(Play({Greeting, offer, user, "535 no such user\r\n"}, tim).result, -10);
    EXPECT_EQ(Play({Greeting, offer, user, "334 VXNlcm5hbWU6\r\n"}, tim).result, -11);
    EXPECT_EQ(Play({Greeting, offer, user, pass, "535 wrong password\r\n"}, tim).result, -12);
    EXPECT_EQ(Play({Greeting, offer, user, pass, ScriptedSmtpPeer::Close}, tim).result, -12);
}

TEST(CSmtpClientTest, PlainSendsAccountAndPasswordInOneLine) {
    const std::string offer = "250-h\r\n250 AUTH PLAIN\r\n";
    const Session session = Play({Greeting, offer, "235 ok\r\n", Ok, Ok, GoAhead, Queued, Bye},
                                 WithAuth("tim", "tanstaaftanstaaf"));
    EXPECT_EQ(session.result, 0);
    EXPECT_EQ(session.commands,
              Concat({"EHLO example.com\r\n", "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm\r\n"},
                     EnvelopeAndData()));
    EXPECT_EQ(Play({Greeting, offer, "535 no\r\n"}, WithAuth("tim", "x")).result, -13);
}

TEST(CSmtpClientTest, SenderIsJudgedOnThreeCharacters) {
    EXPECT_EQ(Play({Greeting, Ehlo, "550 not you\r\n"}).result, -14);
    EXPECT_EQ(Play({Greeting, Ehlo, "250-sender\r\n250 ok\r\n", Ok, GoAhead, Queued, Bye}).result,
              0);
    EXPECT_EQ(Play({Greeting, Ehlo, ScriptedSmtpPeer::Close}).result, -3);
    EXPECT_EQ(
        Play({Greeting, Ehlo, ScriptedSmtpPeer::Silent}, DefaultEnvelope, Message, 200).result, -3);
}

TEST(CSmtpClientTest, RepliesAreJudgedByTheirCodeWhateverTheirShape) {
    const struct {
        const char* what;
        std::vector<std::string> script;
        int result;
    } cases[] = {
        {"multi-line greeting",
         {"220-mail.example.net ESMTP\r\n220-second\r\n220 last\r\n", Ehlo, Ok, Ok, GoAhead, Queued,
          Bye},
         0},
        {"bare codes everywhere",
         {"220\r\n", "250\r\n", "250\r\n", "250\r\n", "354\r\n", "250\r\n", "221\r\n"},
         0},
        {"multi-line replies",
         {Greeting, Ehlo, Ok, "250-one\r\n250 two\r\n", GoAhead, "250-a\r\n250 b\r\n", Bye},
         0},
        {"recipient forwarded", {Greeting, Ehlo, Ok, "251 forwarded\r\n", GoAhead, Queued, Bye}, 0},
        {"greeting with a 2 but no 220", {"250 hello\r\n"}, -4},
        {"recipient refused", {Greeting, Ehlo, Ok, "550 no such user\r\n"}, -15},
        // Once the message is taken, QUIT cannot turn it into a failure.
        {"QUIT refused", {Greeting, Ehlo, Ok, Ok, GoAhead, Queued, "500 what\r\n"}, 0},
        {"QUIT unanswered", {Greeting, Ehlo, Ok, Ok, GoAhead, Queued, ScriptedSmtpPeer::Close}, 0},
        {"QUIT never read", {Greeting, Ehlo, Ok, Ok, GoAhead, Queued, ScriptedSmtpPeer::Silent}, 0},
    };
    for (const auto& c : cases) {
        const Session session = Play(c.script, DefaultEnvelope, Message, 300);
        EXPECT_EQ(session.result, c.result) << c.what;
    }
}

TEST(CSmtpClientTest, RecipientsStopAtTheFirstRefusal) {

    const Session session =
        Play({Greeting, Ehlo, Ok, Ok, "550 no\r\n", Ok}, [](CSmtpClient& client) {
            client.SetFrom("a@example.com");
            client.AddTo("b@example.org");
            client.AddTo("c@example.org");
            client.AddTo("d@example.org");
        });
    EXPECT_EQ(session.result, -15);
    EXPECT_EQ(session.commands.back(), "RCPT TO:<c@example.org>\r\n");
}

TEST(CSmtpClientTest, TheLastReplyCodeTellsAPassingRefusalFromALastingOne) {
    const struct {
        std::vector<std::string> script;
        int result;
        int lastReplyCode;
    } cases[] = {
        {{"421 busy\r\n"}, -4, 421},
        {{Greeting, Ehlo, Ok, "450 mailbox busy\r\n"}, -15, 450},
        {{Greeting, Ehlo, Ok, "550 no such user\r\n"}, -15, 550},
        {{Greeting, Ehlo, Ok, Ok, GoAhead, "452 no room\r\n"}, -17, 452},
        {{Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye}, 0, 250},
    };
    for (const auto& c : cases) {
        const Session session = Play(c.script);
        EXPECT_EQ(session.result, c.result) << c.script.back();
        EXPECT_EQ(session.lastReplyCode, c.lastReplyCode) << c.script.back();
    }
}

TEST(CSmtpClientTest, AddressesWithControlCharactersNeverReachTheWire) {
    const Session badSender =
        Play({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye}, [](CSmtpClient& client) {
            client.SetFrom("<a@example.com\r\nRCPT TO:<x@evil.example>");
            client.AddTo("b@example.org");
        });
    EXPECT_EQ(badSender.result, -14);
    EXPECT_EQ(badSender.commands, Commands{"EHLO example.com\r\n"});

    const Session badRecipient =
        Play({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye}, [](CSmtpClient& client) {
            client.SetFrom("a@example.com");
            client.AddTo("b@example.org");
            client.AddTo("<c@example.org\nDATA>");
            client.AddTo("d@example.org\x7f");
        });
    EXPECT_EQ(badRecipient.result, -15);
    EXPECT_EQ(badRecipient.commands,
              (Commands{"EHLO example.com\r\n", "MAIL FROM:<a@example.com>\r\n",
                        "RCPT TO:<b@example.org>\r\n"}));

    const Session tab =
        Play({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye}, [](CSmtpClient& client) {
            client.SetFrom("a@example.com");
            client.AddTo("b@exa\tmple.org");
        });
    EXPECT_EQ(tab.result, -15);
}

TEST(CSmtpClientTest, DataFailures) {
    EXPECT_EQ(Play({Greeting, Ehlo, Ok, Ok, "503 bad sequence\r\n"}).result, -16);
    EXPECT_EQ(Play({Greeting, Ehlo, Ok, Ok, GoAhead, "554 rejected\r\n"}).result, -17);
    EXPECT_EQ(Play({Greeting, Ehlo, Ok, Ok, GoAhead, ScriptedSmtpPeer::Close}).result, -3);
}

TEST(CSmtpClientTest, AMessageThatWouldEndTheDataEarlyIsNotSent) {
    for (const std::string message :
         {"a\r\n.\r\nMAIL FROM:<x@evil.example>\r\n", ".\r\nx\r\n", "a\n.\nb\r\n", "a\r\n.\rb"}) {
        const Session session =
            Play({Greeting, Ehlo, Ok, Ok, GoAhead, Queued, Bye}, DefaultEnvelope, message);
        EXPECT_EQ(session.result, -16);
        EXPECT_EQ(session.commands.back(), "RCPT TO:<b@example.org>\r\n");
    }
}

TEST(CSmtpClientTest, AServerThatTakesNothingMakesTheSendFail) {
    // Far more than the socket buffers of both ends hold.
    std::string big = "Subject: big\r\n\r\n";
    const std::string line(998, 'x');
    while (big.size() < 64u * 1024 * 1024)
        big += line + "\r\n";
    const Session session =
        Play({Greeting, Ehlo, Ok, Ok, GoAhead, ScriptedSmtpPeer::Stall}, DefaultEnvelope, big, 200);
    EXPECT_EQ(session.result, -2);
}

TEST(CSmtpClientTest, AReplyThatGrowsPastItsLimitEndsTheSession) {
    // Continued lines beyond 64 KiB; the last line only comes much later.
    std::string endless;
    while (endless.size() <= static_cast<std::size_t>(CSmtpClient::MaxReplyLength))
        endless += "220-" + std::string(200, 'z') + "\r\n";
    const Session session =
        Play({endless + "<pause 2000>220 finally\r\n", Ehlo, Ok, Ok, GoAhead, Queued, Bye},
             DefaultEnvelope, Message, 20000);
    EXPECT_EQ(session.result, -3);
    EXPECT_TRUE(session.commands.empty());
}

TEST(CSmtpClientTest, ErrorMessagesForEveryCode) {
    const std::string auth = "送信用ユーザ認証に失敗しました。";
    const std::pair<int, std::string> texts[] = {
        {0, "送信できました。"},
        {-1, "メールサーバに接続できません。"},
        {-2, "メールサーバに情報を送信できませんでした。"},
        {-3, "メールサーバから情報を受信できませんでした。"},
        {-4, "メールサーバに接続できません。"},
        {-5, "メールサーバの応答がありません。"},
        {-6, auth},
        {-7, auth},
        {-8, auth},
        {-9, auth},
        {-10, auth},
        {-11, auth},
        {-12, auth},
        {-13, auth},
        {-14, "送信者のメールアドレスに謝りがあります。"},
        {-15, "受信者のメールアドレスに謝りがあります。"},
        {-16, "メール本文が送信できません。"},
        {-17, "メール本文が送信できません。"},
        {-18, "メールサーバとの通信が切断できません。"},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(CSmtpClient::GetErrorMessage(code).str(), text) << code;
    EXPECT_EQ(CSmtpClient::GetErrorMessage(1), "");
    // Each way encryption can fail, and a domain that takes no mail, has a
    // text of its own, so that the error list tells an administrator which
    // one it was.
    std::set<std::string> ownTexts;
    for (int code = -19; code >= -24; --code)
        ownTexts.insert(CSmtpClient::GetErrorMessage(code).str());
    EXPECT_EQ(ownTexts.size(), 6u);
    EXPECT_EQ(ownTexts.count(""), 0u);
    EXPECT_EQ(CSmtpClient::GetErrorMessage(-25), "");
}

TEST(CSmtpClientTest, WithoutEncryptionNothingButEhloAndStartTlsLeavesTheClient) {
    const std::string offersTls = "250-mail.example.net\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n";
    const struct {
        const char* what;
        CSmtpClient::Security security;
        std::vector<std::string> script;
        int result;
        Commands commands;
    } cases[] = {
        {"no STARTTLS offered",
         CSmtpClient::Security::StartTls,
         {Greeting, Ehlo},
         -19,
         {"EHLO example.com\r\n"}},
        {"STARTTLS refused",
         CSmtpClient::Security::StartTls,
         {Greeting, offersTls, "454 TLS not available\r\n"},
         -20,
         {"EHLO example.com\r\n", "STARTTLS\r\n"}},
        {"handshake stalls",
         CSmtpClient::Security::StartTls,
         {Greeting, offersTls, "220 go ahead\r\n", ScriptedSmtpPeer::Silent},
         -23,
         {"EHLO example.com\r\n", "STARTTLS\r\n"}},
        {"TLS server that never answers",
         CSmtpClient::Security::Tls,
         {ScriptedSmtpPeer::Silent},
         -23,
         {}},
    };
    for (const auto& c : cases) {
        const Session session = Play(
            c.script,
            [&c](CSmtpClient& client) {
                WithAuth("tim", "secret")(client);
                client.SetSecurity(c.security);
            },
            Message, 300);
        EXPECT_EQ(session.result, c.result) << c.what;
        // The stalled handshake leaves its bytes on the wire; only whole
        // commands are compared.
        Commands lines;
        for (const std::string& command : session.commands) {
            if (command.rfind("EHLO", 0) == 0 || command.rfind("STARTTLS", 0) == 0 ||
                command.rfind("AUTH", 0) == 0 || command.rfind("MAIL", 0) == 0)
                lines.push_back(command);
        }
        EXPECT_EQ(lines, c.commands) << c.what;
    }
    EXPECT_EQ(CSmtpClient::SecurityFromText("starttls"), CSmtpClient::Security::StartTls);
    EXPECT_EQ(CSmtpClient::SecurityFromText("tls"), CSmtpClient::Security::Tls);
    EXPECT_EQ(CSmtpClient::SecurityFromText(""), CSmtpClient::Security::None);
}
