// The notifications of the visits, one delivery per visit and address (t_send),
// and the summary each visit keeps of them in t_login.ret_send.
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

CMapStringToString deliveryParams(const CString& send_id, const CString& date) {
    CMapStringToString params;
    params.SetAt(CString("send_id"), send_id);
    params.SetAt(CString("ret_send_date"), date);
    return params;
}

} // namespace

int CDbAccess::runBatch(const std::function<bool()>& statements) {
    if (m_pMdb->beginBatch() != 0)
        return -1;
    if (!statements()) {
        m_pMdb->endBatch(false);
        return -1;
    }
    return m_pMdb->endBatch(true) == 0 ? 0 : -1;
}

int CDbAccess::addLogin(const CString& user_id, const CString& login_date, CString& login_id) {
    CMapStringToString params;
    params.SetAt(CString("user_id"), user_id);
    params.SetAt(CString("login_date"), login_date);
    CString id;
    const int result = runBatch([&] {
        if (m_pMdb->insertMdb(CString("INSERT INTO t_login (user_id, login_date, ret_send) VALUES "
                                      "('?user_id', '?login_date', '1')"),
                              &params) != 0)
            return false;
        if (!selectFirst(CString("SELECT last_insert_rowid() as login_id"), nullptr, "login_id",
                         id))
            return false;
        params.SetAt(CString("login_id"), id);
        // The addresses, name and group of this moment go with the visit.
        if (m_pMdb->insertMdb(
                CString("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                        "SELECT ?login_id, m.mail, u.user_name, g.group_name, '1', 0 FROM t_mail "
                        "m JOIN t_user u ON u.user_id = m.user_id LEFT JOIN t_group g ON "
                        "g.group_id = u.group_id WHERE m.user_id = '?user_id' AND m.mail <> '' "
                        "ORDER BY m.rowid"),
                &params) != 0)
            return false;
        return m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send = '3' WHERE login_id = "
                                         "?login_id AND NOT EXISTS (SELECT 1 FROM t_send WHERE "
                                         "login_id = ?login_id)"),
                                 &params) == 0;
    });
    if (result == 0)
        login_id = id;
    return result;
}

int CDbAccess::getSendLogin(NVKTL::vector<CMapStringToString*>* rows) {
    NVKTL::CTime now;
    now.SetNow();
    CString stamp;
    now.Format(stamp, "%Y%m%d%H%M%S%s");
    const CMapStringToString params = oneParam("now", stamp);
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
    if (!selectFirst(CString("SELECT count(*) as waiting FROM t_send WHERE state = '1' AND tries "
                             "> 0"),
                     nullptr, "waiting", count))
        return 0;
    return std::atoi(count.c_str());
}

int CDbAccess::claimDelivery(const CString& send_id, const CString& now, const CString& until) {
    CMapStringToString params;
    params.SetAt(CString("send_id"), send_id);
    params.SetAt(CString("now"), now);
    params.SetAt(CString("until"), until);
    return runBatch([&] {
        // Inside the transaction nobody else can take it between look and mark.
        if (selectAny(CString("SELECT 1 as due FROM t_send WHERE send_id = ?send_id AND state = "
                              "'1' AND (claim_until IS NULL OR claim_until < '?now')"),
                      &params) != 0)
            return false;
        return m_pMdb->updateMdb(CString("UPDATE t_send SET claim_until = '?until' WHERE send_id "
                                         "= ?send_id"),
                                 &params) == 0;
    });
}

int CDbAccess::releaseDelivery(const CString& send_id) {
    const CMapStringToString params = oneParam("send_id", send_id);
    return m_pMdb->updateMdb(CString("UPDATE t_send SET claim_until = NULL WHERE send_id = "
                                     "?send_id AND state = '1'"),
                             &params);
}

int CDbAccess::releaseClaims() {
    return m_pMdb->updateMdb(
        CString("UPDATE t_send SET claim_until = NULL WHERE claim_until IS NOT NULL"), nullptr);
}

