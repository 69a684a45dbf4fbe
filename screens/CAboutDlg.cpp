#include "screens/CAboutDlg.h"

#include "screens/CBaseDialog.h"
#include "ui_CAboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>()) {
    m_ui->setupUi(this);
    setFont(CBaseDialog::japaneseFont());
    setWindowIcon(CBaseDialog::programIcon());
    m_ui->iconLabel->setPixmap(CBaseDialog::programIcon().pixmap(32, 32));
}

CAboutDlg::~CAboutDlg() = default;
