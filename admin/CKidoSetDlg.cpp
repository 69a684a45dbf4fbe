#include "admin/CKidoSetDlg.h"

#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "ui_CKidoSetDlg.h"

CKidoSetDlg::CKidoSetDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CKidoSetDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CKidoSetDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
}

CKidoSetDlg::~CKidoSetDlg() = default;

bool CKidoSetDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CMapStringToString values;
    {
        CDbAccess db;
        db.getDefault(values);
    }
    const CString kidoType = values.Value("kido_type");
    const CString settingDisp = values.Value("setting_disp");
    m_minimize = kidoType == "minimam" ? 1 : 0;
    m_settingOnMain = settingDisp == "main" ? 1 : 0;
    m_ui->minimizeCheck->setChecked(m_minimize != 0);
    m_ui->settingsOnMainCheck->setChecked(m_settingOnMain != 0);
    return true;
}

void CKidoSetDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CKidoSetDlg::OnRegister() {
    m_minimize = m_ui->minimizeCheck->isChecked() ? 1 : 0;
    m_settingOnMain = m_ui->settingsOnMainCheck->isChecked() ? 1 : 0;
    CMapStringToString values;
    values.SetAt(CString("kido_type"), CString(m_minimize != 0 ? "minimam" : "normal"));
    values.SetAt(CString("setting_disp"), CString(m_settingOnMain != 0 ? "main" : "top"));
    bool stored;
    {
        CDbAccess db;
        stored = storeTogether(db, [&] { return db.storeDefault(values) == 0; });
    }
    showOutcome(this, stored, CString(kRegistered), CString(kCaption));
}
