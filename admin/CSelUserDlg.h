#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CSelUserDlg;
}
class CPickList;

// User selection: a group, then one of its users; the screen loop takes
// selectedUserId to the change screen. Ends with UserChange after a
// choice, AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
class CSelUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 136;
    static constexpr int kResultChange = resultOf(ScreenCode::UserChange);
    static constexpr const char* kCaption = "ユーザ選択";

    explicit CSelUserDlg(QWidget* parent = nullptr);
    ~CSelUserDlg() override;

    void OnSelect();

    // The chosen user's user_id, empty until a choice is made.
    CString selectedUserId;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CSelUserDlg> m_ui;
    std::unique_ptr<CPickList> m_list;
};
