#pragma once

#include "data/CMdbAccess.h"
#include "data/CStoreConfig.h"
#include "data/CVisitRule.h"
#include "data/SqlCatalogue.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class IMigrationProgress;

// The program's data operations, one method each, over the school's data: the
// data file "poston.mdb" of the data folder, or the PostgreSQL server the
// terminal was set to use (CStoreConfig). Construct one on the stack, call the
// operations, release every row vector an operation filled (releaseVector, on
// any CDbAccess), and let it go: no file handle outlives a call; a server
// connection stays with its thread.
//
// The operations and their results are the same on both stores. Reception
// (the card check, the greeting, its visit) asks for Store::Terminal: the
// terminal's own file, which holds a copy of the server's roster and the
// visits not yet uploaded, so that a greeting never waits on the network.
//
// Results: reading operations and existence tests give 0 when rows were found
// and -1 when none were (a failed statement finds none) and leave their
// output arguments untouched then. The group and user writes give 0 when the
// change was stored and -1 when it was not. Output texts are assigned only
// when a row is found.
//
// beginBatch/endBatch put the writes of one action into one transaction:
// endBatch(true) gives 0 only when all of them reached the file, and
// endBatch(false) leaves the file as it was before beginBatch. Operations that
// are a transaction of their own join an open batch instead.
class CDbAccess {
public:
    // The data file's password, sent with every connect (";PWD=" + password).
    static constexpr std::string_view password = "NvkPoston2DataFile!";

    enum class Store {
        Shared,   // the school's data: the server when there is one, else the file
        Terminal, // this terminal's own file
    };

    explicit CDbAccess(Store store = Store::Shared);
    CDbAccess(const CDbAccess&) = delete;
    CDbAccess& operator=(const CDbAccess&) = delete;
    virtual ~CDbAccess();

    // The data folder for every CDbAccess made afterwards, for the whole
    // process; start-up sets it, tests point it elsewhere. A missing final
    // "/" is added.
    static void setDataFolder(const CString& folder);
    // The folder set, or else <base folder>/data/ (created with mode 0700 when
    // missing on first use).
    static CString getDataFolder();
    // The store configuration read from the data folder when it was set;
    // tests set one of their own.
    static CStoreConfig storeConfig();
    static void setStoreConfig(const CStoreConfig& config);
    // ";PWD=" followed by the password.
    static CString connectSuffix();

    void releaseVector(NVKTL::vector<CMapStringToString*>* rows);

    // True when the operations run on a server.
    bool onServer() const;
    // 0 when the store answers now (a server within its time-out).
    int ping();
    // Why the last operation did not run; Unavailable also when the server
    // could not be reached at all.
    DbError lastError() const;

    // 0 when the transaction is open, -1 when the file cannot be written now.
    int beginBatch();
    int endBatch(bool commit);

    // Settings (t_def_data). Both always return -1.
    int getDefault(CMapStringToString& values);
    int setDefault(const CMapStringToString& values);
    // setDefault that tells: 0 when every value was stored, -1 when one was
    // not (inside a batch, the screen then rolls all of them back).
    int storeDefault(const CMapStringToString& values);

    // Groups (t_group).
    int getGroupList(NVKTL::vector<CMapStringToString*>* rows, bool all);
    int getGroupMaxOrder();
    int existGroup(const CString& group_id);
    int existGroupName(const CString& group_name);
    int getGroup(const CString& group_id, CString& group_name, CString& kengen, CString& delete_flg,
                 CString& order_id);
    int saveGroup(const CString& group_id, const CString& group_name, long order_id);
    int deleteGroup(const CString& group_id);
    // Deletes the group's users and their addresses; their visits stay.
    int deleteGroupUsers(const CString& group_id);

    // Users and their addresses (t_user, t_mail).
    int getUserList(const CString& group_id, NVKTL::vector<CMapStringToString*>* rows);
    int getUserMaxOrder();
    int getUserOrder(const CString& user_id);
    int existUser(const CString& user_id);
    int getUser(const CString& user_id, CString& user_name, CString& mail, CString& group_id);
    // getUser that also tells whether the family is left without notices.
    int getUser(const CString& user_id, CString& user_name, CString& mail, CString& group_id,
                bool& noticeOff);
    int checkAdminUser(const CString& user_id);
    int existAdminUser();
    // noticeOff: the user's visits are greeted and recorded, but no delivery
    // is made for them.
    int saveUser(const CString& user_id, const CString& user_name, const CString& mail,
                 const CString& group_id, long order_id, bool noticeOff = false);
    int deleteUser(const CString& user_id);
    int addMail(const CString& user_id, const CString& mail);
    int deleteMail(const CString& user_id);
    int getAddress(const CString& user_id, CString& addresses);

