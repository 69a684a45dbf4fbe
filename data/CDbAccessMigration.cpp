// Moving the data file's contents into a newly installed master file.
//
// The copy goes into a work copy of the waiting master copy, inside one
// transaction, and only a committed work copy replaces the data file. The
// master copy itself is never written, so a migration that was interrupted
// starts again from scratch; the old data file keeps its name until the new
// one takes it in a single rename, and a backup of it exists before that.
// Ids are kept, so users stay in their groups and errors point at their
// visits.
#include "data/CDataFiles.h"
#include "data/CDbAccess.h"
#include "data/IMigrationProgress.h"
#include "nvktl/CTime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The work copy being filled; it becomes the data file when complete.
constexpr std::string_view workFile = "poston.mdb.new";

// Shows one table's copy: its caption, then the position about every
// hundredth row (and the first and last), then the end.
class TableProgress {
public:
    TableProgress(IMigrationProgress* progress, const char* caption, int total)
        : m_progress(progress), m_total(total), m_step(total / 100 > 0 ? total / 100 : 1) {
        if (m_progress)
            m_progress->statusText(CString(caption));
    }
    ~TableProgress() {
        if (m_progress)
            m_progress->progressEnd();
    }
    TableProgress(const TableProgress&) = delete;
    TableProgress& operator=(const TableProgress&) = delete;

    void row() {
        ++m_position;
        if (m_position > m_total)
            m_total = m_position;
        if (m_progress && (m_position == 1 || m_position >= m_next || m_position == m_total)) {
            m_progress->progressStart(m_position, m_total);
            m_next = m_position + m_step;
        }
    }

private:
    IMigrationProgress* m_progress;
    int m_total;
    int m_step;
    int m_position = 0;
    int m_next = 0;
};

// A number column that is empty is copied as NULL rather than lost with its row.
void nullIfEmpty(CMapStringToString& row, const char* column) {
    if (row.Value(column).IsEmpty())
        row.SetAt(CString(column), CString("null"));
}

// Adds one row to the master copy, with the old row as the statement's
// parameters; a row that cannot be copied is left out.
void copyInto(const CMdbAccess& master, const char* sql, const CMapStringToString& row) {
    master.insertMdb(CString(sql), &row);
}

// Gives a row the master copy already has (a setting, a fixed group) the old
// row's values.
void updateFrom(const CMdbAccess& master, const char* sql, const CMapStringToString& row) {
    master.updateMdb(CString(sql), &row);
}

// Runs the step's SELECT on the data file (its rows in order, when given)
// and copy for every row.
void copyTable(const CMdbAccess& source, IMigrationProgress* progress, const char* caption,
               std::string_view table, const CMdbAccess::RowVisitor& copy,
               std::string_view order = {}) {
    int total = 0;
    source.selectEachMdb(
        CString("SELECT count(*) as row_count FROM ") + table, nullptr,
        [&total](CMapStringToString& row) { total = std::atoi(row.Value("row_count").c_str()); });
    TableProgress shown(progress, caption, total);
    const CString select =
        CString("SELECT * FROM ") + table + (order.empty() ? "" : " ORDER BY ") + order;
    source.selectEachMdb(select, nullptr, [&](CMapStringToString& row) {
        shown.row();
        copy(row);
    });
}

} // namespace

