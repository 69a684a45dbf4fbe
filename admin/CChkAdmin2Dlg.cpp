#include "admin/CChkAdmin2Dlg.h"

#include "data/CDbAccess.h"
#include "screens/IApplication.h"
#include "ui_CChkAdmin2Dlg.h"

#include <QPushButton>

CChkAdmin2Dlg::CChkAdmin2Dlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CChkAdmin2Dlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_ui->label1028->setText(QString());
}

CChkAdmin2Dlg::~CChkAdmin2Dlg() = default;

bool CChkAdmin2Dlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // Here "終了" and "戻る" both only give up the check, instead of their
    // shared meanings.
    for (QPushButton* button : {m_ui->button1022, m_ui->button1023}) {
        disconnect(button, &QPushButton::clicked, nullptr, nullptr);
        connect(button, &QPushButton::clicked, this, [this] { done(kResultCancelled); });
    }
    m_timerId = setScreenTimer(kScreenTimerId, kTimerPeriodMs);
    return true;
}

void CChkAdmin2Dlg::OnCancel() {
    done(kResultCancelled);
}

void CChkAdmin2Dlg::OnTimer(int id) {
    if (id == m_timerId) {
        const CString card = theApp() ? theApp()->getCardId() : CString("err");
        if (card == "err") {
            m_message = kReaderError;
        } else if (card == "no") {
            m_message = kPrompt;
        } else {
            m_message = kNotAdministrator;
            CDbAccess db;
            if (db.checkAdminUser(card) == 0) {
                done(kResultAdministrator);
                return;
            }
        }
        m_ui->label1028->setText(QString::fromStdString(m_message.str()));
    }
    CBaseDialog::OnTimer(id);
}
