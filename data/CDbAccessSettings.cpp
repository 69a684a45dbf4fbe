// The settings table: one row per key, NULL for an empty value.
#include "data/CDbAccess.h"

int CDbAccess::getDefault(CMapStringToString& values) {
    const IDbConnection::RowVisitor take = [&values](CMapStringToString& row) {
        values[row.Value("column_name")] = row.Value("column_value");
    };
    if (m_db)
        runOn(*m_db, Sql::SettingsAll, nullptr, &take);
    return -1;
}

int CDbAccess::setDefault(const CMapStringToString& values) {
    storeDefault(values);
    return -1;
}

int CDbAccess::storeDefault(const CMapStringToString& values) {
    for (const auto& [key, value] : values) {
        const CMapStringToString params =
            named({{"column_name", key}, {"column_value", quotedOrNull(value)}});
        if (!run(Sql::SettingStore, &params))
            return -1;
    }
    return 0;
}
