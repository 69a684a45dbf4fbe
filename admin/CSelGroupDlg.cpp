#include "admin/CSelGroupDlg.h"

#include "admin/CPickList.h"
#include "ui_CSelGroupDlg.h"

CSelGroupDlg::CSelGroupDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CSelGroupDlg>()) {
    m_ui->setupUi(this);
    m_list = std::make_unique<CPickList>(this, m_ui->groupList);
    setFont(japaneseFont());
    connect(m_ui->selectButton, &QPushButton::clicked, this, &CSelGroupDlg::OnSelect);
    connect(m_ui->groupList, &QListWidget::itemDoubleClicked, this, &CSelGroupDlg::OnSelect);
    setEnterButton(m_ui->selectButton);
}

CSelGroupDlg::~CSelGroupDlg() = default;

bool CSelGroupDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_list->showGroups(true);
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CSelGroupDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CSelGroupDlg::OnSelect() {
    m_selectedGroupId = m_list->chosenKey(kCaption);
    if (!m_selectedGroupId.IsEmpty())
        done(kResultChange);
}
