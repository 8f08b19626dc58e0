// The rollouts' tables, sql/sqlite/rollouts.sql and sql/postgresql/rollouts.sql, built in.
#pragma once

namespace appserver::rollout {

extern const char* const kSqliteSchema;
extern const char* const kPostgresqlSchema;

}  // namespace appserver::rollout
