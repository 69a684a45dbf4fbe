#pragma once

#include "nvktl/CMapStringToString.h"

// Which day a visit belongs to. A juku's evening class may end after
// midnight, so the day of the visits starts afresh at a set hour
// ("day_start_hour", 4:00 unless set): a visit before that hour still belongs
// to the day before. The arrival/departure turn and the history's "today"
// both count days this way.
namespace VisitDay {

constexpr int kDefaultStartHour = 4;

// The hour of "day_start_hour": 0 to 23, the default when empty or unfit.
int startHour(const CString& setting);

// The day of a "%Y%m%d%H%M%S%s" stamp as "%Y%m%d"; empty for a text that is
// not a stamp.
CString dayOf(const CString& stamp, int startHour);

} // namespace VisitDay
