#include "AdminScreenTest.h"

#include "admin/CListCtrlEx.h"
#include "admin/CMailErrorDlg.h"
#include "delivery/CSendThread.h"
#include "screens/CSendWindowDispatcher.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <functional>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

QStringList column(CListCtrlEx* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row)
        texts << list->GetCellText(row, column);
    return texts;
}

} // namespace

class CMailErrorDlgTest : public AdminScreenTest {
protected:
    void SetUp() override {
        group = addGroup("営業");
        addUser("A000000000000001", "青木", group);
        addUser("A000000000000002", "井上", "2");
        addUser("A000000000000003", "上田", "2");
    }

    // A visit that was not sent, with its error row; returns the login_id.
    std::string failedVisit(const std::string& userId, const std::string& date,
                            const std::string& mail) {
        query("INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '3')",
              {userId, date});
        const std::string login = value("SELECT MAX(login_id) FROM t_login");
        query("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
              "VALUES (?, ?, ?, ?, 'サーバに接続できません')",
              {login, userId, mail, date});
        return login;
    }

    std::string group;
};

TEST_F(CMailErrorDlgTest, OpensNewestFirstWithTheDateLaidOutAndTwoHiddenColumns) {
    failedVisit("A000000000000002", "20261201083000000", "inoue@example.jp");
    failedVisit("A000000000000001", "20261205174512345", "aoki@example.jp");
    failedVisit("A000000000000003", "20261130235900999", "ueda@example.jp");
    query("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) VALUES "
          "(99, 'GONE000000000000', 'gone@example.jp', '20261206000000000', 'x')");
    CMailErrorDlg dlg;
    dlg.show();
    CListCtrlEx* list = dlg.list();
    ASSERT_EQ(list->columnCount(), 7);
    EXPECT_TRUE(list->isColumnHidden(0));
    EXPECT_TRUE(list->isColumnHidden(1));
    EXPECT_EQ(list->columnWidth(2), 250);
    EXPECT_EQ(list->horizontalHeaderItem(6)->text(), qs("エラー内容"));
    EXPECT_EQ(column(list, 2),
              (QStringList{qs("2026年12月05日 17時45分"), qs("2026年12月01日 08時30分"),
                           qs("2026年11月30日 23時59分")}));
    EXPECT_EQ(column(list, 3), (QStringList{qs("営業"), qs("一般"), qs("一般")}));
    EXPECT_EQ(column(list, 5).front(), qs("aoki@example.jp"));
    EXPECT_EQ(list->sortColumn(), 2);
    EXPECT_EQ(list->storedDirection(2), 1);
}

TEST_F(CMailErrorDlgTest, AHeaderClickedTwiceSortsDescendingThenAscending) {
    failedVisit("A000000000000001", "20261201000000000", "a@example.jp");
    failedVisit("A000000000000002", "20261202000000000", "b@example.jp");
    failedVisit("A000000000000003", "20261203000000000", "c@example.jp");
    CMailErrorDlg dlg;
    dlg.show();
    CListCtrlEx* list = dlg.list();
    // Byte order of the UTF-8 names: 上 (E4 B8 8A) < 井 (E4 BA 95) < 青 (E9 9D 92).
    emit list->horizontalHeader()->sectionClicked(4);
    EXPECT_EQ(column(list, 4), (QStringList{qs("青木"), qs("井上"), qs("上田")}));
    emit list->horizontalHeader()->sectionClicked(4);
    EXPECT_EQ(column(list, 4), (QStringList{qs("上田"), qs("井上"), qs("青木")}));
    // Rows move whole.
    EXPECT_EQ(column(list, 5),
              (QStringList{qs("c@example.jp"), qs("b@example.jp"), qs("a@example.jp")}));

    // The date column, descending on opening, goes ascending on its first click.
    emit list->horizontalHeader()->sectionClicked(2);
    EXPECT_EQ(column(list, 5),
              (QStringList{qs("a@example.jp"), qs("b@example.jp"), qs("c@example.jp")}));
}

TEST_F(CMailErrorDlgTest, ResendSetsTheSelectedVisitsDueAndKeepsTheRows) {
    const std::string first = failedVisit("A000000000000001", "20261201000000000", "a@x.jp");
    const std::string second = failedVisit("A000000000000002", "20261202000000000", "b@x.jp");
    CMailErrorDlg dlg;
    dlg.show();
    CListCtrlEx* list = dlg.list();
    list->selectRow(1);
    control<QPushButton>(&dlg, "1020")->click();
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"再送設定しました"});
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "メールエラー情報");
    EXPECT_EQ(value("SELECT ret_send FROM t_login WHERE login_id = ?", {first}), "1");
    EXPECT_EQ(value("SELECT ret_send FROM t_login WHERE login_id = ?", {second}), "3");
    EXPECT_EQ(value("SELECT length(ret_send_date) FROM t_login WHERE login_id = ?", {first}), "17");
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail_error"), "2");
}