    // Visits (t_login) and their deliveries (t_send). addLogin records the
    // visit and one due delivery per address the user has now, all or
    // nothing: 0 and login_id set, or -1 and nothing stored.
    int addLogin(const CString& user_id, const CString& login_date, CString& login_id,
                 VisitKind kind = VisitKind::Visit);
    // A card's touch as the rule says (CVisitRule): a visit of the kind its
    // turn gives, or nothing when it falls within the double-tap guard of
    // the pupil's latest visit. kind is what was recorded, or what the
    // guarded touch had already recorded.
    enum class Touch { Recorded, AlreadyRecorded, Failed };
    Touch addTouch(const CString& user_id, const CString& login_date, const CVisitRule& rule,
                   VisitKind& kind, CString& login_id);
    // The pupil's latest visit from any terminal: 0 and its stamp and kind
    // text, or -1 when there is none.
    int getLastVisit(const CString& user_id, CString& login_date, CString& login_kind);
    // Each pupil's latest visit since the stamp since: user_id, login_date,
    // login_kind.
    int getRecentVisits(const CString& since, NVKTL::vector<CMapStringToString*>* rows);
    // A terminal of a server keeps the latest visits the server told of
    // (getRecentVisits there), so that its reception sees every terminal's.
    int keepSeenVisits(const NVKTL::vector<CMapStringToString*>& rows);
    // The due deliveries whose next try has come and that nobody has claimed:
    // send_id, group_name, user_id, from_name, from_mail, login_id,
    // login_date, login_kind, terminal, tries; oldest visit first.
    int getSendLogin(NVKTL::vector<CMapStringToString*>* rows);
    // Takes a due delivery for sending until the time until; -1 when it is
    // not due, already taken, or the mark could not be stored. The delivery
    // keeps the Message-ID and Date of its first try: message_id and
    // message_date are stored when it has none yet, and come back as it has
    // them.
    int claimDelivery(const CString& send_id, const CString& now, const CString& until,
                      CString& message_id, CString& message_date);
    // Gives a claimed delivery back unsent: due again at once.
    int releaseDelivery(const CString& send_id);
    // Gives back every claim, at the start of the one terminal that uses
    // this data file: a claim left by a killed run never holds up a mail.
    int releaseClaims();
    // A delivery's outcomes; each also renews its visit's summary. 0 when
    // stored, -1 when not.
    int sendDelivery(const CString& send_id, const CString& sent_date);
    int retryDelivery(const CString& send_id, const CString& next_try, const CString& error_msg);
    int failDelivery(const CString& send_id, const CString& error_date, const CString& error_msg);
    // Due deliveries that have failed at least once and wait for their next try.
    int getWaitingCount();
    // Those deliveries, next try first: send_id, mail, login_date, login_kind, tries,
    // next_try, last_error, user_name, group_name.
    int getWaitingList(NVKTL::vector<CMapStringToString*>* rows);
    // Makes a waiting delivery due at once; 0 when stored.
    int hurryDelivery(const CString& send_id);
    // Withdraws a visit: its deliveries that have not gone out are not sent.
    int skipLogin(const CString& login_id, const CString& ret_send_date);

    // Failed deliveries (t_mail_error), newest first; a row whose delivery is
    // due again is left out until it fails once more. The rows also name the
    // terminal that recorded the visit ("terminal", empty on a single
    // terminal) and the visit's kind ("login_kind").
    int getMailErrorList(NVKTL::vector<CMapStringToString*>* rows);
    // 0 when the row is gone.
    int deleteMailError(const CString& error_no);
    // Makes the delivery of one error row due again (the row stays until it
    // has been sent); 0 when stored.
    int resendMailError(const CString& error_no, const CString& date);

