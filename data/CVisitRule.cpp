#include "data/CVisitRule.h"

#include "data/VisitDay.h"
#include "nvktl/CTime.h"

#include <cstdlib>

CVisitRule::CVisitRule(const CMapStringToString& settings)
    : m_inOut(settings.Value(kModeKey) == kInOutMode),
      m_dayStartHour(VisitDay::startHour(settings.Value(kDayStartKey))),
      m_guardMinutes(guardFrom(settings.Value(kGuardKey), m_inOut ? kInOutGuardMinutes : 0)) {}

int CVisitRule::guardFrom(const CString& setting, int fallback) {
    const std::string& text = setting.str();
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return fallback;
    const int minutes = std::atoi(text.c_str());
    return minutes <= kMaxGuardMinutes ? minutes : fallback;
}

const char* CVisitRule::kindText(VisitKind kind) {
    switch (kind) {
    case VisitKind::Arrival:
        return "入室";
    case VisitKind::Departure:
        return "退室";
    case VisitKind::Visit:
        break;
    }
    return "来所";
}

VisitKind CVisitRule::kindFrom(const CString& text) {
    for (const VisitKind kind : {VisitKind::Arrival, VisitKind::Departure})
        if (text == kindText(kind))
            return kind;
    return VisitKind::Visit;
}

CVisitRule::Decision CVisitRule::decide(const CString& lastDate, const CString& lastKind,
                                        const CString& now) const {
    const bool hasLast = NVKTL::CTime::StampMs(lastDate) > 0;
    if (hasLast && m_guardMinutes > 0) {
        // A clock set back leaves the last visit in the future: no guard then.
        const long long since = NVKTL::CTime::StampMs(now) - NVKTL::CTime::StampMs(lastDate);
        if (since >= 0 && since < m_guardMinutes * 60000LL)
            return {false, kindFrom(lastKind)};
    }
    if (!m_inOut)
        return {true, VisitKind::Visit};
    const bool sameDay = hasLast && VisitDay::dayOf(lastDate, m_dayStartHour) ==
                                        VisitDay::dayOf(now, m_dayStartHour);
    const bool inside = sameDay && kindFrom(lastKind) == VisitKind::Arrival;
    return {true, inside ? VisitKind::Departure : VisitKind::Arrival};
}
