#include "admin/CUpdUserDlg.h"

#include "admin/CUserForm.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CUpdUserDlg.h"

CUpdUserDlg::CUpdUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CUpdUserDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_form = std::make_unique<CUserForm>(this);
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CUpdUserDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
    setEnterButton(m_ui->addAddressButton, m_ui->addressEdit);
}

CUpdUserDlg::~CUpdUserDlg() = default;

bool CUpdUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // "戻る" leads back to the user selection here.
    disconnect(m_ui->backButton, &QPushButton::clicked, this, nullptr);
    connect(m_ui->backButton, &QPushButton::clicked, this, [this] { done(kResultSelection); });

    loadOldData();
    m_form->fillGroups();
    m_form->selectGroup(m_oldGroupId);
    m_form->setName(m_oldName);
    m_form->setNoticeOff(m_oldNoticeOff);
    m_form->showAddresses(m_oldAddresses);
    restartTimer();
    return true;
}

void CUpdUserDlg::loadOldData() {
    CDbAccess db;
    CString storedMail;
    db.getUser(m_oldCard, m_oldName, storedMail, m_oldGroupId, m_oldNoticeOff);
    CString kengen;
    CString deleteFlag;
    CString order;
    CString groupName;
    db.getGroup(m_oldGroupId, groupName, kengen, deleteFlag, order);
    m_oldAddresses = CString();
    db.getAddress(m_oldCard, m_oldAddresses);
    m_ui->oldCardIdEdit->setText(qt(m_oldCard));
    m_ui->oldNameEdit->setText(qt(m_oldName));
    m_ui->oldAddressesEdit->setPlainText(qt(m_oldAddresses));
    m_ui->oldGroupEdit->setText(qt(groupName));
}

void CUpdUserDlg::OnCancel() {
    done(kResultSelection);
}

void CUpdUserDlg::restartTimer() {
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}

void CUpdUserDlg::refuse(const CString& text) {
    CMessageBox::warn(this, text, CString(kCaption));
    restartTimer();
}

void CUpdUserDlg::OnTimer(int id) {
    if (id == m_timerId && id != 0)
        m_form->showCard(userform::cardFieldText(pollReader()));
    CBaseDialog::OnTimer(id);
}

void CUpdUserDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    const CString caption(kCaption);
    const CString groupId = m_form->groupId();
    if (groupId.IsEmpty()) {
        refuse(CString(CUserForm::kNoGroup));
        return;
    }
    CString newCard = m_form->card();
    if (!userform::holdsCardId(newCard)) {
        // Moving into or out of the administrators' group needs the card.
        if ((m_oldGroupId == userform::kAdminGroup) != (groupId == userform::kAdminGroup)) {
            refuse(newCard);
            return;
        }
        newCard = m_oldCard;
    }
    if (m_form->refuseIncomplete(caption)) {
        restartTimer();
        return;
    }
    // Another user's card would merge the two users and mail both families.
    CString holder;
    if (!(newCard == m_oldCard) && cardHolder(newCard, holder)) {
        refuse("このカードはすでに [" + holder + "]さんのカードとして登録されています。");
        return;
    }
    if (CMessageBox::yesNo(this, CString(kConfirm), caption) != CMessageBox::Yes ||
        (!(newCard == m_oldCard) &&
         CMessageBox::yesNo(this, CString(kCardChanged), caption) != CMessageBox::Yes)) {
        restartTimer();
        return;
    }
    const CString name = m_form->name();
    const CString typed = m_form->typedAddress();
    CDbAccess db;
    const bool stored = storeTogether(db, [&] {
        int order = db.getUserOrder(m_oldCard);
        if (order < 0)
            order = db.getUserMaxOrder() + 1;
        return db.deleteUser(m_oldCard) == 0 && db.deleteMail(m_oldCard) == 0 &&
               db.saveUser(newCard, name, typed, groupId, order, m_form->noticeOff()) == 0 &&
               addAddresses(db, newCard, typed, m_form->addresses());
    });
    if (!stored) {
        refuse(CString(kNotStored));
        return;
    }
    CMessageBox::ok(this, CString(kChanged), CString(userform::kDefaultCaption));
    // A further change starts from what is stored now: the new card, its
    // place in the order and its addresses.
    m_oldCard = newCard;
    loadOldData();
}

bool CUpdUserDlg::cardHolder(const CString& card, CString& name) {
    CDbAccess db;
    CString mail;
    CString group;
    return db.getUser(card, name, mail, group) == 0;
}
