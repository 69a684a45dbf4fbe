#include "admin/HistoryCsv.h"

#include "nvktl/Csv.h"

namespace HistoryCsv {

namespace {

// Visits read per page of an export.
constexpr int kPageVisits = 5000;

// One address's notice as the office reads it, added to text.
void appendDelivery(std::string& text, const CDbAccess::HistoryDelivery& delivery) {
    text += delivery.mail;
    if (delivery.state == "2") {
        text += " 送信済 ";
        text += shownStamp(delivery.sentDate);
    } else if (delivery.state == "1" && delivery.tries != "0" && !delivery.tries.empty()) {
        text += " 再送待ち 次回 ";
        text += shownStamp(delivery.nextTry);
        text += " (";
        text += delivery.lastError;
        text += ")";
    } else if (delivery.state == "1") {
        text += " 送信待ち";
    } else if (!delivery.lastError.empty()) {
        text += " 送信不可 (";
        text += delivery.lastError;
        text += ")";
    } else {
        text += " 送信しない";
    }
}

} // namespace

std::vector<std::string> header() {
    return {"日時", "種別", "グループ", "名前", "端末", "通知"};
}

std::string shownStamp(const std::string& s) {
    if (s.size() < 14)
        return s;
    std::string shown;
    shown.reserve(19);
    shown.append(s, 0, 4).append(1, '/').append(s, 4, 2).append(1, '/').append(s, 6, 2);
    shown.append(1, ' ').append(s, 8, 2).append(1, ':').append(s, 10, 2).append(1, ':');
    return shown.append(s, 12, 2);
}

void collect(const NVKTL::vector<CMapStringToString*>& rows,
             std::vector<std::vector<std::string>>& lines) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CMapStringToString& row = *rows.at(i);
        std::string notices;
        for (const CDbAccess::HistoryDelivery& delivery : CDbAccess::historyDeliveries(row)) {
            if (!notices.empty())
                notices += "\n";
            appendDelivery(notices, delivery);
        }
        lines.push_back({shownStamp(row.Value("login_date").str()), row.Value("login_kind").str(),
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
