#include "nvktl/CSmtpClient.h"

#include "nvktl/Base64.h"
#include "nvktl/HmacMd5.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>

namespace NVKTL {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view CrLf = "\r\n";
constexpr std::string_view EndOfData = "\r\n.\r\n";

CString Normalised(const CString& address) {
    const std::string& text = address.str();
    const std::size_t open = text.find('<');
    if (open == std::string::npos)
        return CString("<" + text + ">");
    const std::size_t close = text.find('>', open);
    if (close == std::string::npos)
        return CString(text.substr(open));
    return CString(text.substr(open, close - open + 1));
}

// Whether the reply text begins with code, compared over code's length.
bool Begins(const CString& reply, std::string_view code) {
    return std::string_view(reply.str()).substr(0, code.size()) == code;
}

// A reply is complete when the text ends with CR LF and the first line not
// marked as continued ("250-") is its last line ("250 ", or a bare "250").
bool IsCompleteReply(std::string_view text) {
    if (text.size() < 2 || text.substr(text.size() - 2) != CrLf)
        return false;
    std::size_t line = 0;
    while (line < text.size()) {
        const std::size_t end = text.find(CrLf, line);
        const std::string_view current = text.substr(line, end - line);
        if (current.size() > 3 && current[3] == '-') {
            line = end + 2;
            continue;
        }
        return current.size() == 3 || (current.size() > 3 && current[3] == ' ');
    }
    return false;
}

// The three digits that open a reply, or 0 when it opens otherwise.
int ReplyCode(std::string_view text) {
    if (text.size() < 3)
        return 0;
    int code = 0;
    for (char c : text.substr(0, 3)) {
        if (c < '0' || c > '9')
            return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

// The mechanisms offered in an EHLO reply: the rest of the "AUTH " line.
CString OfferedMechanisms(const CString& reply) {
    const std::string& text = reply.str();
    std::size_t at = text.find("250-AUTH ");
    if (at == std::string::npos)
        at = text.find("250 AUTH ");
    if (at == std::string::npos)
        return CString();
    at += 9;
    const std::size_t end = text.find(CrLf, at);
    return CString(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
}

// The challenge of a "334 " reply, decoded, up to its first zero byte.
std::string Challenge(const CString& reply) {
    const CByteArray decoded = Base64Decode(std::string_view(reply.str()).substr(4));
    const std::string_view bytes = decoded.View();
    return std::string(bytes.substr(0, bytes.find('\0')));
}

bool IsNumericAddress(const CString& server) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, server.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, server.c_str(), address) == 1;
}

// Whether an EHLO reply lists keyword as an extension of its own line.
bool Offers(const CString& reply, std::string_view keyword) {
    std::string_view text(reply.str());
    while (!text.empty()) {
        const std::size_t end = text.find(CrLf);
        std::string_view line = text.substr(0, end);
        if (line.size() > 4) {
            line.remove_prefix(4);
            const std::string_view word = line.substr(0, line.find(' '));
            if (word.size() == keyword.size() &&
                std::equal(word.begin(), word.end(), keyword.begin(), [](char a, char b) {
                    return std::toupper(static_cast<unsigned char>(a)) == b;
                }))
                return true;
        }
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 2);
    }
    return false;
}

// The end-of-data mark inside the message, or a bare CR or LF that a server
// might take for a line end, would end the data early and run the rest of the
// message as commands.
bool EndsDataEarly(std::string_view message) {
    if (message.substr(0, 3) == ".\r\n" || message.find("\r\n.\r\n") != std::string_view::npos)
        return true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && (i + 1 == message.size() || message[i + 1] != '\n'))
            return true;
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
            return true;
    }
    return false;
}

} // namespace

CSmtpClient::CSmtpClient(const CString& heloName) : heloName(heloName) {}

void CSmtpClient::SetFrom(const CString& address) {
    sender = Normalised(address);
}

void CSmtpClient::AddTo(const CString& address) {
    recipients.Add(Normalised(address));
}

void CSmtpClient::ClearRecipients() {
    recipients.RemoveAll();
}

CSmtpClient::Security CSmtpClient::SecurityFromText(const CString& text) {
    if (text.str() == "starttls")
        return Security::StartTls;
    if (text.str() == "tls")
        return Security::Tls;
    return Security::None;
}

