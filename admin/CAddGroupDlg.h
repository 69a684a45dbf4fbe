#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CAddGroupDlg;
}

// Group registration. Opened from the administrator menu, or by the user
// screens as a sub-screen (then "終了" is disabled and the caller reloads its
// group list afterwards). Ends with AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
// No Q_OBJECT: moc cannot read the text class these screens keep as members.
class CAddGroupDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 142;
    static constexpr const char* kCaption = "グループ登録";
    static constexpr const char* kNoName = "グループ名が入力されていません。";
    static constexpr const char* kConfirm = "この情報をグループとして登録しますか？";
    static constexpr const char* kExists = "このグループはすでに存在しています。";
    static constexpr const char* kRegistered = "登録しました。";

    explicit CAddGroupDlg(bool subScreen = false, QWidget* parent = nullptr);
    ~CAddGroupDlg() override;

    void OnTimer(int id) override;
    void OnRegister();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CAddGroupDlg> m_ui;
    CString m_groupName;
    int m_timerId = 0;
    bool m_subScreen;
};
