// Kiosk mode on a display of the size named by the argument ("1280x800"), at
// the scale the terminal takes for it: every screen fills the display, no
// control lies over another or beyond it, every text is whole (the status text
// too), a screen speaks in one text size beside its large greeting or prompt,
// and texts, message boxes' included, are readable from a step away; only the
// program ends the first screen; the pointer hides when idle.
#include "app/CKioskMode.h"
#include "admin/CAdminScreens.h"
#include "admin/CChkAdmin2Dlg.h"
#include "admin/CChkAdminDlg.h"
#include "app/CEndingDlg.h"
#include "screens/CAboutDlg.h"
#include "screens/CMainDlg.h"
#include "screens/CPostonDlg.h"
#include "screens/CScreenTable.h"
#include "tests/support/qt/ScreenTest.h"

#include <QtWidgets>

#include <fstream>

using namespace testsupport;

namespace {

// What a person reads and uses; the parts of a list or field belong to it.
bool isControl(QWidget* widget, QWidget* window) {
    for (QWidget* up = widget->parentWidget(); up != window; up = up->parentWidget())
        if (qobject_cast<QAbstractScrollArea*>(up) || qobject_cast<QComboBox*>(up) ||
            qobject_cast<QAbstractSpinBox*>(up))
            return false;
    auto* label = qobject_cast<QLabel*>(widget);
    return widget->isVisibleTo(window) &&
           (label ? !label->text().trimmed().isEmpty()
                  : qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                        qobject_cast<QComboBox*>(widget) ||
                        qobject_cast<QAbstractScrollArea*>(widget) ||
                        qobject_cast<QGroupBox*>(widget));
}

std::vector<std::string> faultsOf(QWidget* window) {
    std::vector<std::string> faults;
    std::vector<std::pair<QWidget*, QRect>> seen;
    std::set<qreal> sizes;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!isControl(widget, window))
            continue;
        const std::string name = widget->objectName().toStdString();
        const QRect area(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!window->rect().contains(area))
            faults.push_back(name + " reaches beyond the screen");
        // A text needs its whole size; an arrow is drawn to its button's.
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const QSize needs = label && label->wordWrap()
                                ? QSize(0, label->heightForWidth(label->width()))
                                : widget->minimumSizeHint();
        if ((!button || !button->text().isEmpty()) &&
            (needs.width() > widget->width() || needs.height() > widget->height()))
            faults.push_back(name + " is cut");
        if (name != "greetingLabel" && (name != "messageLabel" || !window->inherits("CPostonDlg")))
            sizes.insert(widget->font().pointSizeF());
        for (const auto& [other, otherArea] : seen)
            if (area.intersects(otherArea) && !widget->isAncestorOf(other) &&
                !other->isAncestorOf(widget))
                faults.push_back(name + " lies over " + other->objectName().toStdString());
        seen.emplace_back(widget, area);
    }
    if (sizes.size() > 1)
        faults.push_back(std::to_string(sizes.size()) + " text sizes");
    return faults;
}

class CKioskModeTest : public ScreenTest {
protected:
    CKioskModeTest() { qApp->installEventFilter(&kiosk); }
    ~CKioskModeTest() override { qApp->removeEventFilter(&kiosk); }