    // The office's view of the visits. A filter of the history: the visits
    // from the stamp from up to before_date (not included), of one group
    // (0: every group) and of the pupils whose name holds namePart (empty:
    // every pupil). getHistory reads one page of at most limit visits,
    // newest first, and moves the filter's point below them, so that the
    // next call reads the next page, one row per visit: login_id,
    // login_date, login_kind, terminal, user_id, user_name, group_name and
    // its deliveries (historyDeliveries reads them). 0 when it read visits,
    // -1 when there were none left (or the store could not be read:
    // lastError tells).
    struct HistoryFilter {
        CString from, beforeDate;
        long long beforeId = 0;
        long long groupId = 0;
        CString namePart;
    };
    int getHistory(HistoryFilter& filter, int limit, NVKTL::vector<CMapStringToString*>* rows);
    // The deliveries of a visit of getHistory, by address.
    struct HistoryDelivery {
        std::string mail, state, tries, nextTry, lastError, sentDate;
    };
    static std::vector<HistoryDelivery> historyDeliveries(const CMapStringToString& visit);
    // The pupils whose latest visit since the stamp since is an arrival
    // (入室): user_id, login_date, terminal, user_name, group_name, in the
    // order of the lists.
    int getPresent(const CString& since, NVKTL::vector<CMapStringToString*>* rows);
    // The office's summary of a day (the stamps from, to): its visits, the
    // notices sent, and the deliveries given up for its visits together with
    // every one still waiting (state, mail, user_name, group_name,
    // login_date, login_kind, tries, next_try, last_error).
    struct DaySummary {
        long long visits = 0, sent = 0;
    };
    int getDaySummary(const CString& from, const CString& to, DaySummary& summary,
                      NVKTL::vector<CMapStringToString*>* problems);
    // 0 when the summary of day ("%Y%m%d") falls to the caller: the first to
    // ask, of every terminal of the store; -1 when it was taken already (or
    // the mark could not be stored, so that no summary is sent twice).
    int claimDaySummary(const CString& day);
    // Retention: how many visits were recorded before the stamp before, and
    // the oldest of them; then their deletion with their deliveries and
    // error rows, all or nothing (0 when done). keepOutbox keeps the visits
    // of a terminal's file that its server does not have yet.
    long long countVisitsBefore(const CString& before, CString& oldest);
    int deleteVisitsBefore(const CString& before, bool keepOutbox = false);
    // The settings of the retention limit: the months kept ("", "0": all),
    // and the limit the office has confirmed; nothing is deleted before it
    // confirmed that very limit.
    static constexpr const char* kRetentionKey = "retention_months";
    static constexpr const char* kRetentionConfirmedKey = "retention_confirmed";
    // The first moment kept at the stamp now with months kept: the same
    // moment that many months earlier (the month's last day when shorter).
    static CString retentionStart(const CString& now, int months);
    // Deletes what the confirmed limit no longer keeps, on a server also
    // from this terminal's copy: 0 when done or nothing was to be deleted.
    int applyRetention(const CString& now);
    // The roster as the office's spreadsheet holds it: one row per pupil and
    // address (group_name, user_id, user_name, notice_off, mail; mail empty
    // for a pupil without one), in the order of the lists.
    int getRosterLines(NVKTL::vector<CMapStringToString*>* rows);
    // One pupil of an imported roster.
    struct RosterPupil {
        CString groupName, userId, userName;
        bool noticeOff = false;
        std::vector<CString> mails;
    };
    // Stores an imported roster, all or nothing: the groups named (groups
    // first, in their order, then the pupils') that do not exist yet are
    // added at the end of the order, then each pupil is
    // added (at the end) or changed (keeping its place), with exactly the
    // given addresses. 0 when all was stored.
    int importRoster(const std::vector<CString>& groups, const std::vector<RosterPupil>& pupils);

