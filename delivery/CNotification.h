#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"

#include <string_view>

// The notification mail of one visit: the fixed Japanese text from the
// due-visit row, and the finished message: ISO-2022-JP when every text of it
// fits, else UTF-8, so that names arrive as they were written.
class CNotification {
public:
    // "2026年12月05日 10時15分" from a "%Y%m%d%H%M%S%s" text, taken by byte
    // positions; parts beyond the end of a short text are empty.
    static CString visitTime(const CString& loginDate);

    // The five body lines of a visit's default text, each ended by CR LF.
    static CString body(const CString& groupName, const CString& userName,
                        const CString& loginDate);

    // recv_name, recv_mail, body and title for one row (settings plus the row's
    // columns), with the row's message_id and message_date: the texts of the
    // visit's kind (CMailTexts) with its values. The visitor is notified at
    // their own address under their name.
    static CMapStringToString mailRequest(const CMapStringToString& settings);

    // Header lines From, To, Date, Subject, Content-Type,
    // Content-Transfer-Encoding, Message-ID and MIME-Version; names and
    // subject as encoded words on lines of at most 78 characters (an empty
    // name or subject as none); an empty line and the body, every line ended
    // by CR LF and at most 998 octets long, ready for the data phase.
    // The Date is message_date (a stamp; the machine's offset from UTC at
    // that moment) and the Message-ID message_id, so that every try of one
    // delivery carries the same; either is made from now when missing or
    // unfit for a header.
    // The body is ISO-2022-JP (7bit) when the sender's name, the recipient's
    // name, the subject and the body all fit it, else UTF-8 (base64); the
    // encoded words follow the same choice.
    static CString buildMessage(const CMapStringToString& merged, const NVKTL::CTime& now);

    // A new identifier "<time.count.random@domain>", unique per call even
    // within one millisecond and across terminals sharing a sender address.
    static CString newMessageId(const NVKTL::CTime& now, const CString& senderAddress);
    // Whether text is an identifier newMessageId could have made, and so safe
    // for a header line.
    static bool isMessageId(const CString& text);

    // Every line break (CR LF, lone CR, lone LF) becomes CR LF, so no bare
    // line break reaches the wire.
    static CString normalizeLineEnds(std::string_view text);

    // Doubles the leading "." of every line that begins with one, the first
    // line included, so the receiver restores the text exactly.
    static CString stuffDots(std::string_view text);
};
