#include "delivery/CNotification.h"

#include "nvktl/CMailProtocol.h"
#include "nvktl/JisEncoding.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>

namespace {

// An address goes into a header line between angle brackets; a control
// character there would break the line or start a new header field.
std::string headerAddress(const CString& address) {
    std::string clean;
    for (char c : address.str()) {
        if (!CString::IsControlCharacter(static_cast<unsigned char>(c)))
            clean += c;
    }
    return clean;
}

constexpr std::size_t MaxLine = 78;

// The text as encoded words, folded so that no line of the field
// "name: words" grows past MaxLine.
std::string encodedWords(const char* fieldName, const CString& text) {
    CString words;
    NVKTL::ToEncodedWords(text, MaxLine - std::string_view(fieldName).size() - 2, words);
    return words.str();
}

// "encoded name <address>"; the address moves to a line of its own when it
// would make the last line too long.
CString mailbox(const char* fieldName, const CString& name, const CString& address) {
    std::string text = encodedWords(fieldName, name);
    const std::size_t lastLineStart = text.rfind("\r\n");
    const std::size_t lastLine = lastLineStart == std::string::npos
                                     ? std::string_view(fieldName).size() + 2 + text.size()
                                     : text.size() - lastLineStart - 2;
    const std::string bracketed = "<" + headerAddress(address) + ">";
    text += lastLine + 1 + bracketed.size() > MaxLine ? "\r\n " : " ";
    return CString(text + bracketed);
}

// The machine's offset from UTC at the local time now, as "+0900".
CString utcOffset(const NVKTL::CTime& now) {
    CString fields;
    now.Format(fields, "%Y %m %d %H %M %S");
    std::tm local{};
    if (std::sscanf(fields.c_str(), "%d %d %d %d %d %d", &local.tm_year, &local.tm_mon,
                    &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec) != 6)
        return CString("+0000");
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    const std::time_t moment = std::mktime(&local);
    std::tm resolved{};
    if (moment == static_cast<std::time_t>(-1) || !localtime_r(&moment, &resolved))
        return CString("+0000");
    const long offset = resolved.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    CString text;
    text.Format("%c%02ld%02ld", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

// The domain of the sender's address when it is a plain host name, so that
// the identifier is globally unique and cannot carry anything else.
std::string messageIdDomain(const CString& senderAddress) {
    const std::string& address = senderAddress.str();
    const std::size_t at = address.rfind('@');
    std::string domain = at == std::string::npos ? std::string() : address.substr(at + 1);
    const bool plain = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
    return plain ? domain : std::string("poston.invalid");
}

// "<time.count.random@domain>": unique per mail even within one millisecond
// and across terminals that share a sender address.
CString messageId(const NVKTL::CTime& now, const CString& senderAddress) {
    static std::atomic<unsigned> counter{0};
    static const std::uint64_t processRandom = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    CString id;
    id.Format("<%llx.%x.%llx@%s>", static_cast<unsigned long long>(now.GetTime()),
              counter.fetch_add(1), static_cast<unsigned long long>(processRandom),
              messageIdDomain(senderAddress).c_str());
    return id;
}

} // namespace

CString CNotification::visitTime(const CString& loginDate) {
    return NVKTL::CTime::StampText(loginDate);
}

CString CNotification::body(const CString& groupName, const CString& userName,
                            const CString& loginDate) {
    std::string text = "「ぽすとん」にアクセスしました。\r\n";
    text += "[ " + groupName.str() + " ]の\r\n";
    text += "[ " + userName.str() + " ]さん\r\n";
    text += "通知があった時間\r\n";
    text += visitTime(loginDate).str() + "\r\n";
    return CString(std::move(text));
}

CMapStringToString CNotification::mailRequest(const CMapStringToString& settings) {
    const CString name = settings.Value("from_name");
    CMapStringToString mail;
    mail.SetAt("recv_name", name);
    mail.SetAt("recv_mail", settings.Value("from_mail"));
    mail.SetAt("body", body(settings.Value("group_name"), name, settings.Value("login_date")));
    mail.SetAt("title", settings.Value("mail_subject"));
    return mail;
}

CString CNotification::normalizeLineEnds(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return CString(std::move(out));
}

CString CNotification::stuffDots(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n' && i > 0 && text[i - 1] == '\r';
    }
    return CString(std::move(out));
}

CString CNotification::buildMessage(const CMapStringToString& merged, const NVKTL::CTime& now) {
    CString date;
    now.Format(date, "%a, %d %b %Y %H:%M:%S ");

    NVKTL::CMailProtocol message;
    message.SetHeader("From",
                      mailbox("From", merged.Value("mail_user"), merged.Value("mail_address")));
    message.SetHeader("To", mailbox("To", merged.Value("recv_name"), merged.Value("recv_mail")));
    message.SetHeader("Date", date + utcOffset(now));
    message.SetHeader("Subject", CString(encodedWords("Subject", merged.Value("title"))));
    message.SetHeader("Content-Type", "text/plain; charset=\"ISO-2022-JP\"");
    message.SetHeader("Content-Transfer-Encoding", "7bit");
    message.SetHeader("Message-ID", messageId(now, merged.Value("mail_address")));
    message.SetHeader("MIME-Version", "1.0");

    // Names from the data file may carry line breaks of any kind; only CR LF
    // may reach the wire, and a line that begins with "." must survive it.
    CString jis;
    NVKTL::ToJis(normalizeLineEnds(merged.Value("body").str()), jis);
    const CString stuffed = stuffDots(jis.str());
    message.SetBody(stuffed.c_str(), stuffed.GetLength());
    message.Build();
    return message.GetText();
}
