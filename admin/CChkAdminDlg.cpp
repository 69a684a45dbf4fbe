#include "admin/CChkAdminDlg.h"

#include "admin/CUserForm.h"
#include "admin/MailAddressCheck.h"
#include "admin/NameCheck.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "screens/CBaseDialog.h"
#include "screens/CMessageBox.h"
#include "screens/CScreenTable.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CChkAdminDlg.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

namespace {

CString textOf(const QLineEdit* edit) {
    return cs(edit->text());
}

void setText(QLineEdit* edit, const CString& text) {
    const QString value = qt(text);
    if (edit->text() != value)
        edit->setText(value);
}

} // namespace

CChkAdminDlg::CChkAdminDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CChkAdminDlg>()), m_timer(new QTimer(this)) {
    m_ui->setupUi(this);
    setFont(CBaseDialog::japaneseFont());
    setWindowIcon(CBaseDialog::programIcon());
    CBaseDialog::clearDefaultButtons(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTimerPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CChkAdminDlg::OnTimer);
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CChkAdminDlg::OnRegister);
    connect(m_ui->endButton, &QPushButton::clicked, this, [this] { done(kResultLeft); });
}

CChkAdminDlg::~CChkAdminDlg() = default;

ScreenCode CChkAdminDlg::startCheck(CDbAccess& db, ScreenCode code) {
    if (db.existAdminUser() == 0)
        return code;
    CChkAdminDlg registration;
    if (registration.exec() == kResultRegistered)
        return ScreenCode::AdminMenu;
    return ScreenCode::Leave;
}

bool CChkAdminDlg::isTimerActive() const {
    return m_timer->isActive();
}

void CChkAdminDlg::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

bool CChkAdminDlg::OnInitDialog() {
    // Until the reader has been looked at, the field asks for a card.
    m_ui->cardIdEdit->setText(QString::fromUtf8(userform::kPutCard));
    CBaseDialog::focusFirstField(this);
    startTimer();
    return true;
}

void CChkAdminDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    CBaseDialog::pressOnEnter(focusWidget(), m_ui->registerButton);
}

void CChkAdminDlg::reject() {
    m_timer->stop();
    done(kResultLeft);
}

void CChkAdminDlg::startTimer() {
    m_timer->start();
}

void CChkAdminDlg::readFields() {
    m_card = textOf(m_ui->cardIdEdit);
    m_name = textOf(m_ui->nameEdit);
    m_mail = textOf(m_ui->addressEdit);
}

void CChkAdminDlg::writeFields() {
    setText(m_ui->cardIdEdit, m_card);
    setText(m_ui->nameEdit, m_name);
    setText(m_ui->addressEdit, m_mail);
}

void CChkAdminDlg::OnTimer() {
    readFields();
    m_card = userform::cardFieldText(pollReader());
    writeFields();
}

void CChkAdminDlg::OnRegister() {
    m_timer->stop();
    readFields();
    // Messages without a caption of their own carry the program's name.
    const CString caption(userform::kDefaultCaption);
    if (!userform::holdsCardId(m_card)) {
        CMessageBox::warn(this, m_card, caption);
        startTimer();
        return;
    }
    if (m_name.IsEmpty() || !isAcceptableNameLength(m_name)) {
        CMessageBox::warn(this, CString(m_name.IsEmpty() ? CUserForm::kNoName : kNameTooLong),
                          caption);
        startTimer();
        return;
    }
    // The first administrator's address is mailed like any other user's.
    if (!m_mail.IsEmpty() && !isAcceptableMailAddress(m_mail)) {
        CMessageBox::warn(this, CString(kBadMailAddress), caption);
        startTimer();
        return;
    }
    if (CMessageBox::yesNo(this, CString(kConfirm), CString(kConfirmCaption)) != CMessageBox::Yes) {
        startTimer();
        return;
    }
    CDbAccess db;
    if (db.existUser(m_card) == 0 &&
        CMessageBox::yesNo(this, CString(kOverwrite), CString(kConfirmCaption)) !=
            CMessageBox::Yes) {
        startTimer();
        return;
    }
    const bool stored = storeTogether(db, [&] {
        const long order = db.getUserMaxOrder() + 1L;
        return db.saveUser(m_card, m_name, m_mail, CString(userform::kAdminGroup), order) == 0 &&
               db.deleteMail(m_card) == 0 && addAddresses(db, m_card, m_mail, {});
    });
    if (!stored) {
        CMessageBox::warn(this, CString(kNotStored), caption);
        startTimer();
        return;
    }
    CMessageBox::ok(this, CString(kRegistered), caption);
    done(kResultRegistered);
}