void CSmtpClient::SetAuth(const CString& account, const CString& password) {
    this->account = account;
    this->password = password;
}

SmtpResult CSmtpClient::SendCommand(const CString& command, CString& reply) {
    if (Send(command.c_str(), command.GetLength(), 0) < 0)
        return SmtpResult::SendFailed;
    return ReadReply(reply);
}

SmtpResult CSmtpClient::ReadReply(CString& reply, unsigned timeoutMs) {
    reply = CString();
    std::string& text = reply.str();
    // One deadline for the whole reply, so a server that trickles bytes
    // cannot stretch it; the socket's own time-out is restored afterwards.
    const unsigned timeout = GetTimeout();
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(timeoutMs != 0 ? timeoutMs : timeout);
    SmtpResult result = SmtpResult::NoReply;
    char buffer[1025];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        SetTimeout(static_cast<unsigned>(left.count()));
        const int received = Receive(buffer, 1024, 0);
        if (received <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(received));
        if (IsCompleteReply(text)) {
            lastReplyCode = ReplyCode(text);
            result = SmtpResult::Ok;
            break;
        }
        if (text.size() > static_cast<std::size_t>(MaxReplyLength))
            break;
    }
    SetTimeout(timeout);
    return result;
}

SmtpResult CSmtpClient::SendMail(const CString& server, int port, const CString& message) {
    if (const SmtpResult result = Open(server, port); result != SmtpResult::Ok)
        return result;
    if (const SmtpResult result = Transfer(message); result != SmtpResult::Ok)
        return result;
    Quit();
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::connect(const CString& server, int port) {
    // A numeric address that could not be connected is not worth a second try
    // by name: it would only double the wait.
    if (Connect(server, port) != 0 &&
        (IsNumericAddress(server) || ConnectByName(server, port) != 0))
        return SmtpResult::NoConnection;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::Open(const CString& server, int port) {
    lastReplyCode = 0;
    if (connect(server, port) != SmtpResult::Ok)
        return SmtpResult::NoConnection;

    if (security == Security::Tls) {
        if (const SmtpResult result = startTls(server, CTlsChannel::Check::Certificate);
            result != SmtpResult::Ok)
            return result;
    }

    CString reply;
    if (const SmtpResult result = greet(reply); result != SmtpResult::Ok)
        return result;
    if (security == Security::StartTls || security == Security::Opportunistic) {
        if (const SmtpResult result = encrypt(server, port, reply); result != SmtpResult::Ok)
            return result;
    }

    const CString mechanisms = OfferedMechanisms(reply);
    if (!mechanisms.IsEmpty() && !account.IsEmpty() && !password.IsEmpty()) {
        if (const SmtpResult result = authenticate(mechanisms); result != SmtpResult::Ok)
            return result;
    }
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::encrypt(const CString& server, int port, CString& reply) {
    // Nothing but EHLO and STARTTLS goes out before the channel is encrypted:
    // no credentials, no envelope. Opportunistically, a server that cannot
    // encrypt gets the mail in the clear, as it would from any other server.
    const bool required = security == Security::StartTls;
    if (!Offers(reply, "STARTTLS"))
        return required ? SmtpResult::NoStartTls : SmtpResult::Ok;
    const CString offer = reply;
    if (SendCommand(CString("STARTTLS\r\n"), reply) != SmtpResult::Ok)
        return SmtpResult::NoReply;
    if (ReplyCode(reply.str()) != 220) {
        reply = offer;
        return required ? SmtpResult::StartTlsRefused : SmtpResult::Ok;
    }
    const SmtpResult started =
        startTls(server, required ? CTlsChannel::Check::Certificate : CTlsChannel::Check::None);
    if (started != SmtpResult::Ok) {
        if (required)
            return started;
        // The failed handshake left the connection in no known state.
        const unsigned timeout = GetTimeout();
        SetTimeout(std::min(timeout, kAbortGraceMs));
        Close();
        SetTimeout(timeout);
        if (connect(server, port) != SmtpResult::Ok)
            return SmtpResult::NoConnection;
        return greet(reply);
    }
    if (SendCommand("EHLO " + heloName + CrLf, reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 250)
        return SmtpResult::HelloRefused;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::Transfer(const CString& message) {
    CString reply;
    if (sender.HasControlCharacter())
        return SmtpResult::BadSender;
    if (const SmtpResult result = SendCommand("MAIL FROM:" + sender + CrLf, reply);
        result != SmtpResult::Ok)
        return result;
    if (ReplyCode(reply.str()) != 250)
        return SmtpResult::BadSender;

    for (int i = 0; i < recipients.GetCount(); ++i) {
        const CString recipient = recipients.GetAt(i);
        if (recipient.HasControlCharacter())
            return SmtpResult::BadRecipient;
        if (const SmtpResult result = SendCommand("RCPT TO:" + recipient + CrLf, reply);
            result != SmtpResult::Ok)
            return result;
        const int code = ReplyCode(reply.str());
        if (code != 250 && code != 251)
            return SmtpResult::BadRecipient;
    }

    if (EndsDataEarly(message.str()))
        return SmtpResult::DataRefused;
    if (const SmtpResult result = SendCommand(CString("DATA\r\n"), reply); result != SmtpResult::Ok)
        return result;
    if (ReplyCode(reply.str()) != 354)
        return SmtpResult::DataRefused;

    const CString data = message + EndOfData;
    if (Send(data.c_str(), data.GetLength(), 0) < 0)
        return SmtpResult::SendFailed;
    SetAbortGrace(kAbortGraceMs);
    const SmtpResult answered = ReadReply(reply, std::max(finalReplyTimeout, GetTimeout()));
    SetAbortGrace(0);
    if (answered != SmtpResult::Ok)
        return answered;
    if (ReplyCode(reply.str()) != 250)
        return SmtpResult::MessageRefused;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::Reset() {
    CString reply;
    if (const SmtpResult result = SendCommand(CString("RSET\r\n"), reply); result != SmtpResult::Ok)
        return result;
    return ReplyCode(reply.str()) == 250 ? SmtpResult::Ok : SmtpResult::ResetRefused;
}

void CSmtpClient::Quit() {
    // After an accepted message, how the server answers QUIT, or whether it
    // answers at all, no longer changes that; calling it a failure would only
    // have the mail sent a second time.
    const int accepted = lastReplyCode;
    CString reply;
    (void)SendCommand(CString("QUIT\r\n"), reply);
    lastReplyCode = accepted;
}

SmtpResult CSmtpClient::greet(CString& reply) {
    if (ReadReply(reply) != SmtpResult::Ok)
        return SmtpResult::NoReply;
    if (ReplyCode(reply.str()) != 220)
        return SmtpResult::NoGreeting;
    if (heloName.HasControlCharacter())
        return SmtpResult::HelloRefused;
    if (SendCommand("EHLO " + heloName + CrLf, reply) == SmtpResult::Ok &&
        ReplyCode(reply.str()) == 250)
        return SmtpResult::Ok;
    if (SendCommand("HELO " + heloName + CrLf, reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 250)
        return SmtpResult::HelloRefused;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::startTls(const CString& server, CTlsChannel::Check check) {
    switch (StartTls(server, check)) {
    case CTlsChannel::StartResult::Started:
        return SmtpResult::Ok;
    case CTlsChannel::StartResult::BadCertificate:
        return SmtpResult::BadCertificate;
    case CTlsChannel::StartResult::TimedOut:
        return SmtpResult::TlsTimedOut;
    case CTlsChannel::StartResult::Dropped:
        return SmtpResult::TlsDropped;
    case CTlsChannel::StartResult::Failed:
        break;
    }
    return SmtpResult::TlsFailed;
}

SmtpResult CSmtpClient::authenticate(const CString& mechanisms) {
    if (mechanisms.Find("CRAM-MD5") >= 0)
        return authenticateCramMd5();
    if (mechanisms.Find("LOGIN") >= 0)
        return authenticateLogin();
    if (mechanisms.Find("PLAIN") >= 0)
        return authenticatePlain();
    return SmtpResult::Ok; // nothing we speak: go on without
}

SmtpResult CSmtpClient::authenticateCramMd5() {
    CString reply;
    if (SendCommand(CString("AUTH CRAM-MD5\r\n"), reply) != SmtpResult::Ok ||
        !Begins(reply, "334 "))
        return SmtpResult::CramMd5Refused;
    const CString digest = HmacMd5Hex(password.str(), Challenge(reply));
    const CString response = Base64Encode((account + std::string_view(" ") + digest).str());
    if (SendCommand(response + CrLf, reply) != SmtpResult::Ok || ReplyCode(reply.str()) != 235)
        return SmtpResult::CramMd5Rejected;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::authenticateLogin() {
    // The two prompts are free text ("Username:", "User Name", ...): the
    // first 334 asks for the account and the second for the password,
    // whatever they say.
    CString reply;
    if (SendCommand(CString("AUTH LOGIN\r\n"), reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 334)
        return SmtpResult::LoginRefused;
    if (SendCommand(Base64Encode(account.str()) + CrLf, reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 334)
        return SmtpResult::LoginUserRefused;
    if (SendCommand(Base64Encode(password.str()) + CrLf, reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 235)
        return SmtpResult::LoginPasswordRejected;
    return SmtpResult::Ok;
}

SmtpResult CSmtpClient::authenticatePlain() {
    std::string credentials;
    credentials += '\0';
    credentials += account.str();
    credentials += '\0';
    credentials += password.str();
    CString reply;
    if (SendCommand("AUTH PLAIN " + Base64Encode(credentials) + CrLf, reply) != SmtpResult::Ok ||
        ReplyCode(reply.str()) != 235)
        return SmtpResult::PlainRejected;
    return SmtpResult::Ok;
}

CString CSmtpClient::GetErrorMessage(SmtpResult result) {
    static constexpr const char* AuthenticationFailed = "送信用ユーザ認証に失敗しました。";
    static constexpr const char* NoConnection = "メールサーバに接続できません。";
    static constexpr const char* MessageNotSent = "メール本文が送信できません。";
    switch (result) {
    case SmtpResult::Ok:
        return "送信できました。";
    case SmtpResult::NoConnection:
    case SmtpResult::NoGreeting:
        return NoConnection;
    case SmtpResult::SendFailed:
        return "メールサーバに情報を送信できませんでした。";
    case SmtpResult::NoReply:
        return "メールサーバから情報を受信できませんでした。";
    case SmtpResult::HelloRefused:
        return "メールサーバの応答がありません。";
    case SmtpResult::CramMd5Refused:
    case SmtpResult::CramMd5Rejected:
    case SmtpResult::LoginRefused:
    case SmtpResult::LoginNoUserPrompt:
    case SmtpResult::LoginUserRefused:
    case SmtpResult::LoginNoPasswordPrompt:
    case SmtpResult::LoginPasswordRejected:
    case SmtpResult::PlainRejected:
        return AuthenticationFailed;
    case SmtpResult::BadSender:
        return "送信者のメールアドレスに誤りがあります。";
    case SmtpResult::BadRecipient:
        return "受信者のメールアドレスに誤りがあります。";
    case SmtpResult::DataRefused:
    case SmtpResult::MessageRefused:
        return MessageNotSent;
    case SmtpResult::ResetRefused:
        return "メールサーバとの通信が切断できません。";
    case SmtpResult::NoStartTls:
        return "メールサーバが暗号化通信（STARTTLS）に対応していません。";
    case SmtpResult::StartTlsRefused:
        return "メールサーバが暗号化通信の開始を拒否しました。";
    case SmtpResult::TlsFailed:
        return "メールサーバとの暗号化通信を開始できません。";
    case SmtpResult::BadCertificate:
        return "メールサーバの証明書が正しくありません。";
    case SmtpResult::TlsTimedOut:
        return "メールサーバとの暗号化通信の開始が時間内に終わりませんでした。";
    case SmtpResult::TlsDropped:
        return "メールサーバとの暗号化通信の開始中に接続が切れました。";
    case SmtpResult::NoMailDomain:
        return "受信者のメールアドレスのドメインが存在しないか、メールを受け付けていません。";
    }
    return CString();
}

CString CSmtpClient::GetErrorMessage(int storedCode) {
    return GetErrorMessage(static_cast<SmtpResult>(storedCode));
}

} // namespace NVKTL
