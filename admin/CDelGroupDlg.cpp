#include "admin/CDelGroupDlg.h"

#include "admin/CUserScreenParts.h"
#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CDelGroupDlg.h"

using userscreen::cs;
using userscreen::qt;

CDelGroupDlg::CDelGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CDelGroupDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1011, &QPushButton::clicked, this, &CDelGroupDlg::OnDeleteGroups);
}

CDelGroupDlg::~CDelGroupDlg() = default;

bool CDelGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    fillList();
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CDelGroupDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CDelGroupDlg::OnTimer(int id) {
    // Polling keeps the reader's beep for a newly presented card.
    if (id == m_timerId && theApp() != nullptr)
        theApp()->getCardId();
    CBaseDialog::OnTimer(id);
}

void CDelGroupDlg::fillList() {
    m_ui->c1008->clear();
    m_groupIds.clear();
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    // Groups with a deletion mark (the administrators') are never offered.
    db.getGroupList(&rows, false);
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        CString id;
        CString name;
        rows.at(i)->Lookup(CString("group_id"), id);
        rows.at(i)->Lookup(CString("group_name"), name);
        m_ui->c1008->addItem(qt(name));
        m_groupIds.push_back(id);
    }
    db.releaseVector(&rows);
}

void CDelGroupDlg::OnDeleteGroups() {
    const CString caption(kCaption);
    std::vector<int> marked;
    for (int row = 0; row < m_ui->c1008->count(); ++row)
        if (m_ui->c1008->item(row)->isSelected())
            marked.push_back(row);
    if (marked.empty()) {
        CMessageBox::ok(this, CString(kNothingSelected), caption);
        return;
    }
    // Every answer first, then the deletions together: a failure leaves every
    // marked group, its users and their addresses in place.
    std::vector<CString> confirmed;
    for (const int row : marked) {
        const CString groupId = m_groupIds.at(static_cast<std::size_t>(row));
        const CString name = cs(m_ui->c1008->item(row)->text());
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
            continue;
        if (hasUsers &&
            CMessageBox::yesNo(this,
                               "グループ [" + name +
                                   "]に登録しているユーザも削除されます。\nよろしいですか？",
                               caption) != CMessageBox::Yes)
            continue;
        confirmed.push_back(groupId);
    }
    bool stored = true;
    if (!confirmed.empty()) {
        CDbAccess db;
        stored = storeTogether(db, [&] {
            for (const CString& groupId : confirmed) {
                // Users that joined since the question go with the group too;
                // none may stay behind in a group that no longer exists.
                if (db.deleteGroupUsers(groupId) != 0 || db.deleteGroup(groupId) != 0)
                    return false;
            }
            return true;
        });
    }
    fillList();
    if (!stored)
        CMessageBox::ok(this, CString(kNotStored), caption);
    else if (!confirmed.empty())
        CMessageBox::ok(this, CString(kDeleted), caption);
    m_ui->c1008->clearSelection();
}
