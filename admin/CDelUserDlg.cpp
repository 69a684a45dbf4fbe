#include "admin/CDelUserDlg.h"

#include "admin/CUserScreenParts.h"
#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "ui_CDelUserDlg.h"

using userscreen::cs;

CDelUserDlg::CDelUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CDelUserDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1005, &QPushButton::clicked, this, &CDelUserDlg::OnDeleteUsers);
}

CDelUserDlg::~CDelUserDlg() = default;

bool CDelUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    userscreen::fillGroupCombo(m_ui->c1002, m_groupIds);
    if (m_ui->c1002->count() > 0)
        m_ui->c1002->setCurrentIndex(0);
    fillUsers();
    connect(m_ui->c1002, &QComboBox::currentIndexChanged, this, [this] { fillUsers(); });
    return true;
}

void CDelUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CDelUserDlg::fillUsers() {
    const int group = m_ui->c1002->currentIndex();
    if (group < 0) {
        m_ui->c1000->clear();
        m_userIds.clear();
        return;
    }
    userscreen::fillUserList(m_ui->c1000, m_groupIds.at(static_cast<std::size_t>(group)),
                             m_userIds);
}

void CDelUserDlg::OnDeleteUsers() {
    const CString caption(kCaption);
    std::vector<int> marked;
    for (int row = 0; row < m_ui->c1000->count(); ++row)
        if (m_ui->c1000->item(row)->isSelected())
            marked.push_back(row);
    if (marked.empty()) {
        CMessageBox::ok(this, CString(kNothingMarked), caption);
        return;
    }
    // Every answer first, then the deletions together: a failure leaves every
    // marked user in place.
    std::vector<CString> confirmed;
    for (const int row : marked) {
        const CString name = cs(m_ui->c1000->item(row)->text());
        if (CMessageBox::yesNo(this, "ユーザ [" + name + "]さんを削除してよいですか？", caption) ==
            CMessageBox::Yes)
            confirmed.push_back(m_userIds.at(static_cast<std::size_t>(row)));
    }
    bool stored = true;
    if (!confirmed.empty()) {
        CDbAccess db;
        stored = storeTogether(db, [&] {
            for (const CString& userId : confirmed)
                if (db.deleteUser(userId) != 0 || db.deleteMail(userId) != 0)
                    return false;
            return true;
        });
    }
    fillUsers();
    if (!stored)
        CMessageBox::ok(this, CString(kNotStored), caption);
    else if (!confirmed.empty())
        CMessageBox::ok(this, CString(kDeleted), caption);
    m_ui->c1000->clearSelection();
}
