// The visits (t_login), their notifications, one delivery per visit and
// address (t_send), and the summary each visit keeps of them in
// t_login.ret_send: '1' due, '2' sent, '3' not sent.
#include "data/CDbAccess.h"

#include "nvktl/CTime.h"

#include <cstdlib>

namespace {

// '1' while any delivery is due, '3' when one ended unsent or there was none
// at all, else '2'.
constexpr const char* kSummary =
    "UPDATE t_login SET ret_send = CASE WHEN EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = "
    "t_login.login_id AND s.state = '1') THEN '1' WHEN EXISTS (SELECT 1 FROM t_send s WHERE "
    "s.login_id = t_login.login_id AND s.state = '3') OR NOT EXISTS (SELECT 1 FROM t_send s "
    "WHERE s.login_id = t_login.login_id) THEN '3' ELSE '2' END, ret_send_date = "
    "'?ret_send_date' WHERE login_id = (SELECT login_id FROM t_send WHERE send_id = ?send_id)";

} // namespace

int CDbAccess::addLogin(const CString& user_id, const CString& login_date, CString& login_id) {
    CMapStringToString params = named({{"user_id", user_id}, {"login_date", login_date}});
    CString id;
    const int result = runBatch([&] {
        if (!run("INSERT INTO t_login (user_id, login_date, ret_send) VALUES ('?user_id', "
                 "'?login_date', '1')",
                 &params) ||
            !selectFirst("SELECT last_insert_rowid() as login_id", nullptr, "login_id", id))
            return false;
        params.SetAt(CString("login_id"), id);
        // The addresses, name and group of this moment go with the visit.
        return run("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                   "SELECT ?login_id, m.mail, u.user_name, g.group_name, '1', 0 FROM t_mail m "
                   "JOIN t_user u ON u.user_id = m.user_id LEFT JOIN t_group g ON g.group_id = "
                   "u.group_id WHERE m.user_id = '?user_id' AND m.mail <> '' ORDER BY m.rowid",
                   &params) &&
               run("UPDATE t_login SET ret_send = '3' WHERE login_id = ?login_id AND NOT EXISTS "
                   "(SELECT 1 FROM t_send WHERE login_id = ?login_id)",
                   &params);
    });
    if (result == 0)
        login_id = id;
    return result;
}

int CDbAccess::skipLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params =
        named({{"login_id", login_id}, {"ret_send_date", ret_send_date}});
    return runBatch([&] {
        return run("UPDATE t_send SET state = '3' WHERE login_id = ?login_id AND state = '1'",
                   &params) &&
               run("UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = '3' WHERE "
                   "login_id = ?login_id",
                   &params);
    });
}

int CDbAccess::getSendLogin(NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params = named({{"now", NVKTL::CTime::StampNow()}});
    return selectInto(
        CString("SELECT s.send_id, s.group_name, b.user_id, s.user_name as from_name, s.mail as "
                "from_mail, b.login_id, b.login_date, s.tries FROM t_send s JOIN t_login b ON "
                "b.login_id = s.login_id WHERE s.state = '1' AND (s.next_try IS NULL OR "
                "s.next_try <= '?now') AND (s.claim_until IS NULL OR s.claim_until < '?now') "
                "ORDER BY b.login_date ASC, s.send_id ASC"),
        rows, &params);
}

int CDbAccess::getWaitingCount() {
    CString count;
    if (!selectFirst("SELECT count(*) as waiting FROM t_send WHERE state = '1' AND tries > 0",
                     nullptr, "waiting", count))
        return 0;
    return std::atoi(count.c_str());
}

int CDbAccess::getWaitingList(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(CString("SELECT s.send_id, s.mail, b.login_date, s.tries, s.next_try, "
                              "s.last_error, s.user_name, s.group_name FROM t_send s JOIN t_login "
                              "b ON b.login_id = s.login_id WHERE s.state = '1' AND s.tries > 0 "
                              "ORDER BY s.next_try ASC, s.send_id ASC"),
                      rows, nullptr);
}

int CDbAccess::hurryDelivery(const CString& send_id) {
    const CMapStringToString params = named({{"send_id", send_id}});
    return store("UPDATE t_send SET next_try = NULL WHERE send_id = ?send_id AND state = '1'",
                 &params);
}

int CDbAccess::claimDelivery(const CString& send_id, const CString& now, const CString& until,
                             CString& message_id, CString& message_date) {
    const CMapStringToString params = named({{"send_id", send_id},
                                             {"now", now},
                                             {"until", until},
                                             {"message_id", message_id},
                                             {"message_date", message_date}});
    CString id, date;
    const int result = runBatch([&] {
        // Inside the transaction nobody else can take it between look and mark.
        return selectAny("SELECT 1 as due FROM t_send WHERE send_id = ?send_id AND state = '1' "
                         "AND (claim_until IS NULL OR claim_until < '?now')",
                         &params) == 0 &&
               run("UPDATE t_send SET claim_until = '?until', message_id = "
                   "COALESCE(NULLIF(message_id, ''), '?message_id'), message_date = "
                   "COALESCE(NULLIF(message_date, ''), '?message_date') WHERE send_id = ?send_id",
                   &params) &&
               selectFirst("SELECT message_id FROM t_send WHERE send_id = ?send_id", &params,
                           "message_id", id) &&
               selectFirst("SELECT message_date FROM t_send WHERE send_id = ?send_id", &params,
                           "message_date", date);
    });
    if (result == 0) {
        message_id = id;
        message_date = date;
    }
    return result;
}

