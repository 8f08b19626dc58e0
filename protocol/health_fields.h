// The health event as a JSON value, for the report that carries events. Internal to the
// protocol library.
#pragma once

#include <string>

#include "protocol/health.h"
#include "protocol/json_fields.h"

namespace jov::protocol::health_fields {

json_fields::OrderedJson ToJson(const HealthEvent& event);
// The event of a parsed value; nothing, with the reason in why, when it is not one.
std::optional<HealthEvent> FromJson(const json_fields::Json& value, std::string& why);

}  // namespace jov::protocol::health_fields
