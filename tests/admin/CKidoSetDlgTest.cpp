#include "AdminScreenTest.h"

#include "admin/CKidoSetDlg.h"

#include <QCheckBox>
#include <QPushButton>

class CKidoSetDlgTest : public AdminScreenTest {};

TEST_F(CKidoSetDlgTest, WithoutRowsBothBoxesOpenUncheckedAndSavingCreatesBoth) {
    query("DELETE FROM t_def_data");
    CKidoSetDlg dlg;
    dlg.show();
    EXPECT_FALSE(control<QCheckBox>(&dlg, "1046")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(&dlg, "1047")->isChecked());
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(setting("kido_type"), "normal");
    EXPECT_EQ(setting("setting_disp"), "top");
    ASSERT_EQ(CMessageBox::shown().size(), 1U);
    EXPECT_EQ(CMessageBox::shown()[0].text.str(), "登録しました");
    EXPECT_EQ(CMessageBox::shown()[0].caption.str(), "諸設定");
}

TEST_F(CKidoSetDlgTest, OnlyTheExactStoredWordsCheckTheBoxes) {
    query("UPDATE t_def_data SET column_value = 'Minimam' WHERE column_name = 'kido_type'");
    query("UPDATE t_def_data SET column_value = 'main' WHERE column_name = 'setting_disp'");
    CKidoSetDlg dlg;
    dlg.show();
    EXPECT_FALSE(control<QCheckBox>(&dlg, "1046")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(&dlg, "1047")->isChecked());

    control<QCheckBox>(&dlg, "1046")->setChecked(true);
    control<QCheckBox>(&dlg, "1047")->setChecked(false);
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(setting("kido_type"), "minimam");
    EXPECT_EQ(setting("setting_disp"), "top");

    control<QPushButton>(&dlg, "1023")->click();
    EXPECT_EQ(dlg.result(), -3);
}
