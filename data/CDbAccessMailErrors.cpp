// Failed deliveries of a notification, one row per visit and address (t_mail_error).
#include "data/CDbAccess.h"

int CDbAccess::setMailError(const CString& login_id, const CString& user_id, const CString& mail,
                            const CString& error_date, const CString& error_msg) {
    CMapStringToString params;
    params.SetAt(CString("login_id"), login_id);
    params.SetAt(CString("user_id"), user_id);
    params.SetAt(CString("mail"), mail);
    params.SetAt(CString("error_date"), error_date);
    params.SetAt(CString("error_msg"), error_msg);
    m_pMdb->insertMdb(CString("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, "
                              "error_msg)  VALUES ( ?login_id, '?user_id', '?mail', "
                              "'?error_date', '?error_msg' )"),
                      &params);
    return 0;
}

int CDbAccess::getMailErrorList(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(CString("SELECT e.error_no, e.login_id, e.error_date, g.group_name, "
                              "u.user_name, e.mail, e.error_msg FROM t_mail_error e, t_user u, "
                              "t_group g WHERE e.user_id = u.user_id AND u.group_id = g.group_id "
                              "ORDER BY e.error_date DESC"),
                      rows, nullptr);
}

int CDbAccess::deleteMailError(const CString& error_no) {
    const CMapStringToString params = oneParam("error_no", error_no);
    m_pMdb->deleteMdb(CString("DELETE FROM t_mail_error WHERE error_no = ?error_no"), &params);
    return 0;
}
