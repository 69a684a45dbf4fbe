// The application on base folders of its own: run in-process from start-up
// to the closing screen, and as the real program.
#include "app/CPostonApp.h"
#include "admin/CChkAdminDlg.h"
#include "reader/CFelicaReader.h"
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/qt/ScreenTest.h"
#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using Failure = CSimulatedReaderState::Failure;
using Step = std::function<void(QDialog*)>;
constexpr const char* kCard = "0123456789ABCDEF";

// A base folder: lib/felica.so (a copy of the simulated reader with a card on
// it, whose cards live in var/) and data/, a test data folder.
struct BaseFolder {
    enum Holds { MasterFile, DataFile, Nothing };
    explicit BaseFolder(Holds holds = MasterFile, Failure failure = Failure::None)
        : data(holds == DataFile) {
        fs::create_directories(path + "lib");
        fs::copy_file(POSTON_READER_LIBRARY, path + "lib/felica.so");
        fs::create_directory_symlink(data.folder(), path + "data");
        if (holds == MasterFile)
            fs::copy_file(masterFile(), data.file("master.mdb"));
        CSimulatedReaderState state;
        CSimulatedReaderState::parseCardId(kCard, state.cards.emplace_back());
        state.failure = failure;
        state.save(CSimulatedReaderState::fileFor(path));
    }
    ~BaseFolder() { removeTree(path); }

    TestDataFile data;
    std::string path = makeTempFolder("poston-base-");
};

// Notes every screen as it shows (by class), plays the user's part on those
// it has a step for, and cancels a screen that waits too long.
class CPostonAppTest : public ScreenTest, public QObject {
protected:
    CPostonAppTest() { qApp->installEventFilter(this); }
    ~CPostonAppTest() override {
        qApp->removeEventFilter(this);
        EXPECT_EQ(stuck, std::vector<std::string>{}) << "screens that waited for nothing";
    }
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(object);
        if (event->type() != QEvent::Show || dialog == nullptr || !dialog->isWindow())
            return false;
        seen.push_back(dialog->metaObject()->className());
        if (auto step = steps.find(seen.back()); step != steps.end())
            QTimer::singleShot(0, dialog, [dialog, step = step->second] { step(dialog); });
        QTimer::singleShot(10000, dialog, [this, dialog] {
            stuck.push_back(dialog->metaObject()->className());
            dialog->reject();
        });
        return false;
    }

    bool lockHeld() const {
        CInstanceLock probe;
        return probe.tryLock(instance) == CInstanceLock::Result::HeldElsewhere;
    }
    // Every copy on the machine shares one name; this is the test's machine.
    std::string instance = "poston-app-test-" + std::to_string(::getpid());
    std::map<std::string, Step> steps;
    std::vector<std::string> seen;
    std::vector<std::string> stuck;
};

