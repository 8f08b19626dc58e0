// The fleet's tables, sql/sqlite/fleet.sql and sql/postgresql/fleet.sql, built in.
#pragma once

#include <string>
#include <vector>

namespace appserver::fleet {

// The statements of a schema file, to run one at a time: each ends with ";" at a line end;
// "--" lines are comments.
std::vector<std::string> SchemaStatements(const std::string& schema);

extern const char* const kSqliteSchema;
extern const char* const kPostgresqlSchema;

}  // namespace appserver::fleet
