#pragma once

#include "data/CMdbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <functional>
#include <initializer_list>
#include <string_view>
#include <utility>

class IMigrationProgress;

// The program's data operations, one method each, over the data file
// "poston.mdb" of the data folder. Construct one on the stack, call the
// operations, release every row vector an operation filled (releaseVector, on
// any CDbAccess), and let it go: no file handle outlives a call.
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

    CDbAccess();
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
    // ";PWD=" followed by the password.
    static CString connectSuffix();

    void releaseVector(NVKTL::vector<CMapStringToString*>* rows);

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
    int checkAdminUser(const CString& user_id);
    int existAdminUser();
    int saveUser(const CString& user_id, const CString& user_name, const CString& mail,
                 const CString& group_id, long order_id);
    int deleteUser(const CString& user_id);
    int addMail(const CString& user_id, const CString& mail);
    int deleteMail(const CString& user_id);
    int getAddress(const CString& user_id, CString& addresses);

    // Visits (t_login) and their deliveries (t_send). addLogin records the
    // visit and one due delivery per address the user has now, all or
    // nothing: 0 and login_id set, or -1 and nothing stored.
    int addLogin(const CString& user_id, const CString& login_date, CString& login_id);
    // The due deliveries whose next try has come and that nobody has claimed:
    // send_id, group_name, user_id, from_name, from_mail, login_id,
    // login_date, tries; oldest visit first.
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
    // Those deliveries, next try first: send_id, mail, login_date, tries,
    // next_try, last_error, user_name, group_name.
    int getWaitingList(NVKTL::vector<CMapStringToString*>* rows);
    // Makes a waiting delivery due at once; 0 when stored.
    int hurryDelivery(const CString& send_id);
    // Withdraws a visit: its deliveries that have not gone out are not sent.
    int skipLogin(const CString& login_id, const CString& ret_send_date);

    // Failed deliveries (t_mail_error), newest first; a row whose delivery is
    // due again is left out until it fails once more.
    int getMailErrorList(NVKTL::vector<CMapStringToString*>* rows);
    // 0 when the row is gone.
    int deleteMailError(const CString& error_no);
    // Makes the delivery of one error row due again (the row stays until it
    // has been sent); 0 when stored.
    int resendMailError(const CString& error_no, const CString& date);

    // Moves the contents of the data file into a waiting master copy and makes
    // that the data file, keeping the old one as "bk" + timestamp + ".mdb".
    // Returns 0 when there was nothing to do or the new data file is in
    // place, -1 when the data file was left as it was. progress may be null.
    int migrateData(IMigrationProgress* progress);

    // The copy steps of the migration, from this object's data file into the
    // file of master (inside its batch). Each returns 0.
    int copyDefData(IMigrationProgress* progress, CMdbAccess* master);
    int copyGroup(IMigrationProgress* progress, CMdbAccess* master);
    int copyUser(IMigrationProgress* progress, CMdbAccess* master);
    int copyMail(IMigrationProgress* progress, CMdbAccess* master);
    int copyLogin(IMigrationProgress* progress, CMdbAccess* master);
    int copyMailError(IMigrationProgress* progress, CMdbAccess* master);
    int copySend(IMigrationProgress* progress, CMdbAccess* master);

protected:
    // Runs statements (true when all ran) in one transaction: 0 when
    // committed, -1 when nothing was stored.
    int runBatch(const std::function<bool()>& statements);
    // Runs one writing statement: true when it ran.
    bool run(const char* sql, const CMapStringToString* params = nullptr);
    // run as an operation's result: 0 when it ran, -1 when not.
    int store(const char* sql, const CMapStringToString* params = nullptr);
    // Runs a reading statement and counts its rows into rows.
    int selectInto(const CString& sql, NVKTL::vector<CMapStringToString*>* rows,
                   const CMapStringToString* params);
    // 0 when the statement gives at least one row, -1 otherwise.
    int selectAny(const char* sql, const CMapStringToString* params);
    // The first row's value of column, or false when there is no row.
    bool selectFirst(const char* sql, const CMapStringToString* params, const char* column,
                     CString& value);
    // The parameter map of a statement: placeholder name, value.
    static CMapStringToString named(std::initializer_list<std::pair<const char*, CString>> values);
    // A value for a column that may be NULL: "null" when empty, else the value
    // in single quotes.
    static CString quotedOrNull(const CString& value);

    CMdbAccess* m_pMdb;
    CString m_dataPath;
};

// Releases the rows of getSendLogin on a CDbAccess of its own; the send
// thread calls it on its own thread.
void releaseSendLogin(NVKTL::vector<CMapStringToString*>* rows);
