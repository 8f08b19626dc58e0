// The health event as a JSON value, for the report that carries events. Internal to the
// protocol library.
#pragma once

#include <string>

#include "protocol/health.h"
#include "protocol/json_fields.h"

namespace jov::protocol::health_fields {

// The event's fields; its signer too when with_signer (an event sent alone, not one in a report).
json_fields::OrderedJson ToJson(const HealthEvent& event, bool with_signer);
// Adds the signer's "key" and "counter" to json when it is set.
void AddSigner(const Signer& signer, json_fields::OrderedJson& json);
// The signer of a parsed object: empty when it has neither "key" nor "counter"; nothing, with
// the reason in why, when only one of them is there or either is wrong.
std::optional<Signer> SignerOf(const json_fields::Json& in, std::string& why);
// The event of a parsed value; nothing, with the reason in why, when it is not one.
std::optional<HealthEvent> FromJson(const json_fields::Json& value, std::string& why);

}  // namespace jov::protocol::health_fields
