#include "nvktl/CSmtpClient.h"
#include "nvktl/CEvent.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

using NVKTL::CSmtpClient;
using NVKTL::CString;
using NVKTL::SmtpResult;
using Lines = std::vector<std::string>;
using Security = CSmtpClient::Security;

namespace {

const std::string Message = "From: a\r\nTo: b\r\n\r\nline 1\r\n..dot\r\n";

// A script on one line: "|" between entries, "\n" between the lines of one
// reply; every reply gets its CR LF, the peer's actions stay as they are.
Lines Script(const std::string& text) {
    Lines script;
    for (std::size_t at = 0, end; at <= text.size(); at = end + 1) {
        end = std::min(text.find('|', at), text.size());
        std::string entry = text.substr(at, end - at);
        for (std::size_t i = 0; (i = entry.find('\n', i)) != std::string::npos; i += 2)
            entry.insert(i, "\r");
        script.push_back(entry[0] == '<' ? entry : entry + "\r\n");
    }
    return script;
}

struct Session {
    SmtpResult result;
    Lines commands; // without CR LF
    int lastReply;
};
using ClientSetup = std::function<void(CSmtpClient&)>;

// Plays script on a peer of its own, or talks to the peer at port.
Session Play(const Lines& script, const ClientSetup& setup = {}, unsigned timeout = 3000,
             const std::string& message = Message, const char* helo = "example.com", int port = 0) {
    std::optional<smtptest::ScriptedSmtpPeer> own;
    if (port == 0)
        port = own.emplace(script).port();
    CSmtpClient client(helo);
    client.SetTimeout(timeout);
    client.SetFrom("a@example.com");
    client.AddTo("b@example.org");
    if (setup)
        setup(client);
    const SmtpResult result = client.SendMail("127.0.0.1", port, CString(message));
    client.Close();
    Lines commands;
    // A stalled TLS handshake leaves binary records on the wire: only text counts.
    for (const std::string& command : own ? own->commands() : Lines{})
        if (std::all_of(command.begin(), command.end(),
                        [](char c) { return (c >= ' ' && c < 0x7F) || c == '\r' || c == '\n'; }))
            commands.push_back(command.substr(0, command.size() - 2));
    return {result, commands, client.GetLastReplyCode()};
}

const ClientSetup Tim = [](CSmtpClient& client) { client.SetAuth("tim", "tanstaaftanstaaf"); };
ClientSetup Encrypted(Security mode) {
    return [mode](CSmtpClient& client) { client.SetSecurity(mode), Tim(client); };
}
ClientSetup Also(const char* recipient) {
    return [recipient](CSmtpClient& client) { client.AddTo(recipient); };
}

struct Case {
    friend std::ostream& operator<<(std::ostream& os, const Case& c) {
        return os << static_cast<int>(c.result) << " after " << c.commands << " commands";
    }
    std::string script;
    SmtpResult result;
    std::size_t commands; // how many the client sent
    std::string last;     // the last of them
    ClientSetup setup = {};
    unsigned timeout = 3000;
};

const std::string Mail = "MAIL FROM:<a@example.com>", Rcpt = "RCPT TO:<b@example.org>";
const std::string Through = "220 hi|250 h|250 ok|250 ok|354 go|250 ok";
const std::string Login = "220 hi|250 AUTH LOGIN|334 VXNlcm5hbWU6";
const std::string OffersTls = "220 hi|250-h\n250-AUTH PLAIN\n250 STARTTLS";
const Case Cases[] = {
    // Once the message is taken, QUIT cannot turn it into a failure.
    {Through + "|500 what", SmtpResult::Ok, 6, "QUIT"},
    {"<silent>", SmtpResult::NoReply, 0, "", {}, 200},
    {"250 no 220", SmtpResult::NoGreeting, 0, ""},
    {"220 hi|502 no|250 mail|550 no", SmtpResult::BadSender, 3, Mail, Tim}, // HELO: no AUTH
    {"220 hi|502 no|501 no", SmtpResult::HelloRefused, 2, "HELO example.com"},
    // The mechanisms by preference; the server tests run each one through.
    {"220 hi|250-h\n250-AUTH PLAIN LOGIN CRAM-MD5\n250 ok|504", SmtpResult::CramMd5Refused, 2,
     "AUTH CRAM-MD5", Tim},
    {"220 hi|250-h\n250 AUTH PLAIN LOGIN|504", SmtpResult::LoginRefused, 2, "AUTH LOGIN", Tim},
    {Login + "|535 no", SmtpResult::LoginUserRefused, 3, "dGlt", Tim},
    // The prompts are free text ("User Name", "Password" with a NUL here).
    {"220 hi|250 AUTH LOGIN|334 VXNlciBOYW1lAA==|334 UGFzc3dvcmQA|535 no",
     SmtpResult::LoginPasswordRejected, 4, "dGFuc3RhYWZ0YW5zdGFhZg==", Tim},
    // Nothing to authenticate with: the old "AUTH=" form, no password.
    {"220 hi|250-h\n250 AUTH=LOGIN PLAIN|550 no", SmtpResult::BadSender, 2, Mail, Tim},
    {"220 hi|250 AUTH CRAM-MD5|550", SmtpResult::BadSender, 2, Mail,
     [](CSmtpClient& client) { client.SetAuth("tim", ""); }},
    {"220 hi|250 h|250 ok|250 ok|550 no", SmtpResult::BadRecipient, 4, "RCPT TO:<c@example.org>",
     Also("Carol <c@example.org>> (office)")},
    {"220 hi|250 h|250 ok|250 ok|503 no", SmtpResult::DataRefused, 4, "DATA"},
    {"220 hi|250 h|250 ok|250 ok|354 go|452 full", SmtpResult::MessageRefused, 5,
     Message + "\r\n."},
    // The answer to the message may take far longer than any other.
    {"220 hi|250 h|250 ok|250 ok|354 go|25<pause 1200>0 ok|221",
     SmtpResult::Ok,
     6,
     "QUIT",
     {},
     300},
    // Control characters never reach the wire.
    {Through, SmtpResult::BadSender, 1, "EHLO example.com",
     [](CSmtpClient& client) { client.SetFrom("<a@example.com\r\nRCPT TO:<x@evil.example>"); }},
    {Through, SmtpResult::BadRecipient, 3, Rcpt, Also("<c@example.org\nDATA>")},
    {Through, SmtpResult::BadRecipient, 3, Rcpt, Also("d@example.org\x7f")},
    // Without encryption nothing but EHLO and STARTTLS leaves the client.
    {"220 hi|250 h", SmtpResult::NoStartTls, 1, "EHLO example.com", Encrypted(Security::StartTls)},
    {OffersTls + "|454 no", SmtpResult::StartTlsRefused, 2, "STARTTLS",
     Encrypted(Security::StartTls)},
    // A handshake that stalls or loses its connection passes; one with a
    // peer that does not speak TLS does not.
    {OffersTls + "|220 go|<silent>", SmtpResult::TlsTimedOut, 2, "STARTTLS",
     Encrypted(Security::StartTls), 300},
    {"<silent>", SmtpResult::TlsTimedOut, 0, "", Encrypted(Security::Tls), 300},
    {OffersTls + "|220 go\n<pause 100><reset>", SmtpResult::TlsDropped, 2, "STARTTLS",
     Encrypted(Security::StartTls)},
    {"<close>", SmtpResult::TlsDropped, 0, "", Encrypted(Security::Tls)},
    {OffersTls + "|220 go\n<pause 100>not TLS", SmtpResult::TlsFailed, 2, "STARTTLS",
     Encrypted(Security::StartTls)},
};

class CSmtpClientSession : public ::testing::TestWithParam<Case> {};

TEST_P(CSmtpClientSession, EndsWithItsResultAfterItsLastCommand) {
    const Case& c = GetParam();
    const Session session = Play(Script(c.script), c.setup, c.timeout);
    EXPECT_EQ(session.result, c.result);
    EXPECT_EQ(session.commands.size(), c.commands);
    EXPECT_EQ(session.commands.empty() ? "" : session.commands.back(), c.last);
    // The text an administrator sees, also for the code stored with a failed mail.
    EXPECT_FALSE(CSmtpClient::GetErrorMessage(static_cast<int>(c.result)).IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Scripted, CSmtpClientSession, ::testing::ValuesIn(Cases));

TEST(CSmtpClientTest, DeliversTheMessageUnchangedWhateverShapeTheRepliesHave) {
    const Lines expected = {"EHLO example.com", Mail,  Rcpt, "RCPT TO:<c@example.org", "DATA",
                            Message + "\r\n.",  "QUIT"};
    for (const Lines& script :
         {Script(
              "220-mail\n220 hi|250-h\n250 h|250 ok|250 ok|251 forwarded|354 go|250-a\n250 b|221"),
          Lines{"22<pause 30>0 ready\r\n", "250-mail<pause 30>\r\n250-X\r<pause 30>\n250 Y\r\n",
                "250\r\n", "250\r\n", "250\r\n", "354\r\n", "250\r\n", "221\r\n"}}) {
        const Session session = Play(script, Also("Carol <c@example.org"));
        EXPECT_EQ(session.result, SmtpResult::Ok);
        EXPECT_EQ(session.lastReply, 250);
        EXPECT_EQ(session.commands, expected);
    }
    // So that a passing refusal (4xx) can be told from a lasting one (5xx).
    EXPECT_EQ(Play(Script("220 hi|250 h|250 ok|450 busy")).lastReply, 450);
    // Line breaks in the announced name or in the data never reach the wire.
    EXPECT_EQ(Play(Script(Through), {}, 3000, Message, "example.com\r\nRSET").result,
              SmtpResult::HelloRefused);
    for (const char* early : {"a\r\n.\r\nMAIL FROM:<x@evil>\r\n", ".\r\nx\r\n", "a\n.\nb", "a\r.b"})
        EXPECT_EQ(Play(Script(Through), {}, 3000, early).commands.back(), Rcpt);
}

TEST(CSmtpClientTest, EveryWaitOnTheServerIsBounded) {
    // A reply past its limit ends the session before the server's time-out.
    std::string endless;
    while (endless.size() <= static_cast<std::size_t>(CSmtpClient::MaxReplyLength))
        endless += "220-" + std::string(200, 'z') + "\r\n";
    EXPECT_EQ(Play({endless + "<pause 2000>220 finally\r\n"}, {}, 20000).result,
              SmtpResult::NoReply);
    // A server that takes nothing: far more than the socket buffers hold.
    std::string big = "Subject: big\r\n\r\n";
    while (big.size() < 64u * 1024 * 1024)
        big += std::string(998, 'x') + "\r\n";
    EXPECT_EQ(Play(Script("220 hi|250 h|250 ok|250 ok|354 go|<stall>"), {}, 200, big).result,
              SmtpResult::SendFailed);
}

// The program ends before a greeting comes, or while the answer to a sent
// message is awaited: the first wait ends at once, the answer still counts.
TEST(CSmtpClientTest, AnAbortEndsEveryWaitAtOnceButLetsASentMessageBeAnswered) {
    smtptest::Replies late;
    late.message = "<pause 1000>250 2.0.0 Queued\r\n";
    for (const bool sent : {false, true}) {
        NVKTL::CEvent abort;
        const auto peer = sent ? std::make_unique<smtptest::ScriptedSmtpPeer>(late)
                               : std::make_unique<smtptest::ScriptedSmtpPeer>(Lines{"<silent>"});
        if (!sent)
            abort.set();
        std::thread ending([&] {
            if (sent && peer->waitForMails(1, std::chrono::seconds(10)))
                abort.set();
        });
        const auto start = std::chrono::steady_clock::now();
        const Session session = Play(
            {}, [&](CSmtpClient& client) { client.SetAbortHandle(abort.handle()); }, 20000, Message,
            "example.com", peer->port());
        EXPECT_EQ(session.result, sent ? SmtpResult::Ok : SmtpResult::NoReply);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        ending.join();
    }
}

} // namespace
