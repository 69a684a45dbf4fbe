#pragma once

#include "nvktl/CMapStringToString.h"

// What a card's touch records. In the default mode every touch is a visit
// (来所). In the arrival/departure mode a pupil's touches alternate 入室,
// 退室, 入室 ... within a day, and the day starts afresh at day_start_hour, so
// a forgotten 退室 never turns the next morning's arrival into a departure.
// A touch within the double-tap guard of the pupil's last visit records
// nothing at all.
enum class VisitKind { Visit, Arrival, Departure };

class CVisitRule {
public:
    // Settings keys of t_def_data and their values; empty means the default.
    static constexpr const char* kModeKey = "notice_mode";
    static constexpr const char* kInOutMode = "inout";
    static constexpr const char* kDayStartKey = "day_start_hour";
    static constexpr const char* kGuardKey = "tap_guard_minutes";
    static constexpr int kInOutGuardMinutes = 5;
    static constexpr int kMaxGuardMinutes = 120;

    explicit CVisitRule(const CMapStringToString& settings);

    bool inOut() const { return m_inOut; }
    int dayStartHour() const { return m_dayStartHour; }
    int guardMinutes() const { return m_guardMinutes; }

    struct Decision {
        bool record;
        // What is recorded, or what the guarded touch had already recorded.
        VisitKind kind;
    };
    // The touch at now (a stamp) after the pupil's latest visit (its stamp
    // and kind text; both empty when there is none).
    Decision decide(const CString& lastDate, const CString& lastKind, const CString& now) const;

    // "来所", "入室", "退室": as stored in t_login.login_kind and shown.
    static const char* kindText(VisitKind kind);
    // The kind of a stored text; anything unknown is a visit.
    static VisitKind kindFrom(const CString& text);
    // The guard's minutes from the setting's text, or fallback when empty or unfit.
    static int guardFrom(const CString& setting, int fallback);

private:
    bool m_inOut;
    int m_dayStartHour;
    int m_guardMinutes;
};
