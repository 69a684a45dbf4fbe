#pragma once

#include "data/CVisitRule.h"
#include "nvktl/CMapStringToString.h"

// The texts of the notification mails, one subject and one body per kind of
// visit, as the school writes them in the mail settings ("mail_subject" and
// "mail_body" for 来所, "..._in" for 入室, "..._out" for 退室). Placeholders
// in braces stand for the visit's values; an empty text is the default: for
// 来所 today's body and the subject "mail_subject", for 入室 and 退室 the same
// with the kind written in, so that a parent can tell them apart.
class CMailTexts {
public:
    static constexpr const char* kName = "{氏名}";
    static constexpr const char* kGroup = "{グループ}";
    static constexpr const char* kTime = "{日時}";
    static constexpr const char* kKind = "{種別}";
    static constexpr const char* kTerminal = "{端末}";
    static constexpr const char* kBaseSubjectKey = "mail_subject";

    struct Values {
        CString name;
        CString group;
        CString loginDate; // a stamp
        VisitKind kind = VisitKind::Visit;
        CString terminal; // empty: this machine's name
    };

    static const char* subjectKey(VisitKind kind);
    static const char* bodyKey(VisitKind kind);
    // The texts in force for kind: the setting, or the default when it is empty.
    static CString subject(const CMapStringToString& settings, VisitKind kind);
    static CString body(const CMapStringToString& settings, VisitKind kind);
    static CString defaultBody(VisitKind kind);

    // The text with every placeholder replaced by its value, in one pass (a
    // value is never read as a placeholder); anything else in braces stays.
    static CString fill(const CString& text, const Values& values);
    // The first text in braces that is no placeholder, empty when there is none.
    static CString unknownPlaceholder(const CString& text);
    // The placeholders, for the screen that explains them.
    static CString placeholderList();
};
