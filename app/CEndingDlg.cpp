#include "app/CEndingDlg.h"

#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CEndingDlg.h"

#include <QPushButton>
#include <QTimer>

CEndingDlg::CEndingDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CEndingDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_ui->laterButton->hide();
    m_ui->laterHintLabel->hide();
    connect(m_ui->laterButton, &QPushButton::clicked, this, &CEndingDlg::OnLater);
}

CEndingDlg::~CEndingDlg() = default;

bool CEndingDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_endEvent.reset();
    if (IApplication* app = theApp())
        app->requestSendEnd(&m_endEvent);
    showSending();
    m_timerId = setScreenTimer(kScreenTimerId, kWaitPeriodMs);
    QTimer::singleShot(kOfferLaterMs, this, [this] {
        m_ui->laterButton->setVisible(!m_later);
        m_ui->laterHintLabel->setVisible(!m_later);
        if (!m_later)
            m_ui->laterButton->setFocus();
    });
    return true;
}

void CEndingDlg::showSending() {
    IApplication* app = theApp();
    const int count = app ? app->sendingCount() : 0;
    if (m_later || count == m_shownCount)
        return;
    m_shownCount = count;
    CString text;
    text.Format(kSendingFormat, count);
    m_ui->sendingLabel->setText(qt(text));
}

void CEndingDlg::OnTimer(int id) {
    if (id == m_timerId) {
        if (m_endEvent.wait(0) == NVKTL::CEvent::WaitSignalled) {
            done(kResultFinished);
            return;
        }
        showSending();
    }
    CBaseDialog::OnTimer(id);
}

void CEndingDlg::OnLater() {
    if (m_later)
        return;
    m_later = true;
    if (IApplication* app = theApp())
        app->sendLater();
    m_ui->laterButton->hide();
    m_ui->sendingLabel->setText(qt(CString(kStopping)));
}

void CEndingDlg::OnCancel() {
    if (!m_later) {
        OnLater();
        return;
    }
    done(kResultCancelled);
}
