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
#include <functional>
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

// Runs the step's SELECT on the data file (its rows in order, when given)
// and copy for every row; false when a row could not be copied.
bool copyTable(const CMdbAccess& source, IMigrationProgress* progress, const char* caption,
               std::string_view table, const std::function<bool(CMapStringToString&)>& copy,
               std::string_view order = {}) {
    int total = 0;
    source.selectEachMdb(
        CString("SELECT count(*) as row_count FROM ") + table, nullptr,
        [&total](CMapStringToString& row) { total = std::atoi(row.Value("row_count").c_str()); });
    TableProgress shown(progress, caption, total);
    bool all = true;
    const CString select =
        CString("SELECT * FROM ") + table + (order.empty() ? "" : " ORDER BY ") + order;
    const bool read = source.selectEachMdb(select, nullptr, [&](CMapStringToString& row) {
        shown.row();
        all = copy(row) && all;
    }) == 0;
    return read && all;
}

int result(bool all) {
    return all ? 0 : -1;
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
        // A row that cannot be copied is left out; the rest arrives.
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

int CDbAccess::copyDefData(IMigrationProgress* progress, IDbConnection* target) {
    // Only keys the master file has take the old value.
    return result(
        copyTable(*m_pMdb, progress, "諸設定", "t_def_data", [target](CMapStringToString& row) {
            return runOn(*target, Sql::CopySetting, &row);
        }));
}

int CDbAccess::copyGroup(IMigrationProgress* progress, IDbConnection* target) {
    // Groups 1 and 2 keep the master's rows (administrator mark, protection)
    // and take the old names; every other group keeps its id and comes
    // without a mark.
    return result(
        copyTable(*m_pMdb, progress, "グループ", "t_group", [target](CMapStringToString& row) {
            const CString id = row.Value("group_id");
            if (id == "1" || id == "2")
                return runOn(*target, Sql::CopyFixedGroup, &row);
            nullIfEmpty(row, "order_id");
            row.SetAt(CString("kengen"), CString("null"));
            row.SetAt(CString("delete_flg"), CString("null"));
            return runOn(*target, Sql::CopyGroup, &row);
        }));
}

int CDbAccess::copyUser(IMigrationProgress* progress, IDbConnection* target) {
    return result(
        copyTable(*m_pMdb, progress, "ユーザ", "t_user", [target](CMapStringToString& row) {
            const CString mail = row.Value("mail");
            row.SetAt(CString("mail"), quotedOrNull(mail));
            nullIfEmpty(row, "group_id");
            nullIfEmpty(row, "order_id");
            // Files from before notices could be switched off have no such column.
            row.SetAt(CString("notice_off"), quotedOrNull(row.Value("notice_off")));
            // The first address is an address of the user as well; the copy
            // of t_mail that follows does not add it twice.
            return runOn(*target, Sql::CopyUser, &row) &&
                   (mail.IsEmpty() || runOn(*target, Sql::CopyUserMail, &row));
        }));
}

int CDbAccess::copyMail(IMigrationProgress* progress, IDbConnection* target) {
    // Spellings of one address that differ in letter case only are one
    // mailbox: the first one stays (unique key), the others are left out.
    return result(
        copyTable(*m_pMdb, progress, "メール", "t_mail", [target](CMapStringToString& row) {
            return runOn(*target, Sql::CopyMail, &row);
        }));
}

int CDbAccess::copyLogin(IMigrationProgress* progress, IDbConnection* target) {
    // State and times stay as they were; the row keeps its id. A visit
    // from before arrivals and departures were told apart was a visit.
    return result(
        copyTable(*m_pMdb, progress, "ログイン", "t_login", [target](CMapStringToString& row) {
            for (const char* column : {"ret_send_date", "terminal", "uploaded"})
                row.SetAt(CString(column), quotedOrNull(row.Value(column)));
            if (row.Value("login_kind").IsEmpty())
                row.SetAt(CString("login_kind"), CString(CVisitRule::kindText(VisitKind::Visit)));
            return runOn(*target, Sql::CopyVisit, &row);
        }));
}

int CDbAccess::copyMailError(IMigrationProgress* progress, IDbConnection* target) {
    return result(copyTable(*m_pMdb, progress, "メールエラー", "t_mail_error",
                            [target](CMapStringToString& row) {
                                nullIfEmpty(row, "login_id");
                                return runOn(*target, Sql::CopyError, &row);
                            }));
}

int CDbAccess::copySend(IMigrationProgress* progress, IDbConnection* target) {
    bool kept = false;
    m_pMdb->selectEachMdb(
        CString("SELECT 1 as found FROM sqlite_master WHERE type = 'table' AND name = 't_send'"),
        nullptr, [&kept](CMapStringToString&) { kept = true; });
    if (kept)
        // Two deliveries of one visit to spellings of one address are one:
        // a sent one is kept before a due one, a due one before a failed one.
        return result(copyTable(
            *m_pMdb, progress, "送信", "t_send",
            [target](CMapStringToString& row) {
                for (const char* column : {"tries", "login_id"})
                    nullIfEmpty(row, column);
                // Files from before the Message-ID was kept have no such columns.
                for (const char* column :
                     {"next_try", "last_error", "sent_date", "message_id", "message_date"})
                    row.SetAt(CString(column), quotedOrNull(row.Value(column)));
                return runOn(*target, Sql::CopyDelivery, &row);
            },
            "CASE state WHEN '2' THEN 0 WHEN '1' THEN 1 ELSE 2 END, send_id"));
    // A data file from before deliveries were kept: its due visits are mailed
    // to the addresses their users have now, and a due visit of a user with
    // no address (or no user any more) is not sent at all.
    bool all = true;
    const IDbConnection::RowVisitor copy = [target, &all](CMapStringToString& row) {
        all = runOn(*target, Sql::OldDeliveryInsert, &row) && all;
    };
    runOn(*m_pMdb, Sql::OldDueDeliveries, nullptr, &copy);
    return result(runOn(*target, Sql::OldVisitsWithoutDeliveries, nullptr) && all);
}
