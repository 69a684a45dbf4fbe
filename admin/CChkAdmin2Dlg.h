#pragma once

#include "screens/CBaseDialog.h"

#include "nvktl/CMapStringToString.h"

#include <memory>

namespace Ui {
class CChkAdmin2Dlg;
}

// The administrator card check behind "諸設定": lets an administrator's card
// through (result 1); "終了", "戻る" and the cancel key give up (result 2).
class CChkAdmin2Dlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 134;
    static constexpr int kResultAdministrator = 1;
    static constexpr int kResultCancelled = 2;
    static constexpr int kTimerPeriodMs = 200;

    static constexpr const char* kPrompt = "管理者のＩＣカードをかざしてください。";
    static constexpr const char* kNotAdministrator = "管理者ではありません。";

    explicit CChkAdmin2Dlg(QWidget* parent = nullptr);
    ~CChkAdmin2Dlg() override;

    // The text of the message field.
    CString message() const { return m_message; }

    void OnTimer(int id) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CChkAdmin2Dlg> m_ui;
    CString m_message;
    int m_timerId = 0;
};
