#include "app/CDataIkouDlg.h"

#include "data/CDbAccess.h"
#include "screens/CBaseDialog.h"
#include "screens/QtText.h"
#include "ui_CDataIkouDlg.h"

#include <QCoreApplication>
#include <QTimer>

CDataIkouDlg::CDataIkouDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(std::make_unique<Ui::CDataIkouDlg>()), m_timer(new QTimer(this)) {
    m_ui->setupUi(this);
    setFont(CBaseDialog::japaneseFont());
    setWindowIcon(CBaseDialog::programIcon());
    m_ui->progressBar->hide();
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTimerPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CDataIkouDlg::OnTimer);
}

CDataIkouDlg::~CDataIkouDlg() = default;

void CDataIkouDlg::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

bool CDataIkouDlg::OnInitDialog() {
    m_doneEvent.reset();
    OnMigrate();
    m_timer->start();
    return true;
}

void CDataIkouDlg::OnMigrate() {
    CDbAccess db;
    m_migrationResult = db.migrateData(this);
    m_doneEvent.set();
}

void CDataIkouDlg::OnTimer() {
    if (m_doneEvent.wait(0) == NVKTL::CEvent::WaitSignalled) {
        m_timer->stop();
        done(kResultDone);
    }
}

void CDataIkouDlg::reject() {
    // The screen closes by itself once the data is in place.
}

void CDataIkouDlg::progressStart(int position, int maximum) {
    m_ui->statusLabel->show();
    m_ui->progressBar->show();
    m_ui->progressBar->setRange(0, maximum);
    m_ui->progressBar->setValue(position);
}

void CDataIkouDlg::progressEnd() {
    m_ui->statusLabel->hide();
    m_ui->progressBar->hide();
}

void CDataIkouDlg::statusText(const CString& text) {
    const QString label = qt(text);
    if (label == m_ui->statusLabel->text())
        return;
    m_ui->progressBar->show();
    m_ui->statusLabel->setText(label);
    m_ui->statusLabel->show();
}
