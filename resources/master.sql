-- The master file: the eight tables with their fixed rows. Every data file
-- starts as a copy of it, and the program never creates or alters a table.
-- The build turns this script into data/master.mdb.

PRAGMA page_size = 4096;
PRAGMA user_version = 6;

BEGIN;

-- Ids never come back after a delete (AUTOINCREMENT): a mail error keeps
-- pointing at its own visit, and a deleted group's id is never reused.
CREATE TABLE t_group (
    group_id   INTEGER PRIMARY KEY AUTOINCREMENT,
    group_name TEXT,
    kengen     TEXT,
    delete_flg TEXT,
    order_id   INTEGER
);

CREATE TABLE t_user (
    user_id   TEXT PRIMARY KEY,
    user_name TEXT,
    mail      TEXT,
    group_id  INTEGER,
    order_id  INTEGER,
    notice_off TEXT
);

-- Addresses compare without regard to letter case (COLLATE NOCASE):
-- Taro@x.jp and taro@x.jp are one mailbox.
CREATE TABLE t_mail (
    user_id TEXT,
    mail    TEXT COLLATE NOCASE
);

-- login_kind: '来所' (a visit), '入室' (arrival) or '退室' (departure).
-- terminal: the name of the terminal that recorded the visit, when several
-- share a server (NULL on a terminal of its own). uploaded: '1' once the
-- visit is on the server, or handed on with the file's data; NULL while it
-- waits (and always on a terminal of its own).
CREATE TABLE t_login (
    login_id      INTEGER PRIMARY KEY AUTOINCREMENT,
    user_id       TEXT,
    login_date    TEXT,
    ret_send      TEXT,
    ret_send_date TEXT,
    terminal      TEXT,
    uploaded      TEXT,
    login_kind    TEXT NOT NULL DEFAULT '来所'
);

-- On a terminal of a server: each pupil's latest visit recorded by another
-- terminal, as the server last told, so that the double-tap guard and the
-- arrival/departure turn see every entrance without waiting on the network.
CREATE TABLE t_seen_visit (
    user_id    TEXT PRIMARY KEY,
    login_date TEXT,
    login_kind TEXT
);

CREATE TABLE t_mail_error (
    error_no   INTEGER PRIMARY KEY AUTOINCREMENT,
    login_id   INTEGER,
    user_id    TEXT,
    mail       TEXT,
    error_date TEXT,
    error_msg  TEXT
);

-- One notification of a visit to one address, fixed when the visit is
-- recorded: the address, name and group of that moment, so that a later
-- change of the user's addresses or card never redirects it.
-- state: '1' due, '2' sent, '3' not sent. A due delivery is taken up once
-- next_try has passed (empty: at once); claim_until marks it as being sent
-- by a terminal until that time. message_id and message_date (a stamp) are
-- fixed at the first try and carried by every later one, so that a receiver
-- can tell a repeat.
CREATE TABLE t_send (
    send_id      INTEGER PRIMARY KEY AUTOINCREMENT,
    login_id     INTEGER,
    mail         TEXT COLLATE NOCASE,
    user_name    TEXT,
    group_name   TEXT,
    state        TEXT,
    tries        INTEGER,
    next_try     TEXT,
    last_error   TEXT,
    sent_date    TEXT,
    claim_until  TEXT,
    message_id   TEXT,
    message_date TEXT
);

CREATE TABLE t_def_data (
    column_name  TEXT PRIMARY KEY,
    column_value TEXT
);

-- One address is stored once per user, whatever its letter case, so it never
-- receives the same notification twice; the index also serves the joins on
-- user_id.
CREATE UNIQUE INDEX t_mail_user_mail ON t_mail (user_id, mail);
-- The send thread's due visits: state '1', oldest first, answered from the
-- index alone.
CREATE INDEX t_login_send ON t_login (ret_send, login_date, user_id, ret_send_date);
-- The send thread's due deliveries, and each visit's deliveries (one per
-- address, which also keeps a resend from adding a second one).
CREATE INDEX t_send_due ON t_send (state, next_try);
CREATE UNIQUE INDEX t_send_login_mail ON t_send (login_id, mail);
-- A pupil's latest visit (the double-tap guard, arrival or departure).
CREATE INDEX t_login_user ON t_login (user_id, login_date);
-- The office's history of a day, newest first, and the retention limit.
CREATE INDEX t_login_date ON t_login (login_date);
-- The visits that wait to go up to the server.
CREATE INDEX t_login_outbox ON t_login (login_id) WHERE uploaded IS NULL;
-- The users of a group (lists, group deletion).
CREATE INDEX t_user_group ON t_user (group_id, order_id);
-- The mail error list, newest first.
CREATE INDEX t_mail_error_date ON t_mail_error (error_date);

-- Group 1 holds the administrators and cannot be deleted; group 2 is the
-- ordinary users' group.
INSERT INTO t_group (group_id, group_name, kengen, delete_flg, order_id)
    VALUES (1, '管理者', 'M', '1', 1);
INSERT INTO t_group (group_id, group_name, kengen, delete_flg, order_id)
    VALUES (2, '一般', NULL, NULL, 2);

-- One row per settings key, so that a migration carries every setting over.
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_user', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_address', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_subject', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_server_ip', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_server_port', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_security', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_acount', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_password', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('kido_type', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('setting_disp', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('window_top', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('window_left', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('error_list_width', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('error_list_height', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('notice_mode', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('day_start_hour', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('tap_guard_minutes', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_body', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_subject_in', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_body_in', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_subject_out', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('mail_body_out', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('summary_time', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('summary_skip_empty', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('summary_sent_day', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('retention_months', NULL);
INSERT INTO t_def_data (column_name, column_value) VALUES ('retention_confirmed', NULL);

COMMIT;
