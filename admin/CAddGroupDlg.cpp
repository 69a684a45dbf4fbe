#include "admin/CAddGroupDlg.h"

#include "admin/NameCheck.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CAddGroupDlg.h"

CAddGroupDlg::CAddGroupDlg(bool subScreen, QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CAddGroupDlg>()),
      m_subScreen(subScreen) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CAddGroupDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
}

CAddGroupDlg::~CAddGroupDlg() = default;

bool CAddGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    if (m_subScreen)
        m_ui->endButton->setEnabled(false);
    return true;
}

void CAddGroupDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CAddGroupDlg::OnTimer(int id) {
    // The own timer only keeps the base timer company; the base polls.
    CBaseDialog::OnTimer(id);
}

void CAddGroupDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    m_groupName = cs(m_ui->groupNameEdit->text());
    const CString caption(kCaption);
    if (m_groupName.IsEmpty()) {
        CMessageBox::warn(this, CString(kNoName), caption);
    } else if (!isAcceptableNameLength(m_groupName)) {
        CMessageBox::warn(this, CString(kNameTooLong), caption);
    } else if (CMessageBox::yesNo(this, CString(kConfirm), caption) == CMessageBox::Yes) {
        CDbAccess db;
        if (db.existGroupName(m_groupName) == 0) {
            CMessageBox::warn(this, CString(kExists), caption);
        } else {
            const bool stored = storeTogether(db, [&] {
                return db.saveGroup(CString(), m_groupName, db.getGroupMaxOrder() + 1) == 0;
            });
            if (stored) {
                CMessageBox::ok(this, CString(kRegistered), caption);
                // Polling stays paused until the screen is left.
                return;
            }
            CMessageBox::warn(this, CString(kNotStored), caption);
        }
    }
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}
