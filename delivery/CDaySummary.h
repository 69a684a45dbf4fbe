#pragma once

#include "nvktl/CMapStringToString.h"

#include <vector>

// The office's daily summary: once a day, at the time the mail settings give
// ("summary_time", "HH:MM"; empty: never), one mail to the administrator's
// address with the day's visits and notices, the notices given up and those
// still waiting. With "summary_skip_empty" set, a day with nothing to report
// sends nothing.
class CDaySummary {
public:
    static constexpr const char* kTimeKey = "summary_time";
    static constexpr const char* kSkipEmptyKey = "summary_skip_empty";
    static constexpr const char* kSentDayKey = "summary_sent_day";

    // The day's figures and the deliveries to report (CDbAccess::getDaySummary).
    struct Figures {
        long long visits = 0, sent = 0;
        std::vector<CMapStringToString> problems;
    };

    // Whether the summary is due at the stamp now: its time has come today
    // and the day (dayOf now, "%Y%m%d") has not had one. from is the stamp
    // where that day began.
    static bool isDue(const CMapStringToString& settings, const CString& now, CString& day,
                      CString& from);
    // False when the office wants no mail for a day like this one.
    static bool worthSending(const CMapStringToString& settings, const Figures& figures);
    // The mail (recv_name, recv_mail, title, body) for CSendThread::sendMail.
    static CMapStringToString mail(const CMapStringToString& settings, const CString& day,
                                   const Figures& figures);
};
