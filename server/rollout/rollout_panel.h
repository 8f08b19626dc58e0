// The rollouts' section of the fleet page: each rollout's state, its current wave's progress
// and the operator's buttons, and a form that starts a rollout of a candidate.
#pragma once

#include <string>
#include <vector>

#include "server/rollout/rollouts.h"

namespace appserver::rollout {

// The section as HTML (UTF-8, in Portuguese), every text in it escaped: one card per rollout
// (file, version, state, current wave, a bar of the registers of the waves reached that
// installed, failed or are still waiting, the latest reasons) with the buttons its state
// allows (Interromper, Retomar, Avançar, Desfazer), and a form to start a rollout of one of
// candidates (archive names). Every form posts to "/fleet/rollouts..." with ?token= and
// carries form_token. Runs no script.
std::string RolloutPanelHtml(const std::vector<Rollout>& rollouts,
                             const std::vector<std::string>& candidates, const std::string& token,
                             const std::string& form_token);

}  // namespace appserver::rollout
