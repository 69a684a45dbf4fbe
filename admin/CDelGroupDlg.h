#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CDelGroupDlg;
}
class CPickList;

// Group deletion: the groups that may be deleted (no deletion mark), several
// at a time, each confirmed; a group with users is confirmed twice and takes
// its users with it. Ends with AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
class CDelGroupDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 143;
    static constexpr const char* kCaption = "グループ削除";
    static constexpr const char* kNothingSelected = "削除するグループが選択されていません";
    static constexpr const char* kDeleted = "削除しました";

    explicit CDelGroupDlg(QWidget* parent = nullptr);
    ~CDelGroupDlg() override;

    void OnTimer(int id) override;
    void OnDeleteGroups();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CDelGroupDlg> m_ui;
    std::unique_ptr<CPickList> m_list;
    int m_timerId = 0;
};
