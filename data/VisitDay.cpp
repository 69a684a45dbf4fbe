#include "data/VisitDay.h"

#include "nvktl/CTime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int VisitDay::startHour(const CString& setting) {
    const std::string& text = setting.str();
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return kDefaultStartHour;
    const int hour = std::atoi(text.c_str());
    return hour <= 23 ? hour : kDefaultStartHour;
}

CString VisitDay::dayOf(const CString& stamp, int startHour) {
    NVKTL::CTime checked;
    if (!NVKTL::CTime::FromStamp(stamp, checked))
        return CString();
    const std::string& text = stamp.str();
    using namespace std::chrono;
    const year_month_day date{year{std::atoi(text.substr(0, 4).c_str())},
                              month{static_cast<unsigned>(std::atoi(text.substr(4, 2).c_str()))},
                              day{static_cast<unsigned>(std::atoi(text.substr(6, 2).c_str()))}};
    const bool beforeStart = std::atoi(text.substr(8, 2).c_str()) < startHour;
    const year_month_day counted{sys_days{date} - days{beforeStart ? 1 : 0}};
    char out[16];
    std::snprintf(out, sizeof out, "%04d%02u%02u", static_cast<int>(counted.year()),
                  static_cast<unsigned>(counted.month()), static_cast<unsigned>(counted.day()));
    return CString(out);
}
