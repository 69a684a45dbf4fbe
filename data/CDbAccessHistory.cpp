// The office's view of the data: the history of the visits, who is in now,
// the daily summary, the retention limit and the roster as a spreadsheet.
#include "data/CDbAccess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace {

CString number(long long value) {
    return CString(std::to_string(value));
}

} // namespace

int CDbAccess::getHistory(HistoryFilter& filter, int limit,
                          NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params = named({{"from", filter.from},
                                             {"before_date", filter.beforeDate},
                                             {"before_id", number(filter.beforeId)},
                                             {"group_id", number(filter.groupId)},
                                             {"name", filter.namePart},
                                             {"limit", number(limit)}});
    const std::size_t before = rows->size();
    const int found = selectInto(
        filter.namePart.IsEmpty() ? Sql::HistoryPage : Sql::HistoryPageByName, rows, &params);
    // Rows come newest first: the last one is the point the next page
    // continues below.
    if (found == 0) {
        const CMapStringToString& last = *rows->at(rows->size() - 1);
        filter.beforeDate = last.Value("login_date");
        filter.beforeId = std::atoll(last.Value("login_id").c_str());
    }
    return rows->size() > before ? 0 : -1;
}

std::vector<CDbAccess::HistoryDelivery>
CDbAccess::historyDeliveries(const CMapStringToString& visit) {
    std::vector<HistoryDelivery> deliveries;
    const CString packed = visit.Value("deliveries");
    std::string_view text = packed.str();
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\x1e'), text.size());
        std::string_view rest = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        HistoryDelivery& delivery = deliveries.emplace_back();
        for (std::string* field : {&delivery.mail, &delivery.state, &delivery.tries,
                                   &delivery.nextTry, &delivery.lastError, &delivery.sentDate}) {
            const std::size_t stop = std::min(rest.find('\x1f'), rest.size());
            field->assign(rest.substr(0, stop));
            rest.remove_prefix(std::min(stop + 1, rest.size()));
        }
    }
    return deliveries;
}

int CDbAccess::getPresent(const CString& since, NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params =
        named({{"since", since}, {"kind", CString(CVisitRule::kindText(VisitKind::Arrival))}});
    return selectInto(Sql::PresentNow, rows, &params);
}

int CDbAccess::getDaySummary(const CString& from, const CString& to, DaySummary& summary,
                             NVKTL::vector<CMapStringToString*>* problems) {
    const CMapStringToString params = named({{"from", from}, {"to", to}});
    NVKTL::vector<CMapStringToString*> counts;
    if (selectInto(Sql::DaySummary, &counts, &params) != 0)
        return -1;
    summary.visits = std::atoll(counts.at(0)->Value("visits").c_str());
    summary.sent = std::atoll(counts.at(0)->Value("sent").c_str());
    releaseVector(&counts);
    // An empty list is an answer too; only a failed statement is not.
    const IDbConnection::RowVisitor keep = [problems](CMapStringToString& row) {
        problems->push_back(new CMapStringToString(std::move(row)));
    };
    return m_db != nullptr && runOn(*m_db, Sql::DayProblems, &params, &keep) ? 0 : -1;
}

int CDbAccess::claimDaySummary(const CString& day) {
    const CMapStringToString params = named({{"day", day}});
    CString taken;
    int result = -1;
    runBatch([&] {
        result = selectFirst(Sql::SummaryClaim, &params, "column_value", taken) ? 0 : -1;
        return true;
    });
    return result;
}

long long CDbAccess::countVisitsBefore(const CString& before, CString& oldest) {
    const CMapStringToString params = named({{"before", before}});
    NVKTL::vector<CMapStringToString*> rows;
    if (selectInto(Sql::RetentionCount, &rows, &params) != 0)
        return -1;
    const long long visits = std::atoll(rows.at(0)->Value("visits").c_str());
    oldest = rows.at(0)->Value("oldest");
    releaseVector(&rows);
    return visits;
}

int CDbAccess::deleteVisitsBefore(const CString& before, bool keepOutbox) {
    const CMapStringToString params =
        named({{"before", before}, {"keep_outbox", CString(keepOutbox ? "1" : "0")}});
    return runBatch([&] {
        return run(Sql::RetentionErrorsDelete, &params) &&
               run(Sql::RetentionDeliveriesDelete, &params) &&
               run(Sql::RetentionVisitsDelete, &params);
    });
}

CString CDbAccess::retentionStart(const CString& now, int months) {
    const std::string& stamp = now.str();
    if (stamp.size() != 17 || months <= 0)
        return CString();
    int year = std::atoi(stamp.substr(0, 4).c_str());
    int month = std::atoi(stamp.substr(4, 2).c_str()) - months;
    while (month < 1) {
        month += 12;
        --year;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    const int day = std::min(std::atoi(stamp.substr(6, 2).c_str()), last);
    char start[24];
    std::snprintf(start, sizeof start, "%04d%02d%02d%s", year, month, day, stamp.c_str() + 8);
    return CString(start);
}

int CDbAccess::applyRetention(const CString& now) {
    CMapStringToString settings;
    getDefault(settings);
    const CString months = settings.Value(kRetentionKey);
    const int kept = std::atoi(months.c_str());
    if (kept <= 0 || settings.Value(kRetentionConfirmedKey) != months)
        return 0;
    const CString start = retentionStart(now, kept);
    if (deleteVisitsBefore(start) != 0)
        return -1;
    // A terminal of a server keeps its own copy of the visits it sent up:
    // the limit holds for that copy too.
    return m_server ? CDbAccess(Store::Terminal).deleteVisitsBefore(start, true) : 0;
}

int CDbAccess::getRosterLines(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(Sql::RosterLines, rows, nullptr);
}

int CDbAccess::importRoster(const std::vector<CString>& groups,
                            const std::vector<RosterPupil>& pupils) {
    return runBatch([&] {
        long groupOrder = getGroupMaxOrder();
        std::map<std::string, CString> groupIds;
        // A group by its name, added at the end of the order when new.
        const auto groupId = [&](const CString& name, CString& id) {
            if (const auto known = groupIds.find(name.str()); known != groupIds.end()) {
                id = known->second;
                return true;
            }
            const CMapStringToString params = named({{"group_name", name}});
            if (!selectFirst(Sql::GroupIdByName, &params, "group_id", id) &&
                (saveGroup(CString(), name, ++groupOrder) != 0 ||
                 !selectFirst(Sql::GroupIdByName, &params, "group_id", id)))
                return false;
            groupIds[name.str()] = id;
            return true;
        };
        CString id;
        for (const CString& name : groups)
            if (!groupId(name, id))
                return false;
        long userOrder = getUserMaxOrder();
        for (const RosterPupil& pupil : pupils) {
            if (!groupId(pupil.groupName, id))
                return false;
            const int order = getUserOrder(pupil.userId);
            const CString first = pupil.mails.empty() ? CString() : pupil.mails.front();
            if (saveUser(pupil.userId, pupil.userName, first, id, order != -1 ? order : ++userOrder,
                         pupil.noticeOff) != 0 ||
                deleteMail(pupil.userId) != 0)
                return false;
            for (const CString& mail : pupil.mails)
                if (addMail(pupil.userId, mail) != 0)
                    return false;
        }
        return true;
    });
}
