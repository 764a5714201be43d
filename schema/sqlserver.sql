-- Gateway tables as DexWeb uses them, for Microsoft SQL Server.
-- Other modules own these tables and may add columns; DexWeb touches only these.

IF OBJECT_ID(N'[settings]', N'U') IS NULL
CREATE TABLE [settings] (
  [record_id]       INT PRIMARY KEY,
  [dbversion]       INT NOT NULL DEFAULT 1100,
  [log_to_disk]     BIT NOT NULL DEFAULT 1,
  [log_level]       INT NOT NULL DEFAULT 3,
  [dexmail_enabled] BIT NOT NULL DEFAULT 0,
  [postmaster]      NVARCHAR(255) NOT NULL DEFAULT N'',
  [domain]          NVARCHAR(255) NOT NULL DEFAULT N'',
  [dexwebcgi_path]  NVARCHAR(255) NOT NULL DEFAULT N'',
  [retry_interval]  INT NOT NULL DEFAULT 60,
  [dexweb_poll]     INT NOT NULL DEFAULT 5
);
GO

IF OBJECT_ID(N'[control]', N'U') IS NULL
CREATE TABLE [control] (
  [record_id]     INT PRIMARY KEY,
  [dexweb_pause]  BIT NOT NULL DEFAULT 0,
  [dexweb_run]    BIT NOT NULL DEFAULT 1,
  [dexweb_state]  BIT NOT NULL DEFAULT 0,
  [sched_state]   BIT NOT NULL DEFAULT 0,
  [velotrax_time] DATETIME2(0)
);
GO

IF OBJECT_ID(N'[counters]', N'U') IS NULL
CREATE TABLE [counters] (
  [record_id] INT PRIMARY KEY,
  [unique_id] INT NOT NULL DEFAULT 0
);
GO

IF OBJECT_ID(N'[users]', N'U') IS NULL
CREATE TABLE [users] (
  [record_id]     INT IDENTITY(1,1) PRIMARY KEY,
  [user]          NVARCHAR(40) NOT NULL,
  [full_name]     NVARCHAR(80),
  [ad_hoc]        BIT NOT NULL DEFAULT 0,
  [multi_page]    BIT NOT NULL DEFAULT 0,
  [web_service]   BIT NOT NULL DEFAULT 0,
  [group_list]    BIT NOT NULL DEFAULT 0,
  [display_group] BIT NOT NULL DEFAULT 0,
  [extra1]        NVARCHAR(255),
  [extra2]        NVARCHAR(255),
  [extra3]        NVARCHAR(255),
  [extra4]        NVARCHAR(255)
);
GO

IF OBJECT_ID(N'[messages]', N'U') IS NULL
CREATE TABLE [messages] (
  [record_id]           INT IDENTITY(1,1) PRIMARY KEY,
  [user]                NVARCHAR(40),
  [pin]                 NVARCHAR(80),
  [message]             NVARCHAR(MAX),
  [carrier]             NVARCHAR(40),
  [date_time_requested] DATETIME2(0),
  [date_time_sent]      DATETIME2(0),
  [scheduled]           BIT NOT NULL DEFAULT 0,
  [sent]                BIT NOT NULL DEFAULT 0,
  [ascii_file]          NVARCHAR(255),
  [mail_file]           NVARCHAR(255),
  [frm]                 NVARCHAR(255),
  [error]               BIT NOT NULL DEFAULT 0,
  [lock]                BIT NOT NULL DEFAULT 0,
  [surecast_index]      SMALLINT,
  [repeat_interval]     SMALLINT,
  [repeat_stop]         DATETIME2(0),
  [station]             SMALLINT,
  [retries]             SMALLINT,
  [last_try]            DATETIME2(0),
  [transaction]         INT,
  [creator_name]        NVARCHAR(40),
  [creator_machine]     NVARCHAR(40),
  [original_recipient]  NVARCHAR(128),
  [last_recipient]      NVARCHAR(128),
  [server]              NVARCHAR(40),
  [archived]            BIT NOT NULL DEFAULT 0,
  [priority]            SMALLINT,
  [dialer]              SMALLINT
);
GO

IF OBJECT_ID(N'[templates]', N'U') IS NULL
CREATE TABLE [templates] (
  [record_id] INT IDENTITY(1,1) PRIMARY KEY,
  [type]      INT NOT NULL,
  [name]      NVARCHAR(40) NOT NULL,
  [settings]  NVARCHAR(MAX),
  [subject]   NVARCHAR(MAX),
  [body]      NVARCHAR(MAX)
);
GO

-- DexWeb's own record of the web files it worked (by claim, or identity where worked in place),
-- and of what is done for each; pruned after
-- Worked_Files_Retention_Days; the module creates it when missing and it may.
IF OBJECT_ID(N'[worked_files]', N'U') IS NULL
CREATE TABLE [worked_files] (
  [file_key]  NVARCHAR(64) NOT NULL PRIMARY KEY,
  [name]      NVARCHAR(255) NOT NULL,
  [refused]   BIT NOT NULL DEFAULT 0,
  [bad_copy]  NVARCHAR(1024) NOT NULL DEFAULT '',
  [worked_by] NVARCHAR(80) NOT NULL DEFAULT '',
  [worked_at] DATETIME2(0) NOT NULL,
  [rows]      INT NOT NULL DEFAULT 0,
  [copy_made] BIT NOT NULL DEFAULT 0,
  [notified]  BIT NOT NULL DEFAULT 0
);
GO
