#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CKidoSetDlg;
}

// Operation settings: whether the first screen starts minimised, and whether
// the "諸設定" button sits on the greeting screen instead of the first
// screen. Ends with UserConfirmation ("終了") or AdminMenu ("戻る", cancel key).
class CKidoSetDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 146;
    static constexpr const char* kCaption = "諸設定";
    static constexpr const char* kRegistered = "登録しました";

    explicit CKidoSetDlg(QWidget* parent = nullptr);
    ~CKidoSetDlg() override;

    void OnRegister();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CKidoSetDlg> m_ui;
    int m_minimize = 0;
    int m_settingOnMain = 0;
};
