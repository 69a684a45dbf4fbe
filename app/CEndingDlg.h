#pragma once

#include "screens/CBaseDialog.h"

#include "nvktl/CEvent.h"

#include <memory>

namespace Ui {
class CEndingDlg;
}

// The closing screen: binds the send thread, asks it to finish, and stays
// until the thread reports that every pending state change has reached the
// database (result 1). The cancel key closes it at once (result 2).
class CEndingDlg : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 131;
    static constexpr int kResultFinished = 1;
    static constexpr int kResultCancelled = 2;
    static constexpr int kWaitPeriodMs = 1;

    explicit CEndingDlg(QWidget* parent = nullptr);
    ~CEndingDlg() override;

    void OnTimer(int id) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    std::unique_ptr<Ui::CEndingDlg> m_ui;
    NVKTL::CEvent m_endEvent;
    int m_timerId = 0;
};
