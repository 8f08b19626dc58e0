// The rollouts' operator requests and answers as text: the start request (JSON or a page
// form), the action names, and the JSON of the rollouts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/rollout/rollouts.h"

namespace appserver::rollout {

inline constexpr std::size_t kMaxRequestBytes = 16 * 1024;

// The start request in body: a JSON object {"file", "waves": [...], "halt_at",
// "soak_minutes"}, or with form true a page form (application/x-www-form-urlencoded) whose
// "waves" field holds the waves separated by blanks. Nothing, with an English reason in why,
// for a body past kMaxRequestBytes or of another shape; the values' ranges are Start's
// to check.
std::optional<StartRequest> ReadStartRequest(const std::string& body, bool form, std::string& why);

// "halt", "resume", "advance", "undo"; nothing for any other text.
std::optional<Action> ActionOf(std::string_view name);

// {"file", "version", "state", "wave", "waves", "installed", "failed", "reasons"}.
std::string RolloutJson(const Rollout& rollout);
// {"rollouts": [...]}.
std::string RolloutsJson(const std::vector<Rollout>& rollouts);

}  // namespace appserver::rollout
