// Card holders (t_user) and their mail addresses (t_mail).
#include "data/CDbAccess.h"

#include <cstdlib>

int CDbAccess::getUserList(const CString& group_id, NVKTL::vector<CMapStringToString*>* rows) {
    const CMapStringToString params = named({{"group_id", group_id}});
    return selectInto(Sql::UserList, rows, &params);
}

int CDbAccess::getUserMaxOrder() {
    CString max;
    if (!selectFirst(Sql::UserMaxOrder, nullptr, "max_id", max) || max.IsEmpty())
        return 0;
    return std::atoi(max.c_str());
}

int CDbAccess::getUserOrder(const CString& user_id) {
    const CMapStringToString params = named({{"user_id", user_id}});
    CString order;
    if (!selectFirst(Sql::UserOrder, &params, "order_id", order) || order.IsEmpty())
        return -1;
    return std::atoi(order.c_str());
}

int CDbAccess::existUser(const CString& user_id) {
    const CMapStringToString params = named({{"user_id", user_id}});
    return selectAny(Sql::UserExists, &params);
}

int CDbAccess::getUser(const CString& user_id, CString& user_name, CString& mail,
                       CString& group_id) {
    bool noticeOff = false;
    return getUser(user_id, user_name, mail, group_id, noticeOff);
}

int CDbAccess::getUser(const CString& user_id, CString& user_name, CString& mail, CString& group_id,
                       bool& noticeOff) {
    const CMapStringToString params = named({{"user_id", user_id}});
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(Sql::UserGet, &rows, &params);
    if (found == 0) {
        const CMapStringToString* row = rows.at(0);
        row->Lookup(CString("user_name"), user_name);
        row->Lookup(CString("mail"), mail);
        row->Lookup(CString("group_id"), group_id);
        noticeOff = !row->Value("notice_off").IsEmpty();
    }
    m_pMdb->releaseVector(&rows);
    return found;
}

int CDbAccess::checkAdminUser(const CString& user_id) {
    const CMapStringToString params = named({{"user_id", user_id}});
    return selectAny(Sql::AdminCheck, &params);
}

int CDbAccess::existAdminUser() {
    return selectAny(Sql::AdminExists, nullptr);
}

int CDbAccess::saveUser(const CString& user_id, const CString& user_name, const CString& mail,
                        const CString& group_id, long order_id, bool noticeOff) {
    const bool isNew = existUser(user_id) == -1;
    CString order;
    order.Format("%ld", order_id);
    const CMapStringToString params = named({{"group_id", group_id},
                                             {"user_id", user_id},
                                             {"user_name", user_name},
                                             {"mail", quotedOrNull(mail)},
                                             {"order_id", order},
                                             {"notice_off", CString(noticeOff ? "'1'" : "null")}});
    return store(isNew ? Sql::UserInsert : Sql::UserUpdate, &params);
}

int CDbAccess::deleteUser(const CString& user_id) {
    const CMapStringToString params = named({{"user_id", user_id}});
    return store(Sql::UserDelete, &params);
}

int CDbAccess::addMail(const CString& user_id, const CString& mail) {
    const CMapStringToString params = named({{"user_id", user_id}, {"mail", mail}});
    return store(Sql::MailInsert, &params);
}

int CDbAccess::deleteMail(const CString& user_id) {
    const CMapStringToString params = named({{"user_id", user_id}});
    return store(Sql::MailDelete, &params);
}

int CDbAccess::getAddress(const CString& user_id, CString& addresses) {
    const CMapStringToString params = named({{"user_id", user_id}});
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(Sql::AddressList, &rows, &params);
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        CString mail;
        rows.at(i)->Lookup(CString("mail"), mail);
        addresses += mail;
        addresses.Append("\r\n");
    }
    m_pMdb->releaseVector(&rows);
    return found;
}
