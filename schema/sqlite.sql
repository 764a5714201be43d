-- Gateway tables as DexWeb uses them, for the embedded SQLite database (velotrax.db).
-- Other modules own these tables and may add columns; DexWeb touches only these.
-- Declared types matter: BOOLEAN columns read back as flags, DATETIME ones as dates.

CREATE TABLE IF NOT EXISTS [settings] (
  [record_id]       INTEGER PRIMARY KEY,
  [dbversion]       INTEGER NOT NULL DEFAULT 1100,
  [log_to_disk]     BOOLEAN NOT NULL DEFAULT 1,
  [log_level]       INTEGER NOT NULL DEFAULT 3,
  [dexmail_enabled] BOOLEAN NOT NULL DEFAULT 0,
  [postmaster]      VARCHAR(255) NOT NULL DEFAULT '',
  [domain]          VARCHAR(255) NOT NULL DEFAULT '',
  [dexwebcgi_path]  VARCHAR(255) NOT NULL DEFAULT '',
  [retry_interval]  INTEGER NOT NULL DEFAULT 60,
  [dexweb_poll]     INTEGER NOT NULL DEFAULT 5
);

CREATE TABLE IF NOT EXISTS [control] (
  [record_id]     INTEGER PRIMARY KEY,
  [dexweb_pause]  BOOLEAN NOT NULL DEFAULT 0,
  [dexweb_run]    BOOLEAN NOT NULL DEFAULT 1,
  [dexweb_state]  BOOLEAN NOT NULL DEFAULT 0,
  [sched_state]   BOOLEAN NOT NULL DEFAULT 0,
  [velotrax_time] DATETIME
);

CREATE TABLE IF NOT EXISTS [counters] (
  [record_id] INTEGER PRIMARY KEY,
  [unique_id] INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE IF NOT EXISTS [users] (
  [record_id]     INTEGER PRIMARY KEY AUTOINCREMENT,
  [user]          VARCHAR(40) NOT NULL,
  [full_name]     VARCHAR(80),
  [ad_hoc]        BOOLEAN NOT NULL DEFAULT 0,
  [multi_page]    BOOLEAN NOT NULL DEFAULT 0,
  [web_service]   BOOLEAN NOT NULL DEFAULT 0,
  [group_list]    BOOLEAN NOT NULL DEFAULT 0,
  [display_group] BOOLEAN NOT NULL DEFAULT 0,
  [extra1]        VARCHAR(255),
  [extra2]        VARCHAR(255),
  [extra3]        VARCHAR(255),
  [extra4]        VARCHAR(255)
);

CREATE TABLE IF NOT EXISTS [messages] (
  [record_id]           INTEGER PRIMARY KEY AUTOINCREMENT,
  [user]                VARCHAR(40),
  [pin]                 VARCHAR(80),
  [message]             TEXT,
  [carrier]             VARCHAR(40),
  [date_time_requested] DATETIME,
  [date_time_sent]      DATETIME,
  [scheduled]           BOOLEAN NOT NULL DEFAULT 0,
  [sent]                BOOLEAN NOT NULL DEFAULT 0,
  [ascii_file]          VARCHAR(255),
  [mail_file]           VARCHAR(255),
  [frm]                 VARCHAR(255),
  [error]               BOOLEAN NOT NULL DEFAULT 0,
  [lock]                BOOLEAN NOT NULL DEFAULT 0,
  [surecast_index]      SMALLINT,
  [repeat_interval]     SMALLINT,
  [repeat_stop]         DATETIME,
  [station]             SMALLINT,
  [retries]             SMALLINT,
  [last_try]            DATETIME,
  [transaction]         INTEGER,
  [creator_name]        VARCHAR(40),
  [creator_machine]     VARCHAR(40),
  [original_recipient]  VARCHAR(128),
  [last_recipient]      VARCHAR(128),
  [server]              VARCHAR(40),
  [archived]            BOOLEAN NOT NULL DEFAULT 0,
  [priority]            SMALLINT,
  [dialer]              SMALLINT
);

CREATE TABLE IF NOT EXISTS [templates] (
  [record_id] INTEGER PRIMARY KEY AUTOINCREMENT,
  [type]      INTEGER NOT NULL,
  [name]      VARCHAR(40) NOT NULL,
  [settings]  TEXT,
  [subject]   TEXT,
  [body]      TEXT
);

-- DexWeb's own record of the web files it worked (by claim, or identity where worked in place),
-- and of what is done for each; pruned after
-- Worked_Files_Retention_Days; the module creates it when missing.
CREATE TABLE IF NOT EXISTS [worked_files] (
  [file_key]  VARCHAR(64) NOT NULL PRIMARY KEY,
  [name]      VARCHAR(255) NOT NULL,
  [refused]   BOOLEAN NOT NULL DEFAULT 0,
  [bad_copy]  VARCHAR(1024) NOT NULL DEFAULT '',
  [worked_by] VARCHAR(80) NOT NULL DEFAULT '',
  [worked_at] DATETIME NOT NULL,
  [rows]      INTEGER NOT NULL DEFAULT 0,
  [copy_made] BOOLEAN NOT NULL DEFAULT 0,
  [notified]  BOOLEAN NOT NULL DEFAULT 0
);
