// korvel_beads::native::error and request_error — the one way the module raises its own exception,
// BeadComposeError. Internal to the binding.
#pragma once

#include <optional>
#include <string_view>

namespace korvel_beads::native {

// Sets a pending BeadComposeError made from the arguments (code, message, stage), exactly as the
// Python call BeadComposeError(code, message, stage) would make it; an absent stage is None. The
// message is used unchanged.
void error(std::string_view code, std::optional<std::string_view> stage, std::string_view message);

// error with code BEADS_REQUEST_DESERIALIZATION_FAILED and stage "request": every Python value
// that the request constructor refuses.
void request_error(std::string_view message);

}  // namespace korvel_beads::native
