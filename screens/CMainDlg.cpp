#include "screens/CMainDlg.h"

#include "data/CDbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"
#include "screens/IApplication.h"
#include "ui_CMainDlg.h"

struct CMainDlg::Texts {
    CString userId;
    CString greeting;
    CString loginId;
};

namespace {
const char* const kTimestamp = "%Y%m%d%H%M%S%s";
}

CMainDlg::CMainDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CMainDlg>()),
      m_texts(std::make_unique<Texts>()) {
    m_ui->setupUi(this);
    QFont greetingFont = japaneseFont(kGreetingPointSize);
    greetingFont.setBold(true);
    m_ui->label1036->setFont(greetingFont);
    connect(m_ui->button1008, &QPushButton::clicked, this, &CMainDlg::OnSettings);
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

    CDbAccess db;
    CString userName;
    CString mail;
    CString groupId;
    db.getUser(m_texts->userId, userName, mail, groupId);
    CString groupName;
    CString kengen;
    CString deleteFlag;
    CString orderId;
    db.getGroup(groupId, groupName, kengen, deleteFlag, orderId);

    // One time value for the greeting and the visit.
    NVKTL::CTime now;
    now.SetNow();
    CString hourMinute;
    now.Format(hourMinute, "%H%M");
    const CString whom = groupName + " の " + userName + " さん、";
    const char* const greeting = greetingFor(hourMinute);
    m_texts->greeting = whom + greeting;
    // Shown on two lines, so that a long name never splits the greeting.
    m_ui->label1036->setText(QString::fromUtf8(whom.c_str()) + QLatin1Char('\n') +
                             QString::fromUtf8(greeting));

    CString loginDate;
    now.Format(loginDate, kTimestamp);
    db.addLogin(m_texts->userId, loginDate, m_texts->loginId);

    CMapStringToString settings;
    db.getDefault(settings);
    CString settingDisp;
    settings.Lookup(CString("setting_disp"), settingDisp);
    const bool offerSettings = settingDisp == "main" && db.checkAdminUser(m_texts->userId) == 0;
    if (!offerSettings)
        hideAndShrink(m_ui->button1008);
    placeFromSettings(settings);

    setScreenTimer(kScreenTimerId, kBaseTimerPeriod);
    return true;
}

void CMainDlg::OnTimer(int id) {
    if (id == kScreenTimerId) {
        IApplication* app = theApp();
        const CString card = app ? app->getCardId() : CString("err");
        // Any card keeps the greeting; none (or a reader error) ends it.
        if (card == "no" || card == "err") {
            done(kResultConfirm);
            return;
        }
    }
    CBaseDialog::OnTimer(id);
}

void CMainDlg::OnSettings() {
    NVKTL::CTime now;
    now.SetNow();
    CString date;
    now.Format(date, kTimestamp);
    {
        CDbAccess db;
        db.skipLogin(m_texts->loginId, date);
    }
    done(kResultAdminMenu);
}
