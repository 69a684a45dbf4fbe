#include "admin/HistoryCsv.h"

#include "nvktl/Csv.h"

namespace HistoryCsv {

namespace {

// Visits read per page of an export.
constexpr int kPageVisits = 5000;

std::string deliveryText(const CMapStringToString& row) {
    const std::string state = row.Value("state").str();
    const std::string mail = row.Value("mail").str() + " ";
    const std::string error = row.Value("last_error").str();
    if (state == "2")
        return mail + "送信済 " + shownStamp(row.Value("sent_date"));
    if (state == "1" && row.Value("tries") != "0" && !row.Value("tries").IsEmpty())
        return mail + "再送待ち 次回 " + shownStamp(row.Value("next_try")) + " (" + error + ")";
    if (state == "1")
        return mail + "送信待ち";
    if (!error.empty())
        return mail + "送信不可 (" + error + ")";
    return mail + "送信しない";
}

} // namespace

std::vector<std::string> header() {
    return {"日時", "種別", "グループ", "名前", "端末", "通知"};
}

std::string shownStamp(const CString& stamp) {
    const std::string& s = stamp.str();
    if (s.size() < 14)
        return s;
    return s.substr(0, 4) + "/" + s.substr(4, 2) + "/" + s.substr(6, 2) + " " + s.substr(8, 2) +
           ":" + s.substr(10, 2) + ":" + s.substr(12, 2);
}

void collect(const NVKTL::vector<CMapStringToString*>& rows,
             std::vector<std::vector<std::string>>& lines) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CMapStringToString& row = *rows.at(i);
        std::string notices;
        for (const CMapStringToString& delivery : CDbAccess::historyDeliveries(row)) {
            if (!notices.empty())
                notices += "\n";
            notices += deliveryText(delivery);
        }
        lines.push_back({shownStamp(row.Value("login_date")), row.Value("login_kind").str(),
                         row.Value("group_name").str(), row.Value("user_name").str(),
                         row.Value("terminal").str(), std::move(notices)});
    }
}

Result write(CDbAccess& db, CDbAccess::HistoryFilter filter, std::ostream& out,
             const std::function<bool(long long written, const CString& reached)>& progress) {
    out << NVKTL::Csv::kByteOrderMark << NVKTL::Csv::line(header());
    long long written = 0;
    for (;;) {
        NVKTL::vector<CMapStringToString*> rows;
        const int found = db.getHistory(filter, kPageVisits, &rows);
        std::vector<std::vector<std::string>> lines;
        collect(rows, lines);
        db.releaseVector(&rows);
        if (found != 0)
            return db.lastError() == DbError::None && out.flush() ? Result::Written
                                                                  : Result::Failed;
        for (const auto& line : lines)
            out << NVKTL::Csv::line(line);
        if (!out)
            return Result::Failed;
        written += static_cast<long long>(lines.size());
        if (!progress(written, filter.beforeDate))
            return Result::Cancelled;
    }
}

} // namespace HistoryCsv
