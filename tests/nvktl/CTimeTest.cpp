#include "nvktl/CTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

using NVKTL::CString;
using NVKTL::CTestClock;
using NVKTL::CTime;

namespace {

std::string Text(const CTime& time, const char* format) {
    CString out("stale");
    time.Format(out, format);
    return out.str();
}

CTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
         int millisecond = 0) {
    auto u16 = [](int v) { return static_cast<std::uint16_t>(v); };
    return CTime(u16(year), u16(month), 0, u16(day), u16(hour), u16(minute), u16(second),
                 u16(millisecond));
}

const CTime kVisit = At(2026, 12, 5, 10, 15, 30, 7);

} // namespace

TEST(CTimeTest, FormatsTheTextsTheSystemStores) {
    EXPECT_EQ(Text(kVisit, "%Y%m%d%H%M%S%s"), "20261205101530007");
    EXPECT_EQ(Text(kVisit, "%a, %d %b %Y %H:%M:%S +0900"), "Sat, 05 Dec 2026 10:15:30 +0900");
    EXPECT_EQ(Text(kVisit, "%H%M"), "1015");
}

TEST(CTimeTest, CompositeAndRarelyUsedCodes) {
    EXPECT_EQ(Text(kVisit, "%c"), "12/05/26 10:15:30");
    EXPECT_EQ(Text(kVisit, "%x|%X|%Z"), "12/05/26|10:15:30|JST");
    EXPECT_EQ(Text(At(2050, 1, 2), "%y"), "50");
    EXPECT_EQ(Text(At(2026, 1, 1, 0), "%I%p"), "12AM");
    EXPECT_EQ(Text(At(2026, 1, 1, 11), "%I%p"), "11AM");
    EXPECT_EQ(Text(At(2026, 1, 1, 12), "%I%p"), "12PM");
    EXPECT_EQ(Text(At(2026, 1, 1, 23), "%I%p"), "11PM");
}

TEST(CTimeTest, TextOutsideCodesStaysAsItIs) {
    EXPECT_EQ(Text(kVisit, "%Y%%"), "2026%%");
    EXPECT_EQ(Text(kVisit, "date: %q %"), "date: %q %");
    EXPECT_EQ(Text(kVisit, ""), "");
    EXPECT_EQ(Text(kVisit, nullptr), "");
}

TEST(CTimeTest, TimeZeroIsMondayTheFirstOf1601) {
    EXPECT_EQ(CTime().GetTime(), 0u);
    EXPECT_EQ(Text(CTime(), "%a %Y-%m-%d %H:%M:%S.%s"), "Mon 1601-01-01 00:00:00.000");
    EXPECT_EQ(At(1601, 1, 1).GetTime(), 0u);
    // The Unix epoch on the 100-nanosecond scale from 1601.
    EXPECT_EQ(At(1970, 1, 1).GetTime(), 116444736000000000u);
    EXPECT_EQ(At(1970, 1, 1, 0, 0, 0, 1).GetTime(), 116444736000010000u);
}

TEST(CTimeTest, ImpossibleCalendarTimesGiveZero) {
    EXPECT_EQ(At(2023, 2, 29).GetTime(), 0u);
    EXPECT_EQ(At(1900, 2, 29).GetTime(), 0u);
    EXPECT_NE(At(2000, 2, 29).GetTime(), 0u);
    EXPECT_EQ(At(2026, 13, 1).GetTime(), 0u);
    EXPECT_EQ(At(2026, 4, 31).GetTime(), 0u);
    EXPECT_EQ(At(2026, 1, 0).GetTime(), 0u);
    EXPECT_EQ(At(1600, 12, 31).GetTime(), 0u);
    EXPECT_EQ(At(2026, 1, 1, 24).GetTime(), 0u);
    EXPECT_EQ(At(2026, 1, 1, 0, 60).GetTime(), 0u);
    EXPECT_EQ(At(2026, 1, 1, 0, 0, 60).GetTime(), 0u);
    EXPECT_EQ(At(2026, 1, 1, 0, 0, 0, 1000).GetTime(), 0u);
    EXPECT_EQ(Text(At(65535, 12, 31), "%Y"), "1601");
}

TEST(CTimeTest, CalendarAgreesWithTheCLibraryDayByDay) {
    // Every tenth day from 1900 to 2400, checked against gmtime's calendar.
    for (std::time_t day = -2208988800; day < 13574563200; day += 10 * 86400) {
        std::tm utc{};
        ASSERT_NE(gmtime_r(&day, &utc), nullptr);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%d %a %b", &utc);
        const CTime time = At(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, 23, 59, 59, 999);
        ASSERT_EQ(Text(time, "%Y-%m-%d %a %b"), expected);
        ASSERT_EQ(Text(time, "%H%M%S%s"), "235959999");
    }
}

TEST(CTimeTest, StoredTextsSortInTimeOrder) {
    const CTime times[] = {At(2026, 12, 31, 23, 59, 59, 999), At(2027, 1, 1),
                           At(2027, 1, 1, 0, 0, 0, 1), At(2027, 1, 1, 9), At(2027, 10, 1)};
    for (std::size_t i = 1; i < std::size(times); ++i) {
        EXPECT_LT(times[i - 1].GetTime(), times[i].GetTime());
        EXPECT_LT(Text(times[i - 1], "%Y%m%d%H%M%S%s"), Text(times[i], "%Y%m%d%H%M%S%s"));
    }
}

TEST(CTimeTest, SetNowTakesLocalTimeNotUtc) {
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    setenv("TZ", "JST-9", 1);
    tzset();

    auto localText = [] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::tm local{};
        localtime_r(&now.tv_sec, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
        return std::string(text);
    };
    const std::string before = localText();
    CTime now;
    now.SetNow();
    const std::string after = localText();
    const std::string taken = Text(now, "%Y%m%d%H%M%S");

    if (saved)
        setenv("TZ", savedZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_LE(before, taken);
    EXPECT_LE(taken, after);
    EXPECT_EQ(Text(now, "%Z"), "JST");
}

TEST(CTimeTest, TestClockFixesNowUntilItEnds) {
    CTime now;
    {
        CTestClock clock(kVisit);
        now.SetNow();
        EXPECT_EQ(now.GetTime(), kVisit.GetTime());
        clock.Set(At(2027, 1, 1, 18));
        now.SetNow();
        EXPECT_EQ(Text(now, "%H%M"), "1800");
    }
    now.SetNow();
    EXPECT_GT(now.GetTime(), At(2026, 1, 1).GetTime());
    EXPECT_NE(now.GetTime(), At(2027, 1, 1, 18).GetTime());
}

TEST(CTimeTest, TestClockCanBeMovedWhileAnotherThreadReadsIt) {
    const CTime first = At(2026, 1, 1, 8);
    const CTime second = At(2026, 1, 1, 20);
    CTestClock clock(first);
    int unexpected = 0;
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) {
            CTime now;
            now.SetNow();
            if (now.GetTime() != first.GetTime() && now.GetTime() != second.GetTime())
                ++unexpected;
        }
    });
    for (int i = 0; i < 2000; ++i)
        clock.Set(i % 2 ? first : second);
    reader.join();
    EXPECT_EQ(unexpected, 0);
}
