#include "screens/CPostonDlg.h"

#include "data/CDbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CPostonDlg.h"

#include <QEvent>
#include <QWindowStateChangeEvent>

namespace {

const char* const kPrompt = "ＩＣカードをかざしてください。";
const char* const kNotAUser = "ユーザではありません。";
const char* const kReaderError = "エラーが発生しています。再起動してください";

CPostonDlg::AdminCheck& adminCheck() {
    static CPostonDlg::AdminCheck check;
    return check;
}

} // namespace

struct CPostonDlg::Texts {
    CString message;
    // The centre as the settings hold it.
    CString storedTop;
    CString storedLeft;
};

void CPostonDlg::setAdminCheck(AdminCheck check) {
    adminCheck() = std::move(check);
}

CPostonDlg::CPostonDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CPostonDlg>()),
      m_texts(std::make_unique<Texts>()) {
    m_ui->setupUi(this);
    setWindowFlags((windowFlags() | Qt::WindowMinimizeButtonHint) &
                   ~Qt::WindowContextHelpButtonHint);
    // The prompt is read from a step away.
    m_ui->messageLabel->setFont(japaneseFont(18));
    // The badge keeps its place while hidden: it never moves the screen's
    // other controls.
    QSizePolicy badge = m_ui->waitingLabel->sizePolicy();
    badge.setRetainSizeWhenHidden(true);
    m_ui->waitingLabel->setSizePolicy(badge);
    m_ui->waitingLabel->hide();
    connect(m_ui->settingsButton, &QPushButton::clicked, this, &CPostonDlg::OnSettings);
}

CPostonDlg::~CPostonDlg() = default;

CString CPostonDlg::getMessage() const {
    return m_texts->message;
}

bool CPostonDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();

    CMapStringToString settings;
    {
        CDbAccess db(CDbAccess::Store::Terminal);
        db.getDefault(settings);
        OnWaitingCount(db.getWaitingCount());
    }
    if (settings.Value("setting_disp") == "main")
        hideAndShrink(m_ui->settingsButton);
    placeFromSettings(settings);
    m_texts->storedTop = settings.Value("window_top");
    m_texts->storedLeft = settings.Value("window_left");
    if (settings.Value("kido_type") == "minimam")
        setWindowState(windowState() | Qt::WindowMinimized);

    setCardTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CPostonDlg::showMessage(const char* text) {
    m_texts->message = text;
    m_ui->messageLabel->setText(QString::fromUtf8(text));
}

void CPostonDlg::OnTimer(int id) {
    if (id == kScreenTimerId) {
        const CardPoll poll = pollReader();
        if (poll.state == CardPoll::State::ReaderError) {
            showMessage(kReaderError);
        } else if (poll.state == CardPoll::State::NoCard) {
            // A reader that keeps failing must not look like an idle one.
            IApplication* app = theApp();
            showMessage(app && app->isReaderFailing() ? kReaderError : kPrompt);
        } else {
            m_texts->message = poll.id;
            int found;
            {
                CDbAccess db(CDbAccess::Store::Terminal);
                found = db.existUser(poll.id);
            }
            if (found == 0) {
                savePosition();
                done(kResultGreeting);
                return;
            }
            showMessage(kNotAUser);
        }
    }
    CBaseDialog::OnTimer(id);
}

void CPostonDlg::OnSettings() {
    killScreenTimer(kScreenTimerId);
    const AdminCheck& check = adminCheck();
    if (check && check(this) == 1) {
        savePosition();
        done(kResultAdminMenu);
        return;
    }
    setCardTimer(kScreenTimerId, kBaseTimerPeriod);
}

void CPostonDlg::OnWaitingCount(int count) {
    CString badge;
    badge.Format(kWaiting, count);
    m_ui->waitingLabel->setText(count > 0 ? qt(badge) : QString());
    m_ui->waitingLabel->setVisible(count > 0);
}

void CPostonDlg::OnCancel() {
    savePosition();
    done(kResultLeave);
}

void CPostonDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const Qt::WindowStates wasOther = Qt::WindowMinimized | Qt::WindowMaximized;
        // Minimising from the normal state keeps that state's centre.
        if ((windowState() & Qt::WindowMinimized) && !(change->oldState() & wasOther) &&
            isVisible())
            writeCentre(windowCentre());
    }
    CBaseDialog::changeEvent(event);
}

void CPostonDlg::savePosition() {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        return;
    writeCentre(windowCentre());
}

void CPostonDlg::writeCentre(const QPoint& centre) {
    CString top;
    CString left;
    top.Format("%d", centre.y());
    left.Format("%d", centre.x());
    // Every recognised card ends this screen with a save; one that would
    // store what is stored already is one write less before the greeting.
    if (top == m_texts->storedTop && left == m_texts->storedLeft)
        return;
    CMapStringToString values;
    values.SetAt(CString("window_top"), top);
    values.SetAt(CString("window_left"), left);
    // Where the window sits is this terminal's own setting.
    CDbAccess db(CDbAccess::Store::Terminal);
    if (db.storeDefault(values) == 0) {
        m_texts->storedTop = top;
        m_texts->storedLeft = left;
    }
}
