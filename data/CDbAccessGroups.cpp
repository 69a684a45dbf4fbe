// Groups of users (t_group).
#include "data/CDbAccess.h"

#include <cstdlib>

int CDbAccess::getGroupList(NVKTL::vector<CMapStringToString*>* rows, bool all) {
    return selectInto(all ? Sql::GroupListAll : Sql::GroupListDeletable, rows, nullptr);
}

int CDbAccess::getGroupMaxOrder() {
    CString max;
    if (!selectFirst(Sql::GroupMaxOrder, nullptr, "max_id", max) || max.IsEmpty())
        return 0;
    return std::atoi(max.c_str());
}

int CDbAccess::existGroup(const CString& group_id) {
    const CMapStringToString params = named({{"group_id", group_id}});
    return selectAny(Sql::GroupExists, &params);
}

int CDbAccess::existGroupName(const CString& group_name) {
    const CMapStringToString params = named({{"group_name", group_name}});
    return selectAny(Sql::GroupNameExists, &params);
}

int CDbAccess::getGroup(const CString& group_id, CString& group_name, CString& kengen,
                        CString& delete_flg, CString& order_id) {
    const CMapStringToString params = named({{"group_id", group_id}});
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(Sql::GroupGet, &rows, &params);
    if (found == 0) {
        const CMapStringToString* row = rows.at(0);
        row->Lookup(CString("group_name"), group_name);
        row->Lookup(CString("kengen"), kengen);
        row->Lookup(CString("delete_flg"), delete_flg);
        row->Lookup(CString("order_id"), order_id);
    }
    m_pMdb->releaseVector(&rows);
    return found;
}

int CDbAccess::saveGroup(const CString& group_id, const CString& group_name, long order_id) {
    CString order;
    order.Format("%ld", order_id);
    const CMapStringToString params =
        named({{"group_id", group_id}, {"group_name", group_name}, {"order_id", order}});
    // A new group (its id still empty) is not found and gets an id from the
    // database.
    if (existGroup(group_id) == -1)
        return store(Sql::GroupInsert, &params);
    return store(Sql::GroupUpdate, &params);
}

int CDbAccess::deleteGroup(const CString& group_id) {
    const CMapStringToString params = named({{"group_id", group_id}});
    return store(Sql::GroupDelete, &params);
}

int CDbAccess::deleteGroupUsers(const CString& group_id) {
    const CMapStringToString params = named({{"group_id", group_id}});
    // The addresses go first, while their users still name the group: a card
    // handed on later must not find the former holder's addresses.
    if (!run(Sql::GroupUsersMailDelete, &params))
        return -1;
    return store(Sql::GroupUsersDelete, &params);
}
