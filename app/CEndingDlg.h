#pragma once

#include "screens/CBaseDialog.h"

#include "nvktl/CEvent.h"

#include <memory>

namespace Ui {
class CEndingDlg;
}

// The closing screen: binds the send thread, asks it to finish, and stays
// until the thread reports that every pending state change has reached the
// database (result 1). It says how many mails are still being sent, and after
// a few seconds offers "あとで送る": the send thread then cuts its attempt
// short, stores what the server has answered, and the screen closes once it
// has (the unsent mails stay due for the next start). The cancel key does the
// same; pressed again, it closes the screen at once (result 2).
class CEndingDlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 131;
    static constexpr int kResultFinished = 1;
    static constexpr int kResultCancelled = 2;
    static constexpr int kWaitPeriodMs = 1;
    // How long the screen waits before it offers to send later.
    static constexpr int kOfferLaterMs = 3000;
    static constexpr const char* kSendingFormat = "送信中のメールが%d件あります。";
    static constexpr const char* kStopping = "送信を中止しています。";

    explicit CEndingDlg(QWidget* parent = nullptr);
    ~CEndingDlg() override;

    void OnTimer(int id) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void OnLater();
    void showSending();

    std::unique_ptr<Ui::CEndingDlg> m_ui;
    NVKTL::CEvent m_endEvent;
    int m_timerId = 0;
    bool m_later = false;
    int m_shownCount = -1;
};
