// The screen base: the shared card poll, its timers, the about box, the keys,
// the status bar and the send thread's binding and data requests.
#include "ScreenTestSupport.h"

#include "screens/CAboutDlg.h"
#include "screens/CBaseDialog.h"
#include "screens/CCardPollCache.h"
#include "screens/CProgressStatusBar.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <future>

namespace {

// A screen with the shared buttons and one of its own.
class PlainScreen : public CBaseDialog {
public:
    explicit PlainScreen(unsigned id = 133) : CBaseDialog(id) {
        auto* layout = new QVBoxLayout(this);
        auto* own = new QPushButton(QStringLiteral("登録"), this);
        own->setObjectName(QStringLiteral("1001"));
        auto* end = new QPushButton(QStringLiteral("終了"), this);
        end->setObjectName(QStringLiteral("1022"));
        auto* back = new QPushButton(QStringLiteral("戻る"), this);
        back->setObjectName(QStringLiteral("1023"));
        layout->addWidget(own);
        layout->addWidget(end);
        layout->addWidget(back);
        resize(300, 200);
    }
    void OnTimer(int id) override {
        ticks.push_back(id);
        CBaseDialog::OnTimer(id);
    }
    std::vector<int> ticks;
};

void press(QWidget* widget, int key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
}

} // namespace

class BaseDialogTest : public ScreenTest {};

TEST_F(BaseDialogTest, CardPollCacheReusesOnlyPollsOneToHundredMillisecondsOld) {
    int polls = 0;
    auto poll = [&polls] {
        ++polls;
        return CString(polls % 2 ? "0123456789ABCDEF" : "no");
    };
    // The first use polls, although its tick is "now".
    EXPECT_EQ(CString("0123456789ABCDEF"), CCardPollCache::get(1000, poll));
    EXPECT_EQ(1, polls);
    EXPECT_EQ(CString("0123456789ABCDEF"), CCardPollCache::get(1001, poll));
    EXPECT_EQ(CString("0123456789ABCDEF"), CCardPollCache::get(1100, poll));
    EXPECT_EQ(1, polls);
    EXPECT_EQ(CString("no"), CCardPollCache::get(1101, poll));
    EXPECT_EQ(2, polls);
    // The same millisecond as the last poll polls again.
    CCardPollCache::get(1101, poll);
    EXPECT_EQ(3, polls);
}

TEST_F(BaseDialogTest, BaseTimerPollsTheReaderThroughTheSharedCache) {
    PlainScreen screen(102);
    screen.show();
    EXPECT_EQ(152, screen.baseTimerId());
    screen.OnTimer(152);
    EXPECT_EQ(1, app.polls());
    screen.OnTimer(152); // well within 100 ms: the cached poll
    EXPECT_LE(app.polls(), 2);
    // A screen timer tick is not a base tick.
    const int before = app.polls();
    screen.OnTimer(100);
    EXPECT_EQ(before, app.polls());

    // With the real timer running, the reader is polled again and again.
    ASSERT_TRUE(processEventsUntil([&] { return app.polls() >= before + 2; }));
    screen.done(-1);
}

TEST_F(BaseDialogTest, ScreenTimersStartTheBaseTimerAndKillStopsBoth) {
    PlainScreen screen(138);
    screen.show();
    EXPECT_EQ(188, screen.baseTimerId());
    EXPECT_EQ(100, screen.setScreenTimer(100, 200));
    EXPECT_TRUE(screen.isScreenTimerActive(100));

    screen.killScreenTimer(100);
    EXPECT_EQ(0, screen.baseTimerId());
    EXPECT_FALSE(screen.isScreenTimerActive(100));

    screen.setScreenTimer(100, 5);
    EXPECT_EQ(188, screen.baseTimerId());
    ASSERT_TRUE(processEventsUntil(
        [&] { return std::count(screen.ticks.begin(), screen.ticks.end(), 100) >= 3; }));
    screen.done(-1);
    EXPECT_FALSE(screen.isScreenTimerActive(100));
    EXPECT_EQ(0, screen.baseTimerId());
}

