#include "nvktl/CTime.h"

#include <gtest/gtest.h>

#include <ctime>

using NVKTL::CString;
using NVKTL::CTime;

namespace {

std::string Text(const CTime& time, const char* format) {
    CString out("stale");
    time.Format(out, format);
    return out.str();
}

CTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    auto u = [](int v) { return static_cast<std::uint16_t>(v); };
    return CTime(u(y), u(mo), 0, u(d), u(h), u(mi), u(s), u(ms));
}

TEST(CTimeTest, FormatsEveryCodeAndLeavesOtherTextAlone) {
    const CTime visit = At(2026, 12, 5, 10, 15, 30, 7);
    EXPECT_EQ(visit.Stamp(), "20261205101530007");
    EXPECT_EQ(Text(visit, "%a, %d %b %Y %H:%M:%S"), "Sat, 05 Dec 2026 10:15:30");
    EXPECT_EQ(Text(visit, "%Y%% %q %Z %"), "2026%% %q %Z %");
    EXPECT_EQ(CTime::StampText(visit.Stamp()), "2026年12月05日 10時15分");
}

TEST(CTimeTest, CountsFrom1601AndRefusesImpossibleTimes) {
    EXPECT_EQ(Text(CTime(), "%a %Y-%m-%d %H:%M:%S.%s"), "Mon 1601-01-01 00:00:00.000");
    for (const CTime& impossible :
         {At(2023, 2, 29), At(1900, 2, 29), At(2026, 4, 31), At(2026, 13, 1), At(2026, 1, 0),
          At(1600, 12, 31), At(2026, 1, 1, 24), At(2026, 1, 1, 0, 60), At(2026, 1, 1, 0, 0, 60),
          At(2026, 1, 1, 0, 0, 0, 1000)})
        EXPECT_EQ(impossible.GetTime(), 0u);
    // The calendar across century and leap rules.
    EXPECT_EQ(Text(At(1900, 3, 1), "%a %d %b") + Text(At(2000, 2, 29), " %a") +
                  Text(At(2100, 12, 31, 23, 59, 59, 999), " %a %Y%m%d%H%M%S%s"),
              "Thu 01 Mar Tue Fri 21001231235959999");
}

TEST(CTimeTest, NowIsLocalTime) {
    setenv("TZ", "JST-9", 1);
    tzset();
    char before[16], after[16];
    const std::time_t start = std::time(nullptr);
    std::strftime(before, sizeof before, "%Y%m%d%H%M", std::localtime(&start));
    const std::string now = CTime::StampNow().str().substr(0, 12);
    const std::time_t end = std::time(nullptr);
    std::strftime(after, sizeof after, "%Y%m%d%H%M", std::localtime(&end));
    unsetenv("TZ");
    tzset();
    EXPECT_TRUE(now == before || now == after) << now;
}

} // namespace
