#include "admin/CUpdUserDlg.h"

#include "admin/CUserScreenParts.h"
#include "admin/MailAddressCheck.h"
#include "admin/StoreTogether.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "nvktl/CStringList.h"
#include "nvktl/CTokenizer.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"
#include "ui_CUpdUserDlg.h"

using userscreen::cs;
using userscreen::qt;

CUpdUserDlg::CUpdUserDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CUpdUserDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    m_addresses = std::make_unique<userscreen::CAddressList>(this, m_ui->c1016, m_ui->c1010);
    connect(m_ui->c1018, &QPushButton::clicked, this, [this] { m_addresses->OnAdd(); });
    connect(m_ui->c1019, &QPushButton::clicked, this, [this] { m_addresses->OnDelete(); });
    connect(m_ui->c1020, &QPushButton::clicked, this, [this] { m_addresses->OnReplace(); });
    connect(m_ui->c1016, &QListWidget::itemSelectionChanged, this,
            [this] { m_addresses->OnSelectionChanged(); });
    connect(m_ui->c1003, &QPushButton::clicked, this, &CUpdUserDlg::OnRegister);
}

CUpdUserDlg::~CUpdUserDlg() = default;

bool CUpdUserDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    // "戻る" leads back to the user selection here.
    disconnect(m_ui->c1023, &QPushButton::clicked, this, nullptr);
    connect(m_ui->c1023, &QPushButton::clicked, this, [this] { done(kResultSelection); });

    loadOldData();
    userscreen::fillGroupCombo(m_ui->c1000, m_groupIds);
    for (std::size_t i = 0; i < m_groupIds.size(); ++i)
        if (m_groupIds[i] == m_oldGroupId)
            m_ui->c1000->setCurrentIndex(static_cast<int>(i));

    m_newName = m_oldName;
    NVKTL::CStringList pieces;
    NVKTL::CTokenizer(m_oldAddresses).Split(pieces, "\r\n");
    const std::size_t count = pieces.size();
    for (std::size_t i = 0; i < count; ++i)
        if (!pieces.at(i).IsEmpty())
            m_addresses->insertSorted(qt(pieces.at(i)));

    writeFields();
    restartTimer();
    return true;
}

void CUpdUserDlg::loadOldData() {
    CDbAccess db;
    CString storedMail;
    db.getUser(m_oldCard, m_oldName, storedMail, m_oldGroupId);
    CString kengen;
    CString deleteFlag;
    CString order;
    m_oldGroupName = CString();
    db.getGroup(m_oldGroupId, m_oldGroupName, kengen, deleteFlag, order);
    m_oldAddresses = CString();
    db.getAddress(m_oldCard, m_oldAddresses);
    m_ui->c1006->setText(qt(m_oldCard));
    m_ui->c1007->setText(qt(m_oldName));
    m_ui->c1011->setPlainText(qt(m_oldAddresses));
    m_ui->c1012->setText(qt(m_oldGroupName));
}

void CUpdUserDlg::OnCancel() {
    done(kResultSelection);
}

void CUpdUserDlg::readFields() {
    m_newCard = cs(m_ui->c1004->text());
    m_newName = cs(m_ui->c1005->text());
    m_address = cs(m_ui->c1010->text());
}

void CUpdUserDlg::writeFields() {
    m_ui->c1004->setText(qt(m_newCard));
    if (m_ui->c1005->text() != qt(m_newName))
        m_ui->c1005->setText(qt(m_newName));
    if (m_ui->c1010->text() != qt(m_address))
        m_ui->c1010->setText(qt(m_address));
}

void CUpdUserDlg::restartTimer() {
    m_timerId = setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
}

void CUpdUserDlg::OnTimer(int id) {
    if (id == m_timerId && id != 0) {
        readFields();
        m_newCard = userscreen::cardFieldText(theApp() ? theApp()->getCardId() : CString("err"));
        writeFields();
    }
    CBaseDialog::OnTimer(id);
}

void CUpdUserDlg::OnRegister() {
    killScreenTimer(kScreenTimerId);
    readFields();
    const CString caption(kCaption);
    const int group = m_ui->c1000->currentIndex();
    if (group < 0) {
        CMessageBox::ok(this, CString(kNoGroup), caption);
        restartTimer();
        return;
    }
    const CString groupId = m_groupIds.at(static_cast<std::size_t>(group));
    CString newCard = m_newCard;
    const bool crossesAdminGroup = (m_oldGroupId == kAdminGroup) != (groupId == kAdminGroup);
    if (!userscreen::holdsCardId(newCard)) {
        if (crossesAdminGroup) {
            CMessageBox::ok(this, newCard, caption);
            restartTimer();
            return;
        }
        newCard = m_oldCard;
    }
    if (m_newName.IsEmpty()) {
        CMessageBox::ok(this, CString(kNoName), caption);
        restartTimer();
        return;
    }
    if (!m_address.IsEmpty() && !isAcceptableMailAddress(m_address)) {
        CMessageBox::ok(this, CString(kBadMailAddress), caption);
        restartTimer();
        return;
    }
    // Another user's card would merge the two users and mail both families.
    CString holder;
    if (!(newCard == m_oldCard) && cardHolder(newCard, holder)) {
        CMessageBox::ok(this,
                        "このカードはすでに [" + holder + "]さんのカードとして登録されています。",
                        caption);
        restartTimer();
        return;
    }
    if (CMessageBox::yesNo(this, CString(kConfirm), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    if (!(newCard == m_oldCard) &&
        CMessageBox::yesNo(this, CString(kCardChanged), caption) != CMessageBox::Yes) {
        restartTimer();
        return;
    }
    CDbAccess db;
    const bool stored = storeTogether(db, [&] {
        int order = db.getUserOrder(m_oldCard);
        if (order < 0)
            order = db.getUserMaxOrder() + 1;
        return db.deleteUser(m_oldCard) == 0 && db.deleteMail(m_oldCard) == 0 &&
               db.saveUser(newCard, m_newName, m_address, groupId, order) == 0 &&
               addAddresses(db, newCard, m_address, m_addresses->entries());
    });
    if (!stored) {
        CMessageBox::ok(this, CString(kNotStored), caption);
        restartTimer();
        return;
    }
    CMessageBox::ok(this, CString(kChanged), userscreen::defaultCaption());
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
