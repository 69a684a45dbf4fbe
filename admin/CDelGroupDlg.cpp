#include "admin/CDelGroupDlg.h"

#include "admin/CPickList.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CDelGroupDlg.h"

CDelGroupDlg::CDelGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CDelGroupDlg>()) {
    m_ui->setupUi(this);
    m_list = std::make_unique<CPickList>(this, m_ui->groupList);
    setFont(japaneseFont());
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &CDelGroupDlg::OnDeleteGroups);
    setEnterButton(m_ui->deleteButton);
}

CDelGroupDlg::~CDelGroupDlg() = default;

bool CDelGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // The administrators' group carries a deletion mark and is never offered.
    m_list->showGroups(false);
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CDelGroupDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CDelGroupDlg::OnTimer(int id) {
    // Polling keeps the reader's beep for a newly presented card.
    if (id == m_timerId && theApp() != nullptr)
        theApp()->pollCard();
    CBaseDialog::OnTimer(id);
}

void CDelGroupDlg::OnDeleteGroups() {
    const CString caption(kCaption);
    auto confirm = [this, &caption](const CString& groupId, const CString& name) {
        bool hasUsers = false;
        {
            CDbAccess db;
            NVKTL::vector<CMapStringToString*> users;
            db.getUserList(groupId, &users);
            hasUsers = !users.empty();
            db.releaseVector(&users);
        }
        if (CMessageBox::yesNo(this, "グループ [" + name + "]を削除してよいですか？", caption) !=
            CMessageBox::Yes)
            return false;
        return !hasUsers ||
               CMessageBox::yesNo(this,
                                  "グループ [" + name +
                                      "]に登録しているユーザも削除されます。\nよろしいですか？",
                                  caption) == CMessageBox::Yes;
    };
    // Users that joined since the question go with the group too; none may
    // stay behind in a group that no longer exists.
    auto erase = [](CDbAccess& db, const CString& groupId) {
        return db.deleteGroupUsers(groupId) == 0 && db.deleteGroup(groupId) == 0;
    };
    m_list->deleteMarked({kCaption, kNothingSelected, kDeleted, confirm, erase});
}
