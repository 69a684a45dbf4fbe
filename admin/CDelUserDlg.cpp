#include "admin/CDelUserDlg.h"

#include "admin/CPickList.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "ui_CDelUserDlg.h"

CDelUserDlg::CDelUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CDelUserDlg>()) {
    m_ui->setupUi(this);
    m_list = std::make_unique<CPickList>(this, m_ui->userList);
    setFont(japaneseFont());
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &CDelUserDlg::OnDeleteUsers);
    setEnterButton(m_ui->deleteButton);
}

CDelUserDlg::~CDelUserDlg() = default;

bool CDelUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_list->showUsersOf(m_ui->groupCombo);
    return true;
}

void CDelUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CDelUserDlg::OnDeleteUsers() {
    auto confirm = [this](const CString&, const CString& name) {
        return CMessageBox::yesNo(this, "ユーザ [" + name + "]さんを削除してよいですか？",
                                  CString(kCaption)) == CMessageBox::Yes;
    };
    auto erase = [](CDbAccess& db, const CString& userId) {
        return db.deleteUser(userId) == 0 && db.deleteMail(userId) == 0;
    };
    m_list->deleteMarked({kCaption, kNothingMarked, kDeleted, confirm, erase});
}
