#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>
#include <vector>

namespace Ui {
class CSelUserDlg;
}

// User selection: a group, then one of its users; the screen loop takes
// selectedUserId to the change screen. Ends with -7 after a choice, -3
// ("戻る", cancel key) or -1 ("終了").
class CSelUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 136;
    static constexpr int kResultChange = -7;
    static constexpr const char* kCaption = "ユーザ選択";
    static constexpr const char* kNothingSelected = "選択されていません。";

    explicit CSelUserDlg(QWidget* parent = nullptr);
    ~CSelUserDlg() override;

    void OnSelect();

    // The chosen user's user_id, empty until a choice is made.
    CString selectedUserId;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void fillUsers();

    std::unique_ptr<Ui::CSelUserDlg> m_ui;
    std::vector<CString> m_userIds;
    std::vector<CString> m_groupIds;
};
