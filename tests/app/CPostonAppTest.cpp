#include "AppTestSupport.h"

#include "admin/CChkAdminDlg.h"
#include "app/CInstanceLock.h"
#include "app/CPostonApp.h"
#include "data/CDataFiles.h"
#include "reader/CFelicaReader.h"
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace {

constexpr const char* kCard = "0123456789ABCDEF";

// A base folder of the program's own: lib/felica.so (the simulated reader,
// whose cards live in var/), and data/ holding only the master file.
class BaseFolder {
public:
    explicit BaseFolder(bool withMaster = true) {
        std::filesystem::create_directories(path + "lib");
        copyFileTo(POSTON_READER_LIBRARY, path + "lib/felica.so");
        if (withMaster) {
            ::mkdir((path + "data").c_str(), 0700);
            copyFileTo(builtMasterFile(), path + "data/master.mdb");
        }
    }
    ~BaseFolder() { removeTree(path); }

    void reader(std::vector<std::string> cards,
                CSimulatedReaderState::Failure failure = CSimulatedReaderState::Failure::None) {
        CSimulatedReaderState state;
        for (const std::string& card : cards) {
            CSimulatedReaderState::Idm idm{};
            ASSERT_TRUE(CSimulatedReaderState::parseCardId(card, idm));
            state.cards.push_back(idm);
        }
        state.failure = failure;
        ASSERT_TRUE(state.save(CSimulatedReaderState::fileFor(path)));
    }

    std::string data(const char* name) const { return path + "data/" + name; }
    CPostonApp::Options options() const { return CPostonApp::Options{path, {}, instance}; }
    bool lockHeld() const {
        CInstanceLock probe;
        return probe.tryLock(instance) == CInstanceLock::Result::HeldElsewhere;
    }

    // Every copy on the machine shares one name; this is the test's machine.
    std::string instance = uniqueInstanceName();

    std::string path = makeTempFolder("poston-base-");
};

// Records every screen as it is shown (by its dialog id) and plays the part
// of the user on the ones it has a step for.
class ScreenWatcher : public QObject {
public:
    using Step = std::function<void(QWidget* screen)>;

    ScreenWatcher() { qApp->installEventFilter(this); }
    ~ScreenWatcher() override { qApp->removeEventFilter(this); }

    void on(const char* dialogId, Step step) { m_steps[dialogId] = std::move(step); }
    void note(const std::string& what) { seen.push_back(what); }

    std::vector<std::string> seen;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(object);
        if (event->type() == QEvent::Show && dialog != nullptr && dialog->isWindow()) {
            const std::string id = dialog->objectName().toStdString();
            note(id);
            auto step = m_steps.find(id);
            if (step != m_steps.end()) {
                QPointer<QDialog> shown(dialog);
                QTimer::singleShot(0, [shown, step = step->second] {
                    if (shown)
                        step(shown);
                });
            }
        }
        return false;
    }

private:
    std::map<std::string, Step> m_steps;
};

class CPostonAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
    }
    void TearDown() override { CMessageBox::resetForTesting(); }

    static std::vector<std::string> messages() {
        std::vector<std::string> texts;
        for (const CMessageBox::Record& record : CMessageBox::shown())
            texts.push_back(record.text.str());
        return texts;
    }

    // The user confirmation screen stands in as a recorder that leaves the
    // program; it also notes whether the lock was held meanwhile.
    void recordUserConfirmation(CPostonApp& app, ScreenWatcher& watcher, BaseFolder& base) {
        app.screens().add(-1, [&](CString&) {
            watcher.note("-1");
            lockHeldWhileRunning = base.lockHeld();
            return -100;
        });
    }

    static void registerAdministrator(QWidget* screen) {
        auto* card = control<QLineEdit>(screen, "1007");
        EXPECT_TRUE(waitUntil([&] { return card->text() == QString(kCard); }));
        control<QLineEdit>(screen, "1005")->setText(QStringLiteral("管理 花子"));
        CMessageBox::setNextAnswer(CMessageBox::Yes);
        control<QPushButton>(screen, "1003")->click();
    }

    bool lockHeldWhileRunning = false;
};

