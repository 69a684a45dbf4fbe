#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"

#include <string_view>

// The notification mail of one visit: the fixed Japanese text from the
// due-visit row, and the finished message in ISO-2022-JP.
class CNotification {
public:
    // "2026年12月05日 10時15分" from a "%Y%m%d%H%M%S%s" text, taken by byte
    // positions; parts beyond the end of a short text are empty.
    static CString visitTime(const CString& loginDate);

    // The five body lines, each ended by CR LF.
    static CString body(const CString& groupName, const CString& userName,
                        const CString& loginDate);

    // recv_name, recv_mail, body and title for one row (settings plus the row's
    // columns). The visitor is notified at their own address under their name.
    static CMapStringToString mailRequest(const CMapStringToString& settings);

    // Header lines From, To, Date (with the machine's offset from UTC at that
    // moment), Subject, Content-Type, Content-Transfer-Encoding, then
    // Message-ID (unique per call) and MIME-Version; names and subject as
    // encoded words on lines of at most 78 characters; an empty line and the
    // ISO-2022-JP body, every line ended by CR LF, ready for the data phase.
    static CString buildMessage(const CMapStringToString& merged, const NVKTL::CTime& now);

    // Every line break (CR LF, lone CR, lone LF) becomes CR LF, so no bare
    // line break reaches the wire.
    static CString normalizeLineEnds(std::string_view text);

    // Doubles the leading "." of every line that begins with one, the first
    // line included, so the receiver restores the text exactly.
    static CString stuffDots(std::string_view text);
};
