-- Table CAIXA on SQLite, the register's embedded database: one row per branch and register
-- with the register's opening rules ("S" yes, "N" no). Statements end with ";" at a line end.
DROP TABLE IF EXISTS CAIXA;
CREATE TABLE CAIXA (
  CDFILIAL       VARCHAR(4) NOT NULL,
  CDCAIXA        VARCHAR(3) NOT NULL,
  IDAUTOIMPTAB   VARCHAR(1),
  IDUTILABERAUTO VARCHAR(1),
  IDPERACESSOTER VARCHAR(1),
  PRIMARY KEY (CDFILIAL, CDCAIXA)
);
-- A register opened by hand, and one that opens by itself once its tables are updated.
INSERT INTO CAIXA (CDFILIAL, CDCAIXA, IDAUTOIMPTAB, IDUTILABERAUTO, IDPERACESSOTER)
  VALUES ('0001', '001', 'N', 'N', 'N');
INSERT INTO CAIXA (CDFILIAL, CDCAIXA, IDAUTOIMPTAB, IDUTILABERAUTO, IDPERACESSOTER)
  VALUES ('0001', '002', 'S', 'S', 'S');