int CDbAccess::sendDelivery(const CString& send_id, const CString& sent_date) {
    const CMapStringToString params = deliveryParams(send_id, sent_date);
    return runBatch([&] {
        // A resent delivery leaves the error list once it has gone out.
        return m_pMdb->deleteMdb(CString("DELETE FROM t_mail_error WHERE EXISTS (SELECT 1 FROM "
                                         "t_send s WHERE s.send_id = ?send_id AND s.login_id = "
                                         "t_mail_error.login_id AND s.mail = t_mail_error.mail)"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString("UPDATE t_send SET state = '2', sent_date = "
                                         "'?ret_send_date', claim_until = NULL WHERE send_id = "
                                         "?send_id"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString(kSummary), &params) == 0;
    });
}

int CDbAccess::retryDelivery(const CString& send_id, const CString& next_try,
                             const CString& error_msg) {
    CMapStringToString params;
    params.SetAt(CString("send_id"), send_id);
    params.SetAt(CString("next_try"), next_try);
    params.SetAt(CString("error_msg"), error_msg);
    return m_pMdb->updateMdb(CString("UPDATE t_send SET tries = tries + 1, next_try = "
                                     "'?next_try', last_error = '?error_msg', claim_until = NULL "
                                     "WHERE send_id = ?send_id"),
                             &params);
}

int CDbAccess::failDelivery(const CString& send_id, const CString& error_date,
                            const CString& error_msg) {
    CMapStringToString params = deliveryParams(send_id, error_date);
    params.SetAt(CString("error_date"), error_date);
    params.SetAt(CString("error_msg"), error_msg);
    return runBatch([&] {
        if (m_pMdb->updateMdb(CString("UPDATE t_send SET state = '3', tries = tries + 1, "
                                      "last_error = '?error_msg', claim_until = NULL WHERE "
                                      "send_id = ?send_id"),
                              &params) != 0)
            return false;
        // One error row per delivery: a failed resend renews its row.
        if (m_pMdb->updateMdb(CString("UPDATE t_mail_error SET error_date = '?error_date', "
                                      "error_msg = '?error_msg' WHERE EXISTS (SELECT 1 FROM "
                                      "t_send s WHERE s.send_id = ?send_id AND s.login_id = "
                                      "t_mail_error.login_id AND s.mail = t_mail_error.mail)"),
                              &params) != 0)
            return false;
        if (m_pMdb->insertMdb(
                CString("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, "
                        "error_msg) SELECT s.login_id, b.user_id, s.mail, '?error_date', "
                        "'?error_msg' FROM t_send s JOIN t_login b ON b.login_id = s.login_id "
                        "WHERE s.send_id = ?send_id AND NOT EXISTS (SELECT 1 FROM t_mail_error "
                        "e WHERE e.login_id = s.login_id AND e.mail = s.mail)"),
                &params) != 0)
            return false;
        return m_pMdb->updateMdb(CString(kSummary), &params) == 0;
    });
}

int CDbAccess::resendMailError(const CString& error_no, const CString& date) {
    CMapStringToString params;
    params.SetAt(CString("error_no"), error_no);
    params.SetAt(CString("ret_send_date"), date);
    return runBatch([&] {
        // Only this row's address is due again; an error row from before
        // deliveries were kept gets its delivery now.
        if (m_pMdb->insertMdb(
                CString("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                        "SELECT e.login_id, e.mail, u.user_name, g.group_name, '3', 0 FROM "
                        "t_mail_error e LEFT JOIN t_user u ON u.user_id = e.user_id LEFT JOIN "
                        "t_group g ON g.group_id = u.group_id WHERE e.error_no = ?error_no AND "
                        "NOT EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = e.login_id AND "
                        "s.mail = e.mail)"),
                &params) != 0)
            return false;
        CString sendId;
        if (!selectFirst(CString("SELECT s.send_id FROM t_send s JOIN t_mail_error e ON "
                                 "e.login_id = s.login_id AND e.mail = s.mail WHERE e.error_no = "
                                 "?error_no"),
                         &params, "send_id", sendId))
            return false;
        params.SetAt(CString("send_id"), sendId);
        return m_pMdb->updateMdb(CString("UPDATE t_send SET state = '1', tries = 0, next_try = "
                                         "NULL, claim_until = NULL WHERE send_id = ?send_id AND "
                                         "state = '3'"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString(kSummary), &params) == 0;
    });
}