    // A terminal of a server: its outbox of visits not yet uploaded (oldest
    // first, at most limit, with their deliveries), the upload of such visits
    // to the server, and the mark on the terminal once the server has them.
    // An upload may be repeated at any point: each visit arrives once.
    // uploadVisits is -2, and stores nothing, when another terminal's visit
    // has one of the ids.
    int getOutbox(NVKTL::vector<CMapStringToString*>* visits,
                  NVKTL::vector<CMapStringToString*>* deliveries, int limit);
    int getOutboxCount();
    int uploadVisits(const NVKTL::vector<CMapStringToString*>& visits,
                     const NVKTL::vector<CMapStringToString*>& deliveries);
    int markUploaded(const NVKTL::vector<CMapStringToString*>& visits);
    // Every visit of the file counts as handed on (poston-server use).
    int markAllUploaded();
    // The roster a terminal keeps a copy of: groups, users, addresses and the
    // settings but the terminal's own window place.
    struct Roster {
        std::vector<CMapStringToString> groups, users, mails, settings;
    };
    // The server's roster version, -1 when it cannot be read.
    long long getRosterVersion();
    int readRoster(Roster& roster);
    // Replaces this store's roster with roster, all or nothing.
    int replaceRoster(const Roster& roster);
    // The number of the terminal called name on the server, registered when
    // new; -1 when it cannot be had.
    long long registerTerminal(const CString& name, bool& isNew);
    // 0 when the store holds users or visits.
    int hasData();
    // Copies everything of this object's file to server (which must be
    // empty), inside server's batch, its visits as recorded by terminal. 0
    // when every row arrived.
    int copyUp(CDbAccess& server, const CString& terminal, IMigrationProgress* progress);
    // 0 when the role may read and write every table of the server.
    int hasRights();

    // Moves the contents of the data file into a waiting master copy and makes
    // that the data file, keeping the old one as "bk" + timestamp + ".mdb".
    // Returns 0 when there was nothing to do or the new data file is in
    // place, -1 when the data file was left as it was. progress may be null.
    int migrateData(IMigrationProgress* progress);

    // The copy steps of the migration, from this object's data file into
    // target (inside its batch). Each returns 0 when every row arrived, -1
    // when one did not (the migration leaves such a row out).
    int copyDefData(IMigrationProgress* progress, IDbConnection* target);
    int copyGroup(IMigrationProgress* progress, IDbConnection* target);
    int copyUser(IMigrationProgress* progress, IDbConnection* target);
    int copyMail(IMigrationProgress* progress, IDbConnection* target);
    int copyLogin(IMigrationProgress* progress, IDbConnection* target);
    int copyMailError(IMigrationProgress* progress, IDbConnection* target);
    int copySend(IMigrationProgress* progress, IDbConnection* target);

protected:
    // Runs statements (true when all ran) in one transaction: 0 when
    // committed, -1 when nothing was stored.
    int runBatch(const std::function<bool()>& statements);
    // Runs a statement of the catalogue on the store: true when it ran.
    bool run(Sql sql, const CMapStringToString* params = nullptr);
    // run as an operation's result: 0 when it ran, -1 when not.
    int store(Sql sql, const CMapStringToString* params = nullptr);
    // Runs a reading statement and counts its rows into rows.
    int selectInto(Sql sql, NVKTL::vector<CMapStringToString*>* rows,
                   const CMapStringToString* params);
    // 0 when the statement gives at least one row, -1 otherwise.
    int selectAny(Sql sql, const CMapStringToString* params);
    // The first row's value of column, or false when there is no row.
    bool selectFirst(Sql sql, const CMapStringToString* params, const char* column, CString& value);
    // Runs a statement of the catalogue on any connection.
    static bool runOn(IDbConnection& connection, Sql sql, const CMapStringToString* params,
                      const IDbConnection::RowVisitor* visit = nullptr);
    // The parameter map of a statement: placeholder name, value.
    static CMapStringToString named(std::initializer_list<std::pair<const char*, CString>> values);
    // A value for a column that may be NULL: "null" when empty, else the value
    // in single quotes.
    static CString quotedOrNull(const CString& value);

    // The terminal's own file, whatever the store.
    CMdbAccess* m_pMdb;
    CString m_dataPath;
    // Where the operations run: m_pMdb, this thread's server connection, or
    // none when the server cannot be used now.
    IDbConnection* m_db;
    std::shared_ptr<IDbConnection> m_serverConnection;
    bool m_server;
};

// Releases the rows of getSendLogin on a CDbAccess of its own; the send
// thread calls it on its own thread.
void releaseSendLogin(NVKTL::vector<CMapStringToString*>* rows);
