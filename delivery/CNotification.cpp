#include "delivery/CNotification.h"

#include "delivery/CMailTexts.h"
#include "nvktl/Base64.h"
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
#include <vector>

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
// The longest line SMTP carries, without its CR LF; a body line is kept one
// shorter, so that a doubled leading dot still fits.
constexpr std::size_t MaxBodyLine = 997;
// Base64 body lines, as MIME writes them.
constexpr std::size_t Base64Line = 76;

using NVKTL::MailCharset;

// The text as encoded words, folded so that no line of the field
// "name: words" grows past MaxLine.
std::string encodedWords(const char* fieldName, const CString& text, MailCharset charset) {
    CString words;
    NVKTL::ToEncodedWords(text, MaxLine - std::string_view(fieldName).size() - 2, words, charset);
    return words.str();
}

// "encoded name <address>", or the address alone without a name; the address
// moves to a line of its own when it would make the last line too long.
CString mailbox(const char* fieldName, const CString& name, const CString& address,
                MailCharset charset) {
    const std::string bracketed = "<" + headerAddress(address) + ">";
    std::string text = encodedWords(fieldName, name, charset);
    if (text.empty())
        return CString(bracketed);
    const std::size_t lastLineStart = text.rfind("\r\n");
    const std::size_t lastLine = lastLineStart == std::string::npos
                                     ? std::string_view(fieldName).size() + 2 + text.size()
                                     : text.size() - lastLineStart - 2;
    text += lastLine + 1 + bracketed.size() > MaxLine ? "\r\n " : " ";
    return CString(text + bracketed);
}

// The ISO-2022-JP octets of one character of a line: its bytes and whether it
// is a double-byte one (which needs the mode switches around it).
std::size_t jisOctets(std::string_view character, bool& doubleByte) {
    CString jis;
    NVKTL::ToJis(CString(character), jis);
    doubleByte = !jis.IsEmpty() && jis.str().front() == '\x1b';
    return doubleByte ? 2 : jis.str().size();
}

// One body line (without its line end) as lines whose ISO-2022-JP form is
// at most MaxBodyLine octets, each starting and ending in ASCII mode; a line
// that fits stays as it is.
std::vector<std::string> wrapForJis(const std::string& line) {
    constexpr std::size_t Switch = 3; // ESC $ B or ESC ( B
    std::vector<std::string> pieces;
    std::string piece;
    std::size_t octets = 0; // of the piece, without its closing switch
    bool inDouble = false;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t length = CString::CharLength(line, i);
        bool doubleByte = false;
        const std::size_t own = jisOctets(std::string_view(line).substr(i, length), doubleByte);
        const auto added = [&] { return own + (doubleByte != inDouble ? Switch : 0); };
        if (!piece.empty() && octets + added() + (doubleByte ? Switch : 0) > MaxBodyLine) {
            pieces.push_back(std::move(piece));
            piece.clear();
            octets = 0;
            inDouble = false;
        }
        octets += added();
        inDouble = doubleByte;
        piece.append(line, i, length);
        i += length;
    }
    pieces.push_back(std::move(piece));
    return pieces;
}

// The body as ISO-2022-JP, every line short enough for SMTP.
CString jisBody(const CString& body) {
    const std::string& text = body.str();
    std::string wrapped;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find("\r\n", at), text.size());
        const std::vector<std::string> pieces = wrapForJis(text.substr(at, end - at));
        for (std::size_t i = 0; i < pieces.size(); ++i)
            wrapped += (i > 0 ? "\r\n" : "") + pieces[i];
        if (end < text.size())
            wrapped += "\r\n";
        at = end + 2;
    }
    CString jis;
    NVKTL::ToJis(CString(wrapped), jis);
    return jis;
}

// The body as UTF-8 in Base64 lines.
CString utf8Body(const CString& body) {
    const std::string encoded = NVKTL::Base64Encode(NVKTL::CleanUtf8(body).str()).str();
    std::string lines;
    for (std::size_t at = 0; at < encoded.size(); at += Base64Line)
        lines += encoded.substr(at, Base64Line) + "\r\n";
    return CString(std::move(lines));
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

} // namespace

CString CNotification::visitTime(const CString& loginDate) {
    return NVKTL::CTime::StampText(loginDate);
}

