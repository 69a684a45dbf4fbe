#include "data/CServerSchema.h"

#include "data/CPgConnection.h"

#include <cstdlib>
#include <iterator>

namespace {

struct Step {
    int version;
    // The oldest program version that may write once this step is in.
    int minWriter;
    const char* sql;
};

// Each step is run once, in order, inside the upgrade's transaction. A new
// step goes at the end; a step that has shipped is never changed.
constexpr Step kSteps[] = {
    {1, 1, R"sql(
-- The tables of the master file. Ids are handed out by the server; visit ids
-- also come from the terminals (see step 2).
CREATE TABLE t_schema (version integer NOT NULL, min_writer integer NOT NULL);
INSERT INTO t_schema VALUES (0, 0);
CREATE TABLE t_group (group_id serial PRIMARY KEY, group_name text, kengen text,
    delete_flg text, order_id integer);
CREATE TABLE t_user (user_id text PRIMARY KEY, user_name text, mail text, group_id integer,
    order_id integer);
-- mail_no keeps a user's addresses in the order they were added.
CREATE TABLE t_mail (mail_no bigserial PRIMARY KEY, user_id text, mail text,
    UNIQUE (user_id, mail));
CREATE TABLE t_login (login_id bigserial PRIMARY KEY, user_id text, login_date text,
    ret_send text, ret_send_date text);
CREATE TABLE t_mail_error (error_no bigserial PRIMARY KEY, login_id bigint, user_id text,
    mail text, error_date text, error_msg text);
CREATE TABLE t_send (send_id bigserial PRIMARY KEY, login_id bigint, mail text, user_name text,
    group_name text, state text, tries integer, next_try text, last_error text, sent_date text,
    UNIQUE (login_id, mail));
CREATE TABLE t_def_data (column_name text PRIMARY KEY, column_value text);
CREATE INDEX t_user_group ON t_user (group_id, order_id);
CREATE INDEX t_mail_error_date ON t_mail_error (error_date);
INSERT INTO t_group (group_id, group_name, kengen, delete_flg, order_id)
    VALUES (1, '管理者', 'M', '1', 1), (2, '一般', NULL, NULL, 2);
SELECT setval(pg_get_serial_sequence('t_group', 'group_id'), 2);
INSERT INTO t_def_data (column_name) VALUES ('mail_user'), ('mail_address'), ('mail_subject'),
    ('mail_server_ip'), ('mail_server_port'), ('mail_security'), ('mail_acount'),
    ('mail_password'), ('kido_type'), ('setting_disp'), ('window_top'), ('window_left');
)sql"},
    {2, 2, R"sql(
-- Several terminals: each has a number, which sets the range of the visit ids
-- it hands out, and a name stored with its visits. A delivery is claimed by
-- one terminal until a time on the server's clock. The roster's version
-- tells the terminals when to renew their copy.
CREATE TABLE t_terminal (terminal_id serial PRIMARY KEY, terminal_name text NOT NULL UNIQUE);
ALTER TABLE t_login ADD COLUMN terminal text;
ALTER TABLE t_send ADD COLUMN claimed_by integer, ADD COLUMN claim_until timestamptz;
CREATE TABLE t_roster_version (version bigint NOT NULL);
INSERT INTO t_roster_version VALUES (0);
CREATE FUNCTION poston_roster_changed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    UPDATE t_roster_version SET version = version + 1;
    RETURN NULL;
END $$;
CREATE TRIGGER t_group_roster AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON t_group
    FOR EACH STATEMENT EXECUTE FUNCTION poston_roster_changed();
CREATE TRIGGER t_user_roster AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON t_user
    FOR EACH STATEMENT EXECUTE FUNCTION poston_roster_changed();
CREATE TRIGGER t_mail_roster AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON t_mail
    FOR EACH STATEMENT EXECUTE FUNCTION poston_roster_changed();
CREATE TRIGGER t_def_data_roster AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON t_def_data
    FOR EACH STATEMENT EXECUTE FUNCTION poston_roster_changed();
)sql"},
    {3, 2, R"sql(
-- A pupil's visits, and the due deliveries, at a million visits.
CREATE INDEX t_login_user ON t_login (user_id, login_date);
CREATE INDEX t_send_due ON t_send (send_id) WHERE state = '1';
)sql"},
    {4, 2, R"sql(
-- A delivery keeps the Message-ID and Date of its first try, so that a
-- receiver can tell a repeat. Spellings of one address that differ in
-- letter case only are one mailbox: the first added stays.
ALTER TABLE t_send ADD COLUMN message_id text, ADD COLUMN message_date text;
DELETE FROM t_mail a USING t_mail b WHERE a.user_id = b.user_id AND lower(a.mail) = lower(b.mail)
    AND a.mail_no > b.mail_no;
ALTER TABLE t_mail DROP CONSTRAINT IF EXISTS t_mail_user_id_mail_key;
CREATE UNIQUE INDEX t_mail_user_mail ON t_mail (user_id, lower(mail));
INSERT INTO t_def_data (column_name) VALUES ('error_list_width'), ('error_list_height')
    ON CONFLICT DO NOTHING;
)sql"},
    {5, 5, R"sql(
-- Arrival and departure: every visit keeps its kind (those before were
-- visits, 来所), and one pupil's family can be left without notices. A
-- program that knows neither would mail such a family, so it may no longer
-- write. The terminals follow each other's latest visits by date.
ALTER TABLE t_login ADD COLUMN login_kind text NOT NULL DEFAULT '来所';
ALTER TABLE t_user ADD COLUMN notice_off text;
CREATE INDEX t_login_date ON t_login (login_date);
INSERT INTO t_def_data (column_name) VALUES ('notice_mode'), ('day_start_hour'),
    ('tap_guard_minutes'), ('mail_body'), ('mail_subject_in'), ('mail_body_in'),
    ('mail_subject_out'), ('mail_body_out') ON CONFLICT DO NOTHING;
)sql"},
    {6, 5, R"sql(
-- The office's daily summary (sent by one terminal a day) and the retention
-- limit of the visits.
INSERT INTO t_def_data (column_name) VALUES ('summary_time'), ('summary_skip_empty'),
    ('summary_sent_day'), ('retention_months'), ('retention_confirmed') ON CONFLICT DO NOTHING;
)sql"},
};
static_assert(std::size(kSteps) == CServerSchema::kVersion, "one step per version");

// Terminals may use a role with no rights but reading and writing rows: it
// is given them on every table a step makes, when it exists.
constexpr const char* kGrants = R"sql(
DO $$ BEGIN
    IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'poston_terminal') THEN
        GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO poston_terminal;
        GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA public TO poston_terminal;
    END IF;
