#include "admin/CAddUserDlg.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CUserForm.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CAddUserDlg.h"

CAddUserDlg::CAddUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CAddUserDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_form = std::make_unique<CUserForm>(this);
    connect(m_ui->addGroupButton, &QPushButton::clicked, this, &CAddUserDlg::OnAddGroup);
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CAddUserDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
    setEnterButton(m_ui->addAddressButton, m_ui->addressEdit);
}

CAddUserDlg::~CAddUserDlg() = default;

bool CAddUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    m_form->fillGroups();
    // Until the reader has been looked at, the field asks for a card.
    m_form->showCard(CString(userform::kPutCard));
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CAddUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CAddUserDlg::restartTimer() {
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}

void CAddUserDlg::OnTimer(int id) {
    if (id == m_timerId && id != 0) {
        const CardPoll card = pollReader();
        // The card just registered still lies on the reader: the next pupil's
        // card is awaited, and the previous one must not be taken for it.
        if (!m_registeredCard.IsEmpty() && card.hasCard() && card.id == m_registeredCard) {
            m_form->showCard(CString(userform::kPutCard));
        } else {
            m_registeredCard = CString();
            m_form->showCard(userform::cardFieldText(card));
        }
    }
    CBaseDialog::OnTimer(id);
}

void CAddUserDlg::OnAddGroup() {
    CAddGroupDlg group(true, this);
    group.exec();
    // The sub-screen took the send thread and let it go as it closed; this
    // screen is the send thread's window again.
    if (theApp() != nullptr)
        theApp()->attachSendWindow(this);
    m_form->fillGroups();
    m_form->selectLastGroup();
}

void CAddUserDlg::refuse(const CString& text) {
    CMessageBox::warn(this, text, CString(kCaption));
    restartTimer();
}

void CAddUserDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    const CString caption(kCaption);
    const CString card = m_form->card();
    if (!userform::holdsCardId(card)) {
        refuse(card);
        return;
    }
    if (m_form->refuseIncomplete(caption) ||
        CMessageBox::yesNo(this, CString(kConfirm), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    CDbAccess db;
    if (db.existUser(card) == 0 &&
        CMessageBox::yesNo(this, CString(kOverwrite), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    const CString name = m_form->name();
    const CString typed = m_form->typedAddress();
    const CString groupId = m_form->groupId();
    // An overwritten card drops its former holder's addresses with the rest.
    const bool stored = storeTogether(db, [&] {
        return db.saveUser(card, name, typed, groupId, db.getUserMaxOrder() + 1,
                           m_form->noticeOff()) == 0 &&
               db.deleteMail(card) == 0 && addAddresses(db, card, typed, m_form->addresses());
    });
    if (!stored) {
        refuse(CString(kNotStored));
        return;
    }
    CMessageBox::ok(this, CString(kRegistered), CString(userform::kDefaultCaption));
    readyForNextUser();
}

void CAddUserDlg::readyForNextUser() {
    // The group stays chosen: a class is registered one pupil after another.
    m_registeredCard = m_form->card();
    m_form->showCard(CString(userform::kPutCard));
    m_form->clearUser();
    restartTimer();
}
