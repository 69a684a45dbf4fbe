#pragma once

#include "data/CDbAccess.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// The history of the visits as the office reads it, on the screen and in a
// spreadsheet: one line per visit (date and time with seconds, kind, group,
// name, terminal) with the state of its notice to each address.
namespace HistoryCsv {

// The column titles.
std::vector<std::string> header();
// The lines of the visits of one page of CDbAccess::getHistory, newest first.
void collect(const NVKTL::vector<CMapStringToString*>& rows,
             std::vector<std::vector<std::string>>& lines);
// "2026/12/05 10:15:30" from a stamp, as spreadsheets read a date.
std::string shownStamp(const std::string& stamp);

enum class Result { Written, Cancelled, Failed };
// Writes every visit of filter to out, page by page, so that the history
// never has to fit in memory. After each page, progress is told how many
// visits were written and the date reached; it answers false to stop.
Result write(CDbAccess& db, CDbAccess::HistoryFilter filter, std::ostream& out,
             const std::function<bool(long long written, const CString& reached)>& progress);

} // namespace HistoryCsv
