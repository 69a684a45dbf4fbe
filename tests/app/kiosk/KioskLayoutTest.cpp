// Every screen in kiosk mode on a display of the size named by the program's
// argument ("1280x800"), at the scale the terminal takes for it: each screen
// fills the display, no control lies over another or beyond the screen, every
// text is whole, a screen speaks in one text size beside its large greeting or
// prompt, and message boxes use the screens' scale.
#include "admin/CAdminScreens.h"
#include "admin/CChkAdmin2Dlg.h"
#include "admin/CChkAdminDlg.h"
#include "app/CEndingDlg.h"
#include "app/CKioskMode.h"
#include "screens/CAboutDlg.h"
#include "screens/CMainDlg.h"
#include "screens/CPostonDlg.h"
#include "screens/CProgressStatusBar.h"
#include "screens/CScreenTable.h"
#include "tests/support/qt/ScreenTest.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <fstream>

using namespace testsupport;

namespace {

QSize g_display;

// What a person sees and uses: texts, buttons, fields, lists. The parts of a
// field or list (its scroll bars, its inner editor) belong to it.
std::vector<QWidget*> controlsOf(QWidget* window) {
    std::vector<QWidget*> found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        bool inside = false;
        for (QWidget* up = widget->parentWidget(); up != window && !inside; up = up->parentWidget())
            inside = qobject_cast<QAbstractScrollArea*>(up) || qobject_cast<QComboBox*>(up) ||
                     qobject_cast<QAbstractSpinBox*>(up);
        auto* label = qobject_cast<QLabel*>(widget);
        if (inside || (label && label->text().trimmed().isEmpty()))
            continue;
        if (label || qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractScrollArea*>(widget) ||
            qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QGroupBox*>(widget))
            found.push_back(widget);
    }
    return found;
}

