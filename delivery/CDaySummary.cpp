#include "delivery/CDaySummary.h"

#include "data/VisitDay.h"
#include "nvktl/CTime.h"

#include <string>

namespace {

std::string shown(const CString& stamp) {
    const std::string& s = stamp.str();
    return s.size() < 12 ? s
                         : s.substr(4, 2) + "/" + s.substr(6, 2) + " " + s.substr(8, 2) + ":" +
                               s.substr(10, 2);
}

// "HH:MM" as minutes of the day; -1 when empty or unfit.
int minutesOf(const std::string& time) {
    if (time.size() != 5 || time[2] != ':')
        return -1;
    for (const std::size_t i : {0u, 1u, 3u, 4u})
        if (time[i] < '0' || time[i] > '9')
            return -1;
    const int hours = std::stoi(time.substr(0, 2)), minutes = std::stoi(time.substr(3, 2));
    return hours < 24 && minutes < 60 ? hours * 60 + minutes : -1;
}

} // namespace

bool CDaySummary::isDue(const CMapStringToString& settings, const CString& now, CString& day,
                        CString& from) {
    const int at = minutesOf(settings.Value(kTimeKey).str());
    const int startHour = VisitDay::startHour(settings.Value("day_start_hour"));
    day = VisitDay::dayOf(now, startHour);
    if (at < 0 || day.IsEmpty() || !(settings.Value(kSentDayKey) < day))
        return false;
    char start[24];
    std::snprintf(start, sizeof start, "%s%02d0000000", day.c_str(), startHour);
    from = CString(start);
    // The set time on the clock of that day: before the day's start hour it
    // belongs to the next calendar date.
    const int startMinutes = startHour * 60;
    const long long offset = (at >= startMinutes ? at : at + 24 * 60) - startMinutes;
    return NVKTL::CTime::StampMs(now) >= NVKTL::CTime::StampMs(from) + offset * 60 * 1000;
}

bool CDaySummary::worthSending(const CMapStringToString& settings, const Figures& figures) {
    return settings.Value(kSkipEmptyKey).IsEmpty() || figures.visits > 0 || figures.sent > 0 ||
           !figures.problems.empty();
}

CMapStringToString CDaySummary::mail(const CMapStringToString& settings, const CString& day,
                                     const Figures& figures) {
    const std::string& d = day.str();
    const std::string date =
        d.size() == 8 ? d.substr(0, 4) + "年" + d.substr(4, 2) + "月" + d.substr(6, 2) + "日" : d;
    std::string givenUp, waiting;
    long long givenUpCount = 0, waitingCount = 0;
    for (const CMapStringToString& row : figures.problems) {
        const bool failed = row.Value("state") == "3";
        std::string line = "・" + shown(row.Value("login_date")) + " " +
                           row.Value("group_name").str() + " " + row.Value("user_name").str() +
                           " " + row.Value("mail").str();
        if (failed)
            line += "\r\n  " + row.Value("last_error").str();
        else if (!row.Value("next_try").IsEmpty())
            line += " (次回 " + shown(row.Value("next_try")) + ")";
        (failed ? givenUp : waiting) += line + "\r\n";
        ++(failed ? givenUpCount : waitingCount);
    }
    std::string body =
        date + "の受付のまとめです。\r\n\r\n来所・入退室: " + std::to_string(figures.visits) +
        "件\r\n送信したお知らせ: " + std::to_string(figures.sent) +
        "通\r\n送信できなかったお知らせ: " + std::to_string(givenUpCount) +
        "通\r\n再送を待っているお知らせ: " + std::to_string(waitingCount) + "通\r\n";
    if (!givenUp.empty())
        body += "\r\n送信できなかったお知らせ:\r\n" + givenUp;
    if (!waiting.empty())
        body += "\r\n再送を待っているお知らせ:\r\n" + waiting;
    CMapStringToString request;
    request.SetAt("recv_name", settings.Value("mail_user"));
    request.SetAt("recv_mail", settings.Value("mail_address"));
    request.SetAt("title", CString("受付のまとめ " + date +
                                   (givenUpCount > 0 ? " (送信できなかったお知らせあり)" : "")));
    request.SetAt("body", CString(body));
    return request;
}
