#pragma once

#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CAdminMenuDlg;
}

// The administrator menu: every button ends it with the result code of the
// administration screen it leads to; "終了", "戻る" and closing the window go
// back to the user confirmation screen (-1).
class CAdminMenuDlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 133;

    explicit CAdminMenuDlg(QWidget* parent = nullptr);
    ~CAdminMenuDlg() override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CAdminMenuDlg> m_ui;
};