CString CNotification::body(const CString& groupName, const CString& userName,
                            const CString& loginDate) {
    return CMailTexts::fill(CMailTexts::defaultBody(VisitKind::Visit),
                            {userName, groupName, loginDate, VisitKind::Visit, CString()});
}

CMapStringToString CNotification::mailRequest(const CMapStringToString& settings) {
    const CString name = settings.Value("from_name");
    const VisitKind kind = CVisitRule::kindFrom(settings.Value("login_kind"));
    const CMailTexts::Values values{name, settings.Value("group_name"),
                                    settings.Value("login_date"), kind, settings.Value("terminal")};
    std::string text = CMailTexts::fill(CMailTexts::body(settings, kind), values).str();
    // The school's text may end without a line break; the mail's last line ends with one.
    if (text.empty() || (text.back() != '\n' && text.back() != '\r'))
        text += "\r\n";
    // A subject is one line, whatever the settings hold.
    std::string title = CMailTexts::fill(CMailTexts::subject(settings, kind), values).str();
    for (char& c : title)
        if (c == '\r' || c == '\n')
            c = ' ';
    CMapStringToString mail;
    mail.SetAt("recv_name", name);
    mail.SetAt("recv_mail", settings.Value("from_mail"));
    mail.SetAt("body", CString(std::move(text)));
    mail.SetAt("title", CString(std::move(title)));
    mail.SetAt("message_id", settings.Value("message_id"));
    mail.SetAt("message_date", settings.Value("message_date"));
    return mail;
}

CString CNotification::newMessageId(const NVKTL::CTime& now, const CString& senderAddress) {
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

bool CNotification::isMessageId(const CString& text) {
    const std::string& id = text.str();
    const std::size_t at = id.find('@');
    if (id.size() < 5 || id.size() > 250 || id.front() != '<' || id.back() != '>' ||
        at == std::string::npos)
        return false;
    const auto all = [&](std::size_t from, std::size_t to, const char* extra) {
        return std::all_of(id.begin() + static_cast<long>(from), id.begin() + static_cast<long>(to),
                           [extra](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) ||
                                      std::string_view(extra).find(c) != std::string_view::npos;
                           });
    };
    return at > 1 && at + 2 < id.size() && all(1, at, ".") && all(at + 1, id.size() - 1, ".-");
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
    // A delivery tried again carries the Date and Message-ID of its first try.
    NVKTL::CTime sent = now;
    NVKTL::CTime::FromStamp(merged.Value("message_date"), sent);
    CString date;
    sent.Format(date, "%a, %d %b %Y %H:%M:%S ");
    const CString storedId = merged.Value("message_id");
    const CString id =
        isMessageId(storedId) ? storedId : newMessageId(now, merged.Value("mail_address"));

    // Names from the data file may carry line breaks of any kind; only CR LF
    // may reach the wire, and a line that begins with "." must survive it.
    const CString body = normalizeLineEnds(merged.Value("body").str());
    const CString sender = merged.Value("mail_user");
    const CString recipient = merged.Value("recv_name");
    const CString title = merged.Value("title");
    const bool jis = NVKTL::FitsIso2022Jp(sender) && NVKTL::FitsIso2022Jp(recipient) &&
                     NVKTL::FitsIso2022Jp(title) && NVKTL::FitsIso2022Jp(body);
    const MailCharset charset = jis ? MailCharset::Iso2022Jp : MailCharset::Utf8;

    NVKTL::CMailProtocol message;
    message.SetHeader("From", mailbox("From", sender, merged.Value("mail_address"), charset));
    message.SetHeader("To", mailbox("To", recipient, merged.Value("recv_mail"), charset));
    message.SetHeader("Date", date + utcOffset(sent));
    message.SetHeader("Subject", CString(encodedWords("Subject", title, charset)));
    message.SetHeader("Content-Type", jis ? "text/plain; charset=\"ISO-2022-JP\""
                                          : "text/plain; charset=\"UTF-8\"");
    message.SetHeader("Content-Transfer-Encoding", jis ? "7bit" : "base64");
    message.SetHeader("Message-ID", id);
    message.SetHeader("MIME-Version", "1.0");

    const CString stuffed = stuffDots((jis ? jisBody(body) : utf8Body(body)).str());
    message.SetBody(stuffed.c_str(), stuffed.GetLength());
    message.Build();
    return message.GetText();
}
