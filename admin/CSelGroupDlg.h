#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CSelGroupDlg;
}
class CPickList;

// Group selection: every group; the chosen group_id is read by the screen
// loop and handed to the change screen. Ends with GroupChange after a
// choice, AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
class CSelGroupDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 144;
    static constexpr int kResultChange = resultOf(ScreenCode::GroupChange);
    static constexpr const char* kCaption = "グループ選択";

    explicit CSelGroupDlg(QWidget* parent = nullptr);
    ~CSelGroupDlg() override;

    // The chosen group_id, empty until a choice is made.
    const CString& selectedGroupId() const { return m_selectedGroupId; }

    void OnSelect();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CSelGroupDlg> m_ui;
    std::unique_ptr<CPickList> m_list;
    CString m_selectedGroupId;
    int m_timerId = 0;
};