TEST_F(CPostonAppTest, ASecondCopyIsRefusedBeforeTheReaderOrTheDataFolderAreTouched) {
    BaseFolder base(false);
    // A reader that would fail to open makes any attempt to open it visible.
    base.reader({}, CSimulatedReaderState::Failure::Open);
    CInstanceLock running;
    ASSERT_EQ(running.tryLock(base.instance), CInstanceLock::Result::Taken);

    CPostonApp app(base.options());
    EXPECT_EQ(app.run(), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{CPostonApp::kAlreadyRunning});
    EXPECT_EQ(CMessageBox::shown().at(0).caption.str(), CPostonApp::kProgramCaption);
    EXPECT_FALSE(fileExists(base.path + "data"));
}

TEST_F(CPostonAppTest, AStartThatCannotGoOnSaysWhyAndShowsNoScreen) {
    struct Case {
        const char* what;
        bool withMaster;
        std::string instance; // empty: the folder's own
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no data file and no master file", false, "", std::string(CPostonApp::kNoDataFile) + "\n"},
        {"the lock cannot be tried", true, std::string(300, 'x'), CPostonApp::kLockFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
        BaseFolder base(c.withMaster);
        base.reader({kCard});
        ScreenWatcher watcher;
        CPostonApp::Options options = base.options();
        if (!c.instance.empty())
            options.instanceName = c.instance;
        CPostonApp app(options);
        EXPECT_EQ(app.run(), 1);
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0].rfind(c.message, 0), 0u) << messages()[0];
        EXPECT_TRUE(watcher.seen.empty());
        // Nothing was migrated or registered: no data file appeared.
        EXPECT_FALSE(fileExists(base.data("poston.mdb")));
        EXPECT_FALSE(base.lockHeld());
    }
}

TEST_F(CPostonAppTest, ACopyStartedFromAnotherFolderIsRefusedWhileTheFirstRuns) {
    BaseFolder first;
    first.reader({});
    BaseFolder other;
    other.reader({});
    other.instance = first.instance; // one machine
    ScreenWatcher watcher;
    CPostonApp app(first.options());
    app.setStartCheck([](int code) { return code; });
    int secondResult = 0;
    app.screens().add(-1, [&](CString&) {
        {
            CPostonApp second(other.options());
            secondResult = second.run();
        }
        setTheApp(&app);
        return -100;
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(secondResult, 1);
    EXPECT_EQ(messages(), std::vector<std::string>{CPostonApp::kAlreadyRunning});
    EXPECT_FALSE(fileExists(other.path + "data/poston.mdb"));
    EXPECT_FALSE(first.lockHeld());
}

// A reader that starts failing while the terminal rests on its first screen
// shows the error text there, and the prompt comes back once it works.
TEST_F(CPostonAppTest, AReaderFailingAtRunTimeIsShownOnTheFirstScreenUntilItRecovers) {
    BaseFolder base;
    base.reader({});
    ScreenWatcher watcher;
    std::vector<QString> shown;
    watcher.on("102", [&](QWidget* screen) {
        auto* field = screen->findChild<QLabel*>(QStringLiteral("1034"));
        ASSERT_NE(field, nullptr);
        const QString prompt = QString::fromUtf8("ＩＣカードをかざしてください。");
        const QString error = QString::fromUtf8("エラーが発生しています。再起動してください");
        EXPECT_TRUE(waitUntil([&] { return field->text() == prompt; }));
        shown.push_back(field->text());
        base.reader({}, CSimulatedReaderState::Failure::Poll);
        EXPECT_TRUE(waitUntil([&] { return field->text() == error; }));
        shown.push_back(field->text());
        base.reader({});
        EXPECT_TRUE(waitUntil([&] { return field->text() == prompt; }));
        shown.push_back(field->text());
        screen->close();
    });
    CPostonApp::Options options = base.options();
    options.readerFailureDelayMs = 100;
    CPostonApp app(options);
    app.setStartCheck([](int code) { return code; });
    EXPECT_EQ(app.run(), 0);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_NE(shown[1], shown[0]);
    EXPECT_EQ(shown[2], shown[0]);
}

TEST_F(CPostonAppTest, AReaderThatCannotOpenEndsTheStartWithItsMessage) {
    BaseFolder base(false);
    base.reader({}, CSimulatedReaderState::Failure::Open);
    CPostonApp app(base.options());
    EXPECT_EQ(app.run(), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{CFelicaReader::kOpenFailed});
    EXPECT_FALSE(fileExists(base.path + "data"));
    EXPECT_FALSE(base.lockHeld());
}

TEST_F(CPostonAppTest, AFirstStartWithOnlyTheMasterFileMigratesBeforeAnyOtherScreen) {
    BaseFolder base;
    base.reader({});
    ScreenWatcher watcher;
    CPostonApp app(base.options());
    bool migratedFirst = false;
    int checks = 0;
    app.setStartCheck([&](int code) {
        if (checks++ == 0)
            migratedFirst = fileExists(base.data("poston.mdb")) &&
                            !fileExists(base.data(CDataFiles::masterCopy.data()));
        return code;
    });
    recordUserConfirmation(app, watcher, base);

    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(migratedFirst);
    // The migration screen, the user confirmation, the closing screen.
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"147", "-1", "131"}));
    EXPECT_TRUE(lockHeldWhileRunning);
    EXPECT_TRUE(messages().empty());
    // The master copy became the data file; the master file stays.
    EXPECT_EQ(sqlQuery(base.data("poston.mdb"), "SELECT group_id FROM t_group ORDER BY 1"),
              (SqlRows{{"1"}, {"2"}}));
    EXPECT_TRUE(fileExists(base.data("master.mdb")));
    EXPECT_FALSE(base.lockHeld());
}

