#include "admin/CKidoSetDlg.h"

#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "ui_CKidoSetDlg.h"

CKidoSetDlg::CKidoSetDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CKidoSetDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    connect(m_ui->c1003, &QPushButton::clicked, this, &CKidoSetDlg::OnRegister);
}

CKidoSetDlg::~CKidoSetDlg() = default;

bool CKidoSetDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CMapStringToString values;
    {
        CDbAccess db;
        db.getDefault(values);
    }
    CString kidoType;
    CString settingDisp;
    values.Lookup(CString("kido_type"), kidoType);
    values.Lookup(CString("setting_disp"), settingDisp);
    m_minimize = kidoType == "minimam" ? 1 : 0;
    m_settingOnMain = settingDisp == "main" ? 1 : 0;
    m_ui->c1046->setChecked(m_minimize != 0);
    m_ui->c1047->setChecked(m_settingOnMain != 0);
    return true;
}

void CKidoSetDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CKidoSetDlg::OnRegister() {
    m_minimize = m_ui->c1046->isChecked() ? 1 : 0;
    m_settingOnMain = m_ui->c1047->isChecked() ? 1 : 0;
    CMapStringToString values;
    values.SetAt(CString("kido_type"), CString(m_minimize != 0 ? "minimam" : "normal"));
    values.SetAt(CString("setting_disp"), CString(m_settingOnMain != 0 ? "main" : "top"));
    bool stored;
    {
        CDbAccess db;
        stored = storeTogether(db, [&] { return db.storeDefault(values) == 0; });
    }
    CMessageBox::ok(this, CString(stored ? kRegistered : kNotStored), CString(kCaption));
}
