#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CDelUserDlg;
}
class CPickList;

// User deletion: the users of the chosen group, several marked at a time,
// each confirmed. Ends with AdminMenu ("戻る", cancel key) or UserConfirmation ("終了").
class CDelUserDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 135;
    static constexpr const char* kCaption = "ユーザ削除";
    static constexpr const char* kNothingMarked = "削除するユーザが選択されていません";
    static constexpr const char* kDeleted = "削除しました";

    explicit CDelUserDlg(QWidget* parent = nullptr);
    ~CDelUserDlg() override;

    void OnDeleteUsers();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CDelUserDlg> m_ui;
    std::unique_ptr<CPickList> m_list;
};