int CDbAccess::migrateData(IMigrationProgress* progress) {
    const CString masterCopy = m_dataPath + CDataFiles::masterCopy;
    if (!CDataFiles::exists(masterCopy))
        return 0;
    const CString data = m_dataPath + CDataFiles::dataFile;
    const CString work = m_dataPath + workFile;

    bool complete = CDataFiles::copyFile(masterCopy, work);
    if (complete) {
        CMdbAccess master(work, connectSuffix());
        complete = master.beginBatch() == 0;
        if (complete) {
            copyDefData(progress, &master);
            copyGroup(progress, &master);
            copyUser(progress, &master);
            copyMail(progress, &master);
            copyLogin(progress, &master);
            copyMailError(progress, &master);
            copySend(progress, &master);
            complete = master.endBatch(true) == 0;
        }
    }

    // A journal still beside the data file means it is in a state the copy
    // could not read cleanly: it stays as it is.
    if (complete && CDataFiles::exists(CString(data.str() + "-journal")))
        complete = false;

    CString backup;
    bool linked = false;
    if (complete && CDataFiles::exists(data)) {
        backup = m_dataPath + CDataFiles::backupPrefix + NVKTL::CTime::StampNow() +
                 CDataFiles::backupSuffix;
        // The backup is a second name of the old file (or a full copy where
        // the file system has no links): the data file keeps its own name
        // until the new one replaces it.
        linked = ::link(data.c_str(), backup.c_str()) == 0;
        complete = linked || (errno != EEXIST && CDataFiles::copyFile(data, backup));
        if (complete)
            CDataFiles::syncFolder(m_dataPath);
    }
    if (complete && std::rename(work.c_str(), data.c_str()) != 0) {
        if (!backup.IsEmpty())
            ::unlink(backup.c_str());
        complete = false;
    }
    if (!complete)
        CDataFiles::removeDatabase(work);
    CDataFiles::syncFolder(m_dataPath);
    // The master copy has served either way: a failed migration leaves the
    // data file as it was instead of trying again on every start.
    CDataFiles::removeDatabase(masterCopy);
    CDataFiles::syncFolder(m_dataPath);
    return complete ? 0 : -1;
}

int CDbAccess::copyDefData(IMigrationProgress* progress, CMdbAccess* master) {
    // Only keys the master file has take the old value.
    copyTable(*m_pMdb, progress, "諸設定", "t_def_data", [master](CMapStringToString& row) {
        updateFrom(*master,
                   "UPDATE t_def_data SET column_value = '?column_value' WHERE "
                   "column_name = '?column_name'",
                   row);
    });
    return 0;
}

int CDbAccess::copyGroup(IMigrationProgress* progress, CMdbAccess* master) {
    // Groups 1 and 2 keep the master's rows (administrator mark, protection)
    // and take the old names; every other group keeps its id.
    copyTable(*m_pMdb, progress, "グループ", "t_group", [master](CMapStringToString& row) {
        const CString id = row.Value("group_id");
        if (id == "1" || id == "2") {
            updateFrom(*master,
                       "UPDATE t_group SET group_name = '?group_name' WHERE group_id = "
                       "'?group_id'",
                       row);
            return;
        }
        nullIfEmpty(row, "order_id");
        copyInto(*master,
                 "INSERT INTO t_group (group_id,group_name,order_id) VALUES ( "
                 "?group_id, '?group_name', ?order_id )",
                 row);
    });
    return 0;
}

int CDbAccess::copyUser(IMigrationProgress* progress, CMdbAccess* master) {
    copyTable(*m_pMdb, progress, "ユーザ", "t_user", [master](CMapStringToString& row) {
        const CString mail = row.Value("mail");
        row.SetAt(CString("mail"), quotedOrNull(mail));
        nullIfEmpty(row, "group_id");
        nullIfEmpty(row, "order_id");
        copyInto(*master,
                 "INSERT INTO t_user (user_id,user_name,mail,group_id,order_id) "
                 "VALUES ('?user_id','?user_name',?mail,?group_id,?order_id)",
                 row);
        // The first address is an address of the user as well; the copy of
        // t_mail that follows cannot add it twice (unique key).
        if (!mail.IsEmpty())
            copyInto(*master, "INSERT INTO t_mail (user_id,mail) VALUES ('?user_id',?mail)", row);
    });
    return 0;
}

