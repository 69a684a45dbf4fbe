// The visits (t_login), their notifications, one delivery per visit and
// address (t_send), and the summary each visit keeps of them in
// t_login.ret_send: '1' due, '2' sent, '3' not sent.
#include "data/CDbAccess.h"

#include "nvktl/CTime.h"

#include <cstdlib>

namespace {

// The claim's parameters on either store: the terminal's times for the file,
// the terminal's number and the lease's length for the server's clock.
CMapStringToString claimParams(const CString& send_id, const CString& now, const CString& until) {
    CMapStringToString params;
    params.SetAt(CString("send_id"), send_id);
    params.SetAt(CString("now"), now);
    params.SetAt(CString("until"), until);
    const long long lease = NVKTL::CTime::StampMs(until) - NVKTL::CTime::StampMs(now);
    params.SetAt(CString("lease_ms"), CString(std::to_string(lease > 0 ? lease : 0)));
    params.SetAt(CString("terminal_id"),
                 CString(std::to_string(CDbAccess::storeConfig().terminalId)));
    return params;
}

CString terminalOrNull() {
    const CStoreConfig config = CDbAccess::storeConfig();
    // Visits recorded on a file of its own name no terminal.
    if (!config.usesServer())
        return CString("null");
    return CString("'" + config.terminalName + "'");
}

} // namespace

int CDbAccess::addLogin(const CString& user_id, const CString& login_date, CString& login_id,
                        VisitKind kind) {
    const CStoreConfig config = storeConfig();
    const long long first = config.terminalId * CStoreConfig::kVisitIdsPerTerminal;
    CMapStringToString params = named({{"user_id", user_id},
                                       {"login_date", login_date},
                                       {"terminal", terminalOrNull()},
                                       {"login_kind", CString(CVisitRule::kindText(kind))},
                                       {"first", CString(std::to_string(first))}});
    // A terminal of a server numbers its visits in a range of its own, so
    // that no two terminals ever hand out the same id.
    const bool ownRange = config.usesServer() && m_db == m_pMdb;
    CString id;
    const int result = runBatch([&] {
        if (ownRange &&
            !(run(Sql::VisitNumberingStart, &params) && run(Sql::VisitNumbering, &params)))
            return false;
        if (!selectFirst(Sql::VisitInsert, &params, "login_id", id))
            return false;
        params.SetAt(CString("login_id"), id);
        return run(Sql::VisitDeliveriesInsert, &params) &&
               run(Sql::VisitWithoutDeliveries, &params);
    });
    if (result == 0)
        login_id = id;
    return result;
}

CDbAccess::Touch CDbAccess::addTouch(const CString& user_id, const CString& login_date,
                                     const CVisitRule& rule, VisitKind& kind, CString& login_id) {
    CString lastDate, lastKind;
    // Every touch a visit and no guard (the default): nothing to look up.
    if (rule.inOut() || rule.guardMinutes() > 0)
        getLastVisit(user_id, lastDate, lastKind);
    const CVisitRule::Decision decision = rule.decide(lastDate, lastKind, login_date);
    kind = decision.kind;
    if (!decision.record)
        return Touch::AlreadyRecorded;
    return addLogin(user_id, login_date, login_id, kind) == 0 ? Touch::Recorded : Touch::Failed;
}

int CDbAccess::getLastVisit(const CString& user_id, CString& login_date, CString& login_kind) {
    const CMapStringToString params = named({{"user_id", user_id}});
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(Sql::LastVisit, &rows, &params);
    if (found == 0) {
        login_date = rows.at(0)->Value("login_date");
        login_kind = rows.at(0)->Value("login_kind");
    }
    m_pMdb->releaseVector(&rows);
    return found;
}

int CDbAccess::getRecentVisits(const CString& since, NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params = named({{"since", since}});
    return selectInto(Sql::RecentVisits, rows, &params);
}

int CDbAccess::keepSeenVisits(const NVKTL::vector<CMapStringToString*>& rows) {
    return runBatch([&] {
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (!run(Sql::SeenVisitKeep, rows.at(i)))
                return false;
        return true;
    });
}