TEST_F(BaseDialogTest, AboutBoxStopsOnlyTheBaseTimerWhileOpen) {
    PlainScreen screen(102);
    screen.show();
    screen.setScreenTimer(100, 5);

    QString caption;
    QString texts;
    int baseWhileOpen = -1;
    bool ownTimerRan = false;
    QTimer::singleShot(0, [&] {
        const std::size_t ticks = screen.ticks.size();
        processEventsUntil([&] { return screen.ticks.size() > ticks + 2; });
        ownTimerRan = screen.ticks.size() > ticks + 2;
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr)
            return;
        caption = box->windowTitle();
        for (QLabel* label : box->findChildren<QLabel*>())
            texts += label->text();
        baseWhileOpen = screen.baseTimerId();
        box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    screen.showAboutBox();

    EXPECT_EQ(QStringLiteral("NVKぽすとんのﾊﾞｰｼﾞｮﾝ情報"), caption);
    EXPECT_TRUE(texts.contains(QStringLiteral("NVKぽすとん Version 2.0")));
    EXPECT_EQ(0, baseWhileOpen);
    EXPECT_TRUE(ownTimerRan);
    EXPECT_EQ(152, screen.baseTimerId());
    screen.done(-1);
}

TEST_F(BaseDialogTest, EnterEndsNothingAndPressesNoButton) {
    PlainScreen screen;
    screen.show();
    for (QPushButton* button : screen.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
    }
    auto* end = screen.findChild<QPushButton*>(QStringLiteral("1022"));
    end->setFocus();
    press(&screen, Qt::Key_Return);
    press(end, Qt::Key_Enter);
    press(end, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(screen.isVisible());

    press(&screen, Qt::Key_Escape);
    EXPECT_FALSE(screen.isVisible());
    EXPECT_EQ(-1, screen.result());
}

TEST_F(BaseDialogTest, SharedButtonsEndWithMinusOneAndMinusThree) {
    PlainScreen first;
    first.show();
    first.findChild<QPushButton*>(QStringLiteral("1022"))->click();
    EXPECT_EQ(-1, first.result());

    PlainScreen second;
    second.show();
    second.findChild<QPushButton*>(QStringLiteral("1023"))->click();
    EXPECT_EQ(-3, second.result());
}

TEST_F(BaseDialogTest, SendThreadIsAttachedWhileTheScreenIsOpen) {
    {
        PlainScreen screen;
        EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
        screen.show();
        EXPECT_EQ(&screen, app.dispatcher.boundScreen());
        screen.done(-1);
        EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
        EXPECT_EQ(1, app.detaches);
    }
    EXPECT_EQ(1, app.detaches); // not twice

    // A screen destroyed without ending detaches in its destructor.
    {
        PlainScreen screen;
        screen.show();
        EXPECT_EQ(&screen, app.dispatcher.boundScreen());
    }
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_EQ(2, app.detaches);
}

TEST_F(BaseDialogTest, SendThreadsDataRequestsRunOnTheirOwnDataAccess) {
    data.addUser("0123456789ABCDEF", "山田 太郎", 2, {"taro@example.jp", "yamada@example.jp"});
    PlainScreen screen;
    screen.show();

    CString userId("0123456789ABCDEF");
    CString addresses("x");
    void* args[] = {&userId, &addresses};
    auto result = std::async(std::launch::async,
                             [&] { return app.dispatcher.dataRequest("getAddress", args); });
    ASSERT_TRUE(processEventsUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(0, result.get());
    EXPECT_EQ(CString("xtaro@example.jp\r\nyamada@example.jp\r\n"), addresses);

    // Letter case counts; an unknown command touches nothing.
    CMapStringToString settings;
    void* settingsArgs[] = {&settings};
    EXPECT_EQ(-1, screen.OnDataRequest("GetDefault", settingsArgs));
    EXPECT_TRUE(settings.IsEmpty());
    screen.done(-1);
}

TEST_F(BaseDialogTest, StatusBarStaysAtTheBottomWithTheProgressOverPaneOne) {
    PlainScreen screen;
    screen.show();
    CProgressStatusBar* bar = screen.statusBar();
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ(QStringLiteral(" "), bar->paneText(0));
    EXPECT_EQ(100, bar->pane(0)->width());
    EXPECT_FALSE(bar->progressBar()->isVisible());

    screen.OnProgressStart(2, 4);
    EXPECT_EQ(1, bar->progressPane());
    EXPECT_EQ(1, bar->setProgressPane(-1));
    EXPECT_EQ(-1, bar->setProgressPane(1));
    screen.resize(500, 320);
    QCoreApplication::processEvents();
    EXPECT_EQ(screen.height(), bar->geometry().bottom() + 1);
    EXPECT_EQ(screen.width(), bar->width());
    const QRect pane(bar->pane(1)->mapTo(bar, QPoint(0, 0)), bar->pane(1)->size());
    EXPECT_EQ(pane, bar->progressBar()->geometry());
    EXPECT_TRUE(bar->progressBar()->isVisible());

    screen.OnProgressEnd();
    EXPECT_FALSE(bar->progressBar()->isVisible());
    EXPECT_EQ(-1, bar->progressPane());
    screen.done(-1);
}

TEST_F(BaseDialogTest, LeadingNumberReadsLikeTheSavedSettings) {
    struct Probe : CBaseDialog {
        using CBaseDialog::leadingNumber;
    };
    EXPECT_EQ(300, Probe::leadingNumber(CString("300")));
    EXPECT_EQ(-40, Probe::leadingNumber(CString("-40")));
    EXPECT_EQ(12, Probe::leadingNumber(CString("12px")));
    EXPECT_EQ(0, Probe::leadingNumber(CString("abc")));
    EXPECT_EQ(0, Probe::leadingNumber(CString("")));
}

TEST_F(BaseDialogTest, AScreenThatEndsWhileItInitialisesStillReturnsFromExec) {
    struct EndsAtOnce : PlainScreen {
        bool OnInitDialog() override {
            CBaseDialog::OnInitDialog();
            done(-6);
            return true;
        }
    } screen;
    // A failsafe, so that a regression fails instead of hanging.
    QTimer::singleShot(10000, &screen, [&screen] { screen.QDialog::done(99); });
    EXPECT_EQ(-6, screen.exec());
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_EQ(0, screen.baseTimerId());
}

TEST_F(BaseDialogTest, WindowMenuAndQuestionMarkOpenTheAboutBox) {
    PlainScreen screen;
    screen.show();
    QStringList entries;
    int aboutBoxes = 0;
    // Closes the about box once it is up (or gives up after a while).
    std::function<void(int)> closeAbout = [&](int triesLeft) {
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            ++aboutBoxes;
            about->accept();
        } else if (triesLeft > 0) {
            QTimer::singleShot(5, [&, triesLeft] { closeAbout(triesLeft - 1); });
        }
    };
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        for (QAction* action : menu->actions())
            entries << action->text();
        menu->setActiveAction(menu->actions().value(0));
        closeAbout(2000);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                              screen.mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(&screen, &request);
    EXPECT_EQ(QStringList{QStringLiteral("NVKぽすとん のﾊﾞｰｼﾞｮﾝ情報(&A)...")}, entries);
    EXPECT_EQ(1, aboutBoxes);

    closeAbout(2000);
    screen.statusBar()->aboutButton()->click();
    EXPECT_EQ(2, aboutBoxes);
    EXPECT_TRUE(screen.isVisible());
    screen.done(-1);
}
