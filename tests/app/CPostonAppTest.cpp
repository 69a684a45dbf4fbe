#include "AppTestSupport.h"

#include "admin/CChkAdminDlg.h"
#include "app/CInstanceLock.h"
#include "app/CPostonApp.h"
#include "data/CDataFiles.h"
#include "reader/CFelicaReader.h"
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "screens/CMessageBox.h"

#include <QDialog>
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
    std::string lockFile() const { return path + "var/poston.lock"; }

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
            CInstanceLock probe;
            lockHeldWhileRunning = !probe.tryLock(base.lockFile());
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
    ASSERT_TRUE(running.tryLock(base.lockFile()));

    CPostonApp app(CPostonApp::Options{base.path, {}});
    EXPECT_EQ(app.run(), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{CPostonApp::kAlreadyRunning});
    EXPECT_EQ(CMessageBox::shown().at(0).caption.str(), CPostonApp::kProgramCaption);
    EXPECT_FALSE(fileExists(base.path + "data"));
}

TEST_F(CPostonAppTest, AReaderThatCannotOpenEndsTheStartWithItsMessage) {
    BaseFolder base(false);
    base.reader({}, CSimulatedReaderState::Failure::Open);
    CPostonApp app(CPostonApp::Options{base.path, {}});
    EXPECT_EQ(app.run(), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{CFelicaReader::kOpenFailed});
    EXPECT_FALSE(fileExists(base.path + "data"));
    CInstanceLock next;
    EXPECT_TRUE(next.tryLock(base.lockFile()));
}

TEST_F(CPostonAppTest, AFirstStartWithOnlyTheMasterFileMigratesBeforeAnyOtherScreen) {
    BaseFolder base;
    base.reader({});
    ScreenWatcher watcher;
    CPostonApp app(CPostonApp::Options{base.path, {}});
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
    CInstanceLock next;
    EXPECT_TRUE(next.tryLock(base.lockFile()));
}

TEST_F(CPostonAppTest, WithoutAnAdministratorTheRegistrationLeadsToTheAdministratorMenu) {
    BaseFolder base;
    base.reader({kCard});
    ScreenWatcher watcher;
    watcher.on("132", registerAdministrator);
    watcher.on("133", [](QWidget* menu) { control<QPushButton>(menu, "1022")->click(); });
    CPostonApp app(CPostonApp::Options{base.path, {}});
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
    CPostonApp app(CPostonApp::Options{base.path, {}});
    recordUserConfirmation(app, watcher, base);

    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"147", "132", "131"}));
    EXPECT_TRUE(sqlQuery(base.data("poston.mdb"), "SELECT * FROM t_user").empty());
    CInstanceLock next;
    EXPECT_TRUE(next.tryLock(base.lockFile()));
}

TEST_F(CPostonAppTest, TheNextStartWithTheDataFileInPlaceGoesStraightToTheScreens) {
    BaseFolder base;
    base.reader({kCard});
    {
        ScreenWatcher watcher;
        watcher.on("132", registerAdministrator);
        watcher.on("133", [](QWidget* menu) { control<QPushButton>(menu, "1023")->click(); });
        CPostonApp first(CPostonApp::Options{base.path, {}});
        recordUserConfirmation(first, watcher, base);
        ASSERT_EQ(first.run(), 0);
    }
    ScreenWatcher watcher;
    CPostonApp second(CPostonApp::Options{base.path, {}});
    recordUserConfirmation(second, watcher, base);
    EXPECT_EQ(second.run(), 0);
    // An administrator exists and no master copy waits: the user
    // confirmation comes first.
    EXPECT_EQ(watcher.seen, (std::vector<std::string>{"-1", "131"}));
}

} // namespace