END $$;
)sql";

// Taken by every upgrade, so that terminals starting together do not both run it.
constexpr const char* kUpgradeLock = "SELECT pg_advisory_xact_lock(4792300)";

bool readFound(CPgConnection& connection, CServerSchema::Found& found) {
    found = {};
    CString present;
    const IDbConnection::RowVisitor takePresent = [&present](CMapStringToString& row) {
        present = row.Value("present");
    };
    if (connection.runStatement("SELECT to_regclass('t_schema') IS NOT NULL as present", nullptr,
                                &takePresent) != 0)
        return false;
    if (present != "t")
        return true;
    const IDbConnection::RowVisitor take = [&found](CMapStringToString& row) {
        found.version = std::atoi(row.Value("version").c_str());
        found.minWriter = std::atoi(row.Value("min_writer").c_str());
    };
    return connection.runStatement("SELECT version, min_writer FROM t_schema", nullptr, &take) == 0;
}

CServerSchema::State failure(CPgConnection& connection, std::string& detail) {
    detail = connection.errorText();
    const bool noRights =
        connection.lastError() == DbError::NoRights || connection.sqlState() == "42501";
    connection.endBatch(false);
    return noRights ? CServerSchema::State::NoRights : CServerSchema::State::Failed;
}

} // namespace

bool CServerSchema::read(CPgConnection& connection, Found& found) {
    return readFound(connection, found);
}

CServerSchema::State CServerSchema::ensure(CPgConnection& connection, std::string& detail,
                                           int target) {
    detail.clear();
    if (connection.beginBatch() != 0) {
        detail = connection.errorText();
        return State::Failed;
    }
    Found found;
    if (connection.runScript(kUpgradeLock) != 0 || !readFound(connection, found))
        return failure(connection, detail);
    if (found.version >= target) {
        connection.endBatch(false);
        return mayWrite(found) ? State::Current : State::TooNew;
    }
    for (const Step& step : kSteps) {
        if (step.version <= found.version || step.version > target)
            continue;
        const std::string bump = "UPDATE t_schema SET version = " + std::to_string(step.version) +
                                 ", min_writer = GREATEST(min_writer, " +
                                 std::to_string(step.minWriter) + ")";
        if (connection.runScript(step.sql) != 0 || connection.runScript(bump) != 0)
            return failure(connection, detail);
    }
    if (connection.runScript(kGrants) != 0)
        return failure(connection, detail);
    if (connection.endBatch(true) != 0) {
        detail = connection.errorText();
        return State::Failed;
    }
    return found.version == 0 ? State::Created : State::Upgraded;
}
