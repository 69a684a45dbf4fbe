#include "admin/CAdminMenuDlg.h"

#include "ui_CAdminMenuDlg.h"

#include <QPushButton>

#include <utility>

CAdminMenuDlg::CAdminMenuDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CAdminMenuDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
}

CAdminMenuDlg::~CAdminMenuDlg() = default;

bool CAdminMenuDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    const std::pair<QPushButton*, ScreenCode> buttons[] = {
        {m_ui->addGroupButton, ScreenCode::GroupRegistration},
        {m_ui->deleteGroupButton, ScreenCode::GroupDeletion},
        {m_ui->changeGroupButton, ScreenCode::GroupSelection},
        {m_ui->addUserButton, ScreenCode::UserRegistration},
        {m_ui->deleteUserButton, ScreenCode::UserDeletion},
        {m_ui->changeUserButton, ScreenCode::UserSelection},
        {m_ui->operationSettingsButton, ScreenCode::OperationSettings},
        {m_ui->mailSettingsButton, ScreenCode::MailSettings},
        {m_ui->mailErrorsButton, ScreenCode::MailErrors},
        {m_ui->historyButton, ScreenCode::History},
        {m_ui->endButton, ScreenCode::UserConfirmation},
        {m_ui->backButton, ScreenCode::UserConfirmation},
    };
    for (const auto& [button, result] : buttons) {
        // "戻る" leads to the user confirmation screen here, not to this menu.
        disconnect(button, &QPushButton::clicked, nullptr, nullptr);
        connect(button, &QPushButton::clicked, this,
                [this, code = result] { done(resultOf(code)); });
    }
    return true;
}

void CAdminMenuDlg::OnCancel() {
    done(kResultConfirm);
}