int CDbAccess::skipLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params =
        named({{"login_id", login_id}, {"ret_send_date", ret_send_date}});
    return runBatch(
        [&] { return run(Sql::VisitDeliveriesSkip, &params) && run(Sql::VisitSkip, &params); });
}

int CDbAccess::getSendLogin(NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params = named({{"now", NVKTL::CTime::StampNow()}});
    return selectInto(Sql::DueDeliveries, rows, &params);
}

int CDbAccess::getWaitingCount() {
    CString count;
    if (!selectFirst(Sql::WaitingCount, nullptr, "waiting", count))
        return 0;
    return std::atoi(count.c_str());
}

int CDbAccess::getWaitingList(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(Sql::WaitingList, rows, nullptr);
}

int CDbAccess::hurryDelivery(const CString& send_id) {
    const CMapStringToString params = named({{"send_id", send_id}});
    return store(Sql::DeliveryHurry, &params);
}

int CDbAccess::claimDelivery(const CString& send_id, const CString& now, const CString& until,
                             CString& message_id, CString& message_date) {
    CMapStringToString params = claimParams(send_id, now, until);
    params.SetAt(CString("message_id"), message_id);
    params.SetAt(CString("message_date"), message_date);
    bool claimed = false;
    CString id, date;
    const IDbConnection::RowVisitor take = [&](CMapStringToString& row) {
        claimed = true;
        id = row.Value("message_id");
        date = row.Value("message_date");
    };
    if (m_db == nullptr || !runOn(*m_db, Sql::DeliveryClaim, &params, &take) || !claimed)
        return -1;
    message_id = id;
    message_date = date;
    return 0;
}

int CDbAccess::releaseDelivery(const CString& send_id) {
    const CMapStringToString params = claimParams(send_id, CString(), CString());
    return store(Sql::DeliveryRelease, &params);
}

int CDbAccess::releaseClaims() {
    const CMapStringToString params = claimParams(CString(), CString(), CString());
    return store(Sql::ClaimsRelease, &params);
}

int CDbAccess::sendDelivery(const CString& send_id, const CString& sent_date) {
    const CMapStringToString params = named({{"send_id", send_id}, {"ret_send_date", sent_date}});
    return runBatch([&] {
        // A resent delivery leaves the error list once it has gone out.
        return run(Sql::SentErrorsDelete, &params) && run(Sql::DeliverySent, &params) &&
               run(Sql::VisitSummary, &params);
    });
}

int CDbAccess::retryDelivery(const CString& send_id, const CString& next_try,
                             const CString& error_msg) {
    const CMapStringToString params =
        named({{"send_id", send_id}, {"next_try", next_try}, {"error_msg", error_msg}});
    return store(Sql::DeliveryRetry, &params);
}

int CDbAccess::failDelivery(const CString& send_id, const CString& error_date,
                            const CString& error_msg) {
    const CMapStringToString params = named({{"send_id", send_id},
                                             {"ret_send_date", error_date},
                                             {"error_date", error_date},
                                             {"error_msg", error_msg}});
    return runBatch([&] {
        // One error row per delivery: a failed resend renews its row.
        return run(Sql::DeliveryFail, &params) && run(Sql::ErrorRenew, &params) &&
               run(Sql::ErrorInsert, &params) && run(Sql::VisitSummary, &params);
    });
}

int CDbAccess::resendMailError(const CString& error_no, const CString& date) {
    CMapStringToString params = named({{"error_no", error_no}, {"ret_send_date", date}});
    return runBatch([&] {
        // Only this row's address is due again; an error row from before
        // deliveries were kept gets its delivery now.
        CString sendId;
        if (!run(Sql::ErrorDeliveryInsert, &params) ||
            !selectFirst(Sql::ErrorDeliveryFind, &params, "send_id", sendId))
            return false;
        params.SetAt(CString("send_id"), sendId);
        return run(Sql::ErrorDeliveryDue, &params) && run(Sql::VisitSummary, &params);
    });
}
