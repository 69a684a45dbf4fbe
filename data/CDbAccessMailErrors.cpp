// Failed deliveries of a notification, one row per visit and address (t_mail_error).
#include "data/CDbAccess.h"

int CDbAccess::getMailErrorList(NVKTL::vector<CMapStringToString*>* rows) {
    return selectInto(Sql::ErrorList, rows, nullptr);
}

int CDbAccess::deleteMailError(const CString& error_no) {
    const CMapStringToString params = named({{"error_no", error_no}});
    return store(Sql::ErrorDelete, &params);
}
