#include "admin/CAdminScreens.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CAddUserDlg.h"
#include "admin/CAdminMenuDlg.h"
#include "admin/CChkAdmin2Dlg.h"
#include "admin/CDefSetDlg.h"
#include "admin/CDelGroupDlg.h"
#include "admin/CDelUserDlg.h"
#include "admin/CHistoryDlg.h"
#include "admin/CKidoSetDlg.h"
#include "admin/CMailErrorDlg.h"
#include "admin/CSelGroupDlg.h"
#include "admin/CSelUserDlg.h"
#include "admin/CUpdGroupDlg.h"
#include "admin/CUpdUserDlg.h"
#include "screens/CPostonDlg.h"
#include "screens/CScreenTable.h"
#include "screens/IApplication.h"

namespace {

// A screen that takes nothing and gives nothing.
template <typename Screen> CScreenTable::Screen plain() {
    return [](CString&) {
        Screen screen;
        return screen.exec();
    };
}

} // namespace

void registerAdminScreens(CScreenTable& table) {
    // "諸設定" on the user confirmation screen asks for an administrator's card.
    CPostonDlg::setAdminCheck([](QWidget* parent) {
        CChkAdmin2Dlg check(parent);
        const int result = check.exec();
        // The check let the send thread go as it closed; a first screen that
        // stays open must be its window again, or pending mails wait.
        auto* screen = dynamic_cast<CBaseDialog*>(parent);
        if (result != 1 && screen != nullptr && theApp() != nullptr)
            theApp()->attachSendWindow(screen);
        return result;
    });
    table.add(ScreenCode::AdminMenu, [](CString&) {
        CAdminMenuDlg menu;
        return menu.exec();
    });

    table.add(ScreenCode::UserRegistration, plain<CAddUserDlg>());
    table.add(ScreenCode::UserDeletion, plain<CDelUserDlg>());
    // The selection screens leave their choice in the selected key whatever
    // they end with; the change screens take it.
    table.add(ScreenCode::UserSelection, [](CString& selectedKey) {
        CSelUserDlg selection;
        const int result = selection.exec();
        selectedKey = selection.selectedUserId;
        return result;
    });
    table.add(ScreenCode::UserChange, [](CString& selectedKey) {
        CUpdUserDlg change;
        change.setUserId(selectedKey);
        return change.exec();
    });
    table.add(ScreenCode::GroupRegistration, plain<CAddGroupDlg>());
    table.add(ScreenCode::GroupDeletion, plain<CDelGroupDlg>());
    table.add(ScreenCode::GroupSelection, [](CString& selectedKey) {
        CSelGroupDlg selection;
        const int result = selection.exec();
        selectedKey = selection.selectedGroupId();
        return result;
    });
    table.add(ScreenCode::GroupChange, [](CString& selectedKey) {
        CUpdGroupDlg change;
        change.setGroupId(selectedKey);
        return change.exec();
    });
    table.add(ScreenCode::MailSettings, plain<CDefSetDlg>());
    table.add(ScreenCode::OperationSettings, plain<CKidoSetDlg>());
    table.add(ScreenCode::MailErrors, plain<CMailErrorDlg>());
    table.add(ScreenCode::History, plain<CHistoryDlg>());
}
