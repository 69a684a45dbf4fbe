#include "delivery/CMailTexts.h"

#include "nvktl/CTime.h"

#include <unistd.h>

namespace {

const char* const kPlaceholders[] = {CMailTexts::kName, CMailTexts::kGroup, CMailTexts::kTime,
                                     CMailTexts::kKind, CMailTexts::kTerminal};

CString value(std::string_view placeholder, const CMailTexts::Values& values) {
    if (placeholder == CMailTexts::kName)
        return values.name;
    if (placeholder == CMailTexts::kGroup)
        return values.group;
    if (placeholder == CMailTexts::kTime)
        return NVKTL::CTime::StampText(values.loginDate);
    if (placeholder == CMailTexts::kKind)
        return CString(CVisitRule::kindText(values.kind));
    if (!values.terminal.IsEmpty())
        return values.terminal;
    char host[256] = {};
    return ::gethostname(host, sizeof host - 1) == 0 ? CString(host) : CString();
}

bool isPlaceholder(std::string_view text) {
    for (const char* known : kPlaceholders)
        if (text == known)
            return true;
    return false;
}

// Calls found for every "{...}" of text (without a "{" inside) and other for
// the text between them.
template <typename Found, typename Other>
void scan(const std::string& text, Found found, Other other) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string::npos ? open : text.find('}', open);
        const std::size_t nextOpen = open == std::string::npos ? open : text.find('{', open + 1);
        if (close == std::string::npos) {
            other(std::string_view(text).substr(at));
            return;
        }
        if (nextOpen < close) {
            other(std::string_view(text).substr(at, nextOpen - at));
            at = nextOpen;
            continue;
        }
        other(std::string_view(text).substr(at, open - at));
        found(std::string_view(text).substr(open, close + 1 - open));
        at = close + 1;
    }
}

} // namespace

namespace {

struct Keys {
    const char* subject;
    const char* body;
};

Keys keysOf(VisitKind kind) {
    switch (kind) {
    case VisitKind::Arrival:
        return {"mail_subject_in", "mail_body_in"};
    case VisitKind::Departure:
        return {"mail_subject_out", "mail_body_out"};
    case VisitKind::Visit:
        break;
    }
    return {CMailTexts::kBaseSubjectKey, "mail_body"};
}

} // namespace

const char* CMailTexts::subjectKey(VisitKind kind) {
    return keysOf(kind).subject;
}

const char* CMailTexts::bodyKey(VisitKind kind) {
    return keysOf(kind).body;
}

CString CMailTexts::subject(const CMapStringToString& settings, VisitKind kind) {
    const CString own = settings.Value(subjectKey(kind));
    if (!own.IsEmpty() || kind == VisitKind::Visit)
        return own;
    return CString("【") + CVisitRule::kindText(kind) + "】" + settings.Value(kBaseSubjectKey);
}

CString CMailTexts::body(const CMapStringToString& settings, VisitKind kind) {
    const CString own = settings.Value(bodyKey(kind));
    return own.IsEmpty() ? defaultBody(kind) : own;
}

CString CMailTexts::defaultBody(VisitKind kind) {
    const std::string lead = kind == VisitKind::Arrival ? "「ぽすとん」に入室しました。"
                             : kind == VisitKind::Departure ? "「ぽすとん」から退室しました。"
                                                            : "「ぽすとん」にアクセスしました。";
    const std::string timeLine = kind == VisitKind::Visit
                                     ? "通知があった時間"
                                     : std::string(CVisitRule::kindText(kind)) + "した時間";
    return CString(lead + "\r\n[ " + kGroup + " ]の\r\n[ " + kName + " ]さん\r\n" + timeLine +
                   "\r\n" + kTime + "\r\n");
}

CString CMailTexts::fill(const CString& text, const Values& values) {
    std::string out;
    scan(
        text.str(),
        [&](std::string_view braced) {
            out += isPlaceholder(braced) ? value(braced, values).str() : std::string(braced);
        },
        [&](std::string_view other) { out += other; });
    return CString(std::move(out));
}

CString CMailTexts::unknownPlaceholder(const CString& text) {
    CString unknown;
    scan(
        text.str(),
        [&](std::string_view braced) {
            if (unknown.IsEmpty() && !isPlaceholder(braced))
                unknown = CString(std::string(braced));
        },
        [](std::string_view) {});
    return unknown;
}

CString CMailTexts::placeholderList() {
    std::string list;
    for (const char* known : kPlaceholders)
        list += (list.empty() ? "" : " ") + std::string(known);
    return CString(std::move(list));
}
