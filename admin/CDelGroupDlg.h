#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>
#include <vector>

namespace Ui {
class CDelGroupDlg;
}

// Group deletion: the groups that may be deleted (no deletion mark), several
// at a time, each confirmed; a group with users is confirmed twice and takes
// its users with it. Ends with -3 ("戻る", cancel key) or -1 ("終了").
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
    void fillList();

    std::unique_ptr<Ui::CDelGroupDlg> m_ui;
    std::vector<CString> m_groupIds;
    int m_timerId = 0;
};
