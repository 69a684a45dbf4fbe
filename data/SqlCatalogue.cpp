#include "data/SqlCatalogue.h"

#include <iterator>

namespace {

constexpr CStatement both(Sql id, const char* body) {
    return {id, body, body};
}
constexpr CStatement each(Sql id, const char* sqlite, const char* postgres) {
    return {id, sqlite, postgres};
}
constexpr CStatement fileOnly(Sql id, const char* body) {
    return {id, body, nullptr};
}
constexpr CStatement serverOnly(Sql id, const char* body) {
    return {id, nullptr, body};
}

// The order of a user's addresses: as they were added.
#define ADDRESS_ORDER_SQLITE "m.rowid"
#define ADDRESS_ORDER_POSTGRES "m.mail_no"
// One due delivery per address the user has now, in the order of the addresses.
#define DELIVERIES_OF_VISIT(order)                                                                 \
    "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT "             \
    "?login_id, m.mail, u.user_name, g.group_name, '1', 0 FROM t_mail m JOIN t_user u ON "         \
    "u.user_id = m.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE m.user_id = "      \
    "'?user_id' AND m.mail <> '' AND u.notice_off IS NULL ORDER BY " order
// A delivery's first try fixes its Message-ID and Date.
#define KEEP_MESSAGE_IDENTITY                                                                      \
    "message_id = COALESCE(NULLIF(message_id, ''), '?message_id'), message_date = "                \
    "COALESCE(NULLIF(message_date, ''), '?message_date')"
// The keys every terminal keeps for itself: where its first screen sits.
#define TERMINAL_KEYS "('window_top', 'window_left')"
// One page of visits below a point, newest first, each with its deliveries
// in one text: their fields (mail, state, tries, next_try, last_error,
// sent_date) apart by the unit separator, the deliveries by the record
// separator, neither of which an address or an error text holds; by address,
// the order the index of a visit's deliveries gives for free. One row per
// visit keeps a page, and an export of the whole history, cheap.
#define DELIVERY_FIELDS(sep, tries)                                                                \
    "s.mail || " sep " || s.state || " sep " || " tries " || " sep                                 \
    " || COALESCE(s.next_try, '') || " sep " || COALESCE(s.last_error, '') || " sep                \
    " || COALESCE(s.sent_date, '')"
#define HISTORY_PAGE(deliveries, narrow, dateColumn)                                               \
    "SELECT b.login_id, b.login_date, b.login_kind, b.terminal, b.user_id, u.user_name, "          \
    "g.group_name, " deliveries " as deliveries FROM t_login b LEFT JOIN t_user u ON u.user_id = " \
    "b.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE " dateColumn                   \
    " >= '?from' AND " dateColumn " <= '?before_date' AND (b.login_date < '?before_date' OR "      \
    "b.login_id < ?before_id) AND (?group_id = 0 OR u.group_id = ?group_id) " narrow               \
    "ORDER BY " dateColumn " DESC, b.login_id DESC LIMIT ?limit"
#define HISTORY_DELIVERIES_SQLITE                                                                  \
    "(SELECT group_concat(d, char(30)) FROM (SELECT " DELIVERY_FIELDS(                             \
        "char(31)", "COALESCE(s.tries, 0)") " as d FROM t_send s WHERE s.login_id = b.login_id "   \
                                            "ORDER BY s.mail))"
#define HISTORY_DELIVERIES_POSTGRES                                                                \
    "(SELECT string_agg(" DELIVERY_FIELDS(                                                         \
        "chr(31)", "COALESCE(s.tries, 0)::text") ", chr(30) "                                      \
                                                 "ORDER BY lower(s.mail)) FROM t_send s WHERE "    \
                                                 "s.login_id = b.login_id)"
#define HISTORY_BY_NAME(find)                                                                      \
    "AND b.user_id IN (SELECT user_id FROM t_user WHERE " find "(user_name, '?name') > 0) "

constexpr CStatement kCatalogue[] = {
    // Groups.
    both(Sql::GroupListAll, "SELECT group_id, group_name, kengen, delete_flg, order_id FROM "
                            "t_group ORDER BY order_id ASC"),
    both(Sql::GroupListDeletable, "SELECT group_id, group_name, kengen, delete_flg, order_id FROM "
                                  "t_group WHERE delete_flg IS NULL ORDER BY order_id ASC"),
    both(Sql::GroupMaxOrder, "SELECT MAX(order_id) as max_id FROM t_group"),
    both(Sql::GroupExists, "SELECT group_id FROM t_group WHERE group_id = ?group_id"),
    both(Sql::GroupNameExists, "SELECT group_name FROM t_group WHERE group_name = '?group_name'"),
    both(Sql::GroupGet, "SELECT group_name, kengen, delete_flg, order_id FROM t_group WHERE "
                        "group_id = ?group_id"),
    both(Sql::GroupInsert,
         "INSERT INTO t_group (group_name, order_id) VALUES ('?group_name', ?order_id)"),
    both(Sql::GroupUpdate, "UPDATE t_group SET group_name = '?group_name', order_id = ?order_id "
                           "WHERE group_id = ?group_id"),
    both(Sql::GroupDelete, "DELETE FROM t_group WHERE group_id = ?group_id"),
    both(Sql::GroupUsersMailDelete, "DELETE FROM t_mail WHERE user_id IN (SELECT user_id FROM "
                                    "t_user WHERE group_id = ?group_id)"),
    both(Sql::GroupUsersDelete, "DELETE FROM t_user WHERE group_id = ?group_id"),

    // Users and addresses.
    both(Sql::UserList, "SELECT user_id, user_name FROM t_user WHERE group_id = ?group_id ORDER "
                        "BY order_id ASC"),
    both(Sql::UserMaxOrder, "SELECT MAX(order_id) as max_id FROM t_user"),
    both(Sql::UserOrder, "SELECT order_id FROM t_user WHERE user_id = '?user_id'"),
    both(Sql::UserExists, "SELECT user_id FROM t_user WHERE user_id = '?user_id'"),
    both(Sql::UserGet, "SELECT user_name, mail, group_id, notice_off FROM t_user WHERE user_id = "
                       "'?user_id'"),
    both(Sql::AdminCheck, "SELECT user_id FROM t_user u, t_group g WHERE u.group_id = "
                          "g.group_id AND g.kengen = 'M' AND u.user_id = '?user_id'"),
    both(Sql::AdminExists, "SELECT user_id FROM t_user u, t_group g WHERE u.group_id = "
                           "g.group_id AND g.kengen = 'M'"),
    both(Sql::UserInsert,
         "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id, notice_off) VALUES "
         "('?user_id', '?user_name', ?mail, ?group_id, ?order_id, ?notice_off)"),
    both(Sql::UserUpdate,
         "UPDATE t_user SET user_name = '?user_name', mail = ?mail, group_id = ?group_id, "
         "order_id = ?order_id, notice_off = ?notice_off WHERE user_id = '?user_id'"),
    both(Sql::UserDelete, "DELETE FROM t_user WHERE user_id = '?user_id'"),
    // The same address twice for one user is refused by the unique key.
    both(Sql::MailInsert, "INSERT INTO t_mail (user_id, mail) VALUES ('?user_id', '?mail')"),
    both(Sql::MailDelete, "DELETE FROM t_mail WHERE user_id = '?user_id'"),
    each(Sql::AddressList,
         "SELECT mail FROM t_mail m WHERE user_id = '?user_id' ORDER BY " ADDRESS_ORDER_SQLITE,
         "SELECT mail FROM t_mail m WHERE user_id = '?user_id' ORDER BY " ADDRESS_ORDER_POSTGRES),

    // Settings.
    both(Sql::SettingsAll, "SELECT column_name, column_value FROM t_def_data"),
    both(Sql::SettingStore, "INSERT INTO t_def_data (column_name, column_value) VALUES "
                            "('?column_name', ?column_value) ON CONFLICT (column_name) DO UPDATE "
                            "SET column_value = excluded.column_value"),

    // Visits and deliveries. The addresses, name and group of this moment go
    // with the visit.
    both(Sql::VisitInsert,
         "INSERT INTO t_login (user_id, login_date, ret_send, terminal, login_kind) VALUES "
         "('?user_id', '?login_date', '1', ?terminal, '?login_kind') RETURNING login_id"),
    each(Sql::VisitDeliveriesInsert, DELIVERIES_OF_VISIT(ADDRESS_ORDER_SQLITE),
         DELIVERIES_OF_VISIT(ADDRESS_ORDER_POSTGRES)),
    both(Sql::VisitWithoutDeliveries,
         "UPDATE t_login SET ret_send = '3' WHERE login_id = ?login_id AND NOT EXISTS (SELECT 1 "
         "FROM t_send WHERE login_id = ?login_id)"),
    both(Sql::VisitDeliveriesSkip,
         "UPDATE t_send SET state = '3' WHERE login_id = ?login_id AND state = '1'"),
    // On the terminal a withdrawn visit goes (up) again, so that the server
    // learns of it too.
    each(Sql::VisitSkip,
         "UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = '3', uploaded = NULL "
         "WHERE login_id = ?login_id",
         "UPDATE t_login SET ret_send_date = '?ret_send_date', ret_send = '3' WHERE login_id = "
         "?login_id"),
    // '1' while any delivery is due, '3' when one ended unsent or there was
    // none at all, else '2'.
    both(Sql::VisitSummary,
         "UPDATE t_login SET ret_send = CASE WHEN EXISTS (SELECT 1 FROM t_send s WHERE s.login_id "
         "= t_login.login_id AND s.state = '1') THEN '1' WHEN EXISTS (SELECT 1 FROM t_send s "
         "WHERE s.login_id = t_login.login_id AND s.state = '3') OR NOT EXISTS (SELECT 1 FROM "
         "t_send s WHERE s.login_id = t_login.login_id) THEN '3' ELSE '2' END, ret_send_date = "
         "'?ret_send_date' WHERE login_id = (SELECT login_id FROM t_send WHERE send_id = "
         "?send_id)"),
    // A pupil's latest visit from any terminal: on a terminal's file its own
    // visits and those the server last told of.
    each(Sql::LastVisit,
         "SELECT login_date, login_kind FROM (SELECT login_date, login_kind FROM t_login WHERE "
         "user_id = '?user_id' UNION ALL SELECT login_date, login_kind FROM t_seen_visit WHERE "
         "user_id = '?user_id') ORDER BY login_date DESC LIMIT 1",
         "SELECT login_date, login_kind FROM t_login WHERE user_id = '?user_id' ORDER BY "
         "login_date DESC LIMIT 1"),
    // Each pupil's latest visit since a moment.
    each(Sql::RecentVisits,
         "SELECT user_id, max(login_date) as login_date, login_kind FROM t_login WHERE "
         "login_date >= '?since' GROUP BY user_id ORDER BY user_id",
         "SELECT DISTINCT ON (user_id) user_id, login_date, login_kind FROM t_login WHERE "
         "login_date >= '?since' ORDER BY user_id, login_date DESC"),
    fileOnly(Sql::SeenVisitKeep,
             "INSERT INTO t_seen_visit (user_id, login_date, login_kind) VALUES ('?user_id', "
             "'?login_date', '?login_kind') ON CONFLICT (user_id) DO UPDATE SET login_date = "
             "excluded.login_date, login_kind = excluded.login_kind WHERE excluded.login_date > "
             "t_seen_visit.login_date"),
    // On the terminal, a visit handed to a server is the server's to mail.
    // On the server, claims run on the server's clock.
    each(Sql::DueDeliveries,
         "SELECT s.send_id, s.group_name, b.user_id, s.user_name as from_name, s.mail as "
         "from_mail, b.login_id, b.login_date, b.login_kind, b.terminal, s.tries FROM t_send s "
         "JOIN t_login b ON b.login_id = s.login_id WHERE s.state = '1' AND b.uploaded IS NULL AND "
         "(s.next_try IS "
         "NULL OR s.next_try <= '?now') AND (s.claim_until IS NULL OR s.claim_until < '?now') "
         "ORDER BY b.login_date ASC, s.send_id ASC",
         "SELECT s.send_id, s.group_name, b.user_id, s.user_name as from_name, s.mail as "
         "from_mail, b.login_id, b.login_date, b.login_kind, b.terminal, s.tries FROM t_send s "
         "JOIN t_login b ON b.login_id = s.login_id WHERE s.state = '1' AND (s.next_try IS NULL OR "
         "s.next_try <= "
         "'?now') AND (s.claim_until IS NULL OR s.claim_until < now()) ORDER BY b.login_date "
         "ASC, s.send_id ASC LIMIT 500"),
    both(Sql::WaitingCount,
         "SELECT count(*) as waiting FROM t_send WHERE state = '1' AND tries > 0"),
    both(Sql::WaitingList,
         "SELECT s.send_id, s.mail, b.login_date, b.login_kind, s.tries, s.next_try, "
         "s.last_error, s.user_name, s.group_name FROM t_send s JOIN t_login b ON b.login_id = "
         "s.login_id "
         "WHERE s.state = '1' AND s.tries > 0 ORDER BY s.next_try ASC, s.send_id ASC"),
    both(Sql::DeliveryHurry,
         "UPDATE t_send SET next_try = NULL WHERE send_id = ?send_id AND state = '1'"),
    // A claim is one statement, so nobody can take the delivery between look
    // and mark; a delivery that another terminal is claiming just then is
    // skipped rather than waited for. The Message-ID and Date of the first
    // try stay with the delivery for every later one.
    each(Sql::DeliveryClaim,
         "UPDATE t_send SET claim_until = '?until', " KEEP_MESSAGE_IDENTITY " WHERE send_id = "
         "?send_id AND state = '1' AND (claim_until IS NULL OR claim_until < '?now') RETURNING "
         "message_id, message_date",
         "UPDATE t_send SET claimed_by = ?terminal_id, claim_until = now() + ?lease_ms * interval "
         "'1 millisecond', " KEEP_MESSAGE_IDENTITY " WHERE send_id = (SELECT send_id FROM t_send "
         "WHERE send_id = ?send_id AND state = '1' AND (claim_until IS NULL OR claim_until < "
         "now()) FOR UPDATE SKIP LOCKED) RETURNING message_id, message_date"),
    each(Sql::DeliveryRelease,
         "UPDATE t_send SET claim_until = NULL WHERE send_id = ?send_id AND state = '1'",
         "UPDATE t_send SET claimed_by = NULL, claim_until = NULL WHERE send_id = ?send_id AND "
         "state = '1' AND claimed_by = ?terminal_id"),
    // The one terminal of a file frees every claim; a terminal of a server
    // only its own.
    each(Sql::ClaimsRelease, "UPDATE t_send SET claim_until = NULL WHERE claim_until IS NOT NULL",
         "UPDATE t_send SET claimed_by = NULL, claim_until = NULL WHERE claimed_by = "
         "?terminal_id AND state = '1'"),
    both(Sql::DeliverySent, "UPDATE t_send SET state = '2', sent_date = '?ret_send_date', "
                            "claim_until = NULL WHERE send_id = ?send_id"),
    both(Sql::DeliveryRetry, "UPDATE t_send SET tries = tries + 1, next_try = '?next_try', "
                             "last_error = '?error_msg', claim_until = NULL WHERE send_id = "
                             "?send_id"),
    both(Sql::DeliveryFail, "UPDATE t_send SET state = '3', tries = tries + 1, last_error = "
                            "'?error_msg', claim_until = NULL WHERE send_id = ?send_id"),

    // Failed deliveries: one error row per delivery.
    both(Sql::SentErrorsDelete,
         "DELETE FROM t_mail_error WHERE EXISTS (SELECT 1 FROM t_send s WHERE s.send_id = "
         "?send_id AND s.login_id = t_mail_error.login_id AND s.mail = t_mail_error.mail)"),
    both(Sql::ErrorRenew,
         "UPDATE t_mail_error SET error_date = '?error_date', error_msg = '?error_msg' WHERE "
         "EXISTS (SELECT 1 FROM t_send s WHERE s.send_id = ?send_id AND s.login_id = "
         "t_mail_error.login_id AND s.mail = t_mail_error.mail)"),
    both(Sql::ErrorInsert,
         "INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) SELECT "
         "s.login_id, b.user_id, s.mail, '?error_date', '?error_msg' FROM t_send s JOIN t_login "
         "b ON b.login_id = s.login_id WHERE s.send_id = ?send_id AND NOT EXISTS (SELECT 1 FROM "
         "t_mail_error e WHERE e.login_id = s.login_id AND e.mail = s.mail)"),
    both(Sql::ErrorDeliveryInsert,
         "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT "
         "e.login_id, e.mail, u.user_name, g.group_name, '3', 0 FROM t_mail_error e LEFT JOIN "
         "t_user u ON u.user_id = e.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE "
         "e.error_no = ?error_no AND NOT EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = "
         "e.login_id AND s.mail = e.mail)"),
    both(Sql::ErrorDeliveryFind,
         "SELECT s.send_id FROM t_send s JOIN t_mail_error e ON e.login_id = s.login_id AND "
         "e.mail = s.mail WHERE e.error_no = ?error_no"),
    both(Sql::ErrorDeliveryDue,
         "UPDATE t_send SET state = '1', tries = 0, next_try = NULL, claim_until = NULL WHERE "
         "send_id = ?send_id AND state = '3'"),
    both(Sql::ErrorList,
         "SELECT e.error_no, e.login_id, e.error_date, g.group_name, u.user_name, e.mail, "
         "e.error_msg, b.terminal, b.login_kind FROM t_mail_error e JOIN t_user u ON e.user_id = "
         "u.user_id "
         "JOIN t_group g ON u.group_id = g.group_id LEFT JOIN t_login b ON b.login_id = "
         "e.login_id WHERE NOT EXISTS (SELECT 1 FROM t_send s WHERE s.login_id = e.login_id AND "
         "s.mail = e.mail AND s.state = '1') ORDER BY e.error_date DESC"),
    both(Sql::ErrorDelete, "DELETE FROM t_mail_error WHERE error_no = ?error_no"),

    // Whole rows.
    both(Sql::CopySetting, "UPDATE t_def_data SET column_value = '?column_value' WHERE "
                           "column_name = '?column_name'"),
    both(Sql::CopyFixedGroup,
         "UPDATE t_group SET group_name = '?group_name' WHERE group_id = ?group_id"),
    both(Sql::CopyGroup, "INSERT INTO t_group (group_id, group_name, kengen, delete_flg, "
                         "order_id) VALUES (?group_id, '?group_name', ?kengen, ?delete_flg, "
                         "?order_id)"),
    both(Sql::CopyUser,
         "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id, notice_off) VALUES "
         "('?user_id', '?user_name', ?mail, ?group_id, ?order_id, ?notice_off)"),
    both(Sql::CopyUserMail,
         "INSERT INTO t_mail (user_id, mail) VALUES ('?user_id', ?mail) ON CONFLICT DO NOTHING"),
    both(Sql::CopyMail,
         "INSERT INTO t_mail (user_id, mail) VALUES ('?user_id', '?mail') ON CONFLICT DO NOTHING"),
    each(Sql::CopyVisit,
         "INSERT INTO t_login (login_id, user_id, login_date, ret_send, ret_send_date, terminal, "
         "uploaded, login_kind) VALUES (?login_id, '?user_id', '?login_date', '?ret_send', "
         "?ret_send_date, ?terminal, ?uploaded, '?login_kind')",
         "INSERT INTO t_login (login_id, user_id, login_date, ret_send, ret_send_date, terminal, "
         "login_kind) VALUES (?login_id, '?user_id', '?login_date', '?ret_send', ?ret_send_date, "
         "?terminal, '?login_kind')"),
    both(Sql::CopyError, "INSERT INTO t_mail_error (error_no, login_id, user_id, mail, "
                         "error_date, error_msg) VALUES (?error_no, ?login_id, '?user_id', "
                         "'?mail', '?error_date', '?error_msg')"),
    // Claims stay behind: they belonged to the run that made them. Two
    // deliveries of one visit to spellings of one address are one: the
    // first copied stays.
    both(Sql::CopyDelivery,
         "INSERT INTO t_send (send_id, login_id, mail, user_name, group_name, state, tries, "
         "next_try, last_error, sent_date, message_id, message_date) VALUES (?send_id, "
         "?login_id, '?mail', '?user_name', '?group_name', '?state', ?tries, ?next_try, "
         "?last_error, ?sent_date, ?message_id, ?message_date) ON CONFLICT DO NOTHING"),
    // A file from before deliveries were kept: its due visits go to the
    // addresses their users have now.
    fileOnly(Sql::OldDueDeliveries,
             "SELECT b.login_id, m.mail, u.user_name, g.group_name FROM t_login b JOIN t_user u "
             "ON u.user_id = b.user_id JOIN t_mail m ON m.user_id = b.user_id LEFT JOIN t_group g "
             "ON g.group_id = u.group_id WHERE b.ret_send = '1' AND m.mail <> '' ORDER BY "
             "b.login_id, m.rowid"),
    both(Sql::OldDeliveryInsert,
         "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) VALUES "
         "(?login_id, '?mail', '?user_name', '?group_name', '1', 0)"),
    both(Sql::OldVisitsWithoutDeliveries,
         "UPDATE t_login SET ret_send = '3' WHERE ret_send = '1' AND NOT EXISTS (SELECT 1 FROM "
         "t_send s WHERE s.login_id = t_login.login_id)"),
    // Visit ids from 10,000,000,000 on are the terminals' own ranges.
    serverOnly(Sql::SequencesAfterCopy,
               "SELECT setval(pg_get_serial_sequence('t_group', 'group_id'), (SELECT "
               "COALESCE(MAX(group_id), 0) + 1 FROM t_group), false) as groups, "
               "setval(pg_get_serial_sequence('t_login', 'login_id'), (SELECT "
               "COALESCE(MAX(login_id), 0) + 1 FROM t_login WHERE login_id < 10000000000), "
               "false) as visits, setval(pg_get_serial_sequence('t_mail_error', 'error_no'), "
               "(SELECT COALESCE(MAX(error_no), 0) + 1 FROM t_mail_error), false) as errors, "
               "setval(pg_get_serial_sequence('t_send', 'send_id'), (SELECT COALESCE(MAX(send_id), "
               "0) + 1 FROM t_send), false) as deliveries"),
    serverOnly(Sql::VisitsNameTerminal,
               "UPDATE t_login SET terminal = '?terminal' WHERE terminal IS NULL"),

    // The roster.
    serverOnly(Sql::RosterVersion, "SELECT version FROM t_roster_version"),
    both(Sql::RosterGroups, "SELECT group_id, group_name, kengen, delete_flg, order_id FROM "
                            "t_group ORDER BY group_id"),
    both(Sql::RosterUsers,
         "SELECT user_id, user_name, mail, group_id, order_id, notice_off FROM t_user"),
    each(Sql::RosterMails, "SELECT user_id, mail FROM t_mail m ORDER BY " ADDRESS_ORDER_SQLITE,
         "SELECT user_id, mail FROM t_mail m ORDER BY " ADDRESS_ORDER_POSTGRES),
    both(Sql::RosterSettings, "SELECT column_name, column_value FROM t_def_data WHERE "
                              "column_name NOT IN " TERMINAL_KEYS),
    both(Sql::RosterClearGroups, "DELETE FROM t_group"),
    both(Sql::RosterClearUsers, "DELETE FROM t_user"),
    both(Sql::RosterClearMails, "DELETE FROM t_mail"),
    both(Sql::RosterClearSettings,
         "DELETE FROM t_def_data WHERE column_name NOT IN " TERMINAL_KEYS),

    // The outbox of a terminal that uses a server: the visits in its own range
    // (one recorded while it used its file alone stays the file's).
    fileOnly(Sql::OutboxVisits,
             "SELECT login_id, user_id, login_date, ret_send, ret_send_date, terminal, "
             "login_kind FROM t_login WHERE uploaded IS NULL AND login_id >= ?first ORDER BY "
             "login_id LIMIT "
             "?limit"),
    fileOnly(Sql::OutboxDeliveries,
             "SELECT s.login_id, s.mail, s.user_name, s.group_name, s.state FROM t_send s JOIN "
             "t_login b ON b.login_id = s.login_id WHERE b.uploaded IS NULL AND b.login_id >= "
             "?first AND b.login_id <= ?last ORDER BY s.send_id"),
    fileOnly(Sql::OutboxCount, "SELECT count(*) as waiting FROM t_login WHERE uploaded IS NULL "
                               "AND login_id >= ?first"),
    // A visit withdrawn while it went up is not marked: it goes again.
    fileOnly(Sql::OutboxMarkUploaded, "UPDATE t_login SET uploaded = '1' WHERE login_id = "
                                      "?login_id AND ret_send = '?ret_send'"),
    fileOnly(Sql::OutboxMarkAllUploaded,
             "UPDATE t_login SET uploaded = '1' WHERE uploaded IS NULL"),
    fileOnly(Sql::VisitNumbering,
             "UPDATE sqlite_sequence SET seq = ?first WHERE name = 't_login' AND seq < ?first"),
    fileOnly(Sql::VisitNumberingStart,
             "INSERT INTO sqlite_sequence (name, seq) SELECT 't_login', ?first WHERE NOT EXISTS "
             "(SELECT 1 FROM sqlite_sequence WHERE name = 't_login')"),
    // Uploads may repeat: a visit arrives once; a withdrawal that follows it
    // up stops what has not gone out.
    serverOnly(Sql::UploadVisits,
               "INSERT INTO t_login (login_id, user_id, login_date, ret_send, ret_send_date, "
               "terminal, login_kind) SELECT v.login_id, v.user_id, v.login_date, v.ret_send, "
               "v.ret_send_date, v.terminal, COALESCE(v.login_kind, '来所') FROM "
               "json_to_recordset('?visits'::json) AS v(login_id bigint, user_id text, login_date "
               "text, ret_send text, ret_send_date text, terminal text, login_kind text) ON "
               "CONFLICT (login_id) DO UPDATE SET ret_send = '3', "
               "ret_send_date = excluded.ret_send_date WHERE excluded.ret_send = '3' AND "
               "t_login.ret_send = '1'"),
    serverOnly(Sql::UploadDeliveries,
               "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT "
               "d.login_id, d.mail, d.user_name, d.group_name, d.state, 0 FROM "
               "json_to_recordset('?deliveries'::json) AS d(login_id bigint, mail text, "
               "user_name text, group_name text, state text) ON CONFLICT (login_id, mail) DO "
               "UPDATE SET state = '3' WHERE excluded.state = '3' AND t_send.state = '1'"),
    // Ids another terminal has taken (two terminals set up with the same
    // number, a disk image copied): such visits are not theirs to replace.
    serverOnly(Sql::UploadCollisions,
               "SELECT v.login_id FROM json_to_recordset('?visits'::json) AS v(login_id bigint, "
               "user_id text, login_date text) JOIN t_login b ON b.login_id = v.login_id WHERE "
               "b.user_id IS DISTINCT FROM v.user_id OR b.login_date IS DISTINCT FROM "
               "v.login_date"),

    // Terminals.
    serverOnly(Sql::TerminalRegister,
               "INSERT INTO t_terminal (terminal_name) VALUES ('?terminal') ON CONFLICT "
               "(terminal_name) DO NOTHING RETURNING terminal_id"),
    serverOnly(Sql::TerminalFind,
               "SELECT terminal_id FROM t_terminal WHERE terminal_name = '?terminal'"),
    both(Sql::HasData,
         "SELECT 1 as found FROM t_user UNION ALL SELECT 1 as found FROM t_login LIMIT 1"),
    serverOnly(Sql::RightsCheck,
               "SELECT bool_and(CASE WHEN c.relkind = 'S' THEN has_sequence_privilege(c.oid, "
               "'USAGE') ELSE has_table_privilege(c.oid, 'SELECT,INSERT,UPDATE,DELETE') END) as "
               "granted FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE "
               "n.nspname = 'public' AND c.relkind IN ('r', 'S') AND c.relname <> 't_schema'"),
    both(Sql::Ping, "SELECT 1 as alive"),

    // The office's view. A page of visits, newest first, continues below the
    // last visit of the page before (before_date, before_id): the date's
    // upper bound stands alone so that the index starts there, and no page
    // costs more than its own rows.
    each(Sql::HistoryPage, HISTORY_PAGE(HISTORY_DELIVERIES_SQLITE, "", "b.login_date"),
         HISTORY_PAGE(HISTORY_DELIVERIES_POSTGRES, "", "b.login_date")),
    // A name narrows the visits to a few pupils: found through their own
    // index, never by walking the whole range of dates.
    each(Sql::HistoryPageByName,
         HISTORY_PAGE(HISTORY_DELIVERIES_SQLITE, HISTORY_BY_NAME("instr"), "+b.login_date"),
         HISTORY_PAGE(HISTORY_DELIVERIES_POSTGRES, HISTORY_BY_NAME("strpos"), "b.login_date")),
    // The pupils whose latest visit since the day began is an arrival.
    each(Sql::PresentNow,
         "SELECT r.user_id, r.login_date, r.terminal, u.user_name, g.group_name FROM (SELECT "
         "user_id, max(login_date) as login_date, login_kind, terminal FROM t_login WHERE "
         "login_date >= '?since' GROUP BY user_id) r JOIN t_user u ON u.user_id = r.user_id "
         "LEFT JOIN t_group g ON g.group_id = u.group_id WHERE r.login_kind = '?kind' ORDER BY "
         "g.order_id, u.order_id, r.user_id",
         "SELECT r.user_id, r.login_date, r.terminal, u.user_name, g.group_name FROM (SELECT "
         "DISTINCT ON (user_id) user_id, login_date, login_kind, terminal FROM t_login WHERE "
         "login_date >= '?since' ORDER BY user_id, login_date DESC, login_id DESC) r JOIN t_user "
         "u ON u.user_id = r.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE "
         "r.login_kind = '?kind' ORDER BY g.order_id, u.order_id, r.user_id"),
    both(Sql::DaySummary,
         "SELECT (SELECT count(*) FROM t_login WHERE login_date >= '?from' AND login_date < "
         "'?to') as visits, (SELECT count(*) FROM t_send WHERE state = '2' AND sent_date >= "
         "'?from' AND sent_date < '?to') as sent"),
    // Deliveries given up for the day's visits, and every one still waiting.
    both(Sql::DayProblems,
         "SELECT s.state, s.mail, s.user_name, s.group_name, b.login_date, b.login_kind, "
         "s.tries, s.next_try, s.last_error FROM t_send s JOIN t_login b ON b.login_id = "
         "s.login_id WHERE (s.state = '3' AND s.last_error IS NOT NULL AND b.login_date >= "
         "'?from' AND b.login_date < '?to') OR (s.state = '1' AND b.login_date < '?to') ORDER "
         "BY s.state DESC, b.login_date, s.send_id"),
    // One statement, so that of several terminals only one takes the day.
    both(Sql::SummaryClaim,
         "UPDATE t_def_data SET column_value = '?day' WHERE column_name = 'summary_sent_day' "
         "AND (column_value IS NULL OR column_value < '?day') RETURNING column_value"),
    both(Sql::RetentionCount,
         "SELECT count(*) as visits, min(login_date) as oldest FROM t_login WHERE login_date < "
         "'?before'"),
    // The visits before the limit; a terminal of a server keeps those it has
    // not sent up yet (keep_outbox 1).
    each(Sql::RetentionErrorsDelete,
         "DELETE FROM t_mail_error WHERE (?keep_outbox = 0 AND error_date < '?before') OR "
         "login_id IN (SELECT login_id FROM t_login WHERE login_date < '?before' AND "
         "(?keep_outbox = 0 OR uploaded IS NOT NULL))",
         "DELETE FROM t_mail_error WHERE error_date < '?before' OR login_id IN (SELECT login_id "
         "FROM t_login WHERE login_date < '?before')"),
    each(Sql::RetentionDeliveriesDelete,
         "DELETE FROM t_send WHERE login_id IN (SELECT login_id FROM t_login WHERE login_date < "
         "'?before' AND (?keep_outbox = 0 OR uploaded IS NOT NULL))",
         "DELETE FROM t_send WHERE login_id IN (SELECT login_id FROM t_login WHERE login_date < "
         "'?before')"),
    each(Sql::RetentionVisitsDelete,
         "DELETE FROM t_login WHERE login_date < '?before' AND (?keep_outbox = 0 OR uploaded IS "
         "NOT NULL)",
         "DELETE FROM t_login WHERE login_date < '?before'"),
    // Every pupil with each address, in the order of the lists.
    each(Sql::RosterLines,
         "SELECT g.group_name, u.user_id, u.user_name, u.notice_off, m.mail FROM t_user u LEFT "
         "JOIN t_group g ON g.group_id = u.group_id LEFT JOIN t_mail m ON m.user_id = u.user_id "
         "ORDER BY g.order_id, u.order_id, u.user_id, " ADDRESS_ORDER_SQLITE,
         "SELECT g.group_name, u.user_id, u.user_name, u.notice_off, m.mail FROM t_user u LEFT "
         "JOIN t_group g ON g.group_id = u.group_id LEFT JOIN t_mail m ON m.user_id = u.user_id "
         "ORDER BY g.order_id, u.order_id, u.user_id, " ADDRESS_ORDER_POSTGRES),
    both(Sql::GroupIdByName, "SELECT group_id FROM t_group WHERE group_name = '?group_name' "
                             "ORDER BY order_id LIMIT 1"),
};

#undef DELIVERIES_OF_VISIT
#undef ADDRESS_ORDER_SQLITE
#undef ADDRESS_ORDER_POSTGRES
#undef TERMINAL_KEYS
#undef HISTORY_PAGE
#undef HISTORY_DELIVERIES_SQLITE
#undef HISTORY_DELIVERIES_POSTGRES
#undef HISTORY_BY_NAME
#undef DELIVERY_FIELDS
#undef KEEP_MESSAGE_IDENTITY

consteval bool inOrder() {
    for (std::size_t i = 0; i < std::size(kCatalogue); ++i)
        if (static_cast<std::size_t>(kCatalogue[i].id) != i)
            return false;
    return std::size(kCatalogue) == SqlCatalogue::size();
}
static_assert(inOrder(), "every statement once, in the order of Sql");

} // namespace

const CStatement& SqlCatalogue::statement(Sql id) {
    return kCatalogue[static_cast<std::size_t>(id)];
}
