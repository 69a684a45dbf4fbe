#include "app/CEndingDlg.h"

#include "screens/IApplication.h"
#include "ui_CEndingDlg.h"

CEndingDlg::CEndingDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CEndingDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
}

CEndingDlg::~CEndingDlg() = default;

bool CEndingDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_endEvent.reset();
    if (IApplication* app = theApp())
        app->requestSendEnd(&m_endEvent);
    m_timerId = setScreenTimer(kScreenTimerId, kWaitPeriodMs);
    return true;
}

void CEndingDlg::OnTimer(int id) {
    if (id == m_timerId && m_endEvent.wait(0) == NVKTL::CEvent::WaitSignalled) {
        done(kResultFinished);
        return;
    }
    CBaseDialog::OnTimer(id);
}

void CEndingDlg::OnCancel() {
    done(kResultCancelled);
}
