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

// A control character would end the command line early and let the rest of
// the text run as commands of its own.
bool HasControlCharacter(const CString& text) {
    for (char c : text.str()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
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

int CSmtpClient::SendCommand(const CString& command, CString& reply) {
    if (Send(command.c_str(), command.GetLength(), 0) < 0)
        return -2;
    return ReadReply(reply);
}

int CSmtpClient::ReadReply(CString& reply) {
    reply = CString();
    std::string& text = reply.str();
    // One deadline for the whole reply, so a server that trickles bytes
    // cannot stretch it; the socket's own time-out is restored afterwards.
    const unsigned timeout = GetTimeout();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    int result = -3;
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
            result = 0;
            break;
        }
        if (text.size() > static_cast<std::size_t>(MaxReplyLength))
            break;
    }
    SetTimeout(timeout);
    return result;
}

int CSmtpClient::SendMail(const CString& server, int port, const CString& message) {
    if (const int result = Open(server, port); result != 0)
        return result;
    if (const int result = Transfer(message); result != 0)
        return result;
    Quit();
    return 0;
}

int CSmtpClient::Open(const CString& server, int port) {
    lastReplyCode = 0;
    // A numeric address that could not be connected is not worth a second try
    // by name: it would only double the wait.
    if (Connect(server, port) != 0 &&
        (IsNumericAddress(server) || ConnectByName(server, port) != 0))
        return -1;

    if (security == Security::Tls) {
        if (const int result = startTls(server); result != 0)
            return result;
    }

    CString reply;
    if (ReadReply(reply) != 0)
        return -3;
    if (ReplyCode(reply.str()) != 220)
        return -4;

    if (HasControlCharacter(heloName))
        return -5;
    if (const int result = greet(reply); result != 0)
        return result;

    if (security == Security::StartTls) {
        // Nothing but EHLO and STARTTLS goes out before the channel is
        // encrypted: no credentials, no envelope.
        if (!Offers(reply, "STARTTLS"))
            return -19;
        if (SendCommand(CString("STARTTLS\r\n"), reply) != 0)
            return -3;
        if (ReplyCode(reply.str()) != 220)
            return -20;
        if (const int result = startTls(server); result != 0)
            return result;
        if (SendCommand("EHLO " + heloName + CrLf, reply) != 0 || ReplyCode(reply.str()) != 250)
            return -5;
    }

    const CString mechanisms = OfferedMechanisms(reply);
    if (!mechanisms.IsEmpty() && !account.IsEmpty() && !password.IsEmpty()) {
        if (const int result = authenticate(mechanisms); result != 0)
            return result;
    }
    return 0;
}

int CSmtpClient::Transfer(const CString& message) {
    CString reply;
    if (HasControlCharacter(sender))
        return -14;
    if (const int result = SendCommand("MAIL FROM:" + sender + CrLf, reply); result != 0)
        return result;
    if (ReplyCode(reply.str()) != 250)
        return -14;

    for (int i = 0; i < recipients.GetCount(); ++i) {
        const CString recipient = recipients.GetAt(i);
        if (HasControlCharacter(recipient))
            return -15;
        if (const int result = SendCommand("RCPT TO:" + recipient + CrLf, reply); result != 0)
            return result;
        const int code = ReplyCode(reply.str());
        if (code != 250 && code != 251)
            return -15;
    }

    if (EndsDataEarly(message.str()))
        return -16;
    if (const int result = SendCommand(CString("DATA\r\n"), reply); result != 0)
        return result;
    if (ReplyCode(reply.str()) != 354)
        return -16;

    if (const int result = SendCommand(message + EndOfData, reply); result != 0)
        return result;
    if (ReplyCode(reply.str()) != 250)
        return -17;
    return 0;
}

