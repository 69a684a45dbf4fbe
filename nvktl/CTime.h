#pragma once

#include "nvktl/CString.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace NVKTL {

// One point in local time, counted in 100-nanosecond steps since
// 1 January 1601, written as text through a small format notation.
class CTime {
public:
    CTime();
    // A calendar time that cannot be converted gives time 0.
    CTime(std::uint16_t year, std::uint16_t month, std::uint16_t dayOfWeek, std::uint16_t day,
          std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
          std::uint16_t millisecond);
    virtual ~CTime() = default;

    // The machine's local date and time with milliseconds (or the test clock).
    void SetNow();
    // Codes %Y %m %b %d %a %H %M %S %s, replaced in that order; %s is the
    // milliseconds. Any other "%" text, "%%" included, stays as it is.
    void Format(CString& out, const char* format) const;

    std::uint64_t GetTime() const { return m_time; }

    // The stored form of a moment ("20261205101530007": digits from the year
    // to the milliseconds), which sorts in time order.
    static constexpr const char* StampFormat = "%Y%m%d%H%M%S%s";
    CString Stamp() const;
    static CString StampNow();
    // The moment a stamp names; false (and out untouched) for any text that
    // is not 17 digits of a valid date and time.
    static bool FromStamp(const CString& stamp, CTime& out);
    // "2026年12月05日 10時15分" from a stamp, taken by byte positions, with
    // "30秒" after it when asked; parts beyond the end of a short text are
    // empty.
    static CString StampText(const CString& stamp, bool withSeconds = false);
    // A stamp as milliseconds on the calendar alone (no zone), so that two
    // stamps can be subtracted; 0 for a text that is not a stamp.
    static long long StampMs(const CString& stamp);
    // The stamp ms milliseconds later (earlier when negative).
    static CString StampPlus(const CString& stamp, long long ms);

    // Tests fix "now": while a clock is set, SetNow() takes its value.
    using Clock = std::function<CTime()>;
    static void SetClockForTesting(Clock clock);

private:
    std::uint64_t m_time = 0;
};

// Fixes "now" while it lives: SetNow() on any thread gives the time last set
// here. One at a time; destroying it returns SetNow() to the machine's clock.
class CTestClock {
public:
    explicit CTestClock(const CTime& now);
    CTestClock(const CTestClock&) = delete;
    CTestClock& operator=(const CTestClock&) = delete;
    ~CTestClock();

    void Set(const CTime& now);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace NVKTL
