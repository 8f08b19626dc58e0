-- The fleet on PostgreSQL, for a chain that runs several jov-appserver behind one address:
-- the last report of each register and its last 100 reports. "received" is the receiving
-- server's clock in seconds since 1970 (UTC); "report" is the register's report as ASCII
-- JSON. jov-appserver runs this file at every start, so each statement must leave an
-- existing fleet as it is. Statements end with ";" at a line end.
CREATE TABLE IF NOT EXISTS fleet_register (
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received BIGINT NOT NULL,
  report   TEXT NOT NULL,
  PRIMARY KEY (filial, caixa)
);
CREATE TABLE IF NOT EXISTS fleet_report (
  id       BIGSERIAL PRIMARY KEY,
  filial   VARCHAR(32) NOT NULL,
  caixa    VARCHAR(32) NOT NULL,
  received BIGINT NOT NULL,
  outcome  VARCHAR(16) NOT NULL,
  report   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS fleet_report_register ON fleet_report (filial, caixa, id);
CREATE INDEX IF NOT EXISTS fleet_report_failed ON fleet_report (outcome, received);