int CDbAccess::releaseDelivery(const CString& send_id) {
    const CMapStringToString params = named({{"send_id", send_id}});
    return store("UPDATE t_send SET claim_until = NULL WHERE send_id = ?send_id AND state = '1'",
                 &params);
}

int CDbAccess::releaseClaims() {
    return store("UPDATE t_send SET claim_until = NULL WHERE claim_until IS NOT NULL");
}

int CDbAccess::sendDelivery(const CString& send_id, const CString& sent_date) {
    const CMapStringToString params = named({{"send_id", send_id}, {"ret_send_date", sent_date}});
    return runBatch([&] {
        // A resent delivery leaves the error list once it has gone out.
        return run("DELETE FROM t_mail_error WHERE EXISTS (SELECT 1 FROM t_send s WHERE "
                   "s.send_id = ?send_id AND s.login_id = t_mail_error.login_id AND s.mail = "
                   "t_mail_error.mail)",
                   &params) &&
               run("UPDATE t_send SET state = '2', sent_date = '?ret_send_date', claim_until = "
                   "NULL WHERE send_id = ?send_id",
                   &params) &&
               run(kSummary, &params);
    });
}

int CDbAccess::retryDelivery(const CString& send_id, const CString& next_try,
                             const CString& error_msg) {
    const CMapStringToString params =
        named({{"send_id", send_id}, {"next_try", next_try}, {"error_msg", error_msg}});
    return store("UPDATE t_send SET tries = tries + 1, next_try = '?next_try', last_error = "
                 "'?error_msg', claim_until = NULL WHERE send_id = ?send_id",
                 &params);
}

int CDbAccess::failDelivery(const CString& send_id, const CString& error_date,
                            const CString& error_msg) {
    const CMapStringToString params = named({{"send_id", send_id},
                                             {"ret_send_date", error_date},
                                             {"error_date", error_date},
                                             {"error_msg", error_msg}});
    return runBatch([&] {
        // One error row per delivery: a failed resend renews its row.
        return run("UPDATE t_send SET state = '3', tries = tries + 1, last_error = "
                   "'?error_msg', claim_until = NULL WHERE send_id = ?send_id",
                   &params) &&
               run("UPDATE t_mail_error SET error_date = '?error_date', error_msg = "
                   "'?error_msg' WHERE EXISTS (SELECT 1 FROM t_send s WHERE s.send_id = "
                   "?send_id AND s.login_id = t_mail_error.login_id AND s.mail = "
                   "t_mail_error.mail)",
                   &params) &&
               run("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
                   "SELECT s.login_id, b.user_id, s.mail, '?error_date', '?error_msg' FROM t_send "
                   "s JOIN t_login b ON b.login_id = s.login_id WHERE s.send_id = ?send_id AND "
                   "NOT EXISTS (SELECT 1 FROM t_mail_error e WHERE e.login_id = s.login_id AND "
                   "e.mail = s.mail)",
                   &params) &&
               run(kSummary, &params);
    });
}

int CDbAccess::resendMailError(const CString& error_no, const CString& date) {
    CMapStringToString params = named({{"error_no", error_no}, {"ret_send_date", date}});
    return runBatch([&] {
        // Only this row's address is due again; an error row from before
        // deliveries were kept gets its delivery now.
        CString sendId;
        if (!run("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                 "SELECT e.login_id, e.mail, u.user_name, g.group_name, '3', 0 FROM t_mail_error "
                 "e LEFT JOIN t_user u ON u.user_id = e.user_id LEFT JOIN t_group g ON "
                 "g.group_id = u.group_id WHERE e.error_no = ?error_no AND NOT EXISTS (SELECT 1 "
                 "FROM t_send s WHERE s.login_id = e.login_id AND s.mail = e.mail)",
                 &params) ||
            !selectFirst("SELECT s.send_id FROM t_send s JOIN t_mail_error e ON e.login_id = "
                         "s.login_id AND e.mail = s.mail WHERE e.error_no = ?error_no",
                         &params, "send_id", sendId))
            return false;
        params.SetAt(CString("send_id"), sendId);
        return run("UPDATE t_send SET state = '1', tries = 0, next_try = NULL, claim_until = "
                   "NULL WHERE send_id = ?send_id AND state = '3'",
                   &params) &&
               run(kSummary, &params);
    });
}
