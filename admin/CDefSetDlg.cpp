#include "admin/CDefSetDlg.h"

#include "admin/MailAddressCheck.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "delivery/CMailRoute.h"
#include "delivery/CMailTexts.h"
#include "delivery/CNotification.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/CTime.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CDefSetDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <thread>

namespace {

const char* const kMailUser = "mail_user";
const char* const kMailAddress = "mail_address";
const char* const kMailSubject = "mail_subject";
const char* const kMailServer = "mail_server_ip";
const char* const kMailPort = "mail_server_port";
const char* const kMailAccount = "mail_acount";
const char* const kMailPassword = "mail_password";
const char* const kMailSecurity = "mail_security";

// The stored values of the encryption choice, in the order of its list.
const char* const kSecurityValues[] = {"", "starttls", "tls"};
const char* const kSecurityPorts[] = {"", "587", "465"};

// The kinds in the order of the text tabs.
constexpr VisitKind kKinds[] = {VisitKind::Visit, VisitKind::Arrival, VisitKind::Departure};

int securityIndex(const CString& value) {
    for (int i = 0; i < 3; ++i) {
        if (value.str() == kSecurityValues[i])
            return i;
    }
    return 0;
}

} // namespace

CDefSetDlg::CDefSetDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CDefSetDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    m_ui->portEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_ui->portEdit->installEventFilter(this);
    // The up-down arrows stand beside the port, as high as its field.
    m_ui->portArrows->setFixedHeight(m_ui->portEdit->sizeHint().height());
    for (QToolButton* arrow : {m_ui->portUpButton, m_ui->portDownButton})
        arrow->setMaximumHeight(16777215);
    // Each check box sits over the leading blanks of its group box's title.
    for (QCheckBox* box : {m_ui->smtpCheck, m_ui->authCheck}) {
        QWidget* group = box->parentWidget();
        group->layout()->removeWidget(box);
        box->adjustSize();
        box->move(QFontMetrics(group->font()).horizontalAdvance(QLatin1Char(' ')) + 4, 0);
        box->raise();
    }
    connect(m_ui->portUpButton, &QToolButton::clicked, this, [this] { OnPortStep(+1); });
    connect(m_ui->portDownButton, &QToolButton::clicked, this, [this] { OnPortStep(-1); });
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CDefSetDlg::OnRegister);
    setEnterButton(m_ui->registerButton);
    connect(m_ui->testSendButton, &QPushButton::clicked, this, &CDefSetDlg::OnTestSend);
    connect(m_ui->securityCombo, &QComboBox::activated, this, &CDefSetDlg::OnSecurityChosen);
    for (QCheckBox* box : {m_ui->smtpCheck, m_ui->authCheck})
        connect(box, &QCheckBox::toggled, this, &CDefSetDlg::followCheckBoxes);
    connect(m_ui->previewButton, &QPushButton::clicked, this, &CDefSetDlg::OnPreview);
    m_ui->placeholderLabel->setText(
        qt(CString(kPlaceholderHelp) + CMailTexts::placeholderList() + kEmptyIsDefault));
    // An empty text is the default one, shown greyed where it goes.
    for (const VisitKind kind : kKinds)
        bodyEdit(kind)->setPlaceholderText(qt(CMailTexts::defaultBody(kind)));
}

QPlainTextEdit* CDefSetDlg::bodyEdit(VisitKind kind) const {
    return kind == VisitKind::Arrival     ? m_ui->arrivalBodyEdit
           : kind == VisitKind::Departure ? m_ui->departureBodyEdit
                                          : m_ui->visitBodyEdit;
}

QLineEdit* CDefSetDlg::subjectEdit(VisitKind kind) const {
    return kind == VisitKind::Arrival     ? m_ui->arrivalSubjectEdit
           : kind == VisitKind::Departure ? m_ui->departureSubjectEdit
                                          : m_ui->subjectEdit;
}

CDefSetDlg::~CDefSetDlg() = default;

