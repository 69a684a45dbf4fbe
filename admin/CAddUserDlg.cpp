#include "admin/CAddUserDlg.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CUserScreenParts.h"
#include "admin/MailAddressCheck.h"
#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CAddUserDlg.h"

using userscreen::cs;
using userscreen::qt;

CAddUserDlg::CAddUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CAddUserDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    m_addresses = std::make_unique<userscreen::CAddressList>(this, m_ui->c1016, m_ui->c1010);
    connect(m_ui->c1017, &QPushButton::clicked, this, [this] { m_addresses->OnAdd(); });
    connect(m_ui->c1018, &QPushButton::clicked, this, [this] { m_addresses->OnDelete(); });
    connect(m_ui->c1019, &QPushButton::clicked, this, [this] { m_addresses->OnReplace(); });
    connect(m_ui->c1016, &QListWidget::itemSelectionChanged, this,
            [this] { m_addresses->OnSelectionChanged(); });
    connect(m_ui->c1015, &QPushButton::clicked, this, &CAddUserDlg::OnAddGroup);
    connect(m_ui->c1003, &QPushButton::clicked, this, &CAddUserDlg::OnRegister);
}

CAddUserDlg::~CAddUserDlg() = default;

bool CAddUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    fillGroups();
    if (m_ui->c1000->count() > 0)
        m_ui->c1000->setCurrentIndex(0);
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CAddUserDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CAddUserDlg::fillGroups() {
    userscreen::fillGroupCombo(m_ui->c1000, m_groupIds);
}

void CAddUserDlg::readFields() {
    m_card = cs(m_ui->c1004->text());
    m_name = cs(m_ui->c1005->text());
    m_address = cs(m_ui->c1010->text());
}

void CAddUserDlg::writeFields() {
    m_ui->c1004->setText(qt(m_card));
    if (m_ui->c1005->text() != qt(m_name))
        m_ui->c1005->setText(qt(m_name));
    if (m_ui->c1010->text() != qt(m_address))
        m_ui->c1010->setText(qt(m_address));
}

void CAddUserDlg::restartTimer() {
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}

void CAddUserDlg::OnTimer(int id) {
    if (id == m_timerId && id != 0) {
        readFields();
        const CString card = theApp() ? theApp()->getCardId() : CString("err");
        // The card just registered still lies on the reader: the next pupil's
        // card is awaited, and the previous one must not be taken for it.
        if (!m_registeredCard.IsEmpty() && card == m_registeredCard) {
            m_card = CString(userscreen::kPutCard);
        } else {
            m_registeredCard = CString();
            m_card = userscreen::cardFieldText(card);
        }
        writeFields();
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
    fillGroups();
    if (m_ui->c1000->count() > 0)
        m_ui->c1000->setCurrentIndex(m_ui->c1000->count() - 1);
}

void CAddUserDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    readFields();
    const CString caption(kCaption);
    if (!userscreen::holdsCardId(m_card)) {
        CMessageBox::ok(this, m_card, caption);
        restartTimer();
        return;
    }
    if (m_name.IsEmpty()) {
        CMessageBox::ok(this, CString(kNoName), caption);
        restartTimer();
        return;
    }
    const int group = m_ui->c1000->currentIndex();
    if (group < 0) {
        CMessageBox::ok(this, CString(kNoGroup), caption);
        restartTimer();
        return;
    }
    // The typed address is stored as well; it must be deliverable.
    if (!m_address.IsEmpty() && !isAcceptableMailAddress(m_address)) {
        CMessageBox::ok(this, CString(kBadMailAddress), caption);
        restartTimer();
        return;
    }
    if (CMessageBox::yesNo(this, CString(kConfirm), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    CDbAccess db;
    if (db.existUser(m_card) == 0 &&
        CMessageBox::yesNo(this, CString(kOverwrite), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    const CString groupId = m_groupIds.at(static_cast<std::size_t>(group));
    // An overwritten card drops its former holder's addresses with the rest.
    const bool stored = storeTogether(db, [&] {
        return db.saveUser(m_card, m_name, m_address, groupId, db.getUserMaxOrder() + 1) == 0 &&
               db.deleteMail(m_card) == 0 &&
               addAddresses(db, m_card, m_address, m_addresses->entries());
    });
    if (!stored) {
        CMessageBox::ok(this, CString(kNotStored), caption);
        restartTimer();
        return;
    }
    CMessageBox::ok(this, CString(kRegistered), userscreen::defaultCaption());
    readyForNextUser();
}

void CAddUserDlg::readyForNextUser() {
    // The group stays chosen: a class is registered one pupil after another.
    m_registeredCard = m_card;
    m_card = CString(userscreen::kPutCard);
    m_name = CString();
    m_address = CString();
    m_ui->c1016->clear();
    writeFields();
    restartTimer();
}
