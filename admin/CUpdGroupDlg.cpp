#include "admin/CUpdGroupDlg.h"

#include "admin/CUserScreenParts.h"
#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CUpdGroupDlg.h"

#include <cstdlib>

using userscreen::cs;
using userscreen::qt;

CUpdGroupDlg::CUpdGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CUpdGroupDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1003, &QPushButton::clicked, this, &CUpdGroupDlg::OnRegister);
}

CUpdGroupDlg::~CUpdGroupDlg() = default;

bool CUpdGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // "戻る" leads back to the group selection here.
    disconnect(m_ui->c1023, &QPushButton::clicked, this, nullptr);
    connect(m_ui->c1023, &QPushButton::clicked, this, [this] { done(kResultSelection); });
    CString kengen;
    CString deleteFlag;
    CString order;
    CDbAccess db;
    db.getGroup(m_groupId, m_oldName, kengen, deleteFlag, order);
    m_newName = m_oldName;
    m_ui->c1014->setText(qt(m_oldName));
    m_ui->c1007->setText(qt(m_newName));
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CUpdGroupDlg::OnCancel() {
    done(kResultSelection);
}

void CUpdGroupDlg::OnTimer(int id) {
    if (id == m_timerId && theApp() != nullptr)
        theApp()->getCardId();
    CBaseDialog::OnTimer(id);
}

void CUpdGroupDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    m_newName = cs(m_ui->c1007->text());
    const CString caption(kCaption);
    if (m_newName.IsEmpty()) {
        CMessageBox::ok(this, CString(kNoName), caption);
    } else if (CMessageBox::yesNo(this, CString(kConfirm), caption) == CMessageBox::Yes) {
        CDbAccess db;
        CString kengen;
        CString deleteFlag;
        CString order;
        db.getGroup(m_groupId, m_oldName, kengen, deleteFlag, order);
        m_ui->c1014->setText(qt(m_oldName));
        const bool stored = storeTogether(db, [&] {
            return db.saveGroup(m_groupId, m_newName, std::strtol(order.c_str(), nullptr, 10)) == 0;
        });
        if (stored) {
            CMessageBox::ok(this, CString(kChanged), caption);
            return;
        }
        CMessageBox::ok(this, CString(kNotStored), caption);
    }
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}