bool CDefSetDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CMapStringToString values;
    {
        CDbAccess db;
        db.getDefault(values);
    }
    m_mailUser = values.Value(kMailUser);
    m_mailAddress = values.Value(kMailAddress);
    m_mailSubject = values.Value(kMailSubject);
    m_mailServer = values.Value(kMailServer);
    m_mailPort = values.Value(kMailPort);
    m_mailAccount = values.Value(kMailAccount);
    m_mailPassword = values.Value(kMailPassword);
    m_mailSecurity = values.Value(kMailSecurity);
    for (const VisitKind kind : kKinds) {
        if (kind != VisitKind::Visit)
            m_mailTexts.SetAt(CMailTexts::subjectKey(kind),
                              values.Value(CMailTexts::subjectKey(kind)));
        m_mailTexts.SetAt(CMailTexts::bodyKey(kind), values.Value(CMailTexts::bodyKey(kind)));
    }

    if (m_mailServer.IsEmpty() || m_mailPort.IsEmpty()) {
        m_useSmtp = 0;
        m_mailServer = CString();
        m_mailPort = CString();
        m_mailSecurity = CString();
        m_useAuth = 0;
        m_mailAccount = CString();
        m_mailPassword = CString();
    } else {
        m_useSmtp = 1;
        if (m_mailAccount.IsEmpty() || m_mailPassword.IsEmpty()) {
            m_useAuth = 0;
            m_mailAccount = CString();
            m_mailPassword = CString();
        } else {
            m_useAuth = 1;
        }
    }
    updateData(false);
    return true;
}

void CDefSetDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CDefSetDlg::updateData(bool fromControls) {
    struct Field {
        QLineEdit* edit;
        CString* member;
    };
    const Field fields[] = {
        {m_ui->senderNameEdit, &m_mailUser},   {m_ui->senderAddressEdit, &m_mailAddress},
        {m_ui->subjectEdit, &m_mailSubject},   {m_ui->serverEdit, &m_mailServer},
        {m_ui->portEdit, &m_mailPort},         {m_ui->accountEdit, &m_mailAccount},
        {m_ui->passwordEdit, &m_mailPassword},
    };
    for (const Field& field : fields) {
        if (fromControls)
            *field.member = cs(field.edit->text());
        else
            field.edit->setText(qt(*field.member));
    }
    for (const VisitKind kind : kKinds) {
        const char* body = CMailTexts::bodyKey(kind);
        if (fromControls)
            m_mailTexts.SetAt(body, cs(bodyEdit(kind)->toPlainText()));
        else
            bodyEdit(kind)->setPlainText(qt(m_mailTexts.Value(body)));
        if (kind == VisitKind::Visit)
            continue;
        const char* subject = CMailTexts::subjectKey(kind);
        if (fromControls)
            m_mailTexts.SetAt(subject, cs(subjectEdit(kind)->text()));
        else
            subjectEdit(kind)->setText(qt(m_mailTexts.Value(subject)));
    }
    if (fromControls) {
        m_useSmtp = m_ui->smtpCheck->isChecked() ? 1 : 0;
        m_useAuth = m_ui->authCheck->isChecked() ? 1 : 0;
        m_mailSecurity = kSecurityValues[std::clamp(m_ui->securityCombo->currentIndex(), 0, 2)];
    } else {
        m_ui->smtpCheck->setChecked(m_useSmtp != 0);
        m_ui->authCheck->setChecked(m_useAuth != 0);
        m_ui->securityCombo->setCurrentIndex(securityIndex(m_mailSecurity));
        followCheckBoxes();
    }
}