int CSmtpClient::Reset() {
    CString reply;
    if (const int result = SendCommand(CString("RSET\r\n"), reply); result != 0)
        return result;
    return ReplyCode(reply.str()) == 250 ? 0 : -18;
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

int CSmtpClient::greet(CString& reply) {
    if (SendCommand("EHLO " + heloName + CrLf, reply) == 0 && ReplyCode(reply.str()) == 250)
        return 0;
    if (SendCommand("HELO " + heloName + CrLf, reply) != 0 || ReplyCode(reply.str()) != 250)
        return -5;
    return 0;
}

int CSmtpClient::startTls(const CString& server) {
    switch (StartTls(server)) {
    case CTlsChannel::StartResult::Started:
        return 0;
    case CTlsChannel::StartResult::BadCertificate:
        return -22;
    case CTlsChannel::StartResult::TimedOut:
        return -23;
    case CTlsChannel::StartResult::Failed:
        break;
    }
    return -21;
}

int CSmtpClient::authenticate(const CString& mechanisms) {
    if (mechanisms.Find("CRAM-MD5") >= 0)
        return authenticateCramMd5();
    if (mechanisms.Find("LOGIN") >= 0)
        return authenticateLogin();
    if (mechanisms.Find("PLAIN") >= 0)
        return authenticatePlain();
    return 0; // nothing we speak: go on without
}

int CSmtpClient::authenticateCramMd5() {
    CString reply;
    if (SendCommand(CString("AUTH CRAM-MD5\r\n"), reply) != 0 || !Begins(reply, "334 "))
        return -6;
    const CString digest = HmacMd5Hex(password.str(), Challenge(reply));
    const CString response = Base64Encode((account + std::string_view(" ") + digest).str());
    if (SendCommand(response + CrLf, reply) != 0 || ReplyCode(reply.str()) != 235)
        return -7;
    return 0;
}

int CSmtpClient::authenticateLogin() {
    CString reply;
    if (SendCommand(CString("AUTH LOGIN\r\n"), reply) != 0 || !Begins(reply, "334 "))
        return -8;
    if (Challenge(reply).substr(0, 9) != "Username:")
        return -9;
    if (SendCommand(Base64Encode(account.str()) + CrLf, reply) != 0 || !Begins(reply, "334 "))
        return -10;
    if (Challenge(reply).substr(0, 9) != "Password:")
        return -11;
    if (SendCommand(Base64Encode(password.str()) + CrLf, reply) != 0 ||
        ReplyCode(reply.str()) != 235)
        return -12;
    return 0;
}

int CSmtpClient::authenticatePlain() {
    std::string credentials;
    credentials += '\0';
    credentials += account.str();
    credentials += '\0';
    credentials += password.str();
    CString reply;
    if (SendCommand("AUTH PLAIN " + Base64Encode(credentials) + CrLf, reply) != 0 ||
        ReplyCode(reply.str()) != 235)
        return -13;
    return 0;
}

CString CSmtpClient::GetErrorMessage(int code) {
    static constexpr const char* AuthenticationFailed = "送信用ユーザ認証に失敗しました。";
    switch (code) {
    case 0:
        return "送信できました。";
    case -1:
    case -4:
        return "メールサーバに接続できません。";
    case -2:
        return "メールサーバに情報を送信できませんでした。";
    case -3:
        return "メールサーバから情報を受信できませんでした。";
    case -5:
        return "メールサーバの応答がありません。";
    case -6:
    case -7:
    case -8:
    case -9:
    case -10:
    case -11:
    case -12:
    case -13:
        return AuthenticationFailed;
    case -14:
        return "送信者のメールアドレスに謝りがあります。";
    case -15:
        return "受信者のメールアドレスに謝りがあります。";
    case -16:
    case -17:
        return "メール本文が送信できません。";
    case -18:
        return "メールサーバとの通信が切断できません。";
    case -19:
        return "メールサーバが暗号化通信（STARTTLS）に対応していません。";
    case -20:
        return "メールサーバが暗号化通信の開始を拒否しました。";
    case -21:
        return "メールサーバとの暗号化通信を開始できません。";
    case -22:
        return "メールサーバの証明書が正しくありません。";
    case -23:
        return "メールサーバとの暗号化通信の開始が時間内に終わりませんでした。";
    case -24: // the mail route's: no server to ask at all
        return "受信者のメールアドレスのドメインが存在しないか、メールを受け付けていません。";
    default:
        return CString();
    }
}

} // namespace NVKTL
