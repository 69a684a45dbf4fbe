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
    const std::pair<QPushButton*, int> buttons[] = {
        {m_ui->button1010, -8},  // group registration
        {m_ui->button1011, -9},  // group deletion
        {m_ui->button1012, -10}, // group selection, then change
        {m_ui->button1004, -4},  // user registration
        {m_ui->button1005, -5},  // user deletion
        {m_ui->button1006, -6},  // user selection, then change
        {m_ui->button1008, -21}, // operation settings
        {m_ui->button1007, -20}, // mail settings
        {m_ui->button1013, -30}, // mail error list
        {m_ui->button1022, kResultConfirm},
        {m_ui->button1023, kResultConfirm},
    };
    for (const auto& [button, result] : buttons) {
        // "戻る" leads to the user confirmation screen here, not to this menu.
        disconnect(button, &QPushButton::clicked, nullptr, nullptr);
        connect(button, &QPushButton::clicked, this, [this, code = result] { done(code); });
    }
    return true;
}

void CAdminMenuDlg::OnCancel() {
    done(kResultConfirm);
}
