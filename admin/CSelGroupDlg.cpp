#include "admin/CSelGroupDlg.h"

#include "admin/CUserScreenParts.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "ui_CSelGroupDlg.h"

using userscreen::qt;

CSelGroupDlg::CSelGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CSelGroupDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1009, &QPushButton::clicked, this, &CSelGroupDlg::OnSelect);
}

CSelGroupDlg::~CSelGroupDlg() = default;

bool CSelGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getGroupList(&rows, true);
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
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CSelGroupDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CSelGroupDlg::OnSelect() {
    const QList<QListWidgetItem*> selected = m_ui->c1008->selectedItems();
    if (selected.isEmpty()) {
        CMessageBox::ok(this, CString(kNothingSelected), CString(kCaption));
        return;
    }
    m_selectedGroupId = m_groupIds.at(static_cast<std::size_t>(m_ui->c1008->row(selected.front())));
    done(kResultChange);
}
