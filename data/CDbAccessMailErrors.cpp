// Failed deliveries of a notification, one row per visit and address (t_mail_error).
#include "data/CDbAccess.h"

int CDbAccess::getMailErrorList(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(CString("SELECT e.error_no, e.login_id, e.error_date, g.group_name, "
                              "u.user_name, e.mail, e.error_msg FROM t_mail_error e, t_user u, "
                              "t_group g WHERE e.user_id = u.user_id AND u.group_id = g.group_id "
                              "AND NOT EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = "
                              "e.login_id AND s.mail = e.mail AND s.state = '1') "
                              "ORDER BY e.error_date DESC"),
                      rows, nullptr);
}

int CDbAccess::deleteMailError(const CString& error_no) {
    const CMapStringToString params = named({{"error_no", error_no}});
    return store("DELETE FROM t_mail_error WHERE error_no = ?error_no", &params);
}