    // Opens a screen modally through open(), checks it as it shows, then
    // puts it away.
    void check(const std::function<void()>& open) {
        QWidget* shown = nullptr;
        whenShown([&] {
            shown = QApplication::activeModalWidget();
            ASSERT_NE(shown, nullptr);
            SCOPED_TRACE(shown->metaObject()->className());
            if (auto* base = qobject_cast<CBaseDialog*>(shown)) // the longest status
                base->OnStatusText(CString("再送を待っているメールが12件あります"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            EXPECT_TRUE(qobject_cast<QMessageBox*>(shown) ||
                        (shown->geometry() == shown->screen()->geometry() &&
                         shown->windowState() == Qt::WindowFullScreen &&
                         (shown->windowFlags() & Qt::FramelessWindowHint)));
            EXPECT_EQ(faultsOf(shown), std::vector<std::string>());
            // Ordinary text in the display's pixels: a fiftieth of its height.
            EXPECT_GE(QFontMetricsF(shown->font()).height(),
                      shown->screen()->size().height() / 50.0);
            shown->hide();
        });
        open();
        EXPECT_NE(shown, nullptr);
    }

    CKioskMode kiosk{30};
};

TEST_F(CKioskModeTest, EveryScreenFillsTheDisplayWithNothingCutOrCovered) {
    const char* const card = "0123456789ABCDEF";
    data.addUser(card, "山田 太郎", "2", {"taro@example.jp"});
    data.query("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
               "VALUES (?, ?, 'taro@example.jp', '20260401083005000', 'サーバに接続できません')",
               {data.addVisit(card, "20260401083000000"), card});
    CScreenTable table;
    registerAdminScreens(table);
    for (int code = resultOf(ScreenCode::AdminMenu); code >= resultOf(ScreenCode::History);
         --code) {
        CString key(screenCodeOf(code) == ScreenCode::UserChange ? card : "2");
        if (table.has(screenCodeOf(code)))
            check([&] { table.show(screenCodeOf(code), key); });
    }
    auto* greeting = new CMainDlg;
    greeting->setUserId(CString(card));
    for (QDialog* screen :
         std::initializer_list<QDialog*>{new CPostonDlg, new CChkAdminDlg, new CChkAdmin2Dlg,
                                         new CEndingDlg, new CAboutDlg, greeting})
        check([screen] { std::unique_ptr<QDialog>(screen)->exec(); });
    CMessageBox::setScripted(false);
    check([] {
        CMessageBox::ok(nullptr, CString("ユーザ氏名が入力されていません。"),
                        CString("ユーザ登録"));
    });
}

// The program ends every screen itself (a card, a button); the window system
// (Alt+F4, a close button) and Escape end any screen but the first.
TEST_F(CKioskModeTest, OnlyTheProgramEndsTheFirstScreen) {
    enum Way { Program, WindowSystem, Escape };
    for (const bool first : {true, false}) {
        for (const Way way : {Program, WindowSystem, Escape}) {
            std::unique_ptr<QDialog> screen(first ? new CPostonDlg : new QDialog);
            QCloseEvent close; // as the window system sends it
            whenShown([&] {
                if (way == Program)
                    screen->done(resultOf(ScreenCode::Greeting));
                else if (way == WindowSystem)
                    QApplication::sendEvent(screen->windowHandle(), &close);
                else
                    pressKey(screen.get(), Qt::Key_Escape);
                EXPECT_EQ(screen->isVisible(), first && way != Program) << first << way;
                screen->hide(); // one that stays is put away by hand
            });
            screen->exec();
        }
    }
}

TEST_F(CKioskModeTest, PointerHidesWhenIdleAndReturnsWithMovement) {
    const auto hidden = [] {
        return QApplication::overrideCursor() &&
               QApplication::overrideCursor()->shape() == Qt::BlankCursor;
    };
    QDialog screen;
    screen.show();
    EXPECT_TRUE(waitProcessingEvents(hidden));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&screen, &move);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(waitProcessingEvents(hidden));
}

} // namespace

// The display: an offscreen screen of that size, at the kiosk's scale for it.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QSize display;
    if (argc < 2 || std::sscanf(argv[1], "%dx%d", &display.rwidth(), &display.rheight()) != 2)
        return 2;
    const std::string folder = makeTempFolder("poston-display-");
    std::ofstream(folder + "display.json")
        << "{\"screens\": [{\"name\": \"kiosk\", \"width\": " << display.width()
        << ", \"height\": " << display.height() << ", \"logicalDpi\": 96}]}";
    qputenv("QT_QPA_PLATFORM",
            QByteArray("offscreen:configfile=") + folder.c_str() + "display.json");
    CKioskMode::chooseScale(display);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    removeTree(folder);
    return result;
}
