// Visits (t_login) and their notification state: '1' due, '2' sent, '3' not sent.
#include "data/CDbAccess.h"

#include "nvktl/CTime.h"

namespace {

CMapStringToString stateParams(const CString& login_id, const CString& ret_send_date) {
    CMapStringToString params;
    params.SetAt(CString("login_id"), login_id);
    params.SetAt(CString("ret_send_date"), ret_send_date);
    return params;
}

} // namespace

int CDbAccess::addLogin(const CString& user_id, const CString& login_date, CString& login_id) {
    CMapStringToString params;
    params.SetAt(CString("user_id"), user_id);
    params.SetAt(CString("login_date"), login_date);
    m_pMdb->insertMdb(CString("INSERT INTO t_login (user_id, login_date, ret_send)  VALUES ( "
                              "'?user_id', '?login_date', '1' )"),
                      &params);
    // Only the user-interface thread records visits, so the largest id is the
    // one just inserted.
    CString max;
    if (selectFirst(CString("SELECT max(login_id) as max_login FROM t_login"), nullptr, "max_login",
                    max))
        login_id = max;
    return 0;
}

int CDbAccess::getSendLogin(NVKTL::vector<CMapStringToString*>* rows) {
    NVKTL::CTime now;
    now.SetNow();
    CString stamp;
    now.Format(stamp, "%Y%m%d%H%M%S%s");
    const CMapStringToString params = oneParam("ret_send_date", stamp);
    return selectInto(
        CString("SELECT g.group_name, f.user_id, f.user_name as from_name, m.mail as from_mail, "
                "b.login_id, b.login_date FROM t_user f, t_login b, t_group g, t_mail m WHERE "
                "f.user_id = b.user_id AND b.ret_send='1' AND f.group_id = g.group_id AND "
                "f.user_id = m.user_id AND (b.ret_send_date is null OR (b.ret_send_date is not "
                "null AND b.ret_send_date < '?ret_send_date')) ORDER BY b.login_date ASC"),
        rows, &params);
}

int CDbAccess::skipLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = "
                              "'3'  where login_id = ?login_id "),
                      &params);
    return 0;
}

int CDbAccess::sendLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = "
                              "'2'  where login_id = ?login_id "),
                      &params);
    return 0;
}

int CDbAccess::resendLogin(const CString& login_id, const CString& ret_send_date) {
    const CMapStringToString params = stateParams(login_id, ret_send_date);
    m_pMdb->updateMdb(CString("UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = "
                              "'1' where login_id = ?login_id "),
                      &params);
    return 0;
}
