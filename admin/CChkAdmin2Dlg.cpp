#include "admin/CChkAdmin2Dlg.h"

#include "admin/CUserForm.h"
#include "data/CDbAccess.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CChkAdmin2Dlg.h"

#include <QPushButton>

CChkAdmin2Dlg::CChkAdmin2Dlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CChkAdmin2Dlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_ui->messageLabel->setText(QString());
}

CChkAdmin2Dlg::~CChkAdmin2Dlg() = default;

bool CChkAdmin2Dlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // Here "終了" and "戻る" both only give up the check, instead of their
    // shared meanings.
    for (QPushButton* button : {m_ui->endButton, m_ui->backButton}) {
        disconnect(button, &QPushButton::clicked, nullptr, nullptr);
        connect(button, &QPushButton::clicked, this, [this] { done(kResultCancelled); });
    }
    m_timerId = setCardTimer(kScreenTimerId, kTimerPeriodMs);
    return true;
}

void CChkAdmin2Dlg::OnCancel() {
    done(kResultCancelled);
}

void CChkAdmin2Dlg::OnTimer(int id) {
    if (id == m_timerId) {
        const CardPoll card = pollReader();
        if (card.state == CardPoll::State::ReaderError) {
            m_message = userform::kReaderError;
        } else if (card.state == CardPoll::State::NoCard) {
            m_message = kPrompt;
        } else {
            m_message = kNotAdministrator;
            CDbAccess db(CDbAccess::Store::Terminal);
            if (db.checkAdminUser(card.id) == 0) {
                done(kResultAdministrator);
                return;
            }
        }
        m_ui->messageLabel->setText(qt(m_message));
    }
    CBaseDialog::OnTimer(id);
}
