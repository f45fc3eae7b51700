// korvel_beads::execute_bead_request — the composition pipeline's entry point: checks a request
// completely, renders its formula atomically, then drives `bd` through the stages the operation
// asks for and returns the receipt of every stage that ran, or the error that ended the request.
#pragma once

#include <expected>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads/contract/error.hpp"
#include "korvel_beads/runner/process_runner.hpp"

namespace korvel_beads {

// Runs the request with the standard process runner. This is what the Python layer calls.
std::expected<BeadComposeReceipt, BeadComposeError> execute_bead_request(
    const BeadComposeRequest& request);

// Runs the request with any runner; only `runner.run` is used, once per `bd` stage, on this
// thread, one stage after another.
std::expected<BeadComposeReceipt, BeadComposeError> execute_bead_request_with_runner(
    const BeadComposeRequest& request, ProcessRunner& runner);

}  // namespace korvel_beads
