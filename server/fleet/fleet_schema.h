// The fleet's tables, sql/sqlite/fleet.sql and sql/postgresql/fleet.sql, built in.
#pragma once

namespace appserver::fleet {

extern const char* const kSqliteSchema;
extern const char* const kPostgresqlSchema;

}  // namespace appserver::fleet