void CDefSetDlg::followCheckBoxes() {
    for (QCheckBox* box : {m_ui->smtpCheck, m_ui->authCheck})
        for (QWidget* field :
             box->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (field != box)
                field->setEnabled(box->isChecked());
}

void CDefSetDlg::OnPortStep(int step) {
    // Like an up-down control bound to its buddy: the buddy's number, moved
    // one step and kept within the range.
    const long current = std::strtol(m_ui->portEdit->text().toLatin1().constData(), nullptr, 10);
    const long next = std::clamp<long>(current + step, kPortMinimum, kPortMaximum);
    m_ui->portEdit->setText(QString::number(next));
}

bool CDefSetDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->portEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            OnPortStep(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return CBaseDialog::eventFilter(watched, event);
}

bool CDefSetDlg::checkValues() {
    const CString caption(kCaption);
    updateData(true);
    if (m_mailAddress.IsEmpty()) {
        if (CMessageBox::yesNo(this, CString(kNoAdminAddress), caption) != CMessageBox::Yes)
            return false;
        m_mailUser = kDefaultSender;
        m_mailSubject = kDefaultSender;
        m_useSmtp = 0;
        m_useAuth = 0;
        m_mailServer = CString();
        m_mailPort = CString();
        m_mailSecurity = CString();
        m_mailAccount = CString();
        m_mailPassword = CString();
        updateData(false);
    } else if (!isAcceptableMailAddress(m_mailAddress)) {
        // The sender address goes into every notification's envelope.
        CMessageBox::warn(this, CString(kBadMailAddress), caption);
        return false;
    }
    if (m_mailUser.IsEmpty() || m_mailSubject.IsEmpty()) {
        CMessageBox::warn(this, CString(kNoAdminName), caption);
        return false;
    }
    if (!checkMailTexts())
        return false;
    if (m_useSmtp != 0) {
        if (m_mailServer.IsEmpty()) {
            CMessageBox::warn(this, CString(kNoServer), caption);
            return false;
        }
        if (m_mailPort.IsEmpty()) {
            CMessageBox::warn(this, CString(kNoPort), caption);
            return false;
        }
        if (m_useAuth != 0) {
            if (m_mailAccount.IsEmpty()) {
                CMessageBox::warn(this, CString(kNoAccount), caption);
                return false;
            }
            if (m_mailPassword.IsEmpty()) {
                CMessageBox::warn(this, CString(kNoPassword), caption);
                return false;
            }
        } else {
            if ((!m_mailAccount.IsEmpty() || !m_mailPassword.IsEmpty()) &&
                CMessageBox::yesNo(this, CString(kDropAccount), caption) != CMessageBox::Yes)
                return false;
            m_mailAccount = CString();
            m_mailPassword = CString();
            updateData(false);
        }
    } else {
        const bool typed = !m_mailServer.IsEmpty() || !m_mailPort.IsEmpty() ||
                           !m_mailAccount.IsEmpty() || !m_mailPassword.IsEmpty();
        if (typed && CMessageBox::yesNo(this, CString(kDropServer), caption) != CMessageBox::Yes)
            return false;
        m_mailServer = CString();
        m_mailPort = CString();
        m_mailSecurity = CString();
        m_mailAccount = CString();
        m_mailPassword = CString();
        updateData(false);
    }
    return true;
}

CMapStringToString CDefSetDlg::storedValues() const {
    CMapStringToString values;
    values.SetAt(CString(kMailUser), m_mailUser);
    values.SetAt(CString(kMailAddress), m_mailAddress);
    values.SetAt(CString(kMailSubject), m_mailSubject);
    values.SetAt(CString(kMailServer), m_mailServer);
    values.SetAt(CString(kMailPort), m_mailPort);
    values.SetAt(CString(kMailAccount), m_mailAccount);
    values.SetAt(CString(kMailPassword), m_mailPassword);
    values.SetAt(CString(kMailSecurity), m_mailSecurity);
    for (const auto& [key, text] : m_mailTexts)
        values.SetAt(key, text);
    return values;
}

bool CDefSetDlg::checkMailTexts() {
    for (int tab = 0; tab < 3; ++tab) {
        const VisitKind kind = kKinds[tab];
        const CString texts[] = {subjectEdit(kind) ? cs(subjectEdit(kind)->text()) : CString(),
                                 cs(bodyEdit(kind)->toPlainText())};
        for (const CString& text : texts) {
            const CString unknown = CMailTexts::unknownPlaceholder(text);
            if (unknown.IsEmpty())
                continue;
            m_ui->mailTextTabs->setCurrentIndex(tab);
            CMessageBox::warn(this,
                              CString("「") + unknown + kUnknownPlaceholder +
                                  CMailTexts::placeholderList() + kPlaceholderEnd,
                              CString(kCaption));
            return false;
        }
    }
    return true;
}

CMapStringToString CDefSetDlg::sampleMail(const NVKTL::CTime& now) {
    // The visit of the shown tab's kind, made by the administrator, with
    // the texts on the screen.
    updateData(true);
    CMapStringToString row = storedValues();
    row.SetAt("from_name", m_mailUser);
    row.SetAt("from_mail", m_mailAddress);
    row.SetAt("group_name", CString(kCaption));
    row.SetAt("login_date", now.Stamp());
    row.SetAt("login_kind", CString(CVisitRule::kindText(
                                kKinds[std::clamp(m_ui->mailTextTabs->currentIndex(), 0, 2)])));
    return CNotification::mailRequest(row);
}

void CDefSetDlg::OnPreview() {
    if (!checkMailTexts())
        return;
    NVKTL::CTime now;
    now.SetNow();
    const CMapStringToString mail = sampleMail(now);
    CMessageBox::ok(this,
                    CString(kPreviewSubject) + mail.Value("title") + "\r\n\r\n" +
                        CNotification::normalizeLineEnds(mail.Value("body").str()),
                    CString(kPreviewCaption));
}

void CDefSetDlg::OnRegister() {
    if (!checkValues())
        return;
    bool stored;
    {
        CDbAccess db;
        const CMapStringToString values = storedValues();
        stored = storeTogether(db, [&] { return db.storeDefault(values) == 0; });
    }
    showOutcome(this, stored, CString(kRegistered), CString(kCaption));
}

void CDefSetDlg::OnSecurityChosen(int index) {
    if (index > 0 && index < 3 && m_ui->portEdit->text().isEmpty())
        m_ui->portEdit->setText(QString::fromLatin1(kSecurityPorts[index]));
}

void CDefSetDlg::done(int result) {
    // The test send's thread holds this screen's values: the screen stays
    // until it has ended, which its bounded waits guarantee.
    if (m_testRunning)
        return;
    CBaseDialog::done(result);
}

void CDefSetDlg::setBusy(bool busy) {
    m_testRunning = busy;
    for (QWidget* child : findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(child) || qobject_cast<QAbstractButton*>(child) ||
            qobject_cast<QComboBox*>(child))
            child->setEnabled(!busy);
    }
    if (!busy)
        followCheckBoxes();
    m_ui->testSendButton->setText(busy ? qt(CString(kTestSending)) : QStringLiteral("テスト送信"));
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void CDefSetDlg::OnTestSend() {
    if (m_testRunning)
        return;
    // The test mail goes to the administrator address: without one there is
    // nobody to send it to.
    if (m_ui->senderAddressEdit->text().isEmpty()) {
        CMessageBox::warn(this, CString(kNoTestAddress), CString(kCaption));
        return;
    }
    if (!checkValues())
        return;

    NVKTL::CTime now;
    now.SetNow();
    CMapStringToString settings = storedValues();
    for (const auto& [key, value] : sampleMail(now))
        settings.SetAt(key, value);
    const CString message = CNotification::buildMessage(settings, now);

    setBusy(true);
    QEventLoop waiting;
    NVKTL::SmtpResult result = NVKTL::SmtpResult::NoConnection;
    std::thread worker([&waiting, &result, settings, message] {
        const auto outcome = static_cast<NVKTL::SmtpResult>(CMailRoute::deliverMail(
            settings, message, nullptr, CMailRoute::Limits{kTestTimeout, kTestTimeout, -1}));
        QMetaObject::invokeMethod(
            &waiting,
            [&waiting, &result, outcome] {
                result = outcome;
                waiting.quit();
            },
            Qt::QueuedConnection);
    });
    waiting.exec();
    worker.join();
    setBusy(false);

    if (result == NVKTL::SmtpResult::Ok)
        CMessageBox::ok(this, CString(kTestSent), CString(kCaption));
    else
        CMessageBox::warn(this, CString(kTestFailed) + NVKTL::CSmtpClient::GetErrorMessage(result),
                          CString(kCaption));
}
