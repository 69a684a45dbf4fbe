#include "screens/CMainDlg.h"

#include "data/CDbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"
#include "screens/IApplication.h"
#include "screens/QtText.h"
#include "ui_CMainDlg.h"

struct CMainDlg::Texts {
    CString userId;
    CString greeting;
    CString loginId;
    // Polls in a row that found no card.
    int missedPolls = 0;
};

namespace {
// Shown instead of the greeting when the visit could not be stored.
const char* const kNotRecorded = "来訪を記録できませんでした。係の方にお知らせください。";
// After the kind: "入室済みです。".
const char* const kAlreadyRecorded = "済みです。";
const char* const kGoodbye = "さようなら。";
} // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CMainDlg>()),
      m_texts(std::make_unique<Texts>()) {
    m_ui->setupUi(this);
    QFont greetingFont = japaneseFont(kGreetingPointSize);
    greetingFont.setBold(true);
    m_ui->greetingLabel->setFont(greetingFont);
    connect(m_ui->settingsButton, &QPushButton::clicked, this, &CMainDlg::OnSettings);
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::setUserId(const CString& userId) {
    m_texts->userId = userId;
}

CString CMainDlg::getGreeting() const {
    return m_texts->greeting;
}

CString CMainDlg::getLoginId() const {
    return m_texts->loginId;
}

const char* CMainDlg::greetingFor(const CString& hourMinute) {
    // Text comparisons of the four digits: 10:00 is already afternoon.
    if (hourMinute.str() < "1000")
        return "おはようございます。";
    if (hourMinute.str() < "1700")
        return "こんにちは。";
    return "こんばんは。";
}

bool CMainDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();

    // The greeting never waits on the network: the user, the visit and the
    // settings are on the terminal's own file.
    CDbAccess db(CDbAccess::Store::Terminal);
    CString userName;
    CString mail;
    CString groupId;
    db.getUser(m_texts->userId, userName, mail, groupId);
    CString groupName;
    CString kengen;
    CString deleteFlag;
    CString orderId;
    db.getGroup(groupId, groupName, kengen, deleteFlag, orderId);

    CMapStringToString settings;
    db.getDefault(settings);

    // One time value for the greeting and the visit.
    NVKTL::CTime now;
    now.SetNow();
    CString hourMinute;
    now.Format(hourMinute, "%H%M");
    VisitKind kind = VisitKind::Visit;
    const CDbAccess::Touch touch =
        db.addTouch(m_texts->userId, now.Stamp(), CVisitRule(settings), kind, m_texts->loginId);
    const CString whom = groupName + " の " + userName + " さん、";
    // A second touch within the guard is told that it counted already, so
    // that a child who tapped twice is not left wondering.
    const std::string greeting = touch == CDbAccess::Touch::AlreadyRecorded
                                     ? std::string(CVisitRule::kindText(kind)) + kAlreadyRecorded
                                 : kind == VisitKind::Departure
                                     ? std::string(kGoodbye)
                                     : std::string(greetingFor(hourMinute));
    m_texts->greeting = whom + greeting.c_str();
    // Shown on two lines, so that a long name never splits the greeting.
    m_ui->greetingLabel->setText(qt(whom) + QLatin1Char('\n') + QString::fromUtf8(greeting));
    if (touch == CDbAccess::Touch::Failed) {
        // No greeting for a visit nobody will be told of, and no id of
        // another visit for "諸設定" to withdraw.
        m_texts->loginId = CString();
        m_texts->greeting = CString(kNotRecorded);
        m_ui->greetingLabel->setText(QString::fromUtf8(kNotRecorded));
    }

    // An administrator who tapped twice may still go on to the settings.
    const bool offerSettings = settings.Value("setting_disp") == "main" &&
                               touch != CDbAccess::Touch::Failed &&
                               db.checkAdminUser(m_texts->userId) == 0;
    if (!offerSettings)
        hideAndShrink(m_ui->settingsButton);
    // The mails go now; a visit that "諸設定" may still withdraw waits for
    // the send thread's period as before.
    if (!m_texts->loginId.IsEmpty() && !offerSettings)
        if (IApplication* app = theApp())
            app->visitRecorded();
    placeFromSettings(settings);

    setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CMainDlg::OnTimer(int id) {
    if (id == kScreenTimerId) {
        const CardPoll poll = pollReader();
        // Any card keeps the greeting; a reader error ends it, and so does
        // no card for about a second: one missed poll of a card that still
        // lies there is not its removal.
        m_texts->missedPolls = poll.hasCard() ? 0 : m_texts->missedPolls + 1;
        if (poll.state == CardPoll::State::ReaderError ||
            m_texts->missedPolls >= kMissedPollsForLift) {
            done(kResultConfirm);
            return;
        }
    }
    CBaseDialog::OnTimer(id);
}

void CMainDlg::OnSettings() {
    const CString date = NVKTL::CTime::StampNow();
    if (!m_texts->loginId.IsEmpty()) {
        CDbAccess db(CDbAccess::Store::Terminal);
        db.skipLogin(m_texts->loginId, date);
    }
    done(kResultAdminMenu);
}
