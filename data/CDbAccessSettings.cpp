// The settings table: one row per key, NULL for an empty value.
#include "data/CDbAccess.h"

int CDbAccess::getDefault(CMapStringToString& values) {
    const CString sql("SELECT column_name,column_value FROM t_def_data");
    const CMdbAccess::RowVisitor take = [&values](CMapStringToString& row) {
        values[row.Value("column_name")] = row.Value("column_value");
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
    for (const auto& [key, value] : values) {
        const CMapStringToString params =
            named({{"column_name", key}, {"column_value", quotedOrNull(value)}});
        NVKTL::vector<CMapStringToString*> rows;
        const bool read = m_pMdb->selectMdb(select, &rows, &params) == 0;
        const bool present = !rows.empty();
        m_pMdb->releaseVector(&rows);
        if (!read ||
            !run(present ? "UPDATE t_def_data SET column_value = ?column_value WHERE column_name "
                           "= '?column_name'"
                         : "INSERT INTO t_def_data (column_name, column_value) VALUES "
                           "('?column_name', ?column_value)",
                 &params))
            return -1;
    }
    return 0;
}
