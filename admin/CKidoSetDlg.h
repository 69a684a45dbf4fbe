#pragma once

#include "nvktl/CString.h"
#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CKidoSetDlg;
}

// Operation settings: whether the first screen starts minimised, whether
// the "諸設定" button sits on the greeting screen instead of the first
// screen, and what a touch records (CVisitRule): the notice mode (来所, or
// 入室・退室), the hour the day starts and the double-tap guard. Ends with UserConfirmation
// ("終了") or AdminMenu ("戻る", cancel key).
class CKidoSetDlg : public CBaseDialog {
public:
    static constexpr unsigned kTemplateId = 146;
    static constexpr const char* kCaption = "諸設定";
    static constexpr const char* kRegistered = "登録しました";

    explicit CKidoSetDlg(QWidget* parent = nullptr);
    ~CKidoSetDlg() override;

    void OnRegister();
    void OnModeChosen(int index);

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CKidoSetDlg> m_ui;
    int m_minimize = 0;
    int m_settingOnMain = 0;
    bool m_inOut = false;
    static int defaultGuard(bool inOut);
};
