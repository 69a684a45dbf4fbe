#include "admin/CSelUserDlg.h"

#include "admin/CPickList.h"
#include "ui_CSelUserDlg.h"

CSelUserDlg::CSelUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CSelUserDlg>()) {
    m_ui->setupUi(this);
    m_list = std::make_unique<CPickList>(this, m_ui->userList);
    setFont(japaneseFont());
    connect(m_ui->selectButton, &QPushButton::clicked, this, &CSelUserDlg::OnSelect);
    connect(m_ui->userList, &QListWidget::itemDoubleClicked, this, &CSelUserDlg::OnSelect);
    setEnterButton(m_ui->selectButton);
}

CSelUserDlg::~CSelUserDlg() = default;

bool CSelUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_list->showUsersOf(m_ui->groupCombo);
    return true;
}

void CSelUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CSelUserDlg::OnSelect() {
    selectedUserId = m_list->chosenKey(kCaption);
    if (!selectedUserId.IsEmpty())
        done(kResultChange);
}
