#include "SendThreadBench.h"

#include "BenchData.h"
#include "BenchWindow.h"
#include "data/CDbAccess.h"
#include "delivery/CSendThread.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>

namespace {

int countSent(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    int sent = -1;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM t_login WHERE ret_send = '2'", -1, &statement,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        sent = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return sent;
}

std::string seed(sqlite3* db, int count, int port) {
    if (!execSql(db, "BEGIN"))
        return "cannot write the data file";
    if (!storeMailSettings(db, port))
        return "cannot store the settings";
    for (int i = 0; i < count; ++i) {
        char userId[32], loginDate[32];
        std::snprintf(userId, sizeof userId, "%016X", 0x0123000u + static_cast<unsigned>(i));
        std::snprintf(loginDate, sizeof loginDate, "20261205%02d%02d%02d000", 8 + i / 3600 % 16,
                      i / 60 % 60, i % 60);
        const std::string mail = "visitor" + std::to_string(i) + "@example.jp";
        if (!bindAndRun(db,
                        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) "
                        "VALUES (?, ?, ?, 2, ?)",
                        {userId, "山田 太郎" + std::to_string(i), mail, std::to_string(i + 1)}) ||
            !bindAndRun(db, "INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail}) ||
            !bindAndRun(db,
                        "INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '1')",
                        {userId, loginDate}) ||
            !bindAndRun(db,
                        "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                        "VALUES (last_insert_rowid(), ?, ?, '開発部', '1', 0)",
                        {mail, "山田 太郎" + std::to_string(i)}))
            return std::string("cannot add the due visits: ") + sqlite3_errmsg(db);
    }
    return execSql(db, "COMMIT") ? std::string() : "cannot commit the due visits";
}

} // namespace

SendThreadResult runSendThread(int count, int port) {
    SendThreadResult result;
    BenchDataFile data;
    result.error = data.error.empty() ? seed(data.db, count, port) : data.error;
    if (!result.error.empty())
        return result;

    CDbAccess::setDataFolder(data.folder.string());
    BenchWindow window;
    {
        CSendThread thread;
        thread.setWindow(&window);
        result.seconds = window.waitSeconds(count, std::chrono::seconds(300));
        thread.resetWindow();
        result.stateSeconds = window.stateSeconds();
    }
    if (result.seconds < 0)
        result.error = "the send thread did not finish within 300 s";
    result.sent = countSent(data.db);
    return result;
}
