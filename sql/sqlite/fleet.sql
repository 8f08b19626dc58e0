-- The fleet on SQLite, jov-appserver's default store: the last report of each register and
-- its last 100 reports. "received" is the server's clock in seconds since 1970 (UTC);
-- "report" is the register's report as ASCII JSON. jov-appserver runs this file at every
-- start, so each statement must leave an existing fleet as it is. Statements end with ";"
-- at a line end.
CREATE TABLE IF NOT EXISTS fleet_register (
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received INTEGER NOT NULL,
  report   TEXT NOT NULL,
  PRIMARY KEY (filial, caixa)
);
CREATE TABLE IF NOT EXISTS fleet_report (
  id       INTEGER PRIMARY KEY AUTOINCREMENT,
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received INTEGER NOT NULL,
  outcome  VARCHAR(16) NOT NULL,
  report   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS fleet_report_register ON fleet_report (filial, caixa, id);
CREATE INDEX IF NOT EXISTS fleet_report_failed ON fleet_report (outcome, received);
-- The key each register signs with, pinned at its first signed report or event (or loaded
-- from --fleet-keys), with the last counter taken under it. "accepted" is 0 until an operator
-- accepts a register first seen; "pending_key" is another key that signed for the register,
-- trusted only once accepted, with the highest counter it signed. "shown_verified" is 1 when
-- the register's report in fleet_register is a verified one.
CREATE TABLE IF NOT EXISTS fleet_key (
  filial          VARCHAR(32) NOT NULL,
  caixa           VARCHAR(32) NOT NULL,
  public_key      VARCHAR(64) NOT NULL,
  counter         INTEGER NOT NULL,
  accepted        INTEGER NOT NULL,
  pending_key     VARCHAR(64),
  pending_counter INTEGER,
  shown_verified  INTEGER NOT NULL,
  PRIMARY KEY (filial, caixa)
);
-- Reports that could not be verified, apart from the verified ones in fleet_report so that
-- they never push a register's real history out; the last 100 of each register.
CREATE TABLE IF NOT EXISTS fleet_unverified (
  id       INTEGER PRIMARY KEY AUTOINCREMENT,
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received INTEGER NOT NULL,
  outcome  VARCHAR(16) NOT NULL,
  report   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS fleet_unverified_register ON fleet_unverified (filial, caixa, id);
CREATE INDEX IF NOT EXISTS fleet_unverified_failed ON fleet_unverified (outcome, received);
-- Health events (a program that ended badly soon after its start), from "ReportHealth" or a
-- report's "health" list, verified or not; the last 100 of each register. "event" is the
-- event as ASCII JSON.
CREATE TABLE IF NOT EXISTS fleet_health (
  id       INTEGER PRIMARY KEY AUTOINCREMENT,
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received INTEGER NOT NULL,
  verified INTEGER NOT NULL,
  name     VARCHAR(255) NOT NULL,
  event    TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS fleet_health_register ON fleet_health (filial, caixa, id);
-- The programs of each register's report in fleet_register, one line "NAME=STAMP" each (the
-- name upper-cased, the first 14 digits of its stamp, by name): registers with the same
-- programs share the text, so that the page counts who is behind by the few texts there are
-- instead of every report.
CREATE TABLE IF NOT EXISTS fleet_files (
  filial VARCHAR(32) NOT NULL,
  caixa  VARCHAR(32) NOT NULL,
  files  TEXT NOT NULL,
  PRIMARY KEY (filial, caixa)
);
CREATE INDEX IF NOT EXISTS fleet_files_set ON fleet_files (files);
CREATE INDEX IF NOT EXISTS fleet_register_received ON fleet_register (received);