TEST_F(CPostonAppTest, WithoutAnAdministratorTheRegistrationLeadsToTheAdministratorMenu) {
    BaseFolder base;
    base.reader({kCard});
    ScreenWatcher watcher;
    watcher.on("132", registerAdministrator);
    watcher.on("133", [](QWidget* menu) { control<QPushButton>(menu, "1022")->click(); });
    CPostonApp app(base.options());
    recordUserConfirmation(app, watcher, base);

    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"147", "132", "133", "-1", "131"}));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{CChkAdminDlg::kConfirm, CChkAdminDlg::kRegistered}));
    EXPECT_EQ(sqlQuery(base.data("poston.mdb"), "SELECT user_id, user_name, group_id FROM t_user"),
              (SqlRows{{kCard, "管理 花子", "1"}}));
}

TEST_F(CPostonAppTest, EndOnTheRegistrationEndsTheProgramWithoutTheUserConfirmation) {
    BaseFolder base;
    base.reader({});
    ScreenWatcher watcher;
    watcher.on("132", [](QWidget* screen) { control<QPushButton>(screen, "1022")->click(); });
    CPostonApp app(base.options());
    recordUserConfirmation(app, watcher, base);

    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"147", "132", "131"}));
    EXPECT_TRUE(sqlQuery(base.data("poston.mdb"), "SELECT * FROM t_user").empty());
    EXPECT_FALSE(base.lockHeld());
}

TEST_F(CPostonAppTest, TheNextStartWithTheDataFileInPlaceGoesStraightToTheScreens) {
    BaseFolder base;
    base.reader({kCard});
    {
        ScreenWatcher watcher;
        watcher.on("132", registerAdministrator);
        watcher.on("133", [](QWidget* menu) { control<QPushButton>(menu, "1023")->click(); });
        CPostonApp first(base.options());
        recordUserConfirmation(first, watcher, base);
        ASSERT_EQ(first.run(), 0);
    }
    ScreenWatcher watcher;
    CPostonApp second(base.options());
    recordUserConfirmation(second, watcher, base);
    EXPECT_EQ(second.run(), 0);
    // An administrator exists and no master copy waits: the user
    // confirmation comes first.
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"-1", "131"}));
}

} // namespace