// A reader that fails to open makes any attempt to open it visible.
TEST_F(CPostonAppTest, AStartThatCannotGoOnSaysWhyShowsNoScreenAndLeavesTheDataAlone) {
    struct Case {
        const char* what;
        bool withMaster, whileAnotherRuns;
        std::string instance;
        std::string message;
    };
    const Case cases[] = {
        {"a copy runs from another folder", true, true, instance, CPostonApp::kAlreadyRunning},
        {"the lock cannot be tried", true, false, std::string(300, 'x'), CPostonApp::kLockFailed},
        {"the reader cannot open", true, false, instance, CFelicaReader::kOpenFailed},
        {"no data file, no master file", false, false, instance,
         std::string(CPostonApp::kNoDataFile) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
        seen.clear();
        BaseFolder base(c.withMaster ? BaseFolder::MasterFile : BaseFolder::Nothing,
                        c.withMaster ? Failure::Open : Failure::None);
        {
            CInstanceLock other; // held as a copy running from another folder holds it
            ASSERT_TRUE(!c.whileAnotherRuns ||
                        other.tryLock(instance) == CInstanceLock::Result::Taken);
            EXPECT_EQ(CPostonApp({base.path, c.instance}).run(), 1);
        }
        EXPECT_TRUE(seen.empty());
        ASSERT_EQ(shownTexts().size(), 1u);
        EXPECT_EQ(shownTexts()[0].rfind(c.message, 0), 0u) << shownTexts()[0];
        // Nothing was prepared, migrated or registered.
        EXPECT_EQ(std::distance(fs::directory_iterator(base.data.folder()), {}), c.withMaster);
        EXPECT_FALSE(lockHeld());
    }
}

TEST_F(CPostonAppTest, FromTheFirstStartOnTheMasterFileToTheNextWithAnAdministrator) {
    BaseFolder base;
    const Step end = [](QDialog* screen) { control<QPushButton>(screen, "endButton")->click(); };
    const Step migration = [](QDialog* screen) {
        // Done before it shows (the bar is gone); the cancel key does not close it.
        screen->reject();
        EXPECT_TRUE(screen->isVisible());
        EXPECT_FALSE(control<QProgressBar>(screen, "progressBar")->isVisibleTo(screen));
    };
    const Step registerAdministrator = [](QDialog* screen) {
        auto* card = control<QLineEdit>(screen, "cardIdEdit");
        EXPECT_TRUE(waitProcessingEvents([&] { return card->text() == QString(kCard); }));
        control<QLineEdit>(screen, "nameEdit")->setText(qs("管理 花子"));
        CMessageBox::setNextAnswer(CMessageBox::Yes);
        control<QPushButton>(screen, "registerButton")->click();
    };
    const Rows administrator = {{kCard, "管理 花子", "1"}};
    struct Run {
        const char* what;
        std::map<std::string, Step> steps;
        std::vector<std::string> seen;
        Rows users;
    };
    // The migration comes before any other screen and only while a master
    // copy waits; the registration whenever there is no administrator.
    const Run runs[] = {
        {"registration left",
         {{"CDataIkouDlg", migration}, {"CChkAdminDlg", end}},
         {"CDataIkouDlg", "CChkAdminDlg", "CEndingDlg"},
         {}},
        {"administrator registered",
         {{"CChkAdminDlg", registerAdministrator}, {"CAdminMenuDlg", end}},
         {"CChkAdminDlg", "CAdminMenuDlg", "UserConfirmation", "CEndingDlg"},
         administrator},
        {"the next start", {}, {"UserConfirmation", "CEndingDlg"}, administrator},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.what);
        steps = run.steps;
        seen.clear();
        CPostonApp app({base.path, instance});
        // The user confirmation screen stands in as a recorder that leaves.
        app.screens().add(ScreenCode::UserConfirmation, [this](CString&) {
            seen.push_back("UserConfirmation");
            return resultOf(ScreenCode::Leave);
        });
        EXPECT_EQ(app.run(), 0);
        EXPECT_EQ(seen, run.seen);
        EXPECT_EQ(base.data.query("SELECT user_id, user_name, group_id FROM t_user"), run.users);
    }
    EXPECT_FALSE(lockHeld());
    EXPECT_EQ(lastShown(), CChkAdminDlg::kRegistered);
    EXPECT_TRUE(fileExists(base.data.file("master.mdb")));
}