TEST_F(CMailErrorDlgTest, DeletingTwoAdjacentRowsRemovesBothFromListAndTable) {
    failedVisit("A000000000000001", "20261201000000000", "a@x.jp");
    failedVisit("A000000000000002", "20261202000000000", "b@x.jp");
    failedVisit("A000000000000003", "20261203000000000", "c@x.jp");
    CMailErrorDlg dlg;
    dlg.show();
    CListCtrlEx* list = dlg.list();
    list->selectRow(0);
    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    control<QPushButton>(&dlg, "1021")->click();
    EXPECT_EQ(lastShown(), "履歴削除しました");
    EXPECT_EQ(column(list, 5), QStringList{qs("a@x.jp")});
    EXPECT_EQ(query("SELECT mail FROM t_mail_error"), (Rows{{"a@x.jp"}}));

    // With nothing selected only the message appears.
    list->clearSelection();
    control<QPushButton>(&dlg, "1021")->click();
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail_error"), "1");
    EXPECT_EQ(CMessageBox::shown().size(), 2U);
}

TEST_F(CMailErrorDlgTest, TheWindowKeepsItsOpeningSizeAsMinimumAndCentresTheButtons) {
    CMailErrorDlg dlg;
    dlg.show();
    const QSize opening = dlg.size();
    EXPECT_EQ(dlg.minimumSize(), opening);
    auto* resend = control<QPushButton>(&dlg, "1020");
    auto* remove = control<QPushButton>(&dlg, "1021");
    const int gap = dlg.height() - resend->y();
    const int listWidth = dlg.list()->width();

    dlg.resize(opening.width() + 200, opening.height() + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.list()->width(), listWidth + 200);
    EXPECT_EQ(resend->x() + resend->width(), dlg.width() / 2 - 1);
    EXPECT_EQ(remove->x(), dlg.width() / 2 + 1);
    EXPECT_EQ(resend->y(), remove->y());
    EXPECT_EQ(dlg.height() - resend->y(), gap);
    EXPECT_EQ(dlg.list()->geometry().bottom() + 1, dlg.height() - gap - 5);

    dlg.resize(opening.width() - 100, opening.height() - 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.size(), opening);
}

TEST_F(CMailErrorDlgTest, BackAndTheCloseBoxReturnToTheMenu) {
    CMailErrorDlg back;
    back.show();
    control<QPushButton>(&back, "1023")->click();
    EXPECT_EQ(back.result(), -3);
    CMailErrorDlg closed;
    closed.show();
    closed.close();
    EXPECT_EQ(closed.result(), -3);
}

namespace {

// The send thread with deliveries counted instead of sent.
class CountingSendThread : public CSendThread {
public:
    ~CountingSendThread() override { stop(); }
    std::atomic<int> deliveries{0};

protected:
    int deliverMail(const CMapStringToString&, const CString&, int&) override {
        ++deliveries;
        return 0;
    }
};

// The application with a real send thread behind the screens.
class SendingApplication : public FakeApplication {
public:
    using FakeApplication::FakeApplication;
    ~SendingApplication() override { thread.resetWindow(); }

    void attachSendWindow(CBaseDialog* window) override {
        dispatcher.bind(window);
        thread.setWindow(&dispatcher);
    }
    void detachSendWindow(CBaseDialog* window) override {
        thread.resetWindow();
        dispatcher.unbind(window);
    }

    CSendWindowDispatcher dispatcher;
    CountingSendThread thread;
};

} // namespace

TEST_F(CMailErrorDlgTest, AResentVisitIsMailedAgainWhileTheScreenIsOpen) {
    query("UPDATE t_def_data SET column_value = 'desk@example.jp' WHERE column_name = "
          "'mail_address'");
    query("UPDATE t_def_data SET column_value = '受付' WHERE column_name IN ('mail_user', "
          "'mail_subject')");
    query("INSERT INTO t_mail (user_id, mail) VALUES ('A000000000000001', 'aoki@example.jp')");
    const std::string visit =
        failedVisit("A000000000000001", "20261201000000000", "aoki@example.jp");

    SendingApplication sending(folder.string() + "/");
    setTheApp(&sending);
    sending.thread.setInterval(5);
    {
        CMailErrorDlg dlg;
        dlg.show();
        dlg.list()->selectRow(0);
        control<QPushButton>(&dlg, "1020")->click();
        EXPECT_TRUE(waitFor([&] {
            return value("SELECT ret_send FROM t_login WHERE login_id = ?", {visit}) == "2";
        }));
        EXPECT_EQ(sending.thread.deliveries.load(), 1);
        dlg.done(-3);
    }
    sending.thread.stop();
    setTheApp(&app);
}
