// Visits (t_login) and their notification state: '1' due, '2' sent, '3' not sent.
#include "data/CDbAccess.h"

namespace {

CMapStringToString stateParams(const CString& login_id, const CString& ret_send_date) {
    CMapStringToString params;
    params.SetAt(CString("login_id"), login_id);
    params.SetAt(CString("ret_send_date"), ret_send_date);
    return params;
}

} // namespace

int CDbAccess::skipLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    // A withdrawn visit withdraws the deliveries that have not gone out yet.
    return runBatch([&] {
        return m_pMdb->updateMdb(CString("UPDATE t_send SET state = '3' WHERE login_id = "
                                         "?login_id AND state = '1'"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', "
                                         "ret_send = '3'  where login_id = ?login_id "),
                                 &params) == 0;
    });
}

int CDbAccess::sendLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    return runBatch([&] {
        return m_pMdb->updateMdb(CString("UPDATE t_send SET state = '2', sent_date = "
                                         "'?ret_send_date' WHERE login_id = ?login_id AND state "
                                         "= '1'"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', "
                                         "ret_send = '2'  where login_id = ?login_id "),
                                 &params) == 0;
    });
}

int CDbAccess::resendLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    // Every unsent delivery of the visit is due again from that time on.
    return runBatch([&] {
        return m_pMdb->updateMdb(CString("UPDATE t_send SET state = '1', tries = 0, next_try = "
                                         "'?ret_send_date', claim_until = NULL WHERE login_id = "
                                         "?login_id AND state = '3'"),
                                 &params) == 0 &&
               m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', "
                                         "ret_send = '1' where login_id = ?login_id "),
                                 &params) == 0;
    });
}