int CDbAccess::copyMail(IMigrationProgress* progress, CMdbAccess* master) {
    // Spellings of one address that differ in letter case only are one
    // mailbox: the first one stays (unique key), the others are left out.
    copyTable(*m_pMdb, progress, "メール", "t_mail", [master](CMapStringToString& row) {
        copyInto(*master, "INSERT INTO t_mail (user_id,mail) VALUES ('?user_id','?mail')", row);
    });
    return 0;
}

int CDbAccess::copyLogin(IMigrationProgress* progress, CMdbAccess* master) {
    // State and times stay as they were; the row keeps its id.
    copyTable(*m_pMdb, progress, "ログイン", "t_login", [master](CMapStringToString& row) {
        row.SetAt(CString("retsend_date"), quotedOrNull(row.Value("ret_send_date")));
        copyInto(*master,
                 "INSERT INTO t_login (login_id,user_id,login_date,ret_send,ret_send_date) "
                 "VALUES (?login_id,'?user_id','?login_date','?ret_send',?retsend_date)",
                 row);
    });
    return 0;
}

int CDbAccess::copyMailError(IMigrationProgress* progress, CMdbAccess* master) {
    copyTable(*m_pMdb, progress, "メールエラー", "t_mail_error", [master](CMapStringToString& row) {
        nullIfEmpty(row, "login_id");
        copyInto(*master,
                 "INSERT INTO t_mail_error (error_no, login_id, user_id, mail, error_date, "
                 "error_msg) VALUES ( ?error_no, ?login_id, '?user_id', '?mail', "
                 "'?error_date', '?error_msg' )",
                 row);
    });
    return 0;
}

int CDbAccess::copySend(IMigrationProgress* progress, CMdbAccess* master) {
    const bool kept =
        selectAny("SELECT 1 as found FROM sqlite_master WHERE type = 'table' AND name = 't_send'",
                  nullptr) == 0;
    if (kept) {
        // Two deliveries of one visit to spellings of one address are one:
        // a sent one is kept before a due one, a due one before a failed one.
        copyTable(
            *m_pMdb, progress, "送信", "t_send",
            [master](CMapStringToString& row) {
                for (const char* column : {"tries", "login_id"})
                    nullIfEmpty(row, column);
                // Files from before the Message-ID was kept have no such columns.
                for (const char* column : {"next_try", "last_error", "sent_date", "claim_until",
                                           "message_id", "message_date"})
                    row.SetAt(CString(column), quotedOrNull(row.Value(column)));
                copyInto(*master,
                         "INSERT INTO t_send (send_id, login_id, mail, user_name, group_name, "
                         "state, tries, next_try, last_error, sent_date, claim_until, message_id, "
                         "message_date) VALUES (?send_id, ?login_id, '?mail', '?user_name', "
                         "'?group_name', '?state', ?tries, ?next_try, ?last_error, ?sent_date, "
                         "NULL, ?message_id, ?message_date)",
                         row);
            },
            "CASE state WHEN '2' THEN 0 WHEN '1' THEN 1 ELSE 2 END, send_id");
        return 0;
    }
    // A data file from before deliveries were kept: its due visits are mailed
    // to the addresses their users have now, and a due visit of a user with
    // no address (or no user any more) is not sent at all.
    m_pMdb->selectEachMdb(
        CString("SELECT b.login_id, m.mail, u.user_name, g.group_name FROM t_login b JOIN t_user "
                "u ON u.user_id = b.user_id JOIN t_mail m ON m.user_id = b.user_id LEFT JOIN "
                "t_group g ON g.group_id = u.group_id WHERE b.ret_send = '1' AND m.mail <> '' "
                "ORDER BY b.login_id, m.rowid"),
        nullptr, [master](CMapStringToString& row) {
            copyInto(*master,
                     "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) "
                     "VALUES (?login_id, '?mail', '?user_name', '?group_name', '1', 0)",
                     row);
        });
    master->updateMdb(
        CString("UPDATE t_login SET ret_send = '3' WHERE ret_send = '1' AND NOT "
                "EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = t_login.login_id)"),
        nullptr);
    return 0;
}
