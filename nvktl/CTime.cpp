#include "nvktl/CTime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

namespace NVKTL {

namespace {

constexpr std::uint64_t kPerMillisecond = 10'000;
constexpr std::uint64_t kPerSecond = 1000 * kPerMillisecond;
constexpr std::uint64_t kPerDay = 86'400 * kPerSecond;

// Days since 1 March of year 0 in the proleptic Gregorian calendar, and back.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + static_cast<std::int64_t>(doe);
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const auto doe = static_cast<unsigned>(z - era * 146'097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// constexpr, so that times built during static initialisation elsewhere are right.
constexpr std::int64_t kDay1601 = DaysFromCivil(1601, 1, 1);

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

std::mutex g_clockMutex;

// Built on first use, so that it works from other files' static initialisers too.
CTime::Clock& TestClock() {
    static CTime::Clock clock;
    return clock;
}

} // namespace

CTime::CTime() = default;

// The day of the week is ignored, as the date alone fixes it.
CTime::CTime(std::uint16_t year, std::uint16_t month, std::uint16_t /*dayOfWeek*/,
             std::uint16_t day, std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
             std::uint16_t millisecond) {
    // Years past 30827 would not fit the signed 64-bit range that Format accepts.
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
        millisecond > 999)
        return;
    const auto days = static_cast<std::uint64_t>(DaysFromCivil(year, month, day) - kDay1601);
    m_time = days * kPerDay + ((hour * 60ULL + minute) * 60 + second) * kPerSecond +
             millisecond * kPerMillisecond;
}

CString CTime::Stamp() const {
    CString text;
    Format(text, StampFormat);
    return text;
}

CString CTime::StampNow() {
    CTime now;
    now.SetNow();
    return now.Stamp();
}

bool CTime::FromStamp(const CString& stamp, CTime& out) {
    const std::string& text = stamp.str();
    if (text.size() != 17 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    auto field = [&text](std::size_t at, std::size_t length) {
        return static_cast<std::uint16_t>(std::stoi(text.substr(at, length)));
    };
    const CTime moment(field(0, 4), field(4, 2), 0, field(6, 2), field(8, 2), field(10, 2),
                       field(12, 2), field(14, 3));
    if (moment.GetTime() == 0)
        return false;
    out = moment;
    return true;
}

CString CTime::StampText(const CString& stamp, bool withSeconds) {
    const std::string& date = stamp.str();
    auto part = [&date](std::size_t at, std::size_t length) {
        return at < date.size() ? date.substr(at, length) : std::string();
    };
    return CString(part(0, 4) + "年" + part(4, 2) + "月" + part(6, 2) + "日 " + part(8, 2) + "時" +
                   part(10, 2) + "分" + (withSeconds ? part(12, 2) + "秒" : std::string()));
}

long long CTime::StampMs(const CString& stamp) {
    const std::string& text = stamp.str();
    if (text.size() != 17 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    auto field = [&text](std::size_t at, std::size_t length) {
        return std::atoi(text.substr(at, length).c_str());
    };
    using namespace std::chrono;
    const sys_days day = year{field(0, 4)} / month{static_cast<unsigned>(field(4, 2))} /
                         std::chrono::day{static_cast<unsigned>(field(6, 2))};
    return duration_cast<milliseconds>(day.time_since_epoch()).count() +
           ((field(8, 2) * 60LL + field(10, 2)) * 60 + field(12, 2)) * 1000 + field(14, 3);
}

CString CTime::StampPlus(const CString& stamp, long long ms) {
    // Stamps are local calendar times; the arithmetic is on the calendar alone.
    const long long total = StampMs(stamp) + ms;
    using namespace std::chrono;
    const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(total)));
    const year_month_day date(day);
    const long long rest = total - duration_cast<milliseconds>(day.time_since_epoch()).count();
    char text[96];
    std::snprintf(text, sizeof text, "%04d%02u%02u%02lld%02lld%02lld%03lld", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), rest / 3600000, rest / 60000 % 60,
                  rest / 1000 % 60, rest % 1000);
    return CString(text);
}

void CTime::SetClockForTesting(Clock clock) {
    std::lock_guard<std::mutex> guard(g_clockMutex);
    TestClock() = std::move(clock);
}

void CTime::SetNow() {
    Clock clock;
    {
        std::lock_guard<std::mutex> guard(g_clockMutex);
        clock = TestClock();
    }
    if (clock) {
        *this = clock();
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    *this =
        CTime(static_cast<std::uint16_t>(local.tm_year + 1900),
              static_cast<std::uint16_t>(local.tm_mon + 1),
              static_cast<std::uint16_t>(local.tm_wday), static_cast<std::uint16_t>(local.tm_mday),
              static_cast<std::uint16_t>(local.tm_hour), static_cast<std::uint16_t>(local.tm_min),
              // A leap second shows as second 59.
              static_cast<std::uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec),
              static_cast<std::uint16_t>(now.tv_nsec / 1'000'000));
}

void CTime::Format(CString& out, const char* format) const {
    if (!format || m_time > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        out = CString();
        return;
    }
    const std::int64_t days = static_cast<std::int64_t>(m_time / kPerDay) + kDay1601;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    const std::uint64_t inDay = m_time % kPerDay;
    const int hour = static_cast<int>(inDay / (3600 * kPerSecond));
    const int minute = static_cast<int>(inDay / (60 * kPerSecond) % 60);
    const int second = static_cast<int>(inDay / kPerSecond % 60);
    const int millisecond = static_cast<int>(inDay / kPerMillisecond % 1000);
    // 1 January 1601 was a Monday.
    const auto weekday = static_cast<int>((m_time / kPerDay + 1) % 7);

    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    auto number = [](const char* pattern, long value) {
        CString digits;
        digits.Format(pattern, value);
        return digits;
    };

    // Built aside, so that format may be the text of out itself.
    CString text(format);
    text.Replace("%Y", number("%04ld", static_cast<long>(year)).str());
    text.Replace("%m", number("%02ld", month).str());
    text.Replace("%b", months[month - 1]);
    text.Replace("%d", number("%02ld", day).str());
    text.Replace("%a", weekdays[weekday]);
    text.Replace("%H", number("%02ld", hour).str());
    text.Replace("%M", number("%02ld", minute).str());
    text.Replace("%S", number("%02ld", second).str());
    text.Replace("%s", number("%03ld", millisecond).str());
    out = std::move(text);
}

struct CTestClock::State {
    std::mutex mutex;
    CTime now;
};

CTestClock::CTestClock(const CTime& now) : m_state(std::make_shared<State>()) {
    m_state->now = now;
    CTime::SetClockForTesting([state = m_state] {
        std::lock_guard<std::mutex> guard(state->mutex);
        return state->now;
    });
}

CTestClock::~CTestClock() {
    CTime::SetClockForTesting(nullptr);
}

void CTestClock::Set(const CTime& now) {
    std::lock_guard<std::mutex> guard(m_state->mutex);
    m_state->now = now;
}

} // namespace NVKTL
