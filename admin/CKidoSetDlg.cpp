#include "admin/CKidoSetDlg.h"

#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "data/CVisitRule.h"
#include "data/VisitDay.h"
#include "ui_CKidoSetDlg.h"

#include <QLineEdit>
#include <QSpinBox>

CKidoSetDlg::CKidoSetDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CKidoSetDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CKidoSetDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
    // A screen reader meets a spin box's number field: it carries the box's name.
    for (QSpinBox* spin : {m_ui->dayStartSpin, m_ui->tapGuardSpin})
        if (QLineEdit* field = spin->findChild<QLineEdit*>())
            field->setAccessibleName(spin->accessibleName());
    connect(m_ui->noticeModeCombo, &QComboBox::currentIndexChanged, this,
            &CKidoSetDlg::OnModeChosen);
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
    const CVisitRule rule(values);
    m_ui->noticeModeCombo->setCurrentIndex(rule.inOut() ? 1 : 0);
    m_ui->dayStartSpin->setValue(rule.dayStartHour());
    m_ui->tapGuardSpin->setValue(rule.guardMinutes());
    m_inOut = rule.inOut();
    return true;
}

int CKidoSetDlg::defaultGuard(bool inOut) {
    return inOut ? CVisitRule::kInOutGuardMinutes : 0;
}

void CKidoSetDlg::OnModeChosen(int index) {
    // A guard left at the old mode's default follows the new mode's.
    const bool inOut = index == 1;
    if (m_ui->tapGuardSpin->value() == defaultGuard(m_inOut))
        m_ui->tapGuardSpin->setValue(defaultGuard(inOut));
    m_inOut = inOut;
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
    m_inOut = m_ui->noticeModeCombo->currentIndex() == 1;
    values.SetAt(CString(CVisitRule::kModeKey), CString(m_inOut ? CVisitRule::kInOutMode : ""));
    values.SetAt(CString(CVisitRule::kDayStartKey),
                 CString(std::to_string(m_ui->dayStartSpin->value())));
    // The mode's own default is kept as empty, so that it follows the mode.
    const int guard = m_ui->tapGuardSpin->value();
    values.SetAt(CString(CVisitRule::kGuardKey),
                 guard == defaultGuard(m_inOut) ? CString() : CString(std::to_string(guard)));
    bool stored;
    {
        CDbAccess db;
        stored = storeTogether(db, [&] { return db.storeDefault(values) == 0; });
    }
    showOutcome(this, stored, CString(kRegistered), CString(kCaption));
}
