#include "delivery/CNotification.h"

#include "nvktl/CMailProtocol.h"
#include "nvktl/JisEncoding.h"

#include <string>

namespace {

CString value(const CMapStringToString& map, const char* key) {
    CString text;
    map.Lookup(key, text);
    return text;
}

// Bytes [start, start + count) of text, cut at its end.
std::string bytes(const std::string& text, std::size_t start, std::size_t count) {
    return start < text.size() ? text.substr(start, count) : std::string();
}

// An address goes into a header line between angle brackets; a control
// character there would break the line or start a new header field.
std::string headerAddress(const CString& address) {
    std::string clean;
    for (char c : address.str()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            clean += c;
    }
    return clean;
}

std::string encodedWord(const CString& text) {
    CString word;
    NVKTL::ToEncodedWord(text, word);
    return word.str();
}

// "encoded name <address>"
CString mailbox(const CString& name, const CString& address) {
    return CString(encodedWord(name) + " <" + headerAddress(address) + ">");
}

} // namespace

CString CNotification::visitTime(const CString& loginDate) {
    const std::string& date = loginDate.str();
    std::string text;
    text += bytes(date, 0, 4) + "年";
    text += bytes(date, 4, 2) + "月";
    text += bytes(date, 6, 2) + "日 ";
    text += bytes(date, 8, 2) + "時";
    text += bytes(date, 10, 2) + "分";
    return CString(text);
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
    const CString name = value(settings, "from_name");
    CMapStringToString mail;
    mail.SetAt("recv_name", name);
    mail.SetAt("recv_mail", value(settings, "from_mail"));
    mail.SetAt("body", body(value(settings, "group_name"), name, value(settings, "login_date")));
    mail.SetAt("title", value(settings, "mail_subject"));
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
    now.Format(date, "%a, %d %b %Y %H:%M:%S +0900");

    NVKTL::CMailProtocol message;
    message.SetHeader("From", mailbox(value(merged, "mail_user"), value(merged, "mail_address")));
    message.SetHeader("To", mailbox(value(merged, "recv_name"), value(merged, "recv_mail")));
    message.SetHeader("Date", date);
    message.SetHeader("Subject", CString(encodedWord(value(merged, "title"))));
    message.SetHeader("Content-Type", "text/plain; charset=\"ISO-2022-JP\"");
    message.SetHeader("Content-Transfer-Encoding", "7bit");

    // Names from the data file may carry line breaks of any kind; only CR LF
    // may reach the wire, and a line that begins with "." must survive it.
    CString jis;
    NVKTL::ToJis(normalizeLineEnds(value(merged, "body").str()), jis);
    const CString stuffed = stuffDots(jis.str());
    message.SetBody(stuffed.c_str(), stuffed.GetLength());
    message.Build();
    return message.GetText();
}
