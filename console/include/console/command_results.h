// What the hub commands make of a hub query, apart from any I/O, so that
// records no answering hub would produce can be judged as well.
#pragma once

#include <optional>
#include <string>

#include "hublink/hub_query.h"
#include "portstate/state_operand.h"

namespace console {

// One printed line and the exit status that goes with it.
struct CommandResult {
    std::string line;
    int status = 0;
};

// /G's output forms: on/off lists, binary text (-B), compact hex (-H).
enum class StateForm { Plain, Binary, Hex };

// The form named by /G's arguments: `option` in any case and nothing after
// it. nullopt for anything else.
std::optional<StateForm> stateFormOption(const std::string& option, const std::string& extra);

// /G's line for a finished hub query.
CommandResult portStatesResult(StateForm form, const hublink::QueryResult& query);

// /T's and /U's lines for a finished hub query.
CommandResult descriptionResult(const hublink::QueryResult& query);
CommandResult uidResult(const hublink::QueryResult& query);

// /S and /F: the state to send for `operand` (already upper-cased) to the
// hub described by `record`, or the text that refuses the operand.
portstate::StateUpdate stateToSend(const std::string& operand, const hublink::HubInfo& record);

}  // namespace console