QRect onWindow(QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

std::string nameOf(QWidget* widget) {
    return widget->objectName().isEmpty() ? widget->metaObject()->className()
                                          : widget->objectName().toStdString();
}

// The layout faults of one shown window, one line each.
std::vector<std::string> faultsOf(QWidget* window) {
    std::vector<std::string> faults;
    const std::vector<QWidget*> controls = controlsOf(window);
    std::map<qreal, std::string> sizes;
    for (QWidget* widget : controls) {
        const QRect area = onWindow(widget);
        if (!window->rect().contains(area))
            faults.push_back(nameOf(widget) + " reaches beyond the screen");
        // A text needs its whole size; an arrow is drawn to the button's.
        const QSize needs = widget->minimumSizeHint();
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const bool wraps = label && label->wordWrap();
        if ((!button || !button->text().isEmpty()) &&
            ((!wraps && needs.width() > widget->width()) ||
             (wraps ? label->heightForWidth(label->width()) : needs.height()) > widget->height()))
            faults.push_back(nameOf(widget) + " is cut");
        const std::string role = widget->objectName().toStdString();
        if (role != "greetingLabel" && (role != "messageLabel" || !window->inherits("CPostonDlg")))
            sizes.emplace(widget->font().pointSizeF(), role);
        for (QWidget* other : controls)
            if (other < widget && !widget->isAncestorOf(other) && !other->isAncestorOf(widget) &&
                area.intersects(onWindow(other)))
                faults.push_back(nameOf(widget) + " lies over " + nameOf(other));
    }
    if (sizes.size() > 1)
        faults.push_back(std::to_string(sizes.size()) + " text sizes, " + sizes.begin()->second +
                         " and " + sizes.rbegin()->second);
    return faults;
}

class KioskLayoutTest : public ScreenTest {
protected:
    KioskLayoutTest() {
        qApp->installEventFilter(&kiosk);
        data.addUser("00000000000000AD", "管理 花子", "1");
        data.addUser(kCard, "山田 太郎", "2", {"taro@example.jp", "taro.yamada@example.jp"});
        const std::string visit = data.addVisit(kCard, "20260401083000000");
        data.query("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
                   "VALUES (?, ?, 'taro@example.jp', '20260401083005000', "
                   "'サーバに接続できませんでした。')",
                   {visit, kCard});
    }
    ~KioskLayoutTest() override { qApp->removeEventFilter(&kiosk); }

    // Shows the screen modally through open(), notes its faults as it shows,
    // then hides it; a screen that does not show is a fault too.
    void check(const std::string& what, const std::function<void()>& open) {
        bool shown = false;
        whenShown([&] {
            QWidget* screen = QApplication::activeModalWidget();
            if (screen == nullptr)
                return;
            shown = true;
            // The longest status the send thread shows.
            if (auto* base = qobject_cast<CBaseDialog*>(screen))
                base->OnStatusText(CString("再送を待っているメールが12件あります"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            if (!qobject_cast<QMessageBox*>(screen)) {
                EXPECT_EQ(screen->geometry(), screen->screen()->geometry()) << what;
            }
            // Ordinary text, in the display's pixels.
            textHeights[what] =
                QFontMetricsF(screen->font()).height() * screen->devicePixelRatioF();
            for (const std::string& fault : faultsOf(screen))
                ADD_FAILURE() << what << ": " << fault;
            screen->hide();
        });
        open();
        EXPECT_TRUE(shown) << what;
    }

    static constexpr const char* kCard = "0123456789ABCDEF";
    CKioskMode kiosk;
    std::map<std::string, double> textHeights;
};

TEST_F(KioskLayoutTest, EveryScreenFitsTheDisplayAtOneReadableScale) {
    CScreenTable table;
    registerAdminScreens(table);
    CString key;
    const std::pair<ScreenCode, const char*> tableScreens[] = {
        {ScreenCode::AdminMenu, ""},         {ScreenCode::UserRegistration, ""},
        {ScreenCode::UserDeletion, ""},      {ScreenCode::UserSelection, ""},
        {ScreenCode::UserChange, kCard},     {ScreenCode::GroupRegistration, ""},
        {ScreenCode::GroupDeletion, ""},     {ScreenCode::GroupSelection, ""},
        {ScreenCode::GroupChange, "2"},      {ScreenCode::MailSettings, ""},
        {ScreenCode::OperationSettings, ""}, {ScreenCode::MailErrors, ""},
    };
    for (const auto& [code, selected] : tableScreens)
        check(std::to_string(resultOf(code)), [&, code = code, selected = selected] {
            key = CString(selected);
            table.show(code, key);
        });
    const auto plain = [](auto make) {
        return [make] {
            auto screen = make();
            screen->exec();
        };
    };
    check("CPostonDlg", plain([] { return std::make_unique<CPostonDlg>(); }));
    check("CMainDlg", plain([] {
              auto screen = std::make_unique<CMainDlg>();
              screen->setUserId(CString(kCard));
              return screen;
          }));
    check("CChkAdminDlg", plain([] { return std::make_unique<CChkAdminDlg>(); }));
    check("CChkAdmin2Dlg", plain([] { return std::make_unique<CChkAdmin2Dlg>(); }));
    check("CEndingDlg", plain([] { return std::make_unique<CEndingDlg>(); }));
    check("CAboutDlg", plain([] { return std::make_unique<CAboutDlg>(); }));
    CMessageBox::setScripted(false);
    check("message box", [] {
        CMessageBox::ok(nullptr,
                        CString("メールアドレスに空白や改行が含まれているか、@がありません"),
                        CString("ユーザ登録"));
    });
    // Readable from a step away, and the same in a message box.
    for (const auto& [what, height] : textHeights) {
        EXPECT_GE(height, g_display.height() / 50.0) << what;
        EXPECT_DOUBLE_EQ(height, textHeights["message box"]) << what;
    }
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int width = 0, height = 0;
    if (argc < 2 || std::sscanf(argv[1], "%dx%d", &width, &height) != 2)
        return 2;
    g_display = QSize(width, height);
    // An offscreen display of that size, at the scale the kiosk takes for it.
    const std::string config = makeTempFolder("poston-display-") + "display.json";
    std::ofstream(config) << "{\"screens\": [{\"name\": \"kiosk\", \"x\": 0, \"y\": 0, \"width\": "
                          << width << ", \"height\": " << height
                          << ", \"logicalDpi\": 96, \"dpr\": 1}]}";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config.c_str());
    CKioskMode::chooseScale(g_display);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    removeTree(config.substr(0, config.rfind('/') + 1));
    return result;
}
