#include "admin/CUpdGroupDlg.h"

#include "admin/NameCheck.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CUpdGroupDlg.h"

#include <cstdlib>

CUpdGroupDlg::CUpdGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CUpdGroupDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CUpdGroupDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
}

CUpdGroupDlg::~CUpdGroupDlg() = default;

bool CUpdGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // "戻る" leads back to the group selection here.
    disconnect(m_ui->backButton, &QPushButton::clicked, this, nullptr);
    connect(m_ui->backButton, &QPushButton::clicked, this, [this] { done(kResultSelection); });
    CString kengen;
    CString deleteFlag;
    CString order;
    CDbAccess db;
    db.getGroup(m_groupId, m_oldName, kengen, deleteFlag, order);
    m_newName = m_oldName;
    m_ui->oldGroupNameEdit->setText(qt(m_oldName));
    m_ui->groupNameEdit->setText(qt(m_newName));
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CUpdGroupDlg::OnCancel() {
    done(kResultSelection);
}

void CUpdGroupDlg::OnTimer(int id) {
    if (id == m_timerId && theApp() != nullptr)
        theApp()->pollCard();
    CBaseDialog::OnTimer(id);
}

void CUpdGroupDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    m_newName = cs(m_ui->groupNameEdit->text());
    const CString caption(kCaption);
    if (m_newName.IsEmpty()) {
        CMessageBox::warn(this, CString(kNoName), caption);
    } else if (!isAcceptableNameLength(m_newName)) {
        CMessageBox::warn(this, CString(kNameTooLong), caption);
    } else if (CMessageBox::yesNo(this, CString(kConfirm), caption) == CMessageBox::Yes) {
        CDbAccess db;
        CString kengen;
        CString deleteFlag;
        CString order;
        db.getGroup(m_groupId, m_oldName, kengen, deleteFlag, order);
        m_ui->oldGroupNameEdit->setText(qt(m_oldName));
        const bool stored = storeTogether(db, [&] {
            return db.saveGroup(m_groupId, m_newName, std::strtol(order.c_str(), nullptr, 10)) == 0;
        });
        if (stored) {
            CMessageBox::ok(this, CString(kChanged), caption);
            return;
        }
        CMessageBox::warn(this, CString(kNotStored), caption);
    }
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}
