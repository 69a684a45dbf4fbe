#include "admin/CAdminScreens.h"

#include "admin/CAdminMenuDlg.h"
#include "admin/CChkAdmin2Dlg.h"
#include "app/CScreenTable.h"
#include "screens/CPostonDlg.h"

void registerAdminScreens(CScreenTable& table) {
    // "諸設定" on the user confirmation screen asks for an administrator's card.
    CPostonDlg::setAdminCheck([](QWidget* parent) {
        CChkAdmin2Dlg check(parent);
        return check.exec();
    });
    table.add(CScreenTable::kAdminMenu, [](CString&) {
        CAdminMenuDlg menu;
        return menu.exec();
    });
}