// The terminal as a person runs it: the real program on a base folder of its
// own, the simulated reader driven by poston-card, and a loopback SMTP peer
// that decodes what arrives.
class EndToEndTest : public CPostonAppTest {
protected:
    EndToEndTest() {
        fs::create_directory(base.path + "bin");
        fs::copy_file(POSTON_PROGRAM, base.path + "bin/poston");
        fs::copy_file(POSTON_CARD_PROGRAM, base.path + "bin/poston-card");
        base.data.addUser("00000000000000AD", "管理 花子", "1");
        base.data.addUser(kCard, "山田 太郎", "2", {"taro@example.jp", "taro.m@example.jp"});
        base.data.setSetting("mail_user", "受付");
        base.data.setSetting("mail_address", "desk@example.jp");
        base.data.setSetting("mail_subject", "来訪のお知らせ");
        base.data.setSetting("mail_server_ip", "127.0.0.1");
        ::setenv("POSTON_INSTANCE_NAME", instance.c_str(), 1);
    }
    std::unique_ptr<proctest::Child> startTerminal() {
        auto terminal =
            std::make_unique<proctest::Child>(std::vector<std::string>{base.path + "bin/poston"});
        // Running once it holds its lock.
        EXPECT_TRUE(iotest::waitUntil([&] { return lockHeld(); }, std::chrono::seconds(15)));
        return terminal;
    }
    // A line a mail: sender, recipients, From, To, Subject, body (tabs between).
    std::vector<std::string> mails() const {
        std::vector<std::string> out;
        std::istringstream lines(testsupport::readBytes(base.path + "mails.txt"));
        for (std::string line; std::getline(lines, line);)
            out.push_back(line);
        return out;
    }

    // How many deliveries a terminal holds.
    std::string claimed() const {
        return base.data.value("SELECT count(*) FROM t_send WHERE claim_until IS NOT NULL");
    }

    BaseFolder base{BaseFolder::DataFile};
};

TEST_F(EndToEndTest, ACardIsGreetedRecordedAndMailedToEveryAddressAcrossAnEndOrAKill) {
    {
        // The card lies on the reader. A peer that accepts and never greets
        // keeps the notification in flight until the terminal is killed.
        iotest::LoopbackPeer silent;
        base.data.setSetting("mail_server_port", std::to_string(silent.port()));
        auto terminal = startTerminal();
        ASSERT_TRUE(iotest::waitUntil([&] { return claimed() == "1"; }));
        // SIGTERM ends it as the closing screen would: at once, the mail in
        // flight given back and stored as due, without a try counted.
        EXPECT_EQ(terminal->kill(SIGTERM), 0);
        EXPECT_EQ(claimed() + base.data.value("SELECT sum(tries) FROM t_send"), "00");
        // Killed, it keeps its claim, which the next start gives back.
        ASSERT_EQ(proctest::RunTool({base.path + "bin/poston-card", "remove"}).status, 0);
        terminal = startTerminal();
        ASSERT_TRUE(iotest::waitUntil([&] { return claimed() == "1"; }));
        terminal->kill(SIGKILL);
    }
    // The lock went with the process; the visit is still due.
    EXPECT_FALSE(lockHeld());
    const TestDataFile::Visit visit = base.data.visits().at(0);
    EXPECT_EQ(visit.retSend, "1");

    proctest::Child sink({"/usr/bin/python3", POSTON_SMTP_SINK, base.path + "mails.txt"});
    std::string port;
    ASSERT_TRUE(sink.readLine(port));
    base.data.setSetting("mail_server_port", port);
    auto terminal = startTerminal();
    ASSERT_TRUE(iotest::waitUntil([&] { return mails().size() >= 2; }, std::chrono::seconds(20)));
    const std::string& at = visit.loginDate;
    std::vector<std::string> expected;
    for (const std::string to : {"taro.m@example.jp", "taro@example.jp"})
        expected.push_back("desk@example.jp\t" + to + "\t受付 <desk@example.jp>\t山田 太郎 <" + to +
                           ">\t来訪のお知らせ\t「ぽすとん」にアクセスしました。\\r\\n[ 一般 "
                           "]の\\r\\n[ 山田 太郎 ]さん\\r\\n通知があった時間\\r\\n" +
                           at.substr(0, 4) + "年" + at.substr(4, 2) + "月" + at.substr(6, 2) +
                           "日 " + at.substr(8, 2) + "時" + at.substr(10, 2) + "分");
    std::vector<std::string> received = mails();
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(iotest::waitUntil([&] { return base.data.visits().at(0).retSend == "2"; }));
    terminal->kill(SIGKILL);
}

} // namespace
