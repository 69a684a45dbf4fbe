// The settings table: one row per key, NULL for an empty value.
#include "data/CDbAccess.h"

int CDbAccess::getDefault(CMapStringToString& values) {
    const CString sql("SELECT column_name,column_value FROM t_def_data");
    const CMdbAccess::RowVisitor take = [&values](CMapStringToString& row) {
        CString name;
        CString value;
        row.Lookup(CString("column_name"), name);
        row.Lookup(CString("column_value"), value);
        values[name] = value;
    };
    m_pMdb->selectEachMdb(sql, nullptr, take);
    return -1;
}

int CDbAccess::setDefault(const CMapStringToString& values) {
    storeDefault(values);
    return -1;
}

int CDbAccess::storeDefault(const CMapStringToString& values) {
    const CString select("SELECT column_name FROM t_def_data WHERE column_name = '?column_name'");
    const CString update(
        "UPDATE t_def_data SET column_value = ?column_value WHERE column_name = '?column_name'");
    const CString insert("INSERT INTO t_def_data (column_name,column_value) VALUES "
                         "('?column_name', ?column_value)");
    for (const auto& [key, value] : values) {
        CMapStringToString params;
        params.SetAt(CString("column_name"), key);
        params.SetAt(CString("column_value"), quotedOrNull(value));
        NVKTL::vector<CMapStringToString*> rows;
        int result = m_pMdb->selectMdb(select, &rows, &params);
        if (result == 0)
            result = rows.empty() ? m_pMdb->insertMdb(insert, &params)
                                  : m_pMdb->updateMdb(update, &params);
        m_pMdb->releaseVector(&rows);
        if (result != 0)
            return -1;
    }
    return 0;
}
