// The settings table: read as a whole, written key by key, empty as NULL.
#include "DataFolder.h"

#include "data/CDbAccess.h"

namespace {

class SettingsTest : public DataTest {};

TEST_F(SettingsTest, MasterFileHoldsEveryKeyEmpty) {
    CDbAccess db;
    CMapStringToString settings;
    settings.SetAt(CString("caller_entry"), CString("stays"));
    EXPECT_EQ(db.getDefault(settings), -1);
    EXPECT_EQ(settings.GetCount(), 13);
    for (const char* key : {"mail_user", "mail_address", "mail_subject", "mail_server_ip",
                            "mail_server_port", "mail_security", "mail_acount", "mail_password",
                            "kido_type", "setting_disp", "window_top", "window_left"}) {
        CString value("not read");
        EXPECT_TRUE(settings.Lookup(CString(key), value)) << key;
        EXPECT_EQ(value, "") << key;
    }
    EXPECT_EQ(settings[CString("caller_entry")], "stays");
}

TEST_F(SettingsTest, SavingUpdatesOrAddsOneRowPerKeyAndStoresEmptyAsNull) {
    CDbAccess db;
    CMapStringToString values;
    values.SetAt(CString("mail_subject"), CString("来訪のお知らせ"));
    values.SetAt(CString("mail_server_port"), CString("587"));
    values.SetAt(CString("new_key"), CString("added"));
    EXPECT_EQ(db.setDefault(values), -1);

    CMapStringToString second;
    second.SetAt(CString("mail_subject"), CString("件名"));
    second.SetAt(CString("new_key"), CString());
    db.setDefault(second);
    db.setDefault(CMapStringToString());

    EXPECT_EQ(
        query(folder.dataFile(), "SELECT column_name, column_value FROM t_def_data WHERE "
                                 "column_name IN ('mail_subject', 'mail_server_port', "
                                 "'new_key') ORDER BY column_name"),
        (Table{{"mail_server_port", "587"}, {"mail_subject", "件名"}, {"new_key", "<null>"}}));
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_def_data"), (Table{{"13"}}));

    CMapStringToString read;
    db.getDefault(read);
    EXPECT_EQ(read[CString("mail_subject")], "件名");
    EXPECT_EQ(read[CString("new_key")], "");
}

TEST_F(SettingsTest, EmptyTableLeavesTheCallersMapAlone) {
    exec(folder.dataFile(), "DELETE FROM t_def_data");
    CDbAccess db;
    CMapStringToString settings;
    settings.SetAt(CString("kido_type"), CString("normal"));
    EXPECT_EQ(db.getDefault(settings), -1);
    EXPECT_EQ(settings.GetCount(), 1);
    EXPECT_EQ(settings[CString("kido_type")], "normal");
}

} // namespace
