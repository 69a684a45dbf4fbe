#include "admin/CSelUserDlg.h"

#include "admin/CUserScreenParts.h"
#include "app/CControlIds.h"
#include "screens/CMessageBox.h"
#include "ui_CSelUserDlg.h"

CSelUserDlg::CSelUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CSelUserDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1030, &QPushButton::clicked, this, &CSelUserDlg::OnSelect);
}

CSelUserDlg::~CSelUserDlg() = default;

bool CSelUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    userscreen::fillGroupCombo(m_ui->c1002, m_groupIds);
    if (m_ui->c1002->count() > 0)
        m_ui->c1002->setCurrentIndex(0);
    fillUsers();
    connect(m_ui->c1002, &QComboBox::currentIndexChanged, this, [this] { fillUsers(); });
    return true;
}

void CSelUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CSelUserDlg::fillUsers() {
    const int group = m_ui->c1002->currentIndex();
    if (group < 0) {
        m_ui->c1000->clear();
        m_userIds.clear();
        return;
    }
    userscreen::fillUserList(m_ui->c1000, m_groupIds.at(static_cast<std::size_t>(group)),
                             m_userIds);
}

void CSelUserDlg::OnSelect() {
    const QList<QListWidgetItem*> selected = m_ui->c1000->selectedItems();
    if (selected.isEmpty()) {
        CMessageBox::ok(this, CString(kNothingSelected), CString(kCaption));
        return;
    }
    selectedUserId = m_userIds.at(static_cast<std::size_t>(m_ui->c1000->row(selected.front())));
    done(kResultChange);
}
