#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CUpdGroupDlg;
}

// Group change: renames the group handed over by the screen loop. Ends with
// GroupSelection ("戻る", cancel key) or UserConfirmation ("終了").
class CUpdGroupDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 145;
    static constexpr int kResultSelection = resultOf(ScreenCode::GroupSelection);
    static constexpr const char* kCaption = "グループ変更";
    static constexpr const char* kNoName = "グループ名が入力されていません。";
    static constexpr const char* kConfirm = "この情報に変更しますか？";
    static constexpr const char* kChanged = "変更しました。";

    explicit CUpdGroupDlg(QWidget* parent = nullptr);
    ~CUpdGroupDlg() override;

    // The group to change, before the screen opens.
    void setGroupId(const CString& groupId) { m_groupId = groupId; }

    void OnTimer(int id) override;
    void OnRegister();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CUpdGroupDlg> m_ui;
    CString m_groupId;
    CString m_oldName;
    CString m_newName;
    int m_timerId = 0;
};
