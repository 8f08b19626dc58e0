-- The rollouts on PostgreSQL: one row per program file (the newest rollout of it), the
-- outcome each register reported of its candidate, and when each register was last heard from
-- (by a verified report). Times are the server's clock in seconds since 1970 (UTC).
-- jov-appserver runs this file at every start, so each statement must leave existing rows as
-- they are. Statements end with ";" at a line end.
CREATE TABLE IF NOT EXISTS rollout (
  name         VARCHAR(255) PRIMARY KEY,
  file         VARCHAR(255) NOT NULL,
  version      BIGINT NOT NULL,
  state        VARCHAR(16) NOT NULL,
  waves        TEXT NOT NULL,
  wave         INTEGER NOT NULL,
  wave_started BIGINT NOT NULL,
  halt_at      DOUBLE PRECISION NOT NULL,
  soak_minutes INTEGER NOT NULL,
  started      BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS rollout_outcome (
  name     VARCHAR(255) NOT NULL,
  version  BIGINT NOT NULL,
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  outcome  VARCHAR(16) NOT NULL,
  reason   TEXT NOT NULL,
  reported BIGINT NOT NULL,
  PRIMARY KEY (name, version, filial, caixa)
);
CREATE TABLE IF NOT EXISTS rollout_seen (
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  seen     BIGINT NOT NULL,
  PRIMARY KEY (filial, caixa)
);
