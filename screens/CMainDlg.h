#pragma once

#include "screens/CBaseDialog.h"

#include <memory>

namespace Ui {
class CMainDlg;
}

// The greeting screen (dialog 138): greets the card's user by group, name and
// time of day (a departure with a goodbye), stores the visit (t_login,
// ret_send '1', its kind as CVisitRule gives it) for the send thread to
// notify, or says that a second touch within the double-tap guard counted
// already, and ends with UserConfirmation once the card has been lifted (also for "終了",
// "戻る" and the close box). "諸設定", offered to administrators only when
// setting_disp is "main", marks the visit as not to be notified and ends with
// -3.
class CMainDlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 138;
    static constexpr int kGreetingPointSize = 36;
    // Polls (200 ms apart) in a row without a card before it counts as lifted.
    static constexpr int kMissedPollsForLift = 5;

    explicit CMainDlg(QWidget* parent = nullptr);
    ~CMainDlg() override;

    // The recognised card id; set before the screen opens.
    void setUserId(const CString& userId);
    // The greeting text (the screen shows it on two lines: who, then the
    // greeting of the time of day).
    CString getGreeting() const;
    // The login_id of the visit this screen stored.
    CString getLoginId() const;

    // The greeting for a four-digit local "%H%M" time.
    static const char* greetingFor(const CString& hourMinute);

    void OnTimer(int id) override;
    // "諸設定".
    void OnSettings();

protected:
    bool OnInitDialog() override;
    void OnBack() override { done(kResultConfirm); }

private:
    struct Texts;

    std::unique_ptr<Ui::CMainDlg> m_ui;
    std::unique_ptr<Texts> m_texts;
};
